#include "wizard/win32/wizard_sheet.h"

#include <windows.h>
// windows.h first: the shell headers build on it.
#include <commctrl.h>
#include <prsht.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/startup_host.h"
#include "platform/platform.h"
#include "project/file_lists.h"
#include "ui/win32/dialogs.h"
#include "wizard/win32/ensure_file_dialog.h"
#include "wizard/win32/win32_text.h"

namespace wizard::win32 {
namespace {

// The wizard sheet's own buttons.
constexpr int kIdBack = 0x3023;
constexpr int kIdNext = 0x3024;
constexpr int kIdFinish = 0x3025;

std::u16string Widened(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

class WizardSheet;

// A page of the sheet: its caption and title line, the sheet's notifications, and the
// hooks each page fills in.
class WizardPage : public ui::CVLPropertyPage {
 public:
  WizardPage(WizardSheet& sheet, size_t index);
  PROPSHEETPAGEW Info();
  // Next: true moves on. Show: the page became visible. Close: the wizard closes.
  virtual bool LeaveForward() { return true; }
  virtual void OnShow() {}
  virtual void OnClose() {}

 protected:
  // The page's own controls; the title line is added before them.
  virtual std::vector<ui::ControlDecl> PageControls() const { return {}; }
  virtual const char16_t* TitleLineKey() const { return kPages[index_].caption_key; }
  virtual bool OnPageNotify(const NMHDR& /*header*/) { return false; }
  std::vector<ui::ControlDecl> ControlDecls() const override;
  const char16_t* TitleKey() const override { return kPages[index_].caption_key; }
  BOOL OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;
  // The rules show their messages over the page that asked.
  PageContext& Context();
  app::CBrankelApp& App();
  void FocusItem(int id) {
    if (id != 0) ::SetFocus(::GetDlgItem(window_, id));
  }

  WizardSheet& sheet_;
  size_t index_;
  std::u16string caption_;
};

class WizardSheet {
 public:
  explicit WizardSheet(WizardFlow& flow) : flow_(flow) {}
  void Run();
  WizardFlow& Flow() { return flow_; }
  HWND Handle() const { return window_; }
  void PageShown(size_t index);
  void CloseAll() {
    for (auto& page : pages_) page->OnClose();
  }
  void Attach(HWND sheet);

 private:
  static int CALLBACK SheetCallback(HWND window, UINT message, LPARAM lparam);
  // The wizard frame names the sheet after each page; the sheet keeps its own caption.
  static LRESULT CALLBACK CaptionKeeper(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                        DWORD_PTR data);

  WizardFlow& flow_;
  HWND window_ = nullptr;
  std::vector<std::unique_ptr<WizardPage>> pages_;
  std::vector<std::unique_ptr<ui::CVLButton>> buttons_;
  std::u16string next_text_;
  std::u16string caption_;
};

WizardSheet* g_running = nullptr;  // the sheet's callback has no user data

WizardPage::WizardPage(WizardSheet& sheet, size_t index) : sheet_(sheet), index_(index) {}

PageContext& WizardPage::Context() {
  PageContext& context = sheet_.Flow().Context();
  context.owner = window_;
  return context;
}

app::CBrankelApp& WizardPage::App() { return sheet_.Flow().Context().app; }

PROPSHEETPAGEW WizardPage::Info() {
  PROPSHEETPAGEW page = PageInfo(kPages[index_].template_id);
  App().GetText(caption_, kPages[index_].caption_key);
  page.dwFlags |= PSP_USETITLE | PSP_HASHELP | PSP_PREMATURE;
  page.pszTitle = W(caption_);
  return page;
}

std::vector<ui::ControlDecl> WizardPage::ControlDecls() const {
  std::vector<ui::ControlDecl> decls{{ui::kControlText, kIdTitleLine, TitleLineKey()}};
  for (const ui::ControlDecl& decl : PageControls()) decls.push_back(decl);
  return decls;
}

BOOL WizardPage::OnInitDialog() {
  CVLPropertyPage::OnInitDialog();
  // The title line in the toolkit's emphasised font.
  ::SendDlgItemMessageW(window_, kIdTitleLine, WM_SETFONT,
                        reinterpret_cast<WPARAM>(ui::CNewAspect::Global().BoldFont()), FALSE);
  return TRUE;
}

bool WizardPage::OnMessage(UINT message, WPARAM, LPARAM lparam, INT_PTR& result) {
  if (message != WM_NOTIFY) return false;
  const NMHDR& header = *reinterpret_cast<const NMHDR*>(lparam);
  auto answer = [&](LONG_PTR value) {
    ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, value);
    result = TRUE;
    return true;
  };
  switch (header.code) {
    case PSN_SETACTIVE:
      sheet_.PageShown(index_);
      OnShow();
      return answer(0);
    case PSN_WIZNEXT:
      // -1 keeps the page; the last page stays after its build whatever the result.
      if (!LeaveForward() || index_ + 1 == std::size(kPages)) return answer(-1);
      return answer(0);
    case PSN_WIZBACK:
      return answer(0);
    case PSN_QUERYCANCEL:
      sheet_.CloseAll();
      return answer(FALSE);
    case PSN_HELP: {
      const std::u16string topic = Widened(kPages[index_].help_topic);
      app::ShowHelp(App(), topic.c_str(), sheet_.Handle());
      return answer(TRUE);
    }
    default:
      return OnPageNotify(header) ? (result = TRUE, true) : false;
  }
}

// ---- Page 1: EXE properties ------------------------------------------------------------

class ExePropertiesView : public WizardPage {
 public:
  using WizardPage::WizardPage;
  bool LeaveForward() override {
    const LeaveResult left = sheet_.Flow().Properties().LeaveForward(Read());
    FocusItem(left.proceed ? 0 : left.focus);
    return left.proceed;
  }

 protected:
  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlText, 1180, u"IDS_S_WME_NAME"},
            {ui::kControlEdit, kIdExeName, nullptr},
            {ui::kControlText, 1004, u"IDS_S_WME_ICONFILE"},
            {ui::kControlEdit, kIdIconPath, nullptr},
            {ui::kControlButton, kIdIconBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlButton, kIdStartupGroup, u"IDS_G_WMF_STARTUP"},
            {ui::kControlText, kIdTipsLabel, u"IDS_S_WME_AUTHORTIPS"},
            {ui::kControlEdit, kIdAuthorTips, nullptr},
            {ui::kControlText, kIdUrlLabel, u"IDS_S_WME_RELATEDURL"},
            {ui::kControlEdit, kIdRelatedUrl, nullptr},
            {ui::kControlText, kIdPictureLabel, u"IDS_S_WME_PICTITLE"},
            {ui::kControlEdit, kIdPicturePath, nullptr},
            {ui::kControlButton, kIdPictureBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlButton, kIdShowStartup, u"IDS_S_WME_SHOWSTARTUP"},
            {ui::kControlButton, kIdResetVersion, u"IDS_S_WME_RESETVER"}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    ::SendDlgItemMessageW(window_, kIdStartupGroup, WM_SETFONT,
                          reinterpret_cast<WPARAM>(ui::CNewAspect::Global().BoldFont()), FALSE);
    for (const auto& [id, limit] :
         {std::pair{kIdExeName, 130}, std::pair{kIdIconPath, 259}, std::pair{kIdAuthorTips, 260},
          std::pair{kIdRelatedUrl, 130}, std::pair{kIdPicturePath, 259}}) {
      ::SendDlgItemMessageW(window_, id, EM_LIMITTEXT, static_cast<WPARAM>(limit), 0);
    }
    const ExeProperties values = sheet_.Flow().Properties().Initial();
    SetItemText(window_, kIdExeName, values.name);
    SetItemText(window_, kIdIconPath, values.icon);
    SetItemText(window_, kIdAuthorTips, values.tips);
    SetItemText(window_, kIdRelatedUrl, values.url);
    SetItemText(window_, kIdPicturePath, values.picture);
    ::CheckDlgButton(window_, kIdShowStartup, values.show_startup ? BST_CHECKED : BST_UNCHECKED);
    ::CheckDlgButton(window_, kIdResetVersion, values.reset_version ? BST_CHECKED : BST_UNCHECKED);
    EnableStartup();
    return TRUE;
  }
  void OnCommand(int id, int code) override {
    if (code != BN_CLICKED) return;
    if (id == kIdShowStartup) EnableStartup();
    if (id == kIdIconBrowse || id == kIdPictureBrowse) {
      const bool icon = id == kIdIconBrowse;
      std::u16string chosen;
      if (!app::ChooseFileDialog(App(), icon ? u"IDS_FILEFILTER_ICON" : u"IDS_FILEFILTER_BMP", chosen, true, false,
                                 nullptr, 0)) {
        return;
      }
      Context();
      ExePropertiesPage& rules = sheet_.Flow().Properties();
      if (icon ? rules.CheckIcon(chosen) : rules.CheckBitmap(chosen)) {
        SetItemText(window_, icon ? kIdIconPath : kIdPicturePath, chosen);
      }
    }
  }

 private:
  ExeProperties Read() {
    Context();
    ExeProperties values;
    values.name = ItemText(window_, kIdExeName);
    values.icon = ItemText(window_, kIdIconPath);
    values.tips = ItemText(window_, kIdAuthorTips);
    values.url = ItemText(window_, kIdRelatedUrl);
    values.picture = ItemText(window_, kIdPicturePath);
    values.show_startup = ::IsDlgButtonChecked(window_, kIdShowStartup) == BST_CHECKED;
    values.reset_version = ::IsDlgButtonChecked(window_, kIdResetVersion) == BST_CHECKED;
    return values;
  }
  void EnableStartup() {
    const bool on = ::IsDlgButtonChecked(window_, kIdShowStartup) == BST_CHECKED;
    for (int id : kStartupControls) ::EnableWindow(::GetDlgItem(window_, id), on);
  }
};

// ---- Pages 2 and 3: the list pages ---------------------------------------------------------

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

// ---- Pages 4 and 5: their title for now; they keep the record's values ---------------------

class PlainPage : public WizardPage {
 public:
  using WizardPage::WizardPage;

 protected:
  const char16_t* TitleLineKey() const override {
    return kPages[index_].template_id == 388 ? u"IDS_WT_MAKEEXE_PLAYPARA" : kPages[index_].caption_key;
  }
};

// ---- Page 6: destination and build -------------------------------------------------------

class DestinationView : public WizardPage {
 public:
  using WizardPage::WizardPage;
  bool LeaveForward() override {
    Context();
    HCURSOR previous = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    const DestinationPage::BuildResult result = sheet_.Flow().Destination().Build(Read());
    ::SetCursor(previous);
    SetItemText(window_, kIdDestination, result.destination);
    if (result.attempted) ::EnableWindow(::GetDlgItem(window_, kIdTestExe), TRUE);
    FocusItem(result.focus);
    return false;
  }
  void OnShow() override { ::EnableWindow(::GetDlgItem(window_, kIdTestExe), FALSE); }
  void OnClose() override {
    // A page the sheet never created keeps the record's values.
    if (window_ != nullptr) sheet_.Flow().Destination().Close(Read());
  }

 protected:
  std::vector<ui::ControlDecl> PageControls() const override {
    return {{ui::kControlText, kIdDestinationLabel, u"IDS_S_DESTFILE"},
            {ui::kControlEdit, kIdDestination, nullptr},
            {ui::kControlButton, kIdDestinationBrowse, u"IDS_BTN_BROWSE"},
            {ui::kControlText, kIdRunModeLabel, u"IDS_CT_RUNMODE"},
            {ui::kControlCombox, kIdRunMode, nullptr},
            {ui::kControlButton, kIdSaveProject, u"IDS_BTN_SAVEOPTS4NEXT"},
            {ui::kControlButton, kIdTestExe, u"IDS_BTN_WME_TEST"},
            {ui::kControlButton, kIdOpenFolder, u"IDS_BTN_OPENFOLDER"}};
  }
  BOOL OnInitDialog() override {
    WizardPage::OnInitDialog();
    ::SHAutoComplete(::GetDlgItem(window_, kIdDestination), SHACF_FILESYSTEM);
    ::SendDlgItemMessageW(window_, kIdDestination, EM_LIMITTEXT, 259, 0);
    HWND list = ::GetDlgItem(window_, kIdRunMode);
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (int mode = 0; mode < kRunModes; ++mode) {
      std::u16string item;
      App().GetText(item, u"IDS_TARGETRUNMODE_%d", nullptr, mode);
      ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item)));
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    const DestinationValues values = sheet_.Flow().Destination().Initial();
    SetItemText(window_, kIdDestination, values.destination);
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(values.run_mode), 0);
    ::CheckDlgButton(window_, kIdSaveProject, values.save_project ? BST_CHECKED : BST_UNCHECKED);
    ::EnableWindow(::GetDlgItem(window_, kIdTestExe), FALSE);
    return TRUE;
  }
  void OnCommand(int id, int code) override {
    if (id == kIdRunMode && code == CBN_SELCHANGE) ::EnableWindow(::GetDlgItem(window_, kIdTestExe), FALSE);
    if (code != BN_CLICKED) return;
    if (id == kIdDestinationBrowse) {
      std::u16string chosen;
      if (app::ChooseFileDialog(App(), u"IDS_FILEFILTER_EXE", chosen, false, false, nullptr, 0)) {
        SetItemText(window_, kIdDestination, WithExeExtension(chosen));
      }
    } else if (id == kIdTestExe) {
      const std::u16string exe = ItemText(window_, kIdDestination);
      if (plat::FileExists(exe) && !plat::IsDirectory(exe)) Open(exe);
    } else if (id == kIdOpenFolder) {
      const std::u16string folder = FolderToOpen(ItemText(window_, kIdDestination));
      if (!folder.empty()) Open(folder);
    }
  }

 private:
  DestinationValues Read() const {
    DestinationValues values;
    values.destination = ItemText(window_, kIdDestination);
    const LRESULT mode = ::SendDlgItemMessageW(window_, kIdRunMode, CB_GETCURSEL, 0, 0);
    values.run_mode = mode == CB_ERR ? 0 : static_cast<int>(mode);
    values.save_project = ::IsDlgButtonChecked(window_, kIdSaveProject) == BST_CHECKED;
    return values;
  }
  void Open(const std::u16string& target) {
    ::ShellExecuteW(window_, L"open", W(target), nullptr, nullptr, SW_SHOWNORMAL);
  }
};

// ---- The sheet ------------------------------------------------------------------------------

LRESULT CALLBACK WizardSheet::CaptionKeeper(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                            DWORD_PTR data) {
  if (message == WM_SETTEXT) {
    lparam = reinterpret_cast<LPARAM>(W(reinterpret_cast<WizardSheet*>(data)->caption_));
  } else if (message == WM_NCDESTROY) {
    ::RemoveWindowSubclass(window, CaptionKeeper, id);
  }
  return ::DefSubclassProc(window, message, wparam, lparam);
}

void WizardSheet::Attach(HWND sheet) {
  window_ = sheet;
  app::CBrankelApp& app = flow_.Context().app;
  app.GetText(caption_, u"IDS_WT_MAKEEXE");
  ::SetWindowSubclass(sheet, CaptionKeeper, 1, reinterpret_cast<DWORD_PTR>(this));
  ::SetWindowTextW(sheet, W(caption_));
  std::u16string text;
  app.GetText(text, u"IDCLOSE");
  SetItemText(sheet, IDCANCEL, text);
  app.GetText(text, u"IDS_BTN_NMLHELP");
  SetItemText(sheet, IDHELP, text);
  ::ShowWindow(::GetDlgItem(sheet, IDHELP), SW_SHOW);
  next_text_ = ItemText(sheet, kIdNext);
  for (int id : {kIdBack, kIdNext, kIdFinish, static_cast<int>(IDCANCEL), static_cast<int>(IDHELP)}) {
    if (HWND button = ::GetDlgItem(sheet, id)) {
      auto skinned = std::make_unique<ui::CVLButton>();
      skinned->Attach(button);
      buttons_.push_back(std::move(skinned));
    }
  }
}

void WizardSheet::PageShown(size_t index) {
  if (window_ == nullptr) return;
  const bool last = index + 1 == std::size(kPages);
  ::SendMessageW(window_, PSM_SETWIZBUTTONS, 0, index == 0 ? PSWIZB_NEXT : PSWIZB_BACK | PSWIZB_NEXT);
  ::ShowWindow(::GetDlgItem(window_, kIdBack), index == 0 ? SW_HIDE : SW_SHOW);
  std::u16string build;
  flow_.Context().app.GetText(build, u"IDS_CT_MAKEEXE_BUILD");
  SetItemText(window_, kIdNext, last ? build : next_text_);
}

int CALLBACK WizardSheet::SheetCallback(HWND window, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED && g_running != nullptr) g_running->Attach(window);
  return 0;
}

void WizardSheet::Run() {
  pages_.push_back(std::make_unique<ExePropertiesView>(*this, 0));
  pages_.push_back(std::make_unique<MacroListView>(*this, 1));
  pages_.push_back(std::make_unique<ExtraFilesView>(*this, 2));
  pages_.push_back(std::make_unique<PlainPage>(*this, 3));
  pages_.push_back(std::make_unique<PlainPage>(*this, 4));
  pages_.push_back(std::make_unique<DestinationView>(*this, 5));
  std::vector<PROPSHEETPAGEW> infos;
  for (auto& page : pages_) infos.push_back(page->Info());
  std::u16string caption;
  flow_.Context().app.GetText(caption, u"IDS_WT_MAKEEXE");
  PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_HASHELP | PSH_USECALLBACK;
  header.hInstance = ::GetModuleHandleW(nullptr);
  header.pszCaption = W(caption);
  header.nPages = static_cast<UINT>(infos.size());
  header.ppsp = infos.data();
  header.pfnCallback = SheetCallback;
  g_running = this;
  ::PropertySheetW(&header);
  g_running = nullptr;
  window_ = nullptr;
}

}  // namespace

void RunWizardSheet(WizardFlow& flow) {
  // The pages' texts come from the program's language table.
  ui::CNewAspect::Global().SetLanguageTable(flow.Context().app.LanguageTable());
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  WizardSheet sheet(flow);
  sheet.Run();
}

}  // namespace wizard::win32
