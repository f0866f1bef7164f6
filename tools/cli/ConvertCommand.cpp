#include "ConvertCommand.h"

#include "CPcapngWriter.h"
#include "CReplacingFile.h"
#include "CVantryDevice.h"
#include "RecordFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

const char* const USAGE =
    "wirelet-cli convert: usage: wirelet-cli convert FILE -o OUT.pcapng [--port PATH]\n";

} // namespace

int RunConvert(int argc, char* argv[]) {
    std::string strFile, strOut, strPort;
    bool bUsable = true;
    for (int i = 0; i < argc && bUsable; ++i) {
        const std::string strArg = argv[i];
        if (strArg == "-o" && i + 1 < argc && strOut.empty())
            strOut = argv[++i];
        else if (strArg == "--port" && i + 1 < argc && strPort.empty())
            strPort = argv[++i];
        else if (strFile.empty() && (strArg == "-" || !strArg.starts_with('-')))
            strFile = strArg;
        else
            bUsable = false;
    }
    // OUT is written whole or not at all, which standard output cannot be.
    if (!bUsable || strFile.empty() || strOut.empty() || strOut == "-") {
        std::cerr << USAGE;
        return 2;
    }
    // A record file does not say which port it was captured on; its own name
    // is what tells the user where the packets came from.
    const std::string strInterface = !strPort.empty() ? CVantryDevice::PortDevicePath(strPort)
                                     : strFile == "-"
                                         ? std::string("stdin")
                                         : std::filesystem::path(strFile).filename().string();
    const auto outError = [&] {
        std::cerr << "wirelet-cli convert: " << strOut << ": " << std::strerror(errno) << "\n";
        return 1;
    };
    CReplacingFile out(strOut);
    if (!out.Create())
        return outError();
    CPcapngWriter writer(CPcapngWriter::FdSink(out.Fd()));
    std::uint32_t nInterface = 0;
    bool bWritten = writer.WriteSection(std::string("wirelet-cli ") + WIRELET_VERSION) &&
                    writer.AddInterface(strInterface, nInterface);
    int nWriteError = bWritten ? 0 : errno;
    std::string strError;
    const bool bRead = ForEachRecordInFile(
        strFile,
        [&](auto record) {
            if (bWritten && !writer.WriteRecord(nInterface, CRecordView(record))) {
                bWritten = false;
                nWriteError = errno;
            }
        },
        strError);
    if (!bRead) {
        std::cerr << "wirelet-cli convert: " << strError << "\n";
        return 2;
    }
    if (!bWritten) {
        errno = nWriteError;
        return outError();
    }
    if (!out.Close() || !out.Replace())
        return outError();
    return 0;
}
