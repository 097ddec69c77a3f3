#include "messaging/MessageRecord.h"

namespace {

QString lineBreaksAsLf(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

std::optional<MessageRecord> ParseMessageRecord(QByteArrayView bytes)
{
    const qsizetype first = bytes.indexOf('\0');
    if (first < 0)
        return std::nullopt;
    const qsizetype second = bytes.indexOf('\0', first + 1);
    if (second < 0)
        return std::nullopt;
    MessageRecord record;
    record.name = QString::fromLocal8Bit(bytes.first(first));
    record.port = QString::fromLocal8Bit(bytes.sliced(first + 1, second - first - 1));
    record.text = lineBreaksAsLf(QString::fromLocal8Bit(bytes.sliced(second + 1)));
    record.text.replace(QChar(u'\0'), QChar(u'\u2400'));
    return record;
}

QString EscapedBytes(QByteArrayView bytes)
{
    static const char hex[] = "0123456789abcdef";
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\0':
            out += QLatin1String("\\0");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        default:
            if (byte >= 0x20 && byte < 0x7f) {
                out += QLatin1Char(c);
            } else {
                out += QLatin1String("\\x");
                out += QLatin1Char(hex[byte >> 4]);
                out += QLatin1Char(hex[byte & 0xf]);
            }
        }
    }
    return out;
}
