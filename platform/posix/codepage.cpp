#include "platform/codepage.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/posix/host_state.h"

namespace win {
namespace {

struct CodePages {
    UINT acp = 1252;
    UINT oemcp = 437;
};

std::mutex g_mutex;
std::atomic<bool> g_loaded{false};
std::atomic<UINT> g_acp{1252};
std::atomic<UINT> g_oemcp{437};

// "ACP=932" / "OEMCP=850" lines of the state file; anything else is ignored.
CodePages ReadStateFile() {
    CodePages pages;
    std::ifstream in(host::StatePath("codepages"));
    std::string line;
    while (std::getline(in, line)) {
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string name = line.substr(0, eq);
        unsigned long value = std::strtoul(line.c_str() + eq + 1, nullptr, 10);
        if (value == 0 || value > 65535) continue;
        if (name == "ACP") pages.acp = static_cast<UINT>(value);
        if (name == "OEMCP") pages.oemcp = static_cast<UINT>(value);
    }
    return pages;
}

void Load(bool force) {
    if (!force && g_loaded.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!force && g_loaded.load(std::memory_order_relaxed)) return;
    CodePages pages = ReadStateFile();
    g_acp.store(pages.acp);
    g_oemcp.store(pages.oemcp);
    g_loaded.store(true, std::memory_order_release);
}

}  // namespace

UINT GetACP() {
    Load(false);
    return g_acp.load();
}

UINT GetOEMCP() {
    Load(false);
    return g_oemcp.load();
}

BOOL IsDBCSLeadByte(BYTE test_char) {
    switch (GetACP()) {
        case 932:  // lead bytes 0x81-0x9F and 0xE0-0xFC
            return ((test_char >= 0x81 && test_char <= 0x9F) || (test_char >= 0xE0 && test_char <= 0xFC)) ? TRUE
                                                                                                           : FALSE;
        case 936:
        case 949:
        case 950:  // lead bytes 0x81-0xFE
            return (test_char >= 0x81 && test_char <= 0xFE) ? TRUE : FALSE;
        default:
            return FALSE;
    }
}

}  // namespace win

namespace win::host {

void ReloadCodePages() { Load(true); }

}  // namespace win::host
