#pragma once
// How long the receiver keeps messages: a number of days from the store, 0 for ever. Older
// messages are deleted when the receiver starts.

#include <QString>
#include <array>

namespace Retention {

// The periods offered besides keeping everything, longest first.
inline constexpr std::array<int, 4> Choices{365, 90, 30, 7};

// The stored period; a negative one reads as keeping everything.
int StoredDays();
void SaveDays(int days);
// How a period reads in the window.
QString DaysText(int days);

} // namespace Retention
