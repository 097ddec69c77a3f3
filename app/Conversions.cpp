#include "app/Conversions.h"

#include <QLocale>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value >= 0 && value < base ? value : -1;
}

double readRadix(QStringView text, qsizetype start, int base, qsizetype* consumed)
{
    double value = 0;
    qsizetype i = start;
    for (; i < text.size(); ++i) {
        const int d = digitValue(text[i], base);
        if (d < 0)
            break;
        value = value * base + d;
    }
    *consumed = i;
    return value;
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QStringView trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// The whole text must be one number (after trimming blanks).
std::optional<double> strictNumber(const QString& text)
{
    const QStringView view = trimmedBlanks(text);
    qsizetype consumed = 0;
    const double value = ReadLeadingNumber(view, &consumed);
    if (consumed == 0 || consumed != view.size())
        return std::nullopt;
    return value;
}

} // namespace

double ReadLeadingNumber(QStringView text, qsizetype* consumed)
{
    *consumed = 0;
    if (text.size() >= 2 && text[0] == QLatin1Char('&')) {
        const QChar radix = text[1].toUpper();
        if (radix == QLatin1Char('H') || radix == QLatin1Char('O')) {
            return readRadix(text, 2, radix == QLatin1Char('H') ? 16 : 8, consumed);
        }
        return 0;
    }

    // Most numbers are a few plain digits, exact in a double: read them without building
    // text for the general conversion below.
    {
        qsizetype j = text.size() > 0 && (text[0] == u'+' || text[0] == u'-') ? 1 : 0;
        const qsizetype first = j;
        std::int64_t whole = 0;
        while (j < text.size() && j - first < 15 && isDigit(text[j]))
            whole = whole * 10 + (text[j++].unicode() - u'0');
        const bool more = j < text.size() && (isDigit(text[j]) || text[j] == u'.' ||
                                              text[j] == u'e' || text[j] == u'E');
        if (j > first && !more) {
            *consumed = j;
            const double value = static_cast<double>(whole);
            return first == 1 && text[0] == u'-' ? -value : value;
        }
    }

    qsizetype i = 0;
    QString normal;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        normal += text[i++];
    qsizetype digits = 0;
    QString whole;
    while (i < text.size() && isDigit(text[i])) {
        whole += text[i++];
        ++digits;
    }
    QString fraction;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        qsizetype j = i + 1;
        while (j < text.size() && isDigit(text[j]))
            fraction += text[j++];
        if (digits > 0 || !fraction.isEmpty()) {
            digits += fraction.size();
            i = j;
        }
    }
    if (digits == 0)
        return 0;

    QString exponent;
    if (i < text.size() && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        QString sign;
        if (j < text.size() && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            sign = text[j++];
        QString expDigits;
        while (j < text.size() && isDigit(text[j]))
            expDigits += text[j++];
        if (!expDigits.isEmpty()) {
            exponent = QLatin1Char('e') + sign + expDigits;
            i = j;
        }
    }
    *consumed = i;

    normal += (whole.isEmpty() ? QStringLiteral("0") : whole) + QLatin1Char('.') +
              (fraction.isEmpty() ? QStringLiteral("0") : fraction) + exponent;
    bool ok = false;
    const double value = QLocale::c().toDouble(normal, &ok);
    if (!ok) {
        // Out of double range: an exponent far too large or small.
        const bool tiny = exponent.contains(QLatin1Char('-'));
        if (tiny)
            return 0;
        const bool negative = normal.startsWith(QLatin1Char('-'));
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    return value;
}

double NumericValue(const QString& text)
{
    QString packed;
    packed.reserve(text.size());
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            packed += c;
    }
    qsizetype consumed = 0;
    return ReadLeadingNumber(packed, &consumed);
}

std::optional<std::int32_t> RoundToInt32(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // nearbyint uses the current rounding mode, which is round-half-to-even.
    const double rounded = std::nearbyint(value);
    if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::optional<std::int32_t> TextToInteger(const QString& text)
{
    const std::optional<double> number = strictNumber(text);
    if (!number)
        return std::nullopt;
    return RoundToInt32(*number);
}

std::optional<bool> TextToBoolean(const QString& text)
{
    const QStringView view = trimmedBlanks(text);
    if (view.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (view.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    const std::optional<double> number = strictNumber(text);
    if (!number || std::isnan(*number))
        return std::nullopt;
    return *number != 0;
}

QString IntegerText(std::int32_t value)
{
    return QString::number(value);
}

QString BooleanText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

QString SignedNumberText(std::int32_t value)
{
    return value < 0 ? QString::number(value) : QLatin1Char(' ') + QString::number(value);
}
