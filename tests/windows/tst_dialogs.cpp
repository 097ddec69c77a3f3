// The dialogs opened from the main window's menus: Options and Identification against a
// real store in a private folder, Your IP, About with the desktop caught by URL handlers,
// and the network picker with the real resolver and no discovery daemon.

#include "TestSupport.h"
#include "app/BuildInfo.h"
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

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

    TestFolders folders;
    QTemporaryDir noBus;
    DesktopCatcher desktop;
    QWidget owner; // of the network picker
    BoxRecorder recorder;

    static bool isOptions(const QString& window) { return window == "Options"; }
    static const char* yes(bool value) { return value ? "True" : "False"; }
    static std::unique_ptr<QDialog> open(const QString& window)
    {
        std::unique_ptr<QDialog> dialog(isOptions(window) ? static_cast<QDialog*>(new OptProg)
                                                          : new Identification);
        ShowAndActivate(dialog.get());
        return dialog;
    }
    // The two boxes of a window, in the order the tables give their texts.
    static QLineEdit* box(QDialog* dialog, int which)
    {
        const char* names[2][2] = {{"txtmyident", "txtmyportnb"}, {"Portnb", "ipnumber"}};
        return dialog->findChild<QLineEdit*>(names[bool(qobject_cast<OptProg*>(dialog))][which]);
    }
    static void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    static void click(QDialog* dialog, const char* button)
    {
        click(dialog->findChild<QPushButton*>(button));
    }
    // The window's settings in memory, or as the store holds them, in one comparable text.
    static QString settings(const QString& window, bool stored = false)
    {
        const auto s = ReadStoreSections().value(isOptions(window) ? "Settings" : "Identification");
        const auto pick = [&](const char* key, const QString& memory) {
            return stored ? s.value(key) : memory;
        };
        if (!isOptions(window))
            return pick("MyUsername", Global::MyUsername) + ' ' +
                   pick("MyPortnb", QString::number(Global::MyPortnb));
        return QStringList{pick("DefaultPort", QString::number(Global::DefaultPort)),
                           pick("PopupWhenSend", yes(Global::PopupWhenSend)),
                           pick("MinimizedWhenSend", yes(Global::MinimizedWhenSend)),
                           pick("DefaultIp", Global::DefaultIp)}
            .join(' ');
    }
    // What the controls show, in one text.
    static QString shown(QDialog* dialog)
    {
        QString text = box(dialog, 0)->text() + ' ' + box(dialog, 1)->text();
        for (const char* name : {"Popupsend", "chkminimizedsend"})
            if (const auto* check = dialog->findChild<QCheckBox*>(name))
                text += QString(' ') + yes(check->isChecked());
        return text;
    }
    // What a user does in the picker: type a name and press OK.
    static void answerPicker(const QString& typed)
    {
        WhenModal<NetworkPicker>([typed](NetworkPicker* picker) {
            QTest::keyClicks(picker->hostName, typed);
            picker->ok->click();
        });
    }
    static QString fields(const Modify_or_add& editor)
    {
        return editor.username->text() + ' ' + editor.userip->text() + ' ' +
               editor.userport->text();
    }

private slots:
    void initTestCase()
    {
        // No discovery daemon can answer here, whatever the machine runs.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + noBus.filePath("none")).toLocal8Bit());
        InstallScreenSizeSource();
        InstallNetworkPicker([this] { return &owner; });
        for (const QString& scheme : CaughtSchemes)
            QDesktopServices::setUrlHandler(scheme, &desktop, "open");
    }
    void cleanupTestCase()
    {
        for (const QString& scheme : CaughtSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }
    void init()
    {
        RemoveStoreFile();
        recorder.boxes.clear();
        desktop.opened.clear();
        Global::DefaultPort = 4321;
        Global::DefaultIp = QStringLiteral("10.9.8.7");
        Global::PopupWhenSend = false;
        Global::MinimizedWhenSend = true;
        Global::MyUsername = QStringLiteral("Kim");
        Global::MyPortnb = 6001;
    }
    void cleanup()
    {
        SetHostResolver({});
        QVERIFY2(recorder.boxes.isEmpty(), qPrintable("unexpected: " + recorder.said().join(", ")));
    }

    void resetAndLoadChangeOnlyTheBoxes_data()
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
    void resetAndLoadChangeOnlyTheBoxes()
    {
        QFETCH(QString, window);
        QFETCH(QString, current);
        // Load shows the values in memory, not these.
        WriteStoreFile("[Settings]\nDefaultPort=999\n[Identification]\nMyUsername=Stored\n");
        const QString before = settings(window);
        auto dialog = open(window);
        QCOMPARE(shown(dialog.get()), current);
        click(dialog.get(), "ResetDefault");
        QTEST(shown(dialog.get()), "defaults");
        Retype(box(dialog.get(), 0), "77");
        click(dialog.get(), "LoadOption");
        QCOMPARE(shown(dialog.get()), current);
        QCOMPARE(settings(window, true).left(3), isOptions(window) ? "999" : "Sto");

        click(dialog.get(), "ResetDefault");
        click(dialog.get(), "ReturnCmd");
        QCOMPARE(settings(window), before);
        QCOMPARE(settings(window, true), before);
    }

    void applyTakesFilteredNormalisedValuesUpToARefusal_data()
    {
        // window, the keys typed into the two boxes (\b: backspace), the message (none: taken),
        // the box it focuses, what is applied; in Options both check boxes are clicked too
        QTest::addColumn<QStringList>("row");
        const auto add = [](const char* tag, const QStringList& row) { QTest::newRow(tag) << row; };
        const QString name = "Invalid User Name (lenght must be between 1 and 128)";
        add("port 65536", {"Options", "65536", "2.2.2.2", "Invalid port number", "0",
                           "4321 False True 10.9.8.7"});
        add("address 1.2.3, empty port",
            {"Options", "", "1.2.3", "Invalid ip address", "1", "0 True False 10.9.8.7"});
        // Five digits in the port box and fifteen characters in the address box at most.
        add("other keys, leading zeros", {"Options", "2a0 -x.8+\b123456", "010.0z01.001.001 ,/9",
                                          "", "", "20123 True False 10.1.1.1"});
        add("name of spaces", {"Identification", "     ", "700", name, "0", "Kim 6001"});
        add("port 99999",
            {"Identification", " Alice ", "99999", "Invalid port number", "1", "Alice 6001"});
        add("other keys, spaces around",
            {"Identification", "  Jo. Ann-2 #1  ", "p0r.t 12a34567", "", "", "Jo. Ann-2 #1 1234"});
        const QString longest(128, 'n');
        add("129th character",
            {"Identification", longest + 'z', "6001", "", "", longest + " 6001"});
    }
    void applyTakesFilteredNormalisedValuesUpToARefusal()
    {
        QFETCH(QStringList, row);
        auto dialog = open(row[0]);
        Retype(box(dialog.get(), 0), row[1]);
        Retype(box(dialog.get(), 1), row[2]);
        for (QCheckBox* check : dialog->findChildren<QCheckBox*>())
            click(check);
        click(dialog.get(), "SaveOption");
        if (row[3].isEmpty()) {
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
        } else {
            QCOMPARE(recorder.said(), QStringList{"Error: " + row[3]});
            recorder.boxes.clear();
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->focusWidget(), box(dialog.get(), row[4].toInt()));
            QVERIFY(ReadStoreSections().isEmpty());
            // Cancel does not undo what the failed Apply took, and writes it.
            click(dialog.get(), "ReturnCmd");
        }
        QVERIFY(!dialog->isVisible());
        QCOMPARE(settings(row[0]), row[5]);
        QCOMPARE(settings(row[0], true), row[5]);
    }

    void controlKeysDoNotGetPastTheFilters()
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

    void everyWayOutWritesTheStore_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("way");
        for (const char* window : {"Options", "Identification"})
            for (const char* way : {"Apply", "Cancel", "Enter on Cancel", "close box", "Escape"})
                QTest::addRow("%s %s", window, way) << window << way;
    }
    void everyWayOutWritesTheStore()
    {
        QFETCH(QString, window);
        QFETCH(QString, way);
        const QString values = settings(window);
        auto dialog = open(window);
        dialog->move(dialog->pos() + QPoint(13, 7));
        const QPoint where = dialog->pos();
        auto* cancel = dialog->findChild<QPushButton*>("ReturnCmd");
        if (way == "Apply")
            click(dialog.get(), "SaveOption");
        else if (way == "Cancel")
            click(cancel);
        else if (way == "Enter on Cancel") {
            cancel->setFocus();
            QTest::keyClick(cancel, Qt::Key_Return);
        } else if (way == "close box")
            QVERIFY(dialog->close());
        else
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(settings(window, true), values);
        const QString prefix = isOptions(window) ? "Option " : "Identification ";
        const IniSections sections = ReadStoreSections();
        const auto stored = sections.value("Settings");
        QCOMPARE(stored.value(prefix + "StartUPX").toInt(), PixelsToTwips(dialog.get(), where.x()));
        QCOMPARE(stored.value(prefix + "StartUPY").toInt(), PixelsToTwips(dialog.get(), where.y()));
        // Each window writes its own section only.
        QVERIFY(!sections.contains(isOptions(window) ? "Identification" : "Users"));
        QCOMPARE(stored.contains("DefaultPort"), isOptions(window));
    }

    void shellOpenHandsTheAddressToTheDesktop_data()
    {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QUrl>("expected"); // empty: nothing is opened
        const auto add = [](const char* tag, const QString& document, const QUrl& expected) {
            QTest::newRow(tag) << document << expected;
        };
        add("web page", "https://www.example.org/a?b=c", QUrl("https://www.example.org/a?b=c"));
        add("mail", "mailto:someone@example.org", QUrl("mailto:someone@example.org"));
        const QDir programFolder(QCoreApplication::applicationDirPath());
        add("file in the program's folder", "read me.txt",
            QUrl::fromLocalFile(programFolder.filePath("read me.txt")));
        add("absolute file", "/tmp/x.txt", QUrl::fromLocalFile("/tmp/x.txt"));
        add("nothing", "", QUrl());
    }
    void shellOpenHandsTheAddressToTheDesktop()
    {
        QFETCH(QString, document);
        QFETCH(QUrl, expected);
        QCOMPARE(ShellOpen(document, nullptr), !expected.isEmpty());
        QCOMPARE(desktop.opened, expected.isEmpty() ? QList<QUrl>() : QList<QUrl>{expected});
    }

    void yourIpCanBeCopiedNotChanged()
    {
        YourIP yourIp;
        ShowAndActivate(&yourIp);
        const QString shown = yourIp.youripnumber->text();
        QString normalised;
        QVERIFY(IsValidIp(shown, normalised) && normalised == shown);
        QCOMPARE(yourIp.focusWidget(), yourIp.youripnumber);
        QCOMPARE(yourIp.youripnumber->selectedText(), shown);
        QTest::keyClicks(yourIp.youripnumber, "99\b");
        QCOMPARE(yourIp.youripnumber->text(), shown);
        // Enter closes it from the address box.
        QTest::keyClick(yourIp.youripnumber, Qt::Key_Return);
        QVERIFY(!yourIp.isVisible());
    }

    void versionTextAppendsANonZeroRevision()
    {
        // The project's version, as the build gave it to --version and the package.
        const VersionInfo own = ProgramVersion();
        QCOMPARE(QString("%1.%2.%3").arg(own.major).arg(own.minor).arg(own.revision),
                 QString(BuildInfo::Version));
        QCOMPARE(About().appversion->text(), VersionText(own));
        const std::pair<VersionInfo, const char*> versions[] = {
            {{"Q", 2, 0, 12}, "2.012"}, {{"Q", 2, 1, 3}, "2.13"}, {{"Q", 10, 20, 0}, "10.20"}};
        for (const auto& [version, text] : versions)
            QCOMPARE(About(nullptr, version).appversion->text(), QString(text));
    }

    void aboutLinksOpenTheConfiguredAddresses()
    {
        // A build given no addresses shows no links.
        QVERIFY(About().website->isHidden() && About().email->isHidden());
        About about(nullptr, ProgramVersion(), {"https://www.example.org/q/", "q@example.org"});
        ShowAndActivate(&about);
        // Only the left button opens a link; what the boxes hold, or what is selected in
        // them, makes no difference.
        for (QLineEdit* link : {about.website, about.email, about.website, about.email}) {
            QTest::mouseClick(link, Qt::LeftButton);
            QTest::mouseClick(link, Qt::RightButton);
            link->setText(QStringLiteral("https://elsewhere.example.net/"));
            link->selectAll();
        }
        const QList<QUrl> both{QUrl("https://www.example.org/q/"), QUrl("mailto:q@example.org")};
        QCOMPARE(desktop.opened, both + both);
        QVERIFY(about.isVisible());
    }

    void pickedComputerFillsTheEditorsBoxes()
    {
        Global::DefaultPort = 777;
        Global::EditedUser = {"NewUser1", "10.4.4.4", 4444, 0};
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
        QCOMPARE(fields(editor), QStringLiteral("localhost 127.0.0.1 777"));

        // The trimmed name is looked up and cut to the name box's limit; of several addresses the
        // first IPv4 one is taken.
        QStringList asked;
        SetHostResolver([&asked](const QString& name) {
            asked << name;
            return QList<QHostAddress>{QHostAddress("::1"), QHostAddress("10.1.2.3"),
                                       QHostAddress("10.0.0.8")};
        });
        const QString h(200, 'h');
        answerPicker(' ' + h + ' ');
        editor.cmdAddNetworkUser->click();
        QCOMPARE(asked, QStringList{h});
        QCOMPARE(fields(editor), h.left(128) + " 10.1.2.3 777");
    }

    void failedPickChangesNothing()
    {
        Global::EditedUser = {"Bob", "10.0.0.2", 600, 0};
        const NoRows rows;
        Modify_or_add editor(rows);
        editor.show();
        answerPicker(QStringLiteral("quorvane-test.invalid"));
        editor.cmdAddNetworkUser->click();
        int lookups = 0;
        SetHostResolver([&lookups](const QString&) { return ++lookups, QList<QHostAddress>{}; });
        WhenModal<NetworkPicker>([](NetworkPicker* picker) { picker->cancel->click(); });
        editor.cmdAddNetworkUser->click();
        WhenModal<NetworkPicker>([](NetworkPicker* picker) { picker->close(); });
        editor.cmdAddNetworkUser->click();
        // A cancelled pick looks nothing up.
        QCOMPARE(lookups, 0);
        QCOMPARE(recorder.said(), QStringList(3, "Error: Unable to Browse the network"));
        recorder.boxes.clear();
        QCOMPARE(fields(editor), QStringLiteral("Bob 10.0.0.2 600"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
