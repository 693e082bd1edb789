// The player "Runvale.exe": plays the macros of its payload as a dry run (runtime/dry_run.h)
// in the current directory, the folder the stub unpacked into, and writes the trace.
//
// Exit codes: 0 every call and file reference resolved, 1 one did not, 2 the payload is
// missing or damaged.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "app/res_string.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "runtime/dry_run.h"
#include "runtime/win32/own_image.h"
#include "runtime/win32/unattended.h"

// One function of each library of the module table's rows 0 to 15, imported by name. A
// build removes the imports its macros do not need, so a call goes only to a library the
// loader has bound (IsLoaded below).
extern "C" {
// clang-format off
#define BRANKEL_MODULE_FUNCTIONS(X) \
  X(Docvale, L"Docvale.dll", 0x1) \
  X(Datavale, L"Datavale.dll", 0x2) \
  X(Dialvale, L"Dialvale.dll", 0x4) \
  X(Helpvale, L"Helpvale.dll", 0x8) \
  X(vcomp140, L"vcomp140.dll", 0x8000000) \
  X(Keyvale, L"Keyvale.dll", 0x10) \
  X(Keyvale64, L"Keyvale64.dll", 0x4000000) \
  X(Mailvale, L"Mailvale.dll", 0x20) \
  X(unzip32, L"unzip32.dll", 0x40) \
  X(zip32, L"zip32.dll", 0x80) \
  X(Xfervale, L"Xfervale.dll", 0x100) \
  X(Visvale, L"Visvale.dll", 0x800000) \
  X(libocrtess, L"libocrtess.dll", 0x1000000) \
  X(Ocrvale, L"Ocrvale.dll", 0x2000000) \
  X(libpaddleocr, L"libpaddleocr.dll", 0x10000000) \
  X(PandrelIo, L"PandrelIo.sys", 0x200)
// clang-format on
#define BRANKEL_DECLARE(stem, file, category) __declspec(dllimport) const char* stem##_Ready(void);
BRANKEL_MODULE_FUNCTIONS(BRANKEL_DECLARE)
#undef BRANKEL_DECLARE
}

namespace {

struct Module {
  const wchar_t* file;
  uint32_t category;
  const char* (*ready)(void);
};

#define BRANKEL_ROW(stem, file, category) {file, category, &stem##_Ready},
const Module kModules[] = {BRANKEL_MODULE_FUNCTIONS(BRANKEL_ROW)};
#undef BRANKEL_ROW

constexpr UINT kStartupMillis = 2000;
constexpr UINT_PTR kStartupTimer = 1;
constexpr WORD kStartupPicture = 352;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
std::u16string FromWide(const wchar_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(reinterpret_cast<const char16_t*>(text));
}

std::u16string CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return u"";
  std::wstring folder(size, L'\0');
  const DWORD got = GetCurrentDirectoryW(size, folder.data());
  if (got == 0 || got >= size) return u"";
  folder.resize(got);
  return FromWide(folder.c_str());
}

bool IsLoaded(uint32_t category) {
  for (const Module& module : kModules) {
    if (module.category == category) return GetModuleHandleW(module.file) != nullptr;
  }
  return false;
}

class Player {
 public:
  int Run() {
    ReadArguments();
    log_ = runtime::EnvironmentText(L"BRANKEL_RUNTIME_LOG");
    if (!trace_path_) trace_path_ = runtime::EnvironmentText(L"BRANKEL_TRACE");

    const std::optional<plat::ByteView> section = runtime::OwnSection(".mdata");
    if (!section) {
      WriteTrace("");
      Show(u"IDS_ERR_PLAYER_NOMACRO", u"The program holds no macro to play.", u"");
      return runtime::kExitRefused;
    }
    std::string refusal;
    const std::optional<packager::PayloadA> payload = runtime::ReadPlayerPayload(*section, &refusal);
    if (!payload) {
      WriteTrace("");
      Show(u"IDS_ERR_PLAYER_PAYLOAD", u"The macros of this program are damaged and cannot be played: %s",
           plat::Utf8ToUtf16(refusal));
      return runtime::kExitRefused;
    }
    if (const std::optional<plat::ByteView> language = runtime::FindLanguageRecord(*payload, u"Player_")) {
      // A language file that cannot be parsed leaves the English texts.
      strings_.LoadText(std::string_view(reinterpret_cast<const char*>(language->data()), language->size()));
    }
    const runtime::PlayerOptions options = runtime::ReadPlayerOptions(payload->options);
    if (options.show_startup && !log_) ShowStartup(options);

    runtime::DryRunResult result = runtime::WalkPayload(*payload, CurrentDirectory(), &IsLoaded);
    CallModules(result);
    if (!WriteTrace(runtime::TraceText(result))) {
      Show(u"IDS_ERR_PLAYER_TRACE", u"The trace file %s cannot be written.", *trace_path_);
    }
    if (result.exit_code != runtime::kExitPlayed) {
      Show(u"IDS_ERR_PLAYER_UNRESOLVED", u"The macros name something this computer does not have: %s",
           plat::Utf8ToUtf16(result.first_unresolved));
    }
    return result.exit_code;
  }

 private:
  // "--trace FILE"; the stub's "/mode:N" and the arguments it passes on are not ours.
  void ReadArguments() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return;
    for (int i = 1; i + 1 < count; ++i) {
      if (std::wcscmp(arguments[i], L"--trace") == 0) {
        trace_path_ = FromWide(arguments[i + 1]);
        break;
      }
    }
    LocalFree(arguments);
  }

  // A module is called only when a played command needs it and the loader bound it; a
  // needed one that is not loaded was noted at its command already.
  static void CallModules(runtime::DryRunResult& result) {
    for (const Module& module : kModules) {
      if (!(result.module_needs & module.category) || GetModuleHandleW(module.file) == nullptr) continue;
      result.trace.push_back("# module " + plat::Utf16ToUtf8(FromWide(module.file)) + " ready " + module.ready());
    }
  }

  bool WriteTrace(const std::string& text) {
    if (!trace_path_) return true;
    plat::FileHandle file =
        plat::OpenFile(*trace_path_, plat::kGenericWrite, plat::kShareRead, plat::Disposition::kCreateAlways);
    if (file == nullptr) return false;
    const bool written = plat::WriteExact(file, text.data(), text.size());
    plat::CloseFile(file);
    return written;
  }

  std::u16string Text(const char16_t* key, const char16_t* fallback) const {
    std::u16string text;
    strings_.GetString(text, key, fallback);
    return text;
  }

  void Show(const char16_t* key, const char16_t* fallback, const std::u16string& argument) {
    std::u16string text = Text(key, fallback);
    const size_t at = text.find(u"%s");
    if (at != std::u16string::npos) text.replace(at, 2, argument);
    if (log_) {
      runtime::AppendUtf8(*log_, plat::Utf16ToUtf8(text) + "\n");
      return;
    }
    const std::u16string title = Text(u"IDS_PLAYER_TITLE", u"Macro player");
    MessageBoxW(nullptr, Wide(text), Wide(title), MB_OK | MB_ICONERROR);
  }

  static LRESULT CALLBACK StartupProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_TIMER:
        DestroyWindow(window);
        return 0;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        const auto* options = reinterpret_cast<const runtime::PlayerOptions*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        HBITMAP picture = LoadBitmapW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kStartupPicture));
        if (picture != nullptr) {
          BITMAP info{};
          GetObjectW(picture, sizeof info, &info);
          HDC memory = CreateCompatibleDC(dc);
          HGDIOBJ old = SelectObject(memory, picture);
          StretchBlt(dc, 0, 0, area.right, area.bottom - 60, memory, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
          SelectObject(memory, old);
          DeleteDC(memory);
          DeleteObject(picture);
        }
        if (options != nullptr) {
          RECT text = {8, area.bottom - 56, area.right - 8, area.bottom - 4};
          const std::u16string lines = options->author_tips + u"\r\n" + options->address;
          DrawTextW(dc, Wide(lines), -1, &text, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
        }
        EndPaint(window, &paint);
        return 0;
      }
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
  }

  // The start-up window: the picture, the author's tips and address, for two seconds.
  static void ShowStartup(const runtime::PlayerOptions& options) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW type{};
    type.lpfnWndProc = &StartupProc;
    type.hInstance = instance;
    type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    type.lpszClassName = L"BrankelPlayerStartup";
    RegisterClassW(&type);
    const int width = 400;
    const int height = 300;
    HWND window =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, type.lpszClassName, L"", WS_POPUP | WS_BORDER,
                        (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                        width, height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&options));
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetTimer(window, kStartupTimer, kStartupMillis, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  app::CVLResString strings_;
  std::optional<std::u16string> trace_path_;
  std::optional<std::u16string> log_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  try {
    return Player().Run();
  } catch (...) {
    // Out of memory on the way: the payload could not be played.
    return runtime::kExitRefused;
  }
}
