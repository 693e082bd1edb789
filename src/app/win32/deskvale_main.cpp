// Deskvale.exe stands in for the macro editor that starts Brankel.exe. The installation
// ships it so that start-up finds the editor's version; started by itself it only says
// what it is.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ::MessageBoxW(nullptr,
                L"Deskvale stands in for the macro editor of this installation.\n"
                L"Brankel checks its version at start-up; it edits and opens nothing.",
                L"Deskvale", MB_OK | MB_ICONINFORMATION);
  return 0;
}
