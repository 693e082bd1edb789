// The wizard's windows: a wizard-mode property sheet with the six pages, each binding its
// controls to the page rules of wizard/ (which validate, store and show messages).
#pragma once

#include "wizard/wizard_flow.h"

namespace wizard::win32 {

// The list pages' picture (a bitmap resource of the program) and the control that shows it.
inline constexpr int kPictureBitmap = 132;
inline constexpr int kIdPicture = 1209;

// Shows the sheet modally over the prepared `flow`; returns when it has closed.
void RunWizardSheet(WizardFlow& flow);

}  // namespace wizard::win32
