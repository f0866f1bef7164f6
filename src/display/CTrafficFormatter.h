// Turns a monitor's event records into the text of its two panes: data as hex
// dumps of 16 bytes a line, rewritten in place while a line fills, and port
// events as one English line in both panes. Runs on the user-interface
// thread only, so it needs no locks.
#pragma once

#include "CCaptureRecord.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class IPane;
class ICounters;

class CTrafficFormatter {
public:
    // A pane never holds more characters than this; older lines make room.
    static constexpr std::size_t MAX_PANE_CHARS = 0xFFFFF;
    static constexpr int LINE_BYTES = 16;

    explicit CTrafficFormatter(std::size_t nMaxPaneChars = MAX_PANE_CHARS)
        : m_nMaxPaneChars(nMaxPaneChars) {}
    CTrafficFormatter(const CTrafficFormatter&) = delete;
    CTrafficFormatter& operator=(const CTrafficFormatter&) = delete;
    virtual ~CTrafficFormatter();

    void SetPanes(IPane* pViewRead, IPane* pViewWrite);
    void SetCounters(ICounters* pCounters) { m_pCounters = pCounters; }

    // Takes the record and releases it before returning.
    void FormatRecord(CCaptureRecord record);
    void InsertEventLine(std::u16string_view text);

    std::uint64_t TotalRead() const { return m_dwTotalRead; }
    std::uint64_t TotalWrite() const { return m_dwTotalWrite; }

    // Shows both totals in the counters bar.
    void ShowTotals() const;

    // A cleared pane starts afresh: no current line, no held bytes, a zero
    // total, shown when this monitor is the current one.
    void ResetRead();
    void ResetWrite();

protected:
    IPane* m_pViewRead = nullptr;
    IPane* m_pViewWrite = nullptr;
    ICounters* m_pCounters = nullptr;

    int m_nLineRead = 0;
    int m_nLineWrite = 0;
    int m_nCountRead = 0;
    int m_nCountWrite = 0;
    std::uint8_t m_byLineRead[LINE_BYTES] = {};
    std::uint8_t m_byLineWrite[LINE_BYTES] = {};
    std::uint64_t m_dwTotalRead = 0;
    std::uint64_t m_dwTotalWrite = 0;

private:
    const std::size_t m_nMaxPaneChars;

    void FormatData(IPane* pPane, int& nLine, int& nCount, std::uint8_t* byLine,
                    std::span<const std::uint8_t> payload);
    void InsertEventLineInto(IPane* pPane, int& nLine, int& nCount, std::u16string_view text);
    void ReplaceLine(IPane* pPane, int& nLine, std::u16string_view text, bool bScrollCaret);
    void AppendText(IPane* pPane, int& nLine, std::u16string_view text);
    void MakeRoom(IPane* pPane, int& nLine, std::size_t nGrowth);
};

// The monitor whose totals the counters bar shows; only compared against.
extern const CTrafficFormatter* g_pCurrentMonitor;
