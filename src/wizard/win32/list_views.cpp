#include <windows.h>
// windows.h first: the shell headers build on it.

#include <array>

#include "app/win32/startup_host.h"
#include "project/file_lists.h"
#include "wizard/win32/ensure_file_dialog.h"

#include "wizard/win32/win32_text.h"
#include "wizard/win32/wizard_page.h"

namespace wizard::win32 {
namespace {

// Pages 2 and 3: the macro files and the extra files, each a grid with three buttons.

// What both list pages share: the picture, the tips, the grid over its placeholder and
// the three buttons.
class ListPage : public WizardPage {
 public:
  using WizardPage::WizardPage;
  ~ListPage() override {
    if (picture_ != nullptr) ::DeleteObject(picture_);
  }

 protected:
  virtual const char16_t* TipsKey() const = 0;
  virtual const std::array<GridColumn, 4>& Columns() const = 0;
  virtual bool ScaledColumns() const = 0;
  virtual std::vector<GridRow> Rows() const = 0;
  virtual void UpdateButtons() = 0;
  virtual void Add() = 0;
  virtual void Edit() = 0;
  virtual void Remove() = 0;
  virtual void Activated() {}
  virtual bool Struck(size_t /*row*/) const { return false; }

  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlText, kIdListTips, TipsKey()},
            {ui::kControlText, kIdGridPlace, nullptr},
            {ui::kControlButton, kIdAddFile, u"IDS_BTN_ADDFILE"},
            {ui::kControlButton, kIdRemoveFile, u"IDS_BTN_REMOVEFILE"},
            {ui::kControlButton, kIdEditFile, u"IDS_BTN_EDITFILE"}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    picture_ = static_cast<HBITMAP>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPictureBitmap), IMAGE_BITMAP, 0, 0, 0));
    if (picture_ != nullptr) {
      ::SendDlgItemMessageW(window_, kIdPicture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_));
    }
    grid_.Create(::GetDlgItem(window_, kIdGridPlace), kIdGrid);
    std::vector<ui::CVLBaseGrid::Column> columns;
    for (const GridColumn& column : Columns()) {
      std::u16string title;
      App().GetText(title, column.title_key, u"");
      if (title.size() > kColumnTitleChars) title.resize(kColumnTitleChars);
      columns.push_back({title, column.width, column.min_width});
    }
    grid_.SetColumns(std::move(columns), ScaledColumns());
    Refill(-1);
    return TRUE;
  }
  void Refill(int select) {
    grid_.ClearRows();
    std::vector<GridRow> rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) grid_.AddRow(std::move(rows[i].cells), rows[i].grey, Struck(i));
    grid_.SetSelectedRow(select);
    UpdateButtons();
  }
  int Selected() const { return grid_.SelectedRow(); }
  void OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return;
    Context();
    if (id == kIdAddFile) Add();
    if (id == kIdEditFile) Edit();
    if (id == kIdRemoveFile) Remove();
  }
  bool OnPageNotify(const NMHDR& header) override {
    if (header.idFrom != static_cast<UINT_PTR>(kIdGrid)) return false;
    Context();
    switch (header.code) {
      case ui::kGridSelect:
        UpdateButtons();
        return true;
      case ui::kGridEdgePress:
        Remove();
        return true;
      case ui::kGridActivate:
        Activated();
        return true;
      default:
        return false;
    }
  }
  // The chooser's folder-and-names list, split into paths.
  std::vector<std::u16string> ChooseSeveral(const char16_t* filter_key) {
    std::vector<char16_t> buffer(kChooserChars, u'\0');
    std::u16string path;
    if (!app::ChooseFileDialog(App(), filter_key, path, true, true, buffer.data(),
                               static_cast<uint32_t>(buffer.size() * sizeof(char16_t)))) {
      return {};
    }
    return SplitChosenFiles(std::u16string_view(buffer.data(), buffer.size()));
  }

  ui::CVLBaseGrid grid_;
  HBITMAP picture_ = nullptr;
};

class MacroListView : public ListPage {
 public:
  using ListPage::ListPage;
  bool LeaveForward() override {
    Context();
    return sheet_.Flow().Macros().LeaveForward().proceed;
  }

 protected:
  const char16_t* TipsKey() const override { return u"IDS_S_MACROLISTIPS"; }
  const std::array<GridColumn, 4>& Columns() const override { return MacroListPage::Columns(); }
  bool ScaledColumns() const override { return false; }
  std::vector<GridRow> Rows() const override { return sheet_.Flow().Macros().Rows(); }
  void UpdateButtons() override {
    const bool changeable = sheet_.Flow().Macros().CanChange(Selected());
    ::ShowWindow(::GetDlgItem(window_, kIdRemoveFile), changeable ? SW_SHOW : SW_HIDE);
    ::ShowWindow(::GetDlgItem(window_, kIdEditFile), changeable ? SW_SHOW : SW_HIDE);
  }
  void Add() override {
    MacroListPage& rules = sheet_.Flow().Macros();
    if (!rules.CanAdd()) return;
    const std::vector<std::u16string> paths = ChooseSeveral(u"IDS_FILEFILTER_SPT");
    if (paths.empty()) return;
    Refill(rules.Add(paths));
  }
  void Edit() override {
    const int row = Selected();
    MacroListPage& rules = sheet_.Flow().Macros();
    if (!rules.CanChange(row)) return;
    std::u16string chosen;
    if (!app::ChooseFileDialog(App(), u"IDS_FILEFILTER_SPTLIB", chosen, true, false, nullptr, 0)) return;
    if (rules.Edit(row, chosen)) Refill(row);
  }
  void Remove() override {
    int select = -1;
    if (sheet_.Flow().Macros().Remove(Selected(), &select)) Refill(select);
  }
};

class ExtraFilesView : public ListPage {
 public:
  using ListPage::ListPage;
  bool LeaveForward() override {
    Context();
    return sheet_.Flow().Extras().LeaveForward().proceed;
  }
  void OnShow() override {
    Context();
    HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    const bool ran = sheet_.Flow().Extras().OnShow();
    ::SetCursor(previous);
    if (ran) Refill(-1);
  }

 protected:
  const char16_t* TipsKey() const override { return u"IDS_S_3_TIPS"; }
  const std::array<GridColumn, 4>& Columns() const override { return ExtraFilesPage::Columns(); }
  bool ScaledColumns() const override { return true; }
  std::vector<GridRow> Rows() const override { return sheet_.Flow().Extras().Rows(); }
  void UpdateButtons() override {
    const ExtraFilesPage::Buttons buttons = sheet_.Flow().Extras().ButtonsFor(Selected());
    std::u16string label;
    App().GetText(label, buttons.remove_key, u"");
    SetItemText(window_, kIdRemoveFile, label);
    ::EnableWindow(::GetDlgItem(window_, kIdRemoveFile), buttons.remove_enabled);
    ::EnableWindow(::GetDlgItem(window_, kIdEditFile), buttons.edit_enabled);
  }
  void Add() override {
    const std::vector<std::u16string> paths = ChooseSeveral(u"IDS_FILEFILTER_ALL");
    if (paths.empty()) return;
    const int select = sheet_.Flow().Extras().Add(paths);
    Refill(select);
  }
  void Edit() override {
    const int row = Selected();
    ExtraFilesPage& rules = sheet_.Flow().Extras();
    EnsureFileValues values;
    if (!rules.EditValues(row, &values)) return;
    CDlg_EnsureFile dialog(App(), values);
    if (dialog.Run(window_) != IDOK) return;
    Context();
    if (rules.StoreEdit(row, dialog.Values())) Refill(row);
  }
  void Remove() override {
    const int row = Selected();
    if (row < 0) return;
    Refill(sheet_.Flow().Extras().RemoveOrToggle(row));
  }
  void Activated() override { Edit(); }
  // An excluded file is shown struck out, so that the list tells what the build leaves out.
  bool Struck(size_t row) const override {
    const project::CMakeExe_FileLists& lists = sheet_.Flow().Session().Lists();
    return row < static_cast<size_t>(lists.ExtraCount()) && lists.ExtraEntries()[row].Excluded != 0;
  }
};

}  // namespace

std::unique_ptr<WizardPage> MakeMacroListView(WizardSheet& sheet, size_t index) {
  return std::make_unique<MacroListView>(sheet, index);
}
std::unique_ptr<WizardPage> MakeExtraFilesView(WizardSheet& sheet, size_t index) {
  return std::make_unique<ExtraFilesView>(sheet, index);
}

}  // namespace wizard::win32
