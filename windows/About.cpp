#include "windows/About.h"

#include "app/BuildInfo.h"
#include "app/StoreKeys.h"
#include "platform/ShellExtension.h"
#include "windows/WindowPlacement.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

namespace {

const QString Credits =
    QStringLiteral("Written and kept up by the Quorvane developers.\n"
                   "Built with the Qt toolkit.\n"
                   "Thanks to everyone who tried the early versions and told us what went wrong.");

const QString Statement = QStringLiteral(
    "Quorvane sends short text messages from one computer to another on your network. "
    "A message goes straight to the other machine: there is no server in between. "
    "Messages are kept only on the receiving computer, in the message receiver's history "
    "file, for as long as its retention setting says.\n\n"
    "Keep the people you write to in the user list, each with the address and port of "
    "their computer. Your own name and reply port travel with every message, so that the "
    "person you write to can answer you; set them under Identification.\n\n"
    "Messages sent to you are shown by a message receiver listening on your reply port. "
    "When you answer one from there, Quorvane comes forward with the sender chosen and "
    "ready for your reply.");

// An envelope leaving on an arrow, drawn at `size` for a screen of `ratio` device pixels
// per pixel.
QPixmap programPicture(const QSize& size, qreal ratio)
{
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width();
    const qreal h = size.height();

    const QRectF envelope(w * 0.04, h * 0.12, w * 0.58, h * 0.76);
    painter.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), qMax(1.0, h / 16)));
    painter.setBrush(QColor(0xe8, 0xf0, 0xfb));
    painter.drawRoundedRect(envelope, h * 0.08, h * 0.08);
    QPainterPath flap;
    flap.moveTo(envelope.topLeft());
    flap.lineTo(envelope.center().x(), envelope.top() + envelope.height() * 0.55);
    flap.lineTo(envelope.topRight());
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(flap);

    QPainterPath arrow;
    const qreal mid = h * 0.5;
    arrow.moveTo(w * 0.66, mid - h * 0.1);
    arrow.lineTo(w * 0.80, mid - h * 0.1);
    arrow.lineTo(w * 0.80, mid - h * 0.26);
    arrow.lineTo(w * 0.97, mid);
    arrow.lineTo(w * 0.80, mid + h * 0.26);
    arrow.lineTo(w * 0.80, mid + h * 0.1);
    arrow.lineTo(w * 0.66, mid + h * 0.1);
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xe0, 0x7a, 0x1f));
    painter.drawPath(arrow);
    return picture;
}

// A read-only box that looks like a link: blue, underlined, on the window's colour.
void drawAsLink(QLineEdit* box)
{
    box->setReadOnly(true);
    box->setFrame(false);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    palette.setColor(QPalette::Text, Qt::blue);
    box->setPalette(palette);
    QFont font = box->font();
    font.setUnderline(true);
    box->setFont(font);
    box->setCursor(Qt::PointingHandCursor);
}

} // namespace

MakerAddresses ConfiguredMaker()
{
    return {QString::fromUtf8(BuildInfo::Homepage), QString::fromUtf8(BuildInfo::MailAddress)};
}

VersionInfo ProgramVersion()
{
    return {QStringLiteral("Quorvane"), BuildInfo::VersionMajor, BuildInfo::VersionMinor,
            BuildInfo::VersionPatch};
}

QString VersionText(const VersionInfo& version)
{
    QString text =
        QString::number(version.major) + QLatin1Char('.') + QString::number(version.minor);
    if (version.revision != 0)
        text += QString::number(version.revision);
    return text;
}

About::About(QWidget* parent, const VersionInfo& programVersion, const MakerAddresses& addresses)
    : FormDialog(parent), version(programVersion), maker(addresses)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("Credits"));
    buildControls();
    connect(ReturnCmd, &QPushButton::clicked, this, &About::ReturnCmd_Click);
    load();
}

void About::buildControls()
{
    lbl[1] = new QLabel(this);
    lbl[1]->setObjectName(QStringLiteral("lbl1"));
    QFont nameFont = lbl[1]->font();
    nameFont.setBold(true);
    lbl[1]->setFont(nameFont);
    appversion = new QLabel(this);
    appversion->setObjectName(QStringLiteral("appversion"));

    ImageProg = new QLabel(this);
    ImageProg->setObjectName(QStringLiteral("ImageProg"));
    const QSize pictureSize(TwipsToPixels(this, 765), TwipsToPixels(this, 375));
    ImageProg->setPixmap(programPicture(pictureSize, devicePixelRatioF()));

    programmerbox = new QLabel(Credits, this);
    programmerbox->setObjectName(QStringLiteral("programmerbox"));
    programmerbox->setWordWrap(true);
    commentbox = new QLabel(Statement, this);
    commentbox->setObjectName(QStringLiteral("commentbox"));
    commentbox->setWordWrap(true);
    // About as wide as the window is meant to be, in the label's own font, so the text
    // wraps into a readable column.
    commentbox->setMinimumWidth(commentbox->fontMetrics().averageCharWidth() * 64);

    website = new QLineEdit(this);
    website->setObjectName(QStringLiteral("website"));
    email = new QLineEdit(this);
    email->setObjectName(QStringLiteral("email"));
    for (QLineEdit* link : {website, email}) {
        drawAsLink(link);
        link->installEventFilter(this);
    }
    // Nothing labels the two links on screen.
    website->setAccessibleName(QStringLiteral("Web page"));
    email->setAccessibleName(QStringLiteral("Mail address"));
    website->setMinimumWidth(BoxWidthFor(website, maker.webPage));
    email->setMinimumWidth(BoxWidthFor(email, maker.mailAddress));
    // No address, nothing to open: a box would only show an empty link.
    website->setHidden(maker.webPage.isEmpty());
    email->setHidden(maker.mailAddress.isEmpty());

    ReturnCmd = new QPushButton(QStringLiteral("Ok"), this);
    ReturnCmd->setObjectName(QStringLiteral("ReturnCmd"));
    ReturnCmd->setDefault(true);

    auto* links = new QVBoxLayout;
    links->addWidget(website);
    links->addWidget(email);

    auto* grid = new QGridLayout(this);
    grid->addWidget(lbl[1], 0, 0);
    grid->addWidget(appversion, 0, 1);
    grid->addWidget(ImageProg, 0, 3, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(programmerbox, 1, 0, 1, 4);
    grid->addWidget(commentbox, 2, 0, 1, 4);
    grid->addLayout(links, 3, 0, 1, 3);
    grid->addWidget(ReturnCmd, 3, 3, Qt::AlignRight | Qt::AlignBottom);
    grid->setColumnStretch(2, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(ReturnCmd, website);
    setTabOrder(website, email);
    ReturnCmd->setFocus();
}

void About::Form_Load()
{
    email->setText(maker.mailAddress);
    website->setText(maker.webPage);
    // Show the start of each address, not wherever setting the text left the caret.
    email->setCursorPosition(0);
    website->setCursorPosition(0);
    lbl[1]->setText(version.productName);
    appversion->setText(VersionText(version));
    layout()->activate();
    RestoreWindowPosition(this, WindowPrefix::About);
}

void About::Form_Unload()
{
    StoreWindowPosition(this, WindowPrefix::About);
}

bool About::eventFilter(QObject* watched, QEvent* event)
{
    // A click: the left button released over the box it was pressed on (the box holds
    // the mouse from the press on).
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<const QMouseEvent*>(event);
        auto* box = qobject_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && box &&
            box->rect().contains(mouse->position().toPoint())) {
            if (watched == email)
                email_Click();
            else if (watched == website)
                website_Click();
        }
    }
    return QDialog::eventFilter(watched, event);
}

// The configured addresses, not the boxes' text; whether the desktop managed to open them
// shows nowhere.
void About::email_Click()
{
    ShellOpen(QStringLiteral("mailto:") + maker.mailAddress, windowHandle());
}

void About::website_Click()
{
    ShellOpen(maker.webPage, windowHandle());
}

void About::ReturnCmd_Click()
{
    accept();
}
