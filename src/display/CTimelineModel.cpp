#include "CTimelineModel.h"

#include "ControlText.h"
#include "NoticeText.h"
#include "TextEncoding.h"
#include "TimeText.h"
#include "TimelineText.h"
#include "TrafficText.h"

#include <algorithm>

using namespace Vantry;

namespace {

// An event row's words, as the panes say them and without their line break.
std::optional<std::string> EventWords(const CRecordView& record) {
    switch (*record.EventType()) {
    case CAPTURE_PORT_OPENED:
    case CAPTURE_PORT_CLOSED:
    case CAPTURE_BAUD_RATE:
    case CAPTURE_LINE_CONTROL: {
        std::string strLine = TextEncoding::ToUtf8(*TrafficText::EventLine(record));
        strLine.resize(strLine.size() - 2);
        return strLine;
    }
    case CAPTURE_DRIVER_NOTICE:
        return NoticeText::Describe(record);
    default:
        return ControlText::Describe(record);
    }
}

} // namespace

CTimelineModel::CTimelineModel(std::size_t nMaxRecords)
    : m_nMaxRecords(std::max<std::size_t>(nMaxRecords, 1)) {}

std::optional<std::string> CTimelineModel::Append(const CRecordView& record) {
    if (!record.IsComplete())
        return std::nullopt;
    auto strOther = m_presence.Follow(record);
    const std::int8_t nType = *record.EventType();
    CRow row{record.GetStamp()->qwTimeNs,
             record.GetStamp()->dwProcessId,
             DIRECTION_EVENT,
             bool(strOther),
             {}};
    if (nType == CAPTURE_DATA_READ || nType == CAPTURE_DATA_WRITTEN) {
        const auto payload = record.Payload();
        if (payload.empty())
            return strOther;
        row.nDirection = nType == CAPTURE_DATA_READ ? DIRECTION_READ : DIRECTION_WRITTEN;
        row.strBody.assign(payload.begin(), payload.end());
    } else if (auto strWords = EventWords(record)) {
        // Who else is on the port is said in the row that shows it, so
        // that an export keeps it too.
        row.strBody = strOther ? *strWords + "; " + *strOther : std::move(*strWords);
    } else {
        return strOther;
    }
    if (!m_qwFirstNs)
        m_qwFirstNs = row.qwTimeNs;
    m_rows.push_back(std::move(row));
    Index(m_qwFirstRow + m_rows.size() - 1);
    Trim();
    ++m_qwRevision;
    return strOther;
}

void CTimelineModel::Clear() {
    m_presence.Clear();
    m_rows.clear();
    m_shown.clear();
    m_qwFirstRow = m_qwLineEnd = m_qwMatchEnd = m_qwPauseRow = m_qwDropped = 0;
    m_qwFirstNs.reset();
    m_qwLastShownNs.reset();
    m_nPausedRows = 0;
    ++m_qwRevision;
}

void CTimelineModel::SetMaxRecords(std::size_t nMaxRecords) {
    m_nMaxRecords = std::max<std::size_t>(nMaxRecords, 1);
    Trim();
    ++m_qwRevision;
}

std::size_t CTimelineModel::RecordCount() const {
    return m_rows.size();
}

void CTimelineModel::SetDirectionFilter(unsigned nDirections) {
    m_nDirections = nDirections & DIRECTION_ALL;
    Rebuild();
}

void CTimelineModel::SetProcessFilter(std::optional<std::uint32_t> dwPid) {
    m_dwProcess = dwPid;
    Rebuild();
}

void CTimelineModel::SetTimeMode(ETimeMode eMode) {
    m_eTimeMode = eMode;
    ++m_qwRevision;
}

void CTimelineModel::Pause() {
    if (m_bPaused)
        return;
    m_bPaused = true;
    m_qwPauseRow = m_qwFirstRow + m_rows.size();
    m_nPausedRows = 0;
    ++m_qwRevision;
}

void CTimelineModel::Resume() {
    m_bPaused = false;
    ++m_qwRevision;
}

std::size_t CTimelineModel::RowsWhilePaused() const {
    return m_bPaused ? m_nPausedRows : 0;
}

std::size_t CTimelineModel::LineCount() const {
    return std::size_t(LineAt(VisibleEnd()) - LineAt(0));
}

CTimelineModel::CLine CTimelineModel::Line(std::size_t nLine) const {
    const std::uint64_t qwLine = LineAt(0) + nLine;
    const std::size_t nShown = ShownOf(&CShown::qwLine, qwLine);
    return LineOf(nShown, std::size_t(qwLine - m_shown[nShown].qwLine));
}

bool CTimelineModel::SetFind(std::string_view strText, bool bHex, std::string& strError) {
    if (!m_find.Set(strText, bHex, strError))
        return false;
    Rebuild();
    return true;
}

std::size_t CTimelineModel::MatchCount() const {
    return std::size_t(MatchAt(VisibleEnd()) - MatchAt(0));
}

std::optional<std::size_t> CTimelineModel::FindNext(std::size_t nFromLine, bool bForward) const {
    if (MatchCount() == 0)
        return std::nullopt;
    const std::size_t nEnd = VisibleEnd();
    const std::uint64_t qwFrom = LineAt(0) + nFromLine;
    // The row of nFromLine, or the end when it is past the last line.
    const std::size_t nShown = nFromLine < LineCount() ? ShownOf(&CShown::qwLine, qwFrom) : nEnd;
    const auto viewLine = [&](std::size_t nIn, std::size_t nLineInRow) {
        return std::optional(std::size_t(m_shown[nIn].qwLine + nLineInRow - LineAt(0)));
    };
    if (nShown < nEnd) {
        const CRow& row = RowOf(m_shown[nShown]);
        const std::size_t nLineInRow = std::size_t(qwFrom - m_shown[nShown].qwLine);
        const auto nStart = bForward ? m_find.NextStart(BytesOf(row), (nLineInRow + 1) * LINE_BYTES)
                                     : m_find.PreviousStart(BytesOf(row), nLineInRow * LINE_BYTES);
        if (nStart)
            return viewLine(nShown, *nStart / LINE_BYTES);
    }
    std::uint64_t qwMatch;
    if (bForward) {
        qwMatch = nShown < nEnd ? MatchAt(nShown + 1) : MatchAt(nEnd);
        if (qwMatch >= MatchAt(nEnd))
            qwMatch = MatchAt(0);
    } else {
        qwMatch = nShown < nEnd ? MatchAt(nShown) : MatchAt(nEnd);
        if (qwMatch == MatchAt(0))
            qwMatch = MatchAt(nEnd);
        --qwMatch;
    }
    const std::size_t nFound = ShownOf(&CShown::qwMatch, qwMatch);
    return viewLine(nFound, EdgeMatchLine(nFound, bForward));
}

const std::vector<CPortPresence::CProcess>& CTimelineModel::Processes() const {
    return m_presence.Processes();
}

std::string CTimelineModel::ExportText() const {
    std::string strText;
    for (std::size_t i = 0, nEnd = VisibleEnd(); i < nEnd; ++i) {
        for (std::uint64_t k = 0; k < LineAt(i + 1) - LineAt(i); ++k)
            (strText += TimelineText::TextLine(LineOf(i, std::size_t(k)))) += '\n';
    }
    return strText;
}

std::string CTimelineModel::ExportCsv() const {
    std::string strCsv(TimelineText::CSV_HEADER);
    for (std::size_t i = 0, nEnd = VisibleEnd(); i < nEnd; ++i)
        strCsv += TimelineText::CsvRow(LineOf(i, 0), BytesOf(RowOf(m_shown[i])));
    return strCsv;
}

std::span<const std::uint8_t> CTimelineModel::BytesOf(const CRow& row) {
    if (row.nDirection == DIRECTION_EVENT)
        return {};
    return {reinterpret_cast<const std::uint8_t*>(row.strBody.data()), row.strBody.size()};
}

bool CTimelineModel::Passes(const CRow& row) const {
    return (row.nDirection & m_nDirections) &&
           (!m_dwProcess || row.dwPid == 0 || row.dwPid == *m_dwProcess);
}

void CTimelineModel::Index(std::uint64_t qwRow) {
    const CRow& row = m_rows[qwRow - m_qwFirstRow];
    if (!Passes(row))
        return;
    m_shown.push_back({qwRow, m_qwLineEnd, m_qwMatchEnd, m_qwLastShownNs.value_or(row.qwTimeNs)});
    m_qwLastShownNs = row.qwTimeNs;
    if (row.nDirection == DIRECTION_EVENT) {
        ++m_qwLineEnd;
        m_qwMatchEnd += m_find.MatchesWords(row.strBody);
    } else {
        m_qwLineEnd += (row.strBody.size() + LINE_BYTES - 1) / LINE_BYTES;
        m_qwMatchEnd += m_find.CountIn(BytesOf(row));
    }
    if (m_bPaused && qwRow >= m_qwPauseRow)
        ++m_nPausedRows;
}

void CTimelineModel::Rebuild() {
    m_shown.clear();
    m_qwLineEnd = m_qwMatchEnd = 0;
    m_qwLastShownNs.reset();
    m_nPausedRows = 0;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        Index(m_qwFirstRow + i);
    ++m_qwRevision;
}

void CTimelineModel::Trim() {
    while (m_rows.size() > m_nMaxRecords) {
        if (!m_shown.empty() && m_shown.front().qwRow == m_qwFirstRow)
            m_shown.pop_front();
        m_rows.pop_front();
        ++m_qwFirstRow;
        ++m_qwDropped;
    }
}

std::size_t CTimelineModel::VisibleEnd() const {
    if (!m_bPaused)
        return m_shown.size();
    return std::size_t(std::lower_bound(m_shown.begin(), m_shown.end(), m_qwPauseRow,
                                        [](const CShown& shown, std::uint64_t qwRow) {
                                            return shown.qwRow < qwRow;
                                        }) -
                       m_shown.begin());
}

std::uint64_t CTimelineModel::LineAt(std::size_t nShown) const {
    return nShown < m_shown.size() ? m_shown[nShown].qwLine : m_qwLineEnd;
}

std::uint64_t CTimelineModel::MatchAt(std::size_t nShown) const {
    return nShown < m_shown.size() ? m_shown[nShown].qwMatch : m_qwMatchEnd;
}

std::size_t CTimelineModel::ShownOf(std::uint64_t CShown::*pCount, std::uint64_t qwCount) const {
    const auto it = std::upper_bound(
        m_shown.begin(), m_shown.end(), qwCount,
        [pCount](std::uint64_t qw, const CShown& shown) { return qw < shown.*pCount; });
    return std::size_t(it - m_shown.begin()) - 1;
}

std::size_t CTimelineModel::EdgeMatchLine(std::size_t nShown, bool bFirst) const {
    const auto bytes = BytesOf(RowOf(m_shown[nShown]));
    const auto nStart =
        bFirst ? m_find.NextStart(bytes, 0) : m_find.PreviousStart(bytes, bytes.size());
    return nStart ? *nStart / LINE_BYTES : 0;
}

CTimelineModel::CLine CTimelineModel::LineOf(std::size_t nShown, std::size_t nLineInRow) const {
    const CShown& shown = m_shown[nShown];
    const CRow& row = RowOf(shown);
    CLine line;
    line.bContinuation = nLineInRow > 0;
    line.nDirection = row.nDirection;
    if (!line.bContinuation) {
        line.strTime =
            m_eTimeMode == ETimeMode::WallClock ? TimeText::WallClock(row.qwTimeNs)
            : m_eTimeMode == ETimeMode::SincePrevious
                ? TimeText::Elapsed(std::int64_t(row.qwTimeNs - shown.qwPreviousNs), true)
                : TimeText::Elapsed(std::int64_t(row.qwTimeNs - *m_qwFirstNs), false);
    }
    line.dwPid = row.dwPid;
    line.strCommand = m_presence.CommandOf(row.dwPid);
    line.nColour = m_presence.ColourOf(row.dwPid);
    line.bOtherProcess = row.bOtherProcess;
    if (row.nDirection == DIRECTION_EVENT) {
        line.strEvent = row.strBody;
        line.wMatched = m_find.MatchesWords(row.strBody);
    } else {
        const auto bytes = BytesOf(row);
        const std::size_t nFrom = nLineInRow * LINE_BYTES;
        line.bytes.assign(bytes.begin() + nFrom,
                          bytes.begin() + std::min(bytes.size(), nFrom + LINE_BYTES));
        line.wMatched = m_find.MaskOf(bytes, nFrom);
    }
    return line;
}
