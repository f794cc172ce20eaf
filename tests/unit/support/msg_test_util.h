// Helpers of the catalog and language tests: a scratch directory with files
// and a clean process-wide catalog, language and environment state.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/catalog.h"
#include "support/environment.h"
#include "support/language.h"
#include "support/message_lookup.h"

namespace msgtest {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("vdmsg_" + std::to_string(rd()) + "_" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
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
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Scratch path of a relative name, with "/" separators.
    std::string Path(const std::string& relative = "") const {
        std::string p = dir_.generic_string();
        return relative.empty() ? p : p + "/" + relative;
    }

    void Write(const std::string& relative, const std::string& content) const {
        std::filesystem::path p = dir_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out << content;
    }

    std::string Read(const std::string& relative) const {
        std::ifstream in(dir_ / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir_;
};

}  // namespace msgtest
