// The user list manager and the user editor, driven with clicks, keys and mouse drags.

#include "TestSupport.h"
#include "windows/ModifyUser.h"
#include "windows/Modify_or_add.h"
#include "windows/SendForm.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <memory>

namespace {

// Every correspondent the sequences can produce, as "name address port"; A to D open the list.
const QStringList Known{"A 10.0.0.3 5051", "B 10.0.0.1 1000", "C 10.0.0.4 80",
                        "D 10.0.0.2 7",    "E 10.0.0.22 700", "localhost 127.0.0.1 505"};

// Entries "name address port" at positions 1 to n, with the given order values or 1 to n.
UserTable table(const QStringList& users, const QList<int>& orders = {})
{
    UserTable result = DimUsers(int(users.size()));
    for (int i = 1; i <= users.size(); ++i) {
        const QStringList cells = users[i - 1].split(' ');
        result[std::size_t(i)] = {cells[0], cells[1], cells[2].toInt(),
                                  orders.isEmpty() ? i : orders[i - 1]};
    }
    return result;
}

// "name address port order" per entry.
QStringList texts(const UserTable& users)
{
    QStringList result;
    for (auto user = users.begin() + 1; user < users.end(); ++user)
        result << user->name + ' ' + user->ip + QString(" %1 %2").arg(user->port).arg(user->order);
    return result;
}

} // namespace

class TestUserList : public QObject
{
    Q_OBJECT

    TestFolders folders;
    std::unique_ptr<ModifyUser> manager;
    BoxRecorder recorder;

    void open(const UserTable& users)
    {
        Global::Users = users;
        manager = std::make_unique<ModifyUser>();
        manager->show();
        QVERIFY(QTest::qWaitForWindowExposed(manager.get()));
    }
    // "name address port" per row.
    QStringList rows() const
    {
        QStringList list;
        for (int i = 1; i <= manager->list().ListItems.Count(); ++i) {
            const ListItem item = manager->list().ListItems.Item(i);
            list << item.Text() + ' ' + item.SubItems(1) + ' ' + item.SubItems(2);
        }
        return list;
    }
    QPoint rowCentre(int index) const
    {
        if (index == 0) { // empty space below the rows
            const QPoint below(rowCentre(1).x(), manager->listuser->viewport()->height() - 2);
            [&] { QVERIFY(manager->list().HitTest(below).isNull()); }();
            return below;
        }
        QTreeWidget* list = manager->listuser;
        return list->visualItemRect(list->topLevelItem(index - 1)).center();
    }
    // p press, v move with it held, u release of the left button; r press of the right one.
    void mouse(char kind, QPoint at)
    {
        QWidget* viewport = manager->listuser->viewport();
        const Qt::MouseButton button = kind == 'r' ? Qt::RightButton : Qt::LeftButton;
        const QEvent::Type type = kind == 'v'   ? QEvent::MouseMove
                                  : kind == 'u' ? QEvent::MouseButtonRelease
                                                : QEvent::MouseButtonPress;
        QMouseEvent event(type, at, viewport->mapToGlobal(at), kind == 'v' ? Qt::NoButton : button,
                          kind == 'u' ? Qt::NoButton : button, {});
        QApplication::sendEvent(viewport, &event);
    }
    void select(int index)
    {
        QTest::mouseClick(manager->listuser->viewport(), Qt::LeftButton, {}, rowCentre(index));
        QCOMPARE(manager->list().SelectedItem().Index(), index);
    }
    // Opens the editor with `button` and runs `inside` on it; closes it if a check failed.
    void edit(QPushButton* button, std::function<void(Modify_or_add*)> inside)
    {
        WhenModal<Modify_or_add>([&](Modify_or_add* editor) {
            inside(editor);
            if (editor->isVisible() && !QTest::currentTestFailed())
                QTest::qFail("the editor was left open", __FILE__, __LINE__);
            editor->close();
        });
        button->click();
    }

private slots:
    void init()
    {
        RemoveStoreFile();
        recorder.boxes.clear();
        Global::BuildDefaultUsers();
        // Not the shipped defaults, so that a window ignoring the settings shows.
        Global::DefaultIp = QStringLiteral("10.1.2.3");
        Global::DefaultPort = 5050;
    }
    void cleanup() { manager.reset(); }

    void sequencesChangeOnlyTheRowsUntilApply_data()
    {
        // o<orders> order values of A to D (first); h<column> header click; m<row><item> menu
        // item on a right-clicked row, m<row> the menu only opened; p<row> left press (0: below
        // the rows), v<row> move with it held, u release; x<row> remove; + Add, e<row> Modify,
        // each typing E 010.0.0.022 700 and leaving by s Save, c Cancel or x close box; L Load,
        // R Reset, A Apply, C Cancel, X close box. A step may end in =<text>: the names of the
        // rows run together then, or for a menu only opened, First, Up, Down, Last enabled (1).
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("names");
        QTest::addColumn<QString>("selected"); // empty: not checked
        const auto add = [](const char* tag, const char* actions, const char* names,
                            const char* selected = "") {
            QTest::newRow(tag) << actions << names << selected;
        };
        add("menu offers only the moves that move the row",
            "m1=0011 m3=1111 m4=1100 x1 x1 x1 m1=0000", "D");
        add("menu: Down, Up, First", "m23=ACBD m32=ABCD m41", "D A B C", "D");
        add("menu: Last, then Apply", "m14 A", "B C D A", "A");
        add("drag on while held, not after release", "p1 v3=BCAD v4 u v1", "B C D A", "A");
        add("drag onto a row above, then Apply", "p4 v2 u A", "A D B C", "D");
        add("press below the rows drags nothing and ends a drag", "p1 p0 v3 v2 u", "A B C D");
        add("name header descending, then a new column ascending, the same one descending",
            "h0=DCBA h1=BDAC h1=CADB h0", "A B C D");
        add("port sorts as text", "h2=BADC h2", "C D A B");
        add("a move keeps the sort column", "h1 m33 h1", "C A D B");
        add("a drag turns sorting off", "h0 p1 v2 u", "C D B A", "D");
        add("a menu move turns sorting off", "h0 m33", "D C A B", "B");
        add("sort, then Apply", "h0 A", "D C B A");
        add("Reset and Load refill unsorted", "h0 R=localhost L", "A B C D");
        add("Reset, then Apply", "x2=ACD R A", "localhost");
        add("all removed, then Apply", "x1 x1 x1 x1 A", "");
        add("Add, Save, Apply", "+s A", "A B C D E");
        add("Add, Cancel or close box", "+c +x", "A B C D");
        add("Modify, Save", "e2s", "A E C D");
        add("Modify, Cancel or close box, Apply", "e2c e2x A", "A B C D");
        add("Cancel drops the moves", "m14 C", "B C D A");
        add("close box drops the moves", "p1 v3 u X", "B C A D", "A");
        add("shown by order value", "o2134", "B A C D");
        add("repeated or outside order values not shown nor kept", "o1129 A", "A C");
    }
    void sequencesChangeOnlyTheRowsUntilApply()
    {
        QFETCH(QString, actions);
        QFETCH(QString, names);
        QFETCH(QString, selected);
        QStringList steps = actions.split(' ', Qt::SkipEmptyParts);
        QList<int> orders;
        if (!steps.isEmpty() && steps[0][0] == 'o')
            for (const QChar order : steps.takeFirst().mid(1))
                orders << order.digitValue();
        const UserTable before = table(Known.mid(0, 4), orders);
        open(before);
        QHeaderView* header = manager->listuser->header();
        QPoint last;
        for (const QString& token : steps) {
            const QString step = token.section('=', 0, 0);
            const QChar kind = step[0];
            const int a = step.size() > 1 ? step[1].digitValue() : 0;
            QString seen; // what =<text> is compared with
            if (kind == 'x' || kind == 'e')
                select(a);
            if (kind == 'h') {
                QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                                  {header->sectionViewportPosition(a) + 5, header->height() / 2});
            } else if (kind == 'm') {
                mouse('r', rowCentre(a));
                QTRY_VERIFY(QApplication::activePopupWidget() == manager->mainmn);
                for (int i = 1; i <= 4 && step.size() == 2; ++i) // only opened: what it offers
                    seen += manager->ListViewmn[i]->isEnabled() ? '1' : '0';
                manager->mainmn->close();
                if (step.size() > 2)
                    manager->ListViewmn[step[2].digitValue()]->trigger();
            } else if (QStringLiteral("pvu").contains(kind)) {
                last = kind == 'u' ? last : rowCentre(a); // released where it was last
                mouse(kind.toLatin1(), last);
            } else if (kind == '+' || kind == 'e') {
                edit(kind == '+' ? manager->adduser : manager->moduser, [&](Modify_or_add* e) {
                    e->username->setText("E");
                    e->userip->setText(" 010.0.0.022 ");
                    e->userport->setText("700");
                    step.back() == 'x' ? void(e->close())
                                       : (step.back() == 's' ? e->oksave : e->cancelsave)->click();
                });
            } else if (kind == 'X') {
                manager->close();
            } else {
                QPushButton* buttons[] = {manager->LoadOption, manager->ResetDefault,
                                          manager->SaveOption, manager->ReturnCmd,
                                          manager->removeuser};
                buttons[QStringLiteral("LRACx").indexOf(kind)]->click();
            }
            if (!token.contains('='))
                continue;
            if (seen.isNull())
                for (const QString& row : rows())
                    seen += row.section(' ', 0, 0);
            QCOMPARE(seen, token.section('=', 1));
        }
        QStringList expected;
        for (const QString& name : names.split(' ', Qt::SkipEmptyParts))
            expected << Known.filter(QRegularExpression('^' + name + ' ')).value(0);
        QCOMPARE(rows(), expected);
        if (!selected.isEmpty())
            QCOMPARE(manager->list().SelectedItem().Text(), selected);
        // A sort shown in the header is the order of the rows.
        QStringList keys;
        for (const QString& row : rows())
            keys << row.split(' ')[header->sortIndicatorSection()];
        if (header->sortIndicatorOrder() == Qt::DescendingOrder)
            std::reverse(keys.begin(), keys.end());
        QVERIFY(!header->isSortIndicatorShown() || std::is_sorted(keys.begin(), keys.end()));
        // Users changes with Apply alone, into the rows with order values 1 to n.
        const bool applied = steps.contains("A");
        QCOMPARE(manager->isVisible(), !(applied || steps.contains("C") || steps.contains("X")));
        QCOMPARE(texts(Global::Users), applied ? texts(table(expected)) : texts(before));
    }

    void addOffersAFreeNameWithTheDefaultAddressAndPort()
    {
        // NewUser1 is taken only with another address, so it is offered again; then NewUser2.
        open(table({"localhost 127.0.0.1 505", "NewUser1 10.9.9.9 7"}));
        for (int i = 0; i < 2; ++i)
            edit(manager->adduser, [](Modify_or_add* editor) { editor->oksave->click(); });
        QCOMPARE(rows().mid(2), (QStringList{"NewUser1 10.1.2.3 5050", "NewUser2 10.1.2.3 5050"}));
        QCOMPARE(manager->list().SelectedItem().Index(), 1);
    }

    void editorRefusesInputAndKeepsLocalhost_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("typed"); // name, address, port as keys; null: left as shown
        QTest::addColumn<QString>("message");   // empty: accepted
        QTest::addColumn<int>("field");         // 0 name, 1 address, 2 port; -1: localhost
        QTest::addColumn<QString>("result");    // the row afterwards
        const QString no, cy = "Cy 10.0.0.3 3";
        const auto add = [](const char* tag, int row, const QStringList& typed,
                            const QString& message, int field, const QString& result) {
            QTest::newRow(tag) << row << typed << message << field << result;
        };
        add("blank name", 3, {"   ", "1.2.3.4", "80"},
            "Invalid User Name (lenght must be between 1 and 128)", 0, cy);
        add("short address", 3, {"n", "1.2.3", "80"}, "Invalid ip address", 1, cy);
        add("port too high", 3, {"n", "1.2.3.4", "65536"}, "Invalid port number", 2, cy);
        add("name and address of another row", 3, {"  Bob  ", "10.0.0.1", no},
            "User Name and IP already in Use", 0, cy);
        add("that name with another address", 3, {" Bob ", "10.0.0.4", no}, no, 0,
            "Bob 10.0.0.4 3");
        add("unchanged name onto its namesake's address", 1, {no, "10.0.0.2", no}, no, 0,
            "Bob 10.0.0.2 1");
        add("letters, spaces and signs are not typed", 3, {no, "1a0.0 -.0.9x", "8.0 -x12\b"}, no, 0,
            "Cy 10.0.0.9 801");
        add("localhost: only the port", 4, {no, no, "600"}, no, -1, "localhost 127.0.0.1 600");
        add("other capitals are not kept", 5, {"L", "127.0.0.9", "600"}, no, 0, "L 127.0.0.9 600");
    }
    void editorRefusesInputAndKeepsLocalhost()
    {
        QFETCH(int, row);
        QFETCH(QStringList, typed);
        QFETCH(QString, message);
        QFETCH(int, field);
        open(table({"Bob 10.0.0.1 1", "Bob 10.0.0.2 2", "Cy 10.0.0.3 3", "localhost 127.0.0.1 505",
                    "Localhost 127.0.0.2 5"}));
        select(row);
        edit(manager->moduser, [&](Modify_or_add* editor) {
            QLineEdit* fields[] = {editor->username, editor->userip, editor->userport};
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(fields[i]->isEnabled(), i == 2 || field >= 0);
                if (!typed[i].isNull()) {
                    fields[i]->clear();
                    QTest::keyClicks(fields[i], typed[i]);
                }
            }
            editor->oksave->click();
            if (message.isEmpty())
                return;
            QCOMPARE(recorder.said(), {"Error: " + message});
            QCOMPARE(editor->focusWidget(), fields[field]);
            // Enter and Escape press nothing either.
            QTest::keyClick(editor->username, Qt::Key_Return);
            QTest::keyClick(editor, Qt::Key_Escape);
            QVERIFY(editor->isVisible());
            editor->cancelsave->click();
        });
        QCOMPARE(recorder.boxes.size(), message.isEmpty() ? 0 : 1);
        QTEST(rows().value(row - 1), "result");
    }

    void clipboardKeysTakeTheWholeField()
    {
        open(table(Known.mid(0, 4)));
        select(1);
        edit(manager->moduser, [](Modify_or_add* editor) {
            // Ctrl+C copies the whole field, not the selection; Ctrl+V replaces the whole
            // field unfiltered, cut to the box's limit; Ctrl+X does nothing.
            editor->userip->setSelection(0, 1);
            QTest::keyClick(editor->userip, Qt::Key_C, Qt::ControlModifier);
            QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("10.0.0.3"));
            QApplication::clipboard()->setText("letters and more");
            QTest::keyClick(editor->userport, Qt::Key_V, Qt::ControlModifier);
            editor->userport->selectAll();
            QTest::keyClick(editor->userport, Qt::Key_X, Qt::ControlModifier);
            QCOMPARE(editor->userport->text(), QStringLiteral("lette"));
            editor->oksave->click();
        });
        QCOMPARE(rows().value(0), QStringLiteral("A 10.0.0.3 0"));
    }

    void removeProtectsOnlyLocalhost()
    {
        open(table({"localhost 127.0.0.1 505", "LocalHost 127.0.0.1 505"}));
        for (const int row : {1, 2}) {
            select(row);
            manager->removeuser->click();
        }
        QCOMPARE(rows(), QStringList{"localhost 127.0.0.1 505"});
        QCOMPARE(recorder.said(), {"Error: Cannot delete localhost"});
    }

    void mainWindowRefillsAfterTheManager()
    {
        SendForm form;
        QVERIFY(form.Form_Load());
        form.show();
        // Apply shows the new list, Cancel the old; the first line is selected either way.
        for (const bool apply : {true, false}) {
            Global::Users = table(Known.mid(0, 4));
            form.FillRecipients(2);
            WhenModal<ModifyUser>([&form, apply](ModifyUser* opened) {
                opened->ResetDefault->click();
                (apply ? opened->SaveOption : opened->ReturnCmd)->click();
                QCOMPARE(opened->parentWidget(), &form);
            });
            form.Adduser->click();
            QCOMPARE(form.Combo1->count(), apply ? 1 : 4);
            QCOMPARE(form.Combo1->currentText(),
                     apply ? QStringLiteral("localhost (127.0.0.1: 505)") : "A (10.0.0.3: 5051)");
        }
        form.Form_Unload();
    }
};

QTEST_MAIN(TestUserList)
#include "tst_userlist.moc"
