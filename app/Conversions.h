#pragma once
// The text <-> number and text <-> boolean conversions that the settings store and the
// validation rules rely on. Only "." is a decimal separator, whatever the locale.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

// Reads a number from the start of `text`: "&H"/"&O" followed by hexadecimal or octal
// digits, or an optional sign, digits, one optional "." with digits and an optional
// exponent. `consumed` receives how many characters formed the number (0 when none did).
double ReadLeadingNumber(QStringView text, qsizetype* consumed);

// The lenient reading of a port text: blanks (space, tab, line feed) are ignored wherever
// they stand, and reading stops at the first character that cannot continue the number.
double NumericValue(const QString& text);

// Rounds to the nearest integer, an exact half going to the even neighbour; empty when the
// result does not fit in 32 bits (or the value is not finite).
std::optional<std::int32_t> RoundToInt32(double value);

// The strict reading of a stored integer: surrounding blanks allowed, nothing else around
// the number. Empty when the text is not a number or does not fit in 32 bits.
std::optional<std::int32_t> TextToInteger(const QString& text);

// "True"/"False" in any letter case, or a number (zero is false). Empty for other text.
std::optional<bool> TextToBoolean(const QString& text);

// The plain decimal form: digits, a leading "-" when negative.
QString IntegerText(std::int32_t value);

// "True" or "False".
QString BooleanText(bool value);

// A number as the recipient list shows it: one blank before a value that is not
// negative, a "-" before a negative one (" 505", "-1").
QString SignedNumberText(std::int32_t value);
