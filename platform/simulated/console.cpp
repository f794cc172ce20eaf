#include "platform/console.h"
#include "platform/fault_points.h"

#include <atomic>

#include "platform/codepage.h"
#include "platform/error.h"

namespace win {
namespace {

// 0 until first used: then the host's OEM code page.
std::atomic<UINT> g_input_cp{0};
std::atomic<UINT> g_output_cp{0};

bool Known(UINT cp) {
    switch (cp) {
        case 437: case 850: case 852: case 866: case 874:
        case 932: case 936: case 949: case 950:
        case 20127: case 28591: case 65001:
            return true;
        default:
            return cp >= 1250 && cp <= 1258;
    }
}

UINT Current(std::atomic<UINT>& slot) {
    UINT cp = slot.load();
    if (cp == 0) {
        UINT initial = GetOEMCP();
        slot.compare_exchange_strong(cp, initial);
        cp = slot.load();
    }
    return cp;
}

BOOL Set(std::atomic<UINT>& slot, UINT cp) {
    if (!Known(cp)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    slot.store(cp);
    return TRUE;
}

}  // namespace

BOOL sys::SetConsoleOutputCP(UINT code_page) {
    return Set(g_output_cp, code_page);
}
BOOL sys::SetConsoleCP(UINT code_page) {
    return Set(g_input_cp, code_page);
}
UINT sys::GetConsoleCP() {
    return Current(g_input_cp);
}
UINT sys::GetConsoleOutputCP() {
    return Current(g_output_cp);
}

}  // namespace win
