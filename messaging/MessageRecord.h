#pragma once
// The message record as a message receiver reads it off a connection: name, NUL, reply
// port, NUL, text, in the system's 8-bit encoding.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

struct MessageRecord
{
    QString name;
    QString port; // as the sender wrote it; not checked here
    QString text; // CR LF (and a lone CR) become LF
};

// Empty when the bytes hold fewer than two NUL separators. NULs inside the text are shown
// as the visible symbol for NUL rather than cutting the text short.
std::optional<MessageRecord> ParseMessageRecord(QByteArrayView bytes);

// Every byte made visible: printable ASCII as it is, a backslash doubled, NUL, tab, CR and
// LF as \0 \t \r \n, anything else as \xHH.
QString EscapedBytes(QByteArrayView bytes);
