// Debugger output on the simulated host: one line of "debug.txt" per call.
#include "platform/debug_output.h"

#include <string>
#include <string_view>

#include "platform/simulated/host_state.h"

namespace win {

void OutputDebugStringA(LPCSTR text) {
    std::string_view in = text == nullptr ? std::string_view() : std::string_view(text);
    if (in.ends_with("\r\n")) {
        in.remove_suffix(2);
    } else if (in.ends_with('\n')) {
        in.remove_suffix(1);
    }
    std::string line;
    line.reserve(in.size());
    for (char c : in) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\\') {
            line += "\\\\";
        } else {
            line += c;
        }
    }
    host::AppendLine("debug.txt", line);
}

}  // namespace win
