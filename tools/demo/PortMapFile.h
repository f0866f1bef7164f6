// The serial-port map that offers the demo port: the machine's own ports,
// as the program would list them, then the demo port.
#pragma once

#include <string>

namespace PortMapFile {

// False when the file cannot be written.
bool Write(const std::string& strPath, const std::string& strDemoPort);

} // namespace PortMapFile
