// Sending from the main window to real TCP servers on this machine; start-up, shutdown and
// one running copy per user, with copies of the program started as processes.

#include "TestSupport.h"
#include "platform/ReplyChannel.h"
#include "platform/SetActiveWnd.h"
#include "windows/SendForm.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QKeySequence>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Keeps what each connection delivered, once the sender has closed it.
class Listener : public QObject
{
public:
    Listener()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++accepted;
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    records.append(socket->readAll());
                    socket->deleteLater();
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }
    int accepted = 0;
    QList<QByteArray> records;

private:
    QTcpServer server;
};

// The identification the tests send with; not the shipped defaults.
QByteArray record(const QByteArray& text)
{
    return QByteArray("Ann|5050|").replace('|', '\0') + text;
}

const QString SentToPeer = "Message Send!!: Sucessful Message Send to: peer (127.0.0.1)";

std::unique_ptr<QProcess> startCopy(const QProcessEnvironment& environment,
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

// The standard output of a tool, waited for.
QString run(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

class TestSend : public QObject
{
    Q_OBJECT

    TestFolders folders;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<SendForm> form;
    std::unique_ptr<BoxRecorder> recorder;

    void setText(const QString& text)
    {
        form->Text1->setPlainText(text);
        form->Text1->moveCursor(QTextCursor::End);
    }

    // Makes `server` accept nothing, its queue of one taken by `filler`: a connection to it
    // stays pending until it accepts again.
    void fill(QTcpServer& server, QTcpSocket& filler)
    {
        server.setListenBacklogSize(0);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        server.pauseAccepting();
        filler.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(filler.waitForConnected(5000));
    }

private slots:
    void initTestCase() { InstallScreenSizeSource(); }
    void init()
    {
        WriteStoreFile("[Identification]\nMyUsername=Ann\nMyPortnb=5050\n");
        recorder = std::make_unique<BoxRecorder>();
        listener = std::make_unique<Listener>();
        form = std::make_unique<SendForm>();
        QVERIFY(form->Form_Load());
        Global::PopupWhenSend = true;
        Global::MinimizedWhenSend = true;
        Global::Users = DimUsers(2);
        Global::Users[1] = {"peer", "127.0.0.1", listener->port(), 1};
        Global::Users[2] = {"other", "127.0.0.2", 9, 2}; // some tests change it
        form->FillRecipients(0);
        ShowAndActivate(form.get());
        QCOMPARE(form->focusWidget(), form->Text1);
    }
    void cleanup()
    {
        if (form)
            form->Form_Unload();
        form.reset();
        listener.reset();
        recorder.reset();
    }

    void sendOutcomeFollowsTriggerAndOptions_data()
    {
        // In turn: "button", keys, "stop", or the recipient: "peer", or "pending" whose
        // connection is never accepted.
        QTest::addColumn<QString>("presses");
        QTest::addColumn<bool>("popup");
        QTest::addColumn<bool>("minimize");
        QTest::addColumn<int>("sends"); // started
        QTest::addColumn<bool>("minimized");
        const auto add = [](const char* tag, const char* presses, bool popup, bool minimize,
                            int sends, bool minimized) {
            QTest::newRow(tag) << presses << popup << minimize << sends << minimized;
        };
        add("button, neither", "button", false, false, 1, false);
        add("button, pop-up", "button", true, false, 1, false);
        add("button, minimise", "button", false, true, 1, true);
        add("button, both", "button", true, true, 1, true);
        add("Shift+Enter, both", "Shift+Return", true, true, 1, false);
        add("Shift+keypad Enter", "Shift+Enter", false, true, 1, false);
        add("Shift+Enter abandons the button's send", "pending button peer Shift+Return", true,
            true, 2, false);
        add("Stop keeps the Shift+Enter flag for the next send",
            "pending Shift+Return stop peer button", true, true, 2, false);
        add("Enter", "Return", true, true, 0, false);
        add("Ctrl+Shift+Enter", "Ctrl+Shift+Return", true, true, 0, false);
        add("Alt+Shift+Enter", "Alt+Shift+Return", true, true, 0, false);
    }
    void sendOutcomeFollowsTriggerAndOptions()
    {
        QFETCH(QString, presses);
        QFETCH(bool, popup);
        QFETCH(int, sends);
        Global::PopupWhenSend = popup;
        QFETCH(bool, minimize);
        Global::MinimizedWhenSend = minimize;
        setText("Hello\nworld");
        QTcpServer full;
        QTcpSocket filler;
        fill(full, filler);
        Global::Users[2] = {"pending", "127.0.0.1", full.serverPort(), 2};
        form->FillRecipients(0);
        for (const QString& press : presses.split(' ')) {
            const QKeyCombination key = QKeySequence(press)[0];
            if (press == "button" || press == "stop")
                (press == "stop" ? form->StopSend : form->Command1)->click();
            else if (press == "peer" || press == "pending")
                form->Combo1->setCurrentIndex(press == "peer" ? 0 : 1);
            else
                QTest::keyClick(form->Text1, key.key(), key.keyboardModifiers());
        }
        QCOMPARE(form->history().size(), 1 + sends);
        if (sends == 0) {
            QVERIFY(form->Command1->isEnabled());
            return;
        }
        // The line break typed with Shift+Enter is part of the text sent, once; a connection
        // abandoned by a new send delivers nothing.
        const QByteArray text = presses.contains("Shift") ? "Hello\r\nworld\r\n" : "Hello\r\nworld";
        QTRY_COMPARE(listener->records.count(record(text)), 1);
        QTRY_VERIFY(form->Command1->isEnabled());
        QTRY_COMPARE(listener->records.size(), listener->accepted);
        QCOMPARE(listener->records.count(QByteArray()), listener->accepted - 1);
        QCOMPARE(recorder->said(), popup ? QStringList{SentToPeer} : QStringList());
        QCOMPARE(form->Text1->toPlainText(), QString());
        QTEST(form->isMinimized(), "minimized");
        QVERIFY(!form->sentByKey());
    }

    void errorBoxNamesAddressPortAndCause_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("description"); // %1: the port
        const auto refused = [](const QString& ip) {
            return "nothing is listening at " + ip + " port %1; is their message receiver running?";
        };
        const QString range = "127.0.0.1 port %1: the port must be 1 to 65535; check the "
                              "correspondent's port.";
        QTcpServer gone; // closed by the time the test runs
        gone.listen(QHostAddress::LocalHost, 0);
        const int closed = gone.serverPort();
        QTest::newRow("refused") << "127.0.0.1" << closed << refused("127.0.0.1");
        QTest::newRow("refused over IPv6") << "::1" << closed << refused("::1");
        QTest::newRow("port out of range") << "127.0.0.1" << 65536 << range;
        QTest::newRow("port 0") << "127.0.0.1" << 0 << range;
        QTest::newRow("address that cannot be used")
            << "10.0.0.256" << 5050
            << "\"10.0.0.256\" is not an address that can be used (port %1); check the "
               "correspondent's address.";
    }
    void errorBoxNamesAddressPortAndCause()
    {
        QFETCH(QString, ip);
        QFETCH(int, port);
        QFETCH(QString, description);
        Global::Users[2] = {"other", ip, port, 2};
        form->FillRecipients(1);
        setText("keep me");
        QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier);
        QTRY_COMPARE(recorder->said(),
                     QStringList{"Error: Winsock Error: " + description.arg(port)});
        QVERIFY(form->Command1->isEnabled());
        QVERIFY(!form->sentByKey());
        QCOMPARE(form->Text1->toPlainText(), QStringLiteral("keep me\n"));
        QVERIFY(!form->isMinimized());
        QCOMPARE(form->Winsock1->state(), TcpClient::State::Closed);
    }

    void successBoxNamesThePressTargetWhileSendWaits()
    {
        recorder.reset(); // a real box: events keep flowing while it is open
        QString text;
        bool openWhileShown = false;
        bool warningWithOk = false;
        WhenModal<QMessageBox>([&](QMessageBox* shown) {
            openWhileShown = form->Winsock1->state() == TcpClient::State::Connected &&
                             !form->Command1->isEnabled();
            text = shown->windowTitle() + ": " + shown->text();
            warningWithOk = shown->icon() == QMessageBox::Warning && shown->buttons().size() == 1;
            shown->buttons().first()->click();
        });
        QTcpServer late;
        QTcpSocket filler;
        fill(late, filler);
        Global::Users[1].port = late.serverPort();
        form->FillRecipients(0);
        setText("as pressed");
        form->Command1->click();
        // The selection changes before the connection stands: the box names the press's
        // target, and Send waits for the box to close.
        form->Combo1->setCurrentIndex(1);
        late.resumeAccepting();
        QTRY_COMPARE_WITH_TIMEOUT(text, SentToPeer, 10000);
        QCOMPARE(form->history().last(), QStringLiteral("as pressed"));
        QVERIFY(warningWithOk);
        QVERIFY(openWhileShown);
    }

    void historyKeepsTheLastTen()
    {
        Global::PopupWhenSend = false;
        Global::MinimizedWhenSend = false;
        // Shift+Up or Shift+Down, `times` over; what the box then shows.
        const auto shift = [this](Qt::Key key, int times = 1) {
            for (int i = 0; i < times; ++i)
                QTest::keyClick(form->Text1, key, Qt::ShiftModifier);
            return form->Text1->toPlainText();
        };
        // With no history both keys empty the box.
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down}) {
            setText("draft");
            QCOMPARE(shift(key), QString());
        }
        QStringList expected{QString()};
        for (int i = 1; i <= 11; ++i) {
            expected << QStringLiteral("m%1").arg(i);
            setText(expected.last());
            form->Command1->click();
            QTRY_VERIFY(form->Command1->isEnabled());
        }
        expected.removeAt(1);
        QCOMPARE(form->history(), expected);
        // Right after a send the cursor is on the text just sent, so Shift+Up shows the one
        // before it; neither key goes past either end.
        QCOMPARE(shift(Qt::Key_Up), QStringLiteral("m10"));
        QCOMPARE(shift(Qt::Key_Down, 2), QStringLiteral("m11"));
        QCOMPARE(shift(Qt::Key_Up, 9), QStringLiteral("m2"));
        QCOMPARE(shift(Qt::Key_Up, 2), QString());
        QCOMPARE(form->historyPos(), 0);
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
        QString opened;
        const QWidget* owner = nullptr;
        bool inactive = false;
        WhenModal<QDialog>([&](QDialog* dialog) {
            inactive = QTest::qWaitFor([] { return !Global::MainWindowActive; });
            opened = dialog->metaObject()->className();
            owner = dialog->parentWidget();
            dialog->close();
        });
        form->findChild<QAction*>(QTest::currentDataTag())->trigger();
        QTEST(opened, "window");
        QCOMPARE(owner, form.get());
        QVERIFY(inactive);
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
        QCOMPARE(form->windowTitle(), QStringLiteral("Send Message"));
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
        QCOMPARE(UBound(Global::Users), 1);
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
        WriteStoreFile("[Settings]\nDefaultPort=5051\n[Identification]\nMyUsername=Ann\n");
        const QByteArray storeBefore = ReadStoreBytes();
        std::unique_ptr<QProcess> second = startCopy(QProcessEnvironment::systemEnvironment());
        // The first copy answers from this process's event loop, so wait with it running.
        QSignalSpy finished(second.get(), &QProcess::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(ReadStoreBytes(), storeBefore);
        QTRY_VERIFY(!form->isMinimized());
        QTRY_COMPARE(QApplication::activeWindow(), form.get());
    }

    // Under X11 with a window manager, the first copy's window is Normal again, not iconic.
    void secondCopyRestoresAMinimisedWindowUnderX11()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("DISPLAY is unset: no X11 display to try xcb on");
        if (QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("xprop").isEmpty())
            QSKIP("xdotool or xprop is missing");
        const PrivateFolders copyFolders;
        QProcessEnvironment environment = copyFolders.environment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        const std::unique_ptr<QProcess> first = startCopy(environment);
        const auto search = [&first] {
            return run("xdotool", {"search", "--onlyvisible", "--pid",
                                   QString::number(first->processId()), "--name", "^Send Message$"})
                .section('\n', 0, 0);
        };
        QTRY_VERIFY_WITH_TIMEOUT(!search().isEmpty(), 15000);
        const QString window = search();
        const auto state = [&window] { return run("xprop", {"-id", window, "WM_STATE"}); };
        run("xdotool", {"windowminimize", window});
        if (!QTest::qWaitFor([&] { return state().contains("Iconic"); }, 3000))
            QSKIP("no window manager iconifies windows on this display");
        const std::unique_ptr<QProcess> second = startCopy(environment);
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(state().contains("window state: Normal"), 5000);
    }

    void copiesStartedTogetherLeaveOne()
    {
        for (int round = 0; round < 3; ++round) {
            const PrivateFolders copyFolders;
            const std::unique_ptr<QProcess> copies[] = {startCopy(copyFolders.environment()),
                                                        startCopy(copyFolders.environment())};
            QSignalSpy aDone(copies[0].get(), &QProcess::finished);
            QSignalSpy bDone(copies[1].get(), &QProcess::finished);
            QTRY_VERIFY_WITH_TIMEOUT(aDone.count() + bDone.count() >= 1, 15000);
            QProcess* ended = copies[aDone.count() ? 0 : 1].get();
            QCOMPARE(ended->exitCode(), 0);
            // The survivor runs and answers on the channel as the one copy.
            QTRY_VERIFY_WITH_TIMEOUT(answers(copyFolders.runtime()), 15000);
            QCOMPARE(aDone.count() + bDone.count(), 1);
        }
    }

    void unsafeRuntimeFoldersAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");      // by quorvane; empty when it runs
        QTest::addColumn<QString>("replySaid"); // by quorvane-reply, which ends with 1
        const auto add = [](const char* tag, const char* kind, const QString& said,
                            const char* replySaid) {
            QTest::newRow(tag) << kind << said << replySaid;
        };
        add("wrong mode", "mode", "has mode 0755", "has mode 0755");
        add("symbolic link", "link", "is a symbolic link", "is a symbolic link");
        add("foreign owner", "owner", "belongs to another user", "belongs to another user");
        add("lock in the way", "lock", "names no running copy", "no running Quorvane answered");
        add("XDG_RUNTIME_DIR unset", "unset", QString(), "/cache/quorvane-runtime/");
    }
    void unsafeRuntimeFoldersAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        if (kind == "owner" && ::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        const PrivateFolders copyFolders;
        QProcessEnvironment environment = copyFolders.environment();
        const QString folder = copyFolders.runtime() + QStringLiteral("/Quorvane");
        if (kind == "unset") {
            // Qt then offers no runtime folder, as when another user made runtime-<user> first.
            environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            environment.insert(QStringLiteral("TMPDIR"), copyFolders.runtime());
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), copyFolders.config() + "/cache");
            QFile blocker(copyFolders.runtime() + "/runtime-" + ::getpwuid(::geteuid())->pw_name);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else if (kind == "link") {
            QVERIFY(QFile::link(copyFolders.config(), folder));
        } else {
            const QByteArray path = QFile::encodeName(folder);
            QCOMPARE(::mkdir(path.constData(), kind == "mode" ? 0755 : 0700), 0);
            if (kind == "owner")
                QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
            if (kind == "lock")
                QVERIFY(QDir().mkdir(folder + QStringLiteral("/quorvane.lock")));
        }

        const std::unique_ptr<QProcess> reply =
            startCopy(environment, QUORVANE_REPLY, {"Bob", "10.0.0.2", "505"});
        QVERIFY(reply->waitForFinished(10000));
        QCOMPARE(reply->exitCode(), 1);
        const QByteArray replyError = reply->readAllStandardError();
        QFETCH(QString, replySaid);
        QVERIFY2(replyError.contains(replySaid.toLocal8Bit()), replyError.constData());

        const std::unique_ptr<QProcess> copy = startCopy(environment);
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

QTEST_MAIN(TestSend)
#include "tst_send.moc"
