#include "app/Validation.h"

#include "app/Conversions.h"

namespace {

// Only U+0020 counts as a space here; tabs are not trimmed.
QString trimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

bool IsValidIp(const QString& address, QString& normalised)
{
    QString work = trimSpaces(address);
    int dots = 0;
    for (const QChar c : work) {
        if (c == QLatin1Char('.'))
            ++dots;
        else if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    if (dots != 3)
        return false;

    normalised.clear();
    work += QLatin1Char('.');
    for (int part = 0; part < 4; ++part) {
        const qsizetype dot = work.indexOf(QLatin1Char('.'));
        int value = 0;
        for (const QChar c : QStringView(work).left(dot)) {
            value = value * 10 + (c.unicode() - u'0');
            if (value > 255)
                return false;
        }
        normalised += QString::number(value);
        if (part < 3)
            normalised += QLatin1Char('.');
        work.remove(0, dot + 1);
    }
    return true;
}

bool IsValidPort(const QString& text, std::int32_t& port)
{
    const std::optional<std::int32_t> number = RoundToInt32(NumericValue(text));
    port = number.value_or(0);
    return number && *number >= 0 && *number <= 65535;
}

bool IsValidUserName(const QString& name, QString& trimmed)
{
    trimmed = trimSpaces(name);
    return !trimmed.isEmpty() && trimmed.size() <= Global::MaxUserNameLength &&
           !trimmed.contains(QChar(u'\0'));
}

bool FindUser(const UserTable& users, const QString& name, const QString& ip)
{
    for (int i = 1; i <= UBound(users); ++i) {
        const UserRecord& user = users[static_cast<std::size_t>(i)];
        if (user.name == name && user.ip == ip)
            return true;
    }
    return false;
}

bool IsUserInList(const UserRows& list, const QString& name, const QString& ip)
{
    const int count = list.rowCount();
    for (int row = 1; row <= count; ++row) {
        if (list.rowName(row) == name && list.rowIp(row) == ip)
            return true;
    }
    return false;
}
