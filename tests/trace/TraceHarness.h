// Real processes on real ptys for the capture tests: a pty pair stands for
// a serial line (the application opens the slave, the test plays the device
// on the master), a real vantry.sys traces it, and records come back through
// its device in the order the driver published them.
#pragma once

#include "CPty.h"
#include "CRawClient.h"
#include "ProcScanner.h"
#include "Process.h"
#include "Records.h"

#include <functional>

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
// A notice record as the driver queues it.
inline CRecord Notice(pid_t nPid, std::uint32_t dwCode, std::uint32_t dwValue) {
    Bytes payload(Vantry::NOTICE_PAYLOAD_SIZE);
    Vantry::PutU32(payload.data(), dwCode);
    Vantry::PutU32(payload.data() + 4, dwValue);
    return Records::Of(nPid, Records::Data(Vantry::CAPTURE_DRIVER_NOTICE, payload));
}
// The settings every pty starts with (the kernel's B38400 CS8), then `after`.
inline std::vector<CRecord> Standard(pid_t nPid, std::vector<CRecord> after = {}) {
    after.insert(after.begin(), {Baud(nPid, 38400), Line(nPid, 0, 0, 8)});
    return after;
}
// A late opener's notice, its delay read as 0.
inline CRecord TracedLate(pid_t nPid, const std::string& strName = "trace_app") {
    CRecord record = Notice(nPid, Vantry::NOTICE_TRACED_LATE, 0);
    record.strData += strName;
    return record;
}
} // namespace Expect

// The test application's command line: open the port, then the steps
// (separated by spaces).
std::vector<std::string> AppOn(const std::string& strPort, const std::string& strSteps);
// The test application on a port, once it has opened it; it goes on with
// `strSteps` when it hears a line. `prefix` runs it (setpriv, taskset).
struct CHeldApp : CChild {
    CHeldApp(const std::string& strPort, const std::string& strSteps,
             std::vector<std::string> prefix = {});
};
bool Has(const std::vector<CRecord>& records, const CRecord& record);
// Fetches the records of an attachment of a real driver into `records`
// until they satisfy `done`, or until none has come for the client's timeout.
// A late opener's delay reads 0: it varies from run to run.
void FetchUntil(CRawClient& client, std::uint32_t dwHandle, std::vector<CRecord>& records,
                const std::function<bool(const std::vector<CRecord>&)>& done);
// The records of an attachment up to `last` and every one of `also`.
std::vector<CRecord> RecordsUntil(CRawClient& client, std::uint32_t dwHandle, const CRecord& last,
                                  const std::vector<CRecord>& also = {});
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);
using ProcScanner::TracerOf;
