#include "CReplaySource.h"

#include "ReadAll.h"
#include "VantryProtocol.h"

#include <cstring>

using namespace Vantry;

std::unique_ptr<CReplaySource> CReplaySource::Load(const std::string& strPath, bool bFast,
                                                   IEventSink& sink, std::string& strError) {
    std::unique_ptr<CReplaySource> pSource(new CReplaySource(sink, bFast));
    if (const int nError = ReadFile(strPath, pSource->m_bytes)) {
        strError = "cannot read the replay file " + strPath + ": " + std::strerror(nError);
        return nullptr;
    }
    if (!StartsLikeRecordFile(pSource->m_bytes)) {
        strError = "the replay file " + strPath + " is not a record file";
        return nullptr;
    }

    // Pacing follows the recorded times; a record without a time (0) or
    // older than the one before it follows at once, and a longer pause
    // than MAX_PAUSE is shortened to it, so that a damaged time neither
    // stalls the replay nor overflows the clock.
    std::chrono::nanoseconds offset{0};
    std::uint64_t qwLastTime = 0;
    bool bMalformed = false;
    const std::size_t nEnd = ForEachFileRecord(pSource->m_bytes, [&](auto record) {
        const std::int8_t nType = record.size() > RECORD_EVENT_TYPE_OFFSET
                                      ? std::int8_t(record[RECORD_EVENT_TYPE_OFFSET])
                                      : std::int8_t(-1);
        if (bMalformed || record.size() <= RECORD_EVENT_TYPE_OFFSET ||
            record.size() < MinimumRecordSize(nType)) {
            bMalformed = true;
            return;
        }
        auto payload = record.size() > RECORD_DATA_OFFSET ? record.subspan(RECORD_DATA_OFFSET)
                                                          : record.subspan(record.size());
        if (nType == CAPTURE_DATA_READ || nType == CAPTURE_DATA_WRITTEN) {
            const std::uint32_t dwLength = GetU32(record.data() + RECORD_DATA_LENGTH_OFFSET);
            if (dwLength > payload.size()) {
                bMalformed = true;
                return;
            }
            payload = payload.first(dwLength);
        }
        const std::uint64_t qwTime = GetU64(record.data() + RECORD_TIME_OFFSET);
        if (qwTime != 0 && qwLastTime != 0 && qwTime > qwLastTime)
            offset += std::chrono::nanoseconds(std::min<std::uint64_t>(
                qwTime - qwLastTime, std::chrono::nanoseconds(MAX_PAUSE).count()));
        if (qwTime != 0)
            qwLastTime = std::max(qwLastTime, qwTime);
        CPortEvent event{nType, GetU32(record.data() + RECORD_PID_OFFSET), qwTime, payload};
        pSource->m_records.push_back({event, offset});
    });
    if (bMalformed || nEnd != pSource->m_bytes.size()) {
        strError =
            "the replay file " + strPath + " is " +
            (bMalformed ? "malformed: record " + std::to_string(pSource->m_records.size() + 1) +
                              " is too short for its type"
                        : std::string("truncated"));
        return nullptr;
    }
    pSource->m_thread = std::thread(&CReplaySource::Run, pSource.get());
    return pSource;
}

CReplaySource::~CReplaySource() {
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CReplaySource::WatchPort(const CPortId&, int, uid_t, std::uint32_t dwHandle,
                              std::function<void(int)> done) {
    if (!m_records.empty()) {
        {
            std::lock_guard lock(m_mutex);
            m_cursors[dwHandle] = CCursor{Clock::now(), 0};
        }
        m_changed.notify_all();
    }
    done(0);
}

void CReplaySource::UnwatchPort(std::uint32_t dwHandle) {
    std::lock_guard lock(m_mutex);
    m_cursors.erase(dwHandle);
}

void CReplaySource::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_bStopping) {
        // The attachment whose next record is due first.
        auto next = m_cursors.end();
        Clock::time_point due{};
        for (auto it = m_cursors.begin(); it != m_cursors.end(); ++it) {
            const auto itDue = m_bFast
                                   ? Clock::time_point{}
                                   : it->second.m_start + m_records[it->second.m_nNext].m_offset;
            if (next == m_cursors.end() || itDue < due)
                next = it, due = itDue;
        }
        if (next == m_cursors.end()) {
            m_changed.wait(lock);
            continue;
        }
        if (!m_bFast && due > Clock::now()) {
            m_changed.wait_until(lock, due);
            continue;
        }
        const std::uint32_t dwHandle = next->first;
        const std::size_t nIndex = next->second.m_nNext;
        if (++next->second.m_nNext == m_records.size())
            m_cursors.erase(next);
        lock.unlock();
        m_sink.PublishTo(dwHandle, m_records[nIndex].m_event);
        lock.lock();
    }
}
