#include "receiver/MessageModel.h"

#include <QFont>

namespace {

constexpr int SummaryLength = 200;

} // namespace

MessageModel::MessageModel(int capacity, QObject* parent)
    : QAbstractTableModel(parent), ring(static_cast<std::size_t>(std::max(capacity, 1)))
{
}

int MessageModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(count);
}

int MessageModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const MessageModel::Row& MessageModel::at(int row) const
{
    return ring[(first + count - 1 - static_cast<std::size_t>(row)) % ring.size()];
}

QString MessageModel::displayName(const StoredMessage& message)
{
    return message.malformed ? QStringLiteral("malformed") : message.name;
}

QString MessageModel::status(const StoredMessage& message)
{
    if (!message.sent)
        return QStringLiteral("Received");
    switch (message.outcome) {
    case Outcome::Delivered:
        return QStringLiteral("Sent, delivered");
    case Outcome::Failed:
        return QStringLiteral("Sent, failed: ") + message.reason;
    default:
        return QStringLiteral("Sent, stopped");
    }
}

QString MessageModel::remarks(const StoredMessage& message)
{
    QStringList notes;
    if (message.sent) {
        notes << (message.ownName.isEmpty() && message.ownPort.isEmpty()
                      ? QStringLiteral("Sent by you.")
                      : QStringLiteral("Sent by you as %1 with reply port %2.")
                            .arg(message.ownName, message.ownPort));
        if (message.outcome == Outcome::Delivered)
            notes << QStringLiteral("Delivered.");
        else if (message.outcome == Outcome::Failed)
            notes << QStringLiteral("Not delivered: %1.").arg(message.reason);
        else
            notes << QStringLiteral("Stopped before it was delivered.");
    }
    if (message.malformed)
        notes << QStringLiteral("Malformed: fewer than two NUL bytes; the bytes are shown as "
                                "they came.");
    if (message.cut)
        notes << QStringLiteral("Cut at 64 KiB: the sender sent more.");
    if (message.incomplete)
        notes << QStringLiteral("Incomplete: closed before the sender finished.");
    if (message.id < 0)
        notes << QStringLiteral("Not stored yet: kept in memory until the history can take it.");
    return notes.join(QLatin1Char(' '));
}

MessageModel::Row MessageModel::rowFor(const StoredMessage& message)
{
    Row row{
        message, message.received.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
        message.text.left(SummaryLength * 4).section(QLatin1Char('\n'), 0, 0).left(SummaryLength)};
    // The list marks what the detail explains.
    if (message.cut)
        row.summary.prepend(QStringLiteral("(cut) "));
    else if (message.incomplete)
        row.summary.prepend(QStringLiteral("(incomplete) "));
    return row;
}

QVariant MessageModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const Row& row = at(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case TimeColumn:
            return row.time;
        case NameColumn:
            return displayName(row.message);
        case AddressColumn:
            return row.message.address;
        case StatusColumn:
            return status(row.message);
        default:
            return row.summary;
        }
    }
    if (role == Qt::FontRole && index.column() == NameColumn && row.message.malformed) {
        QFont italic;
        italic.setItalic(true);
        return italic;
    }
    if (role == Qt::ToolTipRole && index.column() == TextColumn) {
        const QString notes = remarks(row.message);
        return notes.isEmpty() ? QVariant() : QVariant(notes);
    }
    return QVariant();
}

QVariant MessageModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const QStringList names{QStringLiteral("Time"), QStringLiteral("Name"),
                                   QStringLiteral("Address"), QStringLiteral("Status"),
                                   QStringLiteral("Text")};
    return names.value(section);
}

void MessageModel::prepend(const QList<StoredMessage>& messages)
{
    const std::size_t capacity = ring.size();
    const std::size_t adding = std::min<std::size_t>(messages.size(), capacity);
    if (adding == 0)
        return;
    // Room first, so that no row is ever shown twice.
    const std::size_t dropping = count + adding > capacity ? count + adding - capacity : 0;
    if (dropping > 0) {
        beginRemoveRows(QModelIndex(), static_cast<int>(count - dropping),
                        static_cast<int>(count - 1));
        for (std::size_t i = 0; i < dropping; ++i)
            ring[(first + i) % capacity] = Row();
        first = (first + dropping) % capacity;
        count -= dropping;
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), 0, static_cast<int>(adding - 1));
    for (auto it = messages.end() - static_cast<qsizetype>(adding); it != messages.end(); ++it)
        ring[(first + count++) % capacity] = rowFor(*it);
    endInsertRows();
}

void MessageModel::replace(const QList<StoredMessage>& messages)
{
    beginResetModel();
    std::fill(ring.begin(), ring.end(), Row());
    first = 0;
    count = std::min<std::size_t>(messages.size(), ring.size());
    for (std::size_t i = 0; i < count; ++i)
        ring[count - 1 - i] = rowFor(messages[static_cast<qsizetype>(i)]);
    endResetModel();
}

int MessageModel::rowOf(qint64 id) const
{
    for (int row = 0; row < rowCount(); ++row)
        if (at(row).message.id == id)
            return row;
    return -1;
}

void MessageModel::renumber(const QHash<qint64, qint64>& ids)
{
    for (Row& row : ring)
        if (row.message.id < 0)
            row.message.id = ids.value(row.message.id, row.message.id);
}
