// The wizard runner: the flow prepares the project and the collection, the sheet shows the
// pages, and the flow saves and cleans up, also when the sheet never opened.
#include "app/win32/wizard_entry.h"

#include "wizard/win32/wizard_sheet.h"
#include "wizard/wizard_flow.h"

namespace app {

void RunWizard(CBrankelApp& app) {
  wizard::WizardFlow flow(app);
  if (flow.Prepare(app.ScriptPath())) {
    wizard::win32::RunWizardSheet(flow);
    flow.Finish();
  }
}

}  // namespace app
