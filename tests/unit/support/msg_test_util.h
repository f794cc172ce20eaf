// Helpers of the catalog and language tests: a scratch directory with files
// and a clean process-wide catalog, language and environment state.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/catalog.h"
#include "support/environment.h"
#include "support/language.h"
#include "support/message_lookup.h"
#include "tests/support/scratch_dir.h"

namespace msgtest {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_set("VDHOST", Path(".host").c_str());
        for (const char* name : {"VDPATH", "VDROOT", "VDCODEPAGE"}) env_set(name, nullptr);
        codepage_reset();
        msg_set_translation(0);
        msg_free(msg_root());
    }

    void TearDown() override {
        msg_free(msg_root());
        msg_set_translation(0);
        codepage_reset();
        for (const char* name : {"VDPATH", "VDROOT", "VDCODEPAGE", "VDHOST"}) env_set(name, nullptr);
    }

    // Scratch path of a relative name, with "/" separators.
    std::string Path(const std::string& relative = "") const {
        std::string p = dir_.generic_string();
        return relative.empty() ? p : p + "/" + relative;
    }

    void Write(const std::string& relative, const std::string& content) const {
        vdtest::WriteFile(dir_ / relative, content);
    }
    std::string Read(const std::string& relative) const { return vdtest::ReadFile(dir_ / relative); }

    vdtest::ScratchDir scratch_{"vdmsg_"};
    const std::filesystem::path dir_ = scratch_.Dir();
};

}  // namespace msgtest
