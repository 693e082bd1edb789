// Brankel.exe: OLE and GDI+ for the windows to come, then start-up, which runs the wizard.
#include <windows.h>
// windows.h first: ole2.h builds on it.
#include <ole2.h>

#include <string>

// The plat:: functions of these names, not the W API's macros.
#undef GetModuleFileName

#include "app/brankel_app.h"
#include "app/startup.h"
#include "app/win32/startup_host.h"
#include "platform/platform.h"
#include "support/win32/crash_handler.h"

namespace {

// GDI+ through its flat entry points, found at run time: the pictures of the pages need
// it, start-up does not.
struct GdiplusInput {
  UINT32 version = 1;
  void* debug_callback = nullptr;
  BOOL suppress_background_thread = FALSE;
  BOOL suppress_external_codecs = FALSE;
};

class Gdiplus {
 public:
  Gdiplus() {
    library_ = ::LoadLibraryW(L"gdiplus.dll");
    if (library_ == nullptr) return;
    using StartupFn = int(WINAPI*)(ULONG_PTR*, const GdiplusInput*, void*);
    auto startup = reinterpret_cast<StartupFn>(reinterpret_cast<void*>(::GetProcAddress(library_, "GdiplusStartup")));
    GdiplusInput input;
    if (startup == nullptr || startup(&token_, &input, nullptr) != 0) token_ = 0;
  }
  ~Gdiplus() {
    if (library_ == nullptr) return;
    using ShutdownFn = void(WINAPI*)(ULONG_PTR);
    auto shutdown =
        reinterpret_cast<ShutdownFn>(reinterpret_cast<void*>(::GetProcAddress(library_, "GdiplusShutdown")));
    if (shutdown != nullptr && token_ != 0) shutdown(token_);
    ::FreeLibrary(library_);
  }
  Gdiplus(const Gdiplus&) = delete;
  Gdiplus& operator=(const Gdiplus&) = delete;

 private:
  HMODULE library_ = nullptr;
  ULONG_PTR token_ = 0;
};

// The folder of the running program, for the crash report program beside it.
std::u16string OwnFolder() {
  std::u16string path = plat::GetModuleFileName();
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR command_line, int) {
  // Before the application object exists, so that a failure anywhere in it is reported.
  support::InstallCrashHandler(OwnFolder());
  if (FAILED(::OleInitialize(nullptr))) {
    support::RestoreCrashHandler();
    return 1;
  }
  int exit_code = 1;
  {
    Gdiplus gdiplus;
    app::CBrankelApp app;
    app::Win32StartupHost host(app);
    app::Startup startup(app, host);
    const std::u16string tail = command_line ? reinterpret_cast<const char16_t*>(command_line) : u"";
    exit_code = startup.Run(tail) == app::StartupEnd::kWizardRan ? 0 : 1;
  }
  ::OleUninitialize();
  support::RestoreCrashHandler();
  return exit_code;
}
