#include "pe/resource_edits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pe/pe_resources.h"
#include "pe/resource_builder.h"
#include "pe/version_info.h"
#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/image_files.h"
#include "support/pe_builder.h"
#include "support/scratch.h"

namespace pe {
namespace {

using brankel_test::RawResource;
using brankel_test::Read16;
using brankel_test::Read32;
using brankel_test::ResourceBytes;
using Bytes = std::vector<uint8_t>;
using brankel_test::ReadFileBytes;
using brankel_test::WriteFileBytes;

RawResource Res(uint16_t type, uint16_t id, uint16_t language, Bytes data) {
  RawResource r;
  r.type = type;
  r.id = id;
  r.language = language;
  r.data = std::move(data);
  return r;
}

// An icon group's bytes as a linker writes them: a directory of `ids.size()` images.
Bytes GroupOf(const std::vector<uint16_t>& ids) {
  Bytes group(6 + 14 * ids.size(), 0);
  brankel_test::Write16(group, 2, 1);
  brankel_test::Write16(group, 4, static_cast<uint16_t>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i) {
    group[6 + 14 * i] = 16;
    group[6 + 14 * i + 1] = 16;
    brankel_test::Write16(group, 6 + 14 * i + 12, ids[i]);
  }
  return group;
}

Bytes OldIcon(uint16_t id) { return Bytes(24, static_cast<uint8_t>(0xE0 + id)); }

// The identifiers a group lists, read from its bytes.
std::vector<uint16_t> GroupIds(const Bytes& group) {
  std::vector<uint16_t> ids;
  for (size_t i = 0; i < Read16(group, 4) && 6 + 14 * (i + 1) <= group.size(); ++i)
    ids.push_back(Read16(group, 6 + 14 * i + 12));
  return ids;
}

class ResourceEditTest : public brankel_test::ScratchTest {
 protected:
  // An executable holding `resources` (kept in the order the loader expects) in a
  // resource section followed by relocations, as the linker lays it out.
  std::u16string Exe(std::vector<RawResource> resources, bool pe32plus = false) {
    brankel_test::PeBuilder builder;
    builder.pe32plus = pe32plus;
    builder.section_count = 3;
    builder.rsrc_slot = 1;
    builder.names = {"", "", ".reloc"};
    builder.reloc_slot = 2;
    builder.resources = [resources](uint32_t rva) { return brankel_test::BuildResourceDirectory(resources, rva); };
    const std::u16string exe = Path(u"app.exe");
    EXPECT_TRUE(WriteFileBytes(exe, builder.Build()));
    return exe;
  }
  std::u16string File(const char16_t* name, const Bytes& bytes) {
    const std::u16string path = Path(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  IconData Icon(const std::vector<int>& sizes, uint8_t seed) {
    const std::optional<IconData> icon = ReadIconFile(File(u"icon.ico", brankel_test::MakeIconFile(sizes, seed)));
    EXPECT_TRUE(icon.has_value());
    return icon.value_or(IconData{});
  }
  // The image of icon file `file` at index `i`, as the file stores it.
  static Bytes ImageOf(const Bytes& file, size_t i) {
    const uint32_t size = Read32(file, 6 + 16 * i + 8);
    const uint32_t offset = Read32(file, 6 + 16 * i + 12);
    return Bytes(file.begin() + offset, file.begin() + offset + size);
  }
};

// ---- Startup picture -------------------------------------------------------------------

TEST_F(ResourceEditTest, PictureIsTheBitmapFileWithoutItsFileHeader) {
  const std::u16string exe = Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1))});
  const Bytes bitmap = brankel_test::MakeBitmapFile(33, 20, 24, 7);
  const EditOutcome outcome = ReplaceStartupPicture(exe, File(u"picture.bmp", bitmap));
  ASSERT_TRUE(outcome.Succeeded()) << outcome.key;
  const auto picture = ResourceBytes(ReadFileBytes(exe), res::kTypeBitmap, kStartupPictureId, 0);
  ASSERT_TRUE(picture.has_value());
  ASSERT_EQ(picture->size(), bitmap.size() - 14);
  EXPECT_EQ(Read32(*picture, 0), 40u);  // the info header comes first
  EXPECT_TRUE(std::equal(picture->begin(), picture->end(), bitmap.begin() + 14));
  EXPECT_EQ(ResourceBytes(ReadFileBytes(exe), res::kTypeIcon, 1, 0), OldIcon(1));
}

TEST_F(ResourceEditTest, PictureFailuresNameTheirKeyAndLeaveTheExecutable) {
  const std::u16string exe = Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1))});
  const Bytes before = ReadFileBytes(exe);

  const std::u16string missing = Path(u"missing.bmp");
  EditOutcome outcome = ReplaceStartupPicture(exe, missing);
  EXPECT_STREQ(outcome.key, "IDS_ERR_OPENFILE");
  EXPECT_EQ(outcome.argument, missing);
  EXPECT_EQ(outcome.reason, "") << "the system error says why";

  const std::u16string header_only = File(u"short.bmp", Bytes(14, 'B'));
  outcome = ReplaceStartupPicture(exe, header_only);
  EXPECT_STREQ(outcome.key, "IDS_ERR_READFILE");
  EXPECT_EQ(outcome.argument, header_only);
  EXPECT_EQ(outcome.reason, "the bitmap file holds nothing after its file header");
  EXPECT_EQ(ReadFileBytes(exe), before);

  const std::u16string not_exe = File(u"not.exe", Bytes(100, 'x'));
  outcome = ReplaceStartupPicture(not_exe, File(u"picture.bmp", brankel_test::MakeBitmapFile(4, 4, 24, 1)));
  EXPECT_STREQ(outcome.key, "IDS_ERR_EXEMACRO_DEALPLAYER");
  EXPECT_EQ(outcome.reason, PeRefusalText(PeRefusal::kNoDosSignature));
  EXPECT_EQ(ReadFileBytes(not_exe), Bytes(100, 'x'));
}

// ---- Icon files --------------------------------------------------------------------------

TEST_F(ResourceEditTest, IconFileIsReadWholeIntoAZeroPaddedBlock) {
  const Bytes file = brankel_test::MakeIconFile({16, 32}, 3);
  const std::optional<IconData> icon = ReadIconFile(File(u"a.ico", file));
  ASSERT_TRUE(icon.has_value());
  EXPECT_EQ(icon->length, file.size());
  EXPECT_EQ(icon->block.size() % 8, 0u);
  EXPECT_LT(icon->block.size() - file.size(), 8u);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), icon->block.begin()));
  for (size_t i = file.size(); i < icon->block.size(); ++i) EXPECT_EQ(icon->block[i], 0) << i;
}

TEST_F(ResourceEditTest, IconFilesThatCannotBeReadPastTheirTablesAreRefused) {
  const Bytes good = brankel_test::MakeIconFile({16, 32}, 3);
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    int width;  // 2 or 4 bytes
  };
  const Case cases[] = {
      {"not an icon (cursor type)", 2, 2, 2},
      {"no images", 4, 0, 2},
      {"261 images", 4, 261, 2},
      {"more entries than the file holds", 4, 40, 2},
      {"image beyond the end", 6 + 16 + 12, static_cast<uint32_t>(good.size()), 4},
      {"image size beyond the end", 6 + 8, 0x7FFFFFFF, 4},
      {"empty image", 6 + 16 + 8, 0, 4},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    if (c.width == 2) {
      brankel_test::Write16(bad, c.at, static_cast<uint16_t>(c.value));
    } else {
      brankel_test::Write32(bad, c.at, c.value);
    }
    EXPECT_FALSE(ReadIconFile(File(u"bad.ico", bad)).has_value()) << c.what;
    EXPECT_FALSE(IconImages(bad.data(), bad.size()).has_value()) << c.what;
  }
  EXPECT_FALSE(ReadIconFile(File(u"empty.ico", {})).has_value());
  EXPECT_FALSE(ReadIconFile(Path(u"none.ico")).has_value());
  EXPECT_EQ(plat::GetLastError(), plat::err::kFileNotFound);
}

// ---- Icon groups ----------------------------------------------------------------------------

TEST_F(ResourceEditTest, ThreeIconsReplacedByTwoReuseTheFirstTwoIdentifiers) {
  // Identifiers deliberately out of order, in the linker's default language.
  const std::u16string exe =
      Exe({Res(res::kTypeIcon, 4, 0x409, OldIcon(4)), Res(res::kTypeIcon, 7, 0x409, OldIcon(7)),
           Res(res::kTypeIcon, 9, 0x409, OldIcon(9)), Res(res::kTypeIcon, 12, 0x409, OldIcon(12)),
           Res(res::kTypeGroupIcon, 101, 0x409, GroupOf({7, 4, 9}))});
  const Bytes file = brankel_test::MakeIconFile({16, 48}, 5);
  ASSERT_TRUE(ReplaceIconGroup(exe, 101, Icon({16, 48}, 5)));
  const Bytes written = ReadFileBytes(exe);

  const auto group = ResourceBytes(written, res::kTypeGroupIcon, 101, 0);
  ASSERT_TRUE(group.has_value());
  ASSERT_EQ(group->size(), 6u + 2 * 14);
  EXPECT_EQ(GroupIds(*group), (std::vector<uint16_t>{7, 4}));
  EXPECT_TRUE(std::equal(group->begin(), group->begin() + 6, file.begin()));
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(std::equal(group->begin() + 6 + 14 * i, group->begin() + 6 + 14 * i + 12, file.begin() + 6 + 16 * i))
        << i;
  }
  EXPECT_EQ(ResourceBytes(written, res::kTypeIcon, 7, 0), ImageOf(file, 0));
  EXPECT_EQ(ResourceBytes(written, res::kTypeIcon, 4, 0), ImageOf(file, 1));
  // The third old image is gone in every language; the icon of no group stays.
  const auto all = brankel_test::ListResources(written);
  ASSERT_TRUE(all.has_value());
  for (const RawResource& r : *all) EXPECT_FALSE(r.type == res::kTypeIcon && r.id == 9) << "language " << r.language;
  EXPECT_FALSE(ResourceBytes(written, res::kTypeGroupIcon, 101, 0x409).has_value());
  EXPECT_EQ(ResourceBytes(written, res::kTypeIcon, 12, 0x409), OldIcon(12));
}

TEST_F(ResourceEditTest, OneIconReplacedByFourTakesTheLowestFreeIdentifiersAbove) {
  const std::u16string exe =
      Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1)), Res(res::kTypeIcon, 2, 0, OldIcon(2)),
           Res(res::kTypeIcon, 3, 0, OldIcon(3)), Res(res::kTypeIcon, 5, 0, OldIcon(5)),
           Res(res::kTypeGroupIcon, 101, 0, GroupOf({1})), Res(res::kTypeGroupIcon, 107, 0, GroupOf({2, 3, 5}))});
  ASSERT_TRUE(ReplaceIconGroup(exe, 101, Icon({16, 24, 32, 48}, 9)));
  const Bytes written = ReadFileBytes(exe);
  EXPECT_EQ(GroupIds(*ResourceBytes(written, res::kTypeGroupIcon, 101, 0)), (std::vector<uint16_t>{1, 4, 6, 7}));
  // The other group's icons are untouched.
  for (uint16_t id : {2, 3, 5}) EXPECT_EQ(ResourceBytes(written, res::kTypeIcon, id, 0), OldIcon(id)) << id;
}

TEST_F(ResourceEditTest, MissingGroupIsCreatedWithFreeIdentifiersFromOne) {
  for (bool wide : {false, true}) {
    const std::u16string exe =
        Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1)), Res(res::kTypeIcon, 2, 0, OldIcon(2)),
             Res(res::kTypeIcon, 4, 0, OldIcon(4)), Res(res::kTypeGroupIcon, 101, 0, GroupOf({1, 2, 4}))},
            wide);
    ASSERT_TRUE(ReplaceIconGroup(exe, 107, Icon({16, 32, 48}, 2)));
    const Bytes written = ReadFileBytes(exe);
    EXPECT_EQ(GroupIds(*ResourceBytes(written, res::kTypeGroupIcon, 107, 0)), (std::vector<uint16_t>{3, 5, 6}));
    EXPECT_EQ(GroupIds(*ResourceBytes(written, res::kTypeGroupIcon, 101, 0)), (std::vector<uint16_t>{1, 2, 4}));
  }
}

TEST_F(ResourceEditTest, UnusableIconInputLeavesTheExecutableByteForByte) {
  Bytes big_group = GroupOf(std::vector<uint16_t>(261, 1));
  const std::u16string exe = Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1)), Res(res::kTypeGroupIcon, 101, 0, big_group),
                                  Res(res::kTypeGroupIcon, 102, 0, Bytes(4, 0))});
  const Bytes before = ReadFileBytes(exe);
  const IconData good = Icon({16}, 1);
  IconData truncated = good;
  truncated.length = 20;
  const std::string damaged_group = "the executable's icon group is damaged or has too many images";
  const std::string not_icon = "the icon data is not an icon directory whose images lie inside it";
  const struct {
    const char* name;
    uint16_t group;
    const IconData& icon;
    std::string reason;
  } cases[] = {{"an old group of 261 images", 101, good, damaged_group},
               {"an old group shorter than its directory", 102, good, damaged_group},
               {"no icon data", 103, IconData{}, not_icon},
               {"images beyond the data", 103, truncated, not_icon}};
  for (const auto& c : cases) {
    std::string reason;
    EXPECT_FALSE(ReplaceIconGroup(exe, c.group, c.icon, &reason)) << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
  }
  EXPECT_EQ(ReadFileBytes(exe), before);
}

TEST_F(ResourceEditTest, GroupNamingOneIdentifierTwiceGetsDistinctIdentifiers) {
  const std::u16string exe =
      Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1)), Res(res::kTypeGroupIcon, 101, 0, GroupOf({1, 1}))});
  ASSERT_TRUE(ReplaceIconGroup(exe, 101, Icon({16, 32}, 4)));
  EXPECT_EQ(GroupIds(*ResourceBytes(ReadFileBytes(exe), res::kTypeGroupIcon, 101, 0)), (std::vector<uint16_t>{1, 2}));
}

// ---- Version texts ------------------------------------------------------------------------

brankel_test::VersionBlockContents FullVersion() {
  brankel_test::VersionBlockContents contents;
  contents.strings = {
      {u"Comments", u"comment"},      {u"CompanyName", u"Company"},         {u"FileDescription", u"Player"},
      {u"FileVersion", u"1.2.3.4"},   {u"InternalName", u"runner"},         {u"LegalCopyright", u"(c) someone"},
      {u"LegalTrademarks", u"marks"}, {u"OriginalFilename", u"runner.exe"}, {u"ProductName", u"Product"},
      {u"ProductVersion", u"1.2"},    {u"PrivateBuild", u"private"},        {u"SpecialBuild", u"special"}};
  return contents;
}

TEST_F(ResourceEditTest, BlankingEmptiesTheListedTextsAndKeepsFileVersionAndLayout) {
  const Bytes block = brankel_test::MakeVersionBlock(FullVersion());
  const std::u16string exe = Exe({Res(res::kTypeVersion, 1, 0x409, block)});
  ASSERT_TRUE(BlankVersionStrings(exe));
  const Bytes written = ReadFileBytes(exe);
  EXPECT_FALSE(ResourceBytes(written, res::kTypeVersion, 1, 0x409).has_value());
  const auto blanked = ResourceBytes(written, res::kTypeVersion, 1, 0);
  ASSERT_TRUE(blanked.has_value());
  ASSERT_EQ(blanked->size(), block.size());
  // The fixed information (after the 40-byte root head) is untouched.
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 40 + 52, blanked->begin()));
  for (const auto& [key, value] : FullVersion().strings) {
    const auto text = brankel_test::VersionText(*blanked, key);
    ASSERT_TRUE(text.has_value()) << brankel_test::Narrow(key);
    if (key == u"FileVersion") {
      EXPECT_EQ(*text, value + u'\0');
    } else {
      EXPECT_EQ(*text, std::u16string(value.size() + 1, u'\0')) << brankel_test::Narrow(key);
    }
  }
}

TEST_F(ResourceEditTest, VersionWithoutTranslationOrWithoutBlockIsLeftAlone) {
  brankel_test::VersionBlockContents contents = FullVersion();
  contents.with_translation = false;
  std::u16string exe = Exe({Res(res::kTypeVersion, 1, 0, brankel_test::MakeVersionBlock(contents))});
  Bytes before = ReadFileBytes(exe);
  std::string reason;
  EXPECT_FALSE(BlankVersionStrings(exe, &reason));
  EXPECT_EQ(reason, "the version resource has no translation to find its texts by");
  EXPECT_EQ(ReadFileBytes(exe), before);

  exe = Exe({Res(res::kTypeIcon, 1, 0, OldIcon(1))});
  before = ReadFileBytes(exe);
  EXPECT_FALSE(BlankVersionStrings(exe, &reason));
  EXPECT_EQ(reason, "the executable has no version resource");
  EXPECT_EQ(ReadFileBytes(exe), before);
  EXPECT_FALSE(BlankVersionStrings(Path(u"missing.exe"), &reason));
  EXPECT_EQ(reason, "") << "the system error says why";
}

TEST_F(ResourceEditTest, TranslationChoosesTheStringTable) {
  // The table is found by the translation's language and code page, in any letter case.
  brankel_test::VersionBlockContents contents = FullVersion();
  contents.language = 0x0407;
  contents.code_page = 0x04E4;
  contents.table_key = u"040704E4";
  const std::u16string exe = Exe({Res(res::kTypeVersion, 1, 0, brankel_test::MakeVersionBlock(contents))});
  ASSERT_TRUE(BlankVersionStrings(exe));
  const auto blanked = ResourceBytes(ReadFileBytes(exe), res::kTypeVersion, 1, 0);
  ASSERT_TRUE(blanked.has_value());
  EXPECT_EQ(brankel_test::VersionText(*blanked, u"ProductName"), std::u16string(8, u'\0'));
}

TEST(VersionQuery, FindsValuesByPathAndRefusesDamagedBlocks) {
  const Bytes block = brankel_test::MakeVersionBlock(FullVersion());
  const auto root = QueryVersionValue(block.data(), block.size(), u"\\");
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(root->size, 52u);
  EXPECT_EQ(Read32(block, root->offset), 0xFEEF04BDu);
  const auto product = QueryVersionValue(block.data(), block.size(), u"\\stringfileinfo\\040904b0\\productname");
  ASSERT_TRUE(product.has_value());
  EXPECT_TRUE(product->text);
  EXPECT_EQ(product->size, 2u * 8);
  const auto translation = QueryVersionValue(block.data(), block.size(), u"\\VarFileInfo\\Translation");
  ASSERT_TRUE(translation.has_value());
  EXPECT_EQ(Read16(block, translation->offset), 0x409);
  EXPECT_FALSE(QueryVersionValue(block.data(), block.size(), u"\\StringFileInfo\\040904b0\\Missing"));
  // A block claiming more than there is, or cut inside a key, reads as nothing.
  Bytes damaged = block;
  brankel_test::Write16(damaged, 0, static_cast<uint16_t>(block.size() + 2));
  EXPECT_FALSE(QueryVersionValue(damaged.data(), damaged.size(), u"\\"));
  EXPECT_FALSE(QueryVersionValue(block.data(), 20, u"\\"));
  EXPECT_FALSE(QueryVersionValue(nullptr, 0, u"\\"));
}

// The fixed numbers are read only from a whole fixed-information value that carries the
// signature; a damaged one gives nothing rather than numbers from beside it.
TEST(VersionQuery, FixedVersionNumbersAndDamage) {
  const Bytes whole = brankel_test::MakeVersionBlock(FullVersion());
  const size_t fixed_at = QueryVersionValue(whole.data(), whole.size(), u"\\")->offset;
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    bool read;
  };
  const Case cases[] = {
      {"whole", [](Bytes&) {}, true},
      {"wrong signature", [&](Bytes& b) { brankel_test::Write32(b, fixed_at, 0xFEEF04BC); }, false},
      {"value shorter than the numbers", [](Bytes& b) { brankel_test::Write16(b, 2, 20); }, false},
      {"value as text", [](Bytes& b) { brankel_test::Write16(b, 4, 1); }, false},
      {"cut inside the numbers",
       [&](Bytes& b) {
         b.resize(fixed_at + 20);
         brankel_test::Write16(b, 0, static_cast<uint16_t>(b.size()));
       },
       false},
      {"empty", [](Bytes& b) { b.clear(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes block = whole;
    brankel_test::Write32(block, fixed_at + 16, 0x00050006);  // product 5.6.7.8, unlike the file's 1.2.3.4
    brankel_test::Write32(block, fixed_at + 20, 0x00070008);
    c.damage(block);
    const std::optional<FixedVersion> fixed = ReadFixedVersion(plat::ByteView(block));
    ASSERT_EQ(fixed.has_value(), c.read);
    if (!fixed) continue;
    EXPECT_EQ(DottedVersion(fixed->file_ms, fixed->file_ls), "1.2.3.4");
    EXPECT_EQ(DottedVersion(fixed->product_ms, fixed->product_ls), "5.6.7.8");
  }
  EXPECT_EQ(DottedVersion(0xFFFF0000u, 0x0001FFFFu), "65535.0.1.65535");
}

TEST_F(ResourceEditTest, ImageVersionIsFoundFromTheNeutralLanguage) {
  struct Case {
    std::vector<RawResource> resources;
    const char* version;
  };
  brankel_test::VersionBlockContents other = FullVersion();
  other.file_version[3] = 9;
  const Case cases[] = {
      {{Res(res::kTypeVersion, 1, 0x409, brankel_test::MakeVersionBlock(FullVersion()))}, "1.2.3.4"},
      {{Res(res::kTypeVersion, 1, 0, brankel_test::MakeVersionBlock(other)),
        Res(res::kTypeVersion, 1, 0x409, brankel_test::MakeVersionBlock(FullVersion()))},
       "1.2.3.9"},
      {{Res(res::kTypeVersion, 2, 0, brankel_test::MakeVersionBlock(FullVersion()))}, nullptr},
      {{Res(res::kTypeIcon, 1, 0, OldIcon(1))}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version ? c.version : "none");
    CPE_ImageEditor image;
    ASSERT_TRUE(image.Load(Exe(c.resources)));
    const std::optional<FixedVersion> fixed = ImageFixedVersion(image);
    ASSERT_EQ(fixed.has_value(), c.version != nullptr);
    if (!fixed) continue;
    EXPECT_EQ(DottedVersion(fixed->file_ms, fixed->file_ls), c.version);
  }
}

// ---- Real programs -----------------------------------------------------------------------

class FixtureEditTest : public ResourceEditTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FixtureEditTest, AllThreeEditsLandInARealProgram) {
  if (!brankel_test::FixturesAvailable()) GTEST_SKIP() << brankel_test::kNoFixtures;
  const std::u16string exe = Path(u"program.exe");
  ASSERT_TRUE(plat::CopyFile(brankel_test::FixturePath(GetParam()), exe, false));
  const Bytes bitmap = brankel_test::MakeBitmapFile(20, 10, 8, 0x44);
  ASSERT_TRUE(ReplaceStartupPicture(exe, File(u"p.bmp", bitmap)).Succeeded());
  const Bytes icon_file = brankel_test::MakeIconFile({16, 20}, 0x45);
  const std::optional<IconData> icon = ReadIconFile(File(u"i.ico", icon_file));
  ASSERT_TRUE(icon.has_value());
  ASSERT_TRUE(ReplaceIconGroup(exe, brankel_test::kFixtureIconGroup, *icon));
  ASSERT_TRUE(BlankVersionStrings(exe));

  const Bytes written = ReadFileBytes(exe);
  const auto picture = ResourceBytes(written, res::kTypeBitmap, kStartupPictureId, 0);
  ASSERT_TRUE(picture.has_value());
  EXPECT_TRUE(std::equal(picture->begin(), picture->end(), bitmap.begin() + 14));
  const auto group = ResourceBytes(written, res::kTypeGroupIcon, brankel_test::kFixtureIconGroup, 0);
  ASSERT_TRUE(group.has_value());
  EXPECT_EQ(Read16(*group, 4), 2);
  for (size_t i = 0; i < 2; ++i)
    EXPECT_EQ(ResourceBytes(written, res::kTypeIcon, GroupIds(*group)[i], 0), ImageOf(icon_file, i));
  const auto version = ResourceBytes(written, res::kTypeVersion, 1, 0);
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(brankel_test::VersionText(*version, u"FileVersion").value_or(u"").substr(0, 7), u"1.2.3.4");
  EXPECT_EQ(brankel_test::VersionText(*version, u"CompanyName").value_or(u"x").find_first_not_of(u'\0'),
            std::u16string::npos);
  // Still a valid image with a correct checksum.
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(written.data(), written.size()));
  const size_t checksum_at = brankel_test::LayoutOf(written).nt + 0x58;
  EXPECT_EQ(Read32(written, checksum_at), PeChecksum(written.data(), written.size(), checksum_at));
}

INSTANTIATE_TEST_SUITE_P(Both, FixtureEditTest, ::testing::Values("fixture32.exe", "fixture64.exe"),
                         [](const auto& info) { return std::string(info.param).substr(0, 9); });

}  // namespace
}  // namespace pe
