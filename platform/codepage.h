// Code pages: GetACP, GetOEMCP, IsDBCSLeadByte.
//
// The simulated host reads its code pages from the file "codepages" of the
// host state directory (lines "ACP=<n>" and "OEMCP=<n>"); without it the
// ANSI code page is 1252 and the OEM code page 437. The values are read at
// first use and stay for the process, as on Windows.
#pragma once

#include "platform/types.h"

namespace win {

UINT GetACP();
UINT GetOEMCP();

// Whether the byte can be the first byte of a double-byte character in the
// ANSI code page.
BOOL IsDBCSLeadByte(BYTE test_char);

}  // namespace win

namespace win::host {

// Reads the simulated host's code pages again (after a test changed the
// state file). Nothing on Windows.
void ReloadCodePages();

}  // namespace win::host
