#include "TimeText.h"

#include <time.h>

#include <cstdio>

namespace TimeText {

std::string WallClock(std::uint64_t qwTimeNs) {
    const time_t nSeconds = time_t(qwTimeNs / 1000000000u);
    tm local{};
    localtime_r(&nSeconds, &local);
    char szTime[32];
    std::snprintf(szTime, sizeof szTime, "%02d:%02d:%02d.%06u", local.tm_hour, local.tm_min,
                  local.tm_sec, unsigned(qwTimeNs % 1000000000u / 1000u));
    return szTime;
}

std::string Elapsed(std::int64_t nNs, bool bSigned) {
    // The magnitude as unsigned: the most negative value has no positive twin.
    const std::uint64_t qwNs = nNs < 0 ? 0 - std::uint64_t(nNs) : std::uint64_t(nNs);
    char szTime[40];
    std::snprintf(szTime, sizeof szTime, "%s%llu.%06u",
                  nNs < 0   ? "-"
                  : bSigned ? "+"
                            : "",
                  (unsigned long long)(qwNs / 1000000000u), unsigned(qwNs % 1000000000u / 1000u));
    return szTime;
}

} // namespace TimeText
