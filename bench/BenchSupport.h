#pragma once
// What the benchmarks share: stopping loudly on a failed check, and summarising timings.

#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bench {

// Set by each benchmark's main(), for its messages.
inline const char* programName = "bench";

[[noreturn]] inline void fail(const QString& what)
{
    std::fprintf(stderr, "%s: %s\n", programName, qPrintable(what));
    std::exit(1);
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

// Nearest rank.
inline double p90(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t rank = (values.size() * 9 + 9) / 10;
    return values[rank - 1];
}

} // namespace bench
