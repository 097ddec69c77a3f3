#include "app/RecipientList.h"

namespace {

// Appends the port as the list shows it (a blank before a number that is not negative, a
// "-" before a negative one) without building a string for it.
void appendSignedNumber(QString& line, std::int32_t value)
{
    char16_t digits[12];
    int at = 12;
    // In 64 bits, so that the most negative value has a magnitude too.
    std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
    do {
        digits[--at] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    digits[--at] = value < 0 ? u'-' : u' ';
    line.append(reinterpret_cast<const QChar*>(digits + at), 12 - at);
}

} // namespace

QString UserComboLine(const UserRecord& user)
{
    // One allocation per line: " (", ":", up to 11 port characters and ")".
    QString line;
    line.reserve(user.name.size() + user.ip.size() + 16);
    line.append(user.name).append(QLatin1String(" (")).append(user.ip).append(u':');
    appendSignedNumber(line, user.port);
    line.append(u')');
    return line;
}

QStringList UserComboLines()
{
    const UserTable& users = Global::Users;
    QStringList lines;
    lines.reserve(UBound(users));
    for (int i = 1; i <= UBound(users); ++i)
        lines.append(UserComboLine(users[static_cast<std::size_t>(i)]));
    return lines;
}

void FillUserCombo(RecipientList& combo, std::int32_t index)
{
    combo.showUsers(Global::Users);
    if (combo.count() >= 1)
        combo.setCurrentIndex(static_cast<std::int16_t>(index));
}
