// The six requests of the driver device, decoded and carried out. Every
// field is checked before anything changes, so a malformed request gets its
// errno status and leaves the driver as it was.
#pragma once

#include "CPeer.h"
#include "CPortChecks.h"
#include "CRefusalLog.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

class CAttachmentTable;
class CSourceSet;

struct CAnswer {
    std::uint32_t dwStatus = 0;
    std::vector<std::uint8_t> output;
};

// A wait, or a batched fetch, that found its queue empty: answered later,
// when a record arrives or the handle is detached. Or an attach, answered once its path was
// checked (pCheck) and then once its port's sources answered (dwHandle).
struct CParkedWait {
    std::uint32_t dwHandle = 0;
    std::uint32_t dwCapacity = 0;
    bool bAttach = false;
    std::shared_ptr<CPortChecks::CCheck> pCheck = nullptr;
    bool bBatch = false;

    bool IsParked() const { return dwHandle != 0 || pCheck; }
};

class CRequestHandler {
public:
    // strCaptureSource: how the sources capture, the answer to whoever asks.
    CRequestHandler(CAttachmentTable& table, CSourceSet& sources, std::string strCaptureSource)
        : m_table(table), m_sources(sources), m_strCaptureSource(std::move(strCaptureSource)) {}

    // bTruncated: the request was longer than the device reads.
    // nAnswerLimit: the longest answer the connection can carry in one
    // message. Empty answer: the request is parked in `parked`.
    std::optional<CAnswer> Handle(const CPeer& peer, std::span<const std::uint8_t> request,
                                  bool bTruncated, std::size_t nAnswerLimit, CParkedWait& parked);
    // The answer to a parked request, once there is one; meanwhile the
    // request may move on to its next stage in `parked`.
    std::optional<CAnswer> Resume(const CPeer& peer, std::uint64_t qwConnection,
                                  CParkedWait& parked);
    // Readable when a parked attach's check finished; and how long, at
    // most, until one is to be given up on (-1: no limit).
    int WakeFd() const { return m_checks.WakeFd(); }
    void ClearWake() { m_checks.ClearWake(); }
    int PollTimeout() { return m_checks.PollTimeout(); }

    void DetachConnection(std::uint64_t qwConnection);
    void DetachAll();

private:
    std::optional<CAnswer> Attach(const CPeer& peer, std::uint32_t dwCapacity,
                                  std::span<const std::uint8_t> input, bool bTruncated,
                                  CParkedWait& parked);
    // Empty while the path is being checked; then attaches and watches.
    std::optional<CAnswer> AttachChecked(const CPeer& peer, std::uint64_t qwConnection,
                                         CParkedWait& parked);
    CAnswer CaptureSource(std::uint32_t dwCapacity, std::span<const std::uint8_t> input,
                          bool bTruncated) const;
    // Empty until the sources answered the attachment's watch.
    std::optional<CAnswer> AttachAnswer(std::uint32_t dwHandle);
    int Detach(std::uint32_t dwHandle, uid_t uid, bool bAnyOwner);
    // Empty while the queue is empty; the next record then wakes the device.
    std::optional<CAnswer> Wait(const CPeer& peer, const CParkedWait& wait);
    CAnswer Fetch(const CPeer& peer, std::uint32_t dwHandle, std::uint32_t dwCapacity);
    // Empty while the queue is empty, as Wait.
    std::optional<CAnswer> FetchBatch(const CPeer& peer, const CParkedWait& batch);

    CAttachmentTable& m_table;
    CSourceSet& m_sources;
    const std::string m_strCaptureSource;
    CPortChecks m_checks;
    CRefusalLog m_refusals;
};
