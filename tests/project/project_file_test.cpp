#include <gtest/gtest.h>

#include <cstring>

#include "app/brankel_app.h"
#include "macro/macro_builder.h"
#include "platform/scratch.h"
#include "project/project_file.h"
#include "platform/unicode.h"

namespace project {
namespace {

using brankel_test::ReadBytes;
using brankel_test::WriteBytes;

MacroListEntry Macro(std::u16string_view path, bool user, std::u16string_view temp = u"") {
  MacroListEntry entry{};
  entry.ParentIndex = user ? kNoParent : 0;
  entry.EntryType = 3;
  entry.UserAdded = user ? 1 : 0;
  entry.CommandIndex = user ? -1 : 4;
  plat::SetFixedText(entry.Path, 260, path);
  plat::SetFixedText(entry.TempPath, 260, temp);
  return entry;
}

ExtraFileEntry Extra(std::u16string_view path, bool user) {
  ExtraFileEntry entry{};
  entry.ParentIndex = kNoParent;
  entry.UserAdded = user ? 1 : 0;
  entry.NameHash = user ? 0 : 77;
  plat::SetFixedText(entry.SourcePath, 260, path);
  plat::SetFixedText(entry.TargetName, 260, u"data\\file.txt");
  return entry;
}

TEST(ProjectFilePath, ReplacesTheExtension) {
  EXPECT_EQ(ProjectFilePath(u"C:\\m\\job.msd"), u"C:\\m\\job.packproj");
  const std::u16string long_script = u"C:\\" + std::u16string(252, u'a') + u".msd";  // 259 characters
  EXPECT_FALSE(ProjectFilePath(long_script).has_value()) << "the project name would not fit";
  EXPECT_TRUE(ProjectFilePath(u"C:\\" + std::u16string(247, u'a') + u".msd").has_value());
}

class ProjectFileTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    script_ = Path(u"job.msd");
    record_ = std::make_unique<MakeExeOptions>();
  }
  std::u16string script_;
  std::unique_ptr<MakeExeOptions> record_;
  app::CBrankelApp app_;
};

TEST_F(ProjectFileTest, SavedSizeAndHeader) {
  CMakeExe_FileLists lists;
  lists.AddMacroEntry(Macro(u"C:\\m\\job.msd", false));
  lists.AddMacroEntry(Macro(u"C:\\m\\lib.msl", false));
  lists.AddExtraEntry(Extra(u"C:\\m\\a.txt", true));
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  const std::string bytes = ReadBytes(Path(u"job.packproj"));
  ASSERT_EQ(bytes.size(), 18084u);
  EXPECT_EQ(std::memcmp(bytes.data(), "MSDPROJ\0", 8), 0);
  EXPECT_EQ(static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8, 513);
  uint32_t total = 0;
  std::memcpy(&total, bytes.data() + 12, 4);
  EXPECT_EQ(total, 18084u);
  int32_t counts[2];
  std::memcpy(counts, bytes.data() + 14652, 8);
  EXPECT_EQ(counts[0], 2);
  EXPECT_EQ(counts[1], 1);
  EXPECT_EQ(plat::FixedText(reinterpret_cast<const char16_t*>(bytes.data() + 14920 + 1052 + 12), 260), u"C:\\m\\lib.msl");
}

TEST_F(ProjectFileTest, RoundTripKeepsTheRecordAndTheUserEntries) {
  CMakeExe_FileLists lists;
  lists.AddMacroEntry(Macro(u"C:\\m\\user.msd", true, u"C:\\tmp\\~PDPA1.tmp"));
  lists.AddMacroEntry(Macro(u"C:\\m\\found.msl", false));
  lists.AddExtraEntry(Extra(u"C:\\m\\mine.txt", true));
  lists.AddExtraEntry(Extra(u"C:\\m\\found.txt", false));
  plat::SetFixedText(record_->ExeName, 130, u"Report maker");
  record_->PlayTimes = 3;
  record_->Settings.StopKey.KeyCode = 0x51;
  record_->Reserved2158[10] = 0xAB;  // reserved bytes travel unchanged
  record_->SaveProject = 1;
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);

  MakeExeOptions loaded{};
  CMakeExe_FileLists again;
  again.AddMacroEntry(Macro(u"C:\\M\\USER.MSD", true));  // already listed: not added twice
  ASSERT_EQ(LoadProject(loaded, script_, again, app_), 1);
  EXPECT_EQ(std::memcmp(&loaded, record_.get(), sizeof loaded), 0) << "the same record, byte for byte";
  ASSERT_EQ(again.MacroCount(), 1) << "found entries are found again by the collection";
  EXPECT_EQ(again.ExtraCount(), 1);
  EXPECT_EQ(plat::FixedText(again.ExtraEntries()[0].SourcePath, 260), u"C:\\m\\mine.txt");

  CMakeExe_FileLists fresh;
  MakeExeOptions other{};
  ASSERT_EQ(LoadProject(other, script_, fresh, app_), 1);
  ASSERT_EQ(fresh.MacroCount(), 1);
  EXPECT_EQ(plat::FixedText(fresh.MacroEntries()[0].Path, 260), u"C:\\m\\user.msd");
  EXPECT_EQ(plat::FixedText(fresh.MacroEntries()[0].TempPath, 260), u"") << "no stale temporary copy";
  EXPECT_EQ(other.Magic[0], 'M');
}

TEST_F(ProjectFileTest, InvalidFilesFallBackToTheConfiguration) {
  CMakeExe_FileLists lists;
  lists.AddMacroEntry(Macro(u"C:\\m\\user.msd", true));
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  const std::string good = ReadBytes(Path(u"job.packproj"));

  const auto expect_rejected = [&](const std::string& bytes, const char* why) {
    ASSERT_TRUE(WriteBytes(Path(u"job.packproj"), bytes));
    MakeExeOptions loaded;
    std::memset(&loaded, 0x77, sizeof loaded);
    CMakeExe_FileLists out;
    EXPECT_EQ(LoadProject(loaded, script_, out, app_), 0) << why;
    EXPECT_EQ(loaded.Magic[0], 0) << why;
    EXPECT_EQ(loaded.PlayTimes, 0) << why;
    EXPECT_EQ(out.MacroCount(), 0) << why;
  };
  expect_rejected(good + "x", "one byte longer than its size");
  expect_rejected(good.substr(0, good.size() - 1), "one byte short");
  expect_rejected(good.substr(0, 14919), "shorter than the record");
  std::string version = good;
  version[8] = 0x00;  // 512
  version[9] = 0x02;
  expect_rejected(version, "version 512");
  std::string magic = good;
  magic[0] = 'm';
  expect_rejected(magic, "magic");
  std::string counts = good;
  const int32_t lie = 2;
  std::memcpy(counts.data() + 14656, &lie, 4);  // extra count that does not match the size
  expect_rejected(counts, "counts against size");
  std::string negative = good;
  const int32_t minus = -1;
  std::memcpy(negative.data() + 14652, &minus, 4);
  expect_rejected(negative, "negative count");
  expect_rejected(std::string(2 * 1024 * 1024, 'A'), "far too large");
  ASSERT_TRUE(plat::DeleteFile(Path(u"job.packproj")));
  MakeExeOptions none{};
  CMakeExe_FileLists out;
  EXPECT_EQ(LoadProject(none, script_, out, app_), 0);
}

TEST_F(ProjectFileTest, FailedSaveKeepsTheOldProject) {
  CMakeExe_FileLists lists;
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  const std::string before = ReadBytes(Path(u"job.packproj"));
  // A project file held open by another program without sharing cannot be replaced.
  plat::FileHandle holder = plat::OpenFile(Path(u"job.packproj"), plat::kGenericRead, 0, plat::Disposition::kOpenExisting);
  ASSERT_NE(holder, nullptr);
  lists.AddMacroEntry(Macro(u"C:\\m\\new.msd", true));
  EXPECT_EQ(SaveProject(*record_, script_, lists), 0);
  plat::CloseFile(holder);
  EXPECT_EQ(ReadBytes(Path(u"job.packproj")), before);
  // No temporary files are left behind.
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(Path(u"prj*"), &data);
  EXPECT_EQ(find, nullptr);
  if (find != nullptr) plat::FindClose(find);
  EXPECT_EQ(SaveProject(*record_, Path(u"no\\such\\job.msd"), lists), 0);
}

TEST(NewProjectDefaults, FromTheScriptHeaderAndTheApplication) {
  brankel_test::MacroBuilder builder;
  builder.Name(u"Nightly report");
  macro::MacroFileHeader header = builder.Header();
  header.EmulationLevel = 0x52;
  header.PlaySpeed = -30;
  app::SharedSettings settings{};
  settings.Hue = 12;
  settings.FontSize = 85;
  plat::SetFixedText(settings.FontFace, 64, u"Segoe UI");

  auto record = std::make_unique<MakeExeOptions>();
  record->EmulationLevel = 0xA0;
  record->ProgressMode = 0xFC;
  ApplyNewProjectDefaults(*record, header, settings, true);
  EXPECT_EQ(record->ShowPlayOption, 1);
  EXPECT_EQ(record->PlayTimes, 1);
  EXPECT_EQ(record->PlayFlags, 1u) << "no variable values";
  EXPECT_EQ(plat::FixedText(record->ExeName, 130), u"Nightly report");
  EXPECT_EQ(record->EmulationLevel, 0xA2) << "low bits from the header, high bits kept";
  EXPECT_EQ(record->PlaySpeed, -30);
  EXPECT_EQ(record->DodgeMouseMode, 0) << "installation default with dodging off";
  EXPECT_EQ(record->ProgressMode, 0xFD) << "transparency 0 is below 30: on; bits 2-7 kept";
  EXPECT_EQ(record->Settings.Hue, 12);
  EXPECT_EQ(record->Settings.FontSize, 85);
  EXPECT_EQ(plat::FixedText(record->Settings.FontFace, 64), u"Segoe UI");
  EXPECT_EQ(record->Settings.UseSystemColours, 1);
  EXPECT_EQ(record->Settings.StopKey.KeyCode, 0) << "the application block has no hot keys";

  plat::SetFixedText(header.VariableValues, 520, u"a=1");
  header.DodgeMouseMode = 0x11;  // low bits 1: off
  header.ProgressMode = 0x07;    // on
  settings.DodgeMouse = 1;
  settings.MonitorTransparency = 85;
  ApplyNewProjectDefaults(*record, header, settings, false);
  EXPECT_EQ(record->PlayFlags, 3u);
  EXPECT_EQ(plat::FixedText(record->VariableValues, 520), u"a=1");
  EXPECT_EQ(record->DodgeMouseMode, 0);
  EXPECT_EQ(record->ProgressMode & 3, 1);
  EXPECT_EQ(record->Settings.UseSystemColours, 0);
  header.DodgeMouseMode = 0;
  header.ProgressMode = 0;
  ApplyNewProjectDefaults(*record, header, settings, false);
  EXPECT_EQ(record->DodgeMouseMode, 1) << "installation default with dodging on";
  EXPECT_EQ(record->ProgressMode & 3, 0) << "transparency 85: off";
}

}  // namespace
}  // namespace project
