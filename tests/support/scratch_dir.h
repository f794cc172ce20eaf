// File helpers of the tests: a fresh scratch directory per test (removed
// at the end), optionally the simulated host's state directory, and reading
// and writing whole files.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace vdtest {

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh directory named `prefix` plus a stamp and a counter. Kept short:
// an application directory under it must stay within the 63 characters the
// task keeps of VDAPP. With `host_state`, VDHOST points at its "state"
// subdirectory while it lives.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "vdt", bool host_state = false) : host_state_(host_state) {
        static std::atomic<int> counter{0};
        static const unsigned stamp = static_cast<unsigned>(
            std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
        dir_ = std::filesystem::temp_directory_path() /
               (prefix + std::to_string(stamp) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(host_state_ ? State() : dir_);
        if (host_state_) win::SetEnvironmentVariableA("VDHOST", State().generic_string().c_str());
    }
    ~ScratchDir() {
        if (host_state_) win::SetEnvironmentVariableA("VDHOST", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    std::filesystem::path State() const { return dir_ / "state"; }

private:
    std::filesystem::path dir_;
    bool host_state_;
};

}  // namespace vdtest
