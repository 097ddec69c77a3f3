#pragma once
// The text of the settings store: sections of keys with text values, laid out as the first
// version's stores were written, so that they load unchanged: %-escaped section and key
// names, values quoted when they hold `;`, `,`, `=` or edge blanks, control characters
// \-escaped, UTF-8 throughout.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

using SettingPairs = QList<QPair<QString, QString>>;

// One section: its keys in the order they were read or first written, with their values.
class IniSection
{
public:
    const QString* find(const QString& key) const;
    void set(const QString& key, const QString& value);
    void remove(const QString& key);
    qsizetype size() const { return values.size(); }
    bool isEmpty() const { return values.isEmpty(); }
    SettingPairs pairs() const;
    const QStringList& keys() const { return order; }

private:
    QStringList order;
    QHash<QString, QString> values;
};

// Every section of a store, in the order they were read or first written.
class IniDocument
{
public:
    const IniSection* find(const QString& section) const;
    IniSection& section(const QString& name); // made empty at the end when missing
    void remove(const QString& section);
    // The section's contents become `contents`; with nullptr the section goes.
    void replace(const QString& section, const IniSection* contents);
    const QStringList& sections() const { return order; }

private:
    QStringList order;
    QHash<QString, IniSection> map;
};

// Lines that are neither a section header nor `key=value` are skipped, and so are comments
// (a line starting with `;` or `#`). A value is the text after the first `=`: `;` and `,`
// in it are text. A line that is not valid UTF-8 is read as Latin-1, byte for character,
// so that a hand-edited name in an 8-bit encoding survives the next save.
IniDocument ParseIni(const QByteArray& text);
QByteArray WriteIni(const IniDocument& document);
