#include "CTrafficFormatter.h"

#include "ICounters.h"
#include "IPane.h"
#include "TrafficText.h"

using namespace Vantry;

const CTrafficFormatter* g_pCurrentMonitor = nullptr;

CTrafficFormatter::~CTrafficFormatter() {
    if (g_pCurrentMonitor == this)
        g_pCurrentMonitor = nullptr;
}

void CTrafficFormatter::SetPanes(IPane* pViewRead, IPane* pViewWrite) {
    m_pViewRead = pViewRead;
    m_pViewWrite = pViewWrite;
}

void CTrafficFormatter::FormatRecord(CCaptureRecord record) {
    const CRecordView view = record.View();
    // A record that does not hold what its type needs is dropped whole, so
    // nothing past its end is ever looked at.
    if (!view.IsComplete())
        return;
    switch (*view.EventType()) {
    case CAPTURE_DATA_READ:
        m_dwTotalRead += view.DataLength();
        FormatData(m_pViewRead, m_nLineRead, m_nCountRead, m_byLineRead, view.Payload());
        break;
    case CAPTURE_DATA_WRITTEN:
        m_dwTotalWrite += view.DataLength();
        FormatData(m_pViewWrite, m_nLineWrite, m_nCountWrite, m_byLineWrite, view.Payload());
        break;
    default:
        if (const auto text = TrafficText::EventLine(view))
            InsertEventLine(*text);
        break;
    }
    if (g_pCurrentMonitor == this)
        ShowTotals();
}

void CTrafficFormatter::ShowTotals() const {
    if (m_pCounters == nullptr)
        return;
    m_pCounters->SetRecvCount(TrafficText::UnsignedDecimal(m_dwTotalRead));
    m_pCounters->SetSendCount(TrafficText::UnsignedDecimal(m_dwTotalWrite));
}

void CTrafficFormatter::ResetRead() {
    m_nLineRead = 0;
    m_nCountRead = 0;
    m_dwTotalRead = 0;
    if (g_pCurrentMonitor == this && m_pCounters != nullptr)
        m_pCounters->SetRecvCount(u"0");
}

void CTrafficFormatter::ResetWrite() {
    m_nLineWrite = 0;
    m_nCountWrite = 0;
    m_dwTotalWrite = 0;
    if (g_pCurrentMonitor == this && m_pCounters != nullptr)
        m_pCounters->SetSendCount(u"0");
}

// A full line is written once, when the byte after it arrives; the partial
// line at the end is rewritten after every record, so every byte shows as
// soon as its record has been handled.
void CTrafficFormatter::FormatData(IPane* pPane, int& nLine, int& nCount, std::uint8_t* byLine,
                                   std::span<const std::uint8_t> payload) {
    char16_t szLine[TrafficText::MAX_LINE_CHARS];
    for (const std::uint8_t byValue : payload) {
        if (nCount == LINE_BYTES) {
            const auto nLength = TrafficText::RenderDataLine({byLine, LINE_BYTES}, szLine);
            ReplaceLine(pPane, nLine, {szLine, nLength}, false);
            ++nLine;
            nCount = 0;
        }
        byLine[nCount++] = byValue;
    }
    if (nCount != 0) {
        const auto nLength =
            TrafficText::RenderDataLine({byLine, static_cast<std::size_t>(nCount)}, szLine);
        ReplaceLine(pPane, nLine, {szLine, nLength}, true);
    }
}

void CTrafficFormatter::InsertEventLine(std::u16string_view text) {
    InsertEventLineInto(m_pViewRead, m_nLineRead, m_nCountRead, text);
    InsertEventLineInto(m_pViewWrite, m_nLineWrite, m_nCountWrite, text);
}

// Bytes still held are dropped from the state; the partial line that shows
// them stays in the pane as it is.
void CTrafficFormatter::InsertEventLineInto(IPane* pPane, int& nLine, int& nCount,
                                            std::u16string_view text) {
    AppendText(pPane, nLine, u"\r\n");
    ++nLine;
    nCount = 0;
    ReplaceLine(pPane, nLine, text, true);
    ++nLine;
}

void CTrafficFormatter::ReplaceLine(IPane* pPane, int& nLine, std::u16string_view text,
                                    bool bScrollCaret) {
    if (pPane == nullptr)
        return;
    const std::ptrdiff_t nStart = pPane->LineIndex(nLine);
    std::size_t nReplaced = 0;
    if (nStart >= 0) {
        const std::ptrdiff_t nNext = pPane->LineIndex(nLine + 1);
        nReplaced = static_cast<std::size_t>((nNext >= 0 ? nNext : pPane->TextLength()) - nStart);
    }
    if (text.size() > nReplaced)
        MakeRoom(pPane, nLine, text.size() - nReplaced);
    pPane->ReplaceLine(nLine, text, bScrollCaret);
}

void CTrafficFormatter::AppendText(IPane* pPane, int& nLine, std::u16string_view text) {
    if (pPane == nullptr)
        return;
    MakeRoom(pPane, nLine, text.size());
    pPane->AppendText(text);
}

// Drops the oldest whole lines, never the current one, and moves the current
// line with them so that it still names the same text.
void CTrafficFormatter::MakeRoom(IPane* pPane, int& nLine, std::size_t nGrowth) {
    const std::size_t nLength = pPane->TextLength();
    if (nLength + nGrowth <= m_nMaxPaneChars)
        return;
    nLine -= pPane->RemoveLeadingLines(nLength + nGrowth - m_nMaxPaneChars, nLine);
}
