#include "receiver/ConversationModel.h"

#include <QFont>

int ConversationModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(conversations.size()) + 1;
}

QVariant ConversationModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    if (index.row() == 0)
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("All messages")) : QVariant();
    const Conversation& c = conversations[index.row() - 1];
    if (role == Qt::DisplayRole) {
        // The count is text, so that screen readers say it too.
        const QString line = (c.with.name.isEmpty() ? QStringLiteral("(no name)") : c.with.name) +
                             QStringLiteral(" (") + c.with.address + QLatin1Char(')');
        return c.unread > 0 ? line + QStringLiteral(", %1 unread").arg(c.unread) : line;
    }
    if (role == Qt::FontRole && c.unread > 0) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    return QVariant();
}

void ConversationModel::replace(const QList<Conversation>& found)
{
    beginResetModel();
    conversations = found;
    endResetModel();
}

std::optional<Correspondent> ConversationModel::correspondentAt(int row) const
{
    if (row < 1 || row > conversations.size())
        return std::nullopt;
    return conversations[row - 1].with;
}

int ConversationModel::rowOf(const std::optional<Correspondent>& with) const
{
    if (!with)
        return 0;
    for (int i = 0; i < conversations.size(); ++i)
        if (conversations[i].with == *with)
            return i + 1;
    return -1;
}

int ConversationModel::unreadOf(const Correspondent& with) const
{
    const int row = rowOf(with);
    return row > 0 ? conversations[row - 1].unread : 0;
}
