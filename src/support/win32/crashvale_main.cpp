// Crashvale.exe: shows the crash log a program of ours wrote when it failed, so that the
// user can copy it or save it and send it on. Its command line is the crash handler's:
//   "<crash log>" resfile:<language file pattern>
#include <windows.h>
// windows.h first: the common dialogs build on it.
#include <commdlg.h>

#include <string>
#include <vector>

// The plat:: functions of these names, not the W API's macros.
#undef GetModuleFileName

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "app/text_format.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "support/crash_log.h"

namespace {

constexpr int kCopyId = 101;
constexpr int kSaveId = 102;
constexpr int kLogId = 103;
constexpr int kIntroId = 104;
constexpr int kPathId = 105;
// A log larger than this is no log of ours.
constexpr uint64_t kMaxLogBytes = 16u << 20;

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// The language file's texts, English where it has none or there is no file.
class Texts {
 public:
  void Load(const std::u16string& program_folder, std::u16string_view pattern, std::u16string_view code) {
    for (std::u16string_view language : {code, std::u16string_view(u"en")}) {
      const std::u16string name = support::LanguageFileName(pattern, language);
      if (name.empty()) continue;
      for (const char16_t* folder : {u"sysdata\\", u"language\\"}) {
        const std::u16string path = program_folder + folder + name;
        if (plat::FileExists(path) && table_.LoadFile(path)) return;
      }
    }
  }
  std::u16string Get(std::u16string_view key, const char16_t* english) const {
    std::u16string text;
    table_.GetString(text, key, english);
    return text;
  }

 private:
  app::CVLResString table_;
};

struct Report {
  Texts texts;
  std::u16string log_path;
  std::string log_bytes;
  std::u16string shown;  // what the edit holds
  HFONT ui_font = nullptr;
  HFONT log_font = nullptr;
  int dpi = 96;
};
Report g_report;

int Scale(int pixels) { return MulDiv(pixels, g_report.dpi, 96); }

std::u16string ProgramFolder() {
  const std::u16string path = plat::GetModuleFileName();
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

// The language code of the configuration, as the packager reads it; English when the
// configuration cannot be read.
std::u16string ConfiguredLanguage() {
  app::CBrankelApp application;
  if (!application.DetermineProgramFolder()) return u"en";
  application.SetConfigurationWait(1000);
  if (!application.LoadConfiguration() || application.LanguageCode().empty()) return u"en";
  return application.LanguageCode();
}

void ReadLog() {
  const Texts& texts = g_report.texts;
  const std::u16string& path = g_report.log_path;
  if (path.empty()) {
    g_report.shown = texts.Get(u"IDS_CRASH_NOLOGNAMED", u"No crash log was named when this program was started.");
    return;
  }
  std::optional<std::string> bytes = plat::ReadWholeFile(path, kMaxLogBytes);
  if (!bytes) {
    g_report.shown = app::FormatText(
        texts.Get(u"IDS_CRASH_NOLOG", u"The crash log %s cannot be read: it is missing or locked."), {path});
    return;
  }
  g_report.log_bytes = std::move(*bytes);
  const support::LogText log = support::DecodeCrashLog(plat::ByteView(g_report.log_bytes));
  switch (log.state) {
    case support::LogState::kText:
      g_report.shown = log.text;
      break;
    case support::LogState::kEmpty:
      g_report.shown = app::FormatText(texts.Get(u"IDS_CRASH_EMPTY", u"The crash log %s is empty."), {path});
      break;
    case support::LogState::kNotText:
      g_report.shown = app::FormatText(
          texts.Get(u"IDS_CRASH_NOTTEXT", u"The file %s is not a crash log: it holds no text this program can show."),
          {path});
      break;
  }
}

void CopyLog(HWND window) {
  if (!::OpenClipboard(window)) return;
  ::EmptyClipboard();
  const size_t bytes = (g_report.shown.size() + 1) * sizeof(char16_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory != nullptr) {
    void* target = ::GlobalLock(memory);
    if (target != nullptr) {
      ::memcpy(target, g_report.shown.c_str(), bytes);
      ::GlobalUnlock(memory);
      if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) ::GlobalFree(memory);
    } else {
      ::GlobalFree(memory);
    }
  }
  ::CloseClipboard();
}

// The log as it is when it could be read, else the text shown, in the log's own encoding.
std::string BytesToSave() {
  if (!g_report.log_bytes.empty()) return g_report.log_bytes;
  std::vector<uint8_t> out;
  plat::ByteWriter writer(out);
  for (char16_t unit : g_report.shown) writer.U16(unit);
  return std::string(out.begin(), out.end());
}

void SaveLog(HWND window) {
  const Texts& texts = g_report.texts;
  std::u16string name = g_report.log_path.substr(g_report.log_path.find_last_of(u"\\/") + 1);
  if (name.empty()) name = u"Crash.Log";
  std::vector<wchar_t> file(32768, 0);
  name.resize(std::min<size_t>(name.size(), MAX_PATH));
  std::copy(name.begin(), name.end(), file.begin());
  std::u16string filter =
      texts.Get(u"IDS_CRASH_FILTER", u"Crash logs (*.Crash.Log)|*.Crash.Log|All files (*.*)|*.*|") + u'|';
  for (char16_t& c : filter) {
    if (c == u'|') c = 0;
  }
  const std::u16string title = texts.Get(u"IDS_CRASH_SAVETITLE", u"Save the crash log");
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = window;
  dialog.lpstrFilter = W(filter);
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrTitle = W(title);
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&dialog)) return;
  const std::u16string target(reinterpret_cast<const char16_t*>(file.data()));
  if (!plat::WriteWholeFile(target, BytesToSave())) {
    const std::u16string message =
        app::FormatText(texts.Get(u"IDS_CRASH_SAVEFAIL", u"The crash log cannot be saved as %s."), {target});
    const std::u16string caption = texts.Get(u"IDS_CRASH_TITLE", u"Crash report");
    ::MessageBoxW(window, W(message), W(caption), MB_OK | MB_ICONWARNING);
  }
}

HWND Child(HWND parent, const wchar_t* type, const std::u16string& text, DWORD style, int id, HFONT font,
           DWORD ex_style = 0) {
  HWND control =
      ::CreateWindowExW(ex_style, type, W(text), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void Layout(HWND window) {
  RECT client = {};
  ::GetClientRect(window, &client);
  const int margin = Scale(10);
  const int button_w = Scale(96);
  const int button_h = Scale(26);
  const int intro_h = Scale(36);
  const int path_h = Scale(20);
  const int width = client.right - 2 * margin;
  const int buttons_y = client.bottom - margin - button_h;
  ::MoveWindow(::GetDlgItem(window, kIntroId), margin, margin, width, intro_h, TRUE);
  ::MoveWindow(::GetDlgItem(window, kPathId), margin, margin + intro_h, width, path_h, TRUE);
  const int log_y = margin + intro_h + path_h + Scale(4);
  ::MoveWindow(::GetDlgItem(window, kLogId), margin, log_y, width, std::max(0, buttons_y - margin - log_y), TRUE);
  int x = client.right - margin - button_w;
  for (int id : {IDCANCEL, kSaveId, kCopyId}) {
    ::MoveWindow(::GetDlgItem(window, id), x, buttons_y, button_w, button_h, TRUE);
    x -= button_w + Scale(8);
  }
}

void CreateControls(HWND window) {
  const Texts& texts = g_report.texts;
  HFONT ui = g_report.ui_font;
  Child(window, L"STATIC",
        texts.Get(u"IDS_CRASH_INTRO",
                  u"The program ended because of an error it could not handle. The crash log below tells what "
                  u"happened: copy it or save it, and send it to us with a few words on what you were doing."),
        SS_LEFT | SS_NOPREFIX, kIntroId, ui);
  const std::u16string where =
      g_report.log_path.empty()
          ? u""
          : app::FormatText(texts.Get(u"IDS_CRASH_LOGFILE", u"Crash log: %s"), {g_report.log_path});
  Child(window, L"STATIC", where, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kPathId, ui);
  HWND log = Child(window, L"EDIT", g_report.shown,
                   ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
                   kLogId, g_report.log_font, WS_EX_CLIENTEDGE);
  ::SendMessageW(log, EM_SETLIMITTEXT, 0, 0);
  Child(window, L"BUTTON", texts.Get(u"IDS_CRASH_COPY", u"&Copy"), BS_PUSHBUTTON | WS_TABSTOP, kCopyId, ui);
  Child(window, L"BUTTON", texts.Get(u"IDS_CRASH_SAVE", u"&Save..."), BS_PUSHBUTTON | WS_TABSTOP, kSaveId, ui);
  Child(window, L"BUTTON", texts.Get(u"IDS_CRASH_CLOSE", u"Close"), BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL, ui);
  Layout(window);
  ::SetFocus(::GetDlgItem(window, IDCANCEL));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      CreateControls(window);
      return 0;
    case WM_SIZE:
      Layout(window);
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      info->ptMinTrackSize = {Scale(420), Scale(260)};
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      // The read-only log on a white ground, as an editable text would be.
      if (reinterpret_cast<HWND>(lparam) == ::GetDlgItem(window, kLogId)) {
        ::SetBkColor(reinterpret_cast<HDC>(wparam), ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kCopyId:
          CopyLog(window);
          return 0;
        case kSaveId:
          SaveLog(window);
          return 0;
        case IDCANCEL:
          ::DestroyWindow(window);
          return 0;
      }
      break;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void CreateFonts() {
  HDC screen = ::GetDC(nullptr);
  g_report.dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  if (g_report.dpi <= 0) g_report.dpi = 96;
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    g_report.ui_font = ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (g_report.ui_font == nullptr) g_report.ui_font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  // The log's columns line up in a fixed-pitch font.
  g_report.log_font =
      ::CreateFontW(-MulDiv(9, g_report.dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                    OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
  if (g_report.log_font == nullptr) g_report.log_font = static_cast<HFONT>(::GetStockObject(ANSI_FIXED_FONT));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int show) {
  const support::ReportArguments arguments = support::ParseReportParameters(
      command_line ? std::u16string_view(reinterpret_cast<const char16_t*>(command_line)) : std::u16string_view());
  g_report.log_path = arguments.log_path;
  g_report.texts.Load(ProgramFolder(),
                      arguments.language_pattern.empty() ? std::u16string_view(support::kLanguageFilePattern)
                                                         : std::u16string_view(arguments.language_pattern),
                      ConfiguredLanguage());
  ReadLog();
  CreateFonts();

  WNDCLASSEXW type = {};
  type.cbSize = sizeof(type);
  type.lpfnWndProc = WindowProc;
  type.hInstance = instance;
  type.hIcon = ::LoadIconW(nullptr, IDI_WARNING);
  type.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = L"BrankelCrashReport";
  if (!::RegisterClassExW(&type)) return 1;
  const std::u16string title = g_report.texts.Get(u"IDS_CRASH_TITLE", u"Crash report");
  HWND window = ::CreateWindowExW(WS_EX_CONTROLPARENT, type.lpszClassName, W(title), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, Scale(720), Scale(520), nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  ::ShowWindow(window, show);
  ::UpdateWindow(window);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(window, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
