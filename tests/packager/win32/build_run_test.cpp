// A script built with `brankel build` runs for real: its EXE starts, and the player copy
// it carries, unpacked as the stub unpacks it, starts beside only the modules the build
// shipped. A Windows build's stand-ins have its word size, so this program can start them.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "packager/payload.h"
#include "packager/runtime_files.h"
#include "pe/pe_image.h"
#include "pe/win32/run_program.h"
#include "platform/platform.h"
#include "support/macro_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"
#include "support/script_builder.h"

namespace packager {
namespace {

using brankel_test::MacroBuilder;
using brankel_test::Narrow;

constexpr uint16_t kOpenFile = 0x230A;  // names one file, its text at payload offset 0

std::vector<uint8_t> TextPayload(std::u16string_view text) {
  std::vector<uint8_t> payload;
  for (char16_t c : text) payload.insert(payload.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  payload.insert(payload.end(), {0, 0});
  return payload;
}

std::string WithoutLineEnd(std::string output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

class BuildRunTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
#ifndef BRANKEL_RUNTIME
    GTEST_SKIP() << "no stand-in runtime in this build";
#endif
    ScratchTest::SetUp();
  }
  void TearDown() override {
    if (!dir_.empty()) ScratchTest::TearDown();
  }

  // Writes `data` at `folder`\`name`, making the folders the name passes through.
  void Unpack(const std::u16string& folder, const std::u16string& name, plat::ByteView data) {
    for (size_t slash = name.find(u'\\'); slash != std::u16string::npos; slash = name.find(u'\\', slash + 1)) {
      const std::u16string sub = folder + u"\\" + name.substr(0, slash);
      if (!plat::IsDirectory(sub)) {
        ASSERT_TRUE(plat::CreateDirectory(sub)) << Narrow(sub);
      }
    }
    const std::string bytes(reinterpret_cast<const char*>(data.data()), data.size());
    ASSERT_TRUE(brankel_test::WriteBytes(folder + u"\\" + name, bytes)) << Narrow(name);
  }
};

TEST_F(BuildRunTest, BuiltExeAndItsUnpackedPlayerCopyRun) {
  ASSERT_TRUE(plat::CreateDirectory(Path(u"script")));
  ASSERT_TRUE(plat::CreateDirectory(Path(u"out")));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"script\\notes.txt"), "notes"));
  MacroBuilder second;
  second.Command(kOpenFile, 40).Param(40, TextPayload(Path(u"script\\notes.txt")));
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"script\\second.msd"), second.Bytes()));
  const MacroBuilder main =
      brankel_test::Calls({{brankel_test::kCallMacro, brankel_test::kByPath, Path(u"script\\second.msd")}});
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"script\\main.msd"), main.Bytes()));

  const std::u16string exe_path = Path(u"out\\main.exe");
  const brankel_test::CliOutput build =
      brankel_test::RunCli({"build", Narrow(Path(u"script\\main.msd")), "-o", Narrow(exe_path)});
  ASSERT_EQ(build.code, 0) << build.err << build.out;

  pe::CPE_ImageEditor exe;
  ASSERT_TRUE(exe.Load(exe_path)) << exe.RefusalText();
  const std::optional<plat::ByteView> section = PayloadSection(exe);
  ASSERT_TRUE(section);
  std::string refusal;
  const std::optional<PayloadB> payload = ReadPayloadB(*section, &refusal);
  ASSERT_TRUE(payload) << refusal;

  // Every record goes under its target name, as the stub writes them.
  const std::u16string unpacked = Path(u"unpacked");
  ASSERT_TRUE(plat::CreateDirectory(unpacked));
  std::u16string player;
  std::set<std::string> files;
  for (const PayloadBRecord& record : payload->records) {
    ASSERT_NO_FATAL_FAILURE(Unpack(unpacked, record.target_name, record.data));
    if (record.kind == kFileKindPlayer) player = record.target_name;
    if (record.kind == kFileKindFile) files.insert(Narrow(record.target_name));
  }
  EXPECT_EQ(files, std::set<std::string>{"notes.txt"});
  ASSERT_FALSE(player.empty()) << "no player copy in payload B";
  // A script with no document, web or OCR commands ships only the modules every player
  // needs, so a kept import of any other one could not be resolved.
  for (const InstalledRuntimeFile& file : kInstalledRuntimeFiles) {
    if (!file.imported) continue;
    EXPECT_EQ(plat::FileExists(unpacked + u"\\" + file.name), file.always_needed) << Narrow(file.name);
  }

  // The loader resolves every import the copy kept from the unpacked folder alone; an
  // import of a module the build left out would stop it before it prints.
  std::string output;
  unsigned exit_code = 99;
  ASSERT_TRUE(brankel_test::RunProgram(unpacked + u"\\" + player, &output, &exit_code));
  EXPECT_EQ(WithoutLineEnd(output), "stand-in player .mdata 4D410000");
  EXPECT_EQ(exit_code, 0u);

  exit_code = 99;
  ASSERT_TRUE(brankel_test::RunProgram(exe_path, &output, &exit_code));
  EXPECT_EQ(WithoutLineEnd(output), "stand-in stub .mdata 4D460000");
  EXPECT_EQ(exit_code, 0u);

  const brankel_test::CliOutput inspect = brankel_test::RunCli({"inspect", Narrow(exe_path)});
  EXPECT_EQ(inspect.code, 0) << inspect.err << inspect.out;
}

}  // namespace
}  // namespace packager
