#pragma once
// The two records the program exchanges with the outside: the message record sent over
// TCP (name, NUL, reply port, NUL, text) and the reply request handed over by the message
// receiver (name, NUL, address, NUL, port, NUL).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// The message record as text; line breaks of the text become CR LF.
QString BuildMessageRecord(const QString& userName, std::int32_t replyPort, const QString& text);

// The record as the bytes that go on the wire, in the system's 8-bit encoding.
QByteArray MessageRecordBytes(const QString& userName, std::int32_t replyPort, const QString& text);

// Bytes of a copy-data block are read through a zero-filled 255-byte buffer, so at most the
// first 254 bytes count and the text ends before the buffer's last NUL. The padding after
// a shorter block counts as one NUL: the block's final separator may be left out. The
// block's own bytes, its zeros included, are kept as sent.
constexpr int CopyDataBufferSize = 255;
QString CopyDataToString(QByteArrayView block);

struct ReplyRequest
{
    QString name;
    QString ip;
    QString port;
};

// Empty when the text holds fewer than three NUL separators.
std::optional<ReplyRequest> SplitReplyRequest(const QString& text);

// The block a message receiver sends: name, NUL, address, NUL, port, NUL.
QByteArray ReplyRequestBlock(const QString& name, const QString& ip, const QString& port);
