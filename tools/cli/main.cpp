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
    std::cerr << (strCommand.empty() ? std::string("wirelet-cli: a command is needed")
                                     : "wirelet-cli: unknown command '" + strCommand + "'")
              << "\n\n"
              << USAGE;
    return 2;
}
