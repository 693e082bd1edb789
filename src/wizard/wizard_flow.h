// The wizard's run without its windows: what happens before the sheet opens, the page
// rules the sheet's pages bind to, and what happens after it closes. Brankel.exe shows
// the pages of one of these; the command-line tool answers the same pages itself.
#pragma once

#include <memory>
#include <string_view>

#include "packager/session.h"
#include "wizard/destination.h"
#include "wizard/exe_properties.h"
#include "wizard/extra_files.h"
#include "wizard/macro_list.h"
#include "wizard/page.h"
#include "wizard/play_parameters.h"
#include "wizard/playback_options.h"

namespace wizard {

// The pages in sheet order, with their template, caption key and help topic.
struct PageInfo {
  int template_id;
  const char16_t* caption_key;
  const char* help_topic;
};
inline constexpr PageInfo kPages[] = {
    {129, u"IDS_WT_MAKEEXE_1", "packager-exemake-0.htm"},
    {394, u"IDS_WT_MAKEEXE_2", "packager-exemake-1.htm"},
    {131, u"IDS_WT_MAKEEXE_3", "packager-exemake-2.htm"},
    {133, u"IDS_WT_MAKEEXE_4", "packager-exemake-3.htm"},
    {388, u"IDS_WT_TRIGGER_PLAYPARAMETER", "trigger-playparameter.htm"},
    {395, u"IDS_WT_MAKEEXE_FINAL", "packager-exemake-final.htm"},
};
inline constexpr int kEnsureFileTemplate = 134;

class WizardFlow {
 public:
  explicit WizardFlow(app::CBrankelApp& application);
  WizardFlow(const WizardFlow&) = delete;
  WizardFlow& operator=(const WizardFlow&) = delete;
  // Deletes the temporary copies, whatever happened.
  ~WizardFlow();

  // Before the sheet: the project, the script's header (an older script upgraded), a new
  // project's defaults, the script's entry and the collection. False after the message
  // (shown with `owner`) when there is to be no sheet.
  bool Prepare(std::u16string_view script, app::WindowHandle owner = nullptr);
  // After the sheet: the project is saved when the record asks for it; the temporary
  // copies are deleted. Returns false when the save failed (its message shown).
  bool Finish();

  PageContext& Context() { return context_; }
  packager::PackagingSession& Session() { return session_; }
  ExePropertiesPage& Properties() { return properties_; }
  MacroListPage& Macros() { return macros_; }
  ExtraFilesPage& Extras() { return extras_; }
  PlaybackOptionsPage& Playback() { return playback_; }
  PlayParametersPage& PlayParams() { return play_params_; }
  DestinationPage& Destination() { return destination_; }

 private:
  packager::PackagingSession session_;
  PageContext context_;
  ExePropertiesPage properties_;
  ExtraFilesPage extras_;
  MacroListPage macros_;
  PlaybackOptionsPage playback_;
  PlayParametersPage play_params_;
  DestinationPage destination_;
};

}  // namespace wizard
