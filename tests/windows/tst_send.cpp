// Sending from the main window to real TCP servers on this machine; start-up, shutdown and
// one running copy per user, with copies of the program started as processes.

#include "TestSupport.h"
#include "app/BuildInfo.h"
#include "messaging/ReplyRequests.h"
#include "platform/ReplyChannel.h"
#include "platform/SetActiveWnd.h"
#include "windows/SendForm.h"

#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Keeps what each connection delivered, once the sender has closed it. A full one accepts
// nothing, its queue of one taken by `filler`: a connection to it stays pending until it
// accepts again.
struct Listener : QTcpServer
{
    explicit Listener(bool full = false)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                ++accepted;
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    records.append(socket->readAll());
                    socket->deleteLater();
                });
            }
        });
        setListenBacklogSize(full ? 0 : 50);
        QVERIFY(listen(QHostAddress::LocalHost, 0));
        if (full) {
            // A small window, so that a long record fills the sender's socket and waits.
            const int window = 4096;
            setsockopt(int(socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
            pauseAccepting();
            filler.connectToHost(QHostAddress::LocalHost, serverPort());
            QVERIFY(filler.waitForConnected(5000));
        }
    }
    int accepted = 0;
    QList<QByteArray> records;
    QTcpSocket filler;
};

// Starts the program, or `program`, with this environment.
std::unique_ptr<QProcess> start(const QProcessEnvironment& environment,
                                const QString& program = QUORVANE_BINARY,
                                const QStringList& arguments = {})
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->start(program, arguments);
    return process;
}

// Whether a copy serves the reply channel of these runtime folders as the one copy.
bool answers(const QString& runtime)
{
    return SendChannelMessage(runtime + "/Quorvane/send-message.sock", ChannelMessage::FindWindow,
                              0, "Send Message", 500)
               .value_or(0) == 1;
}

// The sends in the history, oldest first: outcome, then the correspondent, the own name and
// port, the reason and the text.
QList<QStringList> storedSends()
{
    QList<QStringList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(History::defaultPath());
        QSqlQuery query(db);
        if (db.open() && query.exec("SELECT outcome, name, address, port, own_name, own_port, "
                                    "reason, text FROM messages WHERE sent = 1 ORDER BY id"))
            while (query.next()) {
                static const QStringList outcomes{"", "delivered", "failed", "stopped"};
                QStringList row{outcomes.value(query.value(0).toInt())};
                for (int i = 1; i < 8; ++i)
                    row << query.value(i).toString();
                rows << row;
            }
    }
    QSqlDatabase::removeDatabase("check");
    return rows;
}

} // namespace

class TestSend : public QObject
{
    Q_OBJECT

    TestFolders folders;
    quint16 closed = 0; // a port nothing listens at
    std::unique_ptr<Listener> listener;
    std::unique_ptr<Listener> pending;
    std::unique_ptr<SendForm> form;
    std::unique_ptr<BoxRecorder> recorder;

private slots:
    void initTestCase()
    {
        // A refused send looks for its correspondent on the network: never on this machine's.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        InstallScreenSizeSource();
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost, 0));
        closed = gone.serverPort();
    }
    void init()
    {
        QDir(folders.data()).removeRecursively();
        WriteStoreFile("[Identification]\nMyUsername=Ann\nMyPortnb=5050\n");
        recorder = std::make_unique<BoxRecorder>();
        listener = std::make_unique<Listener>();
        pending = std::make_unique<Listener>(true);
        form = std::make_unique<SendForm>();
        QVERIFY(form->Form_Load());
        Global::PopupWhenSend = false;
        Global::MinimizedWhenSend = false;
        Global::Users = {{},
                         {"peer", "127.0.0.1", listener->serverPort(), 1},
                         {"pending", "127.0.0.1", pending->serverPort(), 2},
                         {"refused", "127.0.0.1", closed, 3},
                         {"refused6", "::1", closed, 4},
                         {"port65536", "127.0.0.1", 65536, 5},
                         {"port0", "127.0.0.1", 0, 6},
                         {"unusable", "10.0.0.256", 5050, 7},
                         {"noroute", "10.213.0.1", 5050, 8}};
        form->FillRecipients(0);
        ShowAndActivate(form.get());
        QCOMPARE(form->focusWidget(), form->Text1);
    }
    void cleanup()
    {
        form.reset();
        recorder.reset();
    }

    void sendOutcomeFollowsTriggerAndOptions_data()
    {
        // In turn: "button", keys, "stop", or a recipient by name: "peer", "pending" whose
        // connection is never accepted, or one that cannot be reached; "lock": another
        // program holds the history's file until the send is over.
        QTest::addColumn<QString>("presses");
        QTest::addColumn<QString>("box"); // what the one box says; a success box only if asked
        QTest::addColumn<bool>("minimize");
        QTest::addColumn<int>("sends"); // started
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<QString>("stored"); // the outcomes the history keeps, oldest first
        const auto add = [](const char* tag, const char* presses, const QString& box, bool minimize,
                            int sends, bool minimized, const char* stored) {
            QTest::newRow(tag) << presses << box << minimize << sends << minimized << stored;
        };
        const QString sent = "Message Send!!: Sucessful Message Send to: peer (127.0.0.1)";
        add("button, neither", "button", "", false, 1, false, "delivered");
        add("button, pop-up", "button", sent, false, 1, false, "delivered");
        add("button, minimise", "button", "", true, 1, true, "delivered");
        add("button, both", "button", sent, true, 1, true, "delivered");
        add("Shift+Enter, both", "Shift+Return", sent, true, 1, false, "delivered");
        add("Shift+keypad Enter", "Shift+Num+Enter", "", true, 1, false, "delivered");
        add("Shift+Enter abandons the button's send", "pending button peer Shift+Return", sent,
            true, 2, false, "stopped delivered");
        add("Stop keeps the Shift+Enter flag for the next send",
            "pending Shift+Return stop peer button", sent, true, 2, false, "stopped delivered");
        add("Enter", "Return", "", true, 0, false, "");
        add("Ctrl+Shift+Enter", "Ctrl+Shift+Return", "", true, 0, false, "");
        add("Alt+Shift+Enter", "Alt+Shift+Return", "", true, 0, false, "");
        // Another program's lock delays the history, never the send, and is no news at first.
        add("history locked", "lock button", "", false, 1, false, "delivered");
        // A failed send names the address, the port and the cause, and keeps the text and the
        // window.
        const QString refused = "Error: Winsock Error: nothing is listening at %1 port " +
                                QString::number(closed) + "; is their message receiver running?";
        const QString range = "Error: Winsock Error: 127.0.0.1 port %1: the port must be 1 to "
                              "65535; check the correspondent's port.";
        add("refused", "refused Shift+Return", refused.arg("127.0.0.1"), true, 1, false, "failed");
        add("refused over IPv6", "refused6 Shift+Return", refused.arg("::1"), true, 1, false,
            "failed");
        add("port out of range", "port65536 Shift+Return", range.arg(65536), true, 1, false,
            "failed");
        add("port 0", "port0 Shift+Return", range.arg(0), true, 1, false, "failed");
        const QString unusable = "Error: Winsock Error: \"10.0.0.256\" is not an address that can "
                                 "be used (port 5050); check the correspondent's address.";
        add("address that cannot be used", "unusable Shift+Return", unusable, true, 1, false,
            "failed");
        add("no route", "noroute Shift+Return",
            "Error: Winsock Error: no answer from 10.213.0.1 port 5050; is it on and reachable, or "
            "is a firewall in between?",
            true, 1, false, "failed");
    }
    void sendOutcomeFollowsTriggerAndOptions()
    {
        QFETCH(QString, presses);
        QFETCH(QString, box);
        QFETCH(bool, minimize);
        QFETCH(int, sends);
        Global::PopupWhenSend = !box.isEmpty();
        Global::MinimizedWhenSend = minimize;
        form->Text1->setPlainText("Hello\nworld");
        form->Text1->moveCursor(QTextCursor::End);
        QProcess holder;
        // No route: in a network namespace of this thread's own, with no interface up.
        const int home = presses.startsWith("noroute") ? ::open("/proc/thread-self/ns/net", 0) : -1;
        if (home >= 0 && ::unshare(CLONE_NEWNET) != 0 && ::close(home) == 0)
            QSKIP("a network namespace of its own needs root");
        for (const QString& press : presses.split(' ')) {
            const int recipient = form->Combo1->findText(press + " (", Qt::MatchStartsWith);
            if (press == "lock") {
                QDir().mkpath(QFileInfo(History::defaultPath()).path());
                holder.start(QCoreApplication::applicationFilePath(),
                             {"--hold", History::defaultPath()});
                QVERIFY(holder.waitForReadyRead(5000));
            } else if (press == "button" || press == "stop")
                (press == "stop" ? form->StopSend : form->Command1)->click();
            else if (recipient >= 0)
                form->Combo1->setCurrentIndex(recipient);
            else
                QTest::keySequence(form->Text1, QKeySequence(press));
        }
        QVERIFY(home < 0 || ::setns(home, CLONE_NEWNET) + ::close(home) == 0);
        QCOMPARE(form->history().size(), 1 + sends);
        QTRY_VERIFY(form->Command1->isEnabled());
        // Held past the history's patience for one write, and still no box.
        if (holder.state() == QProcess::Running)
            QTRY_VERIFY(form->sentMessages() && form->sentMessages()->problemIsLock());
        QCOMPARE(recorder->said(), box.isEmpty() ? QStringList() : QStringList{box});
        if (sends == 0)
            return;
        // The line break typed with Shift+Enter is part of the text sent, once; a connection
        // abandoned by a new send delivers nothing; a failed send keeps the text.
        const int delivered = box.startsWith("Error") ? 0 : 1;
        // Sent with the identification of the set-up, not the shipped one.
        const QByteArray record =
            QByteArray("Ann|5050|").replace('|', '\0') +
            (presses.contains("Shift") ? "Hello\r\nworld\r\n" : "Hello\r\nworld");
        QTRY_COMPARE(listener->records.count(record), delivered);
        QTRY_COMPARE(listener->records.size(), listener->accepted);
        QCOMPARE(listener->records.count(QByteArray()), listener->accepted - delivered);
        QCOMPARE(form->Text1->toPlainText(),
                 delivered ? QString() : QStringLiteral("Hello\nworld\n"));
        QTEST(form->isMinimized(), "minimized");
        QVERIFY(!form->sentByKey());
        QCOMPARE(form->Winsock1->state(), TcpClient::State::Closed);

        // Every send is kept, with how it went; the last one in full, with the text that went
        // out or, if none did, the text of the press.
        QFETCH(QString, stored);
        holder.closeWriteChannel();
        QVERIFY(holder.state() == QProcess::NotRunning || holder.waitForFinished());
        QTRY_COMPARE(form->sentMessages()->waiting(), 0);
        const QList<QStringList> rows = storedSends();
        QStringList outcomes;
        for (const QStringList& row : rows)
            outcomes << row.first();
        QCOMPARE(outcomes, stored.split(' '));
        const QString reason = box.startsWith("Error") ? box.section(": ", 2) : QString();
        QCOMPARE(rows.last().mid(1),
                 (QStringList{Global::SendTarget.name, Global::SendTarget.ip,
                              QString::number(Global::SendTarget.port), "Ann", "5050", reason,
                              delivered && presses.contains("Shift") ? "Hello\nworld\n"
                                                                     : "Hello\nworld"}));
    }

    void successBoxNamesThePressTargetWhileSendWaits()
    {
        recorder.reset(); // a real box: events keep flowing while it is open
        Global::PopupWhenSend = true;
        QString said;
        bool sendWaits = false;
        WhenModal<QMessageBox>([&](QMessageBox* shown) {
            sendWaits = form->Winsock1->state() == TcpClient::State::Connected &&
                        !form->Command1->isEnabled();
            if (shown->icon() == QMessageBox::Warning && shown->buttons().size() == 1)
                said = shown->windowTitle() + ": " + shown->text();
            shown->buttons().first()->click();
        });
        // More than the sockets hold: the rest goes as room frees up.
        form->Text1->setPlainText(QString(99, 'x').append('\n').repeated(40000));
        form->Combo1->setCurrentIndex(1);
        form->Command1->click();
        // The selection changes before the connection stands: the box names the press's
        // target, and Send waits for the box to close.
        form->Combo1->setCurrentIndex(0);
        pending->resumeAccepting();
        QTRY_COMPARE_WITH_TIMEOUT(
            said, "Message Send!!: Sucessful Message Send to: pending (127.0.0.1)", 10000);
        QVERIFY(sendWaits);
        QTRY_COMPARE(pending->records.value(0),
                     QByteArray("Ann|5050|").replace('|', '\0') +
                         QByteArray(99, 'x').append("\r\n").repeated(40000));
    }

    void historyKeepsTheLastTen()
    {
        // Shift+Up or Shift+Down, `times` over; what the box then shows.
        const auto shift = [this](Qt::Key key, int times = 1) {
            for (int i = 0; i < times; ++i)
                QTest::keyClick(form->Text1, key, Qt::ShiftModifier);
            return form->Text1->toPlainText();
        };
        // With no history both keys empty the box.
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down}) {
            form->Text1->setPlainText("draft");
            QCOMPARE(shift(key), QString());
        }
        for (int i = 1; i <= 11; ++i) {
            form->Text1->setPlainText(QStringLiteral("m%1").arg(i));
            form->Command1->click();
            QTRY_VERIFY(form->Command1->isEnabled());
        }
        QCOMPARE(form->history().join(' '), " m2 m3 m4 m5 m6 m7 m8 m9 m10 m11");
        // Right after a send the cursor is on the text just sent, so Shift+Up shows the one
        // before it; neither key goes past either end.
        QCOMPARE(shift(Qt::Key_Up), QStringLiteral("m10"));
        QCOMPARE(shift(Qt::Key_Down, 2), QStringLiteral("m11"));
        QCOMPARE(shift(Qt::Key_Up, 9), QStringLiteral("m2"));
        QCOMPARE(shift(Qt::Key_Up, 2), QString());
        QCOMPARE(shift(Qt::Key_Down), QStringLiteral("m2"));
    }

    void menuItemsOpenTheirWindowsOverAnInactiveMainWindow_data()
    {
        QTest::addColumn<QString>("window"); // the row is the menu item
        QTest::newRow("progopmn1") << QStringLiteral("OptProg");
        QTest::newRow("progopmn2") << QStringLiteral("Identification");
        QTest::newRow("aboutmn1") << QStringLiteral("YourIP");
        QTest::newRow("aboutmn3") << QStringLiteral("About");
    }
    void menuItemsOpenTheirWindowsOverAnInactiveMainWindow()
    {
        QString opened; // over the main window, which no longer counts as active
        WhenModal<QDialog>([&](QDialog* dialog) {
            if (dialog->parentWidget() == form.get() &&
                QTest::qWaitFor([] { return !MainWindowActive(); }))
                opened = dialog->metaObject()->className();
            dialog->close();
        });
        form->findChild<QAction*>(QTest::currentDataTag())->trigger();
        QTEST(opened, "window");
    }

    void firstAndSecondStartOnAnEmptyStore()
    {
        cleanup();
        RemoveStoreFile();
        form = std::make_unique<SendForm>();
        QVERIFY(form->Form_Load());
        // Centred from the size the window had when it was placed.
        const QPoint centred = CentredPosition(form.get());
        form->show();
        QCOMPARE(form->Combo1->count(), 1);
        QCOMPARE(form->Combo1->currentText(), QStringLiteral("localhost (127.0.0.1: 505)"));
        QCOMPARE(StoreSection("Settings").join(' '),
                 QStringLiteral("DefaultIp=127.0.0.1 DefaultPort=505 MinimizedWhenSend=True "
                                "PopupWhenSend=True StartUPX=%1 StartUPY=%2")
                     .arg(PixelsToTwips(form.get(), centred.x()))
                     .arg(PixelsToTwips(form.get(), centred.y())));
        QCOMPARE(StoreSection("Users").join(' '),
                 "1_ip=127.0.0.1 1_name=localhost 1_port=505 TestUsers=True");
        QCOMPARE(StoreSection("Identification"), QStringList());
        // A window moved elsewhere is stored there on close.
        form->move(form->x() + 30, form->y() + 15);
        form->close();
        QCOMPARE(ReadStoreSections().value("Settings").value("StartUPX").toInt(),
                 PixelsToTwips(form.get(), form->x()));
        // The next start finds the stored list and keeps it.
        form = std::make_unique<SendForm>();
        QVERIFY(form->Form_Load());
        QCOMPARE(StoreSection("Users").join(' '),
                 QStringLiteral("1_ip=127.0.0.1 1_name=localhost 1_port=505"));
    }

    void secondCopyFindsTheFirstByItsExactCaptionRaisesItAndEnds()
    {
        QCOMPARE(FindWindowByCaption("Send Message").window, form->windowHandle());
        // The copy that serves the channel never asks itself, so a miss is simply null.
        for (const char* other : {"Send message", "Send Message ", "Send Message - Quorvane"})
            QVERIFY2(FindWindowByCaption(other).isNull(), other);
        ForceForeground(WindowHandle());
        form->showMinimized();
        QTRY_VERIFY(form->isMinimized());
        // Not what a copy writes at start, so that a second copy writing the store shows.
        const QByteArray store = "[Settings]\nDefaultPort=5051\n[Identification]\nMyUsername=Ann\n";
        WriteStoreFile(store);
        const auto second = start(QProcessEnvironment::systemEnvironment());
        // The first copy answers from this process's event loop, so wait with it running.
        QVERIFY(QSignalSpy(second.get(), &QProcess::finished).wait(10000));
        QVERIFY(second->exitStatus() == QProcess::NormalExit && second->exitCode() == 0);
        QCOMPARE(ReadStoreBytes(), store);
        QTRY_VERIFY(!form->isMinimized());
        QTRY_COMPARE(QApplication::activeWindow(), form.get());
    }

    void copiesStartedTogetherLeaveOne()
    {
        for (int round = 0; round < 3; ++round) {
            const PrivateFolders copyFolders;
            const std::unique_ptr<QProcess> copies[] = {start(copyFolders.environment()),
                                                        start(copyFolders.environment())};
            const auto ended = [&](int i) { return copies[i]->state() == QProcess::NotRunning; };
            QTRY_VERIFY_WITH_TIMEOUT(ended(0) || ended(1), 15000);
            QCOMPARE(copies[ended(0) ? 0 : 1]->exitCode(), 0);
            // The survivor runs and answers on the channel as the one copy.
            QTRY_VERIFY_WITH_TIMEOUT(answers(copyFolders.runtime()), 15000);
            QVERIFY(ended(0) != ended(1));
        }
    }

    void commandLineIsAnsweredWithoutADisplay_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // the start of stdout, or on stderr when refused
        QTest::newRow("--help") << "--help" << 0 << "Usage: ";
        QTest::newRow("--version")
            << "--version" << 0 << QString("quorvane %1\n").arg(BuildInfo::Version);
        QTest::newRow("stray argument") << "x" << 1 << "quorvane: unexpected argument x\n";
    }
    void commandLineIsAnsweredWithoutADisplay()
    {
        QFETCH(QString, argument);
        QFETCH(int, status);
        QFETCH(QString, said);
        QProcessEnvironment environment = folders.environment();
        if (status == 0) // a refusal needs the window system that a start would use
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                environment.remove(name);
        const auto copy = start(environment, QUORVANE_BINARY, {argument});
        QVERIFY(copy->waitForFinished(10000));
        QCOMPARE(copy->exitCode(), status);
        QVERIFY(QString(status ? copy->readAllStandardError() : copy->readAllStandardOutput())
                    .startsWith(said));
    }

    void unsafeRuntimeFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("said");      // by quorvane; empty when it runs
        QTest::addColumn<QString>("replySaid"); // by quorvane-reply, which ends with 1
        const auto add = [](const char* tag, const char* said, const char* replySaid) {
            QTest::newRow(tag) << said << replySaid;
        };
        add("wrong mode", "has mode 0755", "has mode 0755");
        add("symbolic link", "is a symbolic link", "is a symbolic link");
        add("foreign owner", "belongs to another user", "belongs to another user");
        add("lock in the way", "names no running copy", "no running Quorvane answered");
        add("XDG_RUNTIME_DIR unset", "", "/cache/quorvane-runtime/");
    }
    void unsafeRuntimeFoldersAreRefused()
    {
        const QByteArray kind = QTest::currentDataTag();
        QFETCH(QString, said);
        QFETCH(QString, replySaid);
        if (kind == "foreign owner" && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        const PrivateFolders copyFolders;
        QProcessEnvironment environment = copyFolders.environment();
        const QByteArray path = QFile::encodeName(copyFolders.runtime() + "/Quorvane");
        if (kind == "XDG_RUNTIME_DIR unset") {
            // Qt then offers no runtime folder, as when another user made runtime-<user> first.
            environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            environment.insert(QStringLiteral("TMPDIR"), copyFolders.runtime());
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), copyFolders.config() + "/cache");
            QFile blocker(copyFolders.runtime() + "/runtime-" + ::getpwuid(::geteuid())->pw_name);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else if (kind == "symbolic link") {
            QVERIFY(QFile::link(copyFolders.config(), QFile::decodeName(path)));
        } else {
            QCOMPARE(::mkdir(path.constData(), kind == "wrong mode" ? 0755 : 0700), 0);
            if (kind == "foreign owner")
                QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
            if (kind == "lock in the way")
                QCOMPARE(::mkdir((path + "/quorvane.lock").constData(), 0700), 0);
        }

        const auto reply = start(environment, QUORVANE_REPLY, {"Bob", "10.0.0.2", "505"});
        QVERIFY(reply->waitForFinished(10000));
        const QByteArray replyError = reply->readAllStandardError();
        QVERIFY2(reply->exitCode() == 1 && replyError.contains(replySaid.toLocal8Bit()),
                 replyError.constData());

        const auto copy = start(environment);
        if (said.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(answers(copyFolders.config() + "/cache/quorvane-runtime"),
                                     15000);
        } else {
            // It says why on stderr and in a box, and ends with 1 once the box is closed.
            QByteArray error;
            QTRY_VERIFY_WITH_TIMEOUT(
                (error += copy->readAllStandardError()).contains(said.toLocal8Bit()), 15000);
            QCOMPARE(copy->state(), QProcess::Running);
        }
    }
};

int main(int argc, char* argv[])
{
    // Another program holding the history: it takes the file's write lock, says so, and
    // keeps it until its input closes.
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0) {
        QCoreApplication app(argc, argv);
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE");
        db.setDatabaseName(QString::fromLocal8Bit(argv[2]));
        QSqlQuery query(db);
        if (!db.open() || !query.exec("PRAGMA journal_mode=WAL") || !query.exec("BEGIN EXCLUSIVE"))
            return 1;
        std::puts("locked");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    QApplication app(argc, argv);
    TestSend test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_send.moc"
