// The dialog base creates its table's controls and sets their texts before its own
// set-up and before the values move in; the message dialog answers with the table's ids.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/win32/dialog_template.h"
#include "ui/win32/dialogs.h"

namespace ui {
namespace {

// Records the set-up steps and what the controls hold when the values move in.
template <typename Base>
class Recorder : public Base {
 public:
  std::vector<std::string> steps;
  std::vector<std::u16string> texts;  // of the items, as DataExchange found them
  std::u16string title;
  std::vector<bool> skinned;  // whether each table entry got its control

 protected:
  std::vector<ControlDecl> ControlDecls() const override {
    return {{kControlText, 11, u"IDS_T_LABEL"},     {kControlButton, 12, u"IDS_T_BUTTON"},
            {kControlButton, 13, u"IDS_T_MISSING"}, {kControlEdit, 14, u"IDS_T_LABEL"},
            {kControlSliderCreated, 15, nullptr},   {kControlLine, 16, nullptr}};
  }
  const char16_t* TitleKey() const override { return u"IDS_T_TITLE"; }
  void SetupControls() override {
    steps.push_back("controls");
    Base::SetupControls();
  }
  void SetupFont() override {
    steps.push_back("font");
    Base::SetupFont();
  }
  void SetupSkin() override {
    steps.push_back("skin");
    Base::SetupSkin();
  }
  bool DataExchange(bool save) override {
    if (save) return true;
    steps.push_back("values");
    HWND window = this->Handle();
    for (int id = 11; id <= 14; ++id) {
      wchar_t text[64] = {};
      GetDlgItemTextW(window, id, text, 64);
      texts.emplace_back(reinterpret_cast<const char16_t*>(text));
    }
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    title = reinterpret_cast<const char16_t*>(caption);
    for (const ControlEntry& entry : this->ControlTable()) skinned.push_back(entry.control && entry.control->Handle());
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return true;
  }
};

brankel_test::TemplateWriter OrderTemplate() {
  brankel_test::TemplateWriter dialog(160, 80);
  dialog.Item(L"STATIC", L"key", 11, 0, 4, 4, 100, 10);
  dialog.Item(L"BUTTON", L"key", 12, BS_PUSHBUTTON, 4, 16, 60, 14);
  dialog.Item(L"BUTTON", L"key", 13, BS_AUTOCHECKBOX, 70, 16, 60, 14);
  dialog.Item(L"EDIT", L"kept", 14, WS_BORDER, 4, 34, 60, 12);
  dialog.Item(L"STATIC", L"", 15, 0, 4, 50, 100, 12);
  dialog.Item(L"STATIC", L"", 16, 0, 4, 66, 100, 2);
  return dialog;
}

template <typename T>
void ExpectSetUp(const T& order, const char16_t* title) {
  EXPECT_EQ(order.steps, (std::vector<std::string>{"controls", "font", "skin", "values"}));
  // Type 0 and 1 take their key's text, empty for a missing key; an edit keeps its own.
  EXPECT_EQ(order.texts, (std::vector<std::u16string>{u"Label text", u"Press", u"", u"kept"}));
  EXPECT_EQ(order.title, title);
  EXPECT_EQ(order.skinned, (std::vector<bool>{false, true, true, true, true, true}));
}

class DialogWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(texts_.LoadText("[String]\nIDS_T_LABEL=Label text\nIDS_T_BUTTON=Press\nIDS_T_TITLE=The title\n"));
    CNewAspect::Global().SetLanguageTable(&texts_);
  }
  void TearDown() override { CNewAspect::Global().SetLanguageTable(nullptr); }
  app::CVLResString texts_;
};

TEST_F(DialogWineTest, DialogSetsUpInOrderWithTextsFromTheTable) {
  const brankel_test::TemplateWriter dialog = OrderTemplate();
  Recorder<CVLDialog> order;
  EXPECT_EQ(order.DoModalIndirect(nullptr, dialog.Get()), IDCANCEL);
  ExpectSetUp(order, u"The title");
}

TEST_F(DialogWineTest, PropertyPageSetsUpTheSameWay) {
  const brankel_test::TemplateWriter dialog = OrderTemplate();
  Recorder<CVLPropertyPage> page;
  PROPSHEETPAGEW info = page.PageInfoIndirect(dialog.Get());
  HPROPSHEETPAGE handle = CreatePropertySheetPageW(&info);
  ASSERT_NE(handle, nullptr);
  PROPSHEETHEADERW sheet{};
  sheet.dwSize = sizeof sheet;
  sheet.dwFlags = PSH_MODELESS;
  sheet.pszCaption = L"Sheet";
  sheet.nPages = 1;
  sheet.phpage = &handle;
  HWND window = reinterpret_cast<HWND>(PropertySheetW(&sheet));
  ASSERT_NE(window, nullptr);
  DestroyWindow(window);
  // The page sets its own window text from its title key, as a dialog does.
  ExpectSetUp(page, u"The title");
}

TEST_F(DialogWineTest, MessageDialogGivesTheAutomaticAnswer) {
  struct Case {
    uint32_t type;
    int auto_answer;
    int expected;
  };
  for (const Case& c :
       {Case{app::kMbYesNo, app::kIdNo, app::kIdNo}, Case{app::kMbAbortRetryIgnore, app::kIdIgnore, app::kIdIgnore}}) {
    app::MessageRequest request;
    request.text = u"Counting down";
    request.type = c.type;
    request.auto_answer = c.auto_answer;
    request.auto_value = 1;
    EXPECT_EQ(MakeSkinnedMessageDisplay()->Show(request), c.expected) << c.type;
  }
}

}  // namespace
}  // namespace ui
