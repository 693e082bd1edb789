// The sheet and the base class of its pages, shared by the files of the pages.
#pragma once

#include <windows.h>
// windows.h first: the shell headers build on it.
#include <commctrl.h>
#include <prsht.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/win32/dialogs.h"
#include "wizard/win32/wizard_sheet.h"

namespace wizard::win32 {

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
  // Fills the drop-down list `id` with the texts of `keys` and selects `select` (-1: none).
  void FillList(int id, const ListKeys& keys, int select);

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

// The pages, one file each; `index` is the page's place in the sheet.
std::unique_ptr<WizardPage> MakeExePropertiesView(WizardSheet& sheet, size_t index);
std::unique_ptr<WizardPage> MakeMacroListView(WizardSheet& sheet, size_t index);
std::unique_ptr<WizardPage> MakeExtraFilesView(WizardSheet& sheet, size_t index);
std::unique_ptr<WizardPage> MakePlaybackOptionsView(WizardSheet& sheet, size_t index);
std::unique_ptr<WizardPage> MakePlayParametersView(WizardSheet& sheet, size_t index);
std::unique_ptr<WizardPage> MakeDestinationView(WizardSheet& sheet, size_t index);

}  // namespace wizard::win32
