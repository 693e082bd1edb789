#include "wizard/win32/wizard_sheet.h"

#include <windows.h>
// windows.h first: the shell headers build on it.
#include <commctrl.h>
#include <prsht.h>

#include <memory>
#include <string>
#include <vector>

#include "app/win32/startup_host.h"
#include "ui/win32/dialogs.h"
#include "wizard/win32/win32_text.h"
#include "wizard/win32/wizard_page.h"

namespace wizard::win32 {
namespace {

// The wizard sheet's own buttons.
constexpr int kIdBack = 0x3023;
constexpr int kIdNext = 0x3024;
constexpr int kIdFinish = 0x3025;

std::u16string Widened(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

WizardSheet* g_running = nullptr;  // the sheet's callback has no user data

}  // namespace

WizardPage::WizardPage(WizardSheet& sheet, size_t index) : sheet_(sheet), index_(index) {}

PageContext& WizardPage::Context() {
  PageContext& context = sheet_.Flow().Context();
  context.owner = window_;
  return context;
}

app::CBrankelApp& WizardPage::App() { return sheet_.Flow().Context().app; }

void WizardPage::FillList(int id, const ListKeys& keys, int select) {
  HWND list = ::GetDlgItem(window_, id);
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  for (const std::u16string& item : ListItems(App(), keys)) {
    ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item)));
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
}

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
  pages_.push_back(MakeExePropertiesView(*this, 0));
  pages_.push_back(MakeMacroListView(*this, 1));
  pages_.push_back(MakeExtraFilesView(*this, 2));
  pages_.push_back(MakePlaybackOptionsView(*this, 3));
  pages_.push_back(MakePlayParametersView(*this, 4));
  pages_.push_back(MakeDestinationView(*this, 5));
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

void RunWizardSheet(WizardFlow& flow) {
  // The pages' texts come from the program's language table.
  ui::CNewAspect::Global().SetLanguageTable(flow.Context().app.LanguageTable());
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&controls);
  WizardSheet sheet(flow);
  sheet.Run();
}

}  // namespace wizard::win32
