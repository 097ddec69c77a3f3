// The settings store and the user list store against real files in a private folder.

#include "TestSupport.h"
#include "app/Global.h"
#include "app/RecipientList.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/UserStore.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

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
    void awkwardTextsRoundTrip_data();
    void awkwardTextsRoundTrip();
    void storesOfTheFirstVersionLoad();
    void handEditedSections_data();
    void handEditedSections();
    void failedSavesAreToldAndKept_data();
    void failedSavesAreToldAndKept();
    void anotherWritersChangesSurvive();
    void unchangedStoreIsNotWritten();

private:
    TestFolders folders;
    QStringList failures;
};

void TestStore::initTestCase()
{
    SetScreenSizeSource([] { return Screen; });
}

void TestStore::init()
{
    SetStoreFailureHandler([this](const QString& message) { failures.append(message); });
    failures.clear();
    ForgetStore();
    RemoveStoreFile();
    Global::BuildDefaultUsers();
    Global::Users = DimUsers(0);
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

void TestStore::awkwardTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("separators") << QStringLiteral("Smith, John; x = y");
    QTest::newRow("quotes and backslashes") << QStringLiteral("say \"hi\" C:\\temp\\x1f \\");
    QTest::newRow("controls") << QStringLiteral("tab\there\nline\x01"
                                                "7 end\r");
    QTest::newRow("edge blanks") << QStringLiteral("  both ends  ");
    QTest::newRow("empty") << QString();
    QTest::newRow("non-ASCII") << QStringLiteral("Zo\u00eb \u6f22\u5b57 \U0001F600 \u00ff");
    QTest::newRow("at sign and underscores") << QStringLiteral("@ByteArray(2_name) x_y");
    QTest::newRow("percent and brackets") << QStringLiteral("[Users] %20 #1 ;c");
}

void TestStore::awkwardTextsRoundTrip()
{
    QFETCH(QString, text);
    Global::Users = DimUsers(2);
    Global::Users[1] = {text, text, 7, 1};
    Global::Users[2] = {QStringLiteral("next"), QStringLiteral("10.0.0.2"), 8, 2};
    SaveUsers();
    Global::MyUsername = text;
    SaveIdentification();
    SaveWindowPosition(text, 1, 2);
    ForgetStore(); // as a new run would
    LinesList list;
    LoadSettings(list);
    compareUsers(Global::Users, {{text, text, 7, 1}, user("next", "10.0.0.2", 8)});
    QCOMPARE(Global::MyUsername, text);
    QCOMPARE(LoadWindowPosition(text, 0, 0).top, 2);
    QVERIFY(failures.isEmpty());
}

void TestStore::storesOfTheFirstVersionLoad()
{
    // The first version kept the store with QSettings; its files must load unchanged.
    const QString awkward = QStringLiteral(" Smith, John \"J\\\" \u00e9;=\t");
    {
        QSettings old(QSettings::NativeFormat, QSettings::UserScope, "Quorvane", "Quorvane");
        QCOMPARE(QFileInfo(old.fileName()).absoluteFilePath(),
                 QFileInfo(StoreFilePath()).absoluteFilePath());
        old.setValue("Settings/Option StartUPX", "120");
        old.setValue("Settings/DefaultIp", "10.1.2.3");
        old.setValue("Settings/DefaultPort", "5050");
        old.setValue("Identification/MyUsername", awkward);
        old.setValue("Users/1_name", awkward);
        old.setValue("Users/1_ip", "10.0.0.1");
        old.setValue("Users/1_port", "505");
        old.setValue("Users/2_name", "@home");
        old.setValue("Users/2_ip", "");
        old.setValue("Users/2_port", "-1");
    }
    QVERIFY(ReadStoreBytes().contains("Option%20StartUPX=120"));
    LinesList list;
    LoadSettings(list);
    QCOMPARE(Global::DefaultIp, QStringLiteral("10.1.2.3"));
    QCOMPARE(Global::DefaultPort, 5050);
    QCOMPARE(Global::MyUsername, awkward);
    QCOMPARE(LoadWindowPosition(WindowPrefix::OptProg, 0, 0).left, 120);
    compareUsers(Global::Users, {{awkward, "10.0.0.1", 505, 1}, user("@home", "", -1)});
}

void TestStore::handEditedSections_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("users"); // name|ip|port per entry

    QTest::newRow("semicolon is text, a leading one a comment")
        << QByteArray("[Users]\n; 1_name=comment\n# 1_ip=comment\n1_name=a;b\n1_ip=10.0.0.1\n"
                      "1_port=505 ; not a comment\n")
        << QStringList{"a;b|10.0.0.1|0"};
    QTest::newRow("comma is text")
        << QByteArray("[Users]\n1_name=Smith, John\n1_ip=a,b ,c\n1_port=1\n")
        << QStringList{"Smith, John|a,b ,c|1"};
    QTest::newRow("unknown fields count")
        << QByteArray("[Users]\n1_name=Ann\n1_ip=x\n1_port=5\n1_colour=red\n1_a=b\n1_c=d\n")
        << QStringList{"Ann|x|5", "||0"};
    QTest::newRow("entry 32767 and junk")
        << QByteArray(
               "[Users]\njunk=1\n1_name=Ann\n1_ip=10.0.0.1\n1_port=505\n32767_name=Last\n"
               "0_name=zero\n99999_name=too far\nx_name=nameless\n3_port=seven\n\x01garbage\n")
        << QStringList{"Ann|10.0.0.1|505", "||0", "||0", "Last||0"};
    QTest::newRow("name that is not UTF-8")
        << QByteArray("[Users]\n1_name=Ren\xe9\n1_ip=10.0.0.1\n1_port=1\n")
        << QStringList{QStringLiteral("Ren\u00e9|10.0.0.1|1")};
}

void TestStore::handEditedSections()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, users);
    QList<UserRecord> expected;
    for (const QString& line : users) {
        const QStringList f = line.split('|');
        expected.append({f[0], f[1], f[2].toInt(), 0});
    }
    WriteStoreFile(file);
    LoadUsers();
    compareUsers(Global::Users, expected);
    // What was loaded is saved and loads back the same.
    SaveUsers();
    ForgetStore();
    LoadUsers();
    compareUsers(Global::Users, expected);
}

void TestStore::failedSavesAreToldAndKept_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only store") << "read-only"
                                     << "Permission denied";
    QTest::newRow("store path is a folder") << "folder"
                                            << "Is a directory";
    QTest::newRow("full disk") << "full"
                               << "No space left on device";
}

void TestStore::failedSavesAreToldAndKept()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    const QString folder = QFileInfo(StoreFilePath()).path();
    WriteStoreFile("[Identification]\nMyUsername=Old\n");
    const QByteArray before = ReadStoreBytes();
    std::function<void()> mend;
    if (fault == "read-only") {
        QFile::setPermissions(StoreFilePath(), QFile::ReadOwner);
        mend = [] { QFile::setPermissions(StoreFilePath(), QFile::ReadOwner | QFile::WriteOwner); };
    } else if (fault == "folder") {
        RemoveStoreFile();
        QDir().mkpath(StoreFilePath());
        mend = [] { QDir(StoreFilePath()).removeRecursively(); };
    } else {
        if (geteuid() != 0)
            QSKIP("filling a small file system needs root to mount it");
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder}) != 0)
            QSKIP("no tmpfs could be mounted here");
        WriteStoreFile(before);
        const QString filler = folder + "/filler";
        QFile full(filler);
        QVERIFY(full.open(QIODevice::WriteOnly));
        while (full.write(QByteArray(4096, 'x')) > 0 && full.flush()) {
        }
        full.close();
        mend = [filler] { QFile::resize(filler, 0); };
    }
    const auto unmount = qScopeGuard([&] {
        if (fault == "full")
            QProcess::execute("umount", {folder});
    });

    LinesList list;
    LoadSettings(list);
    Global::Users = DimUsers(300); // more than the full disk takes
    for (int i = 1; i <= 300; ++i)
        Global::Users[i] = {QStringLiteral("Added %1").arg(i), QStringLiteral("10.0.0.1"), i, i};
    SaveUsers();
    // Told with the file and the reason; the file is as it was and the data still here.
    QVERIFY(!failures.isEmpty());
    QVERIFY2(failures.last().contains(StoreFilePath()) && failures.last().contains(reason),
             qPrintable(failures.last()));
    if (fault != "folder")
        QCOMPARE(ReadStoreBytes(), before);
    QCOMPARE(SettingsStore("Quorvane").GetSetting("Users", "300_name", ""),
             QStringLiteral("Added 300"));

    // Once the fault is mended the next save writes it all.
    mend();
    failures.clear();
    SaveWindowPosition(WindowPrefix::About, 1, 2);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
    ForgetStore();
    LoadUsers();
    QCOMPARE(UBound(Global::Users), 300);
    QCOMPARE(Global::Users[300].name, QStringLiteral("Added 300"));
}

void TestStore::anotherWritersChangesSurvive()
{
    LinesList list;
    LoadSettings(list);
    SaveUsers();
    Global::Users.push_back(user("New", "10.0.0.9", 9, 2));
    const auto inode = [] {
        struct stat info = {};
        ::stat(QFile::encodeName(StoreFilePath()).constData(), &info);
        return info.st_ino;
    };
    ino_t handEdited = 0;
    {
        // What the main window does when it closes, while the receiver (or a hand edit)
        // changes the reply port and adds a key.
        const StoreSession session("Quorvane");
        SaveUsers();
        WriteStoreFile(ReadStoreBytes() + "\n[Identification]\nMyPortnb=5050\nOther=kept\n");
        handEdited = inode();
        SaveWindowPosition(WindowPrefix::SendForm, 10, 20);
    }
    // Written to a new file renamed over the old one, never in place.
    QVERIFY(inode() != handEdited);
    const IniSections stored = ReadStoreSections();
    QCOMPARE(stored.value("Identification").value("MyPortnb"), QStringLiteral("5050"));
    QCOMPARE(stored.value("Identification").value("Other"), QStringLiteral("kept"));
    QCOMPARE(stored.value("Users").value("2_name"), QStringLiteral("New"));
    QCOMPARE(stored.value("Settings").value("StartUPX"), QStringLiteral("10"));
    // And the running program takes the new port without a restart.
    ReloadChangedIdentification();
    QCOMPARE(Global::MyPortnb, 5050);
}

void TestStore::unchangedStoreIsNotWritten()
{
    const auto startUp = [] {
        const StoreSession session("Quorvane");
        LinesList list;
        LoadSettings(list);
        SaveWindowPosition(WindowPrefix::SendForm, 10, 20);
        SaveOptions();
        SaveUsers();
    };
    startUp();
    startUp(); // drops the marker
    const QByteArray bytes = ReadStoreBytes();
    const QDateTime stamp = QFileInfo(StoreFilePath()).lastModified().addSecs(-60);
    QFile file(StoreFilePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
    file.close();
    ForgetStore();
    startUp();
    startUp();
    QCOMPARE(QFileInfo(StoreFilePath()).lastModified(), stamp);
    QCOMPARE(ReadStoreBytes(), bytes);
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
