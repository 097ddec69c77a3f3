// Picking a computer of the network and resolving host names, with the real resolver.

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Global.h"
#include "app/Validation.h"
#include "platform/GetNetworkUser.h"
#include "windows/MessageBox.h"
#include "windows/Modify_or_add.h"
#include "windows/NetworkPicker.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

namespace {

class NoRows : public UserRows
{
public:
    int rowCount() const override { return 0; }
    QString rowName(int) const override { return {}; }
    QString rowIp(int) const override { return {}; }
};

// What a user does in the picker: type a name and press OK, or cancel.
void answerPicker(const QString& typed)
{
    WhenModal<NetworkPicker>([typed](NetworkPicker* picker) {
        if (typed.isNull()) {
            picker->cancel->click();
            return;
        }
        QTest::keyClicks(picker->hostName, typed);
        picker->ok->click();
    });
}

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void resolvesWithTheSystemResolver();
    void firstAddressWins();
    void pickerWorksByTypingWithoutADaemon();
    void cancelledPickResolvesNothing();
    void addNetworkUserFillsTheBoxes();
    void failedPickChangesNothing();

private:
    TestFolders folders;
    QTemporaryDir noBus;
    std::unique_ptr<QWidget> owner;
    QStringList boxes;
};

void TestNetwork::initTestCase()
{
    // No daemon can answer here, whatever the machine runs.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + noBus.filePath("none")).toLocal8Bit());
    InstallNetworkPicker();
}

void TestNetwork::init()
{
    owner = std::make_unique<QWidget>();
    owner->show();
    Global::MainWindowHandle = owner.get();
    boxes.clear();
    SetMessageBoxAnswerer(
        [this](const QString& title, const QString& text) { boxes << title + ": " + text; });
}

void TestNetwork::cleanup()
{
    SetHostResolver({});
    SetMessageBoxAnswerer({});
    owner.reset();
}

void TestNetwork::resolvesWithTheSystemResolver()
{
    QString name = QStringLiteral("localhost");
    QCOMPARE(ResolveHostName(name), QStringLiteral("127.0.0.1"));
    name = QStringLiteral("  localhost  ");
    QCOMPARE(ResolveHostName(name), QStringLiteral("127.0.0.1"));
    QCOMPARE(name, QStringLiteral("localhost"));
    name = QStringLiteral("quorvane-test.invalid");
    QCOMPARE(ResolveHostName(name), QString());
    name = QStringLiteral("   ");
    QCOMPARE(ResolveHostName(name), QString());
}

void TestNetwork::firstAddressWins()
{
    QStringList asked;
    SetHostResolver([&asked](const QString& name) {
        asked << name;
        return QList<QHostAddress>{QHostAddress("::1"), QHostAddress("10.0.0.7"),
                                   QHostAddress("10.0.0.8")};
    });
    QString name = QStringLiteral(" several ");
    QCOMPARE(ResolveHostName(name), QStringLiteral("10.0.0.7"));
    QCOMPARE(asked, QStringList{"several"});
}

void TestNetwork::pickerWorksByTypingWithoutADaemon()
{
    QString statusText;
    bool okEnabledWhenEmpty = true;
    WhenModal<NetworkPicker>([&](NetworkPicker* picker) {
        QCOMPARE(picker->windowTitle(), QStringLiteral("Select a network computer."));
        QCOMPARE(picker->parentWidget(), owner.get());
        QTRY_VERIFY(picker->status->text().contains("unavailable"));
        statusText = picker->status->text();
        okEnabledWhenEmpty = picker->ok->isEnabled();
        QTest::keyClicks(picker->hostName, " localhost ");
        picker->ok->click();
    });
    QString ip;
    QString name;
    QVERIFY(BrowseNetworkComputer(ip, name));
    QCOMPARE(name, QStringLiteral("localhost"));
    QCOMPARE(ip, QStringLiteral("127.0.0.1"));
    QVERIFY(statusText.startsWith("Automatic discovery is unavailable"));
    QVERIFY(!okEnabledWhenEmpty);
}

void TestNetwork::cancelledPickResolvesNothing()
{
    int lookups = 0;
    SetHostResolver([&lookups](const QString&) {
        ++lookups;
        return QList<QHostAddress>{};
    });
    answerPicker(QString());
    QString ip = QStringLiteral("kept");
    QString name = QStringLiteral("kept");
    QVERIFY(!BrowseNetworkComputer(ip, name));
    QCOMPARE(ip, QStringLiteral("kept"));
    WhenModal<NetworkPicker>([](NetworkPicker* picker) { picker->close(); });
    QVERIFY(!BrowseNetworkComputer(ip, name));
    QCOMPARE(lookups, 0);
}

void TestNetwork::addNetworkUserFillsTheBoxes()
{
    Global::DefaultPort = 777;
    Global::EditedUser = {"NewUser1", "127.0.0.1", 505, 0};
    NoRows rows;
    Modify_or_add editor(rows);
    editor.show();
    answerPicker(QStringLiteral(" localhost "));
    editor.cmdAddNetworkUser->click();
    QCOMPARE(editor.username->text(), QStringLiteral("localhost"));
    QCOMPARE(editor.userip->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(editor.userport->text(), QStringLiteral("777"));
    QVERIFY(boxes.isEmpty());

    // A long name is cut to the name box's limit.
    SetHostResolver([](const QString&) { return QList<QHostAddress>{QHostAddress("10.1.2.3")}; });
    answerPicker(QString(200, QLatin1Char('h')));
    editor.cmdAddNetworkUser->click();
    QCOMPARE(editor.username->text(), QString(128, QLatin1Char('h')));
    QCOMPARE(editor.userip->text(), QStringLiteral("10.1.2.3"));
}

void TestNetwork::failedPickChangesNothing()
{
    Global::EditedUser = {"Bob", "10.0.0.2", 600, 0};
    NoRows rows;
    Modify_or_add editor(rows);
    editor.show();
    answerPicker(QStringLiteral("quorvane-test.invalid"));
    editor.cmdAddNetworkUser->click();
    answerPicker(QString());
    editor.cmdAddNetworkUser->click();
    QCOMPARE(boxes, QStringList(2, "Error: Unable to Browse the network"));
    QCOMPARE(editor.username->text(), QStringLiteral("Bob"));
    QCOMPARE(editor.userip->text(), QStringLiteral("10.0.0.2"));
    QCOMPARE(editor.userport->text(), QStringLiteral("600"));
}

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
