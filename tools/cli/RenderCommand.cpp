#include "RenderCommand.h"

#include "CMemoryPane.h"
#include "CTimelineModel.h"
#include "CTrafficFormatter.h"
#include "RecordFile.h"
#include "TextEncoding.h"
#include "TimelineText.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

struct CRenderOptions {
    std::string m_strFile;
    std::string m_strPane;
    bool m_bExport = false;
    bool m_bTotals = false;
    bool m_bTimeline = false;
    bool m_bCsv = false;
};

bool ParseOptions(int argc, char* argv[], CRenderOptions& options, std::string& strError) {
    for (int i = 0; i < argc; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "--pane") {
            if (++i == argc) {
                strError = "--pane needs recv or send";
                return false;
            }
            options.m_strPane = argv[i];
            if (options.m_strPane != "recv" && options.m_strPane != "send") {
                strError = "--pane takes recv or send, not '" + options.m_strPane + "'";
                return false;
            }
        } else if (strArg == "--export") {
            options.m_bExport = true;
        } else if (strArg == "--totals") {
            options.m_bTotals = true;
        } else if (strArg == "--timeline") {
            options.m_bTimeline = true;
        } else if (strArg == "--csv") {
            options.m_bCsv = true;
        } else if (strArg.size() > 1 && strArg[0] == '-') {
            strError = "unknown option '" + strArg + "'";
            return false;
        } else if (options.m_strFile.empty()) {
            options.m_strFile = strArg;
        } else {
            strError = "only one FILE can be rendered";
            return false;
        }
    }
    if (options.m_strFile.empty())
        strError = "render needs a FILE";
    else if (int(options.m_bTotals) + int(!options.m_strPane.empty()) + int(options.m_bTimeline) !=
             1)
        strError = "render needs one of --pane recv|send, --totals or --timeline";
    else if (options.m_bExport && options.m_strPane.empty())
        strError = "--export goes with --pane";
    else if (options.m_bCsv && !options.m_bTimeline)
        strError = "--csv goes with --timeline";
    return strError.empty();
}

void Write(const std::string& strBytes) {
    std::fwrite(strBytes.data(), 1, strBytes.size(), stdout);
}

// The timeline holds only the record at hand, so that a file of any length
// is printed in the memory of one record, in the rows of a timeline export.
// Nothing is printed before the first record proved it a record file.
bool RenderTimeline(const CRenderOptions& options, std::string& strError) {
    CTimelineModel model(1);
    bool bHeaded = !options.m_bCsv;
    const auto head = [&] {
        if (!bHeaded)
            Write(std::string(TimelineText::CSV_HEADER));
        bHeaded = true;
    };
    const bool bRead = ForEachRecordInFile(
        options.m_strFile,
        [&](auto record) {
            head();
            const std::uint64_t qwTaken = model.DroppedRecords() + model.RecordCount();
            model.Append(CRecordView(record));
            if (model.DroppedRecords() + model.RecordCount() == qwTaken)
                return;
            Write(options.m_bCsv ? model.ExportCsv().substr(TimelineText::CSV_HEADER.size())
                                 : model.ExportText());
        },
        strError);
    if (bRead)
        head();
    return bRead;
}

} // namespace

int RunRender(int argc, char* argv[]) {
    CRenderOptions options;
    std::string strError;
    if (!ParseOptions(argc, argv, options, strError)) {
        std::cerr << "wirelet-cli render: " << strError << "\n";
        return 2;
    }
    if (options.m_bTimeline) {
        if (!RenderTimeline(options, strError)) {
            std::cerr << "wirelet-cli render: " << strError << "\n";
            return 2;
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // The panes keep only their last lines, so however long the file, what
    // is held in memory stays bounded; nothing is printed unless all of it
    // was sound.
    CMemoryPane paneRead;
    CMemoryPane paneWrite;
    CTrafficFormatter formatter;
    formatter.SetPanes(&paneRead, &paneWrite);
    if (!ForEachRecordInFile(
            options.m_strFile,
            [&](auto record) { formatter.FormatRecord(CCaptureRecord::CopyOf(record)); },
            strError)) {
        std::cerr << "wirelet-cli render: " << strError << "\n";
        return 2;
    }

    if (options.m_bTotals) {
        std::cout << "recv " << formatter.TotalRead() << "\nsend " << formatter.TotalWrite()
                  << "\n";
        return 0;
    }
    const std::u16string text = (options.m_strPane == "recv" ? paneRead : paneWrite).Text();
    Write(options.m_bExport ? TextEncoding::ToUtf16Le(text) : TextEncoding::ToUtf8(text));
    return std::fflush(stdout) == 0 ? 0 : 1;
}
