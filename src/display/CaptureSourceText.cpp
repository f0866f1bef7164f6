#include "CaptureSourceText.h"

#include "VantryProtocol.h"

namespace CaptureSourceText {

std::string Describe(std::string_view strSource) {
    // The driver's text ends up on a terminal: nothing in it may move the
    // cursor or pass for another line.
    std::string strShown;
    for (const char ch : strSource.substr(0, Vantry::MAX_CAPTURE_SOURCE_SIZE))
        strShown += ch >= 0x20 && ch < 0x7F ? ch : '?';
    if (strShown == "replay")
        return "driver: replaying a record file";
    if (strShown == "ptrace")
        return "driver: capturing with ptrace";
    if (strShown.starts_with("ebpf ") && strShown.size() > 5)
        return "driver: capturing with eBPF (" + strShown.substr(5) + ")";
    return "driver: capturing with " + strShown;
}

} // namespace CaptureSourceText
