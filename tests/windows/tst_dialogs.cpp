// The dialogs opened from the main window's menus: Options and Identification against a
// real store in a private folder, Your IP, About with the desktop caught by URL handlers,
// and the network picker with the real resolver and no discovery daemon.

#include "TestSupport.h"
#include "app/Global.h"
#include "app/Validation.h"
#include "platform/GetNetworkUser.h"
#include "platform/ShellExtension.h"
#include "windows/About.h"
#include "windows/Identification.h"
#include "windows/Modify_or_add.h"
#include "windows/NetworkPicker.h"
#include "windows/OptProg.h"
#include "windows/YourIP.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <memory>

namespace {

const QStringList CaughtSchemes{"http", "https", "mailto", "file"};
const QString NameMessage = "Invalid User Name (lenght must be between 1 and 128)";

// Stands in for the desktop: every address handed to it is kept.
class DesktopCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

bool isOptions(const QString& window)
{
    return window == "Options";
}

std::unique_ptr<QDialog> open(const QString& window)
{
    std::unique_ptr<QDialog> dialog;
    if (isOptions(window))
        dialog = std::make_unique<OptProg>();
    else
        dialog = std::make_unique<Identification>();
    ShowAndActivate(dialog.get());
    return dialog;
}

template <typename T = QLineEdit> T* child(QDialog* dialog, const char* name)
{
    return dialog->findChild<T*>(name);
}

// The two boxes of a window, in the order the tables give their texts.
QLineEdit* box(QDialog* dialog, int which)
{
    const bool options = qobject_cast<OptProg*>(dialog);
    const char* names[] = {options ? "Portnb" : "txtmyident", options ? "ipnumber" : "txtmyportnb"};
    return child(dialog, names[which]);
}

void click(QDialog* dialog, const char* button)
{
    QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
}

const char* yes(bool value)
{
    return value ? "True" : "False";
}

// The window's settings in memory, and as the store holds them, in one comparable text.
QString memory(const QString& window)
{
    if (isOptions(window))
        return QStringList{QString::number(Global::DefaultPort), yes(Global::PopupWhenSend),
                           yes(Global::MinimizedWhenSend), Global::DefaultIp}
            .join(' ');
    return Global::MyUsername + ' ' + QString::number(Global::MyPortnb);
}

QString stored(const QString& window)
{
    const IniSections sections = ReadStoreSections();
    const auto s = sections.value(isOptions(window) ? "Settings" : "Identification");
    if (isOptions(window))
        return QStringList{s.value("DefaultPort"), s.value("PopupWhenSend"),
                           s.value("MinimizedWhenSend"), s.value("DefaultIp")}
            .join(' ');
    return s.value("MyUsername") + ' ' + s.value("MyPortnb");
}

// What the controls show, in one text.
QString shown(QDialog* dialog)
{
    QString text = box(dialog, 0)->text() + ' ' + box(dialog, 1)->text();
    if (qobject_cast<OptProg*>(dialog))
        text += QString(" ") + yes(child<QCheckBox>(dialog, "Popupsend")->isChecked()) + ' ' +
                yes(child<QCheckBox>(dialog, "chkminimizedsend")->isChecked());
    return text;
}

// What a user does in the picker: type a name and press OK, or cancel.
void answerPicker(const QString& typed)
{
    WhenModal<NetworkPicker>([typed](NetworkPicker* picker) {
        if (typed.isNull())
            return picker->cancel->click();
        QTest::keyClicks(picker->hostName, typed);
        picker->ok->click();
    });
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void resetAndLoadChangeOnlyTheBoxes_data();
    void resetAndLoadChangeOnlyTheBoxes();
    void applyTakesNormalisedValuesUpToARefusal_data();
    void applyTakesNormalisedValuesUpToARefusal();
    void keyFiltersDiscardOtherCharacters_data();
    void keyFiltersDiscardOtherCharacters();
    void controlKeysDoNotGetPastTheFilters();
    void everyWayOutWritesTheStore_data();
    void everyWayOutWritesTheStore();

    void shellOpenHandsTheAddressToTheDesktop_data();
    void shellOpenHandsTheAddressToTheDesktop();
    void yourIpCanBeCopiedNotChanged();
    void versionTextAppendsANonZeroRevision();
    void aboutLinksOpenTheConfiguredAddresses();

    void pickedComputerFillsTheEditorsBoxes();
    void failedPickChangesNothing();

private:
    void expectBox(const QString& text);

    TestFolders folders;
    QTemporaryDir noBus;
    DesktopCatcher desktop;
    QWidget owner; // of the network picker
    QStringList boxes;
};

void TestDialogs::initTestCase()
{
    // No discovery daemon can answer here, whatever the machine runs.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + noBus.filePath("none")).toLocal8Bit());
    InstallScreenSizeSource();
    InstallNetworkPicker();
    Global::MainWindowHandle = &owner;
    for (const QString& scheme : CaughtSchemes)
        QDesktopServices::setUrlHandler(scheme, &desktop, "open");
}

void TestDialogs::cleanupTestCase()
{
    for (const QString& scheme : CaughtSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestDialogs::init()
{
    RemoveStoreFile();
    boxes.clear();
    desktop.opened.clear();
    SetMessageBoxAnswerer(
        [this](const QString& title, const QString& text) { boxes << title + ": " + text; });
    Global::DefaultPort = 4321;
    Global::DefaultIp = QStringLiteral("10.9.8.7");
    Global::PopupWhenSend = false;
    Global::MinimizedWhenSend = true;
    Global::MyUsername = QStringLiteral("Kim");
    Global::MyPortnb = 6001;
}

void TestDialogs::cleanup()
{
    SetMessageBoxAnswerer({});
    SetHostResolver({});
    QVERIFY2(boxes.isEmpty(), qPrintable("unexpected: " + boxes.join(", ")));
}

void TestDialogs::expectBox(const QString& text)
{
    QCOMPARE(boxes, QStringList{"Error: " + text});
    boxes.clear();
}

void TestDialogs::resetAndLoadChangeOnlyTheBoxes_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("defaults");
    QTest::newRow("Options") << "Options"
                             << "4321 10.9.8.7 False True"
                             << "505 127.0.0.1 True True";
    QTest::newRow("Identification") << "Identification"
                                    << "Kim 6001"
                                    << "Me 505";
}

void TestDialogs::resetAndLoadChangeOnlyTheBoxes()
{
    QFETCH(QString, window);
    QFETCH(QString, current);
    QFETCH(QString, defaults);
    // Load shows the values in memory, not these.
    WriteStoreFile("[Settings]\nDefaultPort=999\n[Identification]\nMyUsername=Stored\n");
    const QString before = memory(window);
    auto dialog = open(window);
    QCOMPARE(shown(dialog.get()), current);
    QCOMPARE(box(dialog.get(), 1)->maxLength(), isOptions(window) ? 15 : 5);
    click(dialog.get(), "ResetDefault");
    QCOMPARE(shown(dialog.get()), defaults);
    Retype(box(dialog.get(), 0), "77");
    click(dialog.get(), "LoadOption");
    QCOMPARE(shown(dialog.get()), current);
    QCOMPARE(stored(window).left(3), isOptions(window) ? "999" : "Sto");

    click(dialog.get(), "ResetDefault");
    click(dialog.get(), "ReturnCmd");
    QCOMPARE(memory(window), before);
    QCOMPARE(stored(window), before);
}

void TestDialogs::applyTakesNormalisedValuesUpToARefusal_data()
{
    // window, the two boxes' texts, the message (none: taken), the box it focuses, what is
    // applied; in Options both check boxes are clicked too
    QTest::addColumn<QStringList>("row");
    const auto add = [](const char* tag, const QStringList& row) { QTest::newRow(tag) << row; };
    add("port 65536",
        {"Options", "65536", "2.2.2.2", "Invalid port number", "0", "4321 False True 10.9.8.7"});
    add("address 1.2.3",
        {"Options", "8080", "1.2.3", "Invalid ip address", "1", "8080 True False 10.9.8.7"});
    add("name of spaces", {"Identification", "     ", "700", NameMessage, "0", "Kim 6001"});
    add("empty name", {"Identification", "", "700", NameMessage, "0", "Kim 6001"});
    add("port 99999",
        {"Identification", " Alice ", "99999", "Invalid port number", "1", "Alice 6001"});
    add("leading zeros", {"Options", "77", "010.1.1.001", "", "", "77 True False 10.1.1.1"});
    add("empty port", {"Options", "", "10.9.8.7", "", "", "0 True False 10.9.8.7"});
    add("spaces around", {"Identification", "  Jo. Ann-2  ", "700", "", "", "Jo. Ann-2 700"});
    const QString longest(128, 'n');
    add("129th character", {"Identification", longest + 'z', "6001", "", "", longest + " 6001"});
}

void TestDialogs::applyTakesNormalisedValuesUpToARefusal()
{
    QFETCH(QStringList, row);
    auto dialog = open(row[0]);
    Retype(box(dialog.get(), 0), row[1]);
    Retype(box(dialog.get(), 1), row[2]);
    if (isOptions(row[0])) {
        QTest::mouseClick(child<QCheckBox>(dialog.get(), "Popupsend"), Qt::LeftButton);
        QTest::mouseClick(child<QCheckBox>(dialog.get(), "chkminimizedsend"), Qt::LeftButton);
    }
    click(dialog.get(), "SaveOption");
    if (row[3].isEmpty()) {
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    } else {
        expectBox(row[3]);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->focusWidget(), box(dialog.get(), row[4].toInt()));
        QCOMPARE(memory(row[0]), row[5]);
        QVERIFY(ReadStoreSections().isEmpty());
        // Cancel does not undo what the failed Apply took, and writes it.
        click(dialog.get(), "ReturnCmd");
    }
    QVERIFY(!dialog->isVisible());
    QCOMPARE(memory(row[0]), row[5]);
    QCOMPARE(stored(row[0]), row[5]);
}

void TestDialogs::keyFiltersDiscardOtherCharacters_data()
{
    // window, which box, what is typed, what the box keeps
    QTest::addColumn<QStringList>("row");
    QTest::newRow("Options port") << QStringList{"Options", "0", "8a0 -x.8+", "808"};
    QTest::newRow("Options port, backspace") << QStringList{"Options", "0", "80\b1", "81"};
    QTest::newRow("Options port, 5 digits") << QStringList{"Options", "0", "80123456", "80123"};
    QTest::newRow("Options address")
        << QStringList{"Options", "1", "192.168.z0.1 ,/", "192.168.0.1"};
    QTest::newRow("Options address, 15")
        << QStringList{"Options", "1", "123.123.123.1234", "123.123.123.123"};
    QTest::newRow("Identification port")
        << QStringList{"Identification", "1", "p0r.t 12a34567", "01234"};
    QTest::newRow("Identification name")
        << QStringList{"Identification", "0", "a.b-c d#1", "a.b-c d#1"};
}

void TestDialogs::keyFiltersDiscardOtherCharacters()
{
    QFETCH(QStringList, row);
    auto dialog = open(row[0]);
    Retype(box(dialog.get(), row[1].toInt()), row[2]);
    QCOMPARE(box(dialog.get(), row[1].toInt())->text(), row[3]);
}

void TestDialogs::controlKeysDoNotGetPastTheFilters()
{
    auto dialog = open("Options");
    QLineEdit* port = box(dialog.get(), 0);
    QApplication::clipboard()->setText(QStringLiteral("55"));
    Retype(port, QString());
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
    // Some keyboards report Ctrl+V with no text at all.
    QKeyEvent textless(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QString());
    QApplication::sendEvent(port, &textless);
    QCOMPARE(port->text(), QString());
    port->paste();
    QCOMPARE(port->text(), QStringLiteral("55"));
    // Enter in a box presses no button.
    QTest::keyClick(port, Qt::Key_Return);
    QTest::keyClick(box(dialog.get(), 1), Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(dialog->isVisible());
    QCOMPARE(Global::DefaultPort, 4321);
}

void TestDialogs::everyWayOutWritesTheStore_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("way");
    for (const char* window : {"Options", "Identification"})
        for (const char* way : {"Apply", "Cancel", "Enter on Cancel", "close box", "Escape"})
            QTest::addRow("%s %s", window, way) << window << way;
}

void TestDialogs::everyWayOutWritesTheStore()
{
    QFETCH(QString, window);
    QFETCH(QString, way);
    const QString values = memory(window);
    auto dialog = open(window);
    dialog->move(dialog->pos() + QPoint(13, 7));
    const QPoint where = dialog->pos();
    if (way == "Apply")
        click(dialog.get(), "SaveOption");
    else if (way == "Cancel")
        click(dialog.get(), "ReturnCmd");
    else if (way == "Enter on Cancel") {
        child<QPushButton>(dialog.get(), "ReturnCmd")->setFocus();
        QTest::keyClick(child<QPushButton>(dialog.get(), "ReturnCmd"), Qt::Key_Return);
    } else if (way == "close box")
        QVERIFY(dialog->close());
    else
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(stored(window), values);
    const QString prefix = isOptions(window) ? "Option " : "Identification ";
    const auto settings = ReadStoreSections().value("Settings");
    QCOMPARE(settings.value(prefix + "StartUPX").toInt(), PixelsToTwips(dialog.get(), where.x()));
    QCOMPARE(settings.value(prefix + "StartUPY").toInt(), PixelsToTwips(dialog.get(), where.y()));
    // Each window writes its own section only.
    QVERIFY(!ReadStoreSections().contains(isOptions(window) ? "Identification" : "Users"));
    QCOMPARE(ReadStoreSections().value("Settings").contains("DefaultPort"), isOptions(window));
}

void TestDialogs::shellOpenHandsTheAddressToTheDesktop_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QList<QUrl>>("expected");
    QTest::newRow("web page") << "https://www.example.org/a?b=c"
                              << QList<QUrl>{QUrl("https://www.example.org/a?b=c")};
    QTest::newRow("mail") << "mailto:someone@example.org"
                          << QList<QUrl>{QUrl("mailto:someone@example.org")};
    const QDir programFolder(QCoreApplication::applicationDirPath());
    QTest::newRow("file in the program's folder")
        << "read me.txt" << QList<QUrl>{QUrl::fromLocalFile(programFolder.filePath("read me.txt"))};
    QTest::newRow("absolute file")
        << "/tmp/x.txt" << QList<QUrl>{QUrl::fromLocalFile("/tmp/x.txt")};
    QTest::newRow("nothing") << "" << QList<QUrl>{};
}

void TestDialogs::shellOpenHandsTheAddressToTheDesktop()
{
    QFETCH(QString, document);
    QFETCH(QList<QUrl>, expected);
    QCOMPARE(ShellOpen(document, nullptr), !expected.isEmpty());
    QCOMPARE(desktop.opened, expected);
}

void TestDialogs::yourIpCanBeCopiedNotChanged()
{
    YourIP yourIp;
    ShowAndActivate(&yourIp);
    const QString shown = yourIp.youripnumber->text();
    QString normalised;
    QVERIFY(IsValidIp(shown, normalised));
    QCOMPARE(normalised, shown);
    QCOMPARE(yourIp.focusWidget(), yourIp.youripnumber);
    QCOMPARE(yourIp.youripnumber->selectedText(), shown);
    QTest::keyClicks(yourIp.youripnumber, "99\b");
    QCOMPARE(yourIp.youripnumber->text(), shown);
    // Enter closes it from the address box.
    QTest::keyClick(yourIp.youripnumber, Qt::Key_Return);
    QVERIFY(!yourIp.isVisible());
}

void TestDialogs::versionTextAppendsANonZeroRevision()
{
    QCOMPARE(About().appversion->text(), QStringLiteral("2.0"));
    const std::pair<VersionInfo, const char*> versions[] = {
        {{"Q", 2, 0, 12}, "2.012"}, {{"Q", 2, 1, 3}, "2.13"}, {{"Q", 10, 20, 0}, "10.20"}};
    for (const auto& [version, text] : versions)
        QCOMPARE(About(nullptr, version).appversion->text(), QString(text));
}

void TestDialogs::aboutLinksOpenTheConfiguredAddresses()
{
    About about;
    ShowAndActivate(&about);
    const QList<QUrl> both{QUrl("https://www.example.org/quorvane/"),
                           QUrl("mailto:quorvane@example.org")};
    QTest::mouseClick(about.website, Qt::LeftButton);
    QTest::mouseClick(about.email, Qt::LeftButton);
    // Only the left button opens a link.
    QTest::mouseClick(about.website, Qt::RightButton);
    QCOMPARE(desktop.opened, both);
    // What the boxes hold, or what is selected in them, makes no difference.
    about.website->setText(QStringLiteral("https://elsewhere.example.net/"));
    about.website->setSelection(0, 5);
    about.email->setText(QStringLiteral("other@example.net"));
    about.email->selectAll();
    QTest::mouseClick(about.website, Qt::LeftButton);
    QTest::mouseClick(about.email, Qt::LeftButton);
    QCOMPARE(desktop.opened.mid(2), both);
    QVERIFY(about.isVisible());
}

void TestDialogs::pickedComputerFillsTheEditorsBoxes()
{
    Global::DefaultPort = 777;
    Global::EditedUser = {"NewUser1", "127.0.0.1", 505, 0};
    const NoRows rows;
    Modify_or_add editor(rows);
    editor.show();
    // Typing works where no discovery daemon answers; OK waits for a name.
    WhenModal<NetworkPicker>([this](NetworkPicker* picker) {
        QCOMPARE(picker->parentWidget(), &owner);
        QTRY_VERIFY(picker->status->text().startsWith("Automatic discovery is unavailable"));
        QVERIFY(!picker->ok->isEnabled());
        QTest::keyClicks(picker->hostName, " localhost ");
        picker->ok->click();
    });
    editor.cmdAddNetworkUser->click();
    QCOMPARE(editor.username->text(), QStringLiteral("localhost"));
    QCOMPARE(editor.userip->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(editor.userport->text(), QStringLiteral("777"));

    // The trimmed name is looked up and cut to the name box's limit; of several addresses the
    // first IPv4 one is taken.
    QStringList asked;
    SetHostResolver([&asked](const QString& name) {
        asked << name;
        return QList<QHostAddress>{QHostAddress("::1"), QHostAddress("10.1.2.3"),
                                   QHostAddress("10.0.0.8")};
    });
    answerPicker(" " + QString(200, QLatin1Char('h')) + " ");
    editor.cmdAddNetworkUser->click();
    QCOMPARE(asked, QStringList{QString(200, QLatin1Char('h'))});
    QCOMPARE(editor.username->text(), QString(128, QLatin1Char('h')));
    QCOMPARE(editor.userip->text(), QStringLiteral("10.1.2.3"));
}

void TestDialogs::failedPickChangesNothing()
{
    Global::EditedUser = {"Bob", "10.0.0.2", 600, 0};
    const NoRows rows;
    Modify_or_add editor(rows);
    editor.show();
    answerPicker(QStringLiteral("quorvane-test.invalid"));
    editor.cmdAddNetworkUser->click();
    int lookups = 0;
    SetHostResolver([&lookups](const QString&) { return ++lookups, QList<QHostAddress>{}; });
    answerPicker(QString());
    editor.cmdAddNetworkUser->click();
    WhenModal<NetworkPicker>([](NetworkPicker* picker) { picker->close(); });
    editor.cmdAddNetworkUser->click();
    // A cancelled pick looks nothing up.
    QCOMPARE(lookups, 0);
    QCOMPARE(boxes, QStringList(3, "Error: Unable to Browse the network"));
    boxes.clear();
    QCOMPARE(editor.username->text() + editor.userip->text() + editor.userport->text(),
             QStringLiteral("Bob10.0.0.2600"));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
