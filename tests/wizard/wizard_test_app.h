// A wizard over a script in a scratch folder, with an application that records the
// message boxes the pages show instead of showing them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/brankel_app.h"
#include "support/macro_builder.h"
#include "support/scratch.h"
#include "wizard/wizard_flow.h"

namespace brankel_test {

struct ShownMessage {
  std::u16string key;   // empty for a prepared text
  std::u16string text;  // the first argument: a path, a name, or the prepared text
  uint32_t type = 0;
};

class RecordingApp : public app::CBrankelApp {
 public:
  int MessageBoxByKeyV(const char16_t* key, app::WindowHandle, uint32_t type, const app::FormatArg* args,
                       size_t count) override {
    shown.push_back({key, count > 0 ? std::u16string(args[0].Text()) : std::u16string(), type});
    return app::kIdOk;
  }
  int MessageBoxFormatV(std::u16string_view, app::WindowHandle, uint32_t type, const app::FormatArg* args,
                        size_t count) override {
    return MessageBoxByKeyV(u"", nullptr, type, args, count);
  }
  std::vector<ShownMessage> shown;
};

class WizardTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    app_.SetProgramFolder(plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\");
    ASSERT_TRUE(app_.LoadConfiguration());
    flow_ = std::make_unique<wizard::WizardFlow>(app_);
  }
  void TearDown() override {
    flow_.reset();
    ScratchTest::TearDown();
  }
  void Write(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(WriteBytes(Path(name), bytes)) << Narrow(name);
  }
  // Writes main.msd (an empty macro by default) and prepares the wizard on it.
  void Prepare(const std::string& script = MacroBuilder().Bytes()) {
    Write(u"main.msd", script);
    ASSERT_TRUE(flow_->Prepare(Path(u"main.msd")));
    app_.shown.clear();
  }
  // The keys shown since the last call; a prepared text stands for itself (without a
  // language table a key's text is the key).
  std::vector<std::u16string> TakeKeys() {
    std::vector<std::u16string> keys;
    for (const ShownMessage& message : app_.shown) keys.push_back(message.key.empty() ? message.text : message.key);
    app_.shown.clear();
    return keys;
  }
  project::CMakeExe_FileLists& Lists() { return flow_->Session().Lists(); }
  project::MakeExeOptions& Record() { return flow_->Session().Record(); }

  RecordingApp app_;
  std::unique_ptr<wizard::WizardFlow> flow_;
};

}  // namespace brankel_test
