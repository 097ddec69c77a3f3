#include "receiver/ReceiverWindow.h"

#include "app/Conversions.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/Validation.h"
#include "messaging/ReceiveString.h"
#include "receiver/ReplyRequester.h"
#include "windows/MessageBox.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString Caption = QStringLiteral("Received Messages");
const QString ReplyTitle = QStringLiteral("Reply");
const QString Malformed = QStringLiteral("malformed");
constexpr std::int32_t DefaultReplyPort = 505;
constexpr int SummaryLength = 200;
constexpr int EntryRole = Qt::UserRole;

// An IPv4 sender reaches the dual-stack socket as ::ffff:a.b.c.d; show it as a.b.c.d.
QString addressText(const QHostAddress& address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
}

QString firstLine(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0).left(SummaryLength);
}

// Quorvane drops an unusable reply request without a word, so the receiver checks with
// the same rules first and says what is wrong. Empty when the block can go.
QString replyProblem(const MessageRecord& record, const QHostAddress& peer, QByteArray& block)
{
    QString ip;
    if (!IsValidIp(addressText(peer), ip))
        return QStringLiteral("Quorvane can only reply to IPv4 addresses, and this message came "
                              "from %1.")
            .arg(addressText(peer));
    std::int32_t port = 0;
    if (!IsValidPort(record.port, port))
        return QStringLiteral("The sender gave no usable reply port (\"%1\"), so Quorvane could "
                              "not answer.")
            .arg(record.port);
    QString trimmed;
    if (!record.name.isEmpty() && !IsValidUserName(record.name, trimmed))
        return QStringLiteral("Quorvane cannot take the sender's name into its list: a name has "
                              "1 to %1 characters besides spaces around it.")
            .arg(Global::MaxUserNameLength);
    block = ReplyRequestBlock(record.name, ip, IntegerText(port));
    if (block.size() >= CopyDataBufferSize)
        return QStringLiteral("The sender's name is too long for a reply request (Quorvane reads "
                              "at most %1 bytes).")
            .arg(CopyDataBufferSize - 1);
    return QString();
}

QString listenProblem(const MessageServer& server, std::int32_t port)
{
    QString reason;
    if (server.error() == QAbstractSocket::SocketAccessError && port < 1024)
        reason = QStringLiteral("ports below 1024 need administrator rights on this system");
    else if (server.error() == QAbstractSocket::AddressInUseError)
        reason = QStringLiteral("another program is already using it");
    else
        reason = QStringLiteral("the system refused it");
    return QStringLiteral("Cannot receive messages on port %1: %2 (%3). Choose another reply "
                          "port below.")
        .arg(port)
        .arg(reason, server.errorString());
}

} // namespace

ReceiverWindow::ReceiverWindow(QWidget* parent)
    : QMainWindow(parent), messages(new MessageServer(this)), replies(new ReplyRequester(this))
{
    setObjectName(QStringLiteral("ReceiverWindow"));
    setWindowTitle(Caption);
    buildControls();

    connect(messages, &MessageServer::recordReceived, this, &ReceiverWindow::addMessage);
    connect(replies, &ReplyRequester::finished, this, &ReceiverWindow::replyFinished);
    connect(messageList, &QTreeWidget::itemSelectionChanged, this, &ReceiverWindow::showSelected);
    connect(messageList, &QTreeWidget::itemActivated, this, &ReceiverWindow::replyToSelected);
    connect(replyButton, &QPushButton::clicked, this, &ReceiverWindow::replyToSelected);
    connect(changePort, &QPushButton::clicked, this, &ReceiverWindow::changeReplyPort);
    connect(newPort, &QLineEdit::returnPressed, this, &ReceiverWindow::changeReplyPort);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation), this);
        tray->setToolTip(Caption);
        connect(tray, &QSystemTrayIcon::activated, this, &ReceiverWindow::comeForward);
        connect(tray, &QSystemTrayIcon::messageClicked, this, &ReceiverWindow::comeForward);
        tray->show();
    }
    showSelected();
    messageList->setFocus();
}

ReceiverWindow::~ReceiverWindow() = default;

void ReceiverWindow::buildControls()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    status = new QLabel(central);
    status->setObjectName(QStringLiteral("status"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* portRow = new QWidget(central);
    auto* portLayout = new QHBoxLayout(portRow);
    portLayout->setContentsMargins(0, 0, 0, 0);
    newPort = new QLineEdit(portRow);
    newPort->setObjectName(QStringLiteral("newPort"));
    changePort = new QPushButton(QStringLiteral("Change reply port"), portRow);
    changePort->setObjectName(QStringLiteral("changePort"));
    auto* portLabel = new QLabel(QStringLiteral("Reply &port:"), portRow);
    portLabel->setBuddy(newPort);
    portLayout->addWidget(portLabel);
    portLayout->addWidget(newPort, 1);
    portLayout->addWidget(changePort);

    messageList = new QTreeWidget(central);
    messageList->setObjectName(QStringLiteral("messageList"));
    messageList->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Name"),
                                  QStringLiteral("Address"), QStringLiteral("Text")});
    messageList->setRootIsDecorated(false);
    messageList->setUniformRowHeights(true);
    messageList->setSelectionMode(QAbstractItemView::SingleSelection);
    messageList->header()->setSectionResizeMode(TimeColumn, QHeaderView::ResizeToContents);

    auto* fields = new QFormLayout;
    auto addField = [&](QLineEdit*& field, const char* name, const QString& caption) {
        field = new QLineEdit(central);
        field->setObjectName(QLatin1String(name));
        field->setReadOnly(true);
        field->setFrame(false);
        field->setFocusPolicy(Qt::ClickFocus);
        field->setMaxLength(static_cast<int>(MessageServer::MaxRecordBytes));
        QPalette palette = field->palette();
        palette.setBrush(QPalette::Base, palette.brush(QPalette::Window));
        field->setPalette(palette);
        fields->addRow(caption, field);
    };
    addField(receivedAt, "receivedAt", QStringLiteral("Received:"));
    addField(fromName, "fromName", QStringLiteral("From:"));
    addField(fromAddress, "fromAddress", QStringLiteral("Address:"));
    addField(fromPort, "fromPort", QStringLiteral("Reply port:"));
    remarks = new QLabel(central);
    remarks->setObjectName(QStringLiteral("remarks"));
    remarks->setWordWrap(true);
    remarks->setTextFormat(Qt::PlainText);
    messageText = new QPlainTextEdit(central);
    messageText->setObjectName(QStringLiteral("messageText"));
    messageText->setReadOnly(true);

    replyButton = new QPushButton(QStringLiteral("&Reply"), central);
    replyButton->setObjectName(QStringLiteral("replyButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(replyButton);

    layout->addWidget(status);
    layout->addWidget(portRow);
    // One layout from top to bottom, so that folded remarks always get their height.
    layout->addWidget(messageList, 1);
    layout->addLayout(fields);
    layout->addWidget(remarks);
    layout->addWidget(messageText, 1);
    layout->addLayout(buttons);
    setCentralWidget(central);
    statusBar();
    resize(sizeHint().expandedTo(QSize(640, 480)));
}

bool ReceiverWindow::startListening()
{
    const SettingsStore store(StoreKeys::Application);
    const QString text = store.GetSetting(StoreKeys::IdentificationSection, StoreKeys::MyPortnb,
                                          IntegerText(DefaultReplyPort));
    // Unreadable text falls back to the default, as Quorvane reads it.
    return listenOn(TextToInteger(text).value_or(DefaultReplyPort));
}

bool ReceiverWindow::listenOn(std::int32_t port)
{
    newPort->setText(IntegerText(port));
    // A port that fails is the one to change.
    auto offerChange = [this] {
        newPort->setFocus();
        newPort->selectAll();
    };
    if (port < 1 || port > 65535) {
        messages->close();
        status->setText(QStringLiteral("Cannot receive messages: the reply port %1 in the "
                                       "settings is not a port from 1 to 65535. Choose another "
                                       "reply port below.")
                            .arg(port));
        offerChange();
        return false;
    }
    if (!messages->listen(static_cast<quint16>(port))) {
        status->setText(listenProblem(*messages, port));
        offerChange();
        return false;
    }
    status->setText(
        QStringLiteral("Receiving messages on port %1 (IPv4 and IPv6).").arg(messages->port()));
    return true;
}

void ReceiverWindow::changeReplyPort()
{
    std::int32_t port = 0;
    if (!IsValidPort(newPort->text(), port) || port < 1) {
        status->setText(QStringLiteral("\"%1\" is not a port from 1 to 65535. Choose another "
                                       "reply port below.")
                            .arg(newPort->text()));
        newPort->setFocus();
        newPort->selectAll();
        return;
    }
    {
        SettingsStore store(StoreKeys::Application);
        store.SaveSetting(StoreKeys::IdentificationSection, StoreKeys::MyPortnb, IntegerText(port));
    }
    if (listenOn(port))
        status->setText(status->text() +
                        QStringLiteral(" The reply port is now %1. Restart Quorvane so that your "
                                       "messages carry it, and give it to correspondents who "
                                       "already have you in their list.")
                            .arg(port));
}

void ReceiverWindow::addMessage(const IncomingRecord& incoming)
{
    const QTreeWidgetItem* previousNewest = messageList->topLevelItem(0);
    const bool followNewest = messageList->selectedItems().isEmpty() ||
                              messageList->selectedItems().first() == previousNewest;

    const qint64 number = nextEntry++;
    const Entry& entry =
        entries.emplace(number, Entry{incoming, ParseMessageRecord(incoming.bytes)}).first->second;
    auto* item = new QTreeWidgetItem;
    item->setData(0, EntryRole, number);
    item->setText(TimeColumn, incoming.received.toString(QStringLiteral("HH:mm:ss")));
    item->setText(AddressColumn, addressText(incoming.peer));
    if (entry.record) {
        item->setText(NameColumn, entry.record->name);
        item->setText(TextColumn, firstLine(entry.record->text));
    } else {
        item->setText(NameColumn, Malformed);
        QFont italic = item->font(NameColumn);
        italic.setItalic(true);
        item->setFont(NameColumn, italic);
        item->setText(TextColumn, EscapedBytes(QByteArrayView(incoming.bytes)
                                                   .first(std::min<qsizetype>(incoming.bytes.size(),
                                                                              SummaryLength))));
    }
    // The list marks what the detail explains.
    if (incoming.cut || incoming.timedOut)
        item->setText(TextColumn,
                      (incoming.cut ? QStringLiteral("(cut) ") : QStringLiteral("(incomplete) ")) +
                          item->text(TextColumn));
    item->setToolTip(TextColumn, remarksFor(entry));
    messageList->insertTopLevelItem(0, item);
    if (followNewest)
        messageList->setCurrentItem(item);
    while (static_cast<int>(entries.size()) > maxKept) {
        // The oldest message is the last row.
        delete messageList->takeTopLevelItem(messageList->topLevelItemCount() - 1);
        entries.erase(entries.begin());
    }

    if (tray) {
        tray->showMessage(QStringLiteral("Message from %1").arg(item->text(NameColumn)),
                          item->text(TextColumn));
        QApplication::alert(this);
    } else {
        comeForward();
    }
}

QString ReceiverWindow::remarksFor(const Entry& entry) const
{
    QStringList notes;
    if (!entry.record)
        notes << QStringLiteral("Malformed: fewer than two NUL bytes; the bytes are shown as "
                                "they came.");
    if (entry.incoming.cut)
        notes << QStringLiteral("Cut at %1 bytes: the sender sent more.")
                     .arg(MessageServer::MaxRecordBytes);
    if (entry.incoming.timedOut)
        notes << QStringLiteral("Incomplete: closed after %1 s without data.")
                     .arg(messages->idleTimeoutMs() / 1000.0);
    return notes.join(QLatin1Char(' '));
}

const ReceiverWindow::Entry* ReceiverWindow::selectedEntry() const
{
    const QTreeWidgetItem* item = messageList->selectedItems().value(0);
    if (!item)
        return nullptr;
    const auto found = entries.find(item->data(0, EntryRole).toLongLong());
    return found == entries.end() ? nullptr : &found->second;
}

void ReceiverWindow::showSelected()
{
    const Entry* entry = selectedEntry();
    replyButton->setEnabled(entry && entry->record);
    if (!entry) {
        for (QLineEdit* field : {receivedAt, fromName, fromAddress, fromPort})
            field->clear();
        remarks->clear();
        remarks->hide();
        messageText->clear();
        return;
    }
    // Long values are read from their start.
    auto fill = [](QLineEdit* field, const QString& text) {
        field->setText(text);
        field->setCursorPosition(0);
    };
    fill(receivedAt, entry->incoming.received.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    fill(fromAddress, addressText(entry->incoming.peer));
    fill(fromName, entry->record ? entry->record->name : Malformed);
    fill(fromPort, entry->record ? entry->record->port : QString());
    messageText->setPlainText(entry->record ? entry->record->text
                                            : EscapedBytes(entry->incoming.bytes));
    remarks->setText(remarksFor(*entry));
    remarks->setVisible(!remarks->text().isEmpty());
}

void ReceiverWindow::replyToSelected()
{
    const Entry* entry = selectedEntry();
    if (!entry || !entry->record)
        return;
    QByteArray block;
    const QString problem = replyProblem(*entry->record, entry->incoming.peer, block);
    if (!problem.isEmpty()) {
        ShowMessage(this, problem, ReplyTitle);
        return;
    }
    statusBar()->showMessage(
        QStringLiteral("Handing the reply to %1 over to Quorvane...").arg(entry->record->name));
    replies->send(block);
}

void ReceiverWindow::replyFinished(const QString& problem)
{
    if (problem.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Quorvane has the reply request."), 10000);
        return;
    }
    statusBar()->clearMessage();
    ShowMessage(this, problem, ReplyTitle);
}

void ReceiverWindow::comeForward()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}
