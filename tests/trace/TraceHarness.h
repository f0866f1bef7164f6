// Real processes on real ptys for the capture tests: a pty pair stands for
// a serial line (the application opens the slave, the test plays the device
// on the master), the probe runs the live source in its own process, and
// records come back in the order the source published them.
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
// A late opener's notice, its delay read as 0.
inline CRecord TracedLate(pid_t nPid, const std::string& strName = "trace_app") {
    CRecord record = Notice(nPid, Vantry::NOTICE_TRACED_LATE, 0);
    record.strData += strName;
    return record;
}
} // namespace Expect

// The live source in a process of its own, watching the given ports.
class CProbe {
public:
    explicit CProbe(const std::vector<std::string>& ports);
    // Waits until the records satisfy `done`; returns them either way (a late
    // opener's delay reads 0).
    std::vector<CRecord> WaitRecords(const std::function<bool(const std::vector<CRecord>&)>& done,
                                     std::chrono::milliseconds timeout = 5s);
    // Lets an application that says "traced" and waits go on once the source
    // has published its attach records, so its next steps are traced for sure.
    void Release(CChild& app, std::size_t nAttachRecords = 4);
    CChild& Process() { return m_child; }

private:
    CChild m_child;
};

// The test application's command line: open the port, then the steps
// (separated by spaces).
std::vector<std::string> AppOn(const std::string& strPort, const std::string& strSteps);
// The same as an application of `nobody`.
std::vector<std::string> NobodysApp(const std::string& strPort, const std::string& strSteps);
bool EndsWithClose(const std::vector<CRecord>& records);
bool Has(const std::vector<CRecord>& records, const CRecord& record);
// The records of an attachment of a real driver up to `last` and every one
// of `also` (or until nothing more comes for a while).
std::vector<CRecord> RecordsUntil(CRawClient& client, std::uint32_t dwHandle, const CRecord& last,
                                  const std::vector<CRecord>& also = {});
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);
using ProcScanner::TracerOf;
