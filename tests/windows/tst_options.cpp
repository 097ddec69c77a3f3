// The Options and Identification windows, driven by keys and clicks, against a real store
// in a private folder.

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Global.h"
#include "app/Settings.h"
#include "windows/Identification.h"
#include "windows/MessageBox.h"
#include "windows/OptProg.h"
#include "windows/WindowPlacement.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <memory>

namespace {

QMap<QString, QString> section(const char* name)
{
    return ReadStoreSections().value(QLatin1String(name));
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void optionsOpenWithTheOptionsInMemory();
    void optionsResetThenCancelChangesNothing();
    void optionsLoadRestoresMemoryNotTheStore();
    void optionsRefusedPort();
    void optionsRefusedAddressKeepsPortAndChecks();
    void optionsAddressIsStoredNormalised();
    void optionsEmptyPortIsZero();
    void optionsKeyFilters();
    void optionsEveryWayOutWritesTheStore_data();
    void optionsEveryWayOutWritesTheStore();

    void identificationOpensWithTheIdentificationInMemory();
    void identificationNameLength();
    void identificationRefusedNames_data();
    void identificationRefusedNames();
    void identificationNameAppliedBeforeRefusedPort();
    void identificationResetLoadAndCancel();
    void identificationPortKeyFilter();
    void identificationFirstCloseCreatesTheSection();

    void windowsReopenWhereTheyWereClosed();
    void nothingClippedAtLargeFonts();

private:
    void expectBox(const QString& title, const QString& text);

    TestFolders folders;
    QList<Box> boxes;
};

void TestOptions::initTestCase()
{
    InstallScreenSizeSource();
}

void TestOptions::init()
{
    RemoveStoreFile();
    boxes.clear();
    SetMessageBoxAnswerer([this](const QString& title, const QString& text) {
        boxes.append({title, text});
    });
    Global::DefaultPort = 4321;
    Global::DefaultIp = QStringLiteral("10.9.8.7");
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = true;
    Global::MyUsername = QStringLiteral("Kim");
    Global::MyPortnb = 6001;
}

void TestOptions::cleanup()
{
    SetMessageBoxAnswerer({});
    QVERIFY2(boxes.isEmpty(), "a message box nobody expected");
}

// Takes the next box shown, which must be this one.
void TestOptions::expectBox(const QString& title, const QString& text)
{
    QVERIFY2(!boxes.isEmpty(), "no message box shown");
    const Box box = boxes.takeFirst();
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
}

void TestOptions::optionsOpenWithTheOptionsInMemory()
{
    OptProg options;
    ShowAndActivate(&options);
    QCOMPARE(options.windowTitle(), QStringLiteral("Options"));
    QCOMPARE(options.Frm[1]->title(), QStringLiteral("Network option"));
    QCOMPARE(options.Frm[2]->title(), QStringLiteral("Miscellaneous"));
    QCOMPARE(options.lbl[1]->text(), QStringLiteral("Default port :"));
    QCOMPARE(options.lbl[2]->text(), QStringLiteral("Default IP:"));
    QCOMPARE(options.Popupsend->text(), QStringLiteral("Pop-up when message is sent"));
    QCOMPARE(options.chkminimizedsend->text(), QStringLiteral("Minimized when message is sent"));
    QCOMPARE(options.ResetDefault->text(), QStringLiteral("Reset"));
    QCOMPARE(options.LoadOption->text(), QStringLiteral("Load"));
    QCOMPARE(options.SaveOption->text(), QStringLiteral("Apply"));
    QCOMPARE(options.ReturnCmd->text(), QStringLiteral("Cancel"));
    QCOMPARE(options.findChild<QLineEdit*>("Portnb"), options.Portnb);
    QCOMPARE(options.findChild<QLineEdit*>("ipnumber"), options.ipnumber);

    QCOMPARE(options.Portnb->text(), QStringLiteral("4321"));
    QCOMPARE(options.ipnumber->text(), QStringLiteral("10.9.8.7"));
    QVERIFY(!options.Popupsend->isChecked());
    QVERIFY(options.chkminimizedsend->isChecked());
    QCOMPARE(options.Portnb->maxLength(), 5);
    QCOMPARE(options.ipnumber->maxLength(), 15);

    CheckTabOrder(&options, {options.ReturnCmd, options.Portnb, options.ipnumber, options.Popupsend,
                             options.ResetDefault, options.LoadOption, options.SaveOption,
                             options.chkminimizedsend});
    // Enter on a focused button presses it; here Cancel closes the window.
    QTest::keyClick(options.ReturnCmd, Qt::Key_Return);
    QVERIFY(!options.isVisible());
    QCOMPARE(options.result(), int(QDialog::Rejected));
}

void TestOptions::optionsResetThenCancelChangesNothing()
{
    Global::MinimizedWhenSend = false;
    OptProg options;
    ShowAndActivate(&options);
    QTest::mouseClick(options.ResetDefault, Qt::LeftButton);
    QCOMPARE(options.ipnumber->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(options.Portnb->text(), QStringLiteral("505"));
    QVERIFY(options.Popupsend->isChecked());
    QVERIFY(options.chkminimizedsend->isChecked());
    QCOMPARE(Global::DefaultPort, 4321);
    QCOMPARE(Global::PopupWhenSend, false);

    QTest::mouseClick(options.ReturnCmd, Qt::LeftButton);
    QVERIFY(!options.isVisible());
    QCOMPARE(Global::DefaultPort, 4321);
    QCOMPARE(Global::DefaultIp, QStringLiteral("10.9.8.7"));
    QCOMPARE(Global::PopupWhenSend, false);
    QCOMPARE(Global::MinimizedWhenSend, false);
    const QMap<QString, QString> settings = section("Settings");
    QCOMPARE(settings.value("DefaultPort"), QStringLiteral("4321"));
    QCOMPARE(settings.value("DefaultIp"), QStringLiteral("10.9.8.7"));
    QCOMPARE(settings.value("PopupWhenSend"), QStringLiteral("False"));
    QCOMPARE(settings.value("MinimizedWhenSend"), QStringLiteral("False"));
}

void TestOptions::optionsLoadRestoresMemoryNotTheStore()
{
    WriteStoreFile("[Settings]\nDefaultPort=999\nDefaultIp=1.1.1.1\n"
                   "PopupWhenSend=True\nMinimizedWhenSend=False\n");
    OptProg options;
    ShowAndActivate(&options);
    Retype(options.Portnb, "77");
    Retype(options.ipnumber, "5.5.5.5");
    QTest::mouseClick(options.Popupsend, Qt::LeftButton);
    QTest::mouseClick(options.chkminimizedsend, Qt::LeftButton);
    QVERIFY(options.Popupsend->isChecked());
    QVERIFY(!options.chkminimizedsend->isChecked());

    QTest::mouseClick(options.LoadOption, Qt::LeftButton);
    QCOMPARE(options.Portnb->text(), QStringLiteral("4321"));
    QCOMPARE(options.ipnumber->text(), QStringLiteral("10.9.8.7"));
    QVERIFY(!options.Popupsend->isChecked());
    QVERIFY(options.chkminimizedsend->isChecked());
    // The store is left alone until the window closes.
    QCOMPARE(section("Settings").value("DefaultPort"), QStringLiteral("999"));
    options.reject();
}

void TestOptions::optionsRefusedPort()
{
    OptProg options;
    ShowAndActivate(&options);
    Retype(options.Portnb, "65536");
    Retype(options.ipnumber, "2.2.2.2");
    QTest::mouseClick(options.Popupsend, Qt::LeftButton);
    QTest::mouseClick(options.SaveOption, Qt::LeftButton);
    expectBox("Error", "Invalid port number");
    QVERIFY(options.isVisible());
    QCOMPARE(options.focusWidget(), options.Portnb);
    QCOMPARE(Global::DefaultPort, 4321);
    QCOMPARE(Global::DefaultIp, QStringLiteral("10.9.8.7"));
    QCOMPARE(Global::PopupWhenSend, false);
    QVERIFY(section("Settings").isEmpty());
    options.reject();
}

void TestOptions::optionsRefusedAddressKeepsPortAndChecks()
{
    OptProg options;
    ShowAndActivate(&options);
    Retype(options.Portnb, "8080");
    Retype(options.ipnumber, "1.2.3");
    QTest::mouseClick(options.Popupsend, Qt::LeftButton);
    QTest::mouseClick(options.chkminimizedsend, Qt::LeftButton);
    QTest::mouseClick(options.SaveOption, Qt::LeftButton);
    expectBox("Error", "Invalid ip address");
    QVERIFY(options.isVisible());
    QCOMPARE(options.focusWidget(), options.ipnumber);
    QCOMPARE(Global::DefaultPort, 8080);
    QCOMPARE(Global::PopupWhenSend, true);
    QCOMPARE(Global::MinimizedWhenSend, false);
    QCOMPARE(Global::DefaultIp, QStringLiteral("10.9.8.7"));
    // Nothing reaches the store before the window closes...
    QVERIFY(section("Settings").isEmpty());

    // ...and Cancel does not undo what the failed Apply took.
    QTest::mouseClick(options.ReturnCmd, Qt::LeftButton);
    QVERIFY(!options.isVisible());
    QCOMPARE(Global::DefaultPort, 8080);
    const QMap<QString, QString> settings = section("Settings");
    QCOMPARE(settings.value("DefaultPort"), QStringLiteral("8080"));
    QCOMPARE(settings.value("PopupWhenSend"), QStringLiteral("True"));
    QCOMPARE(settings.value("MinimizedWhenSend"), QStringLiteral("False"));
    QCOMPARE(settings.value("DefaultIp"), QStringLiteral("10.9.8.7"));
}

void TestOptions::optionsAddressIsStoredNormalised()
{
    OptProg options;
    ShowAndActivate(&options);
    Retype(options.ipnumber, "010.1.1.001");
    QCOMPARE(options.ipnumber->text(), QStringLiteral("010.1.1.001"));
    QTest::mouseClick(options.SaveOption, Qt::LeftButton);
    QVERIFY(!options.isVisible());
    QCOMPARE(options.result(), int(QDialog::Accepted));
    QCOMPARE(Global::DefaultIp, QStringLiteral("10.1.1.1"));
    QCOMPARE(section("Settings").value("DefaultIp"), QStringLiteral("10.1.1.1"));
}

void TestOptions::optionsEmptyPortIsZero()
{
    OptProg options;
    ShowAndActivate(&options);
    Retype(options.Portnb, QString());
    QCOMPARE(options.Portnb->text(), QString());
    QTest::mouseClick(options.SaveOption, Qt::LeftButton);
    QVERIFY(!options.isVisible());
    QCOMPARE(Global::DefaultPort, 0);
    QCOMPARE(section("Settings").value("DefaultPort"), QStringLiteral("0"));
}

void TestOptions::optionsKeyFilters()
{
    OptProg options;
    ShowAndActivate(&options);

    Retype(options.Portnb, "8a0 -x.8+");
    QCOMPARE(options.Portnb->text(), QStringLiteral("808"));
    QTest::keyClick(options.Portnb, Qt::Key_Backspace);
    QCOMPARE(options.Portnb->text(), QStringLiteral("80"));
    QTest::keyClicks(options.Portnb, "123456");
    QCOMPARE(options.Portnb->text(), QStringLiteral("80123"));

    Retype(options.ipnumber, "192.168.z0.1 ,/");
    QCOMPARE(options.ipnumber->text(), QStringLiteral("192.168.0.1"));
    Retype(options.ipnumber, "123.123.123.1234");
    QCOMPARE(options.ipnumber->text(), QStringLiteral("123.123.123.123"));

    // Control characters are typed characters too: pasting by Ctrl+V does not get through,
    // though the clipboard holds text that pastes by other means.
    QApplication::clipboard()->setText(QStringLiteral("55"));
    Retype(options.Portnb, QString());
    QTest::keyClick(options.Portnb, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(options.Portnb->text(), QString());
    // Some keyboards report Ctrl+V with no text at all.
    QKeyEvent textless(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QString());
    QApplication::sendEvent(options.Portnb, &textless);
    QCOMPARE(options.Portnb->text(), QString());
    options.Portnb->paste();
    QCOMPARE(options.Portnb->text(), QStringLiteral("55"));

    // Enter in a box is discarded: no button is pressed.
    QTest::keyClick(options.Portnb, Qt::Key_Return);
    QTest::keyClick(options.ipnumber, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(options.isVisible());
    QCOMPARE(Global::DefaultPort, 4321);
    options.reject();
}

void TestOptions::optionsEveryWayOutWritesTheStore_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Apply") << "Apply";
    QTest::newRow("Cancel") << "Cancel";
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "Escape";
}

void TestOptions::optionsEveryWayOutWritesTheStore()
{
    QFETCH(QString, way);
    OptProg options;
    ShowAndActivate(&options);
    options.move(options.pos() + QPoint(13, 7));
    const QPoint where = options.pos();
    if (way == "Apply")
        QTest::mouseClick(options.SaveOption, Qt::LeftButton);
    else if (way == "Cancel")
        QTest::mouseClick(options.ReturnCmd, Qt::LeftButton);
    else if (way == "close")
        QVERIFY(options.close());
    else
        QTest::keyClick(&options, Qt::Key_Escape);
    QVERIFY(!options.isVisible());

    const QMap<QString, QString> settings = section("Settings");
    QCOMPARE(settings.value("DefaultPort"), QStringLiteral("4321"));
    QCOMPARE(settings.value("MinimizedWhenSend"), QStringLiteral("True"));
    QCOMPARE(settings.value("PopupWhenSend"), QStringLiteral("False"));
    QCOMPARE(settings.value("DefaultIp"), QStringLiteral("10.9.8.7"));
    QCOMPARE(settings.value("Option StartUPX").toInt(), PixelsToTwips(&options, where.x()));
    QCOMPARE(settings.value("Option StartUPY").toInt(), PixelsToTwips(&options, where.y()));
    QVERIFY(section("Identification").isEmpty());
}

void TestOptions::identificationOpensWithTheIdentificationInMemory()
{
    Identification identification;
    ShowAndActivate(&identification);
    QCOMPARE(identification.windowTitle(), QStringLiteral("Identification"));
    QCOMPARE(identification.frm[1]->title(), QStringLiteral("User identification"));
    QCOMPARE(identification.lbl[1]->text(), QStringLiteral("User name:"));
    QCOMPARE(identification.lbl[2]->text(), QStringLiteral("User reply port:"));
    QCOMPARE(identification.LoadOption->text(), QStringLiteral("Load"));
    QCOMPARE(identification.SaveOption->text(), QStringLiteral("Apply"));
    QCOMPARE(identification.ResetDefault->text(), QStringLiteral("Reset"));
    QCOMPARE(identification.ReturnCmd->text(), QStringLiteral("Cancel"));
    QCOMPARE(identification.txtmyident->text(), QStringLiteral("Kim"));
    QCOMPARE(identification.txtmyportnb->text(), QStringLiteral("6001"));
    QCOMPARE(identification.txtmyident->maxLength(), 128);
    QCOMPARE(identification.txtmyportnb->maxLength(), 5);
    CheckTabOrder(&identification, {identification.txtmyident, identification.txtmyportnb,
                                    identification.LoadOption, identification.SaveOption,
                                    identification.ResetDefault, identification.ReturnCmd});
    identification.reject();
}

void TestOptions::identificationNameLength()
{
    Identification identification;
    ShowAndActivate(&identification);
    const QString longest(128, QLatin1Char('n'));
    Retype(identification.txtmyident, longest + QLatin1Char('z'));
    // The box does not take a 129th character.
    QCOMPARE(identification.txtmyident->text(), longest);
    QTest::mouseClick(identification.SaveOption, Qt::LeftButton);
    QVERIFY(!identification.isVisible());
    QCOMPARE(Global::MyUsername, longest);
    QCOMPARE(section("Identification").value("MyUsername"), longest);
}

void TestOptions::identificationRefusedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("spaces only") << "     ";
    QTest::newRow("empty") << "";
}

void TestOptions::identificationRefusedNames()
{
    QFETCH(QString, name);
    Identification identification;
    ShowAndActivate(&identification);
    Retype(identification.txtmyident, name);
    Retype(identification.txtmyportnb, "700");
    QTest::mouseClick(identification.SaveOption, Qt::LeftButton);
    expectBox("Error", "Invalid User Name (lenght must be between 1 and 128)");
    QVERIFY(identification.isVisible());
    QCOMPARE(identification.focusWidget(), identification.txtmyident);
    QCOMPARE(Global::MyUsername, QStringLiteral("Kim"));
    QCOMPARE(Global::MyPortnb, 6001);

    // Spaces around a name are dropped, anything else in it stays.
    Retype(identification.txtmyident, "  Jo. Ann-2  ");
    QTest::mouseClick(identification.SaveOption, Qt::LeftButton);
    QVERIFY(!identification.isVisible());
    QCOMPARE(Global::MyUsername, QStringLiteral("Jo. Ann-2"));
    QCOMPARE(Global::MyPortnb, 700);
    const QMap<QString, QString> stored = section("Identification");
    QCOMPARE(stored.value("MyUsername"), QStringLiteral("Jo. Ann-2"));
    QCOMPARE(stored.value("MyPortnb"), QStringLiteral("700"));
}

void TestOptions::identificationNameAppliedBeforeRefusedPort()
{
    Identification identification;
    ShowAndActivate(&identification);
    Retype(identification.txtmyident, " Alice ");
    Retype(identification.txtmyportnb, "99999");
    QTest::mouseClick(identification.SaveOption, Qt::LeftButton);
    expectBox("Error", "Invalid port number");
    QVERIFY(identification.isVisible());
    QCOMPARE(identification.focusWidget(), identification.txtmyportnb);
    QCOMPARE(Global::MyUsername, QStringLiteral("Alice"));
    QCOMPARE(Global::MyPortnb, 6001);
    QVERIFY(section("Identification").isEmpty());

    QTest::mouseClick(identification.ReturnCmd, Qt::LeftButton);
    QVERIFY(!identification.isVisible());
    const QMap<QString, QString> stored = section("Identification");
    QCOMPARE(stored.value("MyUsername"), QStringLiteral("Alice"));
    QCOMPARE(stored.value("MyPortnb"), QStringLiteral("6001"));
    QVERIFY(section("Settings").value("DefaultPort").isEmpty());
}

void TestOptions::identificationResetLoadAndCancel()
{
    WriteStoreFile("[Identification]\nMyUsername=Stored\nMyPortnb=42\n");
    Identification identification;
    ShowAndActivate(&identification);
    QTest::mouseClick(identification.ResetDefault, Qt::LeftButton);
    QCOMPARE(identification.txtmyident->text(), QStringLiteral("Me"));
    QCOMPARE(identification.txtmyportnb->text(), QStringLiteral("505"));
    QCOMPARE(Global::MyUsername, QStringLiteral("Kim"));
    QCOMPARE(Global::MyPortnb, 6001);

    QTest::mouseClick(identification.LoadOption, Qt::LeftButton);
    QCOMPARE(identification.txtmyident->text(), QStringLiteral("Kim"));
    QCOMPARE(identification.txtmyportnb->text(), QStringLiteral("6001"));

    QTest::mouseClick(identification.ResetDefault, Qt::LeftButton);
    QVERIFY(identification.close());
    QVERIFY(!identification.isVisible());
    QCOMPARE(Global::MyUsername, QStringLiteral("Kim"));
    const QMap<QString, QString> stored = section("Identification");
    QCOMPARE(stored.value("MyUsername"), QStringLiteral("Kim"));
    QCOMPARE(stored.value("MyPortnb"), QStringLiteral("6001"));
}

void TestOptions::identificationPortKeyFilter()
{
    Identification identification;
    ShowAndActivate(&identification);
    Retype(identification.txtmyportnb, "p0r.t 12a34567");
    QCOMPARE(identification.txtmyportnb->text(), QStringLiteral("01234"));
    // The name box takes any character.
    Retype(identification.txtmyident, "a.b-c d#1");
    QCOMPARE(identification.txtmyident->text(), QStringLiteral("a.b-c d#1"));
    identification.reject();
}

void TestOptions::identificationFirstCloseCreatesTheSection()
{
    Global::MyUsername = QStringLiteral("Me");
    Global::MyPortnb = 505;
    Identification identification;
    ShowAndActivate(&identification);
    QVERIFY(!ReadStoreSections().contains("Identification"));
    QTest::mouseClick(identification.ReturnCmd, Qt::LeftButton);
    const QMap<QString, QString> stored = section("Identification");
    QCOMPARE(stored.value("MyUsername"), QStringLiteral("Me"));
    QCOMPARE(stored.value("MyPortnb"), QStringLiteral("505"));
}

void TestOptions::windowsReopenWhereTheyWereClosed()
{
    CheckReopensWhereClosed<OptProg>("Option ");
    CheckReopensWhereClosed<Identification>("Identification ");
}

void TestOptions::nothingClippedAtLargeFonts()
{
    AtEveryFontSize([] {
        OptProg options;
        ShowAndActivate(&options);
        CheckNothingClipped(&options);
        // The boxes show their longest contents whole.
        const QFontMetrics metrics = options.ipnumber->fontMetrics();
        QVERIFY(options.ipnumber->width() > metrics.horizontalAdvance("255.255.255.255"));
        QVERIFY(options.Portnb->width() > metrics.horizontalAdvance("65535"));
        Identification identification;
        ShowAndActivate(&identification);
        CheckNothingClipped(&identification);
        QVERIFY(identification.txtmyportnb->width() > metrics.horizontalAdvance("65535"));
    });
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
