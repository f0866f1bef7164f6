#include "CDemoRun.h"
#include "CSerialPortMap.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

const char* const USAGE = R"(Usage: wirelet-demo [--driver VANTRY_SYS] [-- COMMAND [ARG...]]
       wirelet-demo --ports

Offers a demo serial port: a pty whose far end is a simulated modem that
answers AT commands, while a sample application (wirelet-demo-app) opens the
port, sets its line and sends it a request every second. A map file lists
the machine's serial ports and the demo port.

COMMAND runs with WIRELET_SERIALCOMM naming that map file and
WIRELET_DEMO_PORT naming the demo port; the demo ends with it and passes on
SIGINT, SIGTERM and SIGHUP sent to the demo alone. Without a command the demo
runs until one of those signals. Either way the sample application, the pty
and the map file go with it.

  --driver VANTRY_SYS  when no capture driver serves the driver device
                       (/run/Vantry, or what VANTRY_DEVICE names), start this
                       one for the run (as root) and stop it at the end
  --ports              print the machine's serial ports, one a line, and end

When WIRELET_DEMO_TRANSCRIPT names a file, the sample application logs there
every byte it writes and reads (see wirelet-demo-app --help).
)";

int PrintPorts() {
    for (const std::string& strPort : CSerialPortMap::Read().value_or(std::vector<std::string>{}))
        std::cout << strPort << "\n";
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    CDemoOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << USAGE;
            return 0;
        } else if (std::strcmp(argv[i], "--ports") == 0 && argc == 2) {
            return PrintPorts();
        } else if (std::strcmp(argv[i], "--driver") == 0 && i + 1 < argc) {
            options.strDriverImage = argv[++i];
        } else if (std::strcmp(argv[i], "--") == 0 && i + 1 < argc) {
            options.command.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::cerr << "wirelet-demo: bad argument '" << argv[i] << "'\n\n" << USAGE;
            return 2;
        }
    }
    if (const char* pszTranscript = std::getenv("WIRELET_DEMO_TRANSCRIPT"))
        options.strTranscript = pszTranscript;
    return CDemoRun(std::move(options)).Run();
}
