// Dynamic libraries: LoadLibraryA, GetProcAddress (by name or ordinal),
// FreeLibrary.
//
// The simulated host maps a Windows library name to the host's shared
// library ("VDKERNEL.dll" -> libvdkernel.so, looked for next to the program,
// at the path in $VDKERNEL, then through the library path) and an ordinal N
// to the symbol vdk_op_N.
#pragma once

#include "platform/types.h"

namespace win {

using HMODULE = void*;
using FARPROC = void (*)();

inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

// Null on failure; GetLastError gives ERROR_MOD_NOT_FOUND.
HMODULE LoadLibraryA(LPCSTR file_name);

// `proc_name` is a name, or an ordinal in its low word with the high bits
// zero (see OrdinalName). Null on failure with ERROR_PROC_NOT_FOUND.
FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name);

BOOL FreeLibrary(HMODULE module);

// The proc_name argument that asks GetProcAddress for an ordinal.
inline LPCSTR OrdinalName(WORD ordinal) {
    return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(ordinal));
}
inline bool IsOrdinalName(LPCSTR proc_name) {
    return (reinterpret_cast<std::uintptr_t>(proc_name) >> 16) == 0;
}

}  // namespace win
