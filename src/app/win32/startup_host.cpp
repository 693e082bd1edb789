#include "app/win32/startup_host.h"

#include <windows.h>
// windows.h first: the shell headers build on it.
#include <commdlg.h>
#include <locale.h>
#include <shellapi.h>
#include <shlobj.h>
// The platform layer and the host use these names for their own functions.
#undef SetCurrentDirectory
#undef GetCurrentDirectory
#undef GetModuleFileName

#include <cstring>
#include <vector>

#include "app/os_kind.h"
#include "app/res_string.h"
#include "app/win32/skin_bridge.h"
#include "app/win32/wizard_entry.h"
#include "platform/platform.h"

namespace app {
namespace {

constexpr UINT kFolderBrowserFlags = 0x1041;  // return only folders, new dialog style, no "new folder"
constexpr size_t kPathChars = MAX_PATH;

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

std::u16string FromW(const wchar_t* text) {
  return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : u"";
}

int CALLBACK FolderBrowserStart(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

bool ChooseFileDialog(const CVLWinApp& app, const char16_t* filter_key, std::u16string& path, bool open, bool multi,
                      char16_t* multi_buffer, uint32_t buffer_bytes) {
  if (multi && (multi_buffer == nullptr || buffer_bytes < 2)) return false;
  std::u16string filter_text;
  app.GetText(filter_text, filter_key);
  const std::u16string filter = FileChooserFilter(filter_text);
  const std::u16string initial_folder = FolderOfPath(path);
  const std::u16string initial_name = FileNameOfPath(path);

  std::vector<char16_t> single(kPathChars, u'\0');
  char16_t* buffer = multi ? multi_buffer : single.data();
  const uint32_t buffer_chars = multi ? buffer_bytes / 2 : static_cast<uint32_t>(single.size());
  std::memset(buffer, 0, static_cast<size_t>(buffer_chars) * sizeof(char16_t));
  initial_name.copy(buffer, std::min<size_t>(initial_name.size(), buffer_chars - 1));

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.lpstrFilter = W(filter);
  dialog.lpstrFile = W(buffer);
  dialog.nMaxFile = buffer_chars;
  dialog.lpstrInitialDir = initial_folder.empty() ? nullptr : W(initial_folder);
  dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER;
  if (multi) dialog.Flags |= OFN_ALLOWMULTISELECT;
  if (open) dialog.Flags |= OFN_FILEMUSTEXIST;
  const BOOL chosen = open ? ::GetOpenFileNameW(&dialog) : ::GetSaveFileNameW(&dialog);
  if (!chosen) return false;
  if (!initial_folder.empty()) plat::SetCurrentDirectory(initial_folder);
  // With several names chosen this is the folder, the names follow in the caller's buffer.
  path = FromW(dialog.lpstrFile);
  return !open || plat::FileExists(path);
}

bool ChooseFolderDialog(std::u16string& folder, std::u16string_view title) {
  const std::u16string start = folder;
  const std::u16string current = plat::GetCurrentDirectory();
  const std::u16string title_text(title);
  wchar_t display[kPathChars] = {};
  BROWSEINFOW browse{};
  browse.pszDisplayName = display;
  browse.lpszTitle = W(title_text);
  browse.ulFlags = kFolderBrowserFlags;
  browse.lpfn = FolderBrowserStart;
  browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&browse);
  if (list == nullptr) return false;
  wchar_t chosen[kPathChars] = {};
  const BOOL named = ::SHGetPathFromIDListW(list, chosen);
  ::CoTaskMemFree(list);
  plat::SetCurrentDirectory(current);
  std::u16string result = named ? FromW(chosen) : u"";
  if (result.empty()) return false;
  if (result.back() != u'\\') result += u'\\';
  folder = std::move(result);
  return true;
}

bool ReadFixedFileVersion(std::u16string_view path, FixedFileVersion* version) {
  *version = FixedFileVersion{};
  const std::u16string name(path);
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(W(name), &handle);
  if (size == 0) return false;
  std::vector<uint8_t> block;
  try {
    block.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!::GetFileVersionInfoW(W(name), 0, size, block.data())) return false;
  void* fixed = nullptr;
  UINT fixed_size = 0;
  if (!::VerQueryValueW(block.data(), L"\\", &fixed, &fixed_size) || fixed == nullptr ||
      fixed_size < sizeof(FixedFileVersion)) {
    return false;
  }
  std::memcpy(version, fixed, sizeof(FixedFileVersion));
  return true;
}

uint32_t RunningOsKind() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  using GetVersionExFn = BOOL(WINAPI*)(OSVERSIONINFOEXW*);
  // Found at run time, as the real version below is: the compilers mark the call as old.
  auto get_version =
      reinterpret_cast<GetVersionExFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "GetVersionExW")));
  if (get_version == nullptr || !get_version(&info)) return 0;
  DWORD real_major = 0, real_minor = 0, real_build = 0;
  if (info.dwMajorVersion == 6 || info.dwMajorVersion == 10) {
    using RealVersionFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
    auto real = reinterpret_cast<RealVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetNtVersionNumbers")));
    if (real != nullptr) {
      real(&real_major, &real_minor, &real_build);
      real_build &= 0xFFFF;  // the top bits mark a free or checked build
    }
  }
  return ClassifyOsKind(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.wProductType, real_major,
                        real_minor, real_build);
}

void ShowHelp(const CBrankelApp& app, const char16_t* topic, void* owner) {
  using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  static bool tried = false;
  static HtmlHelpFn html_help = nullptr;
  if (!tried) {
    tried = true;
    HMODULE library = nullptr;
    wchar_t server[kPathChars] = {};
    LONG size = sizeof(server) - sizeof(wchar_t);
    if (::RegQueryValueW(HKEY_CLASSES_ROOT, L"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", server,
                         &size) == ERROR_SUCCESS &&
        server[0] != L'\0') {
      library = ::LoadLibraryW(server);
    }
    if (library == nullptr) library = ::LoadLibraryW(L"hhctrl.ocx");
    if (library != nullptr) {
      html_help =
          reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(::GetProcAddress(library, MAKEINTRESOURCEA(15))));
    }
  }
  if (html_help == nullptr) return;
  const std::u16string target = app.HelpFilePath() + u"::/" + (topic ? topic : u"introduction.htm");
  constexpr UINT kDisplayTopic = 0;
  html_help(static_cast<HWND>(owner), W(target), kDisplayTopic, 0);
}

std::u16string Win32StartupHost::ModulePath() { return plat::GetModuleFileName(); }

uint32_t Win32StartupHost::OsKind() { return RunningOsKind(); }

void Win32StartupHost::ShowStringResource(uint32_t id) {
  const std::u16string text = LoadStringResource(id);
  ::MessageBoxW(nullptr, W(text), L"Brankel", MB_OK | MB_ICONERROR);
}

int Win32StartupHost::MessageByKey(const char16_t* key, uint32_t type, const std::vector<std::u16string>& args) {
  std::vector<FormatArg> list;
  list.reserve(args.size());
  for (const std::u16string& arg : args) list.emplace_back(arg);
  return app_.MessageBoxByKeyV(key, nullptr, type, list.data(), list.size());
}

bool Win32StartupHost::ChooseFolder(std::u16string& folder, std::u16string_view title) {
  return ChooseFolderDialog(folder, title);
}

bool Win32StartupHost::ChooseFile(std::u16string& path, const char16_t* filter_key) {
  return ChooseFileDialog(app_, filter_key, path, true, false, nullptr, 0);
}

bool Win32StartupHost::FileExists(std::u16string_view path) {
  return plat::FileExists(path) && !plat::IsDirectory(path);
}

bool Win32StartupHost::DirectoryExists(std::u16string_view path) { return plat::IsDirectory(path); }

bool Win32StartupHost::ReadFileVersion(std::u16string_view path, FixedFileVersion* version) {
  return ReadFixedFileVersion(path, version);
}

std::u16string Win32StartupHost::CurrentDirectory() { return plat::GetCurrentDirectory(); }

bool Win32StartupHost::SetCurrentDirectory(std::u16string_view path) { return plat::SetCurrentDirectory(path); }

void Win32StartupHost::SetLocale(std::u16string_view locale) {
  const std::u16string name(locale);
  ::_wsetlocale(LC_ALL, W(name));
}

void Win32StartupHost::ShellOpen(std::u16string_view target) {
  const std::u16string text(target);
  HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  ::ShellExecuteW(nullptr, L"open", W(text), nullptr, nullptr, SW_SHOWNORMAL);
  ::SetCursor(previous);
}

bool Win32StartupHost::LoadSkin(std::u16string_view library, int32_t hue, int32_t light, int32_t saturation) {
  return SkinLoad(library, hue, light, saturation);
}

void Win32StartupHost::SetFont(std::u16string_view face, int32_t size) { SkinSetFont(face, size); }

void Win32StartupHost::UseSystemColours(bool use) { SkinUseSystemColours(use); }

void Win32StartupHost::LanguageReady() {
  display_ = MakeMessageDisplay();
  app_.SetMessageDisplay(display_.get());
}

void Win32StartupHost::RunWizard(CBrankelApp& app) { app::RunWizard(app); }

}  // namespace app
