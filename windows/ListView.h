#pragma once
// A report-style list of rows with a text and sub-items, over QTreeWidget, offering the
// operations the user list window is written in: ListItems.Add / Remove / Item, SubItems,
// Index, SelectedItem, HitTest and the Sorted / SortKey / SortOrder state.

#include "app/Validation.h"

#include <QPoint>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

// One row; a null row stands for "none".
class ListItem
{
public:
    ListItem() = default;
    explicit ListItem(QTreeWidgetItem* row) : item(row) {}
    bool isNull() const { return item == nullptr; }
    bool operator==(const ListItem& other) const { return item == other.item; }
    bool operator!=(const ListItem& other) const { return item != other.item; }

    QString Text() const;
    void setText(const QString& text);
    // Sub-items count from 1: 1 is the second column.
    QString SubItems(int index) const;
    void setSubItems(int index, const QString& text);
    // Position from 1.
    int Index() const;

private:
    QTreeWidgetItem* item = nullptr;
    friend class ListView;
    friend class ListItemCollection;
};

class ListItemCollection
{
public:
    explicit ListItemCollection(QTreeWidget* view) : tree(view) {}
    void Clear();
    // Appends a row.
    ListItem Add(const QString& text);
    // Inserts a row at `index` (from 1); the rows from there on move one place down.
    ListItem Add(int index, const QString& text);
    int Count() const;
    ListItem Item(int index) const;
    // Removes the row at `index`; the rows behind it move one place up.
    void Remove(int index);

private:
    QTreeWidget* tree;
};

class ListView : public UserRows
{
public:
    explicit ListView(QTreeWidget* view);

    ListItemCollection ListItems;

    ListItem SelectedItem() const;
    void setSelectedItem(const ListItem& item);
    // The row at a point of the list's viewport, or a null row.
    ListItem HitTest(const QPoint& point) const;

    bool Sorted() const { return sorted; }
    // True orders the rows by the text of the key column; False leaves them as they stand.
    void setSorted(bool on);
    int SortKey = 0;   // column from 0
    int SortOrder = 0; // 0 ascending, 1 descending

    int rowCount() const override { return ListItems.Count(); }
    QString rowName(int row) const override { return ListItems.Item(row).Text(); }
    QString rowIp(int row) const override { return ListItems.Item(row).SubItems(1); }

private:
    QTreeWidget* tree;
    bool sorted = false;
};
