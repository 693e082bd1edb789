#include "macro/legacy_upgrade.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "analysis/extra_files.h"
#include "macro/error_state.h"
#include "macro/legacy_rules.h"
#include "macro/macro_file.h"
#include "platform/testing.h"
#include "platform/unicode.h"
#include "support/legacy_builder.h"
#include "support/scratch.h"

namespace {

using brankel_test::AnsiPayload;
using brankel_test::BuildLegacyMacro;
using brankel_test::LegacyCommand;
using brankel_test::LegacyMacro;
using macro::legacy::ConvertPayload;
using macro::legacy::FindParamRule;
using macro::legacy::MapCommandCode;

std::u16string Wide(plat::ByteView payload, uint64_t offset, size_t units = SIZE_MAX) {
  return payload.Utf16z(offset, units);
}

std::vector<uint8_t> Convert(uint16_t code, const std::vector<uint8_t>& old, bool old_layout = false,
                             macro::legacy::TextCounts* counts = nullptr) {
  const macro::legacy::ParamRule* rule = FindParamRule(code, old_layout);
  EXPECT_NE(rule, nullptr) << std::hex << code;
  std::vector<uint8_t> payload;
  if (rule != nullptr) {
    EXPECT_TRUE(ConvertPayload(*rule, code, plat::ByteView(old), payload, counts));
  }
  return payload;
}

TEST(LegacyRules, CommandCodesMapByRunAndByData) {
  struct Case {
    uint16_t old_code;
    uint32_t data8;
    uint16_t code;
    bool old_layout;
  };
  const Case cases[] = {
      {0x010, 0, 0x1001, false}, {0x014, 0, 0x1005, false}, {0x026, 0, 0x1107, false}, {0x027, 0, 0x027, false},
      {0x029, 0, 0x230D, false}, {0x06B, 0, 0x06B, false},  {0x06C, 0, 0x2309, false}, {0x06C, 7, 0x230F, false},
      {0x08F, 0, 0x6407, false}, {0x0A1, 0, 0x3304, false}, {0x0AF, 0, 0x320B, false}, {0x0BD, 0, 0x430E, false},
      {0x0C0, 0, 0x0C0, false},  {0x0D1, 0, 0x0D1, false},  {0x0FA, 0, 0x420B, false}, {0x161, 0, 0x230E, false},
      {0x198, 0, 0x310B, false}, {0x1A1, 0, 0x3204, true},  {0x1A2, 0, 0x3205, true},  {0x1A3, 0, 0x3207, true},
      {0x3FF, 0, 0x3FF, false},
  };
  for (const Case& c : cases) {
    const macro::legacy::MappedCode mapped = MapCommandCode(c.old_code, c.data8);
    EXPECT_EQ(mapped.code, c.code) << std::hex << c.old_code;
    EXPECT_EQ(mapped.old_layout, c.old_layout) << std::hex << c.old_code;
  }
}

// Every rule, fed the longest texts an old record can hold, keeps its size and writes its
// texts inside it (the sanitizers watch the bounds).
TEST(LegacyRules, EveryRuleKeepsItsSizeWithTextsThatOverflowTheirFields) {
  std::vector<uint8_t> old(4000, 'x');
  for (size_t i = 0; i < old.size(); i += 97) old[i] = static_cast<uint8_t>(i);
  size_t rules = 0;
  for (const macro::legacy::RuleEntry& entry : macro::legacy::AllParamRules()) {
    ++rules;
    std::vector<uint8_t> payload;
    macro::legacy::TextCounts counts;
    ASSERT_TRUE(ConvertPayload(*entry.rule, entry.first, plat::ByteView(old), payload, &counts));
    const uint32_t size = entry.rule->size;
    if (entry.rule->kind == macro::legacy::RuleKind::kComputed) {
      EXPECT_GE(payload.size(), old.size()) << std::hex << entry.first;
    } else if (entry.rule->variable) {
      EXPECT_GE(payload.size(), size) << std::hex << entry.first;
      EXPECT_EQ((payload.size() - size) % 2, 0u) << std::hex << entry.first;
    } else {
      EXPECT_EQ(payload.size(), size) << std::hex << entry.first;
    }
    for (const macro::legacy::TextField& field : entry.rule->texts) {
      EXPECT_LT(field.to, payload.size()) << std::hex << entry.first;
    }
  }
  EXPECT_GT(rules, 120u);
}

TEST(LegacyRules, SizesFollowTheTableAndTheClosingText) {
  struct Case {
    uint16_t code;
    size_t closing;  // length of the closing text in the old payload
    size_t size;
  };
  const Case cases[] = {{0x1101, 0, 384}, {0x1109, 0, 4300}, {0x1205, 0, 1384}, {0x230F, 0, 1814}, {0x3304, 0, 910},
                        {0x1004, 5, 20},  {0x6105, 3, 1196}, {0x2405, 4, 138},  {0x1202, 2, 1132}};
  for (const Case& c : cases) {
    const macro::legacy::ParamRule* rule = FindParamRule(c.code, false);
    ASSERT_NE(rule, nullptr);
    std::vector<uint8_t> old(2000);
    for (const macro::legacy::TextField& field : rule->texts) {
      if (field.kind == macro::legacy::TextKind::kVariable)
        brankel_test::PutAnsi(old, field.from, std::string(c.closing, 'v'));
    }
    EXPECT_EQ(Convert(c.code, old).size(), c.size) << std::hex << c.code;
  }
  EXPECT_EQ(FindParamRule(0x2201, false), nullptr);
  EXPECT_EQ(FindParamRule(0x0C0, false), nullptr);
  EXPECT_EQ(FindParamRule(0x3206, true), nullptr);
}

TEST(LegacyRules, FullRulesMoveEachScalar) {
  std::vector<uint8_t> old = AnsiPayload(600, {{0, "Hello"}});
  old[261] = 0x77;
  old[522] = 0x34, old[523] = 0x12, old[524] = 0xA5, old[525] = 0x66, old[526] = 0x78, old[527] = 0x56;
  const std::vector<uint8_t> text = Convert(0x1002, old);
  EXPECT_EQ(Wide(text, 0, 64), u"Hello");
  EXPECT_EQ(text[128], 0x77);
  EXPECT_EQ(text[129], 0);

  const std::vector<uint8_t> keys = Convert(0x1004, old);
  ASSERT_EQ(keys.size(), 10u + 2 * 5);
  EXPECT_EQ(plat::ByteView(keys).U16Or(0, 0), 0x1234);
  EXPECT_EQ(keys[2], 0x05);
  EXPECT_EQ(keys[3], 0x66);
  EXPECT_EQ(plat::ByteView(keys).U16Or(4, 0), 0x5678);
  EXPECT_EQ(Wide(keys, 8), u"Hello");

  // The call of another macro, with and without the longer old layout.
  for (const size_t old_size : {700u, 900u}) {
    std::vector<uint8_t> call =
        AnsiPayload(old_size, {{8, "sub\\Greet.msd"}, {269, "args"}, {530, std::string(80, 'n')}});
    call[0] = 0xFF, call[1] = 5, call[2] = 3, call[3] = 9, call[4] = 8, call[5] = 0xF7, call[6] = 4;
    if (old_size > 792) {
      call[792] = 1, call[793] = 2, call[794] = 3, call[796] = 0x22, call[797] = 0x11;
      brankel_test::PutAnsi(call, 800, "second.msd");
    }
    const std::vector<uint8_t> payload = Convert(0x6105, call);
    ASSERT_EQ(payload.size(), 1190u + 2 * 4);
    const plat::ByteView view(payload);
    EXPECT_EQ(payload[0], 3);
    EXPECT_EQ(payload[1], 1);
    EXPECT_EQ(payload[2], 30);
    EXPECT_EQ(payload[3], 9);
    EXPECT_EQ(payload[4], 8);
    EXPECT_EQ(payload[5], 7);
    EXPECT_EQ(payload[6], 0);
    EXPECT_EQ(payload[7], 4);
    EXPECT_EQ(Wide(view, 8, 261), u"sub\\Greet.msd");
    EXPECT_EQ(Wide(view, 530, 64), std::u16string(63, u'n'));
    EXPECT_EQ(Wide(view, 1188), u"args");
    EXPECT_EQ(payload[658], old_size > 792 ? 1 : 0);
    EXPECT_EQ(view.U16Or(662, 0), old_size > 792 ? 0x1122 : 0);
    EXPECT_EQ(Wide(view, 666, 261), old_size > 792 ? u"second.msd" : u"");
  }
}

TEST(LegacyRules, FieldRulesWidenTextsAndKeepScalarsWhereNoTextIs) {
  std::vector<uint8_t> old = AnsiPayload(900, {{0, "C:\\pic.bmp"}, {261, "window"}, {522, "class"}, {555, "ab"}});
  old[700] = 0x5A;  // outside every text: kept at its offset
  const std::vector<uint8_t> image = Convert(0x1205, old);
  const plat::ByteView view(image);
  EXPECT_EQ(Wide(view, 0, 261), u"C:\\pic.bmp");
  EXPECT_EQ(Wide(view, 522, 33), u"ab");
  EXPECT_EQ(Wide(view, 732, 261), u"window");
  EXPECT_EQ(Wide(view, 1254, 65), u"class");
  EXPECT_EQ(image[700], 0x5A);

  // Fields the table gives more units than the layout has room for are cut where the
  // next field starts (0x230C at 2350 and 2478; 0x6507 at the payload's end).
  std::vector<uint8_t> wide = AnsiPayload(2000, {{1312, std::string(200, 'a')}, {1572, "next"}});
  macro::legacy::TextCounts counts;
  const std::vector<uint8_t> cut = Convert(0x230C, wide, false, &counts);
  EXPECT_EQ(Wide(cut, 2350), std::u16string(63, u'a'));
  EXPECT_EQ(Wide(cut, 2478), u"next");
  EXPECT_EQ(counts.cut, 1u);
  const std::vector<uint8_t> end = Convert(0x6507, AnsiPayload(1200, {{790, std::string(200, 'e')}}));
  EXPECT_EQ(end.size(), 2744u);
  EXPECT_EQ(Wide(end, 2616), std::u16string(63, u'e'));

  // The old-layout variant reads its texts elsewhere.
  const std::vector<uint8_t> variant = Convert(0x3205, AnsiPayload(700, {{2, "v"}, {35, "list"}, {557, "t"}}), true);
  EXPECT_EQ(Wide(variant, 1102), u"list");
  EXPECT_EQ(Wide(variant, 64), u"t");
}

// ---- Whole files ---------------------------------------------------------------------

LegacyMacro RichMacro(uint16_t version) {
  LegacyMacro m;
  m.version = version;
  m.name = "Old macro";
  m.editor_text = "notes";
  m.password = "pass5";
  m.option_flags = 0x08;
  m.scrambled = true;
  m.variable_values = "a=1";
  m.path = "C:\\Work";
  m.path_kind = 1;
  m.text_1014 = "t1";
  m.text_1078 = version == 259 ? "t2" : "";
  m.play_speed = -3;
  m.emulation_level = 0x12;
  m.progress = 0xF1;
  m.dodge_mouse = 0xE2;
  m.named_items = {{7, "item", "second"}, {0, "two", ""}};
  LegacyCommand call{.code = 0x054, .param_id = 4, .number = 5, .two_bit = 2, .four_bit = 9, .flag = true};
  LegacyCommand image{.code = 0x034, .param_id = 2};
  LegacyCommand click{.code = 0x06C, .param_id = 3, .data = {7, 8, 9}};
  LegacyCommand plain{.code = 0x062, .param_id = 6, .disabled = true};  // 0x2201 has no rule
  LegacyCommand added{.code = 0x0A1};
  LegacyCommand dangling{.code = 0x010, .param_id = 40};
  m.commands = {call, image, click, plain, added, dangling};
  m.records = {{4, AnsiPayload(700, {{8, "sub\\Greet.msd"}, {269, ""}})},
               {6, AnsiPayload(30, {{0, "kept"}})},
               {2, AnsiPayload(900, {{0, "C:\\pic.bmp"}})},
               {3, AnsiPayload(1300, {{6, "target"}})}};
  return m;
}

class LegacyUpgradeTest : public brankel_test::ScratchTest {
 protected:
  std::u16string Write(const std::vector<uint8_t>& bytes, std::u16string_view name = u"old.msd") {
    const std::u16string path = Path(name);
    EXPECT_TRUE(brankel_test::WriteBytes(path, std::string(bytes.begin(), bytes.end())));
    return path;
  }
  // What the upgrade leaves in the folder and the temporary folder, to show that nothing
  // was left behind.
  std::set<std::u16string> Leftovers() {
    std::set<std::u16string> names = brankel_test::TemporaryFiles(u"*");
    plat::FindData data;
    plat::FindHandle find = plat::FindFirstFile(dir_ + u"\\*", &data);
    if (find != nullptr) {
      do names.insert(data.name);
      while (plat::FindNextFile(find, &data));
      plat::FindClose(find);
    }
    return names;
  }
  // Opens the upgraded file with the reader as every caller does.
  void ExpectRichMacroReadsBack(const std::u16string& path) {
    macro::CFile_Macro file;
    ASSERT_EQ(file.Open(path), 1);
    const macro::MacroFileHeader& h = file.Header();
    EXPECT_EQ(h.Version, macro::kMacroVersion);
    EXPECT_EQ(h.Packed, 1);
    EXPECT_EQ(h.Scrambled, 1);
    EXPECT_EQ(macro::HeaderPassword(h), u"pass5");
    EXPECT_EQ(plat::FixedText(h.MacroName, 128), u"Old macro");
    EXPECT_EQ(plat::FixedText(h.VariableValues, 520), u"a=1");
    EXPECT_EQ(h.PlaySpeed, -3);
    EXPECT_EQ(h.ProgressMode, 1);
    EXPECT_EQ(h.DodgeMouseMode, 2);
    const macro::MacroCommand* commands = nullptr;
    ASSERT_EQ(file.ReadCommands(&commands), 1);
    ASSERT_EQ(h.CommandCount, 6u);
    EXPECT_EQ(commands[0].Code, 0x6105);
    EXPECT_EQ(commands[0].Data[0], 5u << 2);
    EXPECT_EQ(commands[0].Flags, 2 | (2 << 3) | (9 << 5));
    const plat::ByteView call = macro::ParamRecordPayload(macro::FindParamRecord(4, file.ParamView()));
    EXPECT_EQ(Wide(call, 8, 261), u"sub\\Greet.msd");
    EXPECT_EQ(commands[2].Code, 0x230F);
    EXPECT_EQ(commands[2].Data[1], 0u);
    EXPECT_EQ(commands[2].Data[2], 8u);
    // No rule: the old record stays readable, and the records after it too.
    EXPECT_EQ(commands[3].Code, 0x2201);
    EXPECT_EQ(commands[3].Flags & macro::kCommandDisabled, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(
                  macro::ParamRecordPayload(macro::FindParamRecord(6, file.ParamView())).data())),
              "kept");
    // 0x3304 without a record gets one of 910 zero bytes with the next free id.
    EXPECT_EQ(commands[4].Code, 0x3304);
    EXPECT_EQ(commands[4].ParamId, 41);
    EXPECT_EQ(macro::ParamRecordSize(macro::FindParamRecord(41, file.ParamView())), 910u);
    EXPECT_EQ(commands[5].ParamId, macro::kNoParamId);
    ASSERT_EQ(file.LoadNamedItems(), 1);
    EXPECT_EQ(plat::FixedText(file.NamedItems()[0].Name, 64), u"item");
    EXPECT_EQ(plat::FixedText(file.NamedItems()[0].SecondText, 192), u"second");
  }
};

TEST_F(LegacyUpgradeTest, Version259BecomesVersion512AndKeepsItsBytesAsOld) {
  const std::vector<uint8_t> bytes = BuildLegacyMacro(RichMacro(259));
  const std::u16string path = Write(bytes);
  macro::UpgradeReport report;
  ASSERT_EQ(macro::UpgradeMacroFile(path, 0, nullptr, {}, &report), 1);
  EXPECT_EQ(report.from_version, 259);
  EXPECT_EQ(report.commands, 6u);
  EXPECT_EQ(report.codes_mapped, 6u);
  EXPECT_EQ(report.records, 3u);
  EXPECT_EQ(report.records_added, 1u);
  EXPECT_EQ(report.records_without_rule, 1u);
  EXPECT_EQ(report.codes_without_rule, std::vector<uint16_t>{0x2201});
  EXPECT_EQ(report.references_dropped, 1u);
  EXPECT_EQ(brankel_test::ReadBytes(path + u".old"), std::string(bytes.begin(), bytes.end()));
  ExpectRichMacroReadsBack(path);

  macro::MacroFileHeader header{};
  uint16_t version = 0;
  plat::FileHandle file = macro::OpenMacroHeader(path, &header, plat::kGenericRead, plat::kShareRead, &version);
  ASSERT_NE(file, nullptr);
  plat::CloseFile(file);
  EXPECT_EQ(plat::FixedText(reinterpret_cast<const char16_t*>(reinterpret_cast<const uint8_t*>(&header) + 2996), 260),
            u"C:\\Work");
  EXPECT_EQ(header.EditorData1927[1951 - 1927], 1);
  EXPECT_EQ(header.EmulationLevel, 0x12);
}

// The version-258 file's flag scrambles its blocks on the way to version 259, and the
// second step unscrambles what the first wrote.
TEST_F(LegacyUpgradeTest, ScrambledVersion258BecomesVersion512ThroughVersion259) {
  const std::vector<uint8_t> bytes = BuildLegacyMacro(RichMacro(258));
  std::vector<uint8_t> expected259;
  ASSERT_EQ(macro::Convert258To259(plat::ByteView(bytes), expected259), macro::UpgradeFault::kNone);
  const std::u16string path = Write(bytes);
  const std::set<std::u16string> before = Leftovers();
  ASSERT_EQ(macro::UpgradeMacroFile(path, 258, nullptr), 1);
  const std::string old_copy = brankel_test::ReadBytes(path + u".old");
  EXPECT_EQ(old_copy, std::string(expected259.begin(), expected259.end()));
  EXPECT_EQ(plat::ByteView(old_copy).U16Or(8, 0), 259);
  ExpectRichMacroReadsBack(path);
  std::set<std::u16string> after = Leftovers();
  after.erase(u"old.msd.old");
  EXPECT_EQ(after, before);
}

TEST_F(LegacyUpgradeTest, DryRunWritesNothingAndCountsAsTheUpgrade) {
  const std::vector<uint8_t> bytes = BuildLegacyMacro(RichMacro(258));
  const std::u16string path = Write(bytes);
  const std::set<std::u16string> before = Leftovers();
  macro::UpgradeReport dry;
  ASSERT_EQ(macro::UpgradeMacroFile(path, 0, nullptr, {.dry_run = true}, &dry), 1);
  EXPECT_EQ(brankel_test::ReadBytes(path), std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(Leftovers(), before);
  macro::UpgradeReport real;
  ASSERT_EQ(macro::UpgradeMacroFile(path, 0, nullptr, {}, &real), 1);
  EXPECT_TRUE(dry.converted);
  EXPECT_EQ(dry.commands, real.commands);
  EXPECT_EQ(dry.texts_widened, real.texts_widened);
  EXPECT_EQ(dry.texts_widened, 12u);
  EXPECT_TRUE(dry.old_copy.empty());
  EXPECT_EQ(real.old_copy, path + u".old");
}

// Whatever goes wrong, the user's file is as it was and no temporary file stays.
TEST_F(LegacyUpgradeTest, FailuresLeaveTheFileAsItWas) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char16_t* key;  // in the error state; nullptr: the system's text in err_key
    bool blocked_old_copy = false;
    int result = 0;
    bool read_only =
        false;  // the file itself cannot be replaced  // 1: nothing to do, and the open that follows reports the key
  };
  LegacyMacro short_total = RichMacro(259);
  short_total.total_size = 1 << 24;
  LegacyMacro v257 = RichMacro(259);
  v257.version = 257;
  std::vector<uint8_t> records_outside = BuildLegacyMacro(RichMacro(259));
  plat::MutableByteView(records_outside).Put32(16, 5000);
  const Case cases[] = {
      {"total size beyond the file", BuildLegacyMacro(short_total), macro::kKeyBadFile},
      {"records beyond the file", records_outside, macro::kKeyBadFile},
      {"version 257", BuildLegacyMacro(v257), macro::kKeyFileVersion, false, 1},
      {"the .old copy cannot be made", BuildLegacyMacro(RichMacro(259)), nullptr, true},
      {"the file is read-only", BuildLegacyMacro(RichMacro(259)), nullptr, false, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Wine lets its root user replace a read-only file.
    if (c.read_only && plat::testing::UnderWine()) continue;
    const std::u16string path = Write(c.bytes);
    if (c.blocked_old_copy) {
      ASSERT_TRUE(plat::CreateDirectory(path + u".old"));
    }
    if (c.read_only) {
      ASSERT_TRUE(plat::SetFileAttributes(path, plat::kAttrReadOnly));
    }
    const std::set<std::u16string> before = Leftovers();
    macro::ClearMacroFileError();
    char16_t key[260] = {};
    EXPECT_EQ(macro::UpgradeMacroFile(path, 0, key), c.result);
    EXPECT_TRUE(brankel_test::ReadBytes(path) == std::string(c.bytes.begin(), c.bytes.end()));
    std::set<std::u16string> after = Leftovers();
    if (c.read_only) {
      EXPECT_EQ(after.erase(u"old.msd.old"), 1u) << "the old bytes are kept first";
    }
    EXPECT_EQ(after, before);
    // The open that follows a "nothing to do" reports the version; a reader constructed
    // empties the key, so it is taken first.
    std::unique_ptr<macro::CFile_Macro> opened;
    if (c.result == 1) {
      opened = std::make_unique<macro::CFile_Macro>();
      EXPECT_EQ(opened->Open(path), 0);
    }
    const std::u16string state = macro::GetMacroFileError(nullptr) ? macro::GetMacroFileError(nullptr) : u"";
    if (c.key != nullptr) {
      EXPECT_EQ(state, c.key);
    } else {
      EXPECT_EQ(state, u"") << "a failed write is not a version problem";
      EXPECT_NE(key[0], 0);
    }
    macro::CFile_Macro file;
    EXPECT_EQ(file.Open(path), 0);
    if (c.blocked_old_copy) plat::RemoveDirectory(path + u".old");
    if (c.read_only) {
      plat::SetFileAttributes(path, plat::kAttrNormal);
      plat::DeleteFile(path + u".old");
    }
  }
}

TEST_F(LegacyUpgradeTest, FileWithoutCommandsIsConvertedAndNamedItemsAreCut) {
  LegacyMacro m;
  m.name = "empty";
  m.named_item_count = 300;
  for (int i = 0; i < 256; ++i) {
    std::string name = "n";
    name += std::to_string(i);
    m.named_items.push_back({0, name, ""});
  }
  const std::u16string path = Write(BuildLegacyMacro(m));
  macro::CFile_Macro file;
  ASSERT_EQ(file.Open(path), 1);
  EXPECT_EQ(file.Header().CommandCount, 0u);
  EXPECT_EQ(file.Header().NamedItemCount, 256);
  ASSERT_EQ(file.LoadNamedItems(), 1);
  EXPECT_EQ(plat::FixedText(file.NamedItems()[255].Name, 64), u"n255");
}

// The record added for 0x3304 takes the id after the largest one, never "none" and never
// past 14 bits.
TEST(LegacyUpgrade, AddedRecordIdSkipsNoneAndWrapsWithinFourteenBits) {
  const struct {
    uint16_t largest;
    uint16_t added;
  } cases[] = {{7, 8}, {8190, 8192}, {16383, 1}};
  for (const auto& c : cases) {
    LegacyMacro m;
    m.commands = {{.code = 0x010, .param_id = c.largest}, {.code = 0x0A1}};
    m.records = {{c.largest, AnsiPayload(300, {{0, "x"}})}};
    const std::vector<uint8_t> bytes = BuildLegacyMacro(m);
    macro::UpgradedMacro upgraded;
    ASSERT_EQ(macro::Convert259To512(plat::ByteView(bytes), upgraded, nullptr), macro::UpgradeFault::kNone);
    EXPECT_EQ(upgraded.commands[1].ParamId, c.added) << c.largest;
    const plat::ByteView block = plat::ByteView(upgraded.params).First(upgraded.header.ParamBlockSize);
    EXPECT_EQ(macro::ParamRecordSize(macro::FindParamRecord(c.added, block)), 910u) << c.largest;
  }
}

// A record cut off by the end of the old block has no bytes left to convert: written as a
// record of none, it would end the new block for every reader. Both commands that share
// it keep no parameters, and the record after it in the new block stays reachable.
TEST(LegacyUpgrade, ARecordCutToNothingIsDroppedNotWrittenEmpty) {
  LegacyMacro m;
  m.commands = {{.code = 0x010, .param_id = 2}, {.code = 0x062, .param_id = 1}, {.code = 0x062, .param_id = 1}};
  m.records = {{2, AnsiPayload(300, {{0, "kept"}})}, {1, AnsiPayload(16, {})}};
  std::vector<uint8_t> bytes = BuildLegacyMacro(m);
  // The block's size (header offset 20) now ends right after the second record's head.
  const uint32_t block = plat::ByteView(bytes).U32Or(20, 0);
  ASSERT_GT(block, 16u);
  plat::MutableByteView(bytes).Put32(20, block - 16);
  macro::UpgradedMacro upgraded;
  macro::UpgradeReport report;
  ASSERT_EQ(macro::Convert259To512(plat::ByteView(bytes), upgraded, &report), macro::UpgradeFault::kNone);
  EXPECT_EQ(upgraded.commands[1].ParamId, macro::kNoParamId);
  EXPECT_EQ(upgraded.commands[2].ParamId, macro::kNoParamId);
  EXPECT_EQ(report.references_dropped, 2u);
  const plat::ByteView params = plat::ByteView(upgraded.params).First(upgraded.header.ParamBlockSize);
  EXPECT_FALSE(macro::FindParamRecord(2, params).empty());
  for (uint64_t at = 0; at < params.size(); at += 4 + uint64_t{macro::ParamRecordSize(params.From(at))}) {
    ASSERT_NE(macro::ParamRecordSize(params.From(at)), 0u) << "a record of no bytes at " << at;
  }
}

// Texts widen with the system's ANSI code page: 1252 here, 936 (double-byte) where the
// system has it or the stand-in can be set to it.
TEST_F(LegacyUpgradeTest, TextsWidenWithTheAnsiCodePage) {
  const struct {
    uint32_t code_page;
    const char* name;
    const char16_t* wide;
  } cases[] = {{1252, "caf\xE9 \x80", u"caf\u00E9 \u20AC"}, {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"}};
  const uint32_t system = plat::GetAnsiCodePage();
  int ran = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_page);
    if (!plat::testing::SetAnsiCodePage(c.code_page) && system != c.code_page) continue;
    LegacyMacro m;
    m.name = c.name;
    const std::u16string path = Write(BuildLegacyMacro(m));
    macro::CFile_Macro file;
    const bool opened = file.Open(path) == 1;
    plat::testing::SetAnsiCodePage(system);
    ASSERT_TRUE(opened);
    EXPECT_EQ(plat::FixedText(file.Header().MacroName, 128), c.wide);
    ++ran;
  }
  if (ran == 0) GTEST_SKIP() << "the system's code page is " << system;
}

// The name at 0x56E lies past an upgraded 0x1205 record's 1384 bytes: the discovery finds
// no name there and reads nothing of the record after it.
TEST_F(LegacyUpgradeTest, UpgradedImageSearchIsReadWithinItsRecord) {
  LegacyMacro m;
  m.commands = {{.code = 0x034, .param_id = 1}, {.code = 0x034, .param_id = 2}};
  m.records = {{1, AnsiPayload(900, {{0, "C:\\a.bmp"}})}, {2, AnsiPayload(1400, {{0, std::string(300, 'z')}})}};
  const std::u16string path = Write(BuildLegacyMacro(m));
  macro::CFile_Macro file;
  ASSERT_EQ(file.Open(path), 1);
  ASSERT_EQ(file.ReadCommands(nullptr), 1);
  const plat::ByteView first = macro::ParamRecordPayload(macro::FindParamRecord(1, file.ParamView()));
  ASSERT_EQ(first.size(), 1384u);
  EXPECT_TRUE(analysis::ReadCommandNames(0x1205, first).names.empty());
}

}  // namespace
