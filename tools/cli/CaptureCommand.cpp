#include "CaptureCommand.h"

#include "CPcapngWriter.h"
#include "CReaderGoneWatch.h"
#include "CReplacingFile.h"
#include "CaptureSession.h"
#include "RecordFile.h"

#include <signal.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace {

const char* const USAGE =
    "wirelet-cli capture: usage: wirelet-cli capture PORT [--format record|pcapng] -o FILE\n";

} // namespace

int RunCapture(int argc, char* argv[]) {
    std::string strPort, strFile, strFormat = "record";
    bool bUsable = true;
    for (int i = 0; i < argc && bUsable; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "-o" && i + 1 < argc && strFile.empty())
            strFile = argv[++i];
        else if (strArg == "--format" && i + 1 < argc)
            strFormat = argv[++i];
        else if (strPort.empty() && !strArg.starts_with('-'))
            strPort = strArg;
        else
            bUsable = false;
    }
    if (!bUsable || strPort.empty() || strFile.empty() ||
        (strFormat != "record" && strFormat != "pcapng")) {
        std::cerr << USAGE;
        return 2;
    }
    const auto fileError = [&] {
        std::cerr << "wirelet-cli capture: " << strFile << ": " << std::strerror(errno) << "\n";
        return false;
    };
    // A reader that went away is a reader that has all it wanted: a write
    // to it fails with EPIPE instead of ending the tool unannounced.
    signal(SIGPIPE, SIG_IGN);
    CReplacingFile file(strFile);
    if (!file.Create()) {
        fileError();
        return 1;
    }
    const CStopEvent stop;
    std::optional<CReaderGoneWatch> watch;
    if (file.IsStandardOutput())
        watch.emplace(file.Fd(), stop);
    bool bReaderGone = false;
    // What a failed write means: the end of the capture when the reader went
    // away, an error otherwise.
    const auto written = [&](bool bWritten) {
        if (bWritten || (errno == EPIPE && file.IsStandardOutput())) {
            bReaderGone = bReaderGone || !bWritten;
            if (bReaderGone)
                stop.Set();
            return true;
        }
        return fileError();
    };

    std::unique_ptr<CPcapngWriter> pWriter;
    std::uint32_t nInterface = 0;
    if (strFormat == "pcapng")
        pWriter = std::make_unique<CPcapngWriter>(CPcapngWriter::FdSink(file.Fd()));
    // FILE is replaced only once the capture has started, so that a capture
    // that fails leaves FILE as it was.
    const auto onAttached = [&](const std::string& strPath) {
        if (!file.Replace())
            return fileError();
        if (!pWriter)
            return true;
        return written(pWriter->WriteSection(std::string("wirelet-cli ") + WIRELET_VERSION) &&
                       pWriter->AddInterface(strPath, nInterface));
    };
    // Each record is written whole as it comes, so an interrupted capture
    // still leaves a file that render (or Wireshark) reads, and a reader of
    // standard output has each record at once.
    const auto onRecord = [&](const CCaptureRecord& record) {
        if (bReaderGone)
            return true;
        if (pWriter)
            return written(pWriter->WriteRecord(nInterface, record.View()));
        return written(WriteFileRecord(file.Fd(), record.View().Bytes()));
    };
    int nStatus = RunCaptureSession("wirelet-cli capture", strPort, stop, onAttached, onRecord);
    watch.reset();
    if (!file.Close() && nStatus == 0) {
        fileError();
        nStatus = 1;
    }
    return nStatus;
}
