// Until the wizard's pages exist, its entry point shows one page that names the script.
#include <windows.h>

#include <string>

#include "app/win32/resource_ids.h"
#include "app/win32/wizard_entry.h"

namespace app {
namespace {

INT_PTR CALLBACK PageProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetDlgItemTextW(dialog, IDC_WIZARD_SCRIPT, reinterpret_cast<const wchar_t*>(lparam));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      ::EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void RunWizard(CBrankelApp& app) {
  const std::u16string& script = app.ScriptPath();
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WIZARD_PLACEHOLDER), nullptr, PageProc,
                    reinterpret_cast<LPARAM>(script.c_str()));
}

}  // namespace app
