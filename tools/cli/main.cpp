#include "MonitorCommand.h"
#include "RenderCommand.h"

#include <iostream>
#include <string>

static const char* const USAGE = R"(Usage: wirelet-cli COMMAND ...

Commands:
  render FILE --pane recv|send [--export]
      Print the text that the receive (recv) or send pane of a new monitor
      would hold after every record of FILE. Output is UTF-8 with CR LF line
      breaks; with --export, exactly the bytes an export of that pane writes
      (UTF-16 little-endian, no byte-order mark).
  render FILE --totals
      Print the received and sent byte totals as "recv N" and "send M".

  monitor PORT
      Attach to PORT through the capture driver and print every event as it
      arrives, as the panes would show it: each line starts with the record's
      time and "<" (received), ">" (sent) or "*" (a port event). Ctrl+C
      detaches and ends.
  capture PORT -o FILE
      The same, written to FILE as a record file ("-": standard output).

PORT is a port name such as ttyUSB0 (meaning /dev/ttyUSB0) or an absolute
device path. The driver device is /run/Vantry, or what VANTRY_DEVICE names.
Driver errors (no driver running, no rights, not a terminal device) exit 1.

FILE is a record file: records one after another, each preceded by its
32-bit little-endian size. "-" reads standard input. A truncated or
malformed file prints nothing, explains itself on stderr and exits with 2.
)";

int main(int argc, char* argv[]) {
    const std::string strCommand = argc > 1 ? argv[1] : "";
    if (strCommand == "--help" || strCommand == "-h" || strCommand == "help") {
        std::cout << USAGE;
        return 0;
    }
    if (strCommand == "render")
        return RunRender(argc - 2, argv + 2);
    if (strCommand == "monitor")
        return RunMonitor(argc - 2, argv + 2);
    if (strCommand == "capture")
        return RunCapture(argc - 2, argv + 2);
    std::cerr << (strCommand.empty() ? std::string("wirelet-cli: a command is needed")
                                     : "wirelet-cli: unknown command '" + strCommand + "'")
              << "\n\n"
              << USAGE;
    return 2;
}
