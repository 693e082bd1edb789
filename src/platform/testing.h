// Hooks that let tests set up the machine state the Windows services read. Each host
// implements them its own way; a hook a host cannot honour returns false so the test can
// say why it skips.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::testing {

// Points the posix stand-in at a fresh scratch root (drives, known folders, registry,
// temporary folder all inside it). On Windows the real system stays; returns false.
bool UseScratchRoot();
// The host folder that holds the scratch root, or empty on Windows.
std::string ScratchRootHostPath();

// True when the Windows build runs under Wine, which differs from Windows where its host
// lets it (a root user's files are never read-only, say).
bool UnderWine();

// Selects the ANSI code page (1252 or 936) on the stand-in; false on Windows, whose code
// page belongs to the system.
bool SetAnsiCodePage(uint32_t code_page);

// Writes or removes a REG_DWORD (or, with `as_string`, a REG_SZ holding the decimal text)
// under HKEY_LOCAL_MACHINE\subkey.
bool WriteRegistryValue(std::u16string_view subkey, std::u16string_view value, uint32_t data, bool as_string = false);
bool DeleteRegistryKey(std::u16string_view subkey);

}  // namespace plat::testing
