// A monitor's records as one stream, in the order the driver numbered them:
// what the timeline shows. Each record is a row; a data row takes a line for
// every 16 bytes, an event row one line. The model holds a bounded number of
// records (the oldest go first, and are counted), and answers what a view
// draws line by line: filtered by direction and process, frozen while
// paused, with the matches of a find. Plain C++, so that all of it is
// testable without a window.
#pragma once

#include "CPortPresence.h"
#include "CRecordView.h"
#include "CTimelineFind.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class CTimelineModel {
public:
    // Direction bits of a row, for the filter.
    static constexpr unsigned DIRECTION_WRITTEN = 1; // written by the application
    static constexpr unsigned DIRECTION_READ = 2;    // read by the application
    static constexpr unsigned DIRECTION_EVENT = 4;   // everything else
    static constexpr unsigned DIRECTION_ALL = 7;

    enum class ETimeMode { WallClock, SincePrevious, SinceFirst };

    static constexpr std::size_t DEFAULT_MAX_RECORDS = 10000;
    static constexpr int LINE_BYTES = 16;
    // Processes take the colours of a palette of this many, in the order
    // they first show up.
    static constexpr int PALETTE_SIZE = 6;

    explicit CTimelineModel(std::size_t nMaxRecords = DEFAULT_MAX_RECORDS);

    // Takes one record (records that are not complete are skipped). Returns
    // the words for another process on the port when this record shows one
    // (a second opener, settings changed by another process).
    std::optional<std::string> Append(const CRecordView& record);
    void Clear();

    void SetMaxRecords(std::size_t nMaxRecords);
    std::size_t MaxRecords() const { return m_nMaxRecords; }
    std::size_t RecordCount() const;
    // Records that went to make room, since the start or the last Clear.
    std::uint64_t DroppedRecords() const { return m_qwDropped; }
    // Changes with everything a view draws differently.
    std::uint64_t Revision() const { return m_qwRevision; }

    void SetDirectionFilter(unsigned nDirections);
    unsigned DirectionFilter() const { return m_nDirections; }
    // Only that process's rows (events of no process, pid 0, stay); empty:
    // every process.
    void SetProcessFilter(std::optional<std::uint32_t> dwPid);
    std::optional<std::uint32_t> ProcessFilter() const { return m_dwProcess; }
    void SetTimeMode(ETimeMode eMode);
    ETimeMode TimeMode() const { return m_eTimeMode; }

    // While paused the shown lines stay as they were; records still come in
    // and are counted. Resume shows everything again.
    void Pause();
    void Resume();
    bool IsPaused() const { return m_bPaused; }
    // Rows that came (and pass the filter) since the pause.
    std::size_t RowsWhilePaused() const;

    // The lines shown, all rows that pass the filter, oldest first.
    std::size_t LineCount() const;
    struct CLine {
        bool bContinuation = false; // a data row's second or later line
        unsigned nDirection = DIRECTION_EVENT;
        std::string strTime; // in the time mode; empty on a continuation line
        std::uint32_t dwPid = 0;
        std::string strCommand;          // empty when the process was never named
        int nColour = -1;                // palette index; -1 for a row of no process
        bool bOtherProcess = false;      // the row shows another process on the port
        std::vector<std::uint8_t> bytes; // a data line's bytes (1 to 16)
        std::string strEvent;            // an event row's words (UTF-8)
        // Which bytes a match of the find covers (bit i: bytes[i]); for an
        // event row, bit 0 when its words match.
        std::uint16_t wMatched = 0;
    };
    CLine Line(std::size_t nLine) const;

    // Finds text (its bytes as Latin-1, and in event words) or, when bHex,
    // a byte sequence typed as hex pairs ("41 54 0d", spaces optional).
    // False with strError for hex that is not whole pairs. An empty text
    // ends the find.
    bool SetFind(std::string_view strText, bool bHex, std::string& strError);
    std::size_t MatchCount() const;
    // The line of the first match after (or before) nFromLine, wrapping
    // round; empty when nothing matches.
    std::optional<std::size_t> FindNext(std::size_t nFromLine, bool bForward) const;

    // The processes seen, in the order they showed up.
    const std::vector<CPortPresence::CProcess>& Processes() const;

    // The rows shown, in columns: time, direction, pid, command, hex,
    // characters (or the event's words). Text is UTF-8 with a line per
    // shown line; CSV has one row per record with its bytes whole.
    std::string ExportText() const;
    std::string ExportCsv() const;

private:
    // A record as shown: a data row's bytes or an event row's words.
    struct CRow {
        std::uint64_t qwTimeNs;
        std::uint32_t dwPid;
        unsigned nDirection;
        bool bOtherProcess;
        std::string strBody;
    };
    // A row that passes the filter. Lines and matches are counted from the
    // last rebuild on, so that dropping the oldest rows renumbers nothing.
    struct CShown {
        std::uint64_t qwRow; // m_qwFirstRow counts the rows before m_rows
        std::uint64_t qwLine;
        std::uint64_t qwMatch;
        std::uint64_t qwPreviousNs; // the time of the row shown before it
    };

    static std::span<const std::uint8_t> BytesOf(const CRow& row);
    const CRow& RowOf(const CShown& shown) const { return m_rows[shown.qwRow - m_qwFirstRow]; }
    bool Passes(const CRow& row) const;
    void Index(std::uint64_t qwRow);
    void Rebuild();
    void Trim();
    // The shown rows a view gets: those before the pause, or all.
    std::size_t VisibleEnd() const;
    std::uint64_t LineAt(std::size_t nShown) const;
    std::uint64_t MatchAt(std::size_t nShown) const;
    // The shown row whose running count (its first line, or its first
    // match) is the last one not past qwCount.
    std::size_t ShownOf(std::uint64_t CShown::*pCount, std::uint64_t qwCount) const;
    // The line (within its row) of the row's first or last match.
    std::size_t EdgeMatchLine(std::size_t nShown, bool bFirst) const;
    CLine LineOf(std::size_t nShown, std::size_t nLineInRow) const;

    CPortPresence m_presence;
    CTimelineFind m_find;
    std::deque<CRow> m_rows;
    std::uint64_t m_qwFirstRow = 0;
    std::deque<CShown> m_shown;
    std::uint64_t m_qwLineEnd = 0;
    std::uint64_t m_qwMatchEnd = 0;
    std::optional<std::uint64_t> m_qwFirstNs;
    std::optional<std::uint64_t> m_qwLastShownNs;
    std::uint64_t m_qwPauseRow = 0; // the rows from it on came while paused
    std::size_t m_nPausedRows = 0;
    std::size_t m_nMaxRecords;
    std::uint64_t m_qwDropped = 0;
    std::uint64_t m_qwRevision = 0;
    unsigned m_nDirections = DIRECTION_ALL;
    std::optional<std::uint32_t> m_dwProcess;
    ETimeMode m_eTimeMode = ETimeMode::WallClock;
    bool m_bPaused = false;
};
