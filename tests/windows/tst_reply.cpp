// Reply requests arriving over the real reply channel at a loaded main window.

#include "TestSupport.h"
#include "app/Global.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "messaging/ReceiveString.h"
#include "messaging/ReplyRequests.h"
#include "platform/ReplyChannel.h"
#include "platform/RuntimePaths.h"
#include "windows/MessageBox.h"
#include "windows/SendForm.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <future>
#include <memory>
#include <vector>

namespace {

using Answer = std::future<std::optional<std::uint32_t>>;
const auto answered = Ready<std::optional<std::uint32_t>>;

// The message receiver's side: a blocking client on its own thread.
Answer sendBlock(const QByteArray& block)
{
    const QString path = ReplyChannelPath();
    return std::async(std::launch::async, [=] {
        return SendChannelMessage(path, ChannelMessage::CopyData, 0, block, 20000);
    });
}

QByteArray bob17()
{
    return QByteArray("Bob\0"
                      "10.0.0.2\0"
                      "505\0",
                      17);
}

QStringList names()
{
    QStringList list;
    for (int i = 1; i <= UBound(Global::Users); ++i)
        list << Global::Users[static_cast<std::size_t>(i)].name;
    return list;
}

} // namespace

class TestReply : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void replyRequestsAddOrSelectTheirSender_data();
    void replyRequestsAddOrSelectTheirSender();
    void fullTableTakesNoNewEntry();
    void minimisedWindowIsRestoredAndRaised();
    void oneReplyBoxAtATime();
    void replyToolSendsRawBlocksAndSaysWhenNoCopyRuns();
    void addedCorrespondentIsStoredOnExitOnly_data();
    void addedCorrespondentIsStoredOnExitOnly();

private:
    void deliver(const QByteArray& block);

    TestFolders folders;
    std::unique_ptr<SendForm> form;
    std::unique_ptr<BoxRecorder> recorder;
};

void TestReply::init()
{
    RemoveStoreFile();
    recorder = std::make_unique<BoxRecorder>();
    form = std::make_unique<SendForm>();
    QVERIFY(form->Form_Load());
    ShowAndActivate(form.get());
    QTRY_VERIFY(MainWindowActive());
    // The raise comes half a second after a request; here sooner, so that rows run quickly.
    QCOMPARE(form->TimerSW->interval(), 500);
    form->TimerSW->setInterval(20);
}

void TestReply::cleanup()
{
    form->Form_Unload();
    form.reset();
    recorder.reset();
}

void TestReply::deliver(const QByteArray& block)
{
    Answer answer = sendBlock(block);
    QTRY_VERIFY(Ready(answer));
    QVERIFY(answer.get().has_value());
}

void TestReply::replyRequestsAddOrSelectTheirSender_data()
{
    QTest::addColumn<QStringList>("before"); // name|ip|port after localhost
    QTest::addColumn<QByteArrayList>("blocks");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("selected");

    const QStringList bob{"Bob|10.0.0.2|505"};
    const auto row = [](const char* name, const QStringList& before, const QByteArrayList& blocks,
                        const QStringList& after, int selected) {
        QTest::newRow(name) << before << blocks << after << selected;
    };
    // clang-format off
    row("17 bytes", {}, {bob17()}, bob, 1);
    row("16 bytes", {}, {bob17().left(16)}, bob, 1);
    row("name with spaces around", {}, {QByteArray("  Bob  \0" "10.0.0.2\0" "505\0", 21)}, bob, 1);
    row("address with leading zeros", {}, {QByteArray("Bob\0" "010.0.0.02\0" "505", 18)}, bob, 1);
    row("port sent empty", {}, {QByteArray("Bob\0" "10.0.0.2\0\0", 14)}, {"Bob|10.0.0.2|0"}, 1);
    const QByteArray nobody9("\0" "10.0.0.9\0" "600\0", 14);
    row("anonymous ones numbered", {}, {nobody9, nobody9, QByteArray("\0" "10.0.0.8\0" "600\0", 14)},
        {"Anonymous1|10.0.0.9|600", "Anonymous2|10.0.0.9|600", "Anonymous1|10.0.0.8|600"}, 3);
    row("known correspondent gets the new port", {"Bob|10.0.0.2|600", "Cy|10.0.0.3|700"},
        {bob17()}, {"Bob|10.0.0.2|505", "Cy|10.0.0.3|700"}, 1);
    row("two fields", {}, {bob17().left(12)}, {}, 0);
    row("bad address", {}, {QByteArray("Bob\0" "300.1.1.1\0" "505\0", 18)}, {}, 0);
    row("bad port", {}, {QByteArray("Bob\0" "10.0.0.2\0" "70000\0", 19)}, {}, 0);
    row("negative port", {}, {QByteArray("Bob\0" "10.0.0.2\0" "-1\0", 16)}, {}, 0);
    row("name too long", {}, {QByteArray(129, 'n') + QByteArray("\0" "1.1.1.1\0" "5\0", 12)}, {}, 0);
    row("spaces for a name", {}, {QByteArray("   \0" "1.1.1.1\0" "5\0", 13)}, {}, 0);
    row("no NUL", {}, {"Bob 10.0.0.2 505"}, {}, 0);
    row("empty", {}, {QByteArray()}, {}, 0);
    // clang-format on
}

void TestReply::replyRequestsAddOrSelectTheirSender()
{
    QFETCH(QStringList, before);
    QFETCH(QByteArrayList, blocks);
    QFETCH(QStringList, after);
    QFETCH(int, selected);
    for (const QString& entry : before) {
        const QStringList f = entry.split('|');
        Global::Users.push_back({f[0], f[1], f[2].toInt(), UBound(Global::Users) + 1});
    }
    form->FillRecipients(0);
    form->Combo1->setFocus();
    QSignalSpy raised(form->TimerSW, &QTimer::timeout);
    for (const QByteArray& block : blocks)
        deliver(block);
    QStringList table;
    for (int i = 2; i <= UBound(Global::Users); ++i) {
        const UserRecord& u = Global::Users[static_cast<std::size_t>(i)];
        table << QStringLiteral("%1|%2|%3").arg(u.name, u.ip).arg(u.port);
        QCOMPARE(u.order, i);
    }
    QCOMPARE(table, after);
    QCOMPARE(form->Combo1->count(), UBound(Global::Users));
    QCOMPARE(form->Combo1->currentIndex(), selected);
    QVERIFY(!ReplyPending());
    QVERIFY(recorder->boxes.isEmpty());
    // A taken request raises the window a moment later, with the caret in the message box.
    if (selected > 0) {
        QTRY_VERIFY(!raised.isEmpty());
        QCOMPARE(form->focusWidget(), form->Text1);
    } else {
        QVERIFY(raised.isEmpty() && !form->TimerSW->isActive());
    }
}

void TestReply::fullTableTakesNoNewEntry()
{
    Global::Users = DimUsers(0);
    for (int i = 1; i <= Global::MaxUsers; ++i)
        Global::Users.push_back({QStringLiteral("u%1").arg(i), "10.1.1.1", 1, i});
    // A request waiting while the table fills up is dropped, not retried at each activation.
    const UserRecord last = Global::Users.back();
    Global::Users.pop_back();
    QDialog options(form.get());
    options.setModal(true);
    options.show();
    options.activateWindow();
    QTRY_VERIFY(!MainWindowActive());
    deliver(bob17());
    QVERIFY(ReplyPending());
    Global::Users.push_back(last);
    options.close();
    form->activateWindow();
    QTRY_VERIFY(MainWindowActive());
    QVERIFY(!ReplyPending());
    form->FillRecipients(0);
    deliver(ReplyRequestBlock({}, "10.0.0.9", "600"));
    deliver(bob17());
    QCOMPARE(UBound(Global::Users), Global::MaxUsers);
    QCOMPARE(form->Combo1->currentIndex(), 0);
    // A correspondent already in the full table is still selected, with its new port.
    deliver(ReplyRequestBlock("u32767", "10.1.1.1", "9"));
    QCOMPARE(Global::Users[Global::MaxUsers].port, 9);
    QCOMPARE(form->Combo1->currentIndex(), Global::MaxUsers - 1);
}

void TestReply::minimisedWindowIsRestoredAndRaised()
{
    form->showMinimized();
    QTRY_VERIFY(form->isMinimized());
    QVERIFY(MainWindowActive());
    deliver(bob17());
    QVERIFY(!form->isMinimized());
    QCOMPARE(form->Combo1->currentIndex(), 1);
    QTRY_VERIFY(!form->TimerSW->isActive());
    QTRY_COMPARE(QApplication::activeWindow(), form.get());
    QCOMPARE(form->focusWidget(), form->Text1);
}

void TestReply::oneReplyBoxAtATime()
{
    recorder.reset(); // real boxes: the receiver must wait while one is open
    QDialog options(form.get());
    options.setModal(true);
    options.show();
    options.activateWindow();
    QTRY_VERIFY(!MainWindowActive());

    // Requests go one after the other, each once the box names the one before; every 50th
    // the user closes the box, and the next request opens it again.
    constexpr int Requests = 150;
    constexpr int PerBox = 50;
    const auto name = [](std::size_t i) { return QStringLiteral("U%1").arg(i); };
    std::vector<Answer> answers;
    int mostOpen = 0;
    bool answeredEarly = false;
    QStringList titles;
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
        QList<QMessageBox*> open;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                open << box;
        }
        mostOpen = std::max(mostOpen, int(open.size()));
        const std::size_t sent = answers.size();
        const bool allAnswered = std::all_of(answers.begin(), answers.end(), answered);
        if (!open.isEmpty()) {
            titles << open.first()->windowTitle();
            if (open.first()->text() != "Return to main menu for reply to user " + name(sent))
                return;
            if (sent % PerBox != 0) {
                answers.push_back(sendBlock(ReplyRequestBlock(name(sent + 1), "10.0.0.7", "7")));
                return;
            }
            // The requests this box took in are answered only once it closes.
            answeredEarly |=
                std::count_if(answers.begin(), answers.end(), answered) != int(sent) - PerBox;
            open.first()->button(QMessageBox::Ok)->click();
        } else if (sent < Requests && allAnswered) {
            answers.push_back(sendBlock(ReplyRequestBlock(name(sent + 1), "10.0.0.7", "7")));
        } else if (allAnswered) {
            user.stop();
        }
    });
    user.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(!user.isActive(), 100000);
    QCOMPARE(mostOpen, 1);
    QVERIFY(!answeredEarly);
    titles.removeDuplicates();
    QCOMPARE(titles, QStringList{"Reply"});
    for (Answer& answer : answers)
        QVERIFY(answer.get().has_value());
    QCOMPARE(names(), QStringList{"localhost"});

    options.close();
    form->activateWindow();
    QTRY_VERIFY(!ReplyPending());
    QCOMPARE(names(), (QStringList{"localhost", name(Requests)}));
    QCOMPARE(form->Combo1->currentIndex(), 1);
    QTRY_VERIFY(!form->TimerSW->isActive());
    QCOMPARE(form->focusWidget(), form->Text1);
}

void TestReply::replyToolSendsRawBlocksAndSaysWhenNoCopyRuns()
{
    QTemporaryFile block;
    QVERIFY(block.open());
    block.write(bob17().left(16));
    block.close();
    QProcess tool;
    QSignalSpy finished(&tool, &QProcess::finished);
    tool.start(QStringLiteral(QUORVANE_REPLY), {"--raw", block.fileName()});
    QVERIFY(finished.wait(10000));
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(names(), (QStringList{"localhost", "Bob"}));

    const PrivateFolders nobody;
    tool.setProcessEnvironment(nobody.environment());
    tool.start(QStringLiteral(QUORVANE_REPLY), {"Eve", "10.0.0.5", "505"});
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 1);
    // With the channel's own reason.
    QVERIFY(
        QString(tool.readAllStandardError())
            .contains(QRegularExpression("no running Quorvane answered on .*\\.sock \\(.+\\)")));
    tool.start(QStringLiteral(QUORVANE_REPLY), {"only-a-name"});
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 2);
}

void TestReply::addedCorrespondentIsStoredOnExitOnly_data()
{
    // The answers to the exit's question, in turn; none: the store can be written.
    QTest::addColumn<QList<bool>>("answers");
    QTest::newRow("store writable") << QList<bool>();
    QTest::newRow("read-only store: try again, then exit without saving")
        << QList<bool>{true, false};
}
void TestReply::addedCorrespondentIsStoredOnExitOnly()
{
    QFETCH(QList<bool>, answers);
    // Until then the store keeps the table saved at start-up, should the program be killed.
    deliver(bob17());
    QCOMPARE(names(), (QStringList{"localhost", "Bob"}));
    QVERIFY(ReadStoreBytes().contains("1_name=localhost") && !ReadStoreBytes().contains("Bob"));
    if (!answers.isEmpty())
        QVERIFY(QFile::setPermissions(StoreFilePath(), QFile::ReadOwner));
    for (bool yes : answers)
        SetNextAnswer(yes);
    form->exitmn->trigger();
    if (answers.isEmpty()) {
        QCOMPARE(StoreSection("Users"),
                 (QStringList{"1_ip=127.0.0.1", "1_name=localhost", "1_port=505", "2_ip=10.0.0.2",
                              "2_name=Bob", "2_port=505"}));
        QVERIFY(recorder->boxes.isEmpty());
        return;
    }
    // Asked at each try, saying what exiting without saving does; nothing after the choice.
    QCOMPARE(recorder->boxes.size(), answers.size());
    for (const Box& box : std::as_const(recorder->boxes))
        QVERIFY2(box.title == "Error" &&
                     box.text.contains(StoreFilePath() + ": Permission denied") &&
                     box.text.contains("\"Exit without saving\" loses the changes"),
                 qPrintable(box.text));
    // Given up for good: once the store can be written, the next save leaves Bob out.
    QVERIFY(QFile::setPermissions(StoreFilePath(), QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(PendingSaveProblem(), QString());
    SettingsStore(StoreKeys::Application).SaveSetting("Later", "Key", "7");
    QCOMPARE(StoreSection("Later"), QStringList{"Key=7"});
    QVERIFY(!ReadStoreBytes().contains("Bob"));
    QCOMPARE(recorder->boxes.size(), answers.size());
}

QTEST_MAIN(TestReply)
#include "tst_reply.moc"
