#include "wizard/wizard_flow.h"

#include "app/brankel_app.h"

namespace wizard {
namespace {

// A text the session prepared is shown as it stands: it is the argument of a bare format,
// so a "%" in a path stays a "%".
void ShowText(PageContext& context, const std::u16string& text, uint32_t icon) {
  context.app.MessageBoxFormat(u"%s", context.owner, icon, text);
}

}  // namespace

WizardFlow::WizardFlow(app::CBrankelApp& application)
    : session_(application),
      context_{application, session_},
      properties_(context_),
      extras_(context_),
      macros_(context_, extras_),
      playback_(context_),
      play_params_(context_),
      destination_(context_) {}

WizardFlow::~WizardFlow() { session_.RemoveCopies(); }

bool WizardFlow::Prepare(std::u16string_view script, app::WindowHandle owner) {
  context_.owner = owner;
  const size_t told = session_.Messages().size();
  if (!session_.Open(script)) {
    for (size_t i = told; i < session_.Messages().size(); ++i)
      ShowText(context_, session_.Messages()[i], app::kMbIconError);
    return false;
  }
  // A project file that was refused is told; the wizard goes on with a new project.
  for (size_t i = told; i < session_.Messages().size(); ++i) {
    ShowText(context_, session_.Messages()[i], app::kMbIconInformation);
  }
  const size_t before_collection = session_.Messages().size();
  if (!session_.Collect()) {
    for (size_t i = before_collection; i < session_.Messages().size(); ++i) {
      ShowText(context_, session_.Messages()[i], app::kMbIconError);
    }
    return false;
  }
  return true;
}

bool WizardFlow::Finish() {
  bool saved = true;
  if (session_.Record().SaveProject == 1 && !session_.SaveProject()) {
    ShowText(context_, session_.Messages().back(), app::kMbIconError);
    saved = false;
  }
  session_.RemoveCopies();
  return saved;
}

}  // namespace wizard
