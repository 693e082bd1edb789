// The hot-key edit on a real edit control: the key state comes from the system's keyboard
// state, typed characters never reach the edit, and the focus notification reaches the
// sibling macro program's window.
#include "keyboard/win32/hot_key_edit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/brankel_app.h"
#include "keyboard/win32/select_key_ids.h"

namespace keyboard {
namespace {

constexpr int kEditId = 100;

std::u16string TextOf(HWND window) {
  wchar_t text[300] = {};
  ::GetWindowTextW(window, text, 300);
  return reinterpret_cast<const char16_t*>(text);
}

// What the stand-in for the macro program's hidden window was posted.
std::vector<MSG> g_posted;

LRESULT CALLBACK MacroWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == 1327) g_posted.push_back(MSG{window, message, wparam, lparam, 0, {}});
  return ::DefWindowProcW(window, message, wparam, lparam);
}

class HotKeyEditWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::GetKeyboardState(saved_);
    parent_ = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 200, 60, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    edit_ = ::CreateWindowExW(0, L"EDIT", L"template text", WS_CHILD | WS_VISIBLE, 4, 4, 180, 20, parent_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), nullptr, nullptr);
    ASSERT_NE(edit_, nullptr);
  }
  void TearDown() override {
    ::SetKeyboardState(saved_);
    if (parent_ != nullptr) ::DestroyWindow(parent_);
  }
  void Hold(std::initializer_list<uint8_t> codes) {
    BYTE keys[256] = {};
    for (uint8_t code : codes) keys[code] = 0x80;
    ASSERT_TRUE(::SetKeyboardState(keys));
  }

  BYTE saved_[256] = {};
  HWND parent_ = nullptr;
  HWND edit_ = nullptr;
};

TEST_F(HotKeyEditWineTest, KeysFromTheSystemKeyboardState) {
  CVLHotKeyEditBox box;
  box.SetHotKey(0x70, 0, kModAlt);  // before the window exists
  ASSERT_TRUE(box.Create(parent_, kEditId, nullptr));
  EXPECT_EQ(TextOf(edit_), u"Alt+F1") << "the window takes the value's text";

  Hold({VK_CONTROL, VK_LCONTROL, VK_SHIFT, VK_RSHIFT, VK_F5});
  EXPECT_EQ(::SendMessageW(edit_, WM_KEYDOWN, VK_F5, 0x003F0001), 0);
  EXPECT_EQ(TextOf(edit_), u"Ctrl+Shift+F5");
  EXPECT_EQ(box.Value(), (HotKey{0x74, 0, kModCtrl | kModShift}));
  ::SendMessageW(edit_, WM_CHAR, u'x', 0);
  EXPECT_EQ(TextOf(edit_), u"Ctrl+Shift+F5") << "typed characters stop at the control";
  ::SendMessageW(edit_, WM_KEYUP, VK_F5, 0xC03F0001);
  EXPECT_EQ(box.Value(), (HotKey{0x74, 0, kModCtrl | kModShift}));

  Hold({VK_RETURN});
  ::SendMessageW(edit_, WM_KEYDOWN, VK_RETURN, 0x011C0001);  // the keypad's Enter is an extended key
  EXPECT_EQ(TextOf(edit_), u"Numpad Return");

  Hold({'A'});
  ::SendMessageW(edit_, WM_SYSKEYDOWN, 'A', 0);
  EXPECT_EQ(TextOf(edit_), u"A");
  Hold({});
  ::SendMessageW(edit_, WM_SYSKEYUP, 'A', 0);
  EXPECT_EQ(TextOf(edit_), u"") << "a plain letter is not kept";
  EXPECT_EQ(box.Value(), HotKey{});
}

TEST_F(HotKeyEditWineTest, DialogKeysComeHereExceptTab) {
  CVLHotKeyEditBox box;
  ASSERT_TRUE(box.Create(parent_, kEditId, nullptr));
  struct Case {
    WPARAM key;
    bool capture_tab;
    bool wants_all;
  };
  for (const Case& c : {Case{VK_TAB, false, false}, Case{VK_TAB, true, true}, Case{VK_RETURN, false, true},
                        Case{VK_ESCAPE, false, true}}) {
    box.State().capture_tab = c.capture_tab;
    MSG msg{edit_, WM_KEYDOWN, c.key, 0, 0, {}};
    const LRESULT code = ::SendMessageW(edit_, WM_GETDLGCODE, c.key, reinterpret_cast<LPARAM>(&msg));
    EXPECT_EQ((code & DLGC_WANTALLKEYS) != 0, c.wants_all) << c.key << " " << c.capture_tab;
  }
}

TEST_F(HotKeyEditWineTest, EmptyTextIsSelectedOnFocus) {
  CVLHotKeyEditBox box;
  box.State().SetEmptyText(u"None");
  ASSERT_TRUE(box.Create(parent_, kEditId, nullptr));
  box.SetHotKey(0, 0, 0);
  EXPECT_EQ(TextOf(edit_), u"None");
  ::SendMessageW(edit_, EM_SETSEL, 2, 2);
  ::SendMessageW(edit_, WM_SETFOCUS, 0, 0);
  DWORD start = 9, end = 9;
  ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 4u);
}

TEST_F(HotKeyEditWineTest, MacroEditTellsTheMacroProgramAboutTheFocus) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = MacroWindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"MTA174BB89EB0B434e9B9FAE129E6CA7E0";
  ASSERT_NE(::RegisterClassW(&window_class), 0);
  HWND macro = ::CreateWindowExW(0, window_class.lpszClassName, L"MCC22ED99E4479141c89C3CF2C8ECBEB8D7", WS_POPUP, 0, 0,
                                 10, 10, nullptr, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(macro, nullptr);
  CMacroHotKeyEdit box;
  ASSERT_TRUE(box.Create(parent_, kEditId, nullptr));
  g_posted.clear();
  ::SendMessageW(edit_, WM_SETFOCUS, 0, 0);
  ::SendMessageW(edit_, WM_KILLFOCUS, 0, 0);
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  ASSERT_EQ(g_posted.size(), 2u);
  EXPECT_EQ(g_posted[0].wParam, 1u);
  EXPECT_EQ(g_posted[1].wParam, 0u);
  EXPECT_EQ(g_posted[0].lParam, reinterpret_cast<LPARAM>(edit_));
  EXPECT_EQ(g_posted[1].hwnd, macro);
  ::DestroyWindow(macro);
  ::UnregisterClassW(window_class.lpszClassName, window_class.hInstance);

  // Without the macro program nothing is posted, and the edit works as before.
  g_posted.clear();
  ::SendMessageW(edit_, WM_SETFOCUS, 0, 0);
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  EXPECT_TRUE(g_posted.empty());
}

// Runs the dialog's steps from inside its own message loop, then presses OK.
class ScriptedSelectKey : public CDlg_SelectKey {
 public:
  using CDlg_SelectKey::CDlg_SelectKey;
  std::vector<bool> enabled;  // the Ctrl box after opening, after none, after a key
  std::u16string caption;
  int items = 0;
  int first_selected = -2;

 protected:
  BOOL OnInitDialog() override {
    const BOOL result = CDlg_SelectKey::OnInitDialog();
    HWND window = Handle();
    HWND list = ::GetDlgItem(window, IDC_SKEY_KEY_LIST);
    caption = TextOf(window);
    items = static_cast<int>(::SendMessageW(list, CB_GETCOUNT, 0, 0));
    first_selected = static_cast<int>(::SendMessageW(list, CB_GETCURSEL, 0, 0));
    const auto ctrl_enabled = [&] { return ::IsWindowEnabled(::GetDlgItem(window, IDC_SKEY_CONTROL)) != FALSE; };
    const auto choose = [&](int index) {
      ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_SKEY_KEY_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    };
    enabled.push_back(ctrl_enabled());
    choose(0);
    enabled.push_back(ctrl_enabled());
    const int f5 = static_cast<int>(
        ::SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(L"F5")));
    choose(f5);
    enabled.push_back(ctrl_enabled());
    ::CheckDlgButton(window, IDC_SKEY_CONTROL, BST_CHECKED);
    ::CheckDlgButton(window, IDC_SKEY_ALTGR, BST_CHECKED);
    ::CheckDlgButton(window, IDC_SKEY_WIN, BST_UNCHECKED);
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return result;
  }
};

TEST(SelectKeyWineTest, OpensOnTheNoneEntryAndGivesTheChosenKey) {
  app::CBrankelApp app;
  ScriptedSelectKey dialog(app);
  dialog.value = {0, 0x42, kModWin};
  dialog.title = u"Stop key";
  ASSERT_EQ(dialog.Run(nullptr), IDOK);
  EXPECT_EQ(dialog.caption, u"Stop key");
  EXPECT_EQ(dialog.first_selected, 0);
  EXPECT_EQ(dialog.items, static_cast<int>(KeyListItems(nullptr, true).size()));
  EXPECT_EQ(dialog.enabled, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(dialog.value, (HotKey{0x74, 0x42, kModCtrl | kModAltGr}));
}

}  // namespace
}  // namespace keyboard
