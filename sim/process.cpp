// The parts of starting programs that are the same everywhere: the check of
// the argument vector, the Windows command-line quoting (also checked by the
// host tests) and RunProgram.
#include "sim/process.h"

#include <cstdio>

namespace sim {

std::string QuoteWindowsArgument(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string_view::npos) return std::string(arg);
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped;
        // elsewhere they stand as they are.
        if (c == '"') out.append(backslashes * 2 + 1, '\\');
        else out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    // Backslashes before the closing quote are doubled.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::string WindowsCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) line += ' ';
        line += QuoteWindowsArgument(args[i]);
    }
    return line;
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& args, std::string& error,
                                                  const std::string& output_path) {
    if (args.empty() || args[0].empty()) {
        error = "no program to start";
        return nullptr;
    }
    return StartProgram(args, error, output_path);
}

int RunProgram(const std::vector<std::string>& args, const std::string& output_path) {
    std::string error;
    std::unique_ptr<ChildProcess> child = ChildProcess::Start(args, error, output_path);
    if (!child) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return -1;
    }
    int code = -1;
    child->Wait(-1, code);
    return code;
}

}  // namespace sim
