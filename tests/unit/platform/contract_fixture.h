// Shared by the platform contract tests: a fresh scratch directory per test
// whose "state" subdirectory is the simulated host's state directory
// ($VDHOST).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/test_hooks.h"
#include "tests/support/scratch_dir.h"

namespace contract {

// The simulated host maps drives, devices and its own files through the
// state directory; Windows has none of that.
inline constexpr bool kSimulatedHost = VD_SIMULATED_HOST != 0;

class ScratchTest : public ::testing::Test {
protected:
    void TearDown() override { win::test::ClearFaults(); }
    // Windows form of a path in the scratch directory.
    std::string Win(const std::string& relative = "") const {
        std::string p = (dir_ / relative).string();
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }
    void Write(const std::string& relative, const std::string& text) const { vdtest::WriteFile(dir_ / relative, text); }
    std::vector<std::string> Lines(const std::string& relative) const { return vdtest::ReadLines(dir_ / relative); }

    vdtest::ScratchDir scratch_{"vdcontract", true};
    const std::filesystem::path dir_ = scratch_.State();
    // Unique to the test, for names outside the scratch directory.
    const std::string tag_ = scratch_.Dir().filename().string();
};

}  // namespace contract
