// Stands in for Crashvale.exe: records the command line it was started with in
// "crashvale_command.txt" beside itself (UTF-8), written whole before it is renamed into
// place so that a reader never sees half of it.
#include <windows.h>

#include <string>

// The plat:: functions of these names, not the W API's macros.
#undef GetModuleFileName
#undef MoveFile

#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::u16string path = plat::GetModuleFileName();
  const std::u16string folder = path.substr(0, path.rfind(u'\\') + 1);
  const std::u16string line = reinterpret_cast<const char16_t*>(::GetCommandLineW());
  const std::u16string partial = folder + u"crashvale_command.part";
  if (!plat::WriteWholeFile(partial, plat::Utf16ToUtf8(line))) return 1;
  return plat::MoveFile(partial, folder + u"crashvale_command.txt", true) ? 0 : 1;
}
