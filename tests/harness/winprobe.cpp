// The window harness's hands and eyes inside Wine: lists windows and their controls, waits
// for a window, clicks buttons, types keys, and patches an executable's fixed version so
// that a test can present start-up with an older library or another editor.
//
//   winprobe list
//   winprobe wait TITLE [MILLISECONDS]     exit 0 once a visible window's title holds TITLE
//   winprobe texts TITLE                   one line per control: class, id, text
//   winprobe click TITLE BUTTON            BUTTON is a caption (without '&') or #id
//   winprobe keys TITLE TEXT               characters, or {ENTER} {ESC} {TAB}
//   winprobe close TITLE
//   winprobe type TITLE #ID TEXT           replaces a visible control's text, typed character by character
//   winprobe text TITLE #ID                prints a visible control's text
//   winprobe state TITLE #ID               prints "shown"/"hidden", "enabled"/"disabled", "checked"/"clear"
//   winprobe key TITLE #ID KEY             presses HOME END UP DOWN SPACE RETURN in the control
//   winprobe mouse TITLE #ID X Y [double]  the left button pressed and let go at a client point
//   winprobe press TITLE #ID CHORD         keys such as ctrl+shift+F5 typed into the control as real input
//   winprobe choose TITLE #ID ITEM         a drop-down list's item chosen by its text
//   winprobe setversion EXE A.B.C.D        file and product version of the fixed information
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pe/pe_resources.h"
#include "pe/version_info.h"
#include "platform/byte_view.h"
#include "platform/unicode.h"

namespace {

std::wstring Widen(const char* text) {
  const std::u16string wide = plat::Utf8ToUtf16(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const std::wstring& text) { return plat::Utf16ToUtf8(std::u16string(text.begin(), text.end())); }

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 255);
  return name;
}

std::wstring TextOf(HWND window) {
  // WM_GETTEXT reaches into other processes; GetWindowText does not for controls.
  wchar_t text[4096] = {};
  DWORD_PTR done = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, 4095, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &done);
  return text;
}

std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  return text;
}

struct Found {
  std::wstring title;
  HWND window = nullptr;
};

BOOL CALLBACK FindTitle(HWND window, LPARAM data) {
  Found* found = reinterpret_cast<Found*>(data);
  if (!::IsWindowVisible(window)) return TRUE;
  if (TextOf(window).find(found->title) != std::wstring::npos) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindWindowByTitle(const std::wstring& title) {
  Found found{title, nullptr};
  ::EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&found));
  return found.window;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM data) {
  reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  ::EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

void PrintControls(HWND window) {
  std::printf("window \"%s\" class %s\n", Narrow(OneLine(TextOf(window))).c_str(), Narrow(ClassOf(window)).c_str());
  for (HWND child : Children(window)) {
    std::printf("  %s %d \"%s\"\n", Narrow(ClassOf(child)).c_str(), ::GetDlgCtrlID(child),
                Narrow(OneLine(TextOf(child))).c_str());
  }
}

BOOL CALLBACK ListTop(HWND window, LPARAM) {
  if (::IsWindowVisible(window)) PrintControls(window);
  return TRUE;
}

std::wstring WithoutAmpersands(std::wstring text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c != L'&') out += c;
  }
  return out;
}

HWND RequireWindow(const char* title) {
  HWND window = FindWindowByTitle(Widen(title));
  if (window == nullptr) std::fprintf(stderr, "winprobe: no window titled \"%s\"\n", title);
  return window;
}

int Click(const char* title, const char* button) {
  HWND window = RequireWindow(title);
  if (window == nullptr) return 1;
  const bool by_id = button[0] == '#';
  const int id = by_id ? std::atoi(button + 1) : 0;
  const std::wstring caption = Widen(button);
  for (HWND child : Children(window)) {
    if (ClassOf(child) != L"Button" && !by_id) continue;
    if (by_id ? ::GetDlgCtrlID(child) == id : WithoutAmpersands(TextOf(child)) == caption) {
      ::PostMessageW(child, BM_CLICK, 0, 0);
      return 0;
    }
  }
  std::fprintf(stderr, "winprobe: no button \"%s\" in \"%s\"\n", button, title);
  return 1;
}

void PostKey(HWND target, UINT key) {
  ::PostMessageW(target, WM_KEYDOWN, key, 1);
  ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

int Keys(const char* title, const char* keys) {
  HWND window = RequireWindow(title);
  if (window == nullptr) return 1;
  ::SetForegroundWindow(window);
  const std::wstring text = Widen(keys);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'{') {
      const size_t end = text.find(L'}', i);
      const std::wstring name = text.substr(i + 1, end == std::wstring::npos ? std::wstring::npos : end - i - 1);
      if (name == L"ENTER")
        PostKey(window, VK_RETURN);
      else if (name == L"ESC")
        PostKey(window, VK_ESCAPE);
      else if (name == L"TAB")
        PostKey(window, VK_TAB);
      i = end == std::wstring::npos ? text.size() : end;
      continue;
    }
    ::PostMessageW(window, WM_CHAR, text[i], 1);
  }
  return 0;
}

// The innermost visible control of `window` with the id `#N` (the pages of a sheet share
// ids, and only the page shown is visible; a combo box's edit has the combo box's id).
HWND VisibleControl(HWND window, const char* id_text) {
  const int id = id_text[0] == '#' ? std::atoi(id_text + 1) : std::atoi(id_text);
  HWND hidden = nullptr, shown = nullptr;
  for (HWND child : Children(window)) {
    if (::GetDlgCtrlID(child) != id) continue;
    if (::IsWindowVisible(child)) {
      shown = child;
    } else if (hidden == nullptr) {
      hidden = child;
    }
  }
  if (shown == nullptr && hidden == nullptr) std::fprintf(stderr, "winprobe: no control %s\n", id_text);
  return shown != nullptr ? shown : hidden;
}

// The virtual key of one word of a "ctrl+shift+F5" chord; 0 for a word we do not know.
UINT ChordKey(const std::string& word) {
  if (word == "ctrl") return VK_LCONTROL;
  if (word == "shift") return VK_LSHIFT;
  if (word == "alt") return VK_LMENU;
  if (word == "win") return VK_LWIN;
  if (word == "enter") return VK_RETURN;
  if (word == "tab") return VK_TAB;
  if (word.size() >= 2 && word[0] == 'F' && std::isdigit(static_cast<unsigned char>(word[1]))) {
    const int number = std::atoi(word.c_str() + 1);
    return number >= 1 && number <= 24 ? static_cast<UINT>(VK_F1 + number - 1) : 0;
  }
  if (word.size() == 1 && std::isalnum(static_cast<unsigned char>(word[0]))) {
    return static_cast<UINT>(std::toupper(static_cast<unsigned char>(word[0])));
  }
  return 0;
}

// Presses a chord into `control` the way the keyboard does: the control takes the focus,
// the keys go down in order and up in reverse, through the system's input queue, so that
// the key state the program reads while handling them is the real one.
int PressChord(HWND window, HWND control, const std::string& chord) {
  std::vector<UINT> keys;
  size_t start = 0;
  while (start <= chord.size()) {
    const size_t plus = chord.find('+', start);
    const std::string word = chord.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    const UINT key = ChordKey(word);
    if (key == 0) {
      std::fprintf(stderr, "winprobe: unknown key \"%s\"\n", word.c_str());
      return 2;
    }
    keys.push_back(key);
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  const DWORD target = ::GetWindowThreadProcessId(window, nullptr);
  ::AttachThreadInput(::GetCurrentThreadId(), target, TRUE);
  ::SetForegroundWindow(window);
  ::SetFocus(control);
  ::AttachThreadInput(::GetCurrentThreadId(), target, FALSE);
  ::Sleep(200);
  std::vector<INPUT> inputs;
  for (UINT key : keys) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(key);
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    inputs.push_back(input);
  }
  for (size_t i = keys.size(); i-- > 0;) {
    INPUT input = inputs[i];
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  for (INPUT& input : inputs) {
    ::SendInput(1, &input, sizeof input);
    ::Sleep(50);
  }
  ::Sleep(200);
  return 0;
}

int OnControl(int argc, char** argv) {
  const std::string command = argv[1];
  HWND window = RequireWindow(argv[2]);
  if (window == nullptr) return 1;
  HWND control = VisibleControl(window, argv[3]);
  if (control == nullptr) return 1;
  DWORD_PTR done = 0;
  auto send = [&](UINT message, WPARAM wparam, LPARAM lparam) {
    ::SendMessageTimeoutW(control, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &done);
  };
  if (command == "type" && argc >= 5) {
    send(WM_SETFOCUS, 0, 0);
    send(EM_SETSEL, 0, -1);
    send(WM_CHAR, VK_BACK, 1);
    for (wchar_t c : Widen(argv[4])) send(WM_CHAR, c, 1);
    return 0;
  }
  if (command == "text") {
    std::printf("%s\n", Narrow(OneLine(TextOf(control))).c_str());
    return 0;
  }
  if (command == "state") {
    LRESULT check = 0;
    ::SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, reinterpret_cast<DWORD_PTR*>(&check));
    std::printf("%s %s %s\n", ::IsWindowVisible(control) ? "shown" : "hidden",
                ::IsWindowEnabled(control) ? "enabled" : "disabled", check == BST_CHECKED ? "checked" : "clear");
    return 0;
  }
  if (command == "key" && argc >= 5) {
    const std::string name = argv[4];
    const UINT key = name == "HOME"     ? VK_HOME
                     : name == "END"    ? VK_END
                     : name == "UP"     ? VK_UP
                     : name == "DOWN"   ? VK_DOWN
                     : name == "SPACE"  ? VK_SPACE
                     : name == "RETURN" ? VK_RETURN
                                        : 0;
    if (key == 0) return 2;
    // Posted, as input is: a key or a click may open a modal window.
    ::PostMessageW(control, WM_KEYDOWN, key, 1);
    ::PostMessageW(control, WM_KEYUP, key, 0xC0000001);
    return 0;
  }
  if (command == "press" && argc >= 5) return PressChord(window, control, argv[4]);
  if (command == "choose" && argc >= 5) {
    // A drop-down list's item by its text, told to the dialog as the user's choice.
    const std::wstring wanted = Widen(argv[4]);
    LRESULT index = CB_ERR;
    ::SendMessageTimeoutW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(wanted.c_str()), SMTO_ABORTIFHUNG, 5000,
                          reinterpret_cast<DWORD_PTR*>(&index));
    if (index == CB_ERR) {
      std::fprintf(stderr, "winprobe: no item \"%s\"\n", argv[4]);
      return 1;
    }
    send(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::PostMessageW(::GetParent(control), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(control));
    return 0;
  }
  if (command == "mouse" && argc >= 6) {
    const LPARAM point = MAKELPARAM(std::atoi(argv[4]), std::atoi(argv[5]));
    const bool twice = argc >= 7 && std::string(argv[6]) == "double";
    ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::PostMessageW(control, WM_LBUTTONUP, 0, point);
    if (twice) {
      ::PostMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
      ::PostMessageW(control, WM_LBUTTONUP, 0, point);
    }
    return 0;
  }
  return 2;
}

// Sets the fixed information's file and product versions of the version resource.
int SetVersion(const char* exe, const char* version) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(version, "%u.%u.%u.%u", &a, &b, &c, &d) != 4) {
    std::fprintf(stderr, "winprobe: version A.B.C.D expected\n");
    return 2;
  }
  const std::u16string path = plat::Utf8ToUtf16(exe);
  pe::ResourceUpdate update;
  if (!update.Begin(path)) {
    std::fprintf(stderr, "winprobe: cannot open %s: %s\n", exe, update.RefusalText().c_str());
    return 1;
  }
  const pe::ResourceItem* item = update.Table().Find(pe::res::kTypeVersion, 1, pe::res::kLanguageNeutral);
  if (item == nullptr) {
    std::fprintf(stderr, "winprobe: %s has no version resource\n", exe);
    return 1;
  }
  std::vector<uint8_t> block = item->data;
  const std::optional<pe::VersionValue> root = pe::QueryVersionValue(block.data(), block.size(), u"\\");
  const plat::MutableByteView view(block);
  const size_t kFixed = root ? root->offset : 0;
  if (!root || root->size < 52 || plat::ByteView(block).U32Or(kFixed, 0) != 0xFEEF04BDu) {
    std::fprintf(stderr, "winprobe: %s has no fixed version information\n", exe);
    return 1;
  }
  const uint32_t ms = (a << 16) | (b & 0xFFFF), ls = (c << 16) | (d & 0xFFFF);
  bool ok = true;
  for (size_t field : {8, 12, 16, 20}) ok = ok && view.Put32(kFixed + field, field % 8 == 0 ? ms : ls);
  if (!ok ||
      !update.Update(pe::res::kTypeVersion, 1, pe::res::kLanguageNeutral, block.data(),
                     static_cast<uint32_t>(block.size())) ||
      !update.Commit()) {
    std::fprintf(stderr, "winprobe: writing %s failed: %s\n", exe, update.RefusalText().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: winprobe list | wait | texts | click | keys | close | setversion ...\n");
    return 2;
  }
  const std::string command = argv[1];
  if (command == "list") {
    ::EnumWindows(ListTop, 0);
    return 0;
  }
  if (command == "wait" && argc >= 3) {
    const DWORD limit = argc >= 4 ? static_cast<DWORD>(std::atoi(argv[3])) : 20000;
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < limit) {
      if (FindWindowByTitle(Widen(argv[2])) != nullptr) return 0;
      ::Sleep(200);
    }
    std::fprintf(stderr, "winprobe: no window titled \"%s\" within %lu ms\n", argv[2], limit);
    return 1;
  }
  if (command == "texts" && argc >= 3) {
    HWND window = RequireWindow(argv[2]);
    if (window == nullptr) return 1;
    PrintControls(window);
    return 0;
  }
  if (command == "click" && argc >= 4) return Click(argv[2], argv[3]);
  if (command == "keys" && argc >= 4) return Keys(argv[2], argv[3]);
  if (command == "close" && argc >= 3) {
    HWND window = RequireWindow(argv[2]);
    if (window == nullptr) return 1;
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if ((command == "type" || command == "text" || command == "state" || command == "key" || command == "mouse" ||
       command == "press" || command == "choose") &&
      argc >= 4) {
    return OnControl(argc, argv);
  }
  if (command == "setversion" && argc >= 4) return SetVersion(argv[2], argv[3]);
  std::fprintf(stderr, "winprobe: unknown command or missing arguments\n");
  return 2;
}
