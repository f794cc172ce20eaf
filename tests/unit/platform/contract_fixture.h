// Shared by the platform and support tests: a fresh scratch directory per
// test, its "state" subdirectory the simulated host's state directory
// ($VDHOST) and the test's files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/test_hooks.h"
#include "tests/support/scratch_dir.h"

namespace contract {

class ScratchTest : public ::testing::Test {
protected:
    void TearDown() override { win::test::ClearFaults(); }
    void Write(const std::string& relative, const std::string& text = "x") const { vdtest::WriteFile(dir_ / relative, text); }

    vdtest::ScratchDir scratch_{"vdcontract", true};
    const std::filesystem::path dir_ = scratch_.State();
    // Unique to the test, for names outside the scratch directory.
    const std::string tag_ = scratch_.Dir().filename().string();
};

}  // namespace contract
