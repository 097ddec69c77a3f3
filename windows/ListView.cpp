#include "windows/ListView.h"

#include <QHeaderView>
#include <QTreeWidget>

QString ListItem::Text() const
{
    return item ? item->text(0) : QString();
}

void ListItem::setText(const QString& text)
{
    if (item)
        item->setText(0, text);
}

QString ListItem::SubItems(int index) const
{
    return item ? item->text(index) : QString();
}

void ListItem::setSubItems(int index, const QString& text)
{
    if (item)
        item->setText(index, text);
}

int ListItem::Index() const
{
    if (!item || !item->treeWidget())
        return 0;
    return item->treeWidget()->indexOfTopLevelItem(item) + 1;
}

void ListItemCollection::Clear()
{
    tree->clear();
}

ListItem ListItemCollection::Add(const QString& text)
{
    return Add(Count() + 1, text);
}

ListItem ListItemCollection::Add(int index, const QString& text)
{
    auto* item = new QTreeWidgetItem(QStringList{text});
    tree->insertTopLevelItem(index - 1, item);
    return ListItem(item);
}

int ListItemCollection::Count() const
{
    return tree->topLevelItemCount();
}

ListItem ListItemCollection::Item(int index) const
{
    return ListItem(tree->topLevelItem(index - 1));
}

void ListItemCollection::Remove(int index)
{
    delete tree->takeTopLevelItem(index - 1);
}

ListView::ListView(QTreeWidget* view) : ListItems(view), tree(view) {}

ListItem ListView::SelectedItem() const
{
    const QList<QTreeWidgetItem*> selected = tree->selectedItems();
    return ListItem(selected.isEmpty() ? nullptr : selected.first());
}

void ListView::setSelectedItem(const ListItem& item)
{
    tree->setCurrentItem(item.item);
}

ListItem ListView::HitTest(const QPoint& point) const
{
    return ListItem(tree->itemAt(point));
}

void ListView::setSorted(bool on)
{
    sorted = on;
    tree->header()->setSortIndicatorShown(on);
    if (!on)
        return;
    const Qt::SortOrder order = SortOrder == 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
    tree->header()->setSortIndicator(SortKey, order);
    tree->sortItems(SortKey, order);
}
