#include "platform/codepage.h"

#include <windows.h>

namespace win {

UINT GetACP() { return ::GetACP(); }
UINT GetOEMCP() { return ::GetOEMCP(); }
BOOL IsDBCSLeadByte(BYTE test_char) { return ::IsDBCSLeadByte(test_char); }

}  // namespace win

namespace win::host {

void ReloadCodePages() {}

}  // namespace win::host
