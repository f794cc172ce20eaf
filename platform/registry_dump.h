// Readable listing of the registry for tools and tests.
//
// Simulated host: the whole registry file in its canonical form (see
// platform/simulated/host_registry.h). Windows: the keys the task touches under
// HKEY_CURRENT_USER ("Control Panel\Desktop" and the system policies), read
// through the registry API and listed in the same form.
#pragma once

#include <string>

namespace win {

// False with a readable reason in `error` when the registry cannot be read
// (on the simulated host: a malformed file, with its line number).
bool RegistryDumpText(std::string& text, std::string& error);

}  // namespace win
