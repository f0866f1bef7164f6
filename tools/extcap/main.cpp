// wirelet-extcap: the ports of the port list as capture interfaces of
// Wireshark, through its extcap interface (doc/extcap.adoc of Wireshark).
// Wireshark runs it once for each question: which interfaces, which link
// type, which options, and finally the capture into a fifo.
#include "CRecordQueue.h"
#include "CVantryDevice.h"
#include "ExtcapCapture.h"
#include "ExtcapPorts.h"

#include <charconv>
#include <iostream>
#include <map>
#include <string>

namespace {

const char* const WHO = "wirelet-extcap";

const char* const USAGE = R"(Usage: wirelet-extcap --extcap-interfaces
       wirelet-extcap --extcap-interface ID --extcap-dlts
       wirelet-extcap --extcap-interface ID --extcap-config
       wirelet-extcap --extcap-interface ID --capture --fifo FIFO
                      [--port PATH] [--queue-limit BYTES]
Wireshark runs this to offer the serial ports of the port list as capture
interfaces named wirelet-NAME (such as wirelet-ttyUSB0 or wirelet-pts-3).
A capture writes pcapng, one packet a record of the capture driver, link
type 147 (USER0), until Wireshark stops it. --port captures another port
than the interface's; --queue-limit bounds the bytes of records held while
Wireshark reads more slowly than the port talks (beyond it the driver drops
records and says how many in a notice packet).
)";

// Options that take a value, as "--name value" or "--name=value".
const char* const VALUED[] = {"--extcap-interface",
                              "--fifo",
                              "--port",
                              "--queue-limit",
                              "--extcap-version",
                              "--extcap-capture-filter",
                              "--extcap-control-in",
                              "--extcap-control-out"};

bool IsValued(const std::string& strName) {
    for (const char* pszName : VALUED) {
        if (strName == pszName)
            return true;
    }
    return false;
}

bool Parse(int argc, char* argv[], std::map<std::string, std::string>& options) {
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        std::string strValue;
        if (const auto nEquals = strArg.find('='); nEquals != std::string::npos) {
            strValue = strArg.substr(nEquals + 1);
            strArg.resize(nEquals);
        } else if (IsValued(strArg)) {
            if (++i == argc)
                return false;
            strValue = argv[i];
        }
        if (!strArg.starts_with("--"))
            return false;
        options[strArg] = strValue;
    }
    return true;
}

int ListInterfaces() {
    std::cout << "extcap {version=" << WIRELET_VERSION << "}{help=https://wirelet.dev/}\n";
    for (const auto& port : ExtcapPorts::List())
        std::cout << "interface {value=" << port.strId << "}{display=wirelet: " << port.strPath
                  << "}\n";
    return 0;
}

int ListConfig(const std::string& strPath) {
    std::cout << "arg {number=0}{call=--port}{display=Port}{type=string}{default=" << strPath
              << "}{tooltip=The device path of the serial port to capture}\n"
              << "arg {number=1}{call=--queue-limit}{display=Queue limit (bytes)}{type=unsigned}"
              << "{default=" << CRecordQueue::DEFAULT_MAX_BYTES << "}{range=0,1073741824}"
              << "{tooltip=Bytes of records held while Wireshark reads more slowly than the port "
                 "talks; beyond it the driver drops records and says how many}\n";
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    std::map<std::string, std::string> options;
    if (!Parse(argc, argv, options) || options.empty() || options.contains("--help")) {
        (options.contains("--help") ? std::cout : std::cerr) << USAGE;
        return options.contains("--help") ? 0 : 2;
    }
    if (options.contains("--extcap-interfaces"))
        return ListInterfaces();
    const std::string strId = options["--extcap-interface"];
    const auto strListed = ExtcapPorts::PathOf(strId);
    const auto strPort = options.contains("--port")
                             ? std::optional(CVantryDevice::PortDevicePath(options["--port"]))
                             : strListed;
    if (!strPort) {
        std::cerr << WHO << ": no port has the interface id '" << strId << "'\n";
        return 2;
    }
    if (options.contains("--extcap-dlts")) {
        std::cout << "dlt {number=147}{name=USER0}{display=wirelet records}\n";
        return 0;
    }
    if (options.contains("--extcap-config"))
        return ListConfig(*strPort);
    // The driver sends every record of the port; there is nothing to filter on.
    if (!options["--extcap-capture-filter"].empty()) {
        std::cout << "wirelet interfaces take no capture filter\n";
        return options.contains("--capture") ? 2 : 0;
    }
    if (!options.contains("--capture"))
        return 0;
    std::size_t nQueueLimit = CRecordQueue::DEFAULT_MAX_BYTES;
    if (options.contains("--queue-limit")) {
        const std::string& strLimit = options["--queue-limit"];
        const auto result =
            std::from_chars(strLimit.data(), strLimit.data() + strLimit.size(), nQueueLimit);
        if (result.ec != std::errc() || result.ptr != strLimit.data() + strLimit.size()) {
            std::cerr << WHO << ": --queue-limit takes a number of bytes, not '" << strLimit
                      << "'\n";
            return 2;
        }
    }
    if (options["--fifo"].empty()) {
        std::cerr << WHO << ": --capture needs --fifo\n";
        return 2;
    }
    return RunExtcapCapture(options["--fifo"], *strPort, nQueueLimit);
}
