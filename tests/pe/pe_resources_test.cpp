#include "pe/pe_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource_builder.h"
#include "platform/platform.h"
#include "support/pe_builder.h"
#include "support/scratch.h"

namespace pe {
namespace {

using brankel_test::BuildResourceDirectory;
using brankel_test::ListResources;
using brankel_test::PeBuilder;
using brankel_test::RawResource;
using brankel_test::Read32;
using brankel_test::ResourceBytes;
using Bytes = std::vector<uint8_t>;
using brankel_test::ReadFileBytes;
using brankel_test::WriteFileBytes;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

RawResource Res(uint16_t type, uint16_t id, uint16_t language, Bytes data) {
  RawResource r;
  r.type = type;
  r.id = id;
  r.language = language;
  r.data = std::move(data);
  return r;
}

// The resources every image below starts with: a named type, named and numbered
// resources, and one resource in two languages.
std::vector<RawResource> SampleResources() {
  RawResource named_type = Res(0, 0, 0, Pattern(5, 0x10));
  named_type.type_name = u"CONFIG";
  named_type.name = u"MAIN";
  std::vector<RawResource> list = {named_type,
                                   Res(res::kTypeBitmap, 352, 0x409, Pattern(300, 0x20)),
                                   Res(res::kTypeIcon, 1, 0x409, Pattern(40, 0x30)),
                                   Res(res::kTypeIcon, 2, 0x409, Pattern(41, 0x40)),
                                   Res(res::kTypeGroupIcon, 101, 0, Pattern(20, 0x50)),
                                   Res(res::kTypeGroupIcon, 101, 0x407, Pattern(20, 0x60))};
  return list;
}

// A 32- or 64-bit image with the sample resources in slot `rsrc_slot` of `count`
// sections, named as given after it.
PeBuilder ImageWithResources(bool pe32plus, int count, int rsrc_slot,
                             std::vector<RawResource> resources = SampleResources()) {
  PeBuilder builder;
  builder.pe32plus = pe32plus;
  builder.section_count = count;
  builder.rsrc_slot = rsrc_slot;
  builder.resources = [resources](uint32_t rva) { return BuildResourceDirectory(resources, rva); };
  return builder;
}

bool SameResource(const RawResource& a, const ResourceItem& b) {
  return a.type_name == b.type.name && (a.type_name.empty() ? a.type == b.type.id : true) && a.name == b.name.name &&
         (a.name.empty() ? a.id == b.name.id : true) && a.language == b.language && a.data == b.data;
}

class ResourceTableTest : public brankel_test::ScratchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ResourceTableTest, ReadsEveryResourceOfAnIndependentlyWrittenDirectory) {
  const Bytes image = ImageWithResources(GetParam(), 3, 1).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  ASSERT_TRUE(table.Read(editor));
  const std::vector<RawResource> expected = SampleResources();
  ASSERT_EQ(table.Items().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(SameResource(expected[i], table.Items()[i])) << "resource " << i;
  }
}

TEST_P(ResourceTableTest, SerializedTableReadsBackTheSameResourcesAtItsAddress) {
  const Bytes image = ImageWithResources(GetParam(), 3, 1).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  ASSERT_TRUE(table.Read(editor));
  ASSERT_TRUE(RebuildResourceSection(editor, table));
  // Read back through the editor's view of the replaced section and independently.
  ResourceTable again;
  ASSERT_TRUE(again.Read(editor));
  ASSERT_EQ(again.Items().size(), table.Items().size());
  const std::u16string out = Path(u"out.exe");
  ASSERT_TRUE(editor.Write(out));
  const Bytes written = ReadFileBytes(out);
  const auto listed = ListResources(written);
  ASSERT_TRUE(listed.has_value());
  ASSERT_EQ(listed->size(), table.Items().size());
  for (const RawResource& r : *listed) {
    bool found = false;
    for (const ResourceItem& item : table.Items()) found = found || SameResource(r, item);
    EXPECT_TRUE(found) << "type " << r.type << " id " << r.id << " language " << r.language;
  }
}

INSTANTIATE_TEST_SUITE_P(Both, ResourceTableTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pe32Plus" : "Pe32"; });

TEST(ResourceTableOrder, NamedEntriesComeFirstAndIdentifiersAscend) {
  ResourceTable table;
  const uint8_t b = 1;
  ASSERT_TRUE(table.Update(16, 1, 0, &b, 1));
  ASSERT_TRUE(table.Update(3, 9, 0, &b, 1));
  // Neutral first: a neutral write would replace a resource that exists only in 0x409.
  ASSERT_TRUE(table.Update(3, 2, 0, &b, 1));
  ASSERT_TRUE(table.Update(3, 2, 0x409, &b, 1));
  const Bytes section = table.Serialize(0x5000);
  // Root: 0 named, 2 identified: types 3 then 16.
  EXPECT_EQ(brankel_test::Read16(section, 12), 0);
  ASSERT_EQ(brankel_test::Read16(section, 14), 2);
  EXPECT_EQ(Read32(section, 16), 3u);
  EXPECT_EQ(Read32(section, 24), 16u);
  // Type 3's names: 2 then 9; name 2's languages: 0 then 0x409.
  const uint32_t type3 = Read32(section, 20) & 0x7FFFFFFF;
  EXPECT_EQ(Read32(section, type3 + 16), 2u);
  EXPECT_EQ(Read32(section, type3 + 24), 9u);
  const uint32_t name2 = Read32(section, type3 + 20) & 0x7FFFFFFF;
  EXPECT_EQ(Read32(section, name2 + 16), 0u);
  EXPECT_EQ(Read32(section, name2 + 24), 0x409u);
  // A data entry holds the data's address in the section at 0x5000, 8-byte aligned.
  const uint32_t entry = Read32(section, name2 + 20);
  const uint32_t data_rva = Read32(section, entry);
  EXPECT_EQ(data_rva % 8, 0u);
  EXPECT_GE(data_rva, 0x5000u);
  EXPECT_EQ(Read32(section, entry + 4), 1u);
}

TEST(ResourceTableUpdate, NeutralWritesAndDeletesReachResourcesThatExistOnlyInOtherLanguages) {
  const Bytes image = ImageWithResources(false, 3, 1).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  ASSERT_TRUE(table.Read(editor));

  // Icon 1 exists only in 0x409: a neutral request finds it, a neutral delete removes it.
  ASSERT_NE(table.Find(res::kTypeIcon, 1, 0), nullptr);
  EXPECT_EQ(table.Find(res::kTypeIcon, 1, 0)->language, 0x409);
  EXPECT_EQ(table.Find(res::kTypeIcon, 1, 0x407), nullptr);
  ASSERT_TRUE(table.Update(res::kTypeIcon, 1, 0, nullptr, 0));
  EXPECT_EQ(table.Find(res::kTypeIcon, 1, 0), nullptr);

  // Bitmap 352 exists only in 0x409: a neutral write replaces it.
  const Bytes picture = Pattern(64, 0x77);
  ASSERT_TRUE(table.Update(res::kTypeBitmap, 352, 0, picture.data(), picture.size()));
  int count = 0;
  for (const ResourceItem& item : table.Items()) count += item.type.IsId(res::kTypeBitmap) && item.name.IsId(352);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(table.Find(res::kTypeBitmap, 352, 0)->language, 0);
  EXPECT_EQ(table.Find(res::kTypeBitmap, 352, 0)->data, picture);

  // Group 101 exists in 0 and 0x407: the neutral write touches only the neutral one.
  ASSERT_TRUE(table.Update(res::kTypeGroupIcon, 101, 0, picture.data(), 6));
  EXPECT_EQ(table.Find(res::kTypeGroupIcon, 101, 0)->data.size(), 6u);
  ASSERT_NE(table.Find(res::kTypeGroupIcon, 101, 0x407), nullptr);
  EXPECT_EQ(table.Find(res::kTypeGroupIcon, 101, 0x407)->data, Pattern(20, 0x60));

  // Deleting what is not there changes nothing.
  const size_t before = table.Items().size();
  ASSERT_TRUE(table.Update(res::kTypeIcon, 77, 0, nullptr, 0));
  EXPECT_EQ(table.Items().size(), before);
}

// ---- Damaged directories --------------------------------------------------------------

class DamagedDirectory : public ::testing::Test {
 protected:
  // An image whose resource section holds `section` as is, at 0x2000.
  static Bytes ImageHolding(Bytes section) {
    PeBuilder builder;
    builder.section_count = 3;
    builder.rsrc_slot = 1;
    builder.resources = [section](uint32_t rva) {
      EXPECT_EQ(rva, 0x2000u);
      return section;
    };
    return builder.Build();
  }
  static bool Reads(const Bytes& section) { return Refusal(section) == ResourceRefusal::kNone; }
  // Why the directory was refused; kNone when it read.
  static ResourceRefusal Refusal(const Bytes& section) {
    const Bytes image = ImageHolding(section);
    CPE_ImageEditor editor;
    EXPECT_TRUE(editor.Parse(image.data(), image.size()));
    ResourceTable table;
    const bool ok = table.Read(editor);
    EXPECT_EQ(ok, table.Refusal() == ResourceRefusal::kNone);
    if (!ok) {
      EXPECT_TRUE(table.Empty());
      EXPECT_FALSE(table.RefusalText().empty());
    }
    return table.Refusal();
  }
  // A valid one-resource directory (type 3, id 1, language 0, 4 bytes of data).
  static Bytes OneResource() { return BuildResourceDirectory({Res(3, 1, 0, Pattern(4, 1))}, 0x2000); }
};

TEST_F(DamagedDirectory, ValidOneResourceDirectoryReads) { EXPECT_TRUE(Reads(OneResource())); }

TEST_F(DamagedDirectory, TableThatNamesItselfIsRefused) {
  Bytes section = OneResource();
  brankel_test::Write32(section, 20, 0x80000000u);  // the type's table is the root again
  EXPECT_EQ(Refusal(section), ResourceRefusal::kWrongEntryKind);
}

TEST_F(DamagedDirectory, EntriesThatAllNameOneTableStopTheWalk) {
  // 60000 types each pointing at one table of 60000 names: without a limit the walk
  // would visit 3.6e9 entries.
  Bytes section(16 + 8 * 60000 + 16 + 8 * 60000 + 16 + 8 + 16 + 8, 0);
  const uint32_t names = 16 + 8 * 60000;
  const uint32_t languages = names + 16 + 8 * 60000;
  const uint32_t entry = languages + 16 + 8;
  brankel_test::Write16(section, 14, 60000);
  brankel_test::Write16(section, names + 14, 60000);
  for (uint32_t i = 0; i < 60000; ++i) {
    brankel_test::Write32(section, 16 + 8 * i, i + 1);
    brankel_test::Write32(section, 20 + 8 * i, 0x80000000u | names);
    brankel_test::Write32(section, names + 16 + 8 * i, i + 1);
    brankel_test::Write32(section, names + 20 + 8 * i, 0x80000000u | languages);
  }
  brankel_test::Write16(section, languages + 14, 1);
  brankel_test::Write32(section, languages + 20, entry);
  brankel_test::Write32(section, entry, 0x2000);
  brankel_test::Write32(section, entry + 4, 0);
  EXPECT_EQ(Refusal(section), ResourceRefusal::kTooMany);
}

TEST_F(DamagedDirectory, OffsetsAndSizesOutsideTheirPlaceAreRefused) {
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    ResourceRefusal why;
  };
  // Offsets within OneResource(): root entry at 16, type table at 24 (entry 40), name
  // table at 48 (entry 64), data entry at 72.
  const Case cases[] = {
      {"type table beyond the section", 20, 0x80000000u | 0x7FFFFFF0u, ResourceRefusal::kTableOutside},
      {"entry count beyond the section", 14, 0xFFFF, ResourceRefusal::kTableOutside},
      {"language level holding a table", 68, 0x80000000u | 24, ResourceRefusal::kWrongEntryKind},
      {"type level holding data", 20, 72, ResourceRefusal::kWrongEntryKind},
      {"data address outside every section", 72, 0x00900000, ResourceRefusal::kDataOutside},
      {"data size past its section", 76, 0x10000, ResourceRefusal::kDataOutside},
      {"named type text beyond the section", 16, 0x80000000u | 0x00F00000, ResourceRefusal::kNameOutside},
      {"language identifier wider than 16 bits", 64, 0x10409, ResourceRefusal::kBadIdentifier},
  };
  for (const Case& c : cases) {
    Bytes section = OneResource();
    ASSERT_EQ(Read32(section, 20), 0x80000000u | 24) << "layout of the sample moved";
    brankel_test::Write32(section, c.at, c.value);
    EXPECT_EQ(Refusal(section), c.why) << c.what;
  }
}

TEST_F(DamagedDirectory, DirectoryOutsideEverySectionIsRefused) {
  Bytes image = ImageHolding(OneResource());
  const brankel_test::PeLayout layout = brankel_test::LayoutOf(image);
  brankel_test::Write32(image, layout.directories + 16, 0x00800000);
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  EXPECT_FALSE(table.Read(editor));
  EXPECT_EQ(table.Refusal(), ResourceRefusal::kRootOutside);
}

// ---- Placing the rebuilt section ------------------------------------------------------

class ResourcePlacement : public brankel_test::ScratchTest {
 protected:
  // Rebuilds the section with `extra` bytes of new bitmap data and writes the image.
  bool Rebuild(const Bytes& image, size_t extra, Bytes* written) {
    CPE_ImageEditor editor;
    EXPECT_TRUE(editor.Parse(image.data(), image.size()));
    ResourceTable table;
    EXPECT_TRUE(table.Read(editor));
    const Bytes picture = Pattern(extra, 0x99);
    EXPECT_TRUE(table.Update(res::kTypeBitmap, 900, 0, picture.data(), picture.size()));
    if (!RebuildResourceSection(editor, table)) return false;
    const std::u16string out = Path(u"placed.exe");
    EXPECT_TRUE(editor.Write(out));
    *written = ReadFileBytes(out);
    return true;
  }

  static uint32_t SectionField(const Bytes& image, int slot, size_t field) {
    const brankel_test::PeLayout layout = brankel_test::LayoutOf(image);
    return Read32(image, layout.section_table + size_t(slot) * 40 + field);
  }
  static std::string SectionName(const Bytes& image, int slot) {
    const brankel_test::PeLayout layout = brankel_test::LayoutOf(image);
    const char* name = reinterpret_cast<const char*>(image.data() + layout.section_table + size_t(slot) * 40);
    return std::string(name, strnlen(name, 8));
  }
};

TEST_F(ResourcePlacement, SmallerDirectoryStaysInPlaceWithEverySectionWhereItWas) {
  PeBuilder builder = ImageWithResources(false, 4, 1);
  const Bytes image = builder.Build();
  Bytes written;
  ASSERT_TRUE(Rebuild(image, 8, &written));
  for (int slot = 0; slot < 4; ++slot) {
    EXPECT_EQ(SectionField(written, slot, 12), SectionField(image, slot, 12)) << "address of " << slot;
    EXPECT_EQ(SectionField(written, slot, 20), SectionField(image, slot, 20)) << "file offset of " << slot;
  }
  // The sections after it kept their bytes.
  for (int slot : {2, 3}) {
    const uint32_t at = SectionField(written, slot, 20);
    EXPECT_EQ(written[at], brankel_test::SectionFill(slot));
  }
  EXPECT_EQ(ResourceBytes(written, res::kTypeBitmap, 900, 0), Pattern(8, 0x99));
}

TEST_F(ResourcePlacement, LastSectionGrows) {
  for (bool wide : {false, true}) {
    const Bytes image = ImageWithResources(wide, 3, 2).Build();
    Bytes written;
    ASSERT_TRUE(Rebuild(image, 0x3000, &written));
    EXPECT_EQ(SectionField(written, 2, 12), SectionField(image, 2, 12));
    EXPECT_GE(SectionField(written, 2, 16), 0x3000u);
    EXPECT_EQ(ResourceBytes(written, res::kTypeBitmap, 900, 0), Pattern(0x3000, 0x99));
    // The image size covers the grown section.
    const brankel_test::PeLayout layout = brankel_test::LayoutOf(written);
    EXPECT_GE(Read32(written, layout.nt + 0x50), SectionField(written, 2, 12) + 0x3000);
  }
}

TEST_F(ResourcePlacement, RelocationsAndPayloadAfterItMoveWithTheirDirectoryEntry) {
  PeBuilder builder = ImageWithResources(true, 4, 1);
  builder.names = {"", "", ".reloc", ".mdata"};
  builder.reloc_slot = 2;
  const Bytes image = builder.Build();
  const uint32_t reloc_before = SectionField(image, 2, 12);
  Bytes written;
  ASSERT_TRUE(Rebuild(image, 0x2400, &written));
  const uint32_t reloc_after = SectionField(written, 2, 12);
  EXPECT_GT(reloc_after, reloc_before);
  EXPECT_EQ(reloc_after % 0x1000, 0u);
  // Sections stay adjacent in memory and in order in the file.
  for (int slot = 1; slot < 4; ++slot) {
    const uint32_t end_of_previous = SectionField(written, slot - 1, 12) + SectionField(written, slot - 1, 8);
    EXPECT_EQ(SectionField(written, slot, 12), (end_of_previous + 0xFFF) & ~0xFFFu) << SectionName(written, slot);
    EXPECT_GE(SectionField(written, slot, 20),
              SectionField(written, slot - 1, 20) + SectionField(written, slot - 1, 16));
  }
  const brankel_test::PeLayout layout = brankel_test::LayoutOf(written);
  EXPECT_EQ(Read32(written, layout.directories + 5 * 8), reloc_after);
  EXPECT_EQ(written[SectionField(written, 2, 20)], brankel_test::SectionFill(2));
  EXPECT_EQ(written[SectionField(written, 3, 20)], brankel_test::SectionFill(3));
  EXPECT_EQ(ResourceBytes(written, res::kTypeBitmap, 900, 0), Pattern(0x2400, 0x99));
}

TEST_F(ResourcePlacement, SectionsThatCodeMayAddressAreNeverMoved) {
  PeBuilder builder = ImageWithResources(false, 4, 1);
  builder.names = {"", "", ".reloc", ".data"};
  const Bytes image = builder.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  ASSERT_TRUE(table.Read(editor));
  const Bytes big = Pattern(0x2400, 1);
  ASSERT_TRUE(table.Update(res::kTypeBitmap, 900, 0, big.data(), big.size()));
  EXPECT_FALSE(RebuildResourceSection(editor, table));
  // Refused with the editor's image untouched: it writes out exactly as loaded would.
  ResourceTable unchanged;
  ASSERT_TRUE(unchanged.Read(editor));
  EXPECT_EQ(unchanged.Items().size(), SampleResources().size());
  for (int slot = 0; slot < 4; ++slot) EXPECT_EQ(editor.SlotState(slot), CPE_ImageEditor::kSlotLoaded);
}

TEST_F(ResourcePlacement, ImageWithoutResourcesGetsANewSection) {
  PeBuilder builder;
  builder.section_count = 2;
  const Bytes image = builder.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  ASSERT_TRUE(table.Read(editor));
  EXPECT_TRUE(table.Empty());
  const Bytes picture = Pattern(100, 3);
  ASSERT_TRUE(table.Update(res::kTypeBitmap, 352, 0, picture.data(), picture.size()));
  ASSERT_TRUE(RebuildResourceSection(editor, table));
  ASSERT_TRUE(editor.Write(Path(u"new.exe")));
  const Bytes written = ReadFileBytes(Path(u"new.exe"));
  EXPECT_EQ(brankel_test::Read16(written, brankel_test::LayoutOf(written).nt + 6), 3);
  EXPECT_EQ(SectionName(written, 2), ".rsrc");
  EXPECT_EQ(ResourceBytes(written, res::kTypeBitmap, 352, 0), picture);
}

TEST_F(ResourcePlacement, SectionsReachingOverTheNewPlaceAreRefused) {
  // A damaged table: the first section claims memory past the last one. A new resource
  // section goes after it, where nothing else is found instead of it.
  PeBuilder builder;
  builder.section_count = 2;
  Bytes image = builder.Build();
  const brankel_test::PeLayout layout = brankel_test::LayoutOf(image);
  brankel_test::Write32(image, layout.section_table + 8, 0x5000);
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;
  const Bytes picture = Pattern(100, 3);
  ASSERT_TRUE(table.Update(res::kTypeBitmap, 352, 0, picture.data(), picture.size()));
  ASSERT_TRUE(RebuildResourceSection(editor, table));
  ASSERT_EQ(editor.SectionCount(), 3);
  EXPECT_EQ(editor.DirectoryAddress(res::kDirResource), 0x6000u);
  EXPECT_EQ(editor.Section(2).VirtualAddress, 0x6000u);
  EXPECT_EQ(editor.SectionOfRva(0x6000), 2);

  // The same when the resource section itself lies under an earlier one.
  PeBuilder with_resources = ImageWithResources(false, 3, 1);
  Bytes overlapped = with_resources.Build();
  brankel_test::Write32(overlapped, layout.section_table + 8, 0x1800);
  ASSERT_TRUE(editor.Parse(overlapped.data(), overlapped.size()));
  EXPECT_FALSE(RebuildResourceSection(editor, table));
  EXPECT_EQ(editor.SlotState(1), CPE_ImageEditor::kSlotLoaded);
}

TEST_F(ResourcePlacement, DirectorySharingItsSectionIsRefused) {
  PeBuilder builder = ImageWithResources(false, 3, 1);
  Bytes image = builder.Build();
  // Point the directory 16 bytes into its section: something else would own the start.
  const brankel_test::PeLayout layout = brankel_test::LayoutOf(image);
  brankel_test::Write32(image, layout.directories + 16, Read32(image, layout.directories + 16) + 16);
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ResourceTable table;  // empty: the damaged directory is not read, only replaced
  EXPECT_FALSE(RebuildResourceSection(editor, table));
}

// ---- The update session on files -------------------------------------------------------

class ResourceUpdateFiles : public brankel_test::ScratchTest {};

TEST_F(ResourceUpdateFiles, CommitReplacesTheFileAndLeavesNoTemporaryBehind) {
  const std::u16string exe = Path(u"app.exe");
  ASSERT_TRUE(WriteFileBytes(exe, ImageWithResources(false, 3, 2).Build()));
  ResourceUpdate update;
  ASSERT_TRUE(update.Begin(exe));
  const Bytes picture = Pattern(1000, 5);
  ASSERT_TRUE(update.Update(res::kTypeBitmap, 352, 0, picture.data(), static_cast<uint32_t>(picture.size())));
  ASSERT_TRUE(update.Commit());
  EXPECT_FALSE(update.Active());
  const Bytes written = ReadFileBytes(exe);
  EXPECT_EQ(ResourceBytes(written, res::kTypeBitmap, 352, 0), picture);
  // The other resources are kept.
  EXPECT_EQ(ResourceBytes(written, res::kTypeIcon, 2, 0x409), Pattern(41, 0x40));
  // The checksum is that of the new file.
  const size_t checksum_at = brankel_test::LayoutOf(written).nt + 0x58;
  EXPECT_EQ(Read32(written, checksum_at), PeChecksum(written.data(), written.size(), checksum_at));
  plat::FindData found;
  plat::FindHandle find = plat::FindFirstFile(Path(u"*.tmp"), &found);
  EXPECT_EQ(find, nullptr) << "left behind: " << brankel_test::Narrow(found.name);
  if (find != nullptr) plat::FindClose(find);
}

TEST_F(ResourceUpdateFiles, ProgramsWhoseLastSectionHasNoFileDataKeepEverySection) {
  // As a program with its uninitialised data last: the file ends with the section before.
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "PE32+" : "PE32");
    PeBuilder builder = ImageWithResources(wide, 4, 2);
    builder.uninitialized = {3};
    const Bytes original = builder.Build();
    const std::u16string exe = Path(u"bss.exe");
    ASSERT_TRUE(WriteFileBytes(exe, original));
    ResourceUpdate update;
    ASSERT_TRUE(update.Begin(exe));
    const Bytes picture = Pattern(100, 7);
    ASSERT_TRUE(update.Update(res::kTypeBitmap, 352, 0, picture.data(), static_cast<uint32_t>(picture.size())));
    ASSERT_TRUE(update.Commit());
    const Bytes written = ReadFileBytes(exe);
    ASSERT_GE(written.size(), original.size());
    EXPECT_EQ(ResourceBytes(written, res::kTypeBitmap, 352, 0), picture);
    const auto before = brankel_test::RawRanges(original);
    const auto after = brankel_test::RawRanges(written);
    for (int slot : {0, 1}) {
      EXPECT_EQ(after[slot], before[slot]) << slot;
      EXPECT_TRUE(std::equal(original.begin() + before[slot].first,
                             original.begin() + before[slot].first + before[slot].second,
                             written.begin() + after[slot].first))
          << slot;
    }
    EXPECT_EQ(after[3].second, 0u);
  }
}

TEST_F(ResourceUpdateFiles, RefusedOrDiscardedUpdatesLeaveTheFileByteForByte) {
  PeBuilder builder = ImageWithResources(false, 4, 1);
  builder.names = {"", "", ".data", ""};
  const Bytes original = builder.Build();
  const std::u16string exe = Path(u"app.exe");
  ASSERT_TRUE(WriteFileBytes(exe, original));
  const Bytes big = Pattern(0x3000, 9);

  ResourceUpdate refused;
  ASSERT_TRUE(refused.Begin(exe));
  ASSERT_TRUE(refused.Update(res::kTypeBitmap, 352, 0, big.data(), static_cast<uint32_t>(big.size())));
  EXPECT_FALSE(refused.Commit());
  EXPECT_EQ(ReadFileBytes(exe), original);

  ResourceUpdate discarded;
  ASSERT_TRUE(discarded.Begin(exe));
  ASSERT_TRUE(discarded.Update(res::kTypeBitmap, 352, 0, big.data(), 10));
  discarded.Discard();
  EXPECT_FALSE(discarded.Commit());
  EXPECT_EQ(ReadFileBytes(exe), original);
}

TEST_F(ResourceUpdateFiles, NotAnExecutableCannotBegin) {
  const std::u16string text = Path(u"notes.exe");
  ASSERT_TRUE(WriteFileBytes(text, Bytes{'M', 'Z', 'n', 'o'}));
  ResourceUpdate update;
  EXPECT_FALSE(update.Begin(text));
  EXPECT_EQ(plat::GetLastError(), plat::err::kBadExeFormat);
  EXPECT_FALSE(update.Begin(Path(u"missing.exe")));
  EXPECT_EQ(plat::GetLastError(), plat::err::kFileNotFound);
  EXPECT_FALSE(update.Update(3, 1, 0, "x", 1));
}

}  // namespace
}  // namespace pe
