// Helpers of the commands tests: a scratch directory that serves as the
// simulated host's state directory, and file reading.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace cmdtest {

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh directory per test; VDHOST points at its "state" subdirectory.
class ScratchDir {
public:
    ScratchDir() {
        // Short: the application directory under it must stay within the
        // 63 characters the task keeps of VDAPP.
        static std::atomic<int> counter{0};
        static const unsigned stamp = static_cast<unsigned>(
            std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
        std::string name = "vdc" + std::to_string(stamp) + "_" + std::to_string(counter++);
        dir_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "state");
        win::SetEnvironmentVariableA("VDHOST", State().generic_string().c_str());
    }
    ~ScratchDir() {
        win::SetEnvironmentVariableA("VDHOST", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& Dir() const { return dir_; }
    std::filesystem::path State() const { return dir_ / "state"; }

private:
    std::filesystem::path dir_;
};

}  // namespace cmdtest
