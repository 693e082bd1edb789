#include "wizard/wizard_test_app.h"

#include "support/macro_builder.h"

namespace brankel_test {

int RecordingApp::MessageBoxByKeyV(const char16_t* key, app::WindowHandle, uint32_t type, const app::FormatArg* args,
                                   size_t count) {
  shown.push_back({key, count > 0 ? std::u16string(args[0].Text()) : std::u16string(), type});
  return app::kIdOk;
}

int RecordingApp::MessageBoxFormatV(std::u16string_view, app::WindowHandle, uint32_t type, const app::FormatArg* args,
                                    size_t count) {
  shown.push_back({u"", count > 0 ? std::u16string(args[0].Text()) : std::u16string(), type});
  return app::kIdOk;
}

void WizardTest::SetUp() {
  ScratchTest::SetUp();
  app_.SetProgramFolder(plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\");
  ASSERT_TRUE(app_.LoadConfiguration());
  flow_ = std::make_unique<wizard::WizardFlow>(app_);
}

void WizardTest::TearDown() {
  flow_.reset();
  ScratchTest::TearDown();
}

void WizardTest::Prepare(const std::string& script) {
  Write(u"main.msd", script.empty() ? MacroBuilder().Bytes() : script);
  ASSERT_TRUE(flow_->Prepare(Path(u"main.msd")));
  app_.shown.clear();
}

std::vector<std::u16string> WizardTest::TakeKeys() {
  std::vector<std::u16string> keys;
  for (const ShownMessage& message : app_.shown) keys.push_back(message.key.empty() ? message.text : message.key);
  app_.shown.clear();
  return keys;
}

}  // namespace brankel_test
