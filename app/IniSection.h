#pragma once
// One section of the settings store in memory, with the hash table that finds its keys.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>
#include <vector>

using SettingPairs = QList<QPair<QString, QString>>;

// One section: its keys in the order they were read or first written, with their values.
// Text is kept as UTF-8; what came from the file as it stands points into the file's
// text rather than being copied, so a large store costs little more than its size.
class IniSection
{
public:
    std::optional<QString> value(const QString& key) const;
    // The value as stored, or null.
    const QByteArray* findUtf8(QByteArrayView key) const;
    void set(const QString& key, const QString& value);
    void remove(const QString& key);
    // Empties the section, keeping room for as many keys as it had.
    void clear();
    void reserve(qsizetype keys);
    qsizetype size() const { return live; }
    bool isEmpty() const { return live == 0; }
    SettingPairs pairs() const;
    // Each live pair once, in order, as text.
    template <typename F> void forEach(F f) const
    {
        forEachUtf8([&f](const QByteArray& key, const QByteArray& value) {
            f(QString::fromUtf8(key), QString::fromUtf8(value));
        });
    }
    template <typename F> void forEachUtf8(F f) const
    {
        for (const Entry& entry : entries) {
            if (!entry.key.isNull())
                f(entry.key, entry.value);
        }
    }
    // `key` and `value` may be raw views into `source`, which the section then keeps.
    void setUtf8(const QByteArray& key, const QByteArray& value);
    void keep(const QByteArray& text) { source = text; }

private:
    struct Entry
    {
        QByteArray key; // null once removed, until there are more such than the rest
        QByteArray value;
    };
    // The entries by key: open addressing over a power-of-two table, each slot holding the
    // key's hash beside the entry's position, so that a probe rarely touches a key. It
    // keeps a large store quick to read.
    struct Slot
    {
        quint32 hash = 0;
        qint32 entry = Empty;
    };
    static constexpr qint32 Empty = -1;
    static constexpr qint32 Removed = -2;
    qsizetype slotOf(QByteArrayView key, quint32 hash) const; // the key's slot, or -1
    void addSlot(quint32 hash, qint32 entry);
    void rebuildSlots(qsizetype keys);

    QList<Entry> entries;
    std::vector<Slot> buckets;
    qsizetype live = 0;
    qsizetype usedSlots = 0;
    QByteArray source;
};
