#include "app/IniSection.h"

namespace {

quint32 keyHash(QByteArrayView key)
{
    quint32 hash = 2166136261u; // FNV-1a: keys are short
    for (const char c : key)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    // Mixed so that keys differing only in their last digits spread over the low bits.
    hash ^= hash >> 16;
    hash *= 0x85ebca6bu;
    hash ^= hash >> 13;
    hash *= 0xc2b2ae35u;
    return hash ^ (hash >> 16);
}

} // namespace

qsizetype IniSection::slotOf(QByteArrayView key, quint32 hash) const
{
    if (buckets.empty())
        return -1;
    const std::size_t mask = buckets.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = buckets[i];
        if (slot.entry == Empty)
            return -1;
        if (slot.entry >= 0 && slot.hash == hash && entries[slot.entry].key == key)
            return static_cast<qsizetype>(i);
    }
}

void IniSection::addSlot(quint32 hash, qint32 entry)
{
    const std::size_t mask = buckets.size() - 1;
    std::size_t i = hash & mask;
    while (buckets[i].entry != Empty)
        i = (i + 1) & mask;
    buckets[i] = {hash, entry};
    ++usedSlots;
}

void IniSection::rebuildSlots(qsizetype keys)
{
    std::size_t size = 16;
    while (size < static_cast<std::size_t>(keys) * 2)
        size *= 2;
    buckets.assign(size, Slot());
    usedSlots = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries[i].key.isNull())
            addSlot(keyHash(entries[i].key), static_cast<qint32>(i));
    }
}

std::optional<QString> IniSection::value(const QString& key) const
{
    const QByteArray utf8 = key.toUtf8();
    const qsizetype slot = slotOf(utf8, keyHash(utf8));
    if (slot < 0)
        return std::nullopt;
    return QString::fromUtf8(entries[buckets[slot].entry].value);
}

const QByteArray* IniSection::findUtf8(QByteArrayView key) const
{
    const qsizetype slot = slotOf(key, keyHash(key));
    return slot < 0 ? nullptr : &entries[buckets[slot].entry].value;
}

void IniSection::set(const QString& key, const QString& value)
{
    setUtf8(key.toUtf8(), value.toUtf8());
}

void IniSection::setUtf8(const QByteArray& key, const QByteArray& value)
{
    const quint32 hash = keyHash(key);
    const qsizetype slot = slotOf(key, hash);
    if (slot >= 0) {
        entries[buckets[slot].entry].value = value;
        return;
    }
    // At most half full, so that probes stay short.
    if ((usedSlots + 1) * 2 > static_cast<qsizetype>(buckets.size()))
        rebuildSlots(2 * live + 16);
    entries.append({key, value});
    addSlot(hash, static_cast<qint32>(entries.size() - 1));
    ++live;
}

void IniSection::remove(const QString& key)
{
    const QByteArray utf8 = key.toUtf8();
    const qsizetype slot = slotOf(utf8, keyHash(utf8));
    if (slot < 0)
        return;
    entries[buckets[slot].entry] = {};
    buckets[slot].entry = Removed;
    --live;
    if (entries.size() > 2 * live + 16) {
        entries.removeIf([](const Entry& e) { return e.key.isNull(); });
        rebuildSlots(live);
    }
}

void IniSection::clear()
{
    const qsizetype keys = live;
    entries.clear();
    source.clear();
    live = 0;
    reserve(keys);
}

void IniSection::reserve(qsizetype keys)
{
    entries.reserve(keys);
    if (static_cast<std::size_t>(keys) * 2 > buckets.size())
        rebuildSlots(keys);
    else if (live == 0)
        rebuildSlots(keys); // drops the slots of removed keys but keeps the room
}

SettingPairs IniSection::pairs() const
{
    SettingPairs out;
    out.reserve(live);
    forEach([&out](const QString& key, const QString& value) { out.append({key, value}); });
    return out;
}
