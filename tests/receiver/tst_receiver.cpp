// The message receiver against real senders on 127.0.0.1 and [::1], the real store and the
// real reply channel (served by a SendForm in this process, or by a started quorvane).

#include "TestSupport.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "platform/RuntimePaths.h"
#include "receiver/ReceiverWindow.h"
#include "receiver/ReplyRequester.h"
#include "windows/MessageBox.h"
#include "windows/SendForm.h"
#include "windows/WindowTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/capability.h>
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

#ifdef Q_OS_LINUX
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
    void unusableRepliesAreExplained_data();
    void unusableRepliesAreExplained();
    void replyStartsQuorvaneWhenNoneRuns();
    void oversizeRecordIsCut();
    void quietConnectionsAreClosed();
    void burstOfConnectionsIsCapped();
    void oldestMessagesMakeRoom();
    void portProblemsAreExplained();
    void privilegedPortOffersAnotherPort();
    void windowFitsItsText();

private:
    QTreeWidgetItem* newest() const { return receiver->messageList->topLevelItem(0); }
    int shown() const { return receiver->messageList->topLevelItemCount(); }
    void receivesNormalRecord();
    void replyToNewest();

    TestFolders folders;
    quint16 port = 0;
    std::unique_ptr<ReceiverWindow> receiver;
    QStringList boxes;
};

void TestReceiver::init()
{
    boxes.clear();
    SetMessageBoxAnswerer([this](const QString& title, const QString& text) {
        boxes.append(title + QLatin1String(": ") + text);
    });
    port = freePort();
    storeReplyPort(QString::number(port));
    receiver = std::make_unique<ReceiverWindow>();
    receiver->show();
    QVERIFY(receiver->startListening());
    QCOMPARE(receiver->status->text(),
             QStringLiteral("Receiving messages on port %1 (IPv4 and IPv6).").arg(port));
}

void TestReceiver::cleanup()
{
    receiver.reset();
    SetMessageBoxAnswerer({});
}

void TestReceiver::receivesNormalRecord()
{
    const int before = shown();
    auto sender = startSender(port, record("Ann", "505", "still here"));
    QTRY_COMPARE(shown(), before + 1);
    QCOMPARE(newest()->text(ReceiverWindow::NameColumn), QStringLiteral("Ann"));
    QCOMPARE(newest()->text(ReceiverWindow::TextColumn), QStringLiteral("still here"));
}

void TestReceiver::replyToNewest()
{
    receiver->messageList->setCurrentItem(newest());
    QVERIFY(receiver->replyButton->isEnabled());
    receiver->replyButton->click();
}

void TestReceiver::recordsAreShown_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("text");

    QTest::newRow("example") << QByteArray::fromHex("4d 65 00 35 30 35 00 48 69") << "Me"
                             << "505"
                             << "Hi";
    QTest::newRow("empty text") << record("Me", "505", "") << "Me"
                                << "505"
                                << "";
    QTest::newRow("CR LF and lone CR") << record("A", "1", "one\r\ntwo\rthree\r\n") << "A"
                                       << "1"
                                       << "one\ntwo\nthree\n";
    QTest::newRow("8-bit name") << record("Zo\xc3\xab", "7000", "\xe2\x82\xac") << "Zoë"
                                << "7000"
                                << "€";
    QTest::newRow("empty name, odd port") << record("", " 12x", "x") << ""
                                          << " 12x"
                                          << "x";
    QTest::newRow("NUL in the text") << record("B", "2", QByteArray("a\0b", 3)) << "B"
                                     << "2"
                                     << QString::fromUtf8("a\xe2\x90\x80"
                                                          "b");
    QTest::newRow("no NUL") << QByteArray("Bob 505 Hi\xff\\") << "malformed"
                            << ""
                            << "Bob 505 Hi\\xff\\\\";
    QTest::newRow("one NUL") << QByteArray("Bob\0"
                                           "505\r\n",
                                           9)
                             << "malformed"
                             << ""
                             << "Bob\\0505\\r\\n";
    QTest::newRow("nothing") << QByteArray() << "malformed"
                             << ""
                             << "";
}

void TestReceiver::recordsAreShown()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, port);
    QFETCH(QString, text);
    auto sender = startSender(this->port, bytes);
    QTRY_COMPARE(shown(), 1);
    QCOMPARE(newest()->text(ReceiverWindow::NameColumn), name);
    QCOMPARE(newest()->text(ReceiverWindow::AddressColumn), QStringLiteral("127.0.0.1"));
    QCOMPARE(receiver->messageList->selectedItems(), QList<QTreeWidgetItem*>{newest()});
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
    QCOMPARE(newest()->text(ReceiverWindow::NameColumn), QStringLiteral("six"));
    QCOMPARE(newest()->text(ReceiverWindow::AddressColumn), QStringLiteral("::1"));
    QCOMPARE(receiver->fromAddress->text(), QStringLiteral("::1"));
    QCOMPARE(receiver->messageList->topLevelItem(1)->text(ReceiverWindow::AddressColumn),
             QStringLiteral("127.0.0.1"));
    // Quorvane keeps IPv4 correspondents only: say so rather than send a request it drops.
    replyToNewest();
    QCOMPARE(boxes, QStringList{"Reply: Quorvane can only reply to IPv4 addresses, and this "
                                "message came from ::1."});
    QCOMPARE(receiver->requester().pendingCount(), 0);

    // An older message being read stays selected when another arrives.
    receiver->messageList->setCurrentItem(receiver->messageList->topLevelItem(1));
    QCOMPARE(receiver->fromName->text(), QStringLiteral("four"));
    auto later = startSender(port, record("later", "1", "c"));
    QTRY_COMPARE(shown(), 3);
    QCOMPARE(receiver->fromName->text(), QStringLiteral("four"));
    receiver->messageList->clearSelection();
    QCOMPARE(receiver->fromName->text(), QString());
    QVERIFY(!receiver->replyButton->isEnabled());
}

void TestReceiver::replyFromSenderToReceiverAndBack()
{
    SendForm form;
    QVERIFY(form.Form_Load());
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = false;
    Global::MyUsername = QStringLiteral("Zoë Ånström");
    Global::MyPortnb = 4321;
    Global::Users = DimUsers(1);
    Global::Users[1] = {"receiver", "127.0.0.1", port, 1};
    form.FillRecipients(0);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    const QString text = QStringLiteral("Hello,\nsecond line\n\n  indented é\n");
    form.Text1->setPlainText(text);
    form.Command1->click();
    QTRY_COMPARE(shown(), 1);
    QCOMPARE(newest()->text(ReceiverWindow::NameColumn), Global::MyUsername);
    QCOMPARE(newest()->text(ReceiverWindow::AddressColumn), QStringLiteral("127.0.0.1"));
    QCOMPARE(newest()->text(ReceiverWindow::TextColumn), QStringLiteral("Hello,"));
    QCOMPARE(receiver->fromName->text(), Global::MyUsername);
    QCOMPARE(receiver->fromPort->text(), QStringLiteral("4321"));
    QCOMPARE(receiver->messageText->toPlainText(), text);
    // With no system tray the window comes forward itself.
    QTRY_COMPARE(QApplication::activeWindow(), receiver.get());
    QTRY_VERIFY(!Global::MainWindowActive);

    // Replying from the receiver's window: Quorvane announces the request and applies it
    // once its main window is active again.
    replyToNewest();
    QTRY_COMPARE(receiver->requester().pendingCount(), 0);
    QCOMPARE(boxes, QStringList{"Reply: Return to main menu for reply to user Zoë Ånström"});
    QCOMPARE(receiver->statusBar()->currentMessage(),
             QStringLiteral("Quorvane has the reply request."));
    form.activateWindow();
    QTRY_COMPARE(form.Combo1->currentIndex(), 1);
    QCOMPARE(UBound(Global::Users), 2);
    QCOMPARE(Global::Users[2].name, Global::MyUsername);
    QCOMPARE(Global::Users[2].ip, QStringLiteral("127.0.0.1"));
    QCOMPARE(Global::Users[2].port, 4321);

    // Again, with Quorvane's window active: the correspondent is selected, not added.
    form.FillRecipients(0);
    form.Text1->setPlainText(QStringLiteral("again"));
    form.Command1->click();
    QTRY_COMPARE(shown(), 2);
    QTRY_COMPARE(QApplication::activeWindow(), receiver.get());
    form.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &form);
    QVERIFY(Global::MainWindowActive);
    boxes.clear();
    replyToNewest();
    QTRY_COMPARE(form.Combo1->currentIndex(), 1);
    QTRY_COMPARE(receiver->requester().pendingCount(), 0);
    QCOMPARE(UBound(Global::Users), 2);
    QVERIFY(boxes.isEmpty());
    form.Form_Unload();
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
    QCOMPARE(boxes, QStringList{QStringLiteral("Reply: ") + box});
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
    QTRY_COMPARE(boxes, QStringList{"Reply: Quorvane is not running, and it could not be "
                                    "started: there is no program at /nonexistent/quorvane."});

    // A program that never serves the channel is given up after the start timeout.
    boxes.clear();
    requester.setSenderProgram(QStringLiteral("/bin/true"));
    requester.setStartTimeout(500);
    replyToNewest();
    QTRY_COMPARE(boxes, QStringList{"Reply: Quorvane was started but did not answer within 0.5 "
                                    "seconds."});

    // The real one: started, and the request handed over once its channel answers.
    boxes.clear();
    requester.setSenderProgram(QStringLiteral(QUORVANE_BINARY));
    requester.setStartTimeout(15000);
    replyToNewest();
    QVERIFY(receiver->statusBar()->currentMessage().startsWith("Handing the reply to Bob"));
    QTRY_VERIFY_WITH_TIMEOUT(requester.pendingCount() == 0, 20000);
    QVERIFY(boxes.isEmpty());
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
    QCOMPARE(newest()->text(ReceiverWindow::NameColumn), QStringLiteral("Big"));
    QVERIFY(newest()->text(ReceiverWindow::TextColumn).startsWith(QLatin1String("(cut) ttt")));
    QCOMPARE(receiver->messageText->toPlainText().size(), MessageServer::MaxRecordBytes - 8);
    QCOMPARE(receiver->remarks->text(),
             QStringLiteral("Cut at 65536 bytes: the sender sent more."));
    QVERIFY(receiver->remarks->isVisible());
    receivesNormalRecord();
    QVERIFY(receiver->remarks->isHidden());
}

void TestReceiver::quietConnectionsAreClosed()
{
    // One byte every 40 ms keeps a connection alive for three times the idle timeout.
    receiver->server().setIdleTimeout(500);
    auto trickle = startSender(port, QByteArray(), false);
    QVERIFY(trickle->waitForConnected(5000));
    const QByteArray slow = record("Slow", "1", "a slow sender takes its time");
    int sent = 0;
    QTimer pace;
    connect(&pace, &QTimer::timeout, this, [&] {
        if (sent < slow.size())
            trickle->write(slow.mid(sent++, 1));
        else
            trickle->disconnectFromHost();
    });
    pace.start(40);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), 1, 10000);
    QCOMPARE(receiver->fromName->text(), QStringLiteral("Slow"));
    QCOMPARE(receiver->messageText->toPlainText(), QStringLiteral("a slow sender takes its time"));
    QVERIFY(receiver->remarks->isHidden());

    // A sender that stops half way, and one that never sends, are closed; what came is shown.
    receiver->server().setIdleTimeout(200);
    auto stalled = startSender(port, QByteArray("Bob\0", 4), false);
    QTRY_COMPARE(shown(), 2);
    QCOMPARE(receiver->fromName->text(), QStringLiteral("malformed"));
    QCOMPARE(newest()->text(ReceiverWindow::TextColumn), QStringLiteral("(incomplete) Bob\\0"));
    QCOMPARE(receiver->messageText->toPlainText(), QStringLiteral("Bob\\0"));
    QCOMPARE(receiver->remarks->text(),
             QStringLiteral("Malformed: fewer than two NUL bytes; the bytes are shown as they "
                            "came. Incomplete: closed after 0.2 s without data."));
    QTRY_COMPARE(stalled->state(), QAbstractSocket::UnconnectedState);
    auto silent = startSender(port, QByteArray(), false);
    QTRY_COMPARE(silent->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(shown(), 3);
    QCOMPARE(receiver->server().connectionCount(), 0);
    receivesNormalRecord();
}

void TestReceiver::burstOfConnectionsIsCapped()
{
    std::vector<std::unique_ptr<QTcpSocket>> senders;
    for (int i = 0; i < 100; ++i)
        senders.push_back(startSender(port, record("n", "1", QByteArray::number(i)), false));
    auto refused = [&] {
        return std::count_if(senders.begin(), senders.end(), [](const auto& s) {
            return s->state() == QAbstractSocket::UnconnectedState;
        });
    };
    QTRY_COMPARE(refused(), 100 - MessageServer::MaxConnections);
    QCOMPARE(receiver->server().connectionCount(), MessageServer::MaxConnections);
    QCOMPARE(shown(), 0);
    for (auto& sender : senders)
        sender->disconnectFromHost();
    QTRY_COMPARE(shown(), MessageServer::MaxConnections);
    QCOMPARE(receiver->server().connectionCount(), 0);
    receivesNormalRecord();
}

void TestReceiver::oldestMessagesMakeRoom()
{
    receiver->setMaxKeptMessages(3);
    for (int i = 1; i <= 5; ++i) {
        auto sender = startSender(port, record("Ann", "505", QByteArray::number(i)));
        QTRY_VERIFY(shown() > 0 &&
                    newest()->text(ReceiverWindow::TextColumn) == QString::number(i));
    }
    QCOMPARE(shown(), 3);
    receiver->messageList->setCurrentItem(receiver->messageList->topLevelItem(2));
    QCOMPARE(receiver->messageText->toPlainText(), QStringLiteral("3"));
    // A new message pushes out the oldest, even when it is the one selected.
    auto sender = startSender(port, record("Ann", "505", "6"));
    QTRY_COMPARE(newest()->text(ReceiverWindow::TextColumn), QStringLiteral("6"));
    QCOMPARE(shown(), 3);
    QCOMPARE(newest()->text(ReceiverWindow::TextColumn), QStringLiteral("6"));
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
    QTRY_COMPARE(fresh.messageList->topLevelItemCount(), 1);
}

void TestReceiver::windowFitsItsText()
{
    ShowAndActivate(receiver.get());
    auto sender = startSender(port, record("Ann", "1", "x"));
    QTRY_COMPARE(shown(), 1);
    CheckTabOrder(receiver.get(), {receiver->messageList, receiver->messageText,
                                   receiver->replyButton, receiver->newPort, receiver->changePort});

    AtEveryFontSize([] {
        // The longest texts: a port problem, and a record with every remark.
        storeReplyPort(QStringLiteral("70000"));
        ReceiverWindow failing;
        QVERIFY(!failing.startListening());
        ShowAndActivate(&failing);
        CheckNothingClipped(&failing);

        const quint16 other = freePort();
        storeReplyPort(QString::number(other));
        ReceiverWindow window;
        QVERIFY(window.startListening());
        window.server().setIdleTimeout(100);
        ShowAndActivate(&window);
        auto stalled = startSender(other, "no separators", false);
        QTRY_COMPARE(window.messageList->topLevelItemCount(), 1);
        QVERIFY(window.remarks->isVisible());
        CheckNothingClipped(&window);
    });
}

QTEST_MAIN(TestReceiver)
#include "tst_receiver.moc"
