#include "CSampleApp.h"

#include <cstring>
#include <iostream>

namespace {

const char* const USAGE = R"(Usage: wirelet-demo-app PORT [--transcript FILE]

Talks to a modem on PORT (a device path) as a terminal program would: each
session opens the port, sets 115200 8N1 or, every other time, 9600 7E1,
sends AT commands about a second apart and reads the answers, then closes
it. Runs until SIGINT, SIGTERM or SIGHUP.

  --transcript FILE  log every write ("> ") and read ("< ") on the port to
                     FILE, one call a line, its bytes in hex
)";

} // namespace

int main(int argc, char* argv[]) {
    std::string strPort, strTranscript;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << USAGE;
            return 0;
        } else if (std::strcmp(argv[i], "--transcript") == 0 && i + 1 < argc) {
            strTranscript = argv[++i];
        } else if (strPort.empty() && argv[i][0] != '-') {
            strPort = argv[i];
        } else {
            strPort.clear();
            break;
        }
    }
    if (strPort.empty()) {
        std::cerr << USAGE;
        return 2;
    }
    const CSignalFd signals({SIGINT, SIGTERM, SIGHUP});
    CTranscript transcript;
    if (const int nError = transcript.Open(strTranscript)) {
        std::cerr << "wirelet-demo-app: " << strTranscript << ": " << std::strerror(nError) << "\n";
        return 1;
    }
    return CSampleApp(strPort, transcript, signals).Run();
}
