// A wizard over a script in a scratch folder, with an application that records the
// message boxes the pages show instead of showing them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/brankel_app.h"
#include "support/scratch.h"
#include "wizard/wizard_flow.h"

namespace brankel_test {

struct ShownMessage {
  std::u16string key;   // empty for a prepared text
  std::u16string text;  // the first text argument, or the prepared text
  uint32_t type = 0;
};

class RecordingApp : public app::CBrankelApp {
 public:
  int MessageBoxByKeyV(const char16_t* key, app::WindowHandle owner, uint32_t type, const app::FormatArg* args,
                       size_t count) override;
  int MessageBoxFormatV(std::u16string_view format, app::WindowHandle owner, uint32_t type, const app::FormatArg* args,
                        size_t count) override;

  std::vector<ShownMessage> shown;
};

class WizardTest : public ScratchTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  void Write(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(WriteBytes(Path(name), bytes)) << Narrow(name);
  }
  // Writes main.msd with `script` (an empty macro by default) and prepares the wizard on it.
  void Prepare(const std::string& script = {});
  // The keys shown since the last call, a prepared text as its own text.
  std::vector<std::u16string> TakeKeys();

  RecordingApp app_;
  std::unique_ptr<wizard::WizardFlow> flow_;
};

}  // namespace brankel_test
