#include "CVantryDevice.h"
#include "CaptureCommand.h"
#include "CaptureSourceText.h"
#include "ConvertCommand.h"
#include "MonitorCommand.h"
#include "RenderCommand.h"

#include <iostream>
#include <string>

namespace {

const char* const RENDER_HELP = R"(  render FILE --pane recv|send [--export]
      Print the text that the receive (recv) or send pane of a new monitor
      would hold after every record of FILE. Output is UTF-8 with CR LF line
      breaks; with --export, exactly the bytes an export of that pane writes
      (UTF-16 little-endian, no byte-order mark).
  render FILE --totals
      Print the received and sent byte totals as "recv N" and "send M".
  render FILE --timeline [--csv]
      Print every record of FILE as the timeline shows it, in columns: the
      time (local wall clock), ">" (written by the application), "<" (read
      by it) or "*" (an event), the pid and command name of the process, then
      the bytes as hex and characters, 16 a line, or the event's words.
      UTF-8 with LF line breaks; with --csv, one CSV row per record (RFC
      4180: CR LF, a header row). Printed as FILE is read: a damaged FILE
      stops it after the records before the damage.
)";

const char* const FILE_HELP = R"(
FILE is a record file: records one after another, each preceded by its
32-bit little-endian size; no record is larger than 65560 bytes. "-" reads
standard input. A file that cannot be read, is not a record file, or is
truncated or malformed prints nothing (--timeline: only the records before
the damage), explains itself on stderr (reading stops at the first bad
record) and exits with 2.
)";

const char* const PORT_HELP = R"(
PORT is a port name such as ttyUSB0 (meaning /dev/ttyUSB0) or a device path
(a name with a slash in it, such as ./ttyV0). The driver device is
/run/Vantry, or what VANTRY_DEVICE names. Driver errors (no driver running,
no rights, not a terminal device) exit 1.
)";

const char* const MONITOR_HELP = R"(  monitor PORT
      Attach to PORT through the capture driver and print every event as it
      arrives, as the panes would show it: each line starts with the record's
      time, the pid and command name of the process (blank when the driver
      could not tell) and "<" (received), ">" (sent) or "*" (a port event).
      The processes the driver names, modem-line changes, break, drain,
      flush, flow control and failed settings calls are port events too.
      Driver notices, and a process at work on the port while another holds
      it (a second opener, settings changed by another), go to stderr.
      Ctrl+C detaches and ends.
)";

const char* const CAPTURE_HELP = R"(  capture PORT [--format record|pcapng] -o FILE
      Attach to PORT as monitor does and write every record to FILE as a
      record file, or with --format pcapng as pcapng for Wireshark (one packet
      a record, laid out as docs/pcapng.md says). "-" is standard output,
      where every record is written at once: a reader such as Wireshark's
      sshdump sees it as it comes. FILE is replaced only once the capture has
      started. A reader of standard output that goes away ends the capture
      as Ctrl+C does.
)";

const char* const CONVERT_HELP = R"(  convert FILE -o OUT [--port PORT]
      Write the records of the record file FILE to OUT as pcapng, as
      capture --format pcapng would have. The packets' interface is named
      PORT; without --port, after FILE (a record file does not say its
      port). A damaged FILE is refused as render refuses it, and OUT is then
      neither written nor left behind.
)";

const char* const VERSION_HELP = R"HELP(  --version
      Print the version of this tool and, when a driver answers on the
      driver device, how it captures: a line such as
      "driver: capturing with eBPF (tp_btf)" or "driver: capturing with ptrace".
)HELP";

struct CCommand {
    const char* pszName;
    std::string strHelp;
    int (*pfnRun)(int argc, char* argv[]);
};

const CCommand COMMANDS[] = {
    {"render", RENDER_HELP + std::string(FILE_HELP), RunRender},
    {"monitor", MONITOR_HELP + std::string(PORT_HELP), RunMonitor},
    {"capture", CAPTURE_HELP + std::string(PORT_HELP), RunCapture},
    {"convert", CONVERT_HELP + std::string(FILE_HELP), RunConvert},
};

std::string Usage() {
    return std::string("Usage: wirelet-cli COMMAND ...\n\nCommands:\n") + RENDER_HELP +
           CONVERT_HELP + "\n" + MONITOR_HELP + CAPTURE_HELP + VERSION_HELP + PORT_HELP + FILE_HELP;
}

bool IsHelp(const std::string& strArg) {
    return strArg == "--help" || strArg == "-h";
}

// A driver that is not running, or too old to say, is simply not named.
int PrintVersion() {
    std::cout << "wirelet-cli " << WIRELET_VERSION << "\n";
    CVantryDevice device;
    if (device.Open() == 0) {
        if (const auto strSource = device.CaptureSource())
            std::cout << CaptureSourceText::Describe(*strSource) << "\n";
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string strCommand = argc > 1 ? argv[1] : "";
    if (IsHelp(strCommand) || strCommand == "help") {
        std::cout << Usage();
        return 0;
    }
    if (strCommand == "--version")
        return PrintVersion();
    for (const CCommand& command : COMMANDS) {
        if (strCommand != command.pszName)
            continue;
        for (int i = 2; i < argc; ++i) {
            if (IsHelp(argv[i])) {
                std::cout << "Usage:\n" << command.strHelp;
                return 0;
            }
        }
        return command.pfnRun(argc - 2, argv + 2);
    }
    std::cerr << (strCommand.empty() ? std::string("wirelet-cli: a command is needed")
                                     : "wirelet-cli: unknown command '" + strCommand + "'")
              << "\n\n"
              << Usage();
    return 2;
}
