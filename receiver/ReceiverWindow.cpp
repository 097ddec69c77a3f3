#include "receiver/ReceiverWindow.h"

#include "app/Conversions.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/Validation.h"
#include "history/History.h"
#include "messaging/MessageRecord.h"
#include "platform/NetworkAnnouncement.h"
#include "platform/WindowActivation.h"
#include "receiver/Autostart.h"
#include "receiver/Notifier.h"
#include "receiver/ReplyProblem.h"
#include "receiver/ReplyRequester.h"
#include "receiver/Retention.h"
#include "windows/DialogSupport.h"
#include "windows/MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString Caption = QStringLiteral("Received Messages");
const QString ReplyTitle = QStringLiteral("Reply");
constexpr qint64 ShowInterval = 40;       // ms
constexpr int ConversationInterval = 200; // ms
constexpr int MaxConversations = 1000;

// An IPv4 sender reaches the dual-stack socket as ::ffff:a.b.c.d; show it as a.b.c.d.
QString addressText(const QHostAddress& address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
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

QString messageCount(qint64 count)
{
    return count == 1 ? QStringLiteral("1 message") : QStringLiteral("%1 messages").arg(count);
}

// One line on what keeps messages from being stored; empty while nothing does.
QString historyState(const History& history)
{
    const QString file = QDir::toNativeSeparators(history.path());
    QStringList parts;
    if (!history.note().isEmpty())
        parts << history.note();
    if (!history.problem().isEmpty())
        parts << (history.waiting() > 0
                      ? QStringLiteral("%1 %2 to be stored in %3: %4. They are kept in memory "
                                       "and stored as soon as that works again.")
                            .arg(messageCount(history.waiting()),
                                 history.waiting() == 1 ? QStringLiteral("waits")
                                                        : QStringLiteral("wait"),
                                 file, history.problem())
                      : QStringLiteral("The message history %1 cannot be used now: %2. Messages "
                                       "that arrive are kept in memory and stored as soon as it "
                                       "can be used.")
                            .arg(file, history.problem()));
    if (history.lost() > 0)
        parts << QStringLiteral("%1 could not be stored and %2 lost.")
                     .arg(messageCount(history.lost()),
                          history.lost() == 1 ? QStringLiteral("is") : QStringLiteral("are"));
    return parts.join(QLatin1Char(' '));
}

} // namespace

ReceiverWindow::ReceiverWindow(QWidget* parent)
    : QMainWindow(parent), messages(new MessageServer(this)), replies(new ReplyRequester(this)),
      store(new History(this)), notifier(new Notifier(this)),
      messageModel(new MessageModel(maxKept, this)), conversationModel(new ConversationModel(this)),
      conversationTimer(new QTimer(this)), showTimer(new QTimer(this))
{
    showTimer->setSingleShot(true);
    conversationTimer->setSingleShot(true);
    conversationTimer->setInterval(ConversationInterval);
    connect(conversationTimer, &QTimer::timeout, this, &ReceiverWindow::refreshConversations);
    connect(showTimer, &QTimer::timeout, this, &ReceiverWindow::showWaiting);
    setObjectName(QStringLiteral("ReceiverWindow"));
    setWindowTitle(Caption);
    buildControls();

    const int days = Retention::StoredDays();
    if (keepDays->findData(days) < 0)
        keepDays->addItem(Retention::DaysText(days), days);
    keepDays->setCurrentIndex(keepDays->findData(days));
    connect(store, &History::ready, this, &ReceiverWindow::showStored);
    connect(store, &History::changed, this, &ReceiverWindow::showHistoryState);
    connect(store, &History::found, this, &ReceiverWindow::listFound);
    connect(store, &History::saved, this, &ReceiverWindow::messagesSaved);
    connect(store, &History::removed, this, &ReceiverWindow::messagesRemoved);
    connect(store, &History::reopened, this, [this] {
        refreshList(selectedId(), 0);
        refreshConversations();
    });
    connect(store, &History::changedElsewhere, this, [this] { refreshList(selectedId(), 0); });
    connect(store, &History::conversationsChanged, this, [this] {
        if (!conversationTimer->isActive())
            conversationTimer->start();
    });
    connect(store, &History::conversationsFound, this, &ReceiverWindow::conversationsFound);
    SetStoreSavedHandler([this] {
        if (changedPort != 0)
            showPortChange();
    });
    store->open(History::defaultPath(), days);
    showHistoryState();
    refreshList(0, 0);
    refreshConversations();

    connect(messages, &MessageServer::recordReceived, this, &ReceiverWindow::addMessage);
    connect(notifier, &Notifier::clicked, this, &ReceiverWindow::showMessage);
    connect(notifier, &Notifier::unavailable, this, &ReceiverWindow::announce);
    connect(replies, &ReplyRequester::finished, this, &ReceiverWindow::replyFinished);
    connect(messageList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ReceiverWindow::showSelected);
    connect(messageList, &QTableView::activated, this, &ReceiverWindow::replyToSelected);
    connect(replyButton, &QPushButton::clicked, this, &ReceiverWindow::replyToSelected);
    connect(deleteButton, &QPushButton::clicked, this, &ReceiverWindow::deleteSelected);
    connect(new QShortcut(QKeySequence::Delete, messageList, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, &ReceiverWindow::deleteSelected);
    connect(search, &QLineEdit::textChanged, this, &ReceiverWindow::applySearch);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        search->setFocus(Qt::ShortcutFocusReason);
        search->selectAll();
    });
    connect(conversationList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ReceiverWindow::openConversation);
    // Enter on a conversation replies to it: opening one selects its newest message.
    connect(conversationList, &QListView::activated, this, &ReceiverWindow::replyToSelected);
    connect(changePort, &QPushButton::clicked, this, &ReceiverWindow::changeReplyPort);
    connect(newPort, &QLineEdit::returnPressed, this, &ReceiverWindow::changeReplyPort);
    connect(startAtLogin, &QCheckBox::toggled, this, &ReceiverWindow::setStartAtLogin);
    connect(keepDays, &QComboBox::activated, this,
            [this] { Retention::SaveDays(keepDays->currentData().toInt()); });
    announcement = new NetworkAnnouncement(this);
    storeWatcher = new QFileSystemWatcher(this);
    connect(announceMe, &QCheckBox::toggled, this, &ReceiverWindow::setAnnounce);
    // Quorvane's Identification window may give the user another name.
    connect(storeWatcher, &QFileSystemWatcher::directoryChanged, this,
            &ReceiverWindow::announceIfWanted);
    connect(storeWatcher, &QFileSystemWatcher::fileChanged, this,
            &ReceiverWindow::announceIfWanted);
    connect(announcement, &NetworkAnnouncement::announced, this,
            [this](const QString& instance, quint16 on) {
                announceStatus->setText(
                    QStringLiteral("Announced on the local network as \"%1\" on port %2.")
                        .arg(instance)
                        .arg(on));
            });
    connect(announcement, &NetworkAnnouncement::unavailable, this, [this](const QString& reason) {
        announceStatus->setText(
            QStringLiteral("Not announced on the local network: %1.").arg(reason));
    });

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation), this);
        tray->setToolTip(Caption);
        connect(tray, &QSystemTrayIcon::activated, this, &ReceiverWindow::comeForward);
        connect(tray, &QSystemTrayIcon::messageClicked, this, &ReceiverWindow::comeForward);
        tray->show();
    }
    selectRow(0);
    messageList->setFocus();
    // After the history, whose problem may take lines of its own.
    resize(sizeHint().expandedTo(QSize(960, 600)));
}

ReceiverWindow::~ReceiverWindow()
{
    SetStoreSavedHandler({});
}

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
    keepDays = new QComboBox(portRow);
    keepDays->setObjectName(QStringLiteral("keepDays"));
    keepDays->addItem(Retention::DaysText(0), 0);
    for (int days : Retention::Choices)
        keepDays->addItem(Retention::DaysText(days), days);
    auto* keepLabel = new QLabel(QStringLiteral("&Keep:"), portRow);
    keepLabel->setBuddy(keepDays);
    // A list box says its current line unless it has a name of its own.
    keepDays->setAccessibleName(QStringLiteral("Keep messages"));
    keepLabel->setToolTip(QStringLiteral("Older messages are deleted when the receiver starts."));
    portLayout->addWidget(portLabel);
    // Five digits: a port needs no more.
    newPort->setFixedWidth(BoxWidthFor(newPort, QStringLiteral("00000")));
    startAtLogin = new QCheckBox(QStringLiteral("Start when I log in"), portRow);
    startAtLogin->setObjectName(QStringLiteral("startAtLogin"));
    startAtLogin->setChecked(QFile::exists(Autostart::EntryPath()));
    portLayout->addWidget(portLabel);
    portLayout->addWidget(newPort);
    portLayout->addWidget(changePort);
    portLayout->addStretch(1);
    portLayout->addWidget(keepLabel);
    portLayout->addWidget(keepDays);
    portLayout->addWidget(startAtLogin);

    announceMe = new QCheckBox(QStringLiteral("Announce me on the local network"), central);
    announceMe->setObjectName(QStringLiteral("announceMe"));
    announceMe->setAccessibleName(announceMe->text());
    announceMe->setChecked(ReadStoreSetting(Stored::Announce));
    announceStatus = new QLabel(central);
    announceStatus->setObjectName(QStringLiteral("announceStatus"));
    announceStatus->setWordWrap(true);
    announceStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    announceStatus->hide();

    historyStatus = new QLabel(central);
    historyStatus->setObjectName(QStringLiteral("historyStatus"));
    historyStatus->setWordWrap(true);
    historyStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    historyStatus->hide();

    auto* searchRow = new QHBoxLayout;
    search = new QLineEdit(central);
    search->setObjectName(QStringLiteral("search"));
    search->setPlaceholderText(QStringLiteral("Name, address or text"));
    search->setClearButtonEnabled(true);
    auto* searchLabel = new QLabel(QStringLiteral("&Search:"), central);
    searchLabel->setBuddy(search);
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(search, 1);

    messageList = new QTableView(central);
    messageList->setObjectName(QStringLiteral("messageList"));
    // No label names the list or the text on screen; screen readers need a name.
    messageList->setAccessibleName(QStringLiteral("Messages"));
    messageList->setModel(messageModel);
    messageList->setSelectionBehavior(QAbstractItemView::SelectRows);
    messageList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    messageList->setShowGrid(false);
    messageList->setTabKeyNavigation(false);
    messageList->setWordWrap(false);
    messageList->verticalHeader()->hide();
    // Sizes come from the font once; measuring rows as they arrive is what made a busy
    // list slow.
    const QFontMetrics metrics = messageList->fontMetrics();
    messageList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    messageList->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    QHeaderView* header = messageList->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const int padding = 2 * metrics.horizontalAdvance(QLatin1Char('M'));
    header->resizeSection(MessageModel::TimeColumn,
                          metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) +
                              padding);
    header->resizeSection(MessageModel::NameColumn,
                          metrics.horizontalAdvance(QLatin1Char('n')) * 16 + padding);
    header->resizeSection(MessageModel::AddressColumn,
                          metrics.horizontalAdvance(QStringLiteral("000.000.000.000")) + padding);

    auto* fields = details = new QFormLayout;
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
    messageText->setAccessibleName(QStringLiteral("Message text"));
    messageText->setReadOnly(true);

    deleteButton = new QPushButton(QStringLiteral("&Delete"), central);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    replyButton = new QPushButton(QStringLiteral("&Reply"), central);
    replyButton->setObjectName(QStringLiteral("replyButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(deleteButton);
    buttons->addStretch(1);
    buttons->addWidget(replyButton);

    // The conversations beside the messages.
    auto* splitter = new QSplitter(Qt::Horizontal, central);
    auto* side = new QWidget(splitter);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    conversationList = new QListView(side);
    conversationList->setObjectName(QStringLiteral("conversationList"));
    conversationList->setAccessibleName(QStringLiteral("Conversations"));
    conversationList->setModel(conversationModel);
    conversationList->setUniformItemSizes(true);
    // Room for a name, an address and the unread count, which is in bold.
    QFont bold = conversationList->font();
    bold.setBold(true);
    conversationList->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(
        QStringLiteral("Somebody (000.000.000.000), 000 unread")));
    conversationList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* conversationLabel = new QLabel(QStringLiteral("C&onversations:"), side);
    conversationLabel->setBuddy(conversationList);
    sideLayout->addWidget(conversationLabel);
    sideLayout->addWidget(conversationList, 1);

    auto* main = new QWidget(splitter);
    auto* mainLayout = new QVBoxLayout(main);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->addLayout(searchRow);
    // One layout from top to bottom, so that folded remarks always get their height.
    mainLayout->addWidget(messageList, 1);
    mainLayout->addLayout(fields);
    mainLayout->addWidget(remarks);
    mainLayout->addWidget(messageText, 1);
    mainLayout->addLayout(buttons);
    splitter->addWidget(side);
    splitter->addWidget(main);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 3);
    splitter->setChildrenCollapsible(false);

    layout->addWidget(status);
    layout->addWidget(portRow);
    layout->addWidget(announceMe);
    layout->addWidget(announceStatus);
    layout->addWidget(historyStatus);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);
    setTabOrder(announceMe, conversationList);
    setTabOrder(conversationList, search);
    statusBar();
}

bool ReceiverWindow::startListening()
{
    // Unreadable text falls back to the default, as Quorvane reads it.
    const bool listening = listenOn(ReadStoreSetting(Stored::MyPortnb));
    announceIfWanted();
    return listening;
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
    SaveStoreSetting(Stored::MyPortnb, port);
    const bool listening = listenOn(port);
    announceIfWanted();
    if (!listening)
        return;
    listeningText = status->text();
    changedPort = port;
    showPortChange();
}

// Until the store has the new port, Quorvane and the next start still use the old one.
void ReceiverWindow::showPortChange()
{
    const QString problem = PendingSaveProblem();
    if (!problem.isEmpty()) {
        status->setText(listeningText +
                        QStringLiteral(" The reply port %1 is changed in memory only. %2 It is "
                                       "saved as soon as that works again; until then Quorvane "
                                       "and the next start of the receiver use the old port.")
                            .arg(IntegerText(changedPort), problem));
        return;
    }
    status->setText(listeningText +
                    QStringLiteral(" The reply port is now %1. Restart Quorvane so that your "
                                   "messages carry it, and give it to correspondents who "
                                   "already have you in their list.")
                        .arg(changedPort));
    changedPort = 0;
}

void ReceiverWindow::setMaxKeptMessages(int count)
{
    maxKept = count;
    auto* old = messageModel;
    messageModel = new MessageModel(count, this);
    messageList->setModel(messageModel);
    connect(messageList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ReceiverWindow::showSelected);
    delete old;
    applySearch();
}

void ReceiverWindow::addMessage(const IncomingRecord& incoming)
{
    StoredMessage message;
    message.received = incoming.received;
    message.address = addressText(incoming.peer);
    message.cut = incoming.cut;
    message.incomplete = incoming.incomplete;
    if (const auto record = ParseMessageRecord(incoming.bytes)) {
        message.name = record->name;
        message.port = record->port;
        message.text = record->text;
    } else {
        message.malformed = true;
        message.name = message.port = QStringLiteral("");
        message.text = EscapedBytes(incoming.bytes);
    }
    message.unread = true;
    // Shown once the history has it.
    store->add(message);
}

void ReceiverWindow::showStored(const QList<StoredMessage>& added)
{
    waiting += added;
    if (showTimer->isActive())
        return;
    if (!sinceShown.isValid() || sinceShown.hasExpired(ShowInterval))
        showWaiting();
    else
        showTimer->start(static_cast<int>(ShowInterval - sinceShown.elapsed()));
}

void ReceiverWindow::showWaiting()
{
    sinceShown.start();
    QList<StoredMessage> added;
    added.swap(waiting);
    if (added.isEmpty())
        return;
    if (!search->text().isEmpty()) {
        // The history does the search; the selection stays on the message it was on.
        refreshList(selectedId(), -1);
    } else {
        // Following the newest only if the user was there or nowhere.
        const QModelIndexList rows = messageList->selectionModel()->selectedRows();
        const bool follow = rows.isEmpty() || (rows.size() == 1 && rows.first().row() == 0);
        QList<StoredMessage> listed = added;
        if (shown)
            listed.removeIf(
                [this](const StoredMessage& m) { return !(Correspondent::of(m) == *shown); });
        messageModel->prepend(listed);
        if (follow && !listed.isEmpty())
            selectRow(0);
    }
    if (!isActiveWindow())
        notifier->notify(added.last().id,
                         added.last().name.isEmpty() ? added.last().address : added.last().name,
                         added.last().text);
    emit messagesShown(static_cast<int>(added.size()));
}

void ReceiverWindow::showHistoryState()
{
    const QString state = historyState(*store);
    historyStatus->setText(state);
    historyStatus->setVisible(!state.isEmpty());
}

void ReceiverWindow::refreshList(qint64 keepId, int fallbackRow)
{
    listSerial = store->find(search->text(), maxKept, shown);
    listKeepId = keepId;
    listFallbackRow = fallbackRow;
}

void ReceiverWindow::listFound(int serial, const QList<StoredMessage>& found)
{
    if (serial != listSerial)
        return;
    // Messages waiting for the throttle that the list already holds are not added twice.
    QSet<qint64> listed;
    for (const StoredMessage& m : found)
        listed.insert(m.id);
    waiting.erase(
        std::remove_if(waiting.begin(), waiting.end(),
                       [&listed](const StoredMessage& m) { return listed.contains(m.id); }),
        waiting.end());
    messageModel->replace(found);
    const int kept = listKeepId != 0 ? messageModel->rowOf(listKeepId) : -1;
    selectRow(kept >= 0 ? kept : std::min(listFallbackRow, messageModel->rowCount() - 1));
}

void ReceiverWindow::refreshConversations()
{
    conversationTimer->stop();
    conversationSerial = store->findConversations(MaxConversations);
}

void ReceiverWindow::conversationsFound(int serial, const QList<Conversation>& found)
{
    if (serial != conversationSerial)
        return;
    const bool hadFocus = conversationList->hasFocus();
    {
        // The line chosen stays chosen; it only moves.
        const QSignalBlocker quiet(conversationList->selectionModel());
        conversationModel->replace(found);
        const int row = conversationModel->rowOf(shown);
        conversationList->selectionModel()->setCurrentIndex(
            conversationModel->index(std::max(row, 0)), QItemSelectionModel::ClearAndSelect);
    }
    // A conversation whose messages all went: back to all messages.
    if (shown && conversationModel->rowOf(shown) < 0)
        openConversation();
    if (hadFocus)
        conversationList->setFocus();
    markShownRead();
}

void ReceiverWindow::openConversation()
{
    const std::optional<Correspondent> chosen =
        conversationModel->correspondentAt(conversationList->currentIndex().row());
    if (chosen == shown)
        return;
    shown = chosen;
    refreshList(0, 0);
    markShownRead();
}

void ReceiverWindow::markShownRead()
{
    if (shown && isActiveWindow() && conversationModel->unreadOf(*shown) > 0)
        store->markRead(*shown);
}

void ReceiverWindow::messagesSaved(const QHash<qint64, qint64>& ids)
{
    messageModel->renumber(ids);
    for (StoredMessage& m : waiting)
        m.id = ids.value(m.id, m.id);
    showSelected();
}

void ReceiverWindow::messagesRemoved(const QList<qint64>& ids)
{
    const qint64 selected = selectedId();
    refreshList(ids.contains(selected) ? 0 : selected, rowAfterDelete);
}

qint64 ReceiverWindow::selectedId() const
{
    const StoredMessage* selected = selectedMessage();
    return selected ? selected->id : 0;
}

void ReceiverWindow::closeEvent(QCloseEvent* event)
{
    while (store->waiting() > 0) {
        const QString text =
            QStringLiteral("%1 could not be stored in the message history %2 yet: %3.")
                .arg(messageCount(store->waiting()), QDir::toNativeSeparators(store->path()),
                     store->problem().isEmpty() ? QStringLiteral("they are being written")
                                                : store->problem());
        if (!AskMessage(this, text, Caption, QStringLiteral("Try again"),
                        QStringLiteral("Close and lose %1").arg(messageCount(store->waiting()))))
            break;
        store->storeNow();
    }
    announcement->withdraw();
    announcedPort = 0;
    event->accept();
}

void ReceiverWindow::announce(qint64 id, bool mayComeForward)
{
    if (tray) {
        const int row = messageModel->rowOf(id);
        if (row >= 0)
            tray->showMessage(QStringLiteral("Message from %1")
                                  .arg(MessageModel::displayName(messageModel->message(row))),
                              messageModel->message(row).text.section(QLatin1Char('\n'), 0, 0));
        QApplication::alert(this);
    } else if (mayComeForward) {
        comeForward();
    } else {
        QApplication::alert(this);
    }
}

void ReceiverWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        notifier->endBurst();
        markShownRead();
    }
    QMainWindow::changeEvent(event);
}

void ReceiverWindow::showMessage(qint64 id)
{
    if (messageModel->rowOf(id) < 0) {
        // Among all messages, found again.
        conversationList->setCurrentIndex(conversationModel->index(0));
        search->clear();
    }
    selectRow(messageModel->rowOf(id));
    comeForward();
}

void ReceiverWindow::applySearch()
{
    refreshList(0, 0);
}

void ReceiverWindow::deleteSelected()
{
    QList<qint64> ids;
    const QModelIndexList rows = messageList->selectionModel()->selectedRows();
    for (const QModelIndex& row : rows)
        ids.append(messageModel->message(row.row()).id);
    if (ids.isEmpty())
        return;
    // The rows go once the file has let them go, which another program's lock may delay.
    rowAfterDelete =
        std::max(0, std::min<int>(rows.first().row(),
                                  messageModel->rowCount() - 1 - static_cast<int>(ids.size())));
    store->remove(ids);
}

void ReceiverWindow::selectRow(int row)
{
    if (row < 0 || row >= messageModel->rowCount()) {
        messageList->clearSelection();
        showSelected();
        return;
    }
    const QModelIndex index = messageModel->index(row, 0);
    messageList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
}

const StoredMessage* ReceiverWindow::selectedMessage() const
{
    const QModelIndexList rows = messageList->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return nullptr;
    const QModelIndex current = messageList->currentIndex();
    const int row = current.isValid() && messageList->selectionModel()->isRowSelected(current.row())
                        ? current.row()
                        : rows.first().row();
    return &messageModel->message(row);
}

void ReceiverWindow::showSelected()
{
    const StoredMessage* message = selectedMessage();
    replyButton->setEnabled(message && !message->malformed);
    deleteButton->setEnabled(message);
    if (!message) {
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
    fill(receivedAt,
         message->received.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    // A message sent says when it was sent and to whom.
    const auto caption = [this](QWidget* field, const QString& text) {
        if (auto* label = qobject_cast<QLabel*>(details->labelForField(field)))
            label->setText(text);
    };
    caption(receivedAt, message->sent ? QStringLiteral("Sent:") : QStringLiteral("Received:"));
    caption(fromName, message->sent ? QStringLiteral("To:") : QStringLiteral("From:"));
    caption(fromPort, message->sent ? QStringLiteral("Port:") : QStringLiteral("Reply port:"));
    fill(fromAddress, message->address);
    fill(fromName, MessageModel::displayName(*message));
    fill(fromPort, message->port);
    messageText->setPlainText(message->text);
    remarks->setText(MessageModel::remarks(*message));
    remarks->setVisible(!remarks->text().isEmpty());
}

void ReceiverWindow::replyToSelected()
{
    const StoredMessage* message = selectedMessage();
    if (!message || message->malformed)
        return;
    QByteArray block;
    const QString problem = ReplyProblem(*message, block);
    if (!problem.isEmpty()) {
        ShowMessage(this, problem, ReplyTitle);
        return;
    }
    statusBar()->showMessage(
        QStringLiteral("Handing the reply to %1 over to Quorvane...").arg(message->name));
    // Asked now, while the key or click that chose Reply is the user's latest input.
    replies->send(block, RequestActivationToken(windowHandle()));
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

void ReceiverWindow::setStartAtLogin(bool start)
{
    const QString problem = Autostart::Set(start);
    if (problem.isEmpty())
        return;
    const QString path = Autostart::EntryPath();
    statusBar()->showMessage(QStringLiteral("Cannot change the autostart entry %1: %2")
                                 .arg(QDir::toNativeSeparators(path), problem));
    const QSignalBlocker quiet(startAtLogin);
    startAtLogin->setChecked(QFile::exists(path));
}

void ReceiverWindow::setAnnounce(bool on)
{
    SaveStoreSetting(Stored::Announce, on);
    announceIfWanted();
}

// While messages can arrive and the box is ticked, the user's name is announced on the port
// listened on; again whenever either changes.
void ReceiverWindow::announceIfWanted()
{
    // A save renames a new file over the store: the folder tells of that, the file of edits
    // made in place.
    const QString file = SettingsStore::FilePath(StoreKeys::Application);
    const QString folder = QFileInfo(file).path();
    if (QDir().mkpath(folder) && !storeWatcher->directories().contains(folder))
        storeWatcher->addPath(folder);
    if (QFile::exists(file) && !storeWatcher->files().contains(file))
        storeWatcher->addPath(file);

    const QString name = StoredUserName();
    const quint16 port = announceMe->isChecked() && messages->isListening() ? messages->port() : 0;
    if (port == announcedPort && (port == 0 || name == announcedName))
        return;
    announcedName = name;
    announcedPort = port;
    announceStatus->setVisible(port != 0);
    if (port == 0) {
        announcement->withdraw();
        return;
    }
    announceStatus->setText(QStringLiteral("Announcing on the local network..."));
    announcement->announce(name, port);
}
