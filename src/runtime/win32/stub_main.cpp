// The stub "sysdata\Stubvale.dat": every EXE a build makes starts here.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
