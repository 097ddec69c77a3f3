// Start-up and shutdown of the main window, and one running copy per user.

#include "TestSupport.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "platform/ReplyChannel.h"
#include "platform/SetActiveWnd.h"
#include "windows/SendForm.h"
#include "windows/WindowPlacement.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

std::unique_ptr<QProcess> startCopy(const QProcessEnvironment& environment)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(QStringLiteral(QUORVANE_BINARY), QStringList());
    return process;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstAndSecondStartOnAnEmptyStore();
    void secondCopyRaisesTheFirstAndEnds();
    void copiesStartedTogetherLeaveOne();
    void findWindowByCaptionMatchesExactly();
    void unsafeRuntimeFolders_data();
    void unsafeRuntimeFolders();

private:
    TestFolders folders;
};

void TestStartup::initTestCase()
{
    InstallScreenSizeSource();
    RemoveStoreFile();
}

void TestStartup::firstAndSecondStartOnAnEmptyStore()
{
    {
        SendForm form;
        QVERIFY(form.Form_Load());
        // Centred from the size the window had when it was placed.
        const double width = PixelsToTwips(&form, form.width());
        const double height = PixelsToTwips(&form, form.height());
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Send Message"));
        QCOMPARE(form.Combo1->count(), 1);
        QCOMPARE(form.Combo1->currentText(), QStringLiteral("localhost (127.0.0.1: 505)"));

        const IniSections store = ReadStoreSections();
        const QMap<QString, QString> settings = store.value("Settings");
        QCOMPARE(settings.value("DefaultPort"), QStringLiteral("505"));
        QCOMPARE(settings.value("MinimizedWhenSend"), QStringLiteral("True"));
        QCOMPARE(settings.value("PopupWhenSend"), QStringLiteral("True"));
        QCOMPARE(settings.value("DefaultIp"), QStringLiteral("127.0.0.1"));
        const QSizeF screen = ScreenSizeTwips();
        // The position is stored as read back from the window, in whole pixels.
        const auto centred = [&form](double screenSize, double size) {
            return PixelsToTwips(
                &form, TwipsToPixels(&form, int(std::nearbyint(screenSize / 2 - size / 2))));
        };
        QCOMPARE(settings.value("StartUPX").toInt(), centred(screen.width(), width));
        QCOMPARE(settings.value("StartUPY").toInt(), centred(screen.height(), height));
        const QMap<QString, QString> users = store.value("Users");
        QCOMPARE(users.keys(), (QStringList{"1_ip", "1_name", "1_port", "TestUsers"}));
        QCOMPARE(users.value("1_name"), QStringLiteral("localhost"));
        QCOMPARE(users.value("1_ip"), QStringLiteral("127.0.0.1"));
        QCOMPARE(users.value("1_port"), QStringLiteral("505"));
        QVERIFY(!store.contains("Identification"));

        // A window moved elsewhere is stored there on close.
        form.move(form.x() + 30, form.y() + 15);
        form.close();
        QCOMPARE(ReadStoreSections().value("Settings").value("StartUPX").toInt(),
                 PixelsToTwips(&form, form.x()));
    }
    SendForm next;
    QVERIFY(next.Form_Load());
    const QMap<QString, QString> users = ReadStoreSections().value("Users");
    QCOMPARE(users.keys(), (QStringList{"1_ip", "1_name", "1_port"}));
    QCOMPARE(UBound(Global::Users), 1);
    next.Form_Unload();
}

void TestStartup::secondCopyRaisesTheFirstAndEnds()
{
    SendForm first;
    QVERIFY(first.Form_Load());
    first.show();
    first.showMinimized();
    QTRY_VERIFY(first.isMinimized());
    const QByteArray storeBefore = ReadStoreBytes();
    QVERIFY(!storeBefore.isEmpty());

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProcess> second = startCopy(QProcessEnvironment::systemEnvironment());
    QSignalSpy finished(second.get(), &QProcess::finished);
    QVERIFY(finished.wait(10000));
    qInfo("second copy ended after %lld ms", static_cast<long long>(clock.elapsed()));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(ReadStoreBytes(), storeBefore);
    QTRY_VERIFY(!first.isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), &first);
    first.Form_Unload();
}

void TestStartup::copiesStartedTogetherLeaveOne()
{
    for (int round = 0; round < 3; ++round) {
        const PrivateFolders copyFolders;
        const QProcessEnvironment environment = copyFolders.environment();

        std::unique_ptr<QProcess> a = startCopy(environment);
        std::unique_ptr<QProcess> b = startCopy(environment);
        QSignalSpy aDone(a.get(), &QProcess::finished);
        QSignalSpy bDone(b.get(), &QProcess::finished);
        QTRY_VERIFY_WITH_TIMEOUT(aDone.count() + bDone.count() >= 1, 15000);
        QProcess* survivor = aDone.count() ? b.get() : a.get();
        QProcess* ended = aDone.count() ? a.get() : b.get();
        QCOMPARE(ended->exitCode(), 0);

        // The survivor runs and answers on the channel as the one copy.
        const QString channel =
            copyFolders.runtime() + QStringLiteral("/Quorvane/send-message.sock");
        QTRY_VERIFY_WITH_TIMEOUT(
            SendChannelMessage(channel, ChannelMessage::FindWindow, 0, "Send Message", 500)
                    .value_or(0) == 1,
            15000);
        QCOMPARE(survivor->state(), QProcess::Running);
        QCOMPARE(aDone.count() + bDone.count(), 1);
        survivor->kill();
        QVERIFY(survivor->waitForFinished(5000));
    }
}

void TestStartup::findWindowByCaptionMatchesExactly()
{
    SendForm form;
    QVERIFY(form.Form_Load());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(FindWindowByCaption("Send Message").window, form.windowHandle());
    // The copy that serves the channel never asks itself, so a miss is simply null.
    QVERIFY(FindWindowByCaption("Send message").isNull());
    QVERIFY(FindWindowByCaption("Send Message ").isNull());
    ForceForeground(WindowHandle());
    form.Form_Unload();
}

void TestStartup::unsafeRuntimeFolders_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("said");      // by quorvane; empty when it runs
    QTest::addColumn<QString>("replySaid"); // by quorvane-reply, which ends with 1
    QTest::newRow("wrong mode") << "mode"
                                << "has mode 0755"
                                << "has mode 0755";
    QTest::newRow("symbolic link") << "link"
                                   << "is a symbolic link"
                                   << "is a symbolic link";
    QTest::newRow("foreign owner") << "owner"
                                   << "belongs to another user"
                                   << "belongs to another user";
    QTest::newRow("lock in the way") << "lock"
                                     << "names no running copy"
                                     << "no running Quorvane answered";
    QTest::newRow("XDG_RUNTIME_DIR unset") << "unset" << QString() << "/cache/quorvane-runtime/";
}

void TestStartup::unsafeRuntimeFolders()
{
    QFETCH(QString, kind);
    QFETCH(QString, said);
    if (kind == "owner" && ::geteuid() != 0)
        QSKIP("only root can give a folder to another user");
    const PrivateFolders copyFolders;
    QProcessEnvironment environment = copyFolders.environment();
    const QString folder = copyFolders.runtime() + QStringLiteral("/Quorvane");
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (kind == "unset") {
        // Qt then offers no runtime folder, as when another user made runtime-<user> first.
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("TMPDIR"), copyFolders.runtime());
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), copyFolders.config() + "/cache");
        QFile blocker(copyFolders.runtime() + "/runtime-" + ::getpwuid(::geteuid())->pw_name);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else if (kind == "link") {
        QVERIFY(QFile::link(copyFolders.config(), folder));
    } else {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, kind == "mode"
                                                  ? owner | QFile::ReadGroup | QFile::ExeGroup |
                                                        QFile::ReadOther | QFile::ExeOther
                                                  : owner));
        if (kind == "owner")
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        if (kind == "lock")
            QVERIFY(QDir().mkdir(folder + QStringLiteral("/quorvane.lock")));
    }

    QProcess reply;
    reply.setProcessEnvironment(environment);
    reply.start(QStringLiteral(QUORVANE_REPLY), {"Bob", "10.0.0.2", "505"});
    QVERIFY(reply.waitForFinished(10000));
    QCOMPARE(reply.exitCode(), 1);
    const QByteArray replyError = reply.readAllStandardError();
    QFETCH(QString, replySaid);
    QVERIFY2(replyError.contains(replySaid.toLocal8Bit()), replyError.constData());

    QProcess copy;
    copy.setProcessEnvironment(environment);
    copy.start(QStringLiteral(QUORVANE_BINARY), {});
    if (said.isEmpty()) {
        const QString channel =
            copyFolders.config() + "/cache/quorvane-runtime/Quorvane/send-message.sock";
        QTRY_VERIFY_WITH_TIMEOUT(
            SendChannelMessage(channel, ChannelMessage::FindWindow, 0, "Send Message", 500)
                    .value_or(0) == 1,
            15000);
    } else {
        // It says why on stderr and in a box, and ends with 1 once the box is closed.
        QByteArray error;
        QTRY_VERIFY_WITH_TIMEOUT(
            (error += copy.readAllStandardError()).contains(said.toLocal8Bit()), 15000);
        QCOMPARE(copy.state(), QProcess::Running);
    }
    copy.kill();
    QVERIFY(copy.waitForFinished(5000));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
