// The unhandled-exception filter: when a program of ours fails with an exception nothing
// handles, it writes a crash log into the temporary folder and starts the crash report
// program beside the program, which shows the log to the user.
#pragma once

#include <windows.h>

#include <string_view>

namespace support {

// Installs the filter, keeping the one installed before, when "Crashvale.exe" is in
// `program_folder`. False (and nothing installed) without it. Call once, early.
bool InstallCrashHandler(std::u16string_view program_folder);
// Puts the previous filter back; for the end of the program.
void RestoreCrashHandler();

// The filter: writes the log and starts the crash report program (1, the process ends
// quietly), or leaves the exception to the system when that program is gone (0).
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers);
// The log of one exception, written to an open file.
void WriteCrashLog(HANDLE file, const EXCEPTION_POINTERS* pointers);

}  // namespace support
