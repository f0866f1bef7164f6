#include "TraceHarness.h"

#include <unistd.h>

#include <algorithm>
#include <sstream>

CProbe::CProbe(const std::vector<std::string>& ports)
    : m_child([&] {
          std::vector<std::string> args{TRACE_PROBE_PATH};
          args.insert(args.end(), ports.begin(), ports.end());
          return args;
      }()) {
    if (m_child.WaitLine("ready", true).empty())
        throw std::runtime_error("probe did not start: " + m_child.Err());
}

namespace {
// How late a late opener was traced varies from run to run: 0 here.
std::vector<CRecord> WithoutDelays(std::vector<CRecord> records) {
    for (auto& record : records) {
        auto* pData = reinterpret_cast<std::uint8_t*>(record.strData.data());
        if (record.nType == Vantry::CAPTURE_DRIVER_NOTICE && record.strData.size() >= 8 &&
            Vantry::GetU32(pData) == Vantry::NOTICE_TRACED_LATE)
            Vantry::PutU32(pData + 4, 0);
    }
    return records;
}
} // namespace

std::vector<CRecord>
CProbe::WaitRecords(const std::function<bool(const std::vector<CRecord>&)>& done,
                    std::chrono::milliseconds timeout) {
    std::vector<CRecord> records;
    m_child.WaitOut(
        [&](const std::string& strOut) {
            return done(records = WithoutDelays(Records::Parse(strOut)));
        },
        timeout);
    return records;
}

void CProbe::Release(CChild& app, std::size_t nAttachRecords) {
    app.WaitLine("traced");
    WaitRecords([&](const auto& records) { return records.size() >= nAttachRecords; });
    app.Send("go\n");
}

std::vector<std::string> AppOn(const std::string& strPort, const std::string& strSteps) {
    std::vector<std::string> args{TRACE_APP_PATH, "open", strPort};
    std::istringstream words(strSteps);
    for (std::string strWord; words >> strWord;)
        args.push_back(strWord);
    return args;
}

std::vector<std::string> NobodysApp(const std::string& strPort, const std::string& strSteps) {
    std::vector<std::string> args = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups"};
    const auto app = AppOn(strPort, strSteps);
    args.insert(args.end(), app.begin(), app.end());
    return args;
}

bool Has(const std::vector<CRecord>& records, const CRecord& record) {
    return std::find(records.begin(), records.end(), record) != records.end();
}

std::vector<CRecord> RecordsUntil(CRawClient& client, std::uint32_t dwHandle, const CRecord& last,
                                  const std::vector<CRecord>& also) {
    std::vector<CRecord> records;
    while (!Has(records, last) ||
           !std::all_of(also.begin(), also.end(), [&](const auto& r) { return Has(records, r); })) {
        if (client.Wait(dwHandle).nStatus != 0)
            break;
        const auto record = client.Fetch(dwHandle, Vantry::MAX_RECORD_SIZE).output;
        records.push_back(
            Records::Of(pid_t(Vantry::GetU32(record.data() + Vantry::RECORD_PID_OFFSET)), record));
    }
    return records;
}

bool EndsWithClose(const std::vector<CRecord>& records) {
    return !records.empty() && records.back().nType == Vantry::CAPTURE_PORT_CLOSED;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(1000);
    }
    return true;
}
