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
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <sys/file.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#endif

namespace {

// Loads the settings as start-up does, with a list that shows nothing.
void loadSettings()
{
    struct : RecipientList
    {
        void showUsers(const UserTable&) override {}
        int count() const override { return 0; }
        void setCurrentIndex(int) override {}
    } list;
    LoadSettings(list);
}

// The options and the identification in memory, as
// "port|minimized|popup|default ip|user name|reply port".
QString options()
{
    using namespace Global;
    return QStringLiteral("%1|%2|%3|%4|%5|%6")
        .arg(QString::number(DefaultPort), QString::number(MinimizedWhenSend),
             QString::number(PopupWhenSend), DefaultIp, MyUsername, QString::number(MyPortnb));
}

// Users holds these entries, as "name|ip|port", numbered in order from 1; slot 0 stays empty.
void compareUsers(const QStringList& expected)
{
    QStringList actual;
    for (int i = 1; i <= UBound(Global::Users); ++i) {
        const UserRecord& user = Global::Users[static_cast<std::size_t>(i)];
        QCOMPARE(user.order, i);
        actual << QStringList{user.name, user.ip, QString::number(user.port)}.join(u'|');
    }
    QCOMPARE(actual, expected);
    QCOMPARE(Global::Users[0].name, QString());
}

const QString Localhost = QStringLiteral("localhost|127.0.0.1|505");

} // namespace

class TestCore : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void rulesGiveAVerdictAndTheCleanedValue_data();
    void rulesGiveAVerdictAndTheCleanedValue();
    void findUserIsExact();
    void storedNumbersAndBooleansAreRead_data();
    void storedNumbersAndBooleansAreRead();

    void recordsAreBuiltAndSplitByteForByte_data();
    void recordsAreBuiltAndSplitByteForByte();

    void emptyStoreGivesDefaultsWrittenWhenStartUpEnds();
    void optionsAndIdentificationAreWrittenAsText();
    void windowsOpenWhereStoredOrCentred_data();
    void windowsOpenWhereStoredOrCentred();
    void awkwardTextsRoundTrip_data();
    void awkwardTextsRoundTrip();
    void storesWrittenElsewhereLoad_data();
    void storesWrittenElsewhereLoad();
    void failedSavesAreToldAndKept_data();
    void failedSavesAreToldAndKept();
    void anotherWritersChangesSurvive();
    void unchangedStoreIsNotWritten_data();
    void unchangedStoreIsNotWritten();

private:
    TestFolders folders;
    QStringList failures;
    int savedAtLast = 0;
};

void TestCore::init()
{
    // 15 twips a pixel on a 1024 x 768 screen.
    SetScreenSizeSource([] { return QSizeF(15360, 11520); });
    SetStoreFailureHandler([this](const QString& message) { failures.append(message); });
    SetStoreSavedHandler([this] { ++savedAtLast; });
    failures.clear();
    savedAtLast = 0;
    ForgetStore();
    RemoveStoreFile();
    Global::BuildDefaultUsers();
}

void TestCore::rulesGiveAVerdictAndTheCleanedValue_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("cleaned"); // a port as its number

    const auto row = [](const char* rule, const char* name, const QString& entered, bool valid,
                        const QString& cleaned) {
        QTest::addRow("%s: %s", rule, name) << QString(rule) << entered << valid << cleaned;
    };
    row("ip", "spaces around", " 192.168.0.1 ", true, "192.168.0.1");
    row("ip", "space inside", "192.168. 0.1", false, "");
    row("ip", "tab around", "\t1.2.3.4", false, "");
    row("ip", "three parts", "1.2.3", false, "");
    row("ip", "five parts", "1.2.3.4.5", false, "");
    row("ip", "number past 255", "1.2.3.256", false, "");
    row("ip", "broadcast", "255.255.255.255", true, "255.255.255.255");
    row("ip", "dots only", "...", true, "0.0.0.0");
    row("ip", "leading zeros", "007.08.0.1", true, "7.8.0.1");
    row("ip", "minus", "-1.2.3.4", false, "");
    row("ip", "letter at end", "1.2.3.4a", false, "");
    row("ip", "empty", "", false, "");
    row("ip", "long zero run", "0000000000000000000001.2.3.4", true, "1.2.3.4");
    row("ip", "huge part", "99999999999999999999.1.1.1", false, "");
    row("ip", "arabic digit", QString::fromUtf8("\u0661.2.3.4"), false, "");

    row("port", "zero", "0", true, "0");
    row("port", "top", "65535", true, "65535");
    row("port", "past top", "65536", false, "65536");
    row("port", "minus one", "-1", false, "-1");
    row("port", "empty", "", true, "0");
    row("port", "c hex is not hex", "0x50", true, "0");
    row("port", "blanks everywhere", " 8 0 ", true, "80");
    row("port", "tab and line feed", "\t8\n0", true, "80");
    row("port", "trailing letters", "80abc", true, "80");
    row("port", "exponent sign", "25E+2", true, "2500");
    row("port", "negative exponent", "5000e-2", true, "50");
    row("port", "exponent without digits", "12e", true, "12");
    row("port", "half to even down", "12.5", true, "12");
    row("port", "half to even up", "13.5", true, "14");
    row("port", "fraction", "80.6", true, "81");
    row("port", "leading point", ".5", true, "0");
    row("port", "comma is no separator", "80,5", true, "80");
    row("port", "hex lower", "&hff", true, "255");
    row("port", "octal", "&O17", true, "15");
    row("port", "hex past range", "&H10000", false, "65536");
    row("port", "ampersand alone", "&", true, "0");
    row("port", "plus sign", "+443", true, "443");
    row("port", "past 32 bits", "4294967376", false, "0");
    row("port", "huge exponent", "1e400", false, "0");
    row("port", "tiny exponent", "1e-400", true, "0");
    row("port", "32-bit top", "2147483647", false, "2147483647");
    row("port", "32-bit bottom", "-2147483648", false, "-2147483648");

    const QString a128(128, u'a'), a129(129, u'a'), nul = QStringLiteral("Bo") + QChar(u'\0');
    row("name", "128", a128, true, a128);
    row("name", "129", a129, false, a129);
    row("name", "128 with spaces around", "  " + a128 + "  ", true, a128);
    row("name", "spaces only", "    ", false, "");
    row("name", "inner blanks kept", " Bob  Smith ", true, "Bob  Smith");
    row("name", "tab not trimmed", "\tBob", true, "\tBob");
    row("name", "NUL", nul + "b ", false, nul + "b");
}
void TestCore::rulesGiveAVerdictAndTheCleanedValue()
{
    QFETCH(QString, rule);
    QFETCH(QString, entered);
    QFETCH(bool, valid);
    QFETCH(QString, cleaned);
    if (rule == "port") {
        std::int32_t port = 12345;
        QCOMPARE(IsValidPort(entered, port), valid);
        QCOMPARE(QString::number(port), cleaned);
        return;
    }
    const auto check = rule == "ip" ? &IsValidIp : &IsValidUserName;
    QString out = QStringLiteral("untouched"), same = entered;
    QCOMPARE(check(entered, out), valid);
    QCOMPARE(check(same, same), valid); // the entered text may take the cleaned one
    // An address refused leaves no cleaned value to speak of.
    if (valid || rule != "ip")
        QCOMPARE(QStringList({out, same}), QStringList({cleaned, cleaned}));
}

void TestCore::findUserIsExact()
{
    UserTable users = DimUsers(2);
    users[0] = {"Ghost", "1.1.1.1", 0, 0}; // never examined, even when it matches
    users[1] = {"Bob", "10.0.0.1", 505, 1};
    users[2] = {"Bob", "10.0.0.2", 505, 2};
    QVERIFY(FindUser(users, "Bob", "10.0.0.2"));
    QVERIFY(!FindUser(users, "bob", "10.0.0.1"));
    QVERIFY(!FindUser(users, "Bob", "10.0.0.01"));
    QVERIFY(!FindUser(users, "Bob", "10.0.0.3"));
    QVERIFY(!FindUser(users, "Bob ", "10.0.0.1"));
    QVERIFY(!FindUser(users, "Ghost", "1.1.1.1"));
}

void TestCore::storedNumbersAndBooleansAreRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("integer"); // null: not an integer
    QTest::addColumn<QVariant>("boolean"); // null: not a boolean

    const QVariant no;
    const auto row = [](const char* name, const char* text, QVariant integer, QVariant boolean) {
        QTest::newRow(name) << QString::fromUtf8(text) << integer << boolean;
    };
    row("negative", "-120", -120, true);
    row("blanks around", "  42\t", 42, true);
    row("half to even", "2.5", 2, true);
    row("half to even up", "3.5", 4, true);
    row("inner blank", "4 2", no, no);
    row("letters after", "42x", no, no);
    row("empty", "", no, no);
    row("past 32 bits", "2147483648", no, true);
    row("bottom", "-2147483648", -2147483647 - 1, true);
    row("false", "false", no, false);
    row("TRUE", "TRUE", no, true);
    row("0.0", "0.0", 0, false);
    row("yes", "yes", no, no);
}
void TestCore::storedNumbersAndBooleansAreRead()
{
    QFETCH(QString, text);
    QFETCH(QVariant, integer);
    QFETCH(QVariant, boolean);
    const auto variant = [](const auto& value) { return value ? QVariant(*value) : QVariant(); };
    QCOMPARE(variant(TextToInteger(text)), integer);
    QCOMPARE(variant(TextToBoolean(text)), boolean);
    // Read from a hand-written store; what does not read keeps the default. Minimized is
    // stored the other way from its default so that reading one option for another shows.
    const QByteArray value = text.toUtf8() + '\n';
    WriteStoreFile("[Settings]\nDefaultPort=" + value +
                   "MinimizedWhenSend=False\nPopupWhenSend=" + value);
    loadSettings();
    QCOMPARE(Global::DefaultPort, integer.isNull() ? 505 : integer.toInt());
    QCOMPARE(Global::MinimizedWhenSend, false);
    QCOMPARE(Global::PopupWhenSend, boolean.isNull() || boolean.toBool());
}

void TestCore::recordsAreBuiltAndSplitByteForByte_data()
{
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QByteArray>("bytes");
    // Sent: name|reply port|text. Received: name|ip|port, or empty when the block is dropped.
    QTest::addColumn<QString>("fields");

    const auto sent = [](const char* name, const QByteArray& bytes, const char* fields) {
        QTest::addRow("sent: %s", name) << true << bytes << QString::fromUtf8(fields);
    };
    const auto received = [](const char* name, const QByteArray& bytes, const char* fields) {
        QTest::addRow("received: %s", name) << false << bytes << QString::fromUtf8(fields);
    };
    // clang-format off
    sent("example", QByteArray("Me\0" "505\0Hi", 9), "Me|505|Hi");
    sent("empty text", QByteArray("Me\0" "505\0", 7), "Me|505|");
    sent("line breaks become CR LF", QByteArray("A\0" "1\0one\r\ntwo\r\nthree\r\n", 21),
         "A|1|one\ntwo\r\nthree\n");
    sent("negative port", QByteArray("\0-12\0x", 6), "|-12|x");

    const QByteArray bob("Bob\0" "10.0.0.2\0" "505\0", 17);
    received("16 bytes without the last NUL", bob.left(16), "Bob|10.0.0.2|505");
    received("two fields", bob.left(12), "");
    received("port sent empty", QByteArray("Bob\0" "10.0.0.2\0\0", 14), "Bob|10.0.0.2|");
    received("empty name", bob.mid(3), "|10.0.0.2|505");
    received("trailing data ignored", bob + "junk", "Bob|10.0.0.2|505");
    received("empty block", QByteArray(), "");
    received("no NUL", "text", "");
    // The buffer holds 254 bytes and a final NUL: what lies beyond is cut off.
    const QByteArray sevens = QByteArray("N\0" "1.2.3.4\0", 10) + QByteArray(243, '7');
    received("254 bytes ending in NUL", sevens + '\0',
             qPrintable("N|1.2.3.4|" + QString(243, '7')));
    received("254 bytes, no NUL", sevens + '7', "");
    received("NUL past the buffer", sevens + "7\0", "");
    received("long block cut", QByteArray("N\0" "1.2.3.4\0" "80\0", 13) + QByteArray(70000, 'x'),
             "N|1.2.3.4|80");
    received("as the receiver builds it", ReplyRequestBlock("Bob", "10.0.0.2", "505"),
             "Bob|10.0.0.2|505");
    // clang-format on
}
void TestCore::recordsAreBuiltAndSplitByteForByte()
{
    QFETCH(bool, sent);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fields);
    if (sent) {
        const QStringList field = fields.split(u'|');
        QCOMPARE(MessageRecordBytes(field[0], field[1].toInt(), field[2]), bytes);
        return;
    }
    const std::optional<ReplyRequest> request = SplitReplyRequest(CopyDataToString(bytes));
    QCOMPARE(request.has_value(), !fields.isEmpty());
    if (request)
        QCOMPARE(QStringList({request->name, request->ip, request->port}).join('|'), fields);
}

void TestCore::emptyStoreGivesDefaultsWrittenWhenStartUpEnds()
{
    // The marker's way through the next starts, seen from the main window, is a start-up test.
    Global::DefaultPort = Global::MyPortnb = 1;
    Global::MinimizedWhenSend = Global::PopupWhenSend = false;
    Global::DefaultIp = Global::MyUsername = QStringLiteral("x");
    {
        const StoreSession session(StoreKeys::Application);
        loadSettings();
        SaveOptions();
        QVERIFY(ReadStoreBytes().isEmpty());
    }
    QCOMPARE(options(), QStringLiteral("505|1|1|127.0.0.1|Me|505"));
    QCOMPARE(StoreSection("Users"), QStringList{"TestUsers=True"});
    // The list shows a port with Str's blank where a minus would stand.
    QCOMPARE(SignedNumberText(505) + SignedNumberText(-1), QStringLiteral(" 505-1"));
    // An emptied table, once past the first start, leaves no section: the start after it is
    // a first one again.
    SaveUsers();
    LoadUsers();
    Global::Users = DimUsers(0);
    SaveUsers();
    QVERIFY(!ReadStoreSections().contains("Users"));
    LoadUsers();
    compareUsers({Localhost});
}

void TestCore::optionsAndIdentificationAreWrittenAsText()
{
    WriteStoreFile("[Settings]\nMinimizedWhenSend=0\nPopupWhenSend=true\n");
    loadSettings();
    Global::DefaultPort = 5050;
    Global::DefaultIp = QStringLiteral("10.0.0.9");
    SaveOptions();
    QVERIFY(!ReadStoreSections().contains("Identification"));
    Global::MyUsername = QStringLiteral("Ann = Lee");
    Global::MyPortnb = -7;
    SaveIdentification();
    QCOMPARE(StoreSection("Settings"),
             (QStringList{"DefaultIp=10.0.0.9", "DefaultPort=5050", "MinimizedWhenSend=False",
                          "PopupWhenSend=True"}));
    QCOMPARE(StoreSection("Identification"),
             (QStringList{"MyPortnb=-7", "MyUsername=\"Ann = Lee\""}));
}

void TestCore::windowsOpenWhereStoredOrCentred_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("position");

    const auto row = [](const char* name, const QByteArray& stored, QSize size, QPoint position) {
        QTest::newRow(name) << stored << size << position;
    };
    const auto at = [](const char* x, const char* y) {
        return "Option%20StartUPX=" + QByteArray(x) + "\nOption%20StartUPY=" + y + '\n';
    };
    const QSize size(4000, 2000);
    const QPoint centred(5680, 4760);
    // 15360/2 - 4001/2 = 5679.5 -> 5680 (half to even), 11520/2 - 2251/2 = 4634.5 -> 4634.
    row("nothing stored", "", {4001, 2251}, {5680, 4634});
    row("stored", at("300", "200"), size, {300, 200});
    row("another window's position", "StartUPX=300\nStartUPY=200\n", size, centred);
    row("left past the screen re-centres both", at("15361", "200"), size, centred);
    row("left on the right edge stays", at("15360", "11520"), size, {15360, 11520});
    row("zero stays", at("0", "0"), size, {0, 0});
    row("negative left re-centres", at("-15", "100"), size, centred);
    row("wider than the screen", "", {20000, 12000}, {-2320, -240});
    row("unreadable is centred", at("left", "9"), size, {5680, 9});
}
void TestCore::windowsOpenWhereStoredOrCentred()
{
    QFETCH(QByteArray, stored);
    QFETCH(QSize, size);
    QFETCH(QPoint, position);
    WriteStoreFile("[Settings]\n" + stored);
    const WindowPosition loaded =
        LoadWindowPosition(WindowPrefix::OptProg, size.width(), size.height());
    QCOMPARE(QPoint(loaded.left, loaded.top), position);
}

void TestCore::awkwardTextsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("separators") << QStringLiteral("Smith, John; x = y");
    QTest::newRow("quotes and backslashes") << QStringLiteral("say \"hi\" C:\\temp\\x1f \\");
    QTest::newRow("controls") << QStringLiteral("tab\there\nline\u00017 end\r");
    QTest::newRow("edge blanks") << QStringLiteral("  both ends  ");
    QTest::newRow("empty") << QString();
    QTest::newRow("non-ASCII") << QStringLiteral("Zo\u00eb \u6f22\u5b57 \U0001F600 \u00ff");
    QTest::newRow("at sign and underscores") << QStringLiteral("@String(2_name x_y)");
    QTest::newRow("percent and brackets") << QStringLiteral("[Users] %20 #1 ;c");
}
void TestCore::awkwardTextsRoundTrip()
{
    QFETCH(QString, text);
    // Over a table of the same size past its first start, so that only the fields differ.
    Global::Users = {{}, {"old", "10.0.0.1", 6, 1}, {"next", "10.0.0.2", 8, 2}};
    SaveUsers();
    SaveUsers();
    Global::Users = {{}, {text, text, 7, 1}, {"next", "10.0.0.2", 8, 2}};
    SaveUsers();
    Global::MyUsername = text;
    SaveIdentification();
    SaveWindowPosition(text, 1, 2);
    ForgetStore(); // as a new run would
    loadSettings();
    compareUsers({text + u'|' + text + "|7", "next|10.0.0.2|8"});
    QCOMPARE(Global::MyUsername, text);
    QCOMPARE(LoadWindowPosition(text, 0, 0).top, 2);
    QVERIFY(failures.isEmpty());
}

void TestCore::storesWrittenElsewhereLoad_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("users"); // name|ip|port per entry
    QTest::addColumn<QString>("loaded");    // as options() shows them

    const auto row = [](const char* name, const QByteArray& file, const QStringList& users,
                        const QString& loaded = QStringLiteral("505|1|1|127.0.0.1|Me|505")) {
        QTest::newRow(name) << file << users << loaded;
    };
    // The first version kept the store with QSettings; its files must load unchanged.
    const QString awkward = QStringLiteral(" Smith, John \"J\\\" \u00e9;=\t");
    RemoveStoreFile(); // and the lock, which the first version's own lock would wait on
    {
        QSettings old(QSettings::NativeFormat, QSettings::UserScope, "Quorvane", "Quorvane");
        old.setValue("Settings/DefaultIp", "10.1.2.3");
        old.setValue("Settings/DefaultPort", "5050");
        old.setValue("Identification/MyUsername", awkward);
        old.setValue("Users/1_name", awkward);
        old.setValue("Users/1_ip", "10.0.0.1");
        old.setValue("Users/1_port", "505");
        old.setValue("Users/2_name", "@home");
        old.setValue("Users/2_port", "-1");
    }
    row("written by the first version", ReadStoreBytes(), {awkward + "|10.0.0.1|505", "@home||-1"},
        "5050|1|1|10.1.2.3|" + awkward + "|505");
    // clang-format off
    row("semicolon is text, a leading one a comment", "[Users]\n; 1_name=comment\n# 1_ip=comment\n"
        "#2_ip=x\n1_name=a;b\n1_ip=10.0.0.1\n1_port=505 ; not a comment\n", {"a;b|10.0.0.1|0"});
    row("any order, ports first", "[Users]\n2_port=2\n1_port=1\n2_ip=b\n1_name=Ann\n2_name=Bob\n"
        "1_ip=a\n", {"Ann|a|1", "Bob|b|2"});
    row("comma is text", "[Users]\n1_name=Smith, John\n1_ip=a,b ,c\n1_port=1\n",
        {"Smith, John|a,b ,c|1"});
    row("unknown fields count", "[Users]\n1_name=Ann\n1_ip=x\n1_port=5\n1_colour=red\n1_a=b\n"
        "1_c=d\n", {"Ann|x|5", "||0"});
    row("entry 32767 and junk", "[Users]\njunk=1\n1_name=Ann\n1_ip=10.0.0.1\n1_port=505\n"
        "32767_name=Last\n0_name=zero\n99999_name=too far\nx_name=nameless\n3_port=seven\n"
        "\x01garbage\n", {"Ann|10.0.0.1|505", "||0", "||0", "Last||0"});
    row("name that is not UTF-8", "[Users]\n1_name=Ren\xe9\n1_ip=10.0.0.1\n1_port=1\n",
        {QStringLiteral("Ren\u00e9|10.0.0.1|1")});
    // clang-format on
}
void TestCore::storesWrittenElsewhereLoad()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, users);
    QFETCH(QString, loaded);
    WriteStoreFile(file);
    loadSettings();
    compareUsers(users);
    QCOMPARE(options(), loaded);
    // What was loaded is saved and loads back the same.
    SaveUsers();
    ForgetStore();
    LoadUsers();
    compareUsers(users);
}

void TestCore::failedSavesAreToldAndKept_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("read-only store") << "Permission denied";
    QTest::newRow("unreadable store") << "Permission denied";
    QTest::newRow("store path is a folder") << "Is a directory";
    QTest::newRow("full disk") << "No space left on device";
    QTest::newRow("lock held by another program") << "another program keeps it locked";
}
void TestCore::failedSavesAreToldAndKept()
{
    QFETCH(QString, reason);
    const QByteArray fault = QTest::currentDataTag();
    const QString path = StoreFilePath(), folder = QFileInfo(path).path();
    const QByteArray before = "[Identification]\nMyUsername=Old\n";
    WriteStoreFile(before);
    QFile filler(folder + "/filler");
    QFile lock(path + ".lock");
    std::optional<QScopeGuard<std::function<void()>>> asUser, asUserToo;
    if (fault == "read-only store") {
        QFile::setPermissions(path, QFile::ReadOwner);
    } else if (fault == "unreadable store") {
        QFile::setPermissions(path, QFile::WriteOwner);
        asUser.emplace(WithoutCapability(CAP_DAC_OVERRIDE));
        asUserToo.emplace(WithoutCapability(CAP_DAC_READ_SEARCH));
    } else if (fault == "store path is a folder") {
        RemoveStoreFile();
        QDir().mkpath(path);
    } else if (fault == "full disk") {
        if (geteuid() != 0)
            QSKIP("filling a small file system needs root to mount it");
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", folder}) != 0)
            QSKIP("no tmpfs could be mounted here");
        WriteStoreFile(before);
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
        }
        filler.close();
    } else {
        QVERIFY(lock.open(QIODevice::ReadWrite));
        QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
    }
    const auto unmount = qScopeGuard([&] {
        if (fault == "full disk")
            QProcess::execute("umount", {folder});
    });

    loadSettings();
    Global::Users = DimUsers(300); // more than the full disk takes
    for (int i = 1; i <= 300; ++i)
        Global::Users[i] = {QStringLiteral("Added %1").arg(i), "10.0.0.1", i, i};
    SaveUsers();
    // Told with the file, the reason and what happens next, and the file is as it was.
    const auto told = [this] { return failures.filter("could not be saved"); };
    QVERIFY2(told().size() == 1 && told().last().contains(path + ": " + reason + ".\n") &&
                 told().last().endsWith("The changes are kept and saved as soon as that works "
                                        "again."),
             qPrintable(failures.join('\n')));
    QVERIFY(PendingSaveProblem().contains(reason));
    // A change that meets the same fault is tried, without freezing the window on a lock held
    // for long, and not told again.
    QElapsedTimer attempt;
    attempt.start();
    SaveWindowPosition(WindowPrefix::About, 1, 2);
    for (int i = 0; i < 8; ++i) // and reading waits for nothing
        StoredUserName();
    QVERIFY(attempt.elapsed() < 1000);
    QCOMPARE(told().size(), 1);
    asUserToo.reset(), asUser.reset();
    // A store that cannot be read is told, and never written over with the defaults.
    QCOMPARE(failures.filter("could not be read").size(),
             fault == "unreadable store" || fault == "store path is a folder" ? 1 : 0);
    QCOMPARE(ReadStoreBytes(), fault == "store path is a folder" ? QByteArray() : before);

    // The changes were kept: once the fault is mended, they reach the file with no other save.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QDir(path).removeRecursively(); // a folder only
    filler.resize(0);
    lock.close();
    if (fault == "store path is a folder") { // the user quits before the next try
        QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit");
        QVERIFY(ReadStoreBytes().contains("300_name=Added 300"));
    }
    QTRY_VERIFY(ReadStoreBytes().contains("300_name=Added 300"));
    QCOMPARE(savedAtLast, 1);
    QCOMPARE(PendingSaveProblem(), QString());
    QCOMPARE(told().size(), 1);
    ForgetStore();
    LoadUsers();
    QCOMPARE(UBound(Global::Users), 300);
    QCOMPARE(Global::Users[300].name, QStringLiteral("Added 300"));
    QCOMPARE(LoadWindowPosition(WindowPrefix::About, 0, 0).top, 2);
}

void TestCore::anotherWritersChangesSurvive()
{
    WriteStoreFile("[Users]\n1_name=A\n1_ip=a\n1_port=1\n2_name=B\n3_name=C\n3_ip=c\n"
                   "[Settings]\nDefaultPort=505\nGone=1\n");
    loadSettings();
    Global::Users = {{}, {"A", "a", 1, 1}, {"New", "10.0.0.9", 9, 2}};
    QByteArray handEdited = ReadStoreBytes() + "\n[Identification]\nMyPortnb=5050\nOther=kept\n";
    handEdited.replace("DefaultPort=505", "DefaultPort=5050");
    QFile old(StoreFilePath());
    {
        // What the main window does when it closes, while the receiver (or a hand edit)
        // changes the ports and adds a key. Writing back a value read is no change of ours.
        const StoreSession session("Quorvane");
        SaveUsers();
        SaveOptions();
        SettingsStore("Quorvane").DeleteSetting("Settings", "Gone");
        WriteStoreFile(handEdited);
        QVERIFY(old.open(QIODevice::ReadOnly));
        SaveWindowPosition(WindowPrefix::SendForm, 10, 20);
    }
    // Written to a new file renamed over the old one, never in place.
    QCOMPARE(old.readAll(), handEdited);
    QCOMPARE(StoreSection("Identification"), (QStringList{"MyPortnb=5050", "Other=kept"}));
    QCOMPARE(StoreSection("Users"), (QStringList{"1_ip=a", "1_name=A", "1_port=1", "2_ip=10.0.0.9",
                                                 "2_name=New", "2_port=9"}));
    QCOMPARE(StoreSection("Settings"),
             (QStringList{"DefaultIp=127.0.0.1", "DefaultPort=5050", "MinimizedWhenSend=True",
                          "PopupWhenSend=True", "StartUPX=10", "StartUPY=20"}));
    // And the running program takes the new port without a restart.
    ReloadChangedIdentification();
    QCOMPARE(Global::MyPortnb, 5050);
}

void TestCore::unchangedStoreIsNotWritten_data()
{
    QTest::addColumn<bool>("readOnly"); // the folder, with no lock file in it
    QTest::newRow("writable folder") << false;
    QTest::newRow("read-only folder") << true;
}
void TestCore::unchangedStoreIsNotWritten()
{
    QFETCH(bool, readOnly);
    const auto startUp = [] {
        const StoreSession session("Quorvane");
        loadSettings();
        SaveWindowPosition(WindowPrefix::SendForm, 10, 20);
        SaveOptions();
        SaveUsers();
    };
    startUp();
    startUp(); // drops the marker
    // Rewritten as it is, with a time of its own in the past.
    WriteStoreFile(ReadStoreBytes());
    const QDateTime stamp = QFileInfo(StoreFilePath()).lastModified();
    ForgetStore();

    // Nothing to write needs no lock and no right to write: such a start-up is no failure.
    const QString folder = QFileInfo(StoreFilePath()).path();
    const QFile::Permissions mode = QFile::permissions(folder);
    const auto restore = qScopeGuard([=] { QFile::setPermissions(folder, mode); });
    std::optional<QScopeGuard<std::function<void()>>> asUser;
    if (readOnly) {
        QVERIFY(QFile::remove(StoreFilePath() + ".lock"));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        asUser.emplace(WithoutCapability(CAP_DAC_OVERRIDE));
        QVERIFY(!QFile(folder + "/probe").open(QIODevice::WriteOnly));
    }
    startUp();
    QCOMPARE(QFileInfo(StoreFilePath()).lastModified(), stamp);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
    QCOMPARE(PendingSaveProblem(), QString());
}
QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
