// Sending from the main window to a real TCP server on 127.0.0.1.

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
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

// Keeps what each connection delivered, reported once the sender has closed it.
class Listener : public QObject
{
    Q_OBJECT
public:
    Listener()
    {
        server.setMaxPendingConnections(200);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto* data = new QByteArray;
                connect(socket, &QTcpSocket::readyRead, socket,
                        [socket, data] { *data += socket->readAll(); });
                connect(socket, &QTcpSocket::disconnected, this, [this, socket, data] {
                    *data += socket->readAll();
                    records.append(*data);
                    delete data;
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

QByteArray record(const char* text)
{
    return QByteArray("Me\0"
                      "505\0",
                      7) +
           text;
}

} // namespace

class TestSend : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sendByButton();
    void sendByShiftEnter();
    void outcomeFollowsTheOptions_data();
    void outcomeFollowsTheOptions();
    void refusedConnection();
    void textIsReadWhenTheConnectionStands();
    void boxNamesTheCorrespondentOfThePress();
    void historyKeepsTheLastTen();
    void otherEnterKeysDoNotSend();
    void stopAfterShiftEnterKeepsTheWindowUp();
    void shiftEnterAbandonsTheSendUnderWay();
    void successBoxKeepsTheConnectionOpen();
    void activationFollowsTheProgramsOwnWindows();
    void timerTickRaisesTheWindowWithTheCaretInText1();
    void menuItemsOpenTheirWindows();
    void tabOrderAndNothingClipped();

private:
    void waitForIdle();
    void setText(const QString& text);

    TestFolders folders;
    std::unique_ptr<Listener> listener;
    std::unique_ptr<SendForm> form;
    std::unique_ptr<BoxRecorder> recorder;
};

void TestSend::init()
{
    RemoveStoreFile();
    recorder = std::make_unique<BoxRecorder>();
    listener = std::make_unique<Listener>();
    form = std::make_unique<SendForm>();
    QVERIFY(form->Form_Load());
    Global::PopupWhenSend = true;
    Global::MinimizedWhenSend = true;
    Global::Users = DimUsers(2);
    Global::Users[1] = {"peer", "127.0.0.1", listener->port(), 1};
    Global::Users[2] = {"other", "127.0.0.1", listener->port(), 2};
    form->FillRecipients(0);
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QCOMPARE(form->focusWidget(), form->Text1);
}

void TestSend::cleanup()
{
    form->Form_Unload();
    form.reset();
    listener.reset();
    recorder.reset();
}

void TestSend::waitForIdle()
{
    QTRY_VERIFY(form->Command1->isEnabled());
}

void TestSend::setText(const QString& text)
{
    form->Text1->setPlainText(text);
    form->Text1->moveCursor(QTextCursor::End);
}

void TestSend::sendByButton()
{
    setText("Hello\nworld");
    QSignalSpy closed(listener.get(), &Listener::closed);
    form->Command1->click();
    QVERIFY(!form->Command1->isEnabled());
    QVERIFY(closed.wait(5000));
    QCOMPARE(listener->records, QList<QByteArray>{record("Hello\r\nworld")});
    waitForIdle();
    QCOMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].title, QStringLiteral("Message Send!!"));
    QCOMPARE(recorder->boxes[0].text,
             QStringLiteral("Sucessful Message Send to: peer (127.0.0.1)"));
    QCOMPARE(form->Text1->toPlainText(), QString());
    QVERIFY(form->isMinimized());
}

void TestSend::sendByShiftEnter()
{
    QTest::keyClicks(form->Text1, "Hi");
    QSignalSpy closed(listener.get(), &Listener::closed);
    QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(closed.wait(5000));
    // The line break typed with the send is part of the text sent.
    QCOMPARE(listener->records, QList<QByteArray>{record("Hi\r\n")});
    waitForIdle();
    QCOMPARE(recorder->boxes.size(), 1);
    QVERIFY(!form->isMinimized());
    QVERIFY(!form->sentByKey());
    QCOMPARE(form->history().last(), QStringLiteral("Hi"));
}

void TestSend::outcomeFollowsTheOptions_data()
{
    QTest::addColumn<bool>("popup");
    QTest::addColumn<bool>("minimized");
    QTest::newRow("neither") << false << false;
    QTest::newRow("pop-up only") << true << false;
    QTest::newRow("minimise only") << false << true;
    QTest::newRow("both") << true << true;
}

void TestSend::outcomeFollowsTheOptions()
{
    QFETCH(bool, popup);
    QFETCH(bool, minimized);
    Global::PopupWhenSend = popup;
    Global::MinimizedWhenSend = minimized;
    setText("x");
    form->Command1->click();
    QTRY_COMPARE(listener->records.size(), 1);
    waitForIdle();
    QCOMPARE(recorder->boxes.size(), popup ? 1 : 0);
    QCOMPARE(form->isMinimized(), minimized);
    QCOMPARE(form->Text1->toPlainText(), QString());
    QVERIFY(!form->sentByKey());
}

void TestSend::refusedConnection()
{
    quint16 closedPort = 0;
    {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost, 0));
        closedPort = gone.serverPort();
    }
    Global::Users[1].port = closedPort;
    form->FillRecipients(0);
    setText("keep me");
    QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(recorder->boxes[0].text, QStringLiteral("Winsock Error: Connection refused"));
    QVERIFY(form->Command1->isEnabled());
    QVERIFY(!form->sentByKey());
    QCOMPARE(form->Text1->toPlainText(), QStringLiteral("keep me\n"));
    QVERIFY(!form->isMinimized());
    QCOMPARE(form->Winsock1->state(), QAbstractSocket::UnconnectedState);
}

void TestSend::textIsReadWhenTheConnectionStands()
{
    Global::PopupWhenSend = false;
    setText("as pressed");
    form->Command1->click();
    form->Text1->setPlainText("changed");
    QTRY_COMPARE(listener->records.size(), 1);
    QCOMPARE(listener->records[0], record("changed"));
    QCOMPARE(form->history().last(), QStringLiteral("as pressed"));
}

void TestSend::boxNamesTheCorrespondentOfThePress()
{
    Global::Users[2] = {"other", "127.0.0.2", 9, 2};
    form->FillRecipients(0);
    setText("to peer");
    form->Command1->click();
    form->Combo1->setCurrentIndex(1);
    QTRY_COMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].text,
             QStringLiteral("Sucessful Message Send to: peer (127.0.0.1)"));
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

    for (int i = 1; i <= 11; ++i) {
        setText(QStringLiteral("m%1").arg(i));
        form->Command1->click();
        QTRY_COMPARE(listener->records.size(), i);
        waitForIdle();
    }
    QStringList expected{QString()};
    for (int i = 2; i <= 11; ++i)
        expected << QStringLiteral("m%1").arg(i);
    QCOMPARE(form->history(), expected);
    QCOMPARE(form->historyPos(), 10);

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

void TestSend::otherEnterKeysDoNotSend()
{
    setText("line");
    QTest::keyClick(form->Text1, Qt::Key_Return);
    QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier | Qt::AltModifier);
    // A send disables the button at once and records the text.
    QVERIFY(form->Command1->isEnabled());
    QCOMPARE(form->history().size(), 1);
    QVERIFY(form->Text1->toPlainText().startsWith(QStringLiteral("line\n")));
}

void TestSend::stopAfterShiftEnterKeepsTheWindowUp()
{
    setText("stopped");
    QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier);
    form->StopSend->click();
    QVERIFY(form->Command1->isEnabled());
    QVERIFY(form->sentByKey());
    QCOMPARE(form->Winsock1->state(), QAbstractSocket::UnconnectedState);

    // The next send, from the button, is not minimised and clears the flag.
    setText("next");
    form->Command1->click();
    QTRY_COMPARE(recorder->boxes.size(), 1);
    waitForIdle();
    QVERIFY(!form->isMinimized());
    QVERIFY(!form->sentByKey());
    QVERIFY(listener->records.contains(record("next")));
    QVERIFY(!listener->records.contains(record("stopped\r\n")));
}

void TestSend::shiftEnterAbandonsTheSendUnderWay()
{
    setText("first");
    form->Command1->click();
    QVERIFY(!form->Command1->isEnabled());
    // Shift+Enter still sends while the button is disabled, dropping the first attempt.
    QTest::keyClick(form->Text1, Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(recorder->boxes.size(), 1);
    waitForIdle();
    QTRY_VERIFY(listener->records.contains(record("first\r\n")));
    for (const QByteArray& data : listener->records)
        QVERIFY(data.isEmpty() || data == record("first\r\n"));
    QCOMPARE(recorder->boxes.size(), 1);
    QVERIFY(!form->isMinimized());
}

void TestSend::successBoxKeepsTheConnectionOpen()
{
    // A real box this time: events keep flowing while it is open, and the connection is
    // closed only once the user has answered it.
    recorder.reset(); // a real box this time
    QSignalSpy closed(listener.get(), &Listener::closed);
    QString title;
    QString text;
    int closedWhileOpen = -1;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        answer.stop();
        title = box->windowTitle();
        text = box->text();
        QCOMPARE(box->icon(), QMessageBox::Warning);
        QCOMPARE(box->buttons().size(), 1);
        closedWhileOpen = static_cast<int>(closed.count());
        box->button(QMessageBox::Ok)->click();
    });
    answer.start(10);
    setText("boxed");
    form->Command1->click();
    QVERIFY(closed.wait(5000));
    QCOMPARE(title, QStringLiteral("Message Send!!"));
    QCOMPARE(text, QStringLiteral("Sucessful Message Send to: peer (127.0.0.1)"));
    QCOMPARE(closedWhileOpen, 0);
    QCOMPARE(listener->records, QList<QByteArray>{record("boxed")});
    waitForIdle();
}

void TestSend::activationFollowsTheProgramsOwnWindows()
{
    QTRY_VERIFY(Global::MainWindowActive);
    QDialog dialog(form.get());
    dialog.setModal(true);
    dialog.show();
    dialog.activateWindow();
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
    QVERIFY(!form->TimerSW->isActive());
    QCOMPARE(form->TimerSW->interval(), 500);
    form->TimerSW->start();
    QTRY_VERIFY(!form->TimerSW->isActive());
    QVERIFY(!form->isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), form.get());
    QCOMPARE(form->focusWidget(), form->Text1);
}

void TestSend::menuItemsOpenTheirWindows()
{
    const QList<QPair<QAction*, QString>> items = {{form->progopmn[1], "Options"},
                                                   {form->progopmn[2], "Identification"},
                                                   {form->aboutmn[1], "Your IP is..."},
                                                   {form->aboutmn[3], "Credits"}};
    for (const auto& [action, caption] : items) {
        QString seen;
        WhenModal<QDialog>([&](QDialog* dialog) {
            seen = dialog->windowTitle();
            QCOMPARE(dialog->parentWidget(), form.get());
            // While it is open the main window is not the active one.
            QTRY_VERIFY(!Global::MainWindowActive);
            dialog->close();
        });
        action->trigger();
        QCOMPARE(seen, caption);
    }
    QVERIFY(form->aboutmn[2]->isSeparator());
}

void TestSend::tabOrderAndNothingClipped()
{
    CheckTabOrder(form.get(),
                  {form->Text1, form->Command1, form->StopSend, form->Combo1, form->Adduser});
    AtEveryFontSize([] {
        SendForm large;
        ShowAndActivate(&large);
        CheckNothingClipped(&large);
    });
}

QTEST_MAIN(TestSend)
#include "tst_send.moc"
