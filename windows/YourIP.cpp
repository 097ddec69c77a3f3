#include "windows/YourIP.h"

#include "app/StoreKeys.h"
#include "windows/WindowPlacement.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>
#include <optional>

namespace {

// The first IPv4 address of an interface that is up, running and not the loopback one;
// none when the machine has no such interface.
std::optional<QString> LocalIP()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& candidate : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = candidate.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = candidate.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return std::nullopt;
}

// Wide enough to show `sample` in the box's own font, frame and margins included.
int boxWidthFor(const QLineEdit* box, const QString& sample)
{
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
    const QMargins margins = box->textMargins();
    // 4: the box's own margin on each side of the text, and room for the caret.
    const int text =
        box->fontMetrics().horizontalAdvance(sample) + margins.left() + margins.right() + 4 + 1;
    return box->style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(text, box->sizeHint().height()), box)
        .width();
}

} // namespace

YourIP::YourIP(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("YourIP"));
    setWindowTitle(QStringLiteral("Your IP is..."));
    buildControls();
    connect(returncmd, &QPushButton::clicked, this, &YourIP::ReturnCmd_Click);
    Form_Load();
}

void YourIP::buildControls()
{
    frm = new QGroupBox(QStringLiteral("IP"), this);
    frm->setObjectName(QStringLiteral("frm"));
    youripnumber = new QLineEdit(frm);
    youripnumber->setObjectName(QStringLiteral("youripnumber"));
    youripnumber->setReadOnly(true);
    youripnumber->setMinimumWidth(boxWidthFor(youripnumber, QStringLiteral("000.000.000.000")));
    returncmd = new QPushButton(QStringLiteral("Ok"), frm);
    returncmd->setObjectName(QStringLiteral("returncmd"));
    // Enter closes the window wherever the focus is.
    returncmd->setDefault(true);

    auto* row = new QHBoxLayout(frm);
    row->addWidget(youripnumber, 1);
    row->addWidget(returncmd);

    auto* window = new QVBoxLayout(this);
    window->addWidget(frm);
    window->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(youripnumber, returncmd);
    // Ready to be copied as soon as the window opens.
    youripnumber->setFocus();
}

void YourIP::Form_Load()
{
    layout()->activate();
    RestoreWindowPosition(this, WindowPrefix::YourIP);
    youripnumber->setText(LocalIP().value_or(QStringLiteral("127.0.0.1")));
    youripnumber->selectAll();
    loaded = true;
}

void YourIP::Form_Unload()
{
    StoreWindowPosition(this, WindowPrefix::YourIP);
    loaded = false;
}

void YourIP::showEvent(QShowEvent* event)
{
    // Shown again after closing: a new opening reads the address and the place afresh.
    if (!event->spontaneous() && !loaded)
        Form_Load();
    QDialog::showEvent(event);
}

void YourIP::done(int result)
{
    if (loaded)
        Form_Unload();
    QDialog::done(result);
}

void YourIP::ReturnCmd_Click()
{
    accept();
}
