// Sending from the main window to real TCP servers on this machine.

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Global.h"
#include "windows/MessageBox.h"
#include "windows/SendForm.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace {

// Keeps what each connection delivered, once the sender has closed it.
class Listener : public QObject
{
public:
    Listener()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    records.append(socket->readAll());
                    socket->deleteLater();
                });
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }
    QList<QByteArray> records;

private:
    QTcpServer server;
};

// The identification the tests send with; not the shipped defaults.
QByteArray record(const QByteArray& text)
{
    return QByteArray("Ann|5050|").replace('|', '\0') + text;
}

quint16 closedPort()
{
    QTcpServer gone;
    gone.listen(QHostAddress::LocalHost, 0);
    return gone.serverPort();
}

QString box(const Box& shown)
{
    return shown.title + ": " + shown.text;
}

const QString SentToPeer = "Message Send!!: Sucessful Message Send to: peer (127.0.0.1)";

} // namespace

class TestSend : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sendOutcomeFollowsTriggerAndOptions_data();
    void sendOutcomeFollowsTriggerAndOptions();
    void errorBoxNamesAddressPortAndCause_data();
    void errorBoxNamesAddressPortAndCause();
    void stopDuringAPendingConnectionShowsNothingAndKeepsTheKeyFlag();
    void shiftEnterAbandonsTheSendUnderWay();
    void textIsReadWhenTheConnectionStandsAndTheBoxWaitsWithItOpen();
    void historyKeepsTheLastTen();
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
    QTest::addColumn<int>("key"); // 0: the Send button
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("popup");
    QTest::addColumn<bool>("minimize");
    const int shift = Qt::ShiftModifier;
    QTest::newRow("button, neither") << 0 << 0 << false << false;
    QTest::newRow("button, pop-up") << 0 << 0 << true << false;
    QTest::newRow("button, minimise") << 0 << 0 << false << true;
    QTest::newRow("button, both") << 0 << 0 << true << true;
    QTest::newRow("Shift+Enter, both") << int(Qt::Key_Return) << shift << true << true;
    QTest::newRow("Shift+keypad Enter") << int(Qt::Key_Enter) << shift << false << true;
    QTest::newRow("Enter") << int(Qt::Key_Return) << 0 << true << true;
    QTest::newRow("Ctrl+Shift+Enter")
        << int(Qt::Key_Return) << (shift | int(Qt::ControlModifier)) << true << true;
    QTest::newRow("Alt+Shift+Enter")
        << int(Qt::Key_Return) << (shift | int(Qt::AltModifier)) << true << true;
}

void TestSend::sendOutcomeFollowsTriggerAndOptions()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, popup);
    QFETCH(bool, minimize);
    Global::PopupWhenSend = popup;
    Global::MinimizedWhenSend = minimize;
    setText("Hello\nworld");
    if (key == 0)
        form->Command1->click();
    else
        QTest::keyClick(form->Text1, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    const bool sends = key == 0 || modifiers == Qt::ShiftModifier;
    QCOMPARE(form->Command1->isEnabled(), !sends);
    QCOMPARE(form->history().size(), sends ? 2 : 1);
    if (!sends)
        return;
    // The line break typed with Shift+Enter is part of the text sent.
    QTRY_COMPARE(listener->records,
                 QList<QByteArray>{record(key ? "Hello\r\nworld\r\n" : "Hello\r\nworld")});
    QTRY_VERIFY(form->Command1->isEnabled());
    QCOMPARE(recorder->boxes.size(), popup ? 1 : 0);
    if (popup)
        QCOMPARE(box(recorder->boxes[0]), SentToPeer);
    QCOMPARE(form->Text1->toPlainText(), QString());
    QCOMPARE(form->isMinimized(), minimize && key == 0);
    QVERIFY(!form->sentByKey());
}

void TestSend::errorBoxNamesAddressPortAndCause_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("description"); // %1: the port
    const auto refused = [](const QString& ip) {
        return "nothing is listening at " + ip + " port %1; is their message receiver running?";
    };
    const QString range = "127.0.0.1 port %1: the port must be 1 to 65535; check the "
                          "correspondent's port.";
    QTest::newRow("refused") << "127.0.0.1" << int(closedPort()) << refused("127.0.0.1");
    QTest::newRow("refused over IPv6") << "::1" << int(closedPort()) << refused("::1");
    QTest::newRow("port out of range") << "127.0.0.1" << 65536 << range;
    QTest::newRow("port 0") << "127.0.0.1" << 0 << range;
    QTest::newRow("address that cannot be used")
        << "10.0.0.256" << 5050
        << "\"10.0.0.256\" is not an address that can be used (port %1); check the "
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
    QCOMPARE(box(recorder->boxes[0]), "Error: Winsock Error: " + description.arg(port));
    QVERIFY(form->Command1->isEnabled());
    QVERIFY(!form->sentByKey());
    QCOMPARE(form->Text1->toPlainText(), QStringLiteral("keep me\n"));
    QVERIFY(!form->isMinimized());
    QCOMPARE(form->Winsock1->state(), TcpClient::State::Closed);
}

void TestSend::stopDuringAPendingConnectionShowsNothingAndKeepsTheKeyFlag()
{
    // A listener that accepts nothing and queues one connection: the next one stays pending.
    QTcpServer full;
    full.setListenBacklogSize(0);
    QVERIFY(full.listen(QHostAddress::LocalHost, 0));
    full.pauseAccepting();
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, full.serverPort());
    QVERIFY(filler.waitForConnected(5000));
    useRecipient(2, "127.0.0.1", full.serverPort());
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
    form->Command1->click();
    QTRY_VERIFY(form->Command1->isEnabled());
    QCOMPARE(recorder->boxes.size(), 1);
    QVERIFY(!form->isMinimized());
    QVERIFY(!form->sentByKey());
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

void TestSend::textIsReadWhenTheConnectionStandsAndTheBoxWaitsWithItOpen()
{
    recorder.reset(); // a real box: events keep flowing while it is open
    QString text;
    bool openWhileShown = false;
    WhenModal<QMessageBox>([&](QMessageBox* shown) {
        text = box({shown->windowTitle(), shown->text()});
        QCOMPARE(shown->icon(), QMessageBox::Warning);
        QCOMPARE(shown->buttons().size(), 1);
        openWhileShown = form->Winsock1->state() == TcpClient::State::Connected;
        shown->button(QMessageBox::Ok)->click();
    });
    setText("as pressed");
    form->Command1->click();
    // The text goes as it is when the connection stands; the box names the press's target.
    form->Text1->setPlainText("changed");
    form->Combo1->setCurrentIndex(1);
    QTRY_COMPARE(listener->records, QList<QByteArray>{record("changed")});
    QCOMPARE(form->history().last(), QStringLiteral("as pressed"));
    QCOMPARE(text, SentToPeer);
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

void TestSend::menuItemsOpenTheirWindows_data()
{
    QTest::addColumn<QString>("window"); // the row is the menu item
    QTest::newRow("progopmn1") << QStringLiteral("OptProg");
    QTest::newRow("progopmn2") << QStringLiteral("Identification");
    QTest::newRow("aboutmn1") << QStringLiteral("YourIP");
    QTest::newRow("aboutmn3") << QStringLiteral("About");
}

void TestSend::menuItemsOpenTheirWindows()
{
    QFETCH(QString, window);
    QString opened;
    WhenModal<QDialog>([&](QDialog* dialog) {
        opened = dialog->metaObject()->className();
        QCOMPARE(dialog->parentWidget(), form.get());
        // While it is open the main window is not the active one.
        QTRY_VERIFY(!Global::MainWindowActive);
        dialog->close();
    });
    form->findChild<QAction*>(QTest::currentDataTag())->trigger();
    QCOMPARE(opened, window);
}

QTEST_MAIN(TestSend)
#include "tst_send.moc"
