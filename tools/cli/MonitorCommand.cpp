#include "MonitorCommand.h"

#include "CPortPresence.h"
#include "CaptureSession.h"
#include "ControlText.h"
#include "NoticeText.h"
#include "TextEncoding.h"
#include "TimeText.h"
#include "TimelineText.h"
#include "TrafficText.h"

#include <iostream>
#include <string>

using namespace Vantry;

namespace {

// The panes put hex pairs on tab stops 10 dialog units apart and the
// character column 20 units after the last pair; a console gets the same
// layout with 3 columns for every 10 units.
std::string ConsoleText(std::u16string_view line) {
    if (line.ends_with(u"\r\n"))
        line.remove_suffix(2);
    std::u16string text;
    std::size_t nColumn = 0;
    for (const char16_t ch : line) {
        if (ch != u'\t') {
            text += ch;
            ++nColumn;
            continue;
        }
        const std::size_t nStop = nColumn < 45   ? (nColumn / 3 + 1) * 3
                                  : nColumn < 51 ? 51
                                                 : nColumn + 1;
        text.append(nStop - nColumn, u' ');
        nColumn = nStop;
    }
    while (!text.empty() && text.back() == u' ')
        text.pop_back();
    return TextEncoding::ToUtf8(text);
}

// Who is on the port is followed before a record is printed, so that the
// record that names a process already shows its command name.
bool PrintRecord(CPortPresence& presence, const CCaptureRecord& record) {
    const CRecordView view = record.View();
    if (!view.IsComplete())
        return true;
    const auto strOther = presence.Follow(view);
    const auto stamp = *view.GetStamp();
    const std::string strHead =
        TimeText::WallClock(stamp.qwTimeNs) + " " +
        TimelineText::ProcessColumns(stamp.dwProcessId, presence.CommandOf(stamp.dwProcessId)) +
        " ";
    const std::int8_t nType = *view.EventType();
    if (nType == CAPTURE_DATA_READ || nType == CAPTURE_DATA_WRITTEN) {
        const char* pszDirection = nType == CAPTURE_DATA_READ ? "< " : "> ";
        char16_t szLine[TrafficText::MAX_LINE_CHARS];
        auto payload = view.Payload();
        while (!payload.empty()) {
            const auto bytes = payload.first(std::min<std::size_t>(payload.size(), 16));
            const auto nLength = TrafficText::RenderDataLine(bytes, szLine);
            std::cout << strHead << pszDirection << ConsoleText({szLine, nLength}) << "\n";
            payload = payload.subspan(bytes.size());
        }
    } else if (const auto line = TrafficText::EventLine(view)) {
        std::cout << strHead << "* " << ConsoleText(*line) << "\n";
    } else if (const auto strWords = ControlText::Describe(view)) {
        std::cout << strHead << "* " << *strWords << "\n";
    } else if (const auto strNotice = NoticeText::Describe(view)) {
        std::cerr << "wirelet-cli monitor: " << *strNotice << "\n";
    }
    std::cout.flush();
    if (strOther)
        std::cerr << "wirelet-cli monitor: " << *strOther << "\n";
    return bool(std::cout);
}

} // namespace

int RunMonitor(int argc, char* argv[]) {
    if (argc != 1 || argv[0][0] == '-') {
        std::cerr << "wirelet-cli monitor: usage: wirelet-cli monitor PORT\n";
        return 2;
    }
    const auto onAttached = [](const std::string& strPath) {
        std::cerr << "wirelet-cli monitor: attached to " << strPath << " (Ctrl+C ends)\n";
        return true;
    };
    CPortPresence presence;
    const CStopEvent stop;
    return RunCaptureSession(
        "wirelet-cli monitor", argv[0], stop, onAttached,
        [&](const CCaptureRecord& record) { return PrintRecord(presence, record); });
}
