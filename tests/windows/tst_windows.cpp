// What every window must get right, as one table over all of them: tab order, a name for
// every input that screen readers can say, the program's icon, no maximize button when its
// size is fixed, nothing clipped at large fonts, reopening where it was closed.

#include "TestSupport.h"
#include "receiver/Autostart.h"
#include "receiver/ReceiverWindow.h"
#include "windows/About.h"
#include "windows/ApplicationIcon.h"
#include "windows/Identification.h"
#include "windows/ModifyUser.h"
#include "windows/Modify_or_add.h"
#include "windows/NetworkPicker.h"
#include "windows/OptProg.h"
#include "windows/SendForm.h"
#include "windows/YourIP.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <memory>

namespace {

struct Window
{
    const char* name;
    std::function<QWidget*()> make;
    QString prefix; // where its position is stored; empty: not checked here
    QString tabs;   // object names, from the one that has the focus on opening
    QString inputs; // objectName=accessible name, for every input, split by |
};

const NoRows noRows;

const QList<Window>& windows()
{
    static const QList<Window> all{
        {"SendForm", [] { return new SendForm; }, "", "Text1 Command1 StopSend Combo1 Adduser",
         "Combo1=Recipient|Text1=Message"},
        {"OptProg", [] { return new OptProg; }, "Option ",
         "ReturnCmd Portnb ipnumber Popupsend ResetDefault LoadOption SaveOption chkminimizedsend",
         "Portnb=Default port :|ipnumber=Default IP:"},
        {"Identification", [] { return new Identification; }, "Identification ",
         "txtmyident txtmyportnb LoadOption SaveOption ResetDefault ReturnCmd",
         "txtmyident=User name:|txtmyportnb=User reply port:"},
        {"ModifyUser", [] { return new ModifyUser; }, "Modify User ",
         "listuser adduser moduser removeuser LoadOption SaveOption ResetDefault ReturnCmd",
         "listuser=User list"},
        {"Modify_or_add", [] { return new Modify_or_add(noRows); }, "Modify or Add ",
         "cancelsave username userip userport oksave cmdAddNetworkUser",
         "username=Name|userip=IP number|userport=Port"},
        {"YourIP", [] { return new YourIP; }, "Your IP ", "youripnumber returncmd",
         "youripnumber=IP"},
        {"About",
         [] {
             return new About(nullptr, ProgramVersion(),
                              {"https://www.example.org/q/", "q@example.org"});
         },
         "About ", "ReturnCmd website email", "website=Web page|email=Mail address"},
        {"NetworkPicker", [] { return new NetworkPicker(nullptr); }, "",
         "hostName cancel people computers",
         "people=People on the local network|computers=Computers of the local network|"
         "hostName=Computer name:"},
        {"ReceiverWindow", [] { return new ReceiverWindow; }, "",
         "messageList messageText newPort changePort keepDays startAtLogin announceMe "
         "conversationList search",
         "newPort=Reply port:|keepDays=Keep messages|conversationList=Conversations|"
         "search=Search:|messageList=Messages|"
         "receivedAt=Received:|fromName=From:|fromAddress=Address:|fromPort=Reply port:|"
         "messageText=Message text"},
    };
    return all;
}

std::unique_ptr<QWidget> open(int row)
{
    std::unique_ptr<QWidget> window(windows().at(row).make());
    ShowAndActivate(window.get());
    return window;
}

// The widgets a user types into or picks from, the window's own only (not a list's popup).
QList<QWidget*> inputs(QWidget* window)
{
    QList<QWidget*> found;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const bool input =
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget) ||
            qobject_cast<QPlainTextEdit*>(widget) ||
            (qobject_cast<QAbstractItemView*>(widget) && !qobject_cast<QHeaderView*>(widget));
        if (input && widget->window() == window)
            found << widget;
    }
    return found;
}

} // namespace

// Dialog buttons with icons, as some desktops' styles draw them: no window may take them.
class IconButtonsStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        return hint == SH_DialogButtonBox_ButtonsHaveIcons
                   ? 1
                   : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

class TestWindows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void keyboardAndScreenReadersReachEveryInput_data() { table(); }
    void keyboardAndScreenReadersReachEveryInput();
    void programIconAndNoMaximizeWhenTheSizeIsFixed_data() { table(); }
    void programIconAndNoMaximizeWhenTheSizeIsFixed();
    void nothingClippedAtLargeFonts_data() { table(); }
    void nothingClippedAtLargeFonts();
    void reopensWhereItWasClosed_data() { table(); }
    void reopensWhereItWasClosed();
    void portBoxesAreSizedForTheirDigits();
    void startAtLoginWritesAndRemovesTheAutostartEntry();

private:
    void table();

    TestFolders folders;
};

void TestWindows::initTestCase()
{
    QApplication::setStyle(new IconButtonsStyle);
    InstallScreenSizeSource();
    InstallApplicationIcon();
    SetMessageBoxAnswerer([](const QString& title, const QString& text) {
        QFAIL(qPrintable("unexpected box: " + title + ": " + text));
    });
}

void TestWindows::table()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < windows().size(); ++row)
        QTest::newRow(windows().at(row).name) << row;
}

void TestWindows::keyboardAndScreenReadersReachEveryInput()
{
    QFETCH(int, row);
    const std::unique_ptr<QWidget> window = open(row);
    QList<QWidget*> order;
    for (const QString& name : windows().at(row).tabs.split(' '))
        order << window->findChild<QWidget*>(name);
    QVERIFY(!order.contains(nullptr));
    CheckTabOrder(window.get(), order);

    QStringList names;
    for (QWidget* input : inputs(window.get())) {
        // On Linux a list box's Name is its current line; its own name comes with it.
        names << input->objectName() + '=' +
                     (qobject_cast<QComboBox*>(input)
                          ? input->accessibleName()
                          : QAccessible::queryAccessibleInterface(input)->text(QAccessible::Name));
    }
    names.sort();
    QStringList expected = windows().at(row).inputs.split('|');
    expected.sort();
    QCOMPARE(names, expected);
}

void TestWindows::programIconAndNoMaximizeWhenTheSizeIsFixed()
{
    QFETCH(int, row);
    const std::unique_ptr<QWidget> window = open(row);
    QCOMPARE(window->windowIcon().availableSizes().size(), 6);
    for (const QPushButton* button : window->findChildren<QPushButton*>())
        QVERIFY2(button->icon().isNull(), qPrintable(button->objectName()));
    if (window->minimumSize() == window->maximumSize()) {
        QVERIFY(window->windowFlags().testFlag(Qt::CustomizeWindowHint));
        QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    }
}

void TestWindows::nothingClippedAtLargeFonts()
{
    QFETCH(int, row);
    AtEveryFontSize([row] { CheckNothingClipped(open(row).get()); });
}

void TestWindows::reopensWhereItWasClosed()
{
    QFETCH(int, row);
    const QString prefix = windows().at(row).prefix;
    if (prefix.isEmpty())
        QSKIP("checked where the window is opened by the program");
    RemoveStoreFile();
    std::unique_ptr<QWidget> window = open(row);
    QCOMPARE(window->pos(), CentredPosition(window.get()));
    window->move(31, 23);
    QVERIFY(window->close());
    const QMap<QString, QString> settings = ReadStoreSections().value("Settings");
    QCOMPARE(settings.value(prefix + "StartUPX").toInt(), PixelsToTwips(window.get(), 31));
    QCOMPARE(settings.value(prefix + "StartUPY").toInt(), PixelsToTwips(window.get(), 23));
    QCOMPARE(open(row)->pos(), QPoint(31, 23));
}

void TestWindows::portBoxesAreSizedForTheirDigits()
{
    Modify_or_add editor(noRows);
    ShowAndActivate(&editor);
    // As the design's twips have them: port 855, address 1335.
    QVERIFY(qAbs(editor.userport->width() * 1335 - editor.userip->width() * 855) <= 1335);
    ReceiverWindow receiver;
    ShowAndActivate(&receiver);
    const QFontMetrics metrics = receiver.newPort->fontMetrics();
    QVERIFY(receiver.newPort->width() > metrics.horizontalAdvance("65535"));
    QVERIFY(receiver.newPort->width() < metrics.horizontalAdvance("65535") * 2);
}

void TestWindows::startAtLoginWritesAndRemovesTheAutostartEntry()
{
    const QString entry = folders.config() + "/autostart/quorvane-receiver.desktop";
    QCOMPARE(Autostart::EntryPath(), entry);
    {
        ReceiverWindow receiver;
        QVERIFY(!receiver.startAtLogin->isChecked());
        receiver.startAtLogin->click();
    }
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY(text.contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\"\n"));
    // From the installed entry's template, minus TryExec: this copy need not be on the PATH.
    QVERIFY(text.contains("\nIcon=quorvane\n") && !text.contains("TryExec"));
    // What the entry format reserves in a path is escaped, and then each backslash again.
    QVERIFY(Autostart::EntryText(R"(/a "b" $c `d` \e)")
                .contains(R"(Exec="/a \\"b\\" \\$c \\`d\\` \\\\e")"));
    ReceiverWindow receiver;
    QVERIFY(receiver.startAtLogin->isChecked());
    receiver.startAtLogin->click();
    QVERIFY(!QFile::exists(entry));
    // A folder that cannot be made: the window says so, and the box shows what is.
    QFile blocker(QFileInfo(entry).path());
    QVERIFY(QDir().rmdir(blocker.fileName()) && blocker.open(QIODevice::WriteOnly));
    receiver.startAtLogin->click();
    QVERIFY(receiver.statusBar()->currentMessage().startsWith("Cannot change the autostart entry"));
    QVERIFY(!receiver.startAtLogin->isChecked() && blocker.remove());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
