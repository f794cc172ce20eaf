// Shared by the platform contract tests: a fresh scratch directory per test
// that is also the simulated host's state directory ($VDHOST), and helpers
// to read and write its files.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/test_hooks.h"

namespace contract {

// The simulated host maps drives, devices and its own files through the
// state directory; Windows has none of that.
inline constexpr bool kSimulatedHost = VD_SIMULATED_HOST != 0;

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        tag_ = std::to_string(std::random_device{}()) + "_" + std::to_string(counter++);
        dir_ = std::filesystem::temp_directory_path() / ("vdcontract_" + tag_);
        std::filesystem::create_directories(dir_);
        win::SetEnvironmentVariableA("VDHOST", dir_.generic_string().c_str());
    }
    void TearDown() override {
        win::test::ClearFaults();
        win::SetEnvironmentVariableA("VDHOST", nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Windows form of a path in the scratch directory.
    std::string Win(const std::string& relative = "") const {
        std::string p = (dir_ / relative).string();
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }
    void Write(const std::string& relative, const std::string& text) const {
        std::filesystem::create_directories((dir_ / relative).parent_path());
        std::ofstream(dir_ / relative, std::ios::binary) << text;
    }
    std::string Read(const std::string& relative) const {
        std::ifstream in(dir_ / relative, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::string> Lines(const std::string& relative) const {
        std::vector<std::string> lines;
        std::istringstream in(Read(relative));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::string tag_;
    std::filesystem::path dir_;
};

}  // namespace contract
