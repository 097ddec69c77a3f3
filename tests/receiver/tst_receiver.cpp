// The message receiver against real senders on 127.0.0.1, [::1] and across a veth pair
// between two network namespaces, the real store, history file, reply channel (served by a
// SendForm in this process, or by a started quorvane) and a private D-Bus session bus.

#include "TestSupport.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "platform/RuntimePaths.h"
#include "receiver/History.h"
#include "receiver/ReceiverWindow.h"
#include "receiver/ReplyRequester.h"
#include "windows/MessageBox.h"
#include "windows/SendForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif
#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

void storeReplyPort(const QString& text)
{
    SettingsStore store(StoreKeys::Application);
    store.SaveSetting(StoreKeys::IdentificationSection, StoreKeys::MyPortnb, text);
}

// A sender on the event loop: connects, writes and, unless told otherwise, closes.
std::unique_ptr<QTcpSocket> startSender(quint16 port, const QByteArray& bytes, bool close = true,
                                        const QHostAddress& host = QHostAddress::LocalHost)
{
    auto socket = std::make_unique<QTcpSocket>();
    QTcpSocket* raw = socket.get();
    QObject::connect(raw, &QTcpSocket::connected, raw, [raw, bytes, close] {
        raw->write(bytes);
        if (close)
            raw->disconnectFromHost();
    });
    raw->connectToHost(host, port);
    return socket;
}

QByteArray record(const QByteArray& name, const QByteArray& port, const QByteArray& text)
{
    return name + '\0' + port + '\0' + text;
}

// This process's runtime and config folders swapped for fresh ones, so that a quorvane
// started from here serves a channel of its own.
class OtherFolders : public PrivateFolders
{
public:
    OtherFolders() : runtimeWas(qgetenv("XDG_RUNTIME_DIR")), configWas(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_RUNTIME_DIR", runtime().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", config().toLocal8Bit());
    }
    ~OtherFolders()
    {
        qputenv("XDG_RUNTIME_DIR", runtimeWas);
        qputenv("XDG_CONFIG_HOME", configWas);
    }

private:
    QByteArray runtimeWas;
    QByteArray configWas;
};

// Stands in for the desktop's notification service: records each Notify call.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<QVariantList> calls;
public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int)
    {
        calls.append({replaces, summary, body, actions});
        return 7;
    }
};

#ifdef Q_OS_LINUX
// Two network namespaces joined by a veth pair, 10.213.0.1 in `a` and 10.213.0.2 in `b`,
// removed again at the end. enter() moves this thread's new sockets into one of them.
class TwoHosts
{
public:
    TwoHosts() : a(name('a')), b(name('b')), home(::open("/proc/self/ns/net", O_RDONLY))
    {
        const QString va = a + 'v', vb = b + 'v';
        for (const QStringList& args :
             {QStringList{"netns", "add", a},
              {"netns", "add", b},
              {"link", "add", va, "netns", a, "type", "veth", "peer", "name", vb, "netns", b},
              {"-n", a, "addr", "add", "10.213.0.1/30", "dev", va},
              {"-n", b, "addr", "add", "10.213.0.2/30", "dev", vb},
              {"-n", a, "link", "set", va, "up"},
              {"-n", b, "link", "set", vb, "up"}}) {
            QProcess ip;
            ip.start(QStringLiteral("ip"), args);
            if (!ip.waitForFinished() || ip.exitCode() != 0) {
                problem = QStringLiteral("cannot create network namespaces (ip %1: %2)")
                              .arg(args.join(' '), ip.readAllStandardError().trimmed());
                return;
            }
        }
    }
    ~TwoHosts()
    {
        setns(home, CLONE_NEWNET);
        ::close(home);
        QProcess::execute(QStringLiteral("ip"), {"netns", "del", a});
        QProcess::execute(QStringLiteral("ip"), {"netns", "del", b});
    }
    bool enter(const QString& ns) const
    {
        const int fd = ::open(qPrintable("/run/netns/" + ns), O_RDONLY);
        const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        return entered;
    }
    bool leave() const { return setns(home, CLONE_NEWNET) == 0; }

    const QString a, b;
    QString problem;

private:
    static QString name(char side) { return QStringLiteral("qv%1%2").arg(getpid()).arg(side); }
    int home;
};

// Takes the right to open ports below 1024 from this thread while it lives, so that a
// test run as root meets the refusal an ordinary user gets.
class NoPrivilegedPorts
{
public:
    NoPrivilegedPorts()
    {
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~(1u << CAP_NET_BIND_SERVICE);
        changed = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~NoPrivilegedPorts()
    {
        if (changed)
            syscall(SYS_capset, &header, saved);
    }

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] = {};
    bool changed = false;
};
#endif

} // namespace

class TestReceiver : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void recordsAreShown_data();
    void recordsAreShown();
    void listensOnIpv4AndIpv6();
    void replyFromSenderToReceiverAndBack();
    void betweenTwoHosts();
    void unusableRepliesAreExplained_data();
    void unusableRepliesAreExplained();
    void replyStartsQuorvaneWhenNoneRuns();
    void oversizeRecordIsCut();
    void slowSendersMeetTheDeadline();
    void tricklersMakeRoomForAnHonestSender();
    void oldestMessagesMakeRoom();
    void historyOutlivesTheReceiver();
    void searchFindsNameAddressOrText_data();
    void searchFindsNameAddressOrText();
    void unusableHistoryIsReported_data();
    void unusableHistoryIsReported();
    void notifiesWhenInactive();
    void portProblemsAreExplained();
    void privilegedPortOffersAnotherPort();

private:
    QString cell(int row, int column) const
    {
        return receiver->model().index(row, column).data().toString();
    }
    QString newest(int column) const { return cell(0, column); }
    int shown() const { return receiver->model().rowCount(); }
    QStringList names() const
    {
        QStringList found;
        for (int row = 0; row < shown(); ++row)
            found << cell(row, MessageModel::NameColumn);
        return found;
    }
    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex& index : receiver->messageList->selectionModel()->selectedRows())
            rows << index.row();
        return rows;
    }
    void select(int row) { receiver->messageList->selectRow(row); }
    // Sends a record and waits until the history has stored it.
    void send(const QByteArray& name, const QByteArray& text)
    {
        QSignalSpy stored(receiver.get(), &ReceiverWindow::messagesShown);
        auto sender = startSender(port, record(name, "505", text));
        QVERIFY(stored.wait());
    }
    void receivesNormalRecord();
    void replyToNewest();
    void sendFromQuorvane(SendForm& form, const QString& address, const QString& text);

    TestFolders folders;
    std::unique_ptr<QTemporaryDir> data;
    quint16 port = 0;
    std::unique_ptr<ReceiverWindow> receiver;
    std::unique_ptr<BoxRecorder> recorder;
};

void TestReceiver::init()
{
    recorder = std::make_unique<BoxRecorder>();
    // A history of its own for each case, and no notification service.
    data = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", data->path().toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    port = freePort();
    storeReplyPort(QString::number(port));
    receiver = std::make_unique<ReceiverWindow>();
    receiver->show();
    QVERIFY(receiver->startListening());
    QCOMPARE(receiver->status->text(),
             QStringLiteral("Receiving messages on port %1 (IPv4 and IPv6).").arg(port));
    QVERIFY(receiver->historyStatus->isHidden());
}

void TestReceiver::cleanup()
{
    receiver.reset();
    recorder.reset();
}

void TestReceiver::receivesNormalRecord()
{
    const int before = shown();
    auto sender = startSender(port, record("Ann", "505", "still here"));
    QTRY_COMPARE(shown(), before + 1);
    QCOMPARE(newest(MessageModel::NameColumn), QStringLiteral("Ann"));
    QCOMPARE(newest(MessageModel::TextColumn), QStringLiteral("still here"));
}

void TestReceiver::replyToNewest()
{
    select(0);
    QVERIFY(receiver->replyButton->isEnabled());
    receiver->replyButton->click();
}

void TestReceiver::recordsAreShown_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("fields"); // name|port|text as shown

    const auto row = [](const char* name, const QByteArray& bytes, const QString& fields) {
        QTest::newRow(name) << bytes << fields;
    };
    // clang-format off
    row("example", QByteArray::fromHex("4d 65 00 35 30 35 00 48 69"), "Me|505|Hi");
    row("empty text", record("Me", "505", ""), "Me|505|");
    row("CR LF and lone CR", record("A", "1", "one\r\ntwo\rthree\r\n"), "A|1|one\ntwo\nthree\n");
    row("8-bit name", record("Zo\xc3\xab", "7000", "\xe2\x82\xac"), QStringLiteral("Zoë|7000|€"));
    row("empty name, odd port", record("", " 12x", "x"), "| 12x|x");
    row("NUL in the text", record("B", "2", QByteArray("a\0b", 3)), QStringLiteral("B|2|a\u2400b"));
    row("no NUL", "Bob 505 Hi\xff\\", "malformed||Bob 505 Hi\\xff\\\\");
    row("one NUL", QByteArray("Bob\0" "505\r\n", 9), "malformed||Bob\\0505\\r\\n");
    row("nothing", QByteArray(), "malformed||");
    // clang-format on
}

void TestReceiver::recordsAreShown()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fields);
    const QString name = fields.section('|', 0, 0);
    const QString port = fields.section('|', 1, 1);
    const QString text = fields.section('|', 2);
    auto sender = startSender(this->port, bytes);
    QTRY_COMPARE(shown(), 1);
    QCOMPARE(newest(MessageModel::NameColumn), name);
    QCOMPARE(newest(MessageModel::AddressColumn), QStringLiteral("127.0.0.1"));
    QCOMPARE(selectedRows(), QList<int>{0});
    QCOMPARE(receiver->fromName->text(), name);
    QCOMPARE(receiver->fromPort->text(), port);
    QCOMPARE(receiver->messageText->toPlainText(), text);
    const bool malformed = name == QLatin1String("malformed");
    QCOMPARE(receiver->replyButton->isEnabled(), !malformed);
    QCOMPARE(receiver->remarks->text().startsWith(QLatin1String("Malformed")), malformed);
}

void TestReceiver::listensOnIpv4AndIpv6()
{
    auto v4 = startSender(port, record("four", "1", "a"));
    QTRY_COMPARE(shown(), 1);
    auto v6 = startSender(port, record("six", "1", "b"), true, QHostAddress::LocalHostIPv6);
    QTRY_COMPARE(shown(), 2);
    // Newest first, and the selection follows the newest.
    QCOMPARE(newest(MessageModel::NameColumn), QStringLiteral("six"));
    QCOMPARE(newest(MessageModel::AddressColumn), QStringLiteral("::1"));
    QCOMPARE(receiver->fromAddress->text(), QStringLiteral("::1"));
    QCOMPARE(cell(1, MessageModel::AddressColumn), QStringLiteral("127.0.0.1"));
    // Quorvane keeps IPv4 correspondents only: say so rather than send a request it drops.
    replyToNewest();
    QCOMPARE(recorder->said(),
             QStringList{"Reply: Quorvane can only reply to IPv4 addresses, and this "
                         "message came from ::1."});
    QCOMPARE(receiver->requester().pendingCount(), 0);

    // An older message being read stays selected when another arrives.
    select(1);
    QCOMPARE(receiver->fromName->text(), QStringLiteral("four"));
    auto later = startSender(port, record("later", "1", "c"));
    QTRY_COMPARE(shown(), 3);
    QCOMPARE(receiver->fromName->text(), QStringLiteral("four"));
    QCOMPARE(selectedRows(), QList<int>{2});
    receiver->messageList->clearSelection();
    QCOMPARE(receiver->fromName->text(), QString());
    QVERIFY(!receiver->replyButton->isEnabled());
}

// Quorvane in this process, with one correspondent, typing and sending `text` to it.
void TestReceiver::sendFromQuorvane(SendForm& form, const QString& address, const QString& text)
{
    QVERIFY(form.Form_Load());
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = false;
    Global::MyUsername = QStringLiteral("Zoë Ånström");
    Global::MyPortnb = 4321;
    Global::Users = DimUsers(1);
    Global::Users[1] = {"receiver", address, port, 1};
    form.FillRecipients(0);
    ShowAndActivate(&form);
    form.Text1->setPlainText(text);
    form.Command1->click();
    QTRY_COMPARE_WITH_TIMEOUT(shown(), 1, 10000);
    QCOMPARE(receiver->fromName->text(), Global::MyUsername);
    QCOMPARE(receiver->fromPort->text(), QStringLiteral("4321"));
    QCOMPARE(receiver->messageText->toPlainText(), text);
}

void TestReceiver::replyFromSenderToReceiverAndBack()
{
    SendForm form;
    const QString text = QStringLiteral("Hello,\nsecond line\n\n  indented é\n");
    sendFromQuorvane(form, QStringLiteral("127.0.0.1"), text);
    QCOMPARE(newest(MessageModel::NameColumn), Global::MyUsername);
    QCOMPARE(newest(MessageModel::AddressColumn), QStringLiteral("127.0.0.1"));
    QCOMPARE(newest(MessageModel::TextColumn), QStringLiteral("Hello,"));
    // With no notification service and no system tray the window comes forward itself.
    QTRY_COMPARE(QApplication::activeWindow(), receiver.get());
    QTRY_VERIFY(!Global::MainWindowActive);

    // Replying from the receiver's window: Quorvane announces the request and applies it
    // once its main window is active again.
    replyToNewest();
    QTRY_COMPARE(receiver->requester().pendingCount(), 0);
    QCOMPARE(recorder->said(),
             QStringList{"Reply: Return to main menu for reply to user Zoë Ånström"});
    QCOMPARE(receiver->statusBar()->currentMessage(),
             QStringLiteral("Quorvane has the reply request."));
    form.activateWindow();
    QTRY_COMPARE(form.Combo1->currentIndex(), 1);
    QCOMPARE(UBound(Global::Users), 2);
    QCOMPARE(Global::Users[2].name, Global::MyUsername);
    QCOMPARE(Global::Users[2].ip, QStringLiteral("127.0.0.1"));
    QCOMPARE(Global::Users[2].port, 4321);

    form.Form_Unload();
}

void TestReceiver::betweenTwoHosts()
{
#ifdef Q_OS_LINUX
    const TwoHosts hosts;
    if (!hosts.problem.isEmpty())
        QSKIP(qPrintable(hosts.problem));
    // The receiver listens in b, Quorvane sends from a; Reply goes through the local channel.
    receiver.reset();
    QVERIFY(hosts.enter(hosts.b));
    receiver = std::make_unique<ReceiverWindow>();
    QVERIFY(receiver->startListening());
    QVERIFY(hosts.enter(hosts.a));
    SendForm form;
    sendFromQuorvane(form, QStringLiteral("10.213.0.2"), QStringLiteral("across the link"));
    QVERIFY(hosts.leave());
    QCOMPARE(receiver->fromAddress->text(), QStringLiteral("10.213.0.1"));
    replyToNewest();
    form.activateWindow();
    QTRY_COMPARE(form.Combo1->currentIndex(), 1);
    QCOMPARE(Global::Users[2].ip, QStringLiteral("10.213.0.1"));
    QCOMPARE(Global::Users[2].port, 4321);
    form.Form_Unload();
#else
    QSKIP("Network namespaces are a Linux feature.");
#endif
}

void TestReceiver::unusableRepliesAreExplained_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("box");
    QTest::newRow("port") << record("Bob", "70000", "x")
                          << "The sender gave no usable reply port (\"70000\"), so Quorvane could "
                             "not answer.";
    QTest::newRow("name of 129 characters")
        << record(QByteArray(129, 'n'), "505", "x")
        << "Quorvane cannot take the sender's name into its list: a name has 1 to 128 "
           "characters besides spaces around it.";
    QByteArray euros;
    for (int i = 0; i < 80; ++i)
        euros += "\xe2\x82\xac";
    QTest::newRow("name of 240 bytes") << record(euros, "505", "x")
                                       << "The sender's name is too long for a reply request "
                                          "(Quorvane reads at most 254 bytes).";
}

void TestReceiver::unusableRepliesAreExplained()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, box);
    auto sender = startSender(port, bytes);
    QTRY_COMPARE(shown(), 1);
    replyToNewest();
    QCOMPARE(recorder->said(), QStringList{QStringLiteral("Reply: ") + box});
    QCOMPARE(receiver->requester().pendingCount(), 0);
}

void TestReceiver::replyStartsQuorvaneWhenNoneRuns()
{
    auto sender = startSender(port, record("Bob", "505", "hi"));
    QTRY_COMPARE(shown(), 1);
    const OtherFolders other;
    ReplyRequester& requester = receiver->requester();

    requester.setSenderProgram(QStringLiteral("/nonexistent/quorvane"));
    replyToNewest();
    QTRY_COMPARE(recorder->said(),
                 QStringList{"Reply: Quorvane is not running, and it could not be "
                             "started: there is no program at /nonexistent/quorvane."});

    // A program that never serves the channel is given up after the start timeout.
    recorder->boxes.clear();
    requester.setSenderProgram(QStringLiteral("/bin/true"));
    requester.setStartTimeout(500);
    replyToNewest();
    QTRY_COMPARE(recorder->said(),
                 QStringList{"Reply: Quorvane was started but did not answer within 0.5 "
                             "seconds."});

    // The real one: started, and the request handed over once its channel answers.
    recorder->boxes.clear();
    requester.setSenderProgram(QStringLiteral(QUORVANE_BINARY));
    requester.setStartTimeout(15000);
    replyToNewest();
    QVERIFY(receiver->statusBar()->currentMessage().startsWith("Handing the reply to Bob"));
    QTRY_VERIFY_WITH_TIMEOUT(requester.pendingCount() == 0, 20000);
    QVERIFY(recorder->boxes.isEmpty());
    QCOMPARE(receiver->statusBar()->currentMessage(),
             QStringLiteral("Quorvane has the reply request."));
    qint64 pid = 0;
    QString host;
    QString application;
    QVERIFY(QLockFile(InstanceLockPath()).getLockInfo(&pid, &host, &application));
    QVERIFY(pid > 0);
#ifdef Q_OS_UNIX
    QCOMPARE(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
#endif
}

void TestReceiver::oversizeRecordIsCut()
{
    const QByteArray text(100 * 1024, 't');
    auto sender = startSender(port, record("Big", "505", text));
    QTRY_COMPARE(shown(), 1);
    QCOMPARE(newest(MessageModel::NameColumn), QStringLiteral("Big"));
    QVERIFY(newest(MessageModel::TextColumn).startsWith(QLatin1String("(cut) ttt")));
    QCOMPARE(receiver->messageText->toPlainText().size(), MessageServer::MaxRecordBytes - 8);
    QCOMPARE(receiver->remarks->text(), QStringLiteral("Cut at 64 KiB: the sender sent more."));
    QVERIFY(receiver->remarks->isVisible());
    receivesNormalRecord();
    QVERIFY(receiver->remarks->isHidden());
}

void TestReceiver::slowSendersMeetTheDeadline()
{
    // A byte every 40 ms keeps coming; data does not extend the deadline.
    receiver->server().setDeadline(300);
    auto trickle = startSender(port, record("Slow", "1", "a"), false);
    QVERIFY(trickle->waitForConnected(5000));
    QElapsedTimer connected;
    connected.start();
    QTimer pace;
    connect(&pace, &QTimer::timeout, this, [&] { trickle->write("z"); });
    pace.start(40);
    QTRY_COMPARE(trickle->state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(connected.elapsed() < 700, qPrintable(QString::number(connected.elapsed())));
    QTRY_COMPARE(shown(), 1);
    QVERIFY(newest(MessageModel::TextColumn).startsWith(QLatin1String("(incomplete) a")));
    QCOMPARE(receiver->remarks->text(),
             QStringLiteral("Incomplete: closed before the sender finished."));
    // One that never sends is closed and leaves nothing to show.
    QSignalSpy stored(receiver.get(), &ReceiverWindow::messagesShown);
    auto silent = startSender(port, QByteArray(), false);
    QTRY_COMPARE(silent->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(receiver->server().connectionCount(), 0);
    receivesNormalRecord();
    QCOMPARE(stored.count(), 1);
}

void TestReceiver::tricklersMakeRoomForAnHonestSender()
{
    std::vector<std::unique_ptr<QTcpSocket>> tricklers;
    for (int i = 0; i < MessageServer::MaxConnections; ++i)
        tricklers.push_back(startSender(port, QByteArray::number(i), false));
    QTRY_COMPARE(receiver->server().connectionCount(), MessageServer::MaxConnections);
    QElapsedTimer waited;
    waited.start();
    auto honest = startSender(port, record("Ann", "505", "let me in"));
    QTRY_COMPARE_WITH_TIMEOUT(names().value(0), QStringLiteral("Ann"), 1000);
    QVERIFY(waited.elapsed() < 1000);
    // The one open longest made room; the others are still being read.
    QTRY_COMPARE(tricklers.front()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(receiver->server().connectionCount(), MessageServer::MaxConnections - 1);
}

void TestReceiver::oldestMessagesMakeRoom()
{
    receiver->setMaxKeptMessages(3);
    for (int i = 1; i <= 5; ++i) {
        auto sender = startSender(port, record("Ann", "505", QByteArray::number(i)));
        QTRY_VERIFY(shown() > 0 && newest(MessageModel::TextColumn) == QString::number(i));
    }
    QCOMPARE(shown(), 3);
    select(2);
    QCOMPARE(receiver->messageText->toPlainText(), QStringLiteral("3"));
    // A new message pushes out the oldest, even when it is the one selected.
    auto sender = startSender(port, record("Ann", "505", "6"));
    QTRY_COMPARE(newest(MessageModel::TextColumn), QStringLiteral("6"));
    QCOMPARE(shown(), 3);
    QCOMPARE(cell(2, MessageModel::TextColumn), QStringLiteral("4"));
    QVERIFY(selectedRows().isEmpty());
}

void TestReceiver::historyOutlivesTheReceiver()
{
    send("Ann", "kept");
    send("Bob", "deleted");
    select(0);
    receiver->deleteButton->click();
    QCOMPARE(names(), QStringList{"Ann"});
    receiver.reset();
    {
        // Older than the retention setting allows.
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(History::defaultPath());
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(
            QStringLiteral("INSERT INTO messages VALUES(NULL, %1, '1.2.3.4', 'Old', '1', 'x', "
                           "0, 0, 0)")
                .arg(QDateTime::currentDateTimeUtc().addDays(-8).toMSecsSinceEpoch())));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    SettingsStore(StoreKeys::Application)
        .SaveSetting(ReceiverWindow::ReceiverSection, ReceiverWindow::KeepDaysKey, "7");

    // A receiver killed right after showing a message.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TST_RECEIVER_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QTRY_VERIFY(child.canReadLine());
    QCOMPARE(child.readLine(), QByteArray("listening\n"));
    auto sender = startSender(port, record("Cy", "505", "last words"));
    QTRY_VERIFY(child.canReadLine());
    QCOMPARE(child.readLine(), QByteArray("shown\n"));
    QCOMPARE(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    QVERIFY(child.waitForFinished());

    receiver = std::make_unique<ReceiverWindow>();
    QCOMPARE(names(), (QStringList{"Cy", "Ann"}));
    QCOMPARE(receiver->fromName->text(), QStringLiteral("Cy"));
    QCOMPARE(receiver->keepDays->currentText(), QStringLiteral("7 days"));
}

void TestReceiver::searchFindsNameAddressOrText_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("name") << "ANN" << QStringList{"Ann"};
    QTest::newRow("text") << "off" << QStringList{"Bob"};
    QTest::newRow("wildcards are text") << "0%" << QStringList{"Bob"};
    QTest::newRow("address") << "127.0.0" << QStringList{"Cy", "Bob", "Ann"};
    QTest::newRow("nothing") << "zz" << QStringList{};
}

void TestReceiver::searchFindsNameAddressOrText()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, found);
    send("Ann", "hello");
    send("Bob", "50% off");
    send("Cy", "a_b");
    QTest::keyClicks(receiver->search, filter);
    QCOMPARE(names(), found);
    // A new message shows only if it matches.
    send("Dee", "off again");
    QCOMPARE(names().contains("Dee"), filter == "off" || filter == "127.0.0");
    receiver->search->clear();
    QCOMPARE(names(), (QStringList{"Dee", "Cy", "Bob", "Ann"}));
}

void TestReceiver::unusableHistoryIsReported_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("reason");
    QTest::newRow("damaged") << true << "file is not a database";
    QTest::newRow("in use") << false
                            << QStringLiteral("another message receiver (process %1) is using it")
                                   .arg(QCoreApplication::applicationPid());
}

void TestReceiver::unusableHistoryIsReported()
{
    QFETCH(bool, damaged);
    QFETCH(QString, reason);
    if (damaged) {
        receiver.reset();
        QFile file(History::defaultPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    port = freePort();
    storeReplyPort(QString::number(port));
    ReceiverWindow window;
    QVERIFY(window.startListening());
    QCOMPARE(window.historyStatus->text(),
             QStringLiteral("The message history %1 cannot be used: %2. Messages are kept in "
                            "memory only and are lost when the receiver closes.")
                 .arg(History::defaultPath(), reason));
    // Messages still come, from memory.
    auto sender = startSender(port, record("Ann", "505", "unkept"));
    QTRY_COMPARE(window.model().rowCount(), 1);
    QCOMPARE(window.messageText->toPlainText(), QStringLiteral("unkept"));
}

void TestReceiver::notifiesWhenInactive()
{
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (!daemon.waitForStarted())
        QSKIP("dbus-daemon is not installed.");
    QTRY_VERIFY(daemon.canReadLine());
    const QByteArray address = daemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    receiver = std::make_unique<ReceiverWindow>();
    QVERIFY(receiver->startListening());
    NotificationService service;
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("service"));
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QWidget elsewhere;
    ShowAndActivate(&elsewhere);

    send("Ann", "first line\r\nsecond <line>");
    QTRY_COMPARE(service.calls.size(), 1);
    const QStringList actions{"default", "Show"};
    QCOMPARE(service.calls[0], (QVariantList{0u, "Ann", "first line", actions}));
    // A burst folds into the notification shown.
    send("Bob", "<b>again</b>");
    QTRY_COMPARE(service.calls.size(), 2);
    QCOMPARE(service.calls[1], (QVariantList{7u, "Bob", "&lt;b&gt;again&lt;/b&gt;", actions}));
    QVERIFY(!receiver->isActiveWindow());

    // Clicking brings the window forward on that message.
    select(1);
    QDBusMessage click = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    click << 7u << QStringLiteral("default");
    QVERIFY(bus.send(click));
    QTRY_COMPARE(QApplication::activeWindow(), receiver.get());
    QCOMPARE(receiver->fromName->text(), QStringLiteral("Bob"));
    receiver.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
}

void TestReceiver::portProblemsAreExplained()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    const quint16 taken = occupant.serverPort();
    storeReplyPort(QString::number(taken));
    ReceiverWindow second;
    QVERIFY(!second.startListening());
    QVERIFY(second.status->text().startsWith(
        QStringLiteral("Cannot receive messages on port %1: another program is already using "
                       "it (")
            .arg(taken)));
    QCOMPARE(second.newPort->text(), QString::number(taken));
    QVERIFY(second.newPort->hasSelectedText());

    storeReplyPort(QStringLiteral("70000"));
    QVERIFY(!second.startListening());
    QCOMPARE(second.status->text(),
             QStringLiteral("Cannot receive messages: the reply port 70000 in the settings is not "
                            "a port from 1 to 65535. Choose another reply port below."));

    // The port typed in is checked before anything is saved.
    second.newPort->setText(QStringLiteral("0"));
    second.changePort->click();
    QCOMPARE(second.status->text(), QStringLiteral("\"0\" is not a port from 1 to 65535. Choose "
                                                   "another reply port below."));
    QCOMPARE(ReadStoreSections()["Identification"]["MyPortnb"], QStringLiteral("70000"));
}

void TestReceiver::privilegedPortOffersAnotherPort()
{
#ifdef Q_OS_LINUX
    const NoPrivilegedPorts unprivileged;
#endif
    {
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, 505))
            QSKIP("This system lets the test open port 505.");
    }
    SettingsStore(StoreKeys::Application)
        .DeleteSetting(StoreKeys::IdentificationSection, StoreKeys::MyPortnb);
    ReceiverWindow fresh;
    fresh.show();
    QVERIFY(!fresh.startListening());
    QVERIFY(fresh.status->text().startsWith(
        QStringLiteral("Cannot receive messages on port 505: ports below 1024 need administrator "
                       "rights on this system (")));
    QCOMPARE(fresh.focusWidget(), fresh.newPort);

    const quint16 other = freePort();
    fresh.newPort->setText(QString::number(other));
    fresh.changePort->click();
    QVERIFY(fresh.status->text().startsWith(
        QStringLiteral("Receiving messages on port %1 (IPv4 and IPv6). The reply port is now %1.")
            .arg(other)));
    QCOMPARE(ReadStoreSections()["Identification"]["MyPortnb"], QString::number(other));
    auto sender = startSender(other, record("Ann", "1", "on the new port"));
    QTRY_COMPARE(fresh.model().rowCount(), 1);
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The receiver of historyOutlivesTheReceiver, as a process of its own.
    if (qEnvironmentVariableIsSet("TST_RECEIVER_CHILD")) {
        ReceiverWindow window;
        window.show();
        if (!window.startListening())
            return 1;
        std::puts("listening");
        std::fflush(stdout);
        QObject::connect(&window, &ReceiverWindow::messagesShown, [] {
            std::puts("shown");
            std::fflush(stdout);
        });
        return QApplication::exec();
    }
    TestReceiver test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_receiver.moc"
