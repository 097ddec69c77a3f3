// The message receiver against real senders on 127.0.0.1, [::1] and across a veth pair
// between two network namespaces, the real store, history file, reply channel (served by a
// SendForm in this process, or by a started quorvane) and a private D-Bus session bus.

#include "TestSupport.h"
#include "messaging/ReplyRequests.h"
#include "platform/NetworkAnnouncement.h"
#include "platform/RuntimePaths.h"
#include "receiver/Notifier.h"
#include "receiver/ReceiverWindow.h"
#include "receiver/ReplyRequester.h"
#include "windows/Modify_or_add.h"
#include "windows/NetworkPicker.h"
#include "windows/SendForm.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QListView>
#include <QListWidget>
#include <QLockFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <linux/capability.h>
#include <memory>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, 0) ? probe.serverPort() : 0;
}

// A sender on the event loop: connects, writes and, unless told otherwise, closes.
std::unique_ptr<QTcpSocket> startSender(quint16 port, const QByteArray& bytes, bool close = true,
                                        const QHostAddress& host = QHostAddress::LocalHost)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(host, port);
    socket->write(bytes);
    if (close)
        socket->disconnectFromHost();
    return socket;
}

QByteArray record(const QByteArray& name, const QByteArray& port, const QByteArray& text)
{
    return name + '\0' + port + '\0' + text;
}

// Stands in for the desktop's notification service: records each Notify call, and answers
// it unless told not to.
class NotificationService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<QVariantList> calls;
    bool answers = true;
public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int)
    {
        calls.append({replaces, summary, body, actions});
        setDelayedReply(!answers);
        return 7;
    }
};

// Two network namespaces joined by a veth pair, 10.213.0.1 in `a` and 10.213.0.2 in `b`,
// removed again at the end. enter() moves this thread's new sockets into one of them until
// the hosts go.
class TwoHosts
{
public:
    TwoHosts()
    {
        const QString va = a + 'v', vb = b + 'v';
        for (const QStringList& args :
             {QStringList{"netns", "add", a},
              {"netns", "add", b},
              {"link", "add", va, "netns", a, "type", "veth", "peer", "name", vb, "netns", b},
              {"-n", a, "addr", "add", "10.213.0.1/30", "dev", va},
              {"-n", b, "addr", "add", "10.213.0.2/30", "dev", vb},
              {"-n", a, "link", "set", va, "up"},
              {"-n", b, "link", "set", vb, "up"}})
            if (problem.isEmpty() && QProcess::execute(QStringLiteral("ip"), args) != 0)
                problem = "cannot create network namespaces (ip " + args.join(' ') + ')';
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

    const QString a = QStringLiteral("qv%1a").arg(getpid()),
                  b = QStringLiteral("qv%1b").arg(getpid());
    QString problem;

private:
    const int home = ::open("/proc/self/ns/net", O_RDONLY);
};

} // namespace

class TestReceiver : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void recordsAreShown_data();
    void recordsAreShown();
    void replyFromSenderToReceiverAndBack_data();
    void replyFromSenderToReceiverAndBack();
    void replyStartsQuorvaneWhenNoneRuns();
    void slowSendersMeetTheDeadline();
    void tricklersMakeRoomForAnHonestSender();
    void oldestMessagesMakeRoom();
    void historyOutlivesTheReceiver();
    void shownMessagesAreStoredOnceTheFaultGoes_data();
    void shownMessagesAreStoredOnceTheFaultGoes();
    void conversationsHoldBothDirections();
    void searchFindsNameAddressOrText_data();
    void searchFindsNameAddressOrText();
    void notifiesWhenInactive_data();
    void notifiesWhenInactive();
    void portProblemsAreExplained_data();
    void portProblemsAreExplained();
    void announcedWhileListening();
    void movedCorrespondentIsFollowedWhenAsked_data();
    void movedCorrespondentIsFollowedWhenAsked();

private:
    QString newest(int column) const
    {
        return receiver->model().index(0, column).data().toString();
    }
    // The senders listed, newest first; what a Quorvane in this process sent, and which the
    // receiver lists within a second, is left out.
    QStringList names() const
    {
        QStringList found;
        for (int row = 0; row < receiver->model().rowCount(); ++row)
            if (!receiver->model().message(row).sent)
                found << receiver->model().index(row, MessageModel::NameColumn).data().toString();
        return found;
    }
    QString status() const { return receiver->statusBar()->currentMessage(); }
    QStringList conversations() const
    {
        QStringList found;
        for (int row = 0; row < receiver->conversations().rowCount(); ++row)
            found << receiver->conversations().index(row).data().toString();
        return found;
    }
    // Oldest first, as name|text: what the list shows, and what the history file holds.
    QStringList shownRows() const
    {
        QStringList rows;
        for (int row = receiver->model().rowCount() - 1; row >= 0; --row)
            rows << receiver->model().message(row).name + '|' + receiver->model().message(row).text;
        return rows;
    }
    static QStringList storedRows()
    {
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
            db.setDatabaseName(History::defaultPath());
            QSqlQuery query(db);
            if (db.open() && query.exec("SELECT name, text FROM messages ORDER BY id"))
                while (query.next())
                    rows << query.value(0).toString() + '|' + query.value(1).toString();
        }
        QSqlDatabase::removeDatabase("check");
        return rows;
    }
    // Sends the records in this order, each once the one before has arrived, and waits until
    // the list has taken them all: one wait for the whole batch rather than one per message.
    void send(const QList<QByteArray>& records, const QHostAddress& from = QHostAddress::LocalHost)
    {
        QSignalSpy listed(receiver.get(), &ReceiverWindow::messagesShown);
        for (const QByteArray& bytes : records) {
            const auto sender = startSender(port, bytes, true, from);
            QVERIFY(QSignalSpy(&receiver->server(), &MessageServer::recordReceived).wait());
        }
        int count = 0;
        while (count < records.size() && (!listed.isEmpty() || listed.wait()))
            count += listed.takeFirst().at(0).toInt();
        QCOMPARE(count, records.size());
    }

    void makeReceiver();
    bool avahiRuns()
    {
        return (avahi ? avahi : avahi = std::make_unique<PrivateAvahi>())->problem.isEmpty();
    }
    // As avahi-browse prints a receiver that comes, or, without a port, goes.
    QString event(const QString& instance, quint16 on = 0, const QString& name = {}) const
    {
        const QString line =
            QString("=;lo;IPv4;%1;_quorvane._tcp;local;%2;127.0.0.1;%3;\"v=1\" \"name=%4\"")
                .arg(instance, avahi->host, QString::number(on), name)
                .replace("ë", "\\195\\171")
                .replace(" #", "\\032\\035");
        return on ? line : "-;" + line.section(';', 1, 5);
    }
    // Whether avahi-browse prints `line` within 10 s; that line is then taken out.
    bool hears(const QString& line)
    {
        if (!QTest::qWaitFor([&] { return avahi->browsed().contains(line); }, 10000))
            return qWarning().noquote() << avahi->heard << "lacks" << line, false;
        avahi->heard.remove(avahi->heard.indexOf(line), line.size());
        return true;
    }
    void identify(const QString& name)
    {
        WriteStoreFile("[Identification]\nMyUsername=" + name.toUtf8() +
                       "\nMyPortnb=" + QByteArray::number(port) + '\n');
    }

    TestFolders folders;
    std::unique_ptr<QTemporaryDir> data;
    quint16 port = 0;
    std::unique_ptr<ReceiverWindow> receiver;
    BoxRecorder recorder;
    std::unique_ptr<PrivateAvahi> avahi;
};

void TestReceiver::init()
{
    receiver.reset();
    recorder.boxes.clear();
    // A history of its own for each case, a store holding just its reply port, and no
    // notification service.
    data = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", data->path().toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    // Nothing is announced on the machine's own network, only on the test's daemon.
    if (!avahi)
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    port = freePort();
    WriteStoreFile("[Identification]\nMyPortnb=" + QByteArray::number(port) +
                   "\n[Receiver]\nKeepDays=-3\n");
    makeReceiver();
    QVERIFY(receiver->historyStatus->isHidden());
    QCOMPARE(receiver->keepDays->currentText(), QStringLiteral("everything"));
}

void TestReceiver::makeReceiver()
{
    receiver.reset();
    receiver = std::make_unique<ReceiverWindow>();
    receiver->history().setBusyTimeout(50);
    receiver->history().setMaxRetryPause(50);
    receiver->show();
    QVERIFY(receiver->startListening());
    // Opened, and listed, before anything arrives.
    QVERIFY(QSignalSpy(&receiver->history(), &History::found).wait());
}

void TestReceiver::recordsAreShown_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("fields");  // name|port|text as shown
    QTest::addColumn<QString>("remarks"); // below the fields; hidden when empty
    QTest::addColumn<QString>("reply");   // what Reply says, when it cannot hand the reply over
    QTest::addColumn<QString>("from");

    const auto row = [](const char* name, const QByteArray& bytes, const QString& fields,
                        QString remarks = {}, QString reply = {}, QString from = "127.0.0.1") {
        QTest::newRow(name) << bytes << fields << remarks << reply << from;
    };
    const auto malformed = "Malformed: fewer than two NUL bytes; the bytes are shown as they came.";
    // Lines, so that showing it costs no more than cutting it.
    const QByteArray big = QByteArray("0123456789abcde\n").repeated(6400);
    const QByteArray euros = QByteArray("\xe2\x82\xac").repeated(80);
    // clang-format off
    row("example", QByteArray::fromHex("4d 65 00 35 30 35 00 48 69"), "Me|505|Hi");
    row("empty text", record("Me", "505", ""), "Me|505|");
    row("CR LF and lone CR", record("A", "1", "one\r\ntwo\rthree\r\n"), "A|1|one\ntwo\nthree\n");
    row("8-bit name", record("Zo\xc3\xab", "7000", "\xe2\x82\xac"), QStringLiteral("Zoë|7000|€"));
    row("empty name, odd port", record("", " 12x", "x"), "| 12x|x");
    row("NUL in the text", record("B", "2", QByteArray("a\0b", 3)), QStringLiteral("B|2|a\u2400b"));
    row("no NUL", "Bob 505 Hi\xff\\", "malformed||Bob 505 Hi\\xff\\\\", malformed);
    row("one NUL", QByteArray("Bob\0" "505\r\n", 9), "malformed||Bob\\0505\\r\\n", malformed);
    // 64 KiB less "Big", "505" and the two NULs.
    row("100 KiB", record("Big", "505", big), "Big|505|" + QString::fromLatin1(big.left(65528)),
        "Cut at 64 KiB: the sender sent more.");
    // Quorvane keeps IPv4 correspondents only: say so rather than send a request it drops.
    row("from ::1", record("six", "1", "b"), "six|1|b", "", "Quorvane can only reply to IPv4 "
        "addresses, and this message came from ::1.", "::1");
    row("port 70000", record("Bob", "70000", "x"), "Bob|70000|x", "",
        "The sender gave no usable reply port (\"70000\"), so Quorvane could not answer.");
    row("name of 129 characters", record(QByteArray(129, 'n'), "505", "x"),
        QString(129, 'n') + "|505|x", "", "Quorvane cannot take the sender's name into its "
        "list: a name has 1 to 128 characters besides spaces around it.");
    row("name of 240 bytes", record(euros, "505", "x"), QString::fromUtf8(euros) + "|505|x", "",
        "The sender's name is too long for a reply request (Quorvane reads at most 254 bytes).");
    // clang-format on
}

void TestReceiver::recordsAreShown()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fields);
    QFETCH(QString, remarks);
    QFETCH(QString, reply);
    QFETCH(QString, from);
    send({bytes}, QHostAddress(from));
    QCOMPARE(newest(MessageModel::AddressColumn), from);
    // The list marks a cut record; the remarks say why.
    QCOMPARE(newest(MessageModel::TextColumn).startsWith(QLatin1String("(cut) 0123")),
             remarks.startsWith(QLatin1String("Cut")));
    QCOMPARE(receiver->fromName->text(), fields.section('|', 0, 0));
    QCOMPARE(receiver->fromAddress->text(), from);
    QCOMPARE(receiver->fromPort->text(), fields.section('|', 1, 1));
    QCOMPARE(receiver->messageText->toPlainText(), fields.section('|', 2));
    // As kept, too: the text box would show a lone CR as a line break either way.
    QCOMPARE(receiver->model().message(0).text, fields.section('|', 2));
    QCOMPARE(receiver->remarks->text(), remarks);
    QCOMPARE(receiver->remarks->isVisible(), !remarks.isEmpty());
    QCOMPARE(receiver->replyButton->isEnabled(), !remarks.startsWith(QLatin1String("Malformed")));
    if (!reply.isEmpty()) {
        receiver->replyButton->click();
        QCOMPARE(recorder.said(), QStringList{QStringLiteral("Reply: ") + reply});
        QCOMPARE(receiver->requester().pendingCount(), 0);
    }
}

void TestReceiver::replyFromSenderToReceiverAndBack_data()
{
    QTest::addColumn<QString>("from"); // the sender's address
    QTest::addColumn<QString>("to");   // the receiver's
    // clang-format off
    QTest::newRow("one host") << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("two hosts") << "10.213.0.1" << "10.213.0.2";
    // clang-format on
}

// Quorvane in this process, with the receiver as its one correspondent, sends to it; Reply
// in the receiver's window puts the sender into Quorvane's list.
void TestReceiver::replyFromSenderToReceiverAndBack()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    std::unique_ptr<TwoHosts> hosts;
    if (from != to) {
        hosts = std::make_unique<TwoHosts>();
        if (!hosts->problem.isEmpty())
            QSKIP(qPrintable(hosts->problem));
        // The receiver listens in b, Quorvane sends from a; Reply goes through the local channel.
        QVERIFY(hosts->enter(hosts->b));
        QVERIFY(receiver->startListening());
        QVERIFY(hosts->enter(hosts->a));
    }
    SendForm form;
    QVERIFY(form.Form_Load());
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = false;
    Global::MyUsername = QStringLiteral("Zoë Ånström");
    Global::MyPortnb = 4321;
    Global::Users = DimUsers(1);
    Global::Users[1] = {"receiver", to, port, 1};
    form.FillRecipients(0);
    ShowAndActivate(&form);
    const QString text = QStringLiteral("Hello,\nsecond line\n\n  indented é\n");
    form.Text1->setPlainText(text);
    QSignalSpy listed(receiver.get(), &ReceiverWindow::messagesShown);
    form.Command1->click();
    QVERIFY(!listed.isEmpty() || listed.wait(10000));
    QCOMPARE(names(), QStringList{Global::MyUsername});
    QCOMPARE(newest(MessageModel::TextColumn), QStringLiteral("Hello,"));
    QCOMPARE(receiver->messageText->toPlainText(), text);
    // With no notification service and no system tray the window comes forward itself.
    QTRY_COMPARE(QApplication::activeWindow(), receiver.get());
    QTRY_VERIFY(!MainWindowActive());

    // Quorvane announces the request and applies it once its main window is active again.
    receiver->replyButton->click();
    QTRY_COMPARE(receiver->requester().pendingCount(), 0);
    QCOMPARE(recorder.said(),
             QStringList{"Reply: Return to main menu for reply to user Zoë Ånström"});
    QCOMPARE(status(), QStringLiteral("Quorvane has the reply request."));
    form.activateWindow();
    QTRY_COMPARE(form.Combo1->currentIndex(), 1);
    QCOMPARE(UBound(Global::Users), 2);
    QCOMPARE(Global::Users[2].name, Global::MyUsername);
    QCOMPARE(Global::Users[2].ip, from);
    QCOMPARE(Global::Users[2].port, 4321);
    form.Form_Unload();
}

void TestReceiver::replyStartsQuorvaneWhenNoneRuns()
{
    send({record("Bob", "505", "hi")});
    // Runtime and config folders of its own, so that the quorvane started from here serves
    // a channel of its own.
    const PrivateFolders other;
    const auto use = [](const PrivateFolders& chosen) {
        qputenv("XDG_RUNTIME_DIR", chosen.runtime().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", chosen.config().toLocal8Bit());
    };
    use(other);
    const auto restore = qScopeGuard([&] { use(folders); });
    ReplyRequester& requester = receiver->requester();
    QSignalSpy finished(&requester, &ReplyRequester::finished);
    // What Reply says with `program` as the copy to start: nothing when Quorvane takes it.
    const auto replyStarting = [&](const QString& program, int startTimeout, const QString& box) {
        recorder.boxes.clear();
        requester.setSenderProgram(program);
        requester.setStartTimeout(startTimeout);
        receiver->replyButton->click();
        QVERIFY(status().startsWith(QLatin1String("Handing the reply to Bob")));
        QVERIFY(finished.wait(20000));
        QCOMPARE(recorder.said(), box.isEmpty() ? QStringList() : QStringList{"Reply: " + box});
    };

    QFile plain(other.config() + "/quorvane"); // a file, but not a program
    QVERIFY(plain.open(QIODevice::WriteOnly));
    replyStarting(plain.fileName(), 15000,
                  "Quorvane is not running, and it could not be started: there is no program at " +
                      plain.fileName() + ".");
    // A program that never serves the channel is given up after the start timeout.
    replyStarting("/bin/true", 100, "Quorvane was started but did not answer within 0.1 seconds.");
    // The real one: started, and the request handed over once its channel answers.
    replyStarting(QUORVANE_BINARY, 15000, QString());
    QCOMPARE(status(), QStringLiteral("Quorvane has the reply request."));
    qint64 pid = 0;
    QString host, application;
    QVERIFY(QLockFile(InstanceLockPath()).getLockInfo(&pid, &host, &application));
    QVERIFY(pid > 0 && ::kill(static_cast<pid_t>(pid), SIGKILL) == 0);
}

void TestReceiver::slowSendersMeetTheDeadline()
{
    // A byte every 20 ms keeps coming; data does not extend the deadline. One that never
    // sends is closed as well, and leaves nothing to show.
    receiver->server().setDeadline(100);
    QSignalSpy listed(receiver.get(), &ReceiverWindow::messagesShown);
    auto trickle = startSender(port, record("Slow", "1", "a"), false);
    auto silent = startSender(port, QByteArray(), false);
    QVERIFY(trickle->waitForConnected(5000));
    const QDeadlineTimer deadline(100, Qt::PreciseTimer);
    QTimer pace;
    connect(&pace, &QTimer::timeout, this, [&] { trickle->write("z"); });
    pace.start(20);
    QSignalSpy closed(trickle.get(), &QTcpSocket::disconnected);
    // Closed not before the deadline, nor long after it.
    QVERIFY(closed.wait(500));
    QVERIFY(deadline.hasExpired());
    QVERIFY(!listed.isEmpty() || listed.wait());
    QVERIFY(newest(MessageModel::TextColumn).startsWith(QLatin1String("(incomplete) a")));
    QCOMPARE(receiver->remarks->text(),
             QStringLiteral("Incomplete: closed before the sender finished."));
    QTRY_COMPARE(silent->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(receiver->server().connectionCount(), 0);
    send({record("Ann", "505", "still here")});
    QCOMPARE(names(), (QStringList{"Ann", "Slow"}));
    QVERIFY(receiver->remarks->isHidden());
}

void TestReceiver::tricklersMakeRoomForAnHonestSender()
{
    std::vector<std::unique_ptr<QTcpSocket>> tricklers;
    for (int i = 0; i < MessageServer::MaxConnections; ++i)
        tricklers.push_back(startSender(port, QByteArray::number(i), false));
    QTRY_COMPARE(receiver->server().connectionCount(), MessageServer::MaxConnections);
    auto honest = startSender(port, record("Ann", "505", "let me in"));
    QTRY_COMPARE_WITH_TIMEOUT(names().value(0), QStringLiteral("Ann"), 1000);
    // The one open longest made room; the others are still being read.
    QTRY_COMPARE(tricklers.front()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(receiver->server().connectionCount(), MessageServer::MaxConnections - 1);

    // Out of descriptors, a sender waits without spinning the event loop, and is let in once
    // some are free.
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    int top = client; // under the limit, as poll() asks
    for (const QString& fd : QDir("/proc/self/fd").entryList(QDir::Files | QDir::System))
        top = std::max(top, fd.toInt());
    const rlimit low{rlim_t(top) + 8, limit.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> taken{client};
    // Also when the case ends early: a starved process would fail every case after it.
    const auto giveBack = [&] {
        for (const int fd : std::exchange(taken, {}))
            ::close(fd);
        return ::setrlimit(RLIMIT_NOFILE, &limit);
    };
    const auto atEnd = qScopeGuard(giveBack);
    for (int fd; (fd = ::dup(client)) >= 0;)
        taken.push_back(fd);
    sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    QCOMPARE(::connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    QCOMPARE(::write(client, record("Bob", "505", "no room").constData(), 15), 15);
    int wakes = 0;
    const auto count = connect(QAbstractEventDispatcher::instance(), // a pass of the loop
                               &QAbstractEventDispatcher::awake, this, [&] { ++wakes; });
    QTest::qWait(250);
    disconnect(count);
    QCOMPARE(giveBack(), 0);
    QTRY_COMPARE(names().value(0), QStringLiteral("Bob"));
    QVERIFY2(wakes < 100, qPrintable(QString::number(wakes)));
}

void TestReceiver::oldestMessagesMakeRoom()
{
    receiver->setMaxKeptMessages(3);
    send({record("1", "505", "x"), record("2", "505", "x"), record("3", "505", "x"),
          record("4", "505", "x"), record("5", "505", "x")});
    // Newest first, and the selection follows the newest...
    QCOMPARE(names(), (QStringList{"5", "4", "3"}));
    QCOMPARE(receiver->fromName->text(), QStringLiteral("5"));
    // ...unless an older message is being read: that one stays selected...
    receiver->messageList->selectRow(1);
    send({record("6", "505", "x")});
    QCOMPARE(names(), (QStringList{"6", "5", "4"}));
    QCOMPARE(receiver->fromName->text(), QStringLiteral("4"));
    // ...until, the oldest, it makes room for a new one.
    send({record("7", "505", "x")});
    QCOMPARE(names(), (QStringList{"7", "6", "5"}));
    QCOMPARE(receiver->fromName->text(), QString());
    QVERIFY(!receiver->replyButton->isEnabled());
}

void TestReceiver::historyOutlivesTheReceiver()
{
    send({record("Ann", "505", "kept"), record("Bob", "505", "deleted")});
    receiver->deleteButton->click();
    QTRY_COMPARE(names(), QStringList{"Ann"});
    // Older than the retention setting allows, received and sent.
    for (bool sent : {false, true}) {
        StoredMessage old{0,  QDateTime::currentDateTimeUtc().addDays(-8), "1.2.3.4", "Old", "1",
                          "x"};
        old.sent = sent;
        receiver->history().add(old);
        QVERIFY(QSignalSpy(&receiver->history(), &History::ready).wait());
    }
    receiver.reset();
    WriteStoreFile("[Identification]\nMyPortnb=" + QByteArray::number(port) +
                   "\n[Receiver]\nKeepDays=7\n");

    // A receiver killed right after showing a message.
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--receiver")});
    QTRY_VERIFY(child.canReadLine());
    QCOMPARE(child.readLine(), QByteArray("listening\n"));
    // The history is that receiver's while it runs; a receiver killed leaves it to the next.
    QVERIFY(ReceiverWindow().historyStatus->text().contains(
        QStringLiteral("another message receiver (process %1) is using it")
            .arg(child.processId())));
    auto sender = startSender(port, record("Cy", "505", "last words"));
    QTRY_VERIFY(child.canReadLine());
    QCOMPARE(child.readLine(), QByteArray("shown\n"));
    child.kill();
    QVERIFY(child.waitForFinished());

    receiver = std::make_unique<ReceiverWindow>();
    QTRY_COMPARE(names(), (QStringList{"Cy", "Ann"}));
    QCOMPARE(receiver->fromName->text(), QStringLiteral("Cy"));
    QCOMPARE(receiver->keepDays->currentText(), QStringLiteral("7 days"));
}

void TestReceiver::shownMessagesAreStoredOnceTheFaultGoes_data()
{
    QTest::addColumn<QString>("told"); // part of the window's line while the fault lasts
    QTest::newRow("empty connections, junk, a refused row") << "1 message could not be stored";
    QTest::newRow("full disk") << "2 messages wait to be stored in %1: database or disk is full";
    QTest::newRow("write lock held, Delete meanwhile") << ": database is locked";
    QTest::newRow("read-only file") << ": attempt to write a readonly database";
    QTest::newRow("file deleted") << "was deleted or replaced while in use";
    QTest::newRow("file replaced by a copy") << "was deleted or replaced while in use";
    QTest::newRow("damaged file at start") << "was damaged (file is not a database). It was "
                                              "moved aside as %1.damaged-";
}

// Each fault ends, with the receiver still running, in every shown message being in the file.
void TestReceiver::shownMessagesAreStoredOnceTheFaultGoes()
{
    QFETCH(QString, told);
    const QByteArray fault = QTest::currentDataTag();
    const QString path = History::defaultPath(), folder = QFileInfo(path).path();
    told.replace("%1", path);
    QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
    other.setDatabaseName(path);
    QSqlQuery sql(other);
    const auto closeOther = qScopeGuard([&] {
        sql = QSqlQuery();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("other");
    });
    QFile filler(folder + "/filler");
    std::optional<QScopeGuard<std::function<void()>>> asUser;
    const auto restore = qScopeGuard([&] {
        asUser.reset();
        receiver.reset();
        if (fault == "full disk")
            QProcess::execute("umount", {folder});
    });
    send({record("Ann", "505", "before")});
    std::function<void()> mend;
    if (fault.startsWith("empty")) {
        QVERIFY(other.open() &&
                sql.exec("CREATE TRIGGER refuse BEFORE INSERT ON messages WHEN NEW.text = "
                         "'poison' BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        std::vector<std::unique_ptr<QTcpSocket>> probes;
        for (int i = 0; i < 3; ++i)
            probes.push_back(startSender(port, QByteArray()));
        send({"no NUL at all", QByteArray("one\0NUL", 8), record("Bob", "505", "poison"),
              record("Cy", "505", "after")});
        QCOMPARE(receiver->history().lost(), 1);
        QCOMPARE(receiver->model().rowCount(), 5);
        mend = [&] {};
    } else if (fault == "full disk") {
        if (geteuid() != 0)
            QSKIP("filling a small file system needs root to mount it");
        receiver.reset();
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", folder}) != 0)
            QSKIP("no tmpfs could be mounted here");
        makeReceiver();
        send({record("Ann", "505", "before")});
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
        }
        filler.close(); // what it could not write is lost, and its error with it
        mend = [&] { QVERIFY(QFile::remove(filler.fileName())); };
    } else if (fault.startsWith("write lock")) {
        // A pause longer than the case: what comes after the lock is taken again is tried at
        // once, with all that waits.
        receiver->history().setMaxRetryPause(60000);
        send({record("Bob", "505", "deleted while locked")});
        QVERIFY(other.open() && sql.exec("BEGIN IMMEDIATE"));
        receiver->messageList->selectRow(0);
        receiver->deleteButton->click();
        mend = [&] { QVERIFY(sql.exec("COMMIT")); };
    } else if (fault == "read-only file") {
        // As an ordinary user, for whom file modes count, while the history opens.
        asUser.emplace(WithoutCapability(CAP_DAC_OVERRIDE));
        receiver.reset();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        makeReceiver();
        mend = [&] { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner); };
    } else if (fault == "file deleted") {
        QVERIFY(QFile::remove(path));
        QTRY_COMPARE(names(), QStringList());
        mend = [&] {};
    } else if (fault == "file replaced by a copy") {
        // A backup taken now, put in place after one more message.
        QVERIFY(other.open() && sql.exec("VACUUM INTO '" + path + ".copy'"));
        send({record("Bob", "505", "only in the old file")});
        QVERIFY(::rename(qPrintable(path + ".copy"), qPrintable(path)) == 0);
        QTRY_COMPARE(names(), QStringList{"Ann"});
        mend = [&] {};
    } else {
        receiver.reset();
        QFile::remove(path);
        QFile garbage(path);
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')));
        garbage.close();
        makeReceiver();
        QFile aside(QDir(folder).entryInfoList({"messages.sqlite.damaged-*"}).value(0).filePath());
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray(4096, 'x'));
        mend = [&] {};
    }
    send({record("Dee", "505", "during"), record("Eve", "505", "during")});
    QVERIFY2(receiver->historyStatus->text().contains(told),
             qPrintable(receiver->historyStatus->text()));
    if (fault.startsWith("write lock")) {
        // Closing asks, and tries again when told to.
        SetNextAnswer(true);
        QVERIFY(receiver->close());
        const QString asked = "Received Messages: 2 messages could not be stored in the message "
                              "history " +
                              path + " yet: database is locked.";
        QCOMPARE(recorder.said(), QStringList({asked, asked}));
    }
    mend();
    if (!fault.startsWith("write lock"))
        QTRY_VERIFY2(receiver->history().waiting() == 0 && receiver->history().problem().isEmpty(),
                     qPrintable(receiver->historyStatus->text()));
    send({record("Fay", "505", "after")});
    QTRY_VERIFY2(receiver->history().waiting() == 0 && receiver->history().problem().isEmpty(),
                 qPrintable(receiver->historyStatus->text()));
    const auto shownNow = [this] {
        QStringList rows = shownRows();
        rows.removeAll("Bob|poison"); // told as lost
        return rows;
    };
    QTRY_COMPARE(storedRows(), shownNow());
    const QStringList shown = shownNow();
    QVERIFY(!shown.contains("Bob|deleted while locked"));
    // Stored for good: a new receiver lists the same, and a replaced file took no old log.
    makeReceiver();
    QTRY_COMPARE(shownRows(), shown);
}

// A history of the first version keeps every message. What Quorvane sends shows within a
// second beside what came back, in the conversation with that correspondent; search and
// Delete take both directions.
void TestReceiver::conversationsHoldBothDirections()
{
    receiver.reset();
    QDir(QFileInfo(History::defaultPath()).path()).removeRecursively();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "first");
        db.setDatabaseName(History::defaultPath());
        QSqlQuery sql(db);
        QVERIFY(QDir().mkpath(QFileInfo(History::defaultPath()).path()) && db.open());
        for (const char* statement :
             {"CREATE TABLE messages(id INTEGER PRIMARY KEY, received INTEGER NOT NULL, address "
              "TEXT NOT NULL, name TEXT NOT NULL, port TEXT NOT NULL, text TEXT NOT NULL, cut "
              "INTEGER NOT NULL, malformed INTEGER NOT NULL, incomplete INTEGER NOT NULL)",
              "INSERT INTO messages VALUES(1, 1000, '127.0.0.1', 'Ann', '5', 'first', 0, 0, 0)",
              "INSERT INTO messages VALUES(2, 2000, '10.1.1.1', 'Bob', '5', 'second', 0, 0, 0)",
              "PRAGMA user_version=1"})
            QVERIFY2(sql.exec(statement), statement);
    }
    QSqlDatabase::removeDatabase("first");
    identify("Ann"); // and the shipped retention, which keeps them
    makeReceiver();
    QCOMPARE(shownRows(), (QStringList{"Ann|first", "Bob|second"}));
    QTRY_COMPARE(conversations(),
                 (QStringList{"All messages", "Bob (10.1.1.1)", "Ann (127.0.0.1)"}));

    // Ann writes to herself: what she sends and what comes back make one conversation.
    SendForm form;
    QVERIFY(form.Form_Load());
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = false;
    Global::Users = DimUsers(1);
    Global::Users[1] = {"Ann", "127.0.0.1", port, 1};
    form.FillRecipients(0);
    ShowAndActivate(&form);
    form.Text1->setPlainText("hi");
    form.Command1->click();
    QTRY_VERIFY(form.sentMessages() && form.sentMessages()->waiting() == 0);
    QTRY_COMPARE_WITH_TIMEOUT(shownRows().size(), 4, 1000);
    QTRY_COMPARE(conversations(),
                 (QStringList{"All messages", "Ann (127.0.0.1), 1 unread", "Bob (10.1.1.1)"}));
    const auto listed = [this] {
        QStringList rows;
        for (int row = 0; row < receiver->model().rowCount(); ++row)
            rows << receiver->model().index(row, MessageModel::StatusColumn).data().toString() +
                        '|' + receiver->model().message(row).text;
        return rows;
    };
    ShowAndActivate(receiver.get());
    receiver->conversationList->setCurrentIndex(receiver->conversations().index(1));
    QTRY_COMPARE(listed(), (QStringList{"Received|hi", "Sent, delivered|hi", "Received|first"}));
    QTRY_COMPARE(conversations(),
                 (QStringList{"All messages", "Ann (127.0.0.1)", "Bob (10.1.1.1)"}));
    // Someone else writing meanwhile stays out of it.
    send({record("Cy", "5", "elsewhere")});
    QCOMPARE(listed(), (QStringList{"Received|hi", "Sent, delivered|hi", "Received|first"}));

    QTest::keySequence(receiver.get(), QKeySequence::Find);
    QCOMPARE(receiver->focusWidget(), receiver->search);
    QTest::keyClicks(receiver->search, "hi");
    QTRY_COMPARE(listed(), (QStringList{"Received|hi", "Sent, delivered|hi"}));
    receiver->messageList->selectRow(1);
    receiver->deleteButton->click();
    QTRY_COMPARE(listed(), QStringList{"Received|hi"});
    QCOMPARE(storedRows(), (QStringList{"Ann|first", "Bob|second", "Ann|hi", "Cy|elsewhere"}));
    form.Form_Unload();
}

void TestReceiver::searchFindsNameAddressOrText_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("name") << "ANN" << QStringList{"Ann"};
    QTest::newRow("text") << "off" << QStringList{"Dee", "Bob"};
    QTest::newRow("wildcards are text") << "0%" << QStringList{"Bob"};
    QTest::newRow("address") << "127.0.0" << QStringList{"Dee", "Cy", "Bob", "Ann"};
    QTest::newRow("nothing") << "zz" << QStringList{};
}

void TestReceiver::searchFindsNameAddressOrText()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, found);
    // Messages arriving during a search show only if they match.
    QTest::keyClicks(receiver->search, filter);
    send({record("Ann", "505", "hello"), record("Bob", "505", "50% off"),
          record("Cy", "505", "a_b"), record("Dee", "505", "off again")});
    QTRY_COMPARE(names(), found);
    receiver->search->clear();
    QTRY_COMPARE(names(), (QStringList{"Dee", "Cy", "Bob", "Ann"}));
    QTest::keyClicks(receiver->search, filter);
    QTRY_COMPARE(names(), found);
}

void TestReceiver::notifiesWhenInactive_data()
{
    QTest::addColumn<bool>("answers");
    QTest::newRow("service answers") << true;
    QTest::newRow("service never answers") << false;
}

void TestReceiver::notifiesWhenInactive()
{
    QFETCH(bool, answers);
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (!daemon.waitForStarted())
        QSKIP("dbus-daemon is not installed.");
    QTRY_VERIFY(daemon.canReadLine());
    const QByteArray address = daemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    receiver = std::make_unique<ReceiverWindow>();
    QVERIFY(receiver->startListening());
    // Never destroyed: the bus's own thread may still read it while it lets go of the
    // connection, after the test has returned.
    static auto* services = new QList<NotificationService*>;
    NotificationService& service = *services->emplace_back(new NotificationService);
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("service"));
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    service.answers = answers;
    QWidget elsewhere;
    ShowAndActivate(&elsewhere);

    send({record("Ann", "505", "first line\r\nsecond <line>")});
    QTRY_COMPARE(service.calls.size(), 1);
    const QStringList actions{"default", "Show"};
    QCOMPARE(service.calls[0], (QVariantList{0u, "Ann", "first line", actions}));
    if (!answers) {
        // One notification for the burst, however long the service keeps silent; its silence
        // takes no focus from the user.
        QSignalSpy unanswered(&receiver->notifications(), &Notifier::unavailable);
        QList<QByteArray> burst;
        for (int i = 0; i < 30; ++i)
            burst << record("Bob", "505", QByteArray::number(i));
        send(burst);
        QVERIFY(unanswered.wait(3 * Notifier::AnswerTimeout));
        send(burst);
        QCOMPARE(service.calls.size(), 1);
        QCOMPARE(unanswered.size(), 1);
        QCOMPARE(QApplication::activeWindow(), &elsewhere);
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        return;
    }
    // A burst folds into the notification shown.
    send({record("Bob", "505", "<b>again</b>")});
    QTRY_COMPARE(service.calls.size(), 2);
    QCOMPARE(service.calls[1], (QVariantList{7u, "Bob", "&lt;b&gt;again&lt;/b&gt;", actions}));
    QVERIFY(!receiver->isActiveWindow());

    // Clicking brings the window forward on that message.
    receiver->messageList->selectRow(1);
    QVERIFY(bus.send(QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                QStringLiteral("org.freedesktop.Notifications"),
                                                QStringLiteral("ActionInvoked"))
                     << 7u << QStringLiteral("default")));
    QTRY_COMPARE(QApplication::activeWindow(), receiver.get());
    QCOMPARE(receiver->fromName->text(), QStringLiteral("Bob"));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
}

void TestReceiver::portProblemsAreExplained_data()
{
    QTest::addColumn<QString>("stored"); // the reply port in the store; %1 is one in use
    QTest::addColumn<QString>("problem");
    // clang-format off
    QTest::newRow("in use") << "%1" << " on port %1: another program is already using it (";
    QTest::newRow("not a port") << "70000" << ": the reply port 70000 in the settings is not a "
        "port from 1 to 65535. Choose another reply port below.";
    QTest::newRow("default, below 1024") << "" << " on port 505: ports below 1024 need "
        "administrator rights on this system (";
    // clang-format on
}

void TestReceiver::portProblemsAreExplained()
{
    QFETCH(QString, stored);
    QFETCH(QString, problem);
    // Without the right to open ports below 1024, as an ordinary user, until the case ends.
    const auto asUser = WithoutCapability(CAP_NET_BIND_SERVICE);
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    stored.replace("%1", QString::number(occupant.serverPort()));
    if (QTcpServer probe; stored.isEmpty() && probe.listen(QHostAddress::Any, 505))
        QSKIP("This system lets the test open port 505.");
    WriteStoreFile(stored.isEmpty() ? QByteArray()
                                    : "[Identification]\nMyPortnb=" + stored.toUtf8());
    QVERIFY(!receiver->startListening());
    QVERIFY2(receiver->status->text().startsWith("Cannot receive messages" +
                                                 problem.replace("%1", stored)),
             qPrintable(receiver->status->text()));
    // The port that failed is the one offered for change, checked before anything is saved.
    QCOMPARE(receiver->newPort->text(), stored.isEmpty() ? QStringLiteral("505") : stored);
    QCOMPARE(receiver->focusWidget(), receiver->newPort);
    QVERIFY(receiver->newPort->hasSelectedText());
    receiver->newPort->setText(QStringLiteral("0"));
    receiver->changePort->click();
    QCOMPARE(receiver->status->text(), QStringLiteral("\"0\" is not a port from 1 to 65535. "
                                                      "Choose another reply port below."));
    QCOMPARE(ReadStoreSections()["Identification"]["MyPortnb"], stored);

    port = freePort();
    receiver->newPort->setText(QString::number(port));
    receiver->changePort->click();
    QVERIFY(receiver->status->text().startsWith(
        QStringLiteral("Receiving messages on port %1 (IPv4 and IPv6). The reply port is now %1.")
            .arg(port)));
    QCOMPARE(ReadStoreSections()["Identification"]["MyPortnb"], QString::number(port));
    send({record("Ann", "1", "on the new port")});
    if (QTest::currentDataTag() != QByteArray("in use"))
        return;

    // Another program holds the store's lock during the next change: the port is listened on
    // and said to be in memory only, and reaches the store once the lock is free.
    const int holder = ::open(qPrintable(StoreFilePath() + ".lock"), O_RDWR | O_CREAT, 0600);
    QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX) == 0);
    const QString before = QString::number(port);
    port = freePort();
    receiver->newPort->setText(QString::number(port));
    receiver->changePort->click();
    QVERIFY2(receiver->status->text().contains(
                 QStringLiteral("The reply port %1 is changed in memory only. The settings could "
                                "not be saved to %2: another program keeps it locked.")
                     .arg(port)
                     .arg(StoreFilePath())),
             qPrintable(receiver->status->text()));
    QCOMPARE(recorder.boxes.size(), 1);
    send({record("Bob", "1", "on the newest port")});
    QCOMPARE(ReadStoreSections()["Identification"]["MyPortnb"], before);
    ::close(holder);
    QTRY_COMPARE(ReadStoreSections()["Identification"]["MyPortnb"], QString::number(port));
    QVERIFY(
        receiver->status->text().contains(QStringLiteral("The reply port is now %1.").arg(port)));
    QCOMPARE(recorder.boxes.size(), 1);
}

// The receiver announces its user while it listens, as avahi-browse hears it: under the daemon's
// other name while another has the user's, again under a new name (cut to a label) or port,
// found by the picker, and withdrawn once unticked, closed or while the daemon is away.
void TestReceiver::announcedWhileListening()
{
    if (!avahi) {
        // Without a system bus one line says why, and messages arrive all the same.
        QCOMPARE(receiver->announceStatus->text(),
                 "Not announced on the local network: no system message bus is running.");
        send({record("Ann", "1", "no bus")});
    }
    if (!avahiRuns())
        QSKIP(qPrintable(avahi->problem));
    const QString name = "Zoë-" + QString::number(port), other(130, 'p'), label(63, 'p');
    NetworkAnnouncement elsewhere; // another computer's receiver
    elsewhere.announce(name, 1);
    identify(name);
    makeReceiver();
    QVERIFY(hears(event(name + " #2", port, name)));
    QTRY_COMPARE(
        receiver->announceStatus->text(),
        QString("Announced on the local network as \"%1 #2\" on port %2.").arg(name).arg(port));
    identify(other);
    QVERIFY(hears(event(name + " #2")));
    QVERIFY(hears(event(label, port, other)));
    const quint16 second = freePort();
    receiver->newPort->setText(QString::number(second));
    receiver->changePort->click();
    QTRY_VERIFY(receiver->announceStatus->text().endsWith(QString(" port %1.").arg(second)));
    QVERIFY(avahi->listenAgain() && hears(event(label, second, other)));

    // The picker lists the person above the computers and fills the user editor.
    const NoRows rows;
    Modify_or_add editor(rows);
    InstallNetworkPicker([&editor] { return &editor; });
    WhenModal<NetworkPicker>([&](NetworkPicker* picker) {
        const auto closeAnyway = qScopeGuard([picker] { picker->isVisible() && picker->close(); });
        QTRY_VERIFY(!picker->people->findItems(other, Qt::MatchExactly).isEmpty() &&
                    !picker->computers->findItems(avahi->host, Qt::MatchExactly).isEmpty());
        QTreeWidgetItem* found = picker->people->findItems(other, Qt::MatchExactly).first();
        QCOMPARE(found->text(1) + ' ' + found->text(2),
                 avahi->host + ' ' + QString::number(second));
        picker->people->setCurrentItem(found);
        picker->ok->click();
    });
    editor.cmdAddNetworkUser->click();
    QCOMPARE(editor.username->text() + ' ' + editor.userip->text() + ' ' + editor.userport->text(),
             other.left(128) + " 127.0.0.1 " + QString::number(second));

    receiver->announceMe->click();
    QVERIFY(hears(event(label)));
    QVERIFY(receiver->announceStatus->isHidden());
    QCOMPARE(ReadStoreSections()["Receiver"]["Announce"], "False");
    receiver->announceMe->click();
    QVERIFY(hears(event(label, second, other)));
    avahi->stopDaemon();
    QTRY_COMPARE(receiver->announceStatus->text(),
                 "Not announced on the local network: the Avahi daemon is not running.");
    QVERIFY(avahi->startDaemon());
    QVERIFY(hears(event(label, second, other)));
    receiver->close();
    QVERIFY(hears(event(label)));
}

void TestReceiver::movedCorrespondentIsFollowedWhenAsked_data()
{
    QTest::addColumn<bool>("follow");
    QTest::newRow("Yes") << true;
    QTest::newRow("No, the default") << false;
}

// A send refused at a correspondent's old port: after the error box, Quorvane asks whether to
// follow them to where they are announced now. Yes updates the entry and sends again.
void TestReceiver::movedCorrespondentIsFollowedWhenAsked()
{
    QFETCH(bool, follow);
    if (!avahiRuns())
        QSKIP(qPrintable(avahi->problem));
    const QString name = "Zoë-" + QString::number(port);
    identify(name);
    makeReceiver();
    QVERIFY(hears(event(name, port, name)));
    SendForm form;
    QVERIFY(form.Form_Load());
    Global::PopupWhenSend = Global::MinimizedWhenSend = false;
    const quint16 old = freePort();
    Global::Users = DimUsers(2);
    Global::Users[1] = {"Ann", "127.0.0.1", old, 1};
    Global::Users[2] = {name, "127.0.0.1", old, 2};
    form.FillRecipients(1);
    form.Text1->setPlainText("moved?");
    // Real boxes, answered as a user would, No with Enter.
    SetMessageBoxAnswerer({});
    const auto restore = qScopeGuard([this] {
        SetMessageBoxAnswerer([this](const QString& t, const QString& x) {
            recorder.boxes.append({t, x});
        });
    });
    QStringList said;
    WhenModal<QMessageBox>([&](QMessageBox* error) {
        said << error->text();
        WhenModal<QMessageBox>([&](QMessageBox* question) {
            said << question->text() << question->defaultButton()->text();
            if (follow)
                question->buttons().at(question->buttons().at(0)->text() != "&Yes")->click();
            else
                QTest::keyClick(question, Qt::Key_Return);
        });
        error->buttons().first()->click();
    });
    QSignalSpy listed(receiver.get(), &ReceiverWindow::messagesShown);
    form.Command1->click();
    QTRY_COMPARE_WITH_TIMEOUT(said.size(), 3, 10000);
    QVERIFY(said[0].startsWith("Winsock Error: nothing is listening at 127.0.0.1 port " +
                               QString::number(old)));
    QCOMPARE(said.mid(1), (QStringList{QString("%1 now answers at 127.0.0.1:%2 (%3). Update %1 "
                                               "and send again?")
                                           .arg(name, QString::number(port), avahi->host),
                                       "&No"}));
    QVERIFY(!follow || !listed.isEmpty() || listed.wait());
    QCOMPARE(names(), follow ? QStringList{name} : QStringList());
    QCOMPARE(Global::Users[2].port, follow ? port : old);
    QCOMPARE(Global::Users[1].port, old);
    form.Form_Unload();
}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // The receiver of historyOutlivesTheReceiver, as a process of its own.
    if (QCoreApplication::arguments().contains(QStringLiteral("--receiver"))) {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        ReceiverWindow window;
        std::puts(window.startListening() ? "listening" : "not listening");
        QObject::connect(&window, &ReceiverWindow::messagesShown, [] { std::puts("shown"); });
        return QApplication::exec();
    }
    ShowStoreFailuresInBoxes(); // as the receiver's own main does
    TestReceiver test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_receiver.moc"
