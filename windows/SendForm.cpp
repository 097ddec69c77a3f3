#include "windows/SendForm.h"

#include "app/Conversions.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/UserStore.h"
#include "messaging/ReceiveString.h"
#include "platform/SetActiveWnd.h"
#include "platform/SingleInstance.h"
#include "windows/About.h"
#include "windows/Identification.h"
#include "windows/MessageBox.h"
#include "windows/ModifyUser.h"
#include "windows/OptProg.h"
#include "windows/WindowPlacement.h"
#include "windows/YourIP.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {
const QString MainCaption = QStringLiteral("Send Message");
// Taken by a second copy so that looking for the running copy cannot find itself.
const QString ThrowAwayCaption = QStringLiteral("ha shit");
const QString ErrorTitle = QStringLiteral("Error");
const QString ErrorPrefix = QStringLiteral("Winsock Error: ");
const QString SentTitle = QStringLiteral("Message Send!!");
// How long another program may hold the history before the user hears of it.
constexpr qint64 HistoryLockPatience = 10000; // ms

constexpr int StateClosed = 0;
constexpr int StateConnected = 7;
// The daemon lists what it knows within about a second; one that never finishes its list
// does not keep the question back longer than this.
constexpr int MovedSearchLimitMs = 3000;
} // namespace

SendForm::SendForm(QWidget* parent) : QMainWindow(parent), recipients(nullptr)
{
    setObjectName(QStringLiteral("SendForm"));
    setWindowTitle(MainCaption);
    buildControls();
    buildMenus();
    recipients = ComboRecipientList(Combo1);

    TimerSW = new QTimer(this);
    TimerSW->setObjectName(QStringLiteral("TimerSW"));
    TimerSW->setInterval(500);
    Winsock1 = new TcpClient(this);
    Winsock1->setObjectName(QStringLiteral("Winsock1"));

    // A connection that stands by the end of the click (loopback, a fast network) is told
    // of at once, before any repaint, as the next event would tell of it.
    connect(Command1, &QPushButton::clicked, this, [this] {
        Command1_Click();
        Winsock1->checkNow();
    });
    connect(StopSend, &QPushButton::clicked, this, &SendForm::StopSend_Click);
    connect(Adduser, &QPushButton::clicked, this, &SendForm::Adduser_Click);
    connect(TimerSW, &QTimer::timeout, this, &SendForm::TimerSW_Timer);
    connect(Winsock1, &TcpClient::connected, this, &SendForm::Winsock1_Connect);
    connect(Winsock1, &TcpClient::allWritten, this, &SendForm::Winsock1_SendComplete);
    connect(Winsock1, &TcpClient::failed, this, &SendForm::Winsock1_Error);

    resize(sizeHint());
    Text1->setFocus();
}

void SendForm::buildControls()
{
    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);

    Combo1 = new QComboBox(central);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    // Measuring every line at first show is slow for long lists.
    Combo1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo1->setMinimumContentsLength(28);
    // No label names the two boxes on screen; screen readers need a name.
    Combo1->setAccessibleName(QStringLiteral("Recipient"));

    Text1 = new QPlainTextEdit(central);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setTabChangesFocus(true);
    Text1->setAccessibleName(QStringLiteral("Message"));
    Text1->installEventFilter(this);

    Adduser = new QPushButton(QStringLiteral("Modify User"), central);
    Adduser->setObjectName(QStringLiteral("Adduser"));
    StopSend = new QPushButton(QStringLiteral("Stop"), central);
    StopSend->setObjectName(QStringLiteral("StopSend"));
    Command1 = new QPushButton(QStringLiteral("Send"), central);
    Command1->setObjectName(QStringLiteral("Command1"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Adduser);
    buttons->addStretch(1);
    buttons->addWidget(StopSend);
    buttons->addWidget(Command1);

    grid->addWidget(Combo1, 0, 0);
    grid->addWidget(Text1, 1, 0);
    grid->addLayout(buttons, 2, 0);
    grid->setRowStretch(1, 1);
    setCentralWidget(central);

    setTabOrder(Text1, Command1);
    setTabOrder(Command1, StopSend);
    setTabOrder(StopSend, Combo1);
    setTabOrder(Combo1, Adduser);
}

void SendForm::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    exitmn = file->addAction(QStringLiteral("E&xit"));
    exitmn->setObjectName(QStringLiteral("exitmn"));
    connect(exitmn, &QAction::triggered, this, &SendForm::exitmn_Click);

    QMenu* option = menuBar()->addMenu(QStringLiteral("&Option"));
    progopmn[1] = option->addAction(QStringLiteral("&Program Option ..."));
    progopmn[2] = option->addAction(QStringLiteral("&Identification ..."));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    aboutmn[1] = help->addAction(QStringLiteral("Your &ip..."));
    aboutmn[2] = help->addSeparator();
    aboutmn[3] = help->addAction(QStringLiteral("&About..."));
    for (int index : {1, 2}) {
        progopmn[index]->setObjectName(QStringLiteral("progopmn%1").arg(index));
        connect(progopmn[index], &QAction::triggered, this,
                [this, index] { progopmn_Click(index); });
    }
    for (int index : {1, 3}) {
        aboutmn[index]->setObjectName(QStringLiteral("aboutmn%1").arg(index));
        connect(aboutmn[index], &QAction::triggered, this, [this, index] { aboutmn_Click(index); });
    }
}

void SendForm::progopmn_Click(int index)
{
    if (index == 1)
        OptProg(this).exec();
    else
        Identification(this).exec();
}

void SendForm::aboutmn_Click(int index)
{
    if (index == 1)
        YourIP(this).exec();
    else if (index == 3)
        About(this).exec();
}

bool SendForm::Form_Load()
{
    if (PrevInstance()) {
        const QString caption = windowTitle();
        setWindowTitle(ThrowAwayCaption);
        ForceForeground(FindWindowByCaption(caption), TakeLaunchActivationToken());
        return false;
    }
    InstanceChannel().setProc(MainWindowProc([this] { return windowHandle(); }));

    // Start-up reads the store and writes it back several times; write the file once.
    const StoreSession session(StoreKeys::Application);
    Global::BuildDefaultUsers();
    LoadSettings(recipients);

    RestoreWindowPosition(this, WindowPrefix::SendForm);
    StoreWindowPosition(this, WindowPrefix::SendForm);

    HistoryPos = 0;
    HistoryMax = 10;
    History = QStringList{QString()};

    SaveOptions();
    SaveUsers();

    DropPendingReply();
    SentByKey = false;

    HookWindow(this);
    hooked = true;
    loaded = true;
    return true;
}

SendForm::~SendForm()
{
    if (hooked)
        UnhookWindow();
}

void SendForm::Form_Unload()
{
    if (!loaded)
        return;
    loaded = false;
    StoreSession session(StoreKeys::Application);
    SaveUsers();
    StoreWindowPosition(this, WindowPrefix::SendForm);
    // Leaving would lose the correspondents of this run: never do that unasked.
    while (const std::optional<QString> failure = session.Commit()) {
        if (!AskMessage(this,
                        *failure + QStringLiteral("\n\"Exit without saving\" loses the changes "
                                                  "made since the last save."),
                        ErrorTitle, QStringLiteral("Try again"),
                        QStringLiteral("Exit without saving"))) {
            // The user gave them up: nothing may write them later, nor say it will.
            session.Discard();
            break;
        }
    }
    UnhookWindow();
    hooked = false;
    recordSend(Outcome::Stopped);
    // What was sent waits a moment for the history; the window is gone by now.
    if (sent)
        sent->storeNow();
}

void SendForm::FillRecipients(int index)
{
    FillUserCombo(recipients, index);
}

void SendForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void SendForm::changeEvent(QEvent* event)
{
    // Only moves between this program's own windows count; when another program takes
    // the foreground no window of ours is active and nothing changes.
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            Form_Activate();
        else if (QApplication::activeWindow() != nullptr)
            Form_Deactivate();
    }
    QMainWindow::changeEvent(event);
}

void SendForm::Form_Activate()
{
    SetMainWindowActive(true);
    ReloadChangedIdentification();
    if (ReplyPending())
        SelectReplyTarget(recipients);
}

void SendForm::Form_Deactivate()
{
    SetMainWindowActive(false);
}

bool SendForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        return Text1_KeyDown(key->key(), key->modifiers() & ~Qt::KeypadModifier);
    }
    return QMainWindow::eventFilter(watched, event);
}

// True when the key was dealt with here and must not reach the box again.
bool SendForm::Text1_KeyDown(int key, Qt::KeyboardModifiers shift)
{
    if (shift != Qt::ShiftModifier)
        return false;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        SentByKey = true;
        Command1_Click();
        // The line break still goes in at the caret; the text is read only once the
        // connection stands, so it is part of the message.
        Text1->textCursor().insertText(QStringLiteral("\n"));
        Winsock1->checkNow();
        return true;
    case Qt::Key_Up:
        HistoryPos = std::max(HistoryPos - 1, 0);
        Text1->setPlainText(History.at(HistoryPos));
        return false;
    case Qt::Key_Down:
        HistoryPos = std::min(HistoryPos + 1, static_cast<int>(History.size()) - 1);
        Text1->setPlainText(History.at(HistoryPos));
        return false;
    default:
        return false;
    }
}

void SendForm::AddToHistory(const QString& text)
{
    if (History.size() - 1 != HistoryMax) {
        History.append(text);
    } else {
        History.removeAt(1);
        History.append(text);
    }
    HistoryPos = static_cast<int>(History.size()) - 1;
}

void SendForm::PrepareSocket(const UserRecord& target)
{
    RemotePort = target.port;
}

int SendForm::WinsockState() const
{
    switch (Winsock1->state()) {
    case TcpClient::State::Closed:
        return StateClosed;
    case TcpClient::State::Connected:
        return StateConnected;
    case TcpClient::State::Connecting:
        break;
    }
    return 6; // connecting: not closed
}

void SendForm::WinsockClose()
{
    Winsock1->close();
}

void SendForm::Command1_Click()
{
    Command1->setEnabled(false);
    AddToHistory(Text1->toPlainText());
    const int index = Combo1->currentIndex();
    // No line selected reads the empty slot 0: no address, port 0.
    const UserTable& users = Global::Users;
    const std::size_t entry =
        index + 1 >= 1 && index + 1 <= UBound(users) ? static_cast<std::size_t>(index + 1) : 0;
    // A question about an earlier failure is pointless now.
    delete movedSearch;
    sentEntry = entry;
    PrepareSocket(users[entry]);
    Global::SendTarget.name = users[entry].name;
    Global::SendTarget.ip = users[entry].ip;
    Global::SendTarget.port = users[entry].port;
    RemoteHost = Global::SendTarget.ip;
    if (WinsockState() != StateClosed)
        WinsockClose();
    // A send abandoned for this one was stopped.
    recordSend(Outcome::Stopped);
    StoredMessage message;
    message.received = QDateTime::currentDateTimeUtc();
    message.sent = true;
    message.name = Global::SendTarget.name;
    message.address = Global::SendTarget.ip;
    message.port = IntegerText(Global::SendTarget.port);
    message.text = Text1->toPlainText();
    message.ownName = Global::MyUsername;
    message.ownPort = IntegerText(Global::MyPortnb);
    sending = message;

    if (!Winsock1->connectTo(RemoteHost, RemotePort)) {
        recordSend(Outcome::Failed, Winsock1->errorString());
        showSendError();
        WinsockClose();
        SentByKey = false;
        Command1->setEnabled(true);
        offerMovedTarget();
    }
}

// Runs in the pass in which the connection stands, before any repaint: the record goes out
// first, and what the user sees changes only once it is written (SendComplete).
void SendForm::Winsock1_Connect()
{
    if (WinsockState() != StateConnected)
        return;
    const QString text = Text1->toPlainText();
    // Kept as it goes out, which may differ from what was there when Send was pressed. Set
    // first: a write that goes out at once completes the send inside write().
    if (sending) {
        sending->text = text;
        sending->ownName = Global::MyUsername;
        sending->ownPort = IntegerText(Global::MyPortnb);
    }
    Winsock1->write(MessageRecordBytes(Global::MyUsername, Global::MyPortnb, text));
}

void SendForm::Winsock1_SendComplete()
{
    recordSend(Outcome::Delivered);
    if (Global::PopupWhenSend) {
        ShowMessage(this,
                    QStringLiteral("Sucessful Message Send to: ") + Global::SendTarget.name +
                        QStringLiteral(" (") + Global::SendTarget.ip + QStringLiteral(")"),
                    SentTitle);
    }
    Text1->setPlainText(QString());
    WinsockClose();
    Command1->setEnabled(true);
    if (Global::MinimizedWhenSend && !SentByKey) {
        if (!isMinimized())
            showMinimized();
    } else {
        SentByKey = false;
    }
}

void SendForm::Winsock1_Error()
{
    recordSend(Outcome::Failed, Winsock1->errorString());
    showSendError();
    WinsockClose();
    SentByKey = false;
    Command1->setEnabled(true);
    offerMovedTarget();
}

void SendForm::showSendError()
{
    const TcpClient::Failure failure = Winsock1->failure();
    if (failure == TcpClient::Failure::Refused || failure == TcpClient::Failure::Unreachable) {
        delete movedSearch;
        movedTarget = Global::SendTarget;
        movedTo.reset();
        targetStillThere = false;
        movedSearchDone = false;
        movedSearch = new NetworkDiscovery(this);
        connect(movedSearch, &NetworkDiscovery::personFound, this,
                [this](const AnnouncedPerson& person) {
                    if (person.name != movedTarget.name)
                        return;
                    if (person.ip == movedTarget.ip && person.port == movedTarget.port)
                        targetStillThere = true;
                    else if (!movedTo)
                        movedTo = person;
                });
        const auto done = [this] {
            movedSearchDone = true;
            offerMovedTarget();
        };
        connect(movedSearch, &NetworkDiscovery::peopleListed, this, done);
        connect(movedSearch, &NetworkDiscovery::unavailable, this, done);
        QTimer::singleShot(MovedSearchLimitMs, movedSearch, done);
        movedSearch->start(NetworkDiscovery::Looking::PeopleOnly);
    }
    errorShowing = true;
    ShowMessage(this, ErrorPrefix + Winsock1->errorString(), ErrorTitle);
    errorShowing = false;
}

// Never changes an entry unasked: anyone on the network can announce any name, which is why
// the question names the computer that does.
void SendForm::offerMovedTarget()
{
    if (!movedSearch || !movedSearchDone || errorShowing)
        return;
    movedSearch->deleteLater();
    movedSearch = nullptr;
    if (!movedTo || targetStillThere)
        return;
    const AnnouncedPerson to = *movedTo;
    const QString question =
        QStringLiteral("%1 now answers at %2:%3 (%4). Update %1 and send again?")
            .arg(to.name, to.ip, QString::number(to.port), to.computer);
    if (!AskMessage(this, question, ErrorTitle, QStringLiteral("&Yes"), QStringLiteral("&No"),
                    true))
        return;
    UserTable& users = Global::Users;
    const auto isTarget = [&users, this](std::size_t entry) {
        return entry >= 1 && entry <= static_cast<std::size_t>(UBound(users)) &&
               users[entry].name == movedTarget.name && users[entry].ip == movedTarget.ip &&
               users[entry].port == movedTarget.port;
    };
    // The list may have been edited while the search ran.
    std::size_t entry = sentEntry;
    for (std::size_t other = 1; !isTarget(entry) && other < users.size(); ++other)
        entry = other;
    if (!isTarget(entry))
        return;
    users[entry].ip = to.ip;
    users[entry].port = to.port;
    FillRecipients(static_cast<int>(entry) - 1);
    Command1_Click();
    Winsock1->checkNow();
}

void SendForm::StopSend_Click()
{
    if (WinsockState() != StateClosed) {
        WinsockClose();
        recordSend(Outcome::Stopped);
    }
    Command1->setEnabled(true);
}

void SendForm::recordSend(Outcome outcome, const QString& reason)
{
    if (!sending)
        return;
    StoredMessage message = *sending;
    sending.reset();
    message.outcome = outcome;
    message.reason = reason;
    // Opened at the first send, off the start-up path; written on a thread of its own.
    if (!sent) {
        // ::History: History is this window's list of texts sent.
        sent = new ::History(this);
        connect(sent, &::History::changed, this, &SendForm::sentMessagesChanged);
        sent->open(::History::defaultPath(), 0, ::History::Role::Sender);
    }
    sent->add(message);
}

void SendForm::sentMessagesChanged()
{
    if (sent->problem().isEmpty()) {
        sentFailingFor.invalidate();
        return;
    }
    if (!sentFailingFor.isValid())
        sentFailingFor.start();
    if (sentProblemTold ||
        (sent->problemIsLock() && !sentFailingFor.hasExpired(HistoryLockPatience)))
        return;
    sentProblemTold = true;
    ShowMessage(this,
                QStringLiteral("What you send cannot be kept in the message history %1: %2.\n"
                               "Sending goes on. Messages sent wait in memory and are kept as "
                               "soon as the history can be used again.")
                    .arg(QDir::toNativeSeparators(sent->path()), sent->problem()),
                ErrorTitle);
}

void SendForm::Adduser_Click()
{
    ModifyUser manager(this);
    manager.exec();
    FillRecipients(0);
}

void SendForm::exitmn_Click()
{
    Form_Unload();
    QCoreApplication::exit(0);
}

void SendForm::announceReply(const QString& text)
{
    const QString title = QStringLiteral("Reply");
    // One "Reply" box at a time: a newer request while it is open only changes its text.
    for (QMessageBox* open : findChildren<QMessageBox*>()) {
        if (open->windowTitle() == title) {
            open->setText(text);
            return;
        }
    }
    ShowMessage(this, text, title);
}

void SendForm::restoreIfMinimized()
{
    if (isMinimized())
        showNormal();
}

void SendForm::startRaiseTimer()
{
    TimerSW->start();
}

void SendForm::TimerSW_Timer()
{
    TimerSW->stop();
    WindowHandle handle;
    handle.window = windowHandle();
    ForceForeground(handle);
    Text1->setFocus();
}
