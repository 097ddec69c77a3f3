// The user list manager and the user editor, driven with clicks, keys and mouse drags.

#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Global.h"
#include "windows/MessageBox.h"
#include "windows/ModifyUser.h"
#include "windows/Modify_or_add.h"
#include "windows/SendForm.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

namespace {

UserTable table(const QList<UserRecord>& entries)
{
    UserTable users = DimUsers(static_cast<int>(entries.size()));
    std::copy(entries.begin(), entries.end(), users.begin() + 1);
    return users;
}

UserTable abcd()
{
    return table({{"A", "10.0.0.1", 1, 1},
                  {"B", "10.0.0.2", 2, 2},
                  {"C", "10.0.0.3", 3, 3},
                  {"D", "10.0.0.4", 4, 4}});
}

} // namespace

class TestUserList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void addOffersAFreeNameWithTheDefaultAddressAndPort();
    void addCancelledOrClosedAddsNothing();
    void modifyWritesBackOnlyASavedEdit();
    void removeProtectsOnlyLocalhost();
    void loadAndResetLeaveUsersAlone();
    void applyRebuildsUsersInRowOrder();
    void orderValuesDecideWhatIsShown();
    void duplicateCheckOnlyWhenTheNameChanged();
    void localhostKeepsNameAndAddress();
    void keyFiltersAndWholeFieldClipboard();
    void refusedInputKeepsTheEditorOpen_data();
    void refusedInputKeepsTheEditorOpen();
    void popupMenuMoves();
    void draggingMovesRowsLive();
    void headerClicksSortByColumnText_data();
    void headerClicksSortByColumnText();
    void mainWindowRefillsAfterTheManager();

private:
    void open(const UserTable& users);
    QStringList names() const;
    QStringList userNames() const;
    QPoint rowCentre(int index) const;
    void mouse(QEvent::Type type, Qt::MouseButtons buttons, QPoint at);
    void drag(int from, const QList<int>& over);
    void clickHeader(int column);
    void select(int index);
    // Opens the editor with `button` and runs `inside` on it.
    void edit(QPushButton* button, std::function<void(Modify_or_add*)> inside);

    TestFolders folders;
    std::unique_ptr<ModifyUser> manager;
    std::unique_ptr<BoxRecorder> recorder;
};

void TestUserList::init()
{
    RemoveStoreFile();
    recorder = std::make_unique<BoxRecorder>();
    Global::BuildDefaultUsers();
    // Not the shipped defaults, so that a window ignoring the settings shows.
    Global::DefaultIp = QStringLiteral("10.1.2.3");
    Global::DefaultPort = 5050;
}

void TestUserList::cleanup()
{
    manager.reset();
    recorder.reset();
}

void TestUserList::open(const UserTable& users)
{
    Global::Users = users;
    manager = std::make_unique<ModifyUser>();
    manager->show();
    QVERIFY(QTest::qWaitForWindowExposed(manager.get()));
}

QStringList TestUserList::names() const
{
    QStringList list;
    for (int i = 1; i <= manager->list().ListItems.Count(); ++i)
        list << manager->list().ListItems.Item(i).Text();
    return list;
}

QStringList TestUserList::userNames() const
{
    QStringList list;
    for (int i = 1; i <= UBound(Global::Users); ++i)
        list << Global::Users[static_cast<std::size_t>(i)].name;
    return list;
}

QPoint TestUserList::rowCentre(int index) const
{
    return manager->listuser->visualItemRect(manager->listuser->topLevelItem(index - 1)).center();
}

// A press, move or release; the button is the one pressed or released, or none for a move.
void TestUserList::mouse(QEvent::Type type, Qt::MouseButtons buttons, QPoint at)
{
    QWidget* viewport = manager->listuser->viewport();
    const Qt::MouseButton button = type == QEvent::MouseMove   ? Qt::NoButton
                                   : buttons & Qt::RightButton ? Qt::RightButton
                                                               : Qt::LeftButton;
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : buttons, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

// Presses on row `from`, moves over each row of `over` and releases on the last.
void TestUserList::drag(int from, const QList<int>& over)
{
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, rowCentre(from));
    for (int row : over)
        mouse(QEvent::MouseMove, Qt::LeftButton, rowCentre(row));
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, rowCentre(over.last()));
}

void TestUserList::clickHeader(int column)
{
    QHeaderView* header = manager->listuser->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void TestUserList::select(int index)
{
    QTest::mouseClick(manager->listuser->viewport(), Qt::LeftButton, {}, rowCentre(index));
    QCOMPARE(manager->list().SelectedItem().Index(), index);
}

void TestUserList::edit(QPushButton* button, std::function<void(Modify_or_add*)> inside)
{
    bool ran = false;
    WhenModal<Modify_or_add>([&](Modify_or_add* editor) {
        ran = true;
        inside(editor);
    });
    button->click();
    QVERIFY(ran);
}

void TestUserList::addOffersAFreeNameWithTheDefaultAddressAndPort()
{
    open(table({{"localhost", "127.0.0.1", 505, 1}, {"NewUser1", "10.9.9.9", 7, 2}}));
    // NewUser1 is taken only with another address, so it is offered again.
    edit(manager->adduser, [](Modify_or_add* editor) {
        QCOMPARE(editor->username->text(), QStringLiteral("NewUser1"));
        QCOMPARE(editor->userip->text(), QStringLiteral("10.1.2.3"));
        QCOMPARE(editor->userport->text(), QStringLiteral("5050"));
        QCOMPARE(editor->focusWidget(), editor->cancelsave);
        editor->oksave->click();
    });
    QCOMPARE(names(), (QStringList{"localhost", "NewUser1", "NewUser1"}));
    QCOMPARE(manager->list().ListItems.Item(3).SubItems(1), QStringLiteral("10.1.2.3"));
    QCOMPARE(manager->list().ListItems.Item(3).SubItems(2), QStringLiteral("5050"));
    QCOMPARE(manager->list().SelectedItem().Index(), 1);
    edit(manager->adduser, [](Modify_or_add* editor) {
        QCOMPARE(editor->username->text(), QStringLiteral("NewUser2"));
        editor->oksave->click();
    });
    QCOMPARE(names().last(), QStringLiteral("NewUser2"));
    QCOMPARE(userNames(), (QStringList{"localhost", "NewUser1"}));
}

void TestUserList::addCancelledOrClosedAddsNothing()
{
    open(abcd());
    edit(manager->adduser, [](Modify_or_add* editor) { editor->cancelsave->click(); });
    QVERIFY(Global::EditCancelled);
    edit(manager->adduser, [](Modify_or_add* editor) {
        editor->username->setText("Typed");
        editor->close();
    });
    QVERIFY(Global::EditCancelled);
    QCOMPARE(names(), (QStringList{"A", "B", "C", "D"}));
}

void TestUserList::modifyWritesBackOnlyASavedEdit()
{
    open(abcd());
    select(2);
    edit(manager->moduser, [](Modify_or_add* editor) {
        QCOMPARE(editor->username->text(), QStringLiteral("B"));
        QCOMPARE(editor->userport->text(), QStringLiteral("2"));
        editor->username->setText("Changed");
        editor->cancelsave->click();
    });
    QCOMPARE(names(), (QStringList{"A", "B", "C", "D"}));
    edit(manager->moduser, [](Modify_or_add* editor) {
        editor->userip->setText(" 010.0.0.022 ");
        editor->userport->setText("700");
        editor->oksave->click();
    });
    const ListItem row = manager->list().ListItems.Item(2);
    QCOMPARE(row.SubItems(1), QStringLiteral("10.0.0.22"));
    QCOMPARE(row.SubItems(2), QStringLiteral("700"));
    QCOMPARE(manager->list().ListItems.Item(3).SubItems(2), QStringLiteral("3"));
    QCOMPARE(Global::Users[2].port, 2); // only Apply reaches Users
}

void TestUserList::removeProtectsOnlyLocalhost()
{
    open(table({{"localhost", "127.0.0.1", 505, 1}, {"LocalHost", "127.0.0.1", 505, 2}}));
    select(1);
    manager->removeuser->click();
    QCOMPARE(recorder->boxes.size(), 1);
    QCOMPARE(recorder->boxes[0].title, QStringLiteral("Error"));
    QCOMPARE(recorder->boxes[0].text, QStringLiteral("Cannot delete localhost"));
    select(2);
    manager->removeuser->click();
    QCOMPARE(names(), QStringList{"localhost"});
    QCOMPARE(recorder->boxes.size(), 1);
}

void TestUserList::loadAndResetLeaveUsersAlone()
{
    open(abcd());
    clickHeader(1);
    select(2);
    manager->removeuser->click();
    manager->ResetDefault->click();
    QCOMPARE(names(), QStringList{"localhost"});
    QCOMPARE(userNames(), (QStringList{"A", "B", "C", "D"}));
    // Load brings back the rows and the order of Users, unsorted.
    manager->LoadOption->click();
    QCOMPARE(names(), (QStringList{"A", "B", "C", "D"}));
    QVERIFY(!manager->list().Sorted());
    manager->ResetDefault->click();
    manager->SaveOption->click();
    QVERIFY(!manager->isVisible());
    QCOMPARE(UBound(Global::Users), 1);
    const UserRecord& localhost = Global::Users[1];
    QCOMPARE(localhost.name, QStringLiteral("localhost"));
    QCOMPARE(localhost.ip, QStringLiteral("127.0.0.1"));
    QCOMPARE(localhost.port, 505);
    QCOMPARE(localhost.order, 1);
}

void TestUserList::applyRebuildsUsersInRowOrder()
{
    // Sorted by name, descending on the first click since the name column is the key.
    open(abcd());
    clickHeader(0);
    manager->SaveOption->click();
    QCOMPARE(userNames(), (QStringList{"D", "C", "B", "A"}));
    for (int i = 1; i <= 4; ++i)
        QCOMPARE(Global::Users[static_cast<std::size_t>(i)].order, i);
    QCOMPARE(Global::Users[1].ip, QStringLiteral("10.0.0.4"));

    open(abcd());
    drag(4, {1});
    manager->SaveOption->click();
    QCOMPARE(userNames(), (QStringList{"D", "A", "B", "C"}));
    QCOMPARE(Global::Users[1].port, 4);

    open(abcd());
    for (int i = 0; i < 4; ++i) {
        select(1);
        manager->removeuser->click();
    }
    manager->SaveOption->click();
    QCOMPARE(UBound(Global::Users), 0);
}

void TestUserList::orderValuesDecideWhatIsShown()
{
    open(table(
        {{"first", "1.1.1.1", 1, 2}, {"second", "2.2.2.2", 2, 1}, {"third", "3.3.3.3", 3, 3}}));
    QCOMPARE(names(), (QStringList{"second", "first", "third"}));
    open(table({{"one", "1.1.1.1", 1, 1},
                {"also one", "2.2.2.2", 2, 1},
                {"two", "3.3.3.3", 3, 2},
                {"nine", "4.4.4.4", 4, 9}}));
    QCOMPARE(names(), (QStringList{"one", "two"}));
    // The close box leaves Users alone.
    manager->close();
    QCOMPARE(UBound(Global::Users), 4);
}

void TestUserList::duplicateCheckOnlyWhenTheNameChanged()
{
    open(table({{"Bob", "10.0.0.1", 1, 1}, {"Bob", "10.0.0.2", 2, 2}, {"Cy", "10.0.0.3", 3, 3}}));
    select(3);
    edit(manager->moduser, [this](Modify_or_add* editor) {
        editor->username->setText("  Bob  ");
        editor->userip->setText("10.0.0.1");
        editor->oksave->click();
        QCOMPARE(recorder->boxes.size(), 1);
        QCOMPARE(recorder->boxes[0].text, QStringLiteral("User Name and IP already in Use"));
        QCOMPARE(editor->focusWidget(), editor->username);
        editor->userip->setText("10.0.0.4");
        editor->oksave->click();
    });
    QCOMPARE(manager->list().ListItems.Item(3).Text(), QStringLiteral("Bob"));
    // Unchanged name: no duplicate test, even onto another row's address.
    select(1);
    edit(manager->moduser, [](Modify_or_add* editor) {
        editor->userip->setText("10.0.0.2");
        editor->oksave->click();
    });
    QCOMPARE(recorder->boxes.size(), 1);
    QCOMPARE(manager->list().ListItems.Item(1).SubItems(1), QStringLiteral("10.0.0.2"));
}

void TestUserList::localhostKeepsNameAndAddress()
{
    open(table({{"localhost", "127.0.0.1", 505, 1}, {"Localhost", "127.0.0.2", 5, 2}}));
    for (int row : {1, 2}) {
        select(row);
        edit(manager->moduser, [row](Modify_or_add* editor) {
            QCOMPARE(editor->username->isEnabled(), row == 2);
            QCOMPARE(editor->userip->isEnabled(), row == 2);
            QVERIFY(editor->userport->isEnabled());
            editor->userport->setText("600");
            editor->oksave->click();
        });
        QCOMPARE(manager->list().ListItems.Item(row).SubItems(2), QStringLiteral("600"));
    }
}

void TestUserList::keyFiltersAndWholeFieldClipboard()
{
    open(abcd());
    select(1);
    edit(manager->moduser, [](Modify_or_add* editor) {
        editor->userip->clear();
        QTest::keyClicks(editor->userip, "1a2 -3.4x");
        QCOMPARE(editor->userip->text(), QStringLiteral("123.4"));
        editor->userport->clear();
        QTest::keyClicks(editor->userport, "8.0 -x1");
        QCOMPARE(editor->userport->text(), QStringLiteral("801"));
        QTest::keyClick(editor->userport, Qt::Key_Backspace);
        QCOMPARE(editor->userport->text(), QStringLiteral("80"));
        // Ctrl+C copies the whole field, not the selection; Ctrl+V replaces the whole field
        // unfiltered, cut to the box's limit; Ctrl+X does nothing.
        editor->userip->setSelection(0, 1);
        QTest::keyClick(editor->userip, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("123.4"));
        QApplication::clipboard()->setText("letters and more");
        QTest::keyClick(editor->userport, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(editor->userport, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(editor->userport->text(), QStringLiteral("lette"));
        editor->userip->setText("10.0.0.1");
        editor->oksave->click();
    });
    QCOMPARE(manager->list().ListItems.Item(1).SubItems(2), QStringLiteral("0"));
}

void TestUserList::refusedInputKeepsTheEditorOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("field"); // 0 name, 1 address, 2 port
    QTest::newRow("blank name") << "   "
                                << "1.2.3.4"
                                << "80"
                                << "Invalid User Name (lenght must be between 1 and 128)" << 0;
    QTest::newRow("short address") << "n"
                                   << "1.2.3"
                                   << "80"
                                   << "Invalid ip address" << 1;
    QTest::newRow("port too high") << "n"
                                   << "1.2.3.4"
                                   << "65536"
                                   << "Invalid port number" << 2;
}

void TestUserList::refusedInputKeepsTheEditorOpen()
{
    QFETCH(QString, name);
    QFETCH(QString, ip);
    QFETCH(QString, port);
    QFETCH(QString, message);
    QFETCH(int, field);
    open(abcd());
    select(1);
    edit(manager->moduser, [&](Modify_or_add* editor) {
        editor->username->setText(name);
        editor->userip->setText(ip);
        editor->userport->setText(port);
        editor->oksave->click();
        QCOMPARE(recorder->boxes.size(), 1);
        QCOMPARE(recorder->boxes[0].title, QStringLiteral("Error"));
        QCOMPARE(recorder->boxes[0].text, message);
        const QLineEdit* fields[] = {editor->username, editor->userip, editor->userport};
        QCOMPARE(editor->focusWidget(), fields[field]);
        // Enter and Escape press nothing either.
        QTest::keyClick(editor->userport, Qt::Key_Return);
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(editor->isVisible());
        QCOMPARE(recorder->boxes.size(), 1);
        editor->cancelsave->click();
    });
    QCOMPARE(names(), (QStringList{"A", "B", "C", "D"}));
}

void TestUserList::popupMenuMoves()
{
    // The enabled states of the four items, or nothing when the menu did not open.
    auto rightClick = [this](int row) -> QList<bool> {
        mouse(QEvent::MouseButtonPress, Qt::RightButton, rowCentre(row));
        if (!QTest::qWaitFor(
                [this] { return QApplication::activePopupWidget() == manager->mainmn; }))
            return {};
        QList<bool> enabled;
        for (int i = 1; i <= 4; ++i)
            enabled << manager->ListViewmn[i]->isEnabled();
        manager->mainmn->close();
        return enabled;
    };
    auto choose = [this, &rightClick](int row, int item) {
        rightClick(row);
        manager->ListViewmn[item]->trigger();
    };
    open(table({{"only", "1.1.1.1", 1, 1}}));
    QCOMPARE(rightClick(1), (QList<bool>{false, false, false, false}));

    open(abcd());
    QCOMPARE(rightClick(1), (QList<bool>{false, false, true, true}));
    QCOMPARE(rightClick(4), (QList<bool>{true, true, false, false}));
    QCOMPARE(rightClick(3), (QList<bool>{true, true, true, true}));
    choose(3, 3); // Move Down on the second-to-last row
    QCOMPARE(names(), (QStringList{"A", "B", "D", "C"}));
    QCOMPARE(manager->list().SelectedItem().Text(), QStringLiteral("C"));
    choose(2, 2); // Move Up on the second row
    QCOMPARE(names(), (QStringList{"B", "A", "D", "C"}));
    QCOMPARE(manager->list().SelectedItem().Index(), 1);
    choose(4, 1); // to the top
    QCOMPARE(names(), (QStringList{"C", "B", "A", "D"}));
    choose(1, 4); // to the bottom
    QCOMPARE(names(), (QStringList{"B", "A", "D", "C"}));
    QCOMPARE(manager->list().SelectedItem().Text(), QStringLiteral("C"));
    QCOMPARE(manager->list().SelectedItem().SubItems(2), QStringLiteral("3"));
}

void TestUserList::draggingMovesRowsLive()
{
    open(abcd());
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, rowCentre(1));
    mouse(QEvent::MouseMove, Qt::LeftButton, rowCentre(3));
    QCOMPARE(names(), (QStringList{"B", "C", "A", "D"}));
    mouse(QEvent::MouseMove, Qt::LeftButton, rowCentre(4));
    QCOMPARE(names(), (QStringList{"B", "C", "D", "A"}));
    QCOMPARE(manager->list().SelectedItem().Text(), QStringLiteral("A"));
    mouse(QEvent::MouseButtonRelease, Qt::LeftButton, rowCentre(4));
    // Moves after the release move nothing.
    mouse(QEvent::MouseMove, Qt::LeftButton, rowCentre(1));
    QCOMPARE(names(), (QStringList{"B", "C", "D", "A"}));

    open(abcd());
    drag(4, {2});
    QCOMPARE(names(), (QStringList{"A", "D", "B", "C"}));

    // A press below the rows, then a move over them, drags nothing.
    open(abcd());
    const QPoint below(rowCentre(4).x(), manager->listuser->viewport()->height() - 2);
    QVERIFY(manager->list().HitTest(below).isNull());
    mouse(QEvent::MouseButtonPress, Qt::LeftButton, below);
    mouse(QEvent::MouseMove, Qt::LeftButton, rowCentre(2));
    mouse(QEvent::MouseMove, Qt::LeftButton, rowCentre(1));
    QCOMPARE(names(), (QStringList{"A", "B", "C", "D"}));

    // A drag turns sorting off and keeps the order the user sees.
    clickHeader(0);
    drag(1, {2});
    QVERIFY(!manager->list().Sorted());
    QCOMPARE(names(), (QStringList{"C", "D", "B", "A"}));
}

void TestUserList::headerClicksSortByColumnText_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("order");
    QTest::newRow("another column: ascending")
        << QList<int>{0, 1} << QStringList{"c", "b", "a"} << 0;
    QTest::newRow("same column again: descending")
        << QList<int>{0, 1, 1} << QStringList{"a", "b", "c"} << 1;
    QTest::newRow("back to the first column")
        << QList<int>{0, 1, 1, 0} << QStringList{"a", "b", "c"} << 0;
    // The port column sorts by its text: 1000 before 505 before 80.
    QTest::newRow("port as text") << QList<int>{2} << QStringList{"a", "b", "c"} << 0;
    QTest::newRow("port as text, descending")
        << QList<int>{2, 2} << QStringList{"c", "b", "a"} << 1;
}

void TestUserList::headerClicksSortByColumnText()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QStringList, names);
    QFETCH(int, order);
    open(table({{"b", "10.0.0.2", 505, 1}, {"a", "10.0.0.3", 1000, 2}, {"c", "10.0.0.1", 80, 3}}));
    for (int column : clicks)
        clickHeader(column);
    QCOMPARE(this->names(), names);
    QVERIFY(manager->list().Sorted());
    QCOMPARE(manager->list().SortKey, clicks.last());
    QCOMPARE(manager->list().SortOrder, order);
}

void TestUserList::mainWindowRefillsAfterTheManager()
{
    SendForm form;
    QVERIFY(form.Form_Load());
    Global::Users = abcd();
    form.FillRecipients(2);
    form.show();
    WhenModal<ModifyUser>([&form](ModifyUser* opened) {
        QCOMPARE(opened->parentWidget(), &form);
        opened->ResetDefault->click();
        opened->SaveOption->click();
    });
    form.Adduser->click();
    QCOMPARE(form.Combo1->count(), 1);
    QCOMPARE(form.Combo1->currentText(), QStringLiteral("localhost (127.0.0.1: 505)"));

    // Cancel: the old list, first line selected whatever was before.
    Global::Users = abcd();
    form.FillRecipients(3);
    WhenModal<ModifyUser>([](ModifyUser* opened) { opened->ReturnCmd->click(); });
    form.Adduser->click();
    QCOMPARE(form.Combo1->count(), 4);
    QCOMPARE(form.Combo1->currentIndex(), 0);
    form.Form_Unload();
}

QTEST_MAIN(TestUserList)
#include "tst_userlist.moc"
