// Support tests that touch files: a fresh scratch directory, a clean
// process-wide catalog, language and environment state, an owned path record.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/catalog.h"
#include "support/environment.h"
#include "support/language.h"
#include "support/message_lookup.h"
#include "support/paths.h"
#include "tests/support/scratch_dir.h"

namespace supporttest {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_set("VDHOST", Path(".host").c_str());
        Reset();
    }

    void TearDown() override {
        Reset();
        env_set("VDHOST", nullptr);
    }

    static void Reset() {
        for (const char* name : {"VDPATH", "VDROOT", "VDCODEPAGE", "VDT_DIR", "VDT_EMPTY", "TMP", "TEMP", "TMPDIR"})
            env_set(name, nullptr);
        codepage_reset();
        msg_set_translation(0);
        msg_free(msg_root());
    }

    // Scratch path of a relative name, with "/" separators.
    std::string Path(const std::string& relative = "") const {
        std::string p = dir_.generic_string();
        return relative.empty() ? p : p + "/" + relative;
    }

    void Write(const std::string& relative, const std::string& content = "x") const {
        vdtest::WriteFile(dir_ / relative, content);
    }
    std::string Read(const std::string& relative) const { return vdtest::ReadFile(dir_ / relative); }

    vdtest::ScratchDir scratch_{"vdsup_"};
    const std::filesystem::path dir_ = scratch_.Dir();
};

struct Record {
    PathRecord* p;
    explicit Record(PathRecord* record) : p(record) {}
    ~Record() { path_free(p); }
    PathRecord* operator->() const { return p; }
};

// The record in its Windows form; "<null>" when it cannot be formatted.
inline std::string Format(const PathRecord* record) {
    char* text = path_format(record, nullptr, 0);
    if (text == nullptr) return "<null>";
    std::string out = text;
    std::free(text);
    return out;
}

}  // namespace supporttest
