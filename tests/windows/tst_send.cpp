// Sending from the main window to real TCP servers on this machine.

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Global.h"
#include "windows/MessageBox.h"
#include "windows/SendForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Keeps what each connection delivered, reported once the sender has closed it.
class Listener : public QObject
{
    Q_OBJECT
public:
    Listener()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    records.append(socket->readAll());
                    socket->deleteLater();
                    emit closed();
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }
    QList<QByteArray> records;

signals:
    void closed();

private:
    QTcpServer server;
};

// A listener whose queue of waiting connections is full, so that a new connection stays
// pending until the sender gives up.
class FullListener
{
public:
    FullListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        filler.connectToHost(QHostAddress::LocalHost, port);
        filler.waitForConnected(5000);
    }
    ~FullListener() { ::close(fd); }
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 port = 0;
    QTcpSocket filler;
};

// The identification the tests send with; not the shipped defaults.
QByteArray record(const QByteArray& text)
{
    return QByteArray("Ann\0"
                      "5050\0",
                      9) +
           text;
}

quint16 closedPort()
{
    QTcpServer gone;
    gone.listen(QHostAddress::LocalHost, 0);
    return gone.serverPort();
}

} // namespace

class TestSend : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sendOutcomeFollowsTriggerAndOptions_data();
    void sendOutcomeFollowsTriggerAndOptions();
    void onlyShiftEnterSends_data();
    void onlyShiftEnterSends();
    void errorBoxNamesAddressPortAndCause_data();
    void errorBoxNamesAddressPortAndCause();
    void stopDuringAPendingConnectionShowsNothingAndKeepsTheKeyFlag();
    void textIsReadWhenTheConnectionStandsButTargetAtThePress();
    void shiftEnterAbandonsTheSendUnderWay();
    void successBoxKeepsTheConnectionOpenUntilAnswered();
    void historyKeepsTheLastTen();
    void activationFollowsTheProgramsOwnWindows();
    void timerTickRaisesTheWindowWithTheCaretInText1();
    void menuItemsOpenTheirWindows_data();
    void menuItemsOpenTheirWindows();

private:
    void pressShiftEnter() { QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier); }
    void setText(const QString& text);
    void useRecipient(int entry, const QString& ip, int port);

    TestFolders folders;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<SendForm> form;
    std::unique_ptr<BoxRecorder> recorder;
};

void TestSend::init()
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
    Global::Users[2] = {"other", "127.0.0.2", 9, 2};
    form->FillRecipients(0);
    ShowAndActivate(form.get());
    QCOMPARE(form->focusWidget(), form->Text1);
}

void TestSend::cleanup()
{
    form->Form_Unload();
    form.reset();
    listener.reset();
    recorder.reset();
}

void TestSend::setText(const QString& text)
{
    form->Text1->setPlainText(text);
    form->Text1->moveCursor(QTextCursor::End);
}

void TestSend::useRecipient(int entry, const QString& ip, int port)
{
    Global::Users[static_cast<std::size_t>(entry)].ip = ip;
    Global::Users[static_cast<std::size_t>(entry)].port = port;
    form->FillRecipients(entry - 1);
}

void TestSend::sendOutcomeFollowsTriggerAndOptions_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<bool>("popup");
    QTest::addColumn<bool>("minimize");
    QTest::newRow("button, neither") << false << false << false;
    QTest::newRow("button, pop-up") << false << true << false;
    QTest::newRow("button, minimise") << false << false << true;
    QTest::newRow("button, both") << false << true << true;
    QTest::newRow("Shift+Enter, both") << true << true << true;
    QTest::newRow("Shift+Enter, minimise") << true << false << true;
}

void TestSend::sendOutcomeFollowsTriggerAndOptions()
{
    QFETCH(bool, byKey);
    QFETCH(bool, popup);
    QFETCH(bool, minimize);
    Global::PopupWhenSend = popup;
    Global::MinimizedWhenSend = minimize;
    setText("Hello\nworld");
    byKey ? pressShiftEnter() : form->Command1->click();
    QVERIFY(!form->Command1->isEnabled());
    QCOMPARE(form->history().last(), QStringLiteral("Hello\nworld"));
    QTRY_COMPARE(listener->records.size(), 1);
    // The line break typed with Shift+Enter is part of the text sent.
    QCOMPARE(listener->records[0], record(byKey ? "Hello\r\nworld\r\n" : "Hello\r\nworld"));
    QTRY_VERIFY(form->Command1->isEnabled());
    QCOMPARE(recorder->boxes.size(), popup ? 1 : 0);
    if (popup) {
        QCOMPARE(recorder->boxes[0].title, QStringLiteral("Message Send!!"));
        QCOMPARE(recorder->boxes[0].text,
                 QStringLiteral("Sucessful Message Send to: peer (127.0.0.1)"));
    }
    QCOMPARE(form->Text1->toPlainText(), QString());
    QCOMPARE(form->isMinimized(), minimize && !byKey);
    QVERIFY(!form->sentByKey());
}

void TestSend::onlyShiftEnterSends_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("sends");
    QTest::newRow("Shift+keypad Enter") << int(Qt::Key_Enter) << int(Qt::ShiftModifier) << true;
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << false;
    QTest::newRow("Ctrl+Shift+Enter")
        << int(Qt::Key_Return) << int(Qt::ShiftModifier | Qt::ControlModifier) << false;
    QTest::newRow("Alt+Shift+Enter")
        << int(Qt::Key_Return) << int(Qt::ShiftModifier | Qt::AltModifier) << false;
}

void TestSend::onlyShiftEnterSends()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, sends);
    setText("line");
    QTest::keyClick(form->Text1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(form->Command1->isEnabled(), !sends);
    QCOMPARE(form->history().size(), sends ? 2 : 1);
    // The line break of the key that sends still reaches the box before the text is read.
    if (sends)
        QTRY_COMPARE(listener->records, QList<QByteArray>{record("line\r\n")});
}

void TestSend::errorBoxNamesAddressPortAndCause_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("description");
    const int refused = closedPort();
    QTest::newRow("refused") << "127.0.0.1" << refused
                             << QStringLiteral(
                                    "nothing is listening at 127.0.0.1 port %1; is their message "
                                    "receiver running?")
                                    .arg(refused);
    QTest::newRow("refused over IPv6")
        << "::1" << refused
        << QStringLiteral("nothing is listening at ::1 port %1; is their message receiver "
                          "running?")
               .arg(refused);
    QTest::newRow("port out of range")
        << "127.0.0.1" << 65536
        << "127.0.0.1 port 65536: the port must be 1 to 65535; check the correspondent's port.";
    QTest::newRow("port 0") << "127.0.0.1" << 0
                            << "127.0.0.1 port 0: the port must be 1 to 65535; check the "
                               "correspondent's port.";
    QTest::newRow("address that cannot be used")
        << "10.0.0.256" << 5050
        << "\"10.0.0.256\" is not an address that can be used (port 5050); check the "
           "correspondent's address.";
}

void TestSend::errorBoxNamesAddressPortAndCause()
{
    QFETCH(QString, ip);
    QFETCH(int, port);
    QFETCH(QString, description);
    useRecipient(2, ip, port);
    setText("keep me");
    pressShiftEnter();
    QTRY_COMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(recorder->boxes[0].text, QStringLiteral("Winsock Error: ") + description);
    QVERIFY(form->Command1->isEnabled());
    QVERIFY(!form->sentByKey());
    QCOMPARE(form->Text1->toPlainText(), QStringLiteral("keep me\n"));
    QVERIFY(!form->isMinimized());
    QCOMPARE(form->Winsock1->state(), TcpClient::State::Closed);
}

void TestSend::stopDuringAPendingConnectionShowsNothingAndKeepsTheKeyFlag()
{
    FullListener full;
    QCOMPARE(full.filler.state(), QAbstractSocket::ConnectedState);
    useRecipient(2, "127.0.0.1", full.port);
    setText("stopped");
    pressShiftEnter();
    QCoreApplication::processEvents();
    QCOMPARE(form->Winsock1->state(), TcpClient::State::Connecting);
    form->StopSend->click();
    QVERIFY(form->Command1->isEnabled());
    QVERIFY(form->sentByKey());
    QCOMPARE(form->Winsock1->state(), TcpClient::State::Closed);

    // The next send, from the button, is not minimised and clears the flag.
    form->Combo1->setCurrentIndex(0);
    setText("next");
    form->Command1->click();
    QTRY_COMPARE(listener->records, QList<QByteArray>{record("next")});
    QTRY_VERIFY(form->Command1->isEnabled());
    QCOMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].title, QStringLiteral("Message Send!!"));
    QVERIFY(!form->isMinimized());
    QVERIFY(!form->sentByKey());
}

void TestSend::textIsReadWhenTheConnectionStandsButTargetAtThePress()
{
    setText("as pressed");
    form->Command1->click();
    form->Text1->setPlainText("changed");
    form->Combo1->setCurrentIndex(1);
    QTRY_COMPARE(listener->records, QList<QByteArray>{record("changed")});
    QCOMPARE(form->history().last(), QStringLiteral("as pressed"));
    QTRY_COMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].text,
             QStringLiteral("Sucessful Message Send to: peer (127.0.0.1)"));
}

void TestSend::shiftEnterAbandonsTheSendUnderWay()
{
    setText("first");
    form->Command1->click();
    // Shift+Enter still sends while the button is disabled, dropping the first attempt.
    pressShiftEnter();
    QTRY_VERIFY(listener->records.contains(record("first\r\n")));
    QTRY_VERIFY(form->Command1->isEnabled());
    QCOMPARE(listener->records.count(record("first\r\n")), 1);
    for (const QByteArray& data : listener->records)
        QVERIFY(data.isEmpty() || data == record("first\r\n"));
    QCOMPARE(recorder->boxes.size(), 1);
    QVERIFY(!form->isMinimized());
}

void TestSend::successBoxKeepsTheConnectionOpenUntilAnswered()
{
    recorder.reset(); // a real box: events keep flowing while it is open
    QString text;
    bool openWhileShown = false;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        text = box->windowTitle() + ": " + box->text();
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->buttons().size(), 1);
        openWhileShown = form->Winsock1->state() == TcpClient::State::Connected;
        box->button(QMessageBox::Ok)->click();
    });
    setText("boxed");
    form->Command1->click();
    QTRY_COMPARE(listener->records, QList<QByteArray>{record("boxed")});
    QCOMPARE(text, QStringLiteral("Message Send!!: Sucessful Message Send to: peer (127.0.0.1)"));
    QVERIFY(openWhileShown);
}

void TestSend::historyKeepsTheLastTen()
{
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = false;
    auto shift = [this](Qt::Key key) {
        QTest::keyClick(form->Text1, key, Qt::ShiftModifier);
        return form->Text1->toPlainText();
    };
    // With no history both keys empty the box.
    setText("draft");
    QCOMPARE(shift(Qt::Key_Up), QString());
    setText("draft");
    QCOMPARE(shift(Qt::Key_Down), QString());

    QStringList expected{QString()};
    for (int i = 1; i <= 11; ++i) {
        setText(QStringLiteral("m%1").arg(i));
        form->Command1->click();
        QTRY_VERIFY(form->Command1->isEnabled());
        if (i > 1)
            expected << QStringLiteral("m%1").arg(i);
    }
    QCOMPARE(form->history(), expected);
    // Right after a send the cursor is on the text just sent, so Shift+Up shows the one
    // before it.
    QCOMPARE(shift(Qt::Key_Up), QStringLiteral("m10"));
    QCOMPARE(shift(Qt::Key_Down), QStringLiteral("m11"));
    QCOMPARE(shift(Qt::Key_Down), QStringLiteral("m11"));
    for (int i = 0; i < 9; ++i)
        shift(Qt::Key_Up);
    QCOMPARE(form->Text1->toPlainText(), QStringLiteral("m2"));
    QCOMPARE(shift(Qt::Key_Up), QString());
    QCOMPARE(shift(Qt::Key_Up), QString());
    QCOMPARE(form->historyPos(), 0);
}

void TestSend::activationFollowsTheProgramsOwnWindows()
{
    QTRY_VERIFY(Global::MainWindowActive);
    QDialog dialog(form.get());
    dialog.setModal(true);
    ShowAndActivate(&dialog);
    QTRY_VERIFY(!Global::MainWindowActive);
    dialog.close();
    form->activateWindow();
    QTRY_VERIFY(Global::MainWindowActive);
}

void TestSend::timerTickRaisesTheWindowWithTheCaretInText1()
{
    form->Combo1->setFocus();
    form->showMinimized();
    QTRY_VERIFY(form->isMinimized());
    QCOMPARE(form->TimerSW->interval(), 500);
    form->TimerSW->start();
    QTRY_VERIFY(!form->TimerSW->isActive());
    QVERIFY(!form->isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), form.get());
    QCOMPARE(form->focusWidget(), form->Text1);
}

void TestSend::menuItemsOpenTheirWindows_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("window");
    QTest::newRow("Program Option") << "progopmn1"
                                    << "OptProg";
    QTest::newRow("Identification") << "progopmn2"
                                    << "Identification";
    QTest::newRow("Your ip") << "aboutmn1"
                             << "YourIP";
    QTest::newRow("About") << "aboutmn3"
                           << "About";
}

void TestSend::menuItemsOpenTheirWindows()
{
    QFETCH(QString, item);
    QFETCH(QString, window);
    QString opened;
    WhenModal<QDialog>([&](QDialog* dialog) {
        opened = dialog->metaObject()->className();
        QCOMPARE(dialog->parentWidget(), form.get());
        // While it is open the main window is not the active one.
        QTRY_VERIFY(!Global::MainWindowActive);
        dialog->close();
    });
    form->findChild<QAction*>(item)->trigger();
    QCOMPARE(opened, window);
}

QTEST_MAIN(TestSend)
#include "tst_send.moc"
