#include "TraceHarness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>

std::vector<std::string> AppOn(const std::string& strPort, const std::string& strSteps) {
    std::vector<std::string> args{TRACE_APP_PATH, "open", strPort};
    std::istringstream words(strSteps);
    for (std::string strWord; words >> strWord;)
        args.push_back(strWord);
    return args;
}

CHeldApp::CHeldApp(const std::string& strPort, const std::string& strSteps,
                   std::vector<std::string> prefix)
    : CChild([&] {
          const auto args = AppOn(strPort, "say opened hear " + strSteps);
          prefix.insert(prefix.end(), args.begin(), args.end());
          return prefix;
      }()) {
    EXPECT_FALSE(WaitLine("opened").empty()) << Err();
}

bool Has(const std::vector<CRecord>& records, const CRecord& record) {
    return std::find(records.begin(), records.end(), record) != records.end();
}

void FetchUntil(CRawClient& client, std::uint32_t dwHandle, std::vector<CRecord>& records,
                const std::function<bool(const std::vector<CRecord>&)>& done) {
    while (!done(records) && client.Wait(dwHandle).nStatus == 0) {
        auto record = client.Fetch(dwHandle, Vantry::MAX_RECORD_SIZE).output;
        if (record.size() >= Vantry::RECORD_DATA_OFFSET + 8 &&
            record[Vantry::RECORD_EVENT_TYPE_OFFSET] == Vantry::CAPTURE_DRIVER_NOTICE &&
            Vantry::GetU32(record.data() + Vantry::RECORD_DATA_OFFSET) ==
                Vantry::NOTICE_TRACED_LATE)
            Vantry::PutU32(record.data() + Vantry::RECORD_DATA_OFFSET + 4, 0);
        records.push_back(
            Records::Of(pid_t(Vantry::GetU32(record.data() + Vantry::RECORD_PID_OFFSET)), record));
    }
}

std::vector<CRecord> RecordsUntil(CRawClient& client, std::uint32_t dwHandle, const CRecord& last,
                                  const std::vector<CRecord>& also) {
    std::vector<CRecord> records;
    FetchUntil(client, dwHandle, records, [&](const auto& got) {
        return Has(got, last) &&
               std::all_of(also.begin(), also.end(), [&](const auto& r) { return Has(got, r); });
    });
    return records;
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
