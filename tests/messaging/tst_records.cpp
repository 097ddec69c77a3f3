// The message record's bytes and the reading of reply-request blocks.

#include "messaging/ReceiveString.h"

#include <QTest>

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void messageRecordBytes_data();
    void messageRecordBytes();
    void copyDataBlocks_data();
    void copyDataBlocks();
    void longBlocksStayInTheBuffer();
    void replyBlockRoundTrip();
};

void TestRecords::messageRecordBytes_data()
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

void TestRecords::messageRecordBytes()
{
    QFETCH(QString, name);
    QFETCH(int, port);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(MessageRecordBytes(name, port, text), bytes);
}

void TestRecords::copyDataBlocks_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("port");

    const QByteArray bob("Bob\0"
                         "10.0.0.2\0"
                         "505\0",
                         17);
    QTest::newRow("17 bytes") << bob << true << "Bob"
                              << "10.0.0.2"
                              << "505";
    QTest::newRow("16 bytes without the last NUL") << bob.left(16) << true << "Bob"
                                                   << "10.0.0.2"
                                                   << "505";
    QTest::newRow("two fields") << QByteArray("Bob\0"
                                              "10.0.0.2",
                                              12)
                                << false << ""
                                << ""
                                << "";
    QTest::newRow("port sent empty") << QByteArray("Bob\0"
                                                   "10.0.0.2\0\0",
                                                   14)
                                     << true << "Bob"
                                     << "10.0.0.2"
                                     << "";
    QTest::newRow("empty name") << QByteArray("\0"
                                              "10.0.0.2\0"
                                              "505\0",
                                              14)
                                << true << ""
                                << "10.0.0.2"
                                << "505";
    QTest::newRow("trailing data ignored") << QByteArray("A\0"
                                                         "1.1.1.1\0"
                                                         "5\0junk\0",
                                                         17)
                                           << true << "A"
                                           << "1.1.1.1"
                                           << "5";
    QTest::newRow("empty block") << QByteArray() << false << ""
                                 << ""
                                 << "";
    QTest::newRow("no NUL") << QByteArray("text") << false << ""
                            << ""
                            << "";
}

void TestRecords::copyDataBlocks()
{
    QFETCH(QByteArray, block);
    QFETCH(bool, accepted);
    const QString text = CopyDataToString(block);
    const std::optional<ReplyRequest> request = SplitReplyRequest(text);
    QCOMPARE(request.has_value(), accepted);
    if (!accepted)
        return;
    QTEST(request->name, "name");
    QTEST(request->ip, "ip");
    QTEST(request->port, "port");
}

void TestRecords::longBlocksStayInTheBuffer()
{
    // The zero padding after a short block reads as one NUL.
    const QByteArray bob("Bob\0"
                         "10.0.0.2\0"
                         "505\0",
                         17);
    QCOMPARE(CopyDataToString(bob), QString::fromLatin1(bob));
    QCOMPARE(CopyDataToString(bob.left(16)), QString::fromLatin1(bob));

    // A 254-byte block keeps its last byte; without a NUL there, the port field has no end.
    QByteArray block = QByteArray("N\0"
                                  "1.2.3.4\0",
                                  10) +
                       QByteArray(244, '7');
    QCOMPARE(block.size(), 254);
    QVERIFY(!SplitReplyRequest(CopyDataToString(block)));
    block[253] = '\0';
    QCOMPARE(SplitReplyRequest(CopyDataToString(block))->port, QString(243, QLatin1Char('7')));

    // Longer blocks are cut to 254 bytes, whether or not they hold a NUL.
    const QByteArray huge = QByteArray("N\0"
                                       "1.2.3.4\0"
                                       "80\0",
                                       13) +
                            QByteArray(70000, 'x');
    const QString text = CopyDataToString(huge);
    QCOMPARE(text.size(), CopyDataBufferSize - 1);
    QCOMPARE(SplitReplyRequest(text)->port, QStringLiteral("80"));
    QCOMPARE(CopyDataToString(QByteArray(255, 'z')), QString(254, QLatin1Char('z')));
}

void TestRecords::replyBlockRoundTrip()
{
    const QByteArray block = ReplyRequestBlock("Bob", "10.0.0.2", "505");
    QCOMPARE(block, QByteArray("Bob\0"
                               "10.0.0.2\0"
                               "505\0",
                               17));
    const std::optional<ReplyRequest> request = SplitReplyRequest(CopyDataToString(block));
    QVERIFY(request);
    QCOMPARE(request->name, QStringLiteral("Bob"));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
