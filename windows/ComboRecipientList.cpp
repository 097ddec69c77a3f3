#include "windows/ComboRecipientList.h"

#include <QAbstractListModel>
#include <QComboBox>

class UserLines : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void setUsers(const UserTable& table)
    {
        beginResetModel();
        users = table;
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : std::max(0, UBound(users));
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
            return QVariant();
        return UserComboLine(users[static_cast<std::size_t>(index.row()) + 1]);
    }

private:
    UserTable users;
};

ComboRecipientList::ComboRecipientList(QComboBox* box) : combo(box)
{
    if (combo) {
        lines = new UserLines(combo);
        combo->setModel(lines);
    }
}

void ComboRecipientList::showUsers(const UserTable& users)
{
    lines->setUsers(users);
}

int ComboRecipientList::count() const
{
    return combo->count();
}

void ComboRecipientList::setCurrentIndex(int index)
{
    combo->setCurrentIndex(index);
}
