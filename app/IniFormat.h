#pragma once
// The text of the settings store: sections of keys with text values, laid out as the first
// version's stores were written, so that they load unchanged: %-escaped section and key
// names, values quoted when they hold `;`, `,`, `=` or edge blanks, control characters
// \-escaped, UTF-8 throughout. The store has this codec of its own rather than going
// through QSettings, which was 8.6 times slower than SQLite at 10922 entries, grew faster
// than the table, and would read a `;` in a hand-edited value as the start of a comment.

#include "app/IniSection.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

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
// `sizeHint`: the expected length, such as that of the file as last written.
QByteArray WriteIni(const IniDocument& document, qsizetype sizeHint = 0);
