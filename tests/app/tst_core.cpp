// The core rules and formats: validation, the numbers and booleans the store holds, the
// message record and reply-request blocks, and the settings and user list stores against
// real files in a private folder.

#include "TestSupport.h"
#include "app/Conversions.h"
#include "app/Global.h"
#include "app/RecipientList.h"
#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "app/StoreKeys.h"
#include "app/UserStore.h"
#include "app/Validation.h"
#include "messaging/ReceiveString.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the main window's list would show, kept as plain lines.
class LinesList : public RecipientList
{
public:
    void showUsers(const UserTable& users) override
    {
        lines.clear();
        for (int i = 1; i <= UBound(users); ++i)
            lines << UserComboLine(users[static_cast<std::size_t>(i)]);
        current = -1;
    }
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

class TestCore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void ipAddresses_data();
    void ipAddresses();
    void ports_data();
    void ports();
    void userNames_data();
    void userNames();
    void findUserIsExact();
    void storedIntegers_data();
    void storedIntegers();
    void storedBooleans_data();
    void storedBooleans();

    void messageRecordBytes_data();
    void messageRecordBytes();
    void copyDataBlocks_data();
    void copyDataBlocks();

    void emptyStoreGivesDefaultsAndWritesAtTheSessionsEnd();
    void storedOptionsAreRead_data();
    void storedOptionsAreRead();
    void optionsAndIdentificationAreWrittenAsText();
    void windowPositions_data();
    void windowPositions();
    void firstStartsMoveThroughTheMarkerStates();
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

void TestCore::initTestCase()
{
    SetScreenSizeSource([] { return Screen; });
}

void TestCore::init()
{
    SetStoreFailureHandler([this](const QString& message) { failures.append(message); });
    failures.clear();
    ForgetStore();
    RemoveStoreFile();
    Global::BuildDefaultUsers();
    Global::Users = DimUsers(0);
}

void TestCore::ipAddresses_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("normalised");

    QTest::newRow("spaces around") << " 192.168.0.1 " << true << "192.168.0.1";
    QTest::newRow("space inside") << "192.168. 0.1" << false << "";
    QTest::newRow("tab around") << "\t1.2.3.4" << false << "";
    QTest::newRow("three parts") << "1.2.3" << false << "";
    QTest::newRow("five parts") << "1.2.3.4.5" << false << "";
    QTest::newRow("number past 255") << "1.2.3.256" << false << "";
    QTest::newRow("broadcast") << "255.255.255.255" << true << "255.255.255.255";
    QTest::newRow("zeros") << "0.0.0.0" << true << "0.0.0.0";
    QTest::newRow("dots only") << "..." << true << "0.0.0.0";
    QTest::newRow("leading zeros") << "007.08.0.1" << true << "7.8.0.1";
    QTest::newRow("leading zeros 2") << "010.1.1.001" << true << "10.1.1.1";
    QTest::newRow("empty part") << "1..2.3" << true << "1.0.2.3";
    QTest::newRow("minus") << "-1.2.3.4" << false << "";
    QTest::newRow("letter at end") << "1.2.3.4a" << false << "";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("long zero run") << "0000000000000000000001.2.3.4" << true << "1.2.3.4";
    QTest::newRow("huge part") << "99999999999999999999.1.1.1" << false << "";
    QTest::newRow("arabic digit") << QString::fromUtf8("\u0661.2.3.4") << false << "";
}
void TestCore::ipAddresses()
{
    QFETCH(QString, input);
    QFETCH(bool, valid);
    QFETCH(QString, normalised);
    QString out = QStringLiteral("untouched");
    QCOMPARE(IsValidIp(input, out), valid);
    if (valid)
        QCOMPARE(out, normalised);
    // The output may be the input itself.
    QString same = input;
    QCOMPARE(IsValidIp(same, same), valid);
    if (valid)
        QCOMPARE(same, normalised);
}

void TestCore::ports_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("port");

    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("top") << "65535" << true << 65535;
    QTest::newRow("past top") << "65536" << false << 65536;
    QTest::newRow("minus one") << "-1" << false << -1;
    QTest::newRow("empty") << "" << true << 0;
    QTest::newRow("letters") << "abc" << true << 0;
    QTest::newRow("c hex is not hex") << "0x50" << true << 0;
    QTest::newRow("blanks everywhere") << " 8 0 " << true << 80;
    QTest::newRow("tab and line feed") << "\t8\n0" << true << 80;
    QTest::newRow("trailing letters") << "80abc" << true << 80;
    QTest::newRow("exponent") << "1e3" << true << 1000;
    QTest::newRow("exponent sign") << "25E+2" << true << 2500;
    QTest::newRow("negative exponent") << "5000e-2" << true << 50;
    QTest::newRow("exponent without digits") << "12e" << true << 12;
    QTest::newRow("half to even down") << "12.5" << true << 12;
    QTest::newRow("half to even up") << "13.5" << true << 14;
    QTest::newRow("fraction") << "80.6" << true << 81;
    QTest::newRow("leading point") << ".5" << true << 0;
    QTest::newRow("comma is no separator") << "80,5" << true << 80;
    QTest::newRow("hex") << "&H50" << true << 80;
    QTest::newRow("hex lower") << "&hff" << true << 255;
    QTest::newRow("octal") << "&O17" << true << 15;
    QTest::newRow("hex past range") << "&H10000" << false << 65536;
    QTest::newRow("ampersand alone") << "&" << true << 0;
    QTest::newRow("plus sign") << "+443" << true << 443;
    QTest::newRow("past 32 bits") << "4294967376" << false << 0;
    QTest::newRow("huge exponent") << "1e400" << false << 0;
    QTest::newRow("tiny exponent") << "1e-400" << true << 0;
    QTest::newRow("32-bit top") << "2147483647" << false << 2147483647;
    QTest::newRow("32-bit bottom") << "-2147483648" << false << -2147483647 - 1;
}
void TestCore::ports()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, port);
    std::int32_t out = 12345;
    QCOMPARE(IsValidPort(text, out), valid);
    QCOMPARE(out, port);
}
void TestCore::userNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("trimmed");

    QTest::newRow("128") << QString(128, QLatin1Char('a')) << true
                         << QString(128, QLatin1Char('a'));
    QTest::newRow("129") << QString(129, QLatin1Char('a')) << false
                         << QString(129, QLatin1Char('a'));
    QTest::newRow("128 with spaces around")
        << QStringLiteral("  ") + QString(128, QLatin1Char('b')) + QStringLiteral("  ") << true
        << QString(128, QLatin1Char('b'));
    QTest::newRow("spaces only") << "    " << false << "";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("two spaces each side") << "  Bob  " << true << "Bob";
    QTest::newRow("inner blanks kept") << " Bob  Smith " << true << "Bob  Smith";
    QTest::newRow("tab not trimmed") << "\tBob" << true << "\tBob";
    QTest::newRow("NUL") << QStringLiteral("Bo") + QChar(u'\0') + QStringLiteral("b") << false
                         << QStringLiteral("Bo") + QChar(u'\0') + QStringLiteral("b");
}
void TestCore::userNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QString, trimmed);
    QString out;
    QCOMPARE(IsValidUserName(name, out), valid);
    QCOMPARE(out, trimmed);
}
void TestCore::findUserIsExact()
{
    UserTable users = DimUsers(2);
    users[1] = {QStringLiteral("Bob"), QStringLiteral("10.0.0.1"), 505, 1};
    users[2] = {QStringLiteral("Bob"), QStringLiteral("10.0.0.2"), 505, 2};
    QVERIFY(FindUser(users, QStringLiteral("Bob"), QStringLiteral("10.0.0.2")));
    QVERIFY(!FindUser(users, QStringLiteral("bob"), QStringLiteral("10.0.0.1")));
    QVERIFY(!FindUser(users, QStringLiteral("Bob"), QStringLiteral("10.0.0.01")));
    QVERIFY(!FindUser(users, QStringLiteral("Bob"), QStringLiteral("10.0.0.3")));
    QVERIFY(!FindUser(users, QStringLiteral("Bob "), QStringLiteral("10.0.0.1")));
    // Slot 0 is never examined, even when it matches.
    users[0] = {QStringLiteral("Ghost"), QStringLiteral("1.1.1.1"), 0, 0};
    QVERIFY(!FindUser(users, QStringLiteral("Ghost"), QStringLiteral("1.1.1.1")));
    QVERIFY(!FindUser(DimUsers(0), QString(), QString()));
}
void TestCore::storedIntegers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << "505" << true << 505;
    QTest::newRow("negative") << "-120" << true << -120;
    QTest::newRow("blanks around") << "  42\t" << true << 42;
    QTest::newRow("half to even") << "2.5" << true << 2;
    QTest::newRow("half to even up") << "3.5" << true << 4;
    QTest::newRow("inner blank") << "4 2" << false << 0;
    QTest::newRow("letters after") << "42x" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("past 32 bits") << "2147483648" << false << 0;
    QTest::newRow("bottom") << "-2147483648" << true << -2147483647 - 1;
}
void TestCore::storedIntegers()
{
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(int, value);
    const std::optional<std::int32_t> result = TextToInteger(text);
    QCOMPARE(result.has_value(), converts);
    if (converts)
        QCOMPARE(*result, value);
}
void TestCore::storedBooleans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: does not convert

    QTest::newRow("True") << "True" << 1;
    QTest::newRow("false") << "false" << 0;
    QTest::newRow("TRUE") << "TRUE" << 1;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("-1") << "-1" << 1;
    QTest::newRow("0.0") << "0.0" << 0;
    QTest::newRow("yes") << "yes" << -1;
    QTest::newRow("empty") << "" << -1;
}
void TestCore::storedBooleans()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    const std::optional<bool> result = TextToBoolean(text);
    QCOMPARE(result.has_value(), expected >= 0);
    if (result)
        QCOMPARE(int(*result), expected);
    // Written back as "True" / "False", and a port in the Your IP window with Str's blank.
    QCOMPARE(BooleanText(false), QStringLiteral("False"));
    QCOMPARE(SignedNumberText(505), QStringLiteral(" 505"));
    QCOMPARE(SignedNumberText(-1), QStringLiteral("-1"));
}

void TestCore::messageRecordBytes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("example") << "Me" << 505 << "Hi"
                             << QByteArray::fromHex("4d 65 00 35 30 35 00 48 69");
    QTest::newRow("empty text") << "Me" << 505 << "" << QByteArray::fromHex("4d 65 00 35 30 35 00");
    QTest::newRow("line breaks become CR LF") << "A" << 1 << "one\ntwo\r\nthree\n"
                                              << QByteArray("A\0"
                                                            "1\0one\r\ntwo\r\nthree\r\n",
                                                            21);
    QTest::newRow("negative port") << "" << -12 << "x" << QByteArray("\0-12\0x", 6);
}
void TestCore::messageRecordBytes()
{
    QFETCH(QString, name);
    QFETCH(int, port);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(MessageRecordBytes(name, port, text), bytes);
}
void TestCore::copyDataBlocks_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QString>("fields"); // name|ip|port, or empty when the block is dropped

    const auto row = [](const char* name, const QByteArray& block, const char* fields) {
        QTest::newRow(name) << block << QString::fromUtf8(fields);
    };
    // clang-format off
    const QByteArray bob("Bob\0" "10.0.0.2\0" "505\0", 17);
    row("17 bytes", bob, "Bob|10.0.0.2|505");
    row("16 bytes without the last NUL", bob.left(16), "Bob|10.0.0.2|505");
    row("two fields", bob.left(12), "");
    row("port sent empty", QByteArray("Bob\0" "10.0.0.2\0\0", 14), "Bob|10.0.0.2|");
    row("empty name", bob.mid(3), "|10.0.0.2|505");
    row("trailing data ignored", bob + "junk", "Bob|10.0.0.2|505");
    row("empty block", QByteArray(), "");
    row("no NUL", "text", "");
    // The buffer holds 254 bytes and a final NUL: what lies beyond is cut off.
    const QByteArray sevens = QByteArray("N\0" "1.2.3.4\0", 10) + QByteArray(243, '7');
    row("254 bytes ending in NUL", sevens + '\0', qPrintable("N|1.2.3.4|" + QString(243, '7')));
    row("254 bytes, no NUL", sevens + '7', "");
    row("NUL past the buffer", sevens + "7\0", "");
    row("long block cut", QByteArray("N\0" "1.2.3.4\0" "80\0", 13) + QByteArray(70000, 'x'),
        "N|1.2.3.4|80");
    row("as the receiver builds it", ReplyRequestBlock("Bob", "10.0.0.2", "505"),
        "Bob|10.0.0.2|505");
    // clang-format on
}

void TestCore::copyDataBlocks()
{
    QFETCH(QByteArray, block);
    QFETCH(QString, fields);
    const std::optional<ReplyRequest> request = SplitReplyRequest(CopyDataToString(block));
    QCOMPARE(request.has_value(), !fields.isEmpty());
    if (request)
        QCOMPARE(QStringList({request->name, request->ip, request->port}).join('|'), fields);
}

void TestCore::emptyStoreGivesDefaultsAndWritesAtTheSessionsEnd()
{
    Global::DefaultPort = 1;
    Global::MinimizedWhenSend = false;
    Global::PopupWhenSend = false;
    Global::DefaultIp = "x";
    Global::MyUsername = "x";
    Global::MyPortnb = 1;
    LinesList list;
    {
        const StoreSession session(StoreKeys::Application);
        LoadSettings(list);
        SaveOptions();
        QVERIFY(ReadStoreBytes().isEmpty());
    }
    QCOMPARE(Global::DefaultPort, 505);
    QCOMPARE(Global::MinimizedWhenSend, true);
    QCOMPARE(Global::PopupWhenSend, true);
    QCOMPARE(Global::DefaultIp, QStringLiteral("127.0.0.1"));
    QCOMPARE(Global::MyUsername, QStringLiteral("Me"));
    QCOMPARE(Global::MyPortnb, 505);
    compareUsers(Global::Users, {user("localhost", "127.0.0.1", 505)});
    QCOMPARE(list.lines, QStringList{"localhost (127.0.0.1: 505)"});
    QCOMPARE(list.current, 0);
    const IniSections store = ReadStoreSections();
    QCOMPARE(store.value("Settings").value("DefaultPort"), QStringLiteral("505"));
    QCOMPARE(store.value("Users").keys(), QStringList{"TestUsers"});
}

void TestCore::storedOptionsAreRead_data()
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
void TestCore::storedOptionsAreRead()
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
void TestCore::optionsAndIdentificationAreWrittenAsText()
{
    WriteStoreFile("[Settings]\nMinimizedWhenSend=0\nPopupWhenSend=true\nDefaultIp=10.0.0.9\n");
    LinesList list;
    LoadSettings(list);
    SaveOptions();
    Global::MyUsername = QStringLiteral("Ann Lee");
    Global::MyPortnb = -7;
    QVERIFY(!ReadStoreSections().contains("Identification"));
    SaveIdentification();
    const IniSections store = ReadStoreSections();
    QCOMPARE(store.value("Settings").value("MinimizedWhenSend"), QStringLiteral("False"));
    QCOMPARE(store.value("Settings").value("PopupWhenSend"), QStringLiteral("True"));
    QCOMPARE(store.value("Settings").value("DefaultPort"), QStringLiteral("505"));
    QCOMPARE(store.value("Settings").value("DefaultIp"), QStringLiteral("10.0.0.9"));
    QCOMPARE(store.value("Identification").value("MyUsername"), QStringLiteral("Ann Lee"));
    QCOMPARE(store.value("Identification").value("MyPortnb"), QStringLiteral("-7"));
}

void TestCore::windowPositions_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");

    // Centred: 15360/2 - 4001/2 = 5679.5 -> 5680 (half to even), 11520/2 - 2251/2 = 4634.5.
    QTest::newRow("nothing stored") << QByteArray() << 4001 << 2251 << 5680 << 4634;
    QTest::newRow("stored") << QByteArray("Option%20StartUPX=300\nOption%20StartUPY=200\n") << 4000
                            << 2000 << 300 << 200;
    QTest::newRow("another window's position")
        << QByteArray("StartUPX=300\nStartUPY=200\n") << 4000 << 2000 << 5680 << 4760;
    QTest::newRow("left past the screen re-centres both")
        << QByteArray("Option%20StartUPX=15361\nOption%20StartUPY=200\n") << 4000 << 2000 << 5680
        << 4760;
    QTest::newRow("left on the right edge stays")
        << QByteArray("Option%20StartUPX=15360\nOption%20StartUPY=11520\n") << 4000 << 2000 << 15360
        << 11520;
    QTest::newRow("zero stays") << QByteArray("Option%20StartUPX=0\nOption%20StartUPY=0\n") << 4000
                                << 2000 << 0 << 0;
    QTest::newRow("negative left re-centres")
        << QByteArray("Option%20StartUPX=-15\nOption%20StartUPY=100\n") << 4000 << 2000 << 5680
        << 4760;
    QTest::newRow("wider than the screen") << QByteArray() << 20000 << 12000 << -2320 << -240;
    QTest::newRow("unreadable is centred")
        << QByteArray("Option%20StartUPX=left\nOption%20StartUPY=9\n") << 4000 << 2000 << 5680 << 9;
}

void TestCore::windowPositions()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, left);
    QFETCH(int, top);
    WriteStoreFile("[Settings]\n" + stored);
    const WindowPosition position = LoadWindowPosition(WindowPrefix::OptProg, width, height);
    QCOMPARE(position.left, left);
    QCOMPARE(position.top, top);
    SaveWindowPosition(WindowPrefix::OptProg, -30, 45);
    QCOMPARE(ReadStoreSections().value("Settings").value("Option StartUPY"), QStringLiteral("45"));
}

void TestCore::firstStartsMoveThroughTheMarkerStates()
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
void TestCore::emptiedTableLeavesNoSection()
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
void TestCore::awkwardTextsRoundTrip_data()
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
void TestCore::awkwardTextsRoundTrip()
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
void TestCore::storesOfTheFirstVersionLoad()
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
void TestCore::handEditedSections_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("users"); // name|ip|port per entry

    QTest::newRow("semicolon is text, a leading one a comment")
        << QByteArray("[Users]\n; 1_name=comment\n# 1_ip=comment\n1_name=a;b\n1_ip=10.0.0.1\n"
                      "1_port=505 ; not a comment\n")
        << QStringList{"a;b|10.0.0.1|0"};
    QTest::newRow("any order, ports first")
        << QByteArray("[Users]\n2_port=2\n1_port=1\n2_ip=b\n1_name=Ann\n2_name=Bob\n1_ip=a\n")
        << QStringList{"Ann|a|1", "Bob|b|2"};
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
void TestCore::handEditedSections()
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
void TestCore::failedSavesAreToldAndKept_data()
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
void TestCore::failedSavesAreToldAndKept()
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
void TestCore::anotherWritersChangesSurvive()
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
void TestCore::unchangedStoreIsNotWritten()
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
QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
