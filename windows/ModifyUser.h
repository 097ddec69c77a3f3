#pragma once
// "Modify User": the list of correspondents as a working copy, edited with Add, Modify,
// Remove, reordered by menu, dragging or sorting, and put into Users only by Apply.

#include "app/Global.h"
#include "windows/DialogSupport.h"
#include "windows/ListView.h"

class QGroupBox;
class QMenu;
class QPushButton;
class QTreeWidget;
class QAction;

class ModifyUser : public FormDialog
{
    Q_OBJECT
public:
    explicit ModifyUser(QWidget* parent = nullptr);

    QGroupBox* Frm = nullptr;
    QTreeWidget* listuser = nullptr;
    QPushButton* adduser = nullptr;
    QPushButton* moduser = nullptr;
    QPushButton* removeuser = nullptr;
    QPushButton* LoadOption = nullptr;
    QPushButton* SaveOption = nullptr;
    QPushButton* ResetDefault = nullptr;
    QPushButton* ReturnCmd = nullptr;
    QMenu* mainmn = nullptr;
    // Items 1 to 4; slot 0 unused.
    QAction* ListViewmn[5] = {};

    ListView& list() { return rows; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void adduser_Click();
    void moduser_Click();
    void removeuser_Click();
    void LoadOption_Click();
    void SaveOption_Click();
    void ResetDefault_Click();
    void ReturnCmd_Click();
    void listuser_ColumnClick(int column);
    void ListViewmn_Click(int index);

private:
    void buildControls();
    void Form_Load() override;
    void Form_Unload() override;
    void FillUserList(const UserTable& table);
    void AddUserItem(const UserRecord& record);
    // Re-creates the row at `target` and selects it; returns the new row.
    ListItem MoveRow(ListItem row, int target);
    void listuser_MouseDown(Qt::MouseButton button, const QPoint& point);
    void listuser_MouseMove(Qt::MouseButtons buttons, const QPoint& point);
    void listuser_MouseUp(Qt::MouseButton button);

    ListView rows;
    ListItem DragItem;
    bool NoDrag = false;
};
