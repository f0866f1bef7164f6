// The words for how the driver captures, from what it answers when asked:
// one line for the console tool's --version and the main window's status
// bar, so that both say the same.
#pragma once

#include <string>
#include <string_view>

namespace CaptureSourceText {

// "driver: capturing with eBPF (tp_btf)" for "ebpf tp_btf", and so on. A
// text this program does not know is shown as it came, printable ASCII only.
std::string Describe(std::string_view strSource);

} // namespace CaptureSourceText
