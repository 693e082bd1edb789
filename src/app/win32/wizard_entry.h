// The packaging wizard, run modally once start-up has found the script; the process ends
// when it returns.
#pragma once

#include "app/brankel_app.h"

namespace app {

void RunWizard(CBrankelApp& app);

}  // namespace app
