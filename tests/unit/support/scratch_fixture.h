// Support tests that touch files: the platform tests' scratch directory,
// a clean process-wide catalog, language and environment state, an owned
// path record.
#pragma once

#include <cstdlib>
#include <string>

#include "support/catalog.h"
#include "support/environment.h"
#include "support/language.h"
#include "support/message_lookup.h"
#include "support/paths.h"
#include "tests/unit/platform/contract_fixture.h"

namespace supporttest {

class ScratchTest : public contract::ScratchTest {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override {
        Reset();
        contract::ScratchTest::TearDown();
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
    std::string Read(const std::string& relative) const { return vdtest::ReadFile(dir_ / relative); }
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
