#pragma once
// The list beside the messages: "All messages" first, then one line per correspondent,
// newest conversation first, with the number of messages not read yet.

#include "history/History.h"

#include <QAbstractListModel>
#include <optional>

class ConversationModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void replace(const QList<Conversation>& found);
    // None for the first line, "All messages".
    std::optional<Correspondent> correspondentAt(int row) const;
    int rowOf(const std::optional<Correspondent>& with) const;
    int unreadOf(const Correspondent& with) const;

private:
    QList<Conversation> conversations;
};
