#include "RenderCommand.h"

#include "CMemoryPane.h"
#include "CTrafficFormatter.h"
#include "RecordFile.h"
#include "TextEncoding.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

struct CRenderOptions {
    std::string m_strFile;
    std::string m_strPane;
    bool m_bExport = false;
    bool m_bTotals = false;
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
    else if (options.m_bTotals == !options.m_strPane.empty())
        strError = "render needs either --pane recv|send or --totals";
    else if (options.m_bExport && options.m_bTotals)
        strError = "--export goes with --pane";
    return strError.empty();
}

void Write(const std::string& strBytes) {
    std::fwrite(strBytes.data(), 1, strBytes.size(), stdout);
}

} // namespace

int RunRender(int argc, char* argv[]) {
    CRenderOptions options;
    std::string strError;
    if (!ParseOptions(argc, argv, options, strError)) {
        std::cerr << "wirelet-cli render: " << strError << "\n";
        return 2;
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
