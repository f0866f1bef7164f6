// A pty pair stands for a serial line: the application opens the slave, the
// test plays the device on the master, and a real vantry.sys traces it.
#pragma once

#include "CPty.h"
#include "CRawClient.h"
#include "ProcScanner.h"
#include "Process.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

using Records::CRecord;

namespace Expect {
inline CRecord Opened(pid_t nPid) {
    return Records::Of(nPid, Records::Make(Vantry::CAPTURE_PORT_OPENED));
}
inline CRecord Closed(pid_t nPid) {
    return Records::Of(nPid, Records::Make(Vantry::CAPTURE_PORT_CLOSED));
}
inline CRecord Read(pid_t nPid, const std::string& strData) {
    return Records::Of(nPid, Records::Read(strData));
}
inline CRecord Written(pid_t nPid, const std::string& strData) {
    return Records::Of(nPid, Records::Written(Records::Bytes(strData.begin(), strData.end())));
}
inline CRecord Baud(pid_t nPid, std::uint32_t dwRate) {
    return Records::Of(nPid, Records::Baud(dwRate));
}
inline CRecord Line(pid_t nPid, std::uint8_t byStop, std::uint8_t byParity, std::uint8_t byBits) {
    return Records::Of(nPid, Records::LineControl(byStop, byParity, byBits));
}
// A record of two 32-bit values: notices, modem lines, port control, a
// failed call.
inline CRecord Control(pid_t nPid, std::int8_t nType, std::uint32_t dwFirst,
                       std::uint32_t dwSecond) {
    Bytes payload(8);
    Vantry::PutU32(payload.data(), dwFirst);
    Vantry::PutU32(payload.data() + 4, dwSecond);
    return Records::Of(nPid, Records::Data(nType, payload));
}
inline CRecord Notice(pid_t nPid, std::uint32_t dwCode, std::uint32_t dwValue) {
    return Control(nPid, Vantry::CAPTURE_DRIVER_NOTICE, dwCode, dwValue);
}
// The settings every pty starts with (the kernel's B38400 CS8), then `after`.
inline std::vector<CRecord> Standard(pid_t nPid, std::vector<CRecord> after = {}) {
    after.insert(after.begin(), {Baud(nPid, 38400), Line(nPid, 0, 0, 8)});
    return after;
}
// The record naming the test application, run by uid.
inline CRecord Process(pid_t nPid, uid_t uid) {
    Bytes payload(Vantry::PROCESS_PATH_OFFSET);
    Vantry::PutU32(payload.data(), std::uint32_t(nPid));
    Vantry::PutU32(payload.data() + 4, uid);
    std::memcpy(payload.data() + 8, "trace_app", 9);
    const std::string strPath = std::filesystem::canonical(TRACE_APP_PATH);
    payload.insert(payload.end(), strPath.begin(), strPath.end());
    return Records::Of(nPid, Records::Data(Vantry::CAPTURE_PROCESS, payload));
}
inline CRecord Flow(pid_t nPid, std::uint8_t byFlow, std::uint8_t byVmin, std::uint8_t byVtime) {
    return Records::Of(nPid,
                       Records::Data(Vantry::CAPTURE_FLOW_CONTROL, {byFlow, byVmin, byVtime}));
}
// A late opener's notice, its delay read as 0.
inline CRecord TracedLate(pid_t nPid, const std::string& strName = "trace_app") {
    CRecord record = Notice(nPid, Vantry::NOTICE_TRACED_LATE, 0);
    record.strData += strName;
    return record;
}
} // namespace Expect

// The test application's command line, after `args`: open the port, then
// the steps (separated by spaces).
inline std::vector<std::string> AppOn(const std::string& strPort, const std::string& strSteps,
                                      std::vector<std::string> args = {}) {
    args.insert(args.end(), {TRACE_APP_PATH, "open", strPort});
    std::istringstream words(strSteps);
    for (std::string strWord; words >> strWord;)
        args.push_back(strWord);
    return args;
}

// The test application on a port, once it has opened it; it goes on with
// `strSteps` when it hears a line. `prefix` runs it (setpriv).
struct CHeldApp : CChild {
    CHeldApp(const std::string& strPort, const std::string& strSteps,
             const std::vector<std::string>& prefix = {})
        : CChild(AppOn(strPort, "say opened hear " + strSteps, prefix)) {
        EXPECT_FALSE(WaitLine("opened").empty()) << Err();
    }
};

inline bool Has(const std::vector<CRecord>& records, const CRecord& record) {
    return std::find(records.begin(), records.end(), record) != records.end();
}

// Fetches the records of an attachment of a real driver into `records`
// until they satisfy `done`, or until none has come for the client's timeout.
// A late opener's delay reads 0: it varies from run to run. Processes'
// names and flow control are left out unless bEvery.
inline void FetchUntil(CRawClient& client, std::uint32_t dwHandle, std::vector<CRecord>& records,
                       const std::function<bool(const std::vector<CRecord>&)>& done,
                       bool bEvery = false) {
    while (!done(records) && client.Wait(dwHandle).nStatus == 0) {
        auto record = client.Fetch(dwHandle, Vantry::MAX_RECORD_SIZE).output;
        const auto nType = record.at(Vantry::RECORD_EVENT_TYPE_OFFSET);
        if (!bEvery && (nType == Vantry::CAPTURE_PROCESS || nType == Vantry::CAPTURE_FLOW_CONTROL))
            continue;
        if (record.size() >= Vantry::RECORD_DATA_OFFSET + 8 &&
            record[Vantry::RECORD_EVENT_TYPE_OFFSET] == Vantry::CAPTURE_DRIVER_NOTICE &&
            Vantry::GetU32(record.data() + Vantry::RECORD_DATA_OFFSET) ==
                Vantry::NOTICE_TRACED_LATE)
            Vantry::PutU32(record.data() + Vantry::RECORD_DATA_OFFSET + 4, 0);
        records.push_back(
            Records::Of(pid_t(Vantry::GetU32(record.data() + Vantry::RECORD_PID_OFFSET)), record));
    }
}

// The records of an attachment up to `last` and every one of `also`.
inline std::vector<CRecord> RecordsUntil(CRawClient& client, std::uint32_t dwHandle,
                                         const CRecord& last, const std::vector<CRecord>& also = {},
                                         bool bEvery = false) {
    std::vector<CRecord> records;
    FetchUntil(
        client, dwHandle, records,
        [&](const auto& got) {
            return Has(got, last) && std::all_of(also.begin(), also.end(),
                                                 [&](const auto& r) { return Has(got, r); });
        },
        bEvery);
    return records;
}

inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        usleep(1000);
    }
    return true;
}

using ProcScanner::TracerOf;
