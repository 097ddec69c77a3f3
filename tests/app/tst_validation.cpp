// The validation rules and the number/boolean readings they share with the store.

#include "app/Conversions.h"
#include "app/Validation.h"

#include <QTest>

class TestValidation : public QObject
{
    Q_OBJECT
private slots:
    void ipAddresses_data();
    void ipAddresses();
    void ipOutputMayBeTheInput();
    void ports_data();
    void ports();
    void userNames_data();
    void userNames();
    void findUserIsExact();
    void storedIntegers_data();
    void storedIntegers();
    void storedBooleans_data();
    void storedBooleans();
    void numberTexts();
};

void TestValidation::ipAddresses_data()
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

void TestValidation::ipAddresses()
{
    QFETCH(QString, input);
    QFETCH(bool, valid);
    QFETCH(QString, normalised);
    QString out = QStringLiteral("untouched");
    QCOMPARE(IsValidIp(input, out), valid);
    if (valid)
        QCOMPARE(out, normalised);
}

void TestValidation::ipOutputMayBeTheInput()
{
    QString address = QStringLiteral(" 010.000.1.02 ");
    QVERIFY(IsValidIp(address, address));
    QCOMPARE(address, QStringLiteral("10.0.1.2"));
}

void TestValidation::ports_data()
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

void TestValidation::ports()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, port);
    std::int32_t out = 12345;
    QCOMPARE(IsValidPort(text, out), valid);
    QCOMPARE(out, port);
}

void TestValidation::userNames_data()
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

void TestValidation::userNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QString, trimmed);
    QString out;
    QCOMPARE(IsValidUserName(name, out), valid);
    QCOMPARE(out, trimmed);
}

void TestValidation::findUserIsExact()
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

void TestValidation::storedIntegers_data()
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

void TestValidation::storedIntegers()
{
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(int, value);
    const std::optional<std::int32_t> result = TextToInteger(text);
    QCOMPARE(result.has_value(), converts);
    if (converts)
        QCOMPARE(*result, value);
}

void TestValidation::storedBooleans_data()
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

void TestValidation::storedBooleans()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    const std::optional<bool> result = TextToBoolean(text);
    QCOMPARE(result.has_value(), expected >= 0);
    if (result)
        QCOMPARE(int(*result), expected);
}

void TestValidation::numberTexts()
{
    QCOMPARE(IntegerText(-5), QStringLiteral("-5"));
    QCOMPARE(BooleanText(false), QStringLiteral("False"));
    QCOMPARE(SignedNumberText(505), QStringLiteral(" 505"));
    QCOMPARE(SignedNumberText(0), QStringLiteral(" 0"));
    QCOMPARE(SignedNumberText(-1), QStringLiteral("-1"));
}

QTEST_GUILESS_MAIN(TestValidation)
#include "tst_validation.moc"
