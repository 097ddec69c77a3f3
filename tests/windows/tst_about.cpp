// The Your IP and About windows, and opening addresses through the desktop. Requests to
// the desktop are caught by URL handlers installed here, so nothing is really opened.

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Settings.h"
#include "app/Validation.h"
#include "platform/ShellExtension.h"
#include "windows/About.h"
#include "windows/WindowPlacement.h"
#include "windows/YourIP.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <memory>

namespace {

const QStringList CaughtSchemes{"http", "https", "mailto", "file"};

// Stands in for the desktop: every address handed to it is kept.
class DesktopCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// The address this machine shows: its first interface that is up, running and not the
// loopback one, or the loopback address when it has none.
QString expectedLocalAddress()
{
    for (const QNetworkInterface& candidate : QNetworkInterface::allInterfaces()) {
        const auto flags = candidate.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : candidate.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void shellOpenHandsTheAddressToTheDesktop_data();
    void shellOpenHandsTheAddressToTheDesktop();
    void shellOpenOfNothingFails();

    void yourIpShowsTheLocalAddress();
    void aboutShowsNameAndVersion();
    void versionTexts_data();
    void versionTexts();
    void aboutLinksOpenTheConfiguredAddresses();
    void aboutLinksLookLikeLinks();

    void windowsReopenWhereTheyWereClosed();
    void nothingClippedAtLargeFonts();

private:
    TestFolders folders;
    DesktopCatcher desktop;
};

void TestAbout::initTestCase()
{
    InstallScreenSizeSource();
    for (const QString& scheme : CaughtSchemes)
        QDesktopServices::setUrlHandler(scheme, &desktop, "open");
}

void TestAbout::cleanupTestCase()
{
    for (const QString& scheme : CaughtSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestAbout::init()
{
    RemoveStoreFile();
    desktop.opened.clear();
}

void TestAbout::shellOpenHandsTheAddressToTheDesktop_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QUrl>("expected");
    QTest::newRow("web page") << "https://www.example.org/a?b=c"
                              << QUrl("https://www.example.org/a?b=c");
    QTest::newRow("mail") << "mailto:someone@example.org" << QUrl("mailto:someone@example.org");
    QTest::newRow("file in the program's folder")
        << "read me.txt"
        << QUrl::fromLocalFile(
               QDir(QCoreApplication::applicationDirPath()).filePath("read me.txt"));
    QTest::newRow("absolute file") << "/tmp/x.txt" << QUrl::fromLocalFile("/tmp/x.txt");
}

void TestAbout::shellOpenHandsTheAddressToTheDesktop()
{
    QFETCH(QString, document);
    QFETCH(QUrl, expected);
    QVERIFY(ShellOpen(document, nullptr));
    QCOMPARE(desktop.opened, QList<QUrl>{expected});
}

void TestAbout::shellOpenOfNothingFails()
{
    QVERIFY(!ShellOpen(QString(), nullptr));
    QVERIFY(desktop.opened.isEmpty());
}

void TestAbout::yourIpShowsTheLocalAddress()
{
    YourIP yourIp;
    ShowAndActivate(&yourIp);
    QCOMPARE(yourIp.windowTitle(), QStringLiteral("Your IP is..."));
    QCOMPARE(yourIp.frm->title(), QStringLiteral("IP"));
    QCOMPARE(yourIp.returncmd->text(), QStringLiteral("Ok"));
    const QString shown = yourIp.youripnumber->text();
    QCOMPARE(shown, expectedLocalAddress());
    QString normalised;
    QVERIFY(IsValidIp(shown, normalised));
    QCOMPARE(normalised, shown);

    // It can be selected and copied, not changed.
    QCOMPARE(yourIp.focusWidget(), yourIp.youripnumber);
    QCOMPARE(yourIp.youripnumber->selectedText(), shown);
    QTest::keyClicks(yourIp.youripnumber, "99");
    QTest::keyClick(yourIp.youripnumber, Qt::Key_Backspace);
    QCOMPARE(yourIp.youripnumber->text(), shown);

    // Enter closes it from the address box.
    QTest::keyClick(yourIp.youripnumber, Qt::Key_Return);
    QVERIFY(!yourIp.isVisible());
}

void TestAbout::aboutShowsNameAndVersion()
{
    About about;
    ShowAndActivate(&about);
    QCOMPARE(about.windowTitle(), QStringLiteral("Credits"));
    QCOMPARE(about.lbl[1]->text(), QStringLiteral("Quorvane"));
    QCOMPARE(about.appversion->text(), QStringLiteral("2.0"));
    QCOMPARE(about.ReturnCmd->text(), QStringLiteral("Ok"));
    QVERIFY(!about.programmerbox->text().isEmpty());
    QVERIFY(!about.commentbox->text().isEmpty());

    // The picture is drawn, not blank.
    const QImage picture = about.ImageProg->pixmap().toImage();
    QVERIFY(!picture.isNull());
    int painted = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            painted += qAlpha(picture.pixel(x, y)) > 0;
    QVERIFY(painted > picture.width() * picture.height() / 4);

    // The focus starts on Ok, then goes to the two links.
    QCOMPARE(about.focusWidget(), about.ReturnCmd);
    QTest::keyClick(&about, Qt::Key_Tab);
    QCOMPARE(about.focusWidget(), about.website);
    QTest::keyClick(&about, Qt::Key_Tab);
    QCOMPARE(about.focusWidget(), about.email);
    QTest::keyClick(&about, Qt::Key_Tab);
    QCOMPARE(about.focusWidget(), about.ReturnCmd);
    QTest::keyClick(about.ReturnCmd, Qt::Key_Space);
    QVERIFY(!about.isVisible());
}

void TestAbout::versionTexts_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");
    QTest::newRow("2.0.0") << 2 << 0 << 0 << "2.0";
    QTest::newRow("2.0.12") << 2 << 0 << 12 << "2.012";
    QTest::newRow("2.1.3") << 2 << 1 << 3 << "2.13";
    QTest::newRow("10.20.0") << 10 << 20 << 0 << "10.20";
}

void TestAbout::versionTexts()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    About about(nullptr, {QStringLiteral("Quorvane"), major, minor, revision});
    QCOMPARE(about.appversion->text(), text);
    about.reject();
}

void TestAbout::aboutLinksOpenTheConfiguredAddresses()
{
    About about;
    ShowAndActivate(&about);
    QCOMPARE(about.website->text(), QString(Maker::WebPage));
    QCOMPARE(about.email->text(), QString(Maker::MailAddress));

    QTest::mouseClick(about.website, Qt::LeftButton);
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl(Maker::WebPage)});
    QTest::mouseClick(about.email, Qt::LeftButton);
    QCOMPARE(desktop.opened.last(), QUrl(QStringLiteral("mailto:") + Maker::MailAddress));
    QCOMPARE(desktop.opened.last().toString(), QStringLiteral("mailto:quorvane@example.org"));

    // Only the left button opens a link.
    QTest::mouseClick(about.website, Qt::RightButton);
    QCOMPARE(desktop.opened.size(), 2);

    // What the boxes hold, or what is selected in them, makes no difference.
    about.website->setText(QStringLiteral("https://elsewhere.example.net/"));
    about.website->setSelection(0, 5);
    about.email->setText(QStringLiteral("other@example.net"));
    about.email->selectAll();
    QTest::mouseClick(about.website, Qt::LeftButton);
    QTest::mouseClick(about.email, Qt::LeftButton);
    QCOMPARE(desktop.opened.mid(2),
             (QList<QUrl>{QUrl(Maker::WebPage), QUrl("mailto:quorvane@example.org")}));
    QVERIFY(about.isVisible());
    about.reject();
}

void TestAbout::aboutLinksLookLikeLinks()
{
    About about;
    ShowAndActivate(&about);
    for (QLineEdit* link : {about.website, about.email}) {
        QVERIFY(link->isReadOnly());
        QVERIFY(link->font().underline());
        QCOMPARE(link->palette().color(QPalette::Text), QColor(Qt::blue));
        QCOMPARE(link->palette().color(QPalette::Base), about.palette().color(QPalette::Window));
        // Typing does not change it.
        const QString before = link->text();
        QTest::keyClicks(link, "x");
        QCOMPARE(link->text(), before);
    }
    about.reject();
}

void TestAbout::windowsReopenWhereTheyWereClosed()
{
    CheckReopensWhereClosed<YourIP>("Your IP ");
    CheckReopensWhereClosed<About>("About ");
    // Closed by its button, too.
    {
        About about;
        ShowAndActivate(&about);
        about.move(45, 38);
        QTest::mouseClick(about.findChild<QPushButton*>(), Qt::LeftButton);
    }
    About about;
    QCOMPARE(about.pos(), QPoint(45, 38));
}

void TestAbout::nothingClippedAtLargeFonts()
{
    {
        // The long texts wrap: at the usual font the window fits on a small screen.
        About about;
        ShowAndActivate(&about);
        QVERIFY(about.width() <= 640 && about.height() <= 480);
    }
    AtEveryFontSize([] {
        About about;
        ShowAndActivate(&about);
        CheckNothingClipped(&about);
        for (QLineEdit* link : {about.website, about.email})
            QVERIFY2(link->width() > link->fontMetrics().horizontalAdvance(link->text()),
                     qPrintable(link->text()));
        YourIP yourIp;
        ShowAndActivate(&yourIp);
        CheckNothingClipped(&yourIp);
        QVERIFY(yourIp.youripnumber->width() >
                yourIp.youripnumber->fontMetrics().horizontalAdvance("255.255.255.255"));
    });
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
