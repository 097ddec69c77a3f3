#include "windows/ModifyUser.h"

#include "app/Conversions.h"
#include "app/StoreKeys.h"
#include "app/StoreSettings.h"
#include "windows/MessageBox.h"
#include "windows/Modify_or_add.h"
#include "windows/WindowPlacement.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString portText(std::int32_t port)
{
    return IntegerText(port);
}

std::int32_t portValue(const QString& text)
{
    return TextToInteger(text).value_or(0);
}

} // namespace

ModifyUser::ModifyUser(QWidget* parent)
    : FormDialog(parent, Reopening::AsClosed), listuser(new QTreeWidget(this)), rows(listuser)
{
    setObjectName(QStringLiteral("ModifyUser"));
    setWindowTitle(QStringLiteral("Modify User"));
    buildControls();
    load();
}

void ModifyUser::buildControls()
{
    Frm = new QGroupBox(QStringLiteral("User list"), this);
    Frm->setObjectName(QStringLiteral("Frm"));
    listuser->setParent(Frm);
    listuser->setObjectName(QStringLiteral("listuser"));
    // A list takes no name from its frame's title; screen readers need one.
    listuser->setAccessibleName(QStringLiteral("User list"));
    listuser->setRootIsDecorated(false);
    listuser->setUniformRowHeights(true);
    listuser->setSelectionMode(QAbstractItemView::SingleSelection);
    listuser->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listuser->setContextMenuPolicy(Qt::NoContextMenu);
    listuser->setHeaderLabels(
        {QStringLiteral("User Name"), QStringLiteral("User IP"), QStringLiteral("User Port")});
    QHeaderView* header = listuser->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setSectionResizeMode(QHeaderView::Stretch);
    listuser->setMinimumWidth(listuser->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 30);
    listuser->viewport()->installEventFilter(this);
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int section) { listuser_ColumnClick(section + 1); });

    auto* frame = new QVBoxLayout(Frm);
    frame->addWidget(listuser);

    adduser = MakeButton(this, "adduser", QStringLiteral("Add"));
    moduser = MakeButton(this, "moduser", QStringLiteral("Modify"));
    removeuser = MakeButton(this, "removeuser", QStringLiteral("Remove"));
    LoadOption = MakeButton(this, "LoadOption", QStringLiteral("Load"));
    SaveOption = MakeButton(this, "SaveOption", QStringLiteral("Apply"));
    ResetDefault = MakeButton(this, "ResetDefault", QStringLiteral("Reset"));
    ReturnCmd = MakeButton(this, "ReturnCmd", QStringLiteral("Cancel"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Frm, 0, 0, 1, 4);
    grid->addWidget(adduser, 1, 0);
    grid->addWidget(moduser, 1, 1);
    grid->addWidget(removeuser, 1, 2);
    grid->addWidget(LoadOption, 2, 0);
    grid->addWidget(SaveOption, 2, 1);
    grid->addWidget(ResetDefault, 2, 2);
    grid->addWidget(ReturnCmd, 2, 3);

    mainmn = new QMenu(QStringLiteral("ListView Option"), this);
    mainmn->setObjectName(QStringLiteral("mainmn"));
    const char* captions[] = {"", "Move &First", "Move &Up", "Move &Down", "Move &Last"};
    for (int index = 1; index <= 4; ++index) {
        ListViewmn[index] = mainmn->addAction(QString::fromLatin1(captions[index]));
        ListViewmn[index]->setObjectName(QStringLiteral("ListViewmn%1").arg(index));
        connect(ListViewmn[index], &QAction::triggered, this,
                [this, index] { ListViewmn_Click(index); });
    }

    connect(adduser, &QPushButton::clicked, this, &ModifyUser::adduser_Click);
    connect(moduser, &QPushButton::clicked, this, &ModifyUser::moduser_Click);
    connect(removeuser, &QPushButton::clicked, this, &ModifyUser::removeuser_Click);
    connect(LoadOption, &QPushButton::clicked, this, &ModifyUser::LoadOption_Click);
    connect(SaveOption, &QPushButton::clicked, this, &ModifyUser::SaveOption_Click);
    connect(ResetDefault, &QPushButton::clicked, this, &ModifyUser::ResetDefault_Click);
    connect(ReturnCmd, &QPushButton::clicked, this, &ModifyUser::ReturnCmd_Click);
}

void ModifyUser::Form_Load()
{
    FillUserList(Global::Users);
    resize(sizeHint());
    RestoreWindowPosition(this, WindowPrefix::ModifyUser);
}

void ModifyUser::Form_Unload()
{
    StoreWindowPosition(this, WindowPrefix::ModifyUser);
}

void ModifyUser::FillUserList(const UserTable& table)
{
    DragItem = ListItem();
    // A filled list starts unsorted, in table order.
    rows.setSorted(false);
    rows.ListItems.Clear();
    const int n = UBound(table);
    // For each order value 1..n, the first entry that carries it: entries with an order
    // outside 1..n, or one already taken further up, are not shown.
    std::vector<int> positionOfOrder(static_cast<std::size_t>(n) + 1, 0);
    for (int j = 1; j <= n; ++j) {
        const int order = table[static_cast<std::size_t>(j)].order;
        if (order >= 1 && order <= n && positionOfOrder[static_cast<std::size_t>(order)] == 0)
            positionOfOrder[static_cast<std::size_t>(order)] = j;
    }
    QList<QTreeWidgetItem*> items;
    items.reserve(n);
    for (int k = 1; k <= n; ++k) {
        const int j = positionOfOrder[static_cast<std::size_t>(k)];
        if (j == 0)
            continue;
        const UserRecord& record = table[static_cast<std::size_t>(j)];
        items.append(
            new QTreeWidgetItem(QStringList{record.name, record.ip, portText(record.port)}));
    }
    // One insertion for the whole table keeps long lists quick to open.
    listuser->addTopLevelItems(items);
    // Like the list controls users know, start with the first row selected.
    if (!items.isEmpty())
        rows.setSelectedItem(rows.ListItems.Item(1));
}

void ModifyUser::AddUserItem(const UserRecord& record)
{
    ListItem row = rows.ListItems.Add(record.name);
    row.setSubItems(1, record.ip);
    row.setSubItems(2, portText(record.port));
}

void ModifyUser::adduser_Click()
{
    for (int i = 1; i <= Global::MaxUsers; ++i) {
        const QString candidate = QStringLiteral("NewUser") + QString::number(i);
        if (!IsUserInList(rows, candidate, Global::DefaultIp)) {
            Global::EditedUser.name = candidate;
            break;
        }
    }
    Global::EditedUser.ip = Global::DefaultIp;
    Global::EditedUser.port = Global::DefaultPort;
    Global::EditCancelled = true;
    Modify_or_add editor(rows, this);
    editor.exec();
    if (!Global::EditCancelled)
        AddUserItem(Global::EditedUser);
}

void ModifyUser::moduser_Click()
{
    ListItem selected = rows.SelectedItem();
    if (selected.isNull())
        return;
    Global::EditedUser.name = selected.Text();
    Global::EditedUser.ip = selected.SubItems(1);
    Global::EditedUser.port = portValue(selected.SubItems(2));
    Modify_or_add editor(rows, this);
    editor.exec();
    // After Cancel EditedUser still holds the row's own values.
    selected.setText(Global::EditedUser.name);
    selected.setSubItems(1, Global::EditedUser.ip);
    selected.setSubItems(2, portText(Global::EditedUser.port));
}

void ModifyUser::removeuser_Click()
{
    const ListItem selected = rows.SelectedItem();
    if (selected.isNull())
        return;
    if (selected.Text() == Stored::DefaultUserName) {
        ShowMessage(this, QStringLiteral("Cannot delete localhost"), QStringLiteral("Error"));
        return;
    }
    rows.ListItems.Remove(selected.Index());
}

void ModifyUser::LoadOption_Click()
{
    FillUserList(Global::Users);
}

void ModifyUser::ResetDefault_Click()
{
    FillUserList(Global::DefaultUsers);
}

void ModifyUser::SaveOption_Click()
{
    const int n = rows.ListItems.Count();
    UserTable users = DimUsers(n);
    for (int i = 1; i <= n; ++i) {
        const ListItem row = rows.ListItems.Item(i);
        users[static_cast<std::size_t>(i)] = {row.Text(), row.SubItems(1),
                                              portValue(row.SubItems(2)), i};
    }
    Global::Users = std::move(users);
    accept();
}

void ModifyUser::ReturnCmd_Click()
{
    reject();
}

ListItem ModifyUser::MoveRow(ListItem row, int target)
{
    const QString name = row.Text();
    const QString ip = row.SubItems(1);
    const std::int32_t port = portValue(row.SubItems(2));
    rows.ListItems.Remove(row.Index());
    ListItem moved = rows.ListItems.Add(target, name);
    moved.setSubItems(1, ip);
    moved.setSubItems(2, portText(port));
    rows.setSelectedItem(moved);
    return moved;
}

void ModifyUser::ListViewmn_Click(int index)
{
    rows.setSorted(false);
    const ListItem selected = rows.SelectedItem();
    if (selected.isNull())
        return;
    const int p = selected.Index();
    const int c = rows.ListItems.Count() - 1; // rows left once it is taken out
    int target = 1;
    switch (index) {
    case 1:
        target = 1;
        break;
    case 2:
        target = p <= 1 ? 1 : p - 1;
        break;
    case 3:
        target = p >= c ? c + 1 : p + 1;
        break;
    default:
        target = c + 1;
        break;
    }
    MoveRow(selected, target);
}

void ModifyUser::listuser_ColumnClick(int column)
{
    const int k = column - 1;
    if (rows.SortKey != k) {
        rows.SortKey = k;
        rows.SortOrder = 0;
    } else {
        rows.SortOrder = rows.SortOrder == 0 ? 1 : 0;
    }
    rows.setSorted(true);
}

bool ModifyUser::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != listuser->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        listuser_MouseDown(mouse->button(), mouse->position().toPoint());
        // A right press is the menu's alone; a left press also selects the row as usual.
        return mouse->button() == Qt::RightButton;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        listuser_MouseMove(mouse->buttons(), mouse->position().toPoint());
        // While dragging, the list must not move its selection by itself.
        return mouse->buttons() == Qt::LeftButton;
    }
    case QEvent::MouseButtonRelease:
        listuser_MouseUp(static_cast<QMouseEvent*>(event)->button());
        return false;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void ModifyUser::listuser_MouseDown(Qt::MouseButton button, const QPoint& point)
{
    if (button == Qt::LeftButton) {
        DragItem = rows.HitTest(point);
        NoDrag = DragItem.isNull();
    } else if (button == Qt::RightButton) {
        // As list controls do, a right press on a row selects it first.
        if (const ListItem hit = rows.HitTest(point); !hit.isNull())
            rows.setSelectedItem(hit);
        const int p = rows.SelectedItem().Index();
        const int n = rows.ListItems.Count();
        const bool hasSelection = !rows.SelectedItem().isNull();
        ListViewmn[1]->setEnabled(hasSelection && p != 1);
        ListViewmn[2]->setEnabled(hasSelection && p != 1);
        ListViewmn[3]->setEnabled(hasSelection && p != n);
        ListViewmn[4]->setEnabled(hasSelection && p != n);
        mainmn->popup(listuser->viewport()->mapToGlobal(point));
    }
}

void ModifyUser::listuser_MouseMove(Qt::MouseButtons buttons, const QPoint& point)
{
    if (buttons != Qt::LeftButton || NoDrag || DragItem.isNull())
        return;
    const ListItem target = rows.HitTest(point);
    if (target.isNull() || target == DragItem)
        return;
    rows.setSorted(false);
    DragItem = MoveRow(DragItem, target.Index());
}

void ModifyUser::listuser_MouseUp(Qt::MouseButton button)
{
    if (button == Qt::LeftButton && !NoDrag) {
        DragItem = ListItem();
        NoDrag = true;
    }
}
