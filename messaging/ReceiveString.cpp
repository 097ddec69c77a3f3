#include "messaging/ReceiveString.h"

#include "app/Conversions.h"

#include <algorithm>
#include <cstring>

namespace {

// The text box holds bare LF line breaks; the wire wants CR LF.
QString withCrLf(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.count(QLatin1Char('\n')));
    QChar previous;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') && previous != QLatin1Char('\r'))
            out += QLatin1Char('\r');
        out += c;
        previous = c;
    }
    return out;
}

} // namespace

QString BuildMessageRecord(const QString& userName, std::int32_t replyPort, const QString& text)
{
    return userName + QChar(u'\0') + IntegerText(replyPort) + QChar(u'\0') + withCrLf(text);
}

QByteArray MessageRecordBytes(const QString& userName, std::int32_t replyPort, const QString& text)
{
    return BuildMessageRecord(userName, replyPort, text).toLocal8Bit();
}

QString CopyDataToString(QByteArrayView block)
{
    char buffer[CopyDataBufferSize] = {};
    // Longer blocks are cut so that the buffer's last byte stays zero.
    const qsizetype length = std::min<qsizetype>(block.size(), CopyDataBufferSize - 1);
    if (length > 0)
        std::memcpy(buffer, block.data(), static_cast<std::size_t>(length));
    QString text = QString::fromLocal8Bit(buffer, CopyDataBufferSize);
    text.truncate(text.lastIndexOf(QChar(u'\0')));
    // The zero padding after a short block stands for one final separator, no more: a
    // block that ends after its address must not read as having an empty port. Zeros the
    // block sends itself all count: one ending in two of them has an empty port.
    qsizetype end = text.size();
    while (end > 0 && text[end - 1] == QChar(u'\0'))
        --end;
    const qsizetype own = QString::fromLocal8Bit(buffer, length).size();
    text.truncate(std::max(end + 1, own));
    return text;
}

std::optional<ReplyRequest> SplitReplyRequest(const QString& text)
{
    const QChar nul(u'\0');
    const qsizetype first = text.indexOf(nul);
    if (first < 0)
        return std::nullopt;
    const qsizetype second = text.indexOf(nul, first + 1);
    if (second < 0)
        return std::nullopt;
    const qsizetype third = text.indexOf(nul, second + 1);
    if (third < 0)
        return std::nullopt;
    return ReplyRequest{text.left(first), text.mid(first + 1, second - first - 1),
                        text.mid(second + 1, third - second - 1)};
}

QByteArray ReplyRequestBlock(const QString& name, const QString& ip, const QString& port)
{
    QByteArray block = name.toLocal8Bit();
    block += '\0';
    block += ip.toLocal8Bit();
    block += '\0';
    block += port.toLocal8Bit();
    block += '\0';
    return block;
}
