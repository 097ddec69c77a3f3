// The settings store and the user list store against real files in a private folder.

#include "TestSupport.h"
#include "app/Global.h"
#include "app/RecipientList.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/UserStore.h"

#include <QTest>
#include <algorithm>
#include <random>

namespace {

// What the main window's list would show, kept as plain lines.
class LinesList : public RecipientList
{
public:
    void clear() override { lines.clear(), current = -1; }
    void addItems(const QStringList& more) override { lines += more; }
    int count() const override { return static_cast<int>(lines.size()); }
    void setCurrentIndex(int index) override { current = index; }
    QStringList lines;
    int current = -1;
};

UserRecord user(const char* name, const char* ip, int port, int order = 0)
{
    return {QString::fromUtf8(name), QString::fromUtf8(ip), port, order};
}

void compareUsers(const UserTable& actual, const QList<UserRecord>& expected)
{
    QCOMPARE(UBound(actual), expected.size());
    QCOMPARE(actual[0].name, QString());
    for (int i = 1; i <= UBound(actual); ++i) {
        const UserRecord& a = actual[static_cast<std::size_t>(i)];
        const UserRecord& e = expected[i - 1];
        QCOMPARE(a.name, e.name);
        QCOMPARE(a.ip, e.ip);
        QCOMPARE(a.port, e.port);
        QCOMPARE(a.order, i);
    }
}

QMap<QString, QString> usersSection()
{
    return ReadStoreSections().value(QStringLiteral("Users"));
}

// 15 twips a pixel on a 1024 x 768 screen.
const QSizeF Screen(15360, 11520);

} // namespace

class TestStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void storeOperations();
    void sessionWritesOnceAtItsEnd();
    void emptyStoreGivesDefaults();
    void storedOptionsAreRead_data();
    void storedOptionsAreRead();
    void optionsAreWrittenAsText();
    void identificationIsWritten();
    void windowPositions_data();
    void windowPositions();
    void windowPositionKeysCarryThePrefix();

    void firstStartsMoveThroughTheMarkerStates();
    void threeEntriesRoundTripInAnyListingOrder();
    void emptiedTableLeavesNoSection();
    void namesWithUnderscoresAndBlanks();
    void handEditedUsersSection();
    void handEditedValueWithComma();

private:
    TestFolders folders;
};

void TestStore::initTestCase()
{
    SetScreenSizeSource([] { return Screen; });
}

void TestStore::init()
{
    RemoveStoreFile();
    Global::BuildDefaultUsers();
    Global::Users = DimUsers(0);
}

void TestStore::storeOperations()
{
    {
        SettingsStore store(StoreKeys::Application);
        QCOMPARE(store.GetSetting("S", "missing", "505"), QStringLiteral("505"));
        store.SaveSetting("S", "a", "1");
        store.SaveSetting("S", "b", "two words");
        store.SaveSetting("T", "a", "other section");
        store.SaveSetting("S", "a", "replaced");
        QCOMPARE(store.GetSetting("S", "a", ""), QStringLiteral("replaced"));
        store.DeleteSetting("S", "b");
        QCOMPARE(store.GetSetting("S", "b", "gone"), QStringLiteral("gone"));
    }
    // A later store object, as in a later run, reads what was written.
    SettingsStore store(StoreKeys::Application);
    SettingPairs all = store.GetAllSettings("S");
    QCOMPARE(all, (SettingPairs{{"a", "replaced"}}));
    store.DeleteSetting("T");
    QCOMPARE(store.GetAllSettings("T"), SettingPairs());
    QCOMPARE(store.GetSetting("S", "a", ""), QStringLiteral("replaced"));
}

void TestStore::sessionWritesOnceAtItsEnd()
{
    {
        const StoreSession session(StoreKeys::Application);
        Global::MyUsername = QStringLiteral("Ann");
        SaveIdentification();
        SaveOptions();
        QVERIFY(ReadStoreBytes().isEmpty());
        // Within the session every load sees what was saved.
        Global::MyUsername.clear();
        LinesList list;
        LoadSettings(list);
        QCOMPARE(Global::MyUsername, QStringLiteral("Ann"));
    }
    const IniSections store = ReadStoreSections();
    QCOMPARE(store.value("Identification").value("MyUsername"), QStringLiteral("Ann"));
    QCOMPARE(store.value("Settings").value("DefaultPort"), QStringLiteral("505"));
    QCOMPARE(store.value("Users").keys(), QStringList{"TestUsers"});
    // Afterwards each store object writes at once again.
    SaveWindowPosition(WindowPrefix::About, 1, 2);
    QCOMPARE(ReadStoreSections().value("Settings").value("About StartUPX"), QStringLiteral("1"));
}

void TestStore::emptyStoreGivesDefaults()
{
    Global::DefaultPort = 1;
    Global::MinimizedWhenSend = false;
    Global::PopupWhenSend = false;
    Global::DefaultIp = "x";
    Global::MyUsername = "x";
    Global::MyPortnb = 1;
    LinesList list;
    LoadSettings(list);
    QCOMPARE(Global::DefaultPort, 505);
    QCOMPARE(Global::MinimizedWhenSend, true);
    QCOMPARE(Global::PopupWhenSend, true);
    QCOMPARE(Global::DefaultIp, QStringLiteral("127.0.0.1"));
    QCOMPARE(Global::MyUsername, QStringLiteral("Me"));
    QCOMPARE(Global::MyPortnb, 505);
    compareUsers(Global::Users, {user("localhost", "127.0.0.1", 505)});
    QCOMPARE(list.lines, QStringList{"localhost (127.0.0.1: 505)"});
    QCOMPARE(list.current, 0);
}

void TestStore::storedOptionsAreRead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("popup");
    QTest::addColumn<int>("port");

    QTest::newRow("lower case words")
        << QByteArray("MinimizedWhenSend=false\nPopupWhenSend=true\n") << false << true << 505;
    QTest::newRow("numbers") << QByteArray("MinimizedWhenSend=0\nPopupWhenSend=1\nDefaultPort=80\n")
                             << false << true << 80;
    QTest::newRow("half to even") << QByteArray("DefaultPort=12.5\n") << true << true << 12;
    QTest::newRow("unreadable keeps defaults")
        << QByteArray("MinimizedWhenSend=maybe\nPopupWhenSend=\nDefaultPort=port 80\n") << true
        << true << 505;
}

void TestStore::storedOptionsAreRead()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, minimized);
    QFETCH(bool, popup);
    QFETCH(int, port);
    WriteStoreFile("[Settings]\n" + file);
    LinesList list;
    LoadSettings(list);
    QCOMPARE(Global::MinimizedWhenSend, minimized);
    QCOMPARE(Global::PopupWhenSend, popup);
    QCOMPARE(Global::DefaultPort, port);
}

void TestStore::optionsAreWrittenAsText()
{
    WriteStoreFile("[Settings]\nMinimizedWhenSend=0\nPopupWhenSend=true\nDefaultIp=10.0.0.9\n");
    LinesList list;
    LoadSettings(list);
    SaveOptions();
    const QMap<QString, QString> settings = ReadStoreSections().value("Settings");
    QCOMPARE(settings.value("MinimizedWhenSend"), QStringLiteral("False"));
    QCOMPARE(settings.value("PopupWhenSend"), QStringLiteral("True"));
    QCOMPARE(settings.value("DefaultPort"), QStringLiteral("505"));
    QCOMPARE(settings.value("DefaultIp"), QStringLiteral("10.0.0.9"));
    QVERIFY(!ReadStoreSections().contains("Identification"));
}

void TestStore::identificationIsWritten()
{
    Global::MyUsername = QStringLiteral("Ann Lee");
    Global::MyPortnb = -7;
    SaveIdentification();
    const QMap<QString, QString> identification = ReadStoreSections().value("Identification");
    QCOMPARE(identification.value("MyUsername"), QStringLiteral("Ann Lee"));
    QCOMPARE(identification.value("MyPortnb"), QStringLiteral("-7"));
    LinesList list;
    Global::MyUsername.clear();
    LoadSettings(list);
    QCOMPARE(Global::MyUsername, QStringLiteral("Ann Lee"));
    QCOMPARE(Global::MyPortnb, -7);
}

void TestStore::windowPositions_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");

    // Centred: 15360/2 - 4001/2 = 5679.5 -> 5680 (half to even), 11520/2 - 2251/2 = 4634.5.
    QTest::newRow("nothing stored") << QByteArray() << 4001 << 2251 << 5680 << 4634;
    QTest::newRow("stored") << QByteArray("StartUPX=300\nStartUPY=200\n") << 4000 << 2000 << 300
                            << 200;
    QTest::newRow("left past the screen re-centres both")
        << QByteArray("StartUPX=15361\nStartUPY=200\n") << 4000 << 2000 << 5680 << 4760;
    QTest::newRow("left on the right edge stays")
        << QByteArray("StartUPX=15360\nStartUPY=11520\n") << 4000 << 2000 << 15360 << 11520;
    QTest::newRow("zero stays") << QByteArray("StartUPX=0\nStartUPY=0\n") << 4000 << 2000 << 0 << 0;
    QTest::newRow("negative left re-centres")
        << QByteArray("StartUPX=-15\nStartUPY=100\n") << 4000 << 2000 << 5680 << 4760;
    QTest::newRow("wider than the screen") << QByteArray() << 20000 << 12000 << -2320 << -240;
    QTest::newRow("unreadable is centred")
        << QByteArray("StartUPX=left\nStartUPY=9\n") << 4000 << 2000 << 5680 << 9;
}

void TestStore::windowPositions()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, left);
    QFETCH(int, top);
    WriteStoreFile("[Settings]\n" + stored);
    const WindowPosition position = LoadWindowPosition(QString(), width, height);
    QCOMPARE(position.left, left);
    QCOMPARE(position.top, top);
}

void TestStore::windowPositionKeysCarryThePrefix()
{
    SaveWindowPosition(WindowPrefix::OptProg, -30, 45);
    const QMap<QString, QString> settings = ReadStoreSections().value("Settings");
    QCOMPARE(settings.value("Option StartUPX"), QStringLiteral("-30"));
    QCOMPARE(settings.value("Option StartUPY"), QStringLiteral("45"));
    // Stored off the screen on the left: reopens centred.
    QCOMPARE(LoadWindowPosition(WindowPrefix::OptProg, 4000, 2000).left, 5680);
    QCOMPARE(LoadWindowPosition(WindowPrefix::About, 4000, 2000).top, 4760);
}

void TestStore::firstStartsMoveThroughTheMarkerStates()
{
    using Keys = QStringList;
    // First start: load on an empty store, then save.
    LoadUsers();
    compareUsers(Global::Users, {user("localhost", "127.0.0.1", 505)});
    QCOMPARE(usersSection().keys(), Keys{"TestUsers"});
    SaveUsers();
    QCOMPARE(usersSection().keys(), (Keys{"1_ip", "1_name", "1_port", "TestUsers"}));
    QCOMPARE(usersSection().value("1_name"), QStringLiteral("localhost"));
    QCOMPARE(usersSection().value("1_port"), QStringLiteral("505"));
    // Next start: the marker goes.
    Global::Users = DimUsers(0);
    LoadUsers();
    compareUsers(Global::Users, {user("localhost", "127.0.0.1", 505)});
    SaveUsers();
    QCOMPARE(usersSection().keys(), (Keys{"1_ip", "1_name", "1_port"}));
}

void TestStore::threeEntriesRoundTripInAnyListingOrder()
{
    const QList<UserRecord> three = {user("Ann", "10.0.0.1", 505, 3), user("Bob", "10.0.0.2", 0, 1),
                                     user("Cy", "192.168.1.20", 65535, 7)};
    Global::Users = DimUsers(3);
    std::copy(three.begin(), three.end(), Global::Users.begin() + 1);
    SaveUsers();
    // Saved on a store without correspondents, so the marker stays beside the nine keys.
    QCOMPARE(usersSection().size(), 10);
    Global::Users = DimUsers(0);
    LoadUsers();
    compareUsers(Global::Users, three);

    // The same keys written by hand in a shuffled order, ports first.
    QList<QByteArray> lines;
    for (int i = 1; i <= 3; ++i) {
        const UserRecord& u = three[i - 1];
        lines << QByteArray::number(i) + "_port=" + QByteArray::number(u.port)
              << QByteArray::number(i) + "_name=" + u.name.toUtf8()
              << QByteArray::number(i) + "_ip=" + u.ip.toUtf8();
    }
    std::mt19937 shuffle(7);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(lines.begin(), lines.end(), shuffle);
        WriteStoreFile("[Users]\n" + lines.join('\n') + "\n");
        LoadUsers();
        compareUsers(Global::Users, three);
    }
}

void TestStore::emptiedTableLeavesNoSection()
{
    LoadUsers();
    SaveUsers();
    LoadUsers();
    Global::Users = DimUsers(0);
    SaveUsers();
    QVERIFY(!ReadStoreSections().contains("Users"));
    LoadUsers();
    compareUsers(Global::Users, {user("localhost", "127.0.0.1", 505)});
}

void TestStore::namesWithUnderscoresAndBlanks()
{
    const QList<UserRecord> odd = {user("  a_b_c  ", " 10.0.0.1", 1), user("2_name", "x_y", 2),
                                   user("", "", -5),
                                   user("quote \" semi ; eq = comma , end", "1.1.1.1", 3)};
    Global::Users = DimUsers(static_cast<int>(odd.size()));
    std::copy(odd.begin(), odd.end(), Global::Users.begin() + 1);
    SaveUsers();
    Global::Users = DimUsers(0);
    LoadUsers();
    compareUsers(Global::Users, odd);
}

void TestStore::handEditedUsersSection()
{
    // Keys this program never writes: no "_", an unknown field, a number past the key
    // count, a gap, a non-numeric port and a missing port. Every entry a key names is kept
    // in the order of its number; the rest is skipped.
    WriteStoreFile("[Users]\n"
                   "junk=1\n"
                   "1_name=Ann\n1_ip=10.0.0.1\n1_port=505\n1_colour=red\n"
                   "7_name=Gus\n7_ip=10.0.0.7\n7_port=seven\n"
                   "3_ip=10.0.0.3\n3_name=Cy\n"
                   "0_name=zero\n99999_name=too far\nx_name=nameless\n");
    LoadUsers();
    compareUsers(Global::Users, {user("Ann", "10.0.0.1", 505), user("Cy", "10.0.0.3", 0),
                                 user("Gus", "10.0.0.7", 0)});
    // And the next save writes a clean section back.
    SaveUsers();
    QCOMPARE(usersSection().size(), 9);
    QCOMPARE(usersSection().value("3_name"), QStringLiteral("Gus"));
}

void TestStore::handEditedValueWithComma()
{
    WriteStoreFile("[Users]\n1_name=Smith, John\n1_ip=10.0.0.1\n1_port=505\n"
                   "2_name=a,b ,c\n2_ip=10.0.0.2\n2_port=506\n");
    LoadUsers();
    compareUsers(Global::Users,
                 {user("Smith, John", "10.0.0.1", 505), user("a,b ,c", "10.0.0.2", 506)});
    SaveUsers();
    Global::Users = DimUsers(0);
    LoadUsers();
    compareUsers(Global::Users,
                 {user("Smith, John", "10.0.0.1", 505), user("a,b ,c", "10.0.0.2", 506)});
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
