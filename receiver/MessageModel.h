#pragma once
// The messages the window lists, received and sent, newest first, in a ring of fixed capacity so
// that a flood of senders cannot take more memory than the window can show. Messages stored
// together arrive as one insert.

#include "history/History.h"

#include <QAbstractTableModel>
#include <vector>

class MessageModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TimeColumn, NameColumn, AddressColumn, StatusColumn, TextColumn, ColumnCount };

    explicit MessageModel(int capacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // `messages` oldest first; the oldest rows make room when the ring is full.
    void prepend(const QList<StoredMessage>& messages);
    // `messages` newest first.
    void replace(const QList<StoredMessage>& messages);
    const StoredMessage& message(int row) const { return at(row).message; }
    int rowOf(qint64 id) const;
    // Gives messages that were waiting to be stored the ids they have now.
    void renumber(const QHash<qint64, qint64>& ids);
    // What the list and the detail say about cut, malformed and incomplete records.
    static QString remarks(const StoredMessage& message);
    static QString displayName(const StoredMessage& message);
    // Received, or what became of a message sent; in words, for everyone.
    static QString status(const StoredMessage& message);

private:
    struct Row
    {
        StoredMessage message;
        QString time;
        QString summary;
    };
    static Row rowFor(const StoredMessage& message);
    const Row& at(int row) const;

    std::vector<Row> ring; // ring[(first + count - 1 - row) % capacity] is row `row`
    std::size_t first = 0;
    std::size_t count = 0;
};
