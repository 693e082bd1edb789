#include <gtest/gtest.h>

#include <cstring>

#include "app/brankel_app.h"
#include "app/system_error.h"
#include "platform/unicode.h"
#include "project/project_file.h"
#include "support/macro_builder.h"
#include "support/scratch.h"

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
  EXPECT_EQ(plat::FixedText(reinterpret_cast<const char16_t*>(bytes.data() + 14920 + 1052 + 12), 260),
            u"C:\\m\\lib.msl");
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

// The lists hold more than the 512 entries the wizard finds, since user entries come on
// top; whatever they hold must come back.
TEST_F(ProjectFileTest, EveryListTheProgramCanSaveLoadsAgain) {
  struct Case {
    int macros;
    int extras;
  };
  for (const Case c : {Case{512, 512}, Case{513, 513}, Case{kMacroCapacity, kExtraCapacity}}) {
    CMakeExe_FileLists lists;
    for (int i = 0; i < c.macros; ++i) {
      ASSERT_GE(lists.AddMacroEntry(Macro(u"C:\\m\\" + plat::AsciiToUtf16(std::to_string(i)) + u".msd", true)), 0);
    }
    for (int i = 0; i < c.extras; ++i) {
      ASSERT_TRUE(lists.AddExtraEntry(Extra(u"C:\\m\\" + plat::AsciiToUtf16(std::to_string(i)) + u".txt", true)));
    }
    ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
    MakeExeOptions loaded{};
    CMakeExe_FileLists again;
    std::u16string refused = u"stale";
    ASSERT_EQ(LoadProject(loaded, script_, again, app_, &refused), 1) << c.macros << " " << c.extras;
    EXPECT_EQ(refused, u"");
    EXPECT_EQ(again.MacroCount(), c.macros);
    ASSERT_EQ(again.ExtraCount(), c.extras);
    EXPECT_EQ(plat::FixedText(again.ExtraEntries()[c.extras - 1].SourcePath, 260),
              u"C:\\m\\" + plat::AsciiToUtf16(std::to_string(c.extras - 1)) + u".txt");
  }
}

TEST_F(ProjectFileTest, TravellingNamesOfUserEntriesStayInsideTheExe) {
  struct Case {
    std::u16string source;
    const char16_t* target;
    const char16_t* loaded;  // null: the entry is dropped
  };
  const Case cases[] = {
      {Path(u"data\\ok.txt"), u"data\\ok.txt", u"data\\ok.txt"},
      {Path(u"up.txt"), u"..\\..\\up.txt", u"up.txt"},
      {Path(u"sub\\mid.txt"), u"sub\\..\\..\\mid.txt", u"sub\\mid.txt"},
      {u"C:\\other\\drive.txt", u"C:\\other\\drive.txt", u"drive.txt"},
      {u"C:\\other\\colon.txt", u"x:colon.txt", u"colon.txt"},
      {u"C:\\other\\rooted.txt", u"\\rooted.txt", u"rooted.txt"},
      {u"D:", u"..", nullptr},
  };
  CMakeExe_FileLists lists;
  for (const Case& c : cases) {
    ExtraFileEntry entry = Extra(c.source, true);
    plat::SetFixedText(entry.TargetName, 260, c.target);
    ASSERT_TRUE(lists.AddExtraEntry(entry));
  }
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  MakeExeOptions loaded{};
  CMakeExe_FileLists again;
  ASSERT_EQ(LoadProject(loaded, script_, again, app_), 1);
  int at = 0;
  for (const Case& c : cases) {
    if (c.loaded == nullptr) continue;
    ASSERT_LT(at, again.ExtraCount());
    EXPECT_EQ(plat::FixedText(again.ExtraEntries()[at].SourcePath, 260), c.source);
    EXPECT_EQ(plat::FixedText(again.ExtraEntries()[at].TargetName, 260), c.loaded) << plat::Utf16ToUtf8(c.target);
    ++at;
  }
  EXPECT_EQ(again.ExtraCount(), at) << "an entry without any safe name is dropped";
}

TEST_F(ProjectFileTest, InvalidFilesFallBackToTheConfiguration) {
  CMakeExe_FileLists lists;
  lists.AddMacroEntry(Macro(u"C:\\m\\user.msd", true));
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  const std::string good = ReadBytes(Path(u"job.packproj"));

  // The user is told why the answers are gone: the refusal names its reason and the file.
  const auto expect_rejected = [&](const std::string& bytes, const char* why, std::u16string_view key) {
    ASSERT_TRUE(WriteBytes(Path(u"job.packproj"), bytes));
    MakeExeOptions loaded;
    std::memset(&loaded, 0x77, sizeof loaded);
    CMakeExe_FileLists out;
    std::u16string refused;
    EXPECT_EQ(LoadProject(loaded, script_, out, app_, &refused), 0) << why;
    EXPECT_EQ(loaded.Magic[0], 0) << why;
    EXPECT_EQ(loaded.PlayTimes, 0) << why;
    EXPECT_EQ(out.MacroCount(), 0) << why;
    EXPECT_NE(refused.find(key), std::u16string::npos) << why << ": " << plat::Utf16ToUtf8(refused);
    EXPECT_NE(refused.find(u"IDS_MES_PROJECT_NEWANSWERS"), std::u16string::npos) << why;
  };
  constexpr std::u16string_view kDamaged = u"IDS_ERR_PROJECT_DAMAGED";
  constexpr std::u16string_view kFormat = u"IDS_ERR_PROJECT_FORMAT";
  expect_rejected(good + "x", "one byte longer than its size", kDamaged);
  expect_rejected(good.substr(0, good.size() - 1), "one byte short", kDamaged);
  expect_rejected(good.substr(0, 14919), "shorter than the record", kFormat);
  std::string version = good;
  version[8] = 0x00;  // 512
  version[9] = 0x02;
  expect_rejected(version, "version 512", kFormat);
  std::string magic = good;
  magic[0] = 'm';
  expect_rejected(magic, "magic", kFormat);
  std::string counts = good;
  const int32_t lie = 2;
  std::memcpy(counts.data() + 14656, &lie, 4);  // extra count that does not match the size
  expect_rejected(counts, "counts against size", kDamaged);
  std::string negative = good;
  const int32_t minus = -1;
  std::memcpy(negative.data() + 14652, &minus, 4);
  expect_rejected(negative, "negative count", kDamaged);
  std::string beyond = good;
  const int32_t too_many = kMacroCapacity + 1;
  std::memcpy(beyond.data() + 14652, &too_many, 4);
  expect_rejected(beyond, "more macro entries than the lists hold", kDamaged);
  expect_rejected(std::string(2 * 1024 * 1024, 'A'), "far too large", kDamaged);

  // A project held by another program without sharing cannot be read; the system says why.
  ASSERT_TRUE(WriteBytes(Path(u"job.packproj"), good));
  plat::FileHandle holder =
      plat::OpenFile(Path(u"job.packproj"), plat::kGenericRead, 0, plat::Disposition::kOpenExisting);
  ASSERT_NE(holder, nullptr);
  MakeExeOptions locked{};
  CMakeExe_FileLists out;
  std::u16string refused;
  EXPECT_EQ(LoadProject(locked, script_, out, app_, &refused), 0);
  plat::CloseFile(holder);
  char16_t sharing[260];
  app::FormatSystemError(plat::err::kSharingViolation, sharing, 260, false);
  EXPECT_NE(refused.find(u"IDS_ERR_PROJECT_READ"), std::u16string::npos) << plat::Utf16ToUtf8(refused);
  EXPECT_NE(refused.find(sharing), std::u16string::npos) << plat::Utf16ToUtf8(refused);

  // No project yet is nothing to report.
  ASSERT_TRUE(plat::DeleteFile(Path(u"job.packproj")));
  MakeExeOptions none{};
  refused = u"stale";
  EXPECT_EQ(LoadProject(none, script_, out, app_, &refused), 0);
  EXPECT_EQ(refused, u"");
}

TEST_F(ProjectFileTest, FailedSaveKeepsTheOldProject) {
  CMakeExe_FileLists lists;
  ASSERT_EQ(SaveProject(*record_, script_, lists), 1);
  const std::string before = ReadBytes(Path(u"job.packproj"));
  // A project file held open by another program without sharing cannot be replaced.
  plat::FileHandle holder =
      plat::OpenFile(Path(u"job.packproj"), plat::kGenericRead, 0, plat::Disposition::kOpenExisting);
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
