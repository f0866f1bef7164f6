#include "ProcessRecord.h"

#include "VantryProtocol.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <string>
#include <vector>

using namespace Vantry;

namespace ProcessRecord {

bool IsNameable(const CPortEvent& event) {
    return event.dwProcessId != 0 && event.uidProcess != EVERY_VIEWER &&
           event.nType != CAPTURE_PROCESS;
}

CSharedRecord Make(const CPortEvent& event) {
    const std::string strProc = "/proc/" + std::to_string(event.dwProcessId) + "/";
    std::string strCommand(event.strCommand);
    std::getline(std::ifstream(strProc + "comm"), strCommand);
    // The real uid, the first of the four; the event's owner when gone.
    std::uint32_t dwUid = event.uidProcess;
    std::ifstream status(strProc + "status");
    for (std::string strLine; std::getline(status, strLine);) {
        if (strLine.starts_with("Uid:")) {
            dwUid = std::uint32_t(std::stoul(strLine.substr(4)));
            break;
        }
    }
    char path[PATH_MAX];
    const ssize_t nPath = readlink((strProc + "exe").c_str(), path, sizeof path);
    std::vector<std::uint8_t> payload(PROCESS_PATH_OFFSET);
    PutU32(payload.data(), event.dwProcessId);
    PutU32(payload.data() + 4, dwUid);
    strCommand.resize(std::min(strCommand.size(), PROCESS_COMMAND_SIZE - 1));
    std::copy(strCommand.begin(), strCommand.end(), payload.begin() + 8);
    if (nPath > 0)
        payload.insert(payload.end(), path, path + nPath);
    return CAttachment::MakeRecord(CAPTURE_PROCESS, event.dwProcessId, event.qwTimeNs, payload);
}

} // namespace ProcessRecord
