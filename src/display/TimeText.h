// A record's time as the console and the timeline write it: the local wall
// clock to the microsecond, or a time elapsed.
#pragma once

#include <cstdint>
#include <string>

namespace TimeText {

// "HH:MM:SS.uuuuuu", local time.
std::string WallClock(std::uint64_t qwTimeNs);
// "S.uuuuuu", "-S.uuuuuu" when negative; with bSigned "+S.uuuuuu" otherwise.
std::string Elapsed(std::int64_t nNs, bool bSigned);

} // namespace TimeText
