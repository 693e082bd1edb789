// The image editor on images made by the test builder: what it accepts, the exact header
// fields and bytes it writes, and that it refuses what it cannot hold without changing
// anything.
#include "pe/pe_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/platform.h"
#include "support/pe_builder.h"
#include "support/scratch.h"

namespace pe {
namespace {

using brankel_test::ImportNames;
using brankel_test::LayoutOf;
using brankel_test::PeBuilder;
using brankel_test::PeLayout;
using brankel_test::RawRanges;
using brankel_test::Read16;
using brankel_test::Read32;
using brankel_test::ReadFileBytes;
using brankel_test::ReferenceChecksum;
using brankel_test::SectionFill;
using brankel_test::Write16;
using brankel_test::Write32;
using brankel_test::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

uint32_t SectionField(const Bytes& image, int slot, uint32_t field) {
  const PeLayout layout = LayoutOf(image);
  return Read32(image, layout.section_table + slot * 40 + field);
}

PeBuilder ThreeImports(bool pe32plus) {
  PeBuilder b;
  b.pe32plus = pe32plus;
  b.section_count = 4;
  b.rsrc_slot = 2;
  b.import_slot = 1;
  b.imports = {"KERNEL32.DLL", "COMCTL32.DLL", "WINMM.DLL"};
  return b;
}

// ---- PE32 and PE32+ alike ----------------------------------------------------------------

class PeImageTest : public brankel_test::ScratchTest, public ::testing::WithParamInterface<bool> {
 protected:
  PeBuilder Builder() const {
    PeBuilder b;
    b.pe32plus = GetParam();
    return b;
  }
  uint32_t NtSize() const { return GetParam() ? 264 : 248; }
  // What Write puts in the scratch file `name`; empty, and a failure, when it refuses.
  Bytes Written(CPE_ImageEditor& editor, std::u16string_view name) const {
    const std::u16string path = Path(name);
    if (!editor.Write(path)) {
      ADD_FAILURE() << "Write refused, error " << plat::GetLastError();
      return {};
    }
    return ReadFileBytes(path);
  }
};

INSTANTIATE_TEST_SUITE_P(Widths, PeImageTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pe32Plus" : "Pe32"; });

TEST_P(PeImageTest, ParseCopiesHeadersAndPointsSlotsIntoTheImage) {
  const Bytes image = ThreeImports(GetParam()).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_EQ(editor.IsPe32Plus(), GetParam());
  EXPECT_EQ(editor.ImageSize(), image.size());
  ASSERT_EQ(editor.NtHeadersSize(), NtSize());
  EXPECT_EQ(0, std::memcmp(editor.NtHeaders(), image.data() + 0x80, NtSize()));
  ASSERT_EQ(editor.SectionCount(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(editor.SlotState(i), CPE_ImageEditor::kSlotLoaded);
    EXPECT_EQ(editor.Section(i).PointerToRawData, SectionField(image, i, 20));
    EXPECT_EQ(editor.Section(i).VirtualAddress, SectionField(image, i, 12));
    EXPECT_EQ(editor.SectionData(i), editor.Image() + SectionField(image, i, 20));
  }
  EXPECT_EQ(std::string(editor.Section(2).Name, 5), ".rsrc");
  EXPECT_EQ(editor.SlotState(4), CPE_ImageEditor::kSlotFree);
  EXPECT_EQ(editor.SectionData(4), nullptr);
  EXPECT_EQ(editor.DirectoryAddress(1), SectionField(image, 1, 12));
  EXPECT_EQ(editor.DirectorySize(1), 4u * 20);
}

TEST_P(PeImageTest, AddDataSectionPlacesItAfterTheLastSection) {
  PeBuilder b = Builder();
  b.raw_size = 0x2F0;  // sections end off the file alignment
  const Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  const SectionHeader last = editor.Section(2);
  ASSERT_EQ(last.PointerToRawData + last.SizeOfRawData, 0x400u + 3 * 0x2F0);

  uint8_t* block = editor.AddDataSection(1);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(editor.SectionCount(), 4);
  EXPECT_EQ(Read16(Bytes(editor.NtHeaders(), editor.NtHeaders() + 8), 6), 4);
  const SectionHeader& s = editor.Section(3);
  EXPECT_EQ(0, std::memcmp(s.Name, ".mdata\0\0", 8));
  EXPECT_EQ(s.SizeOfRawData, 0x200u);
  EXPECT_EQ(s.VirtualSize, 0x1000u);
  EXPECT_EQ(s.VirtualAddress, 0x4000u);   // 0x3000 + 0x180, up to 0x1000
  EXPECT_EQ(s.PointerToRawData, 0xE00u);  // 0x400 + 3 * 0x2F0 = 0xCD0, up to 0x200
  EXPECT_EQ(s.Characteristics, 0xC0000040u);
  EXPECT_EQ(s.PointerToRelocations | s.PointerToLinenumbers | s.NumberOfRelocations | s.NumberOfLinenumbers, 0u);
  EXPECT_EQ(editor.SlotState(3), CPE_ImageEditor::kSlotAdded);
  EXPECT_EQ(editor.SectionData(3), block);
  for (int i = 0; i < 0x200; ++i) ASSERT_EQ(block[i], 0) << i;
}

TEST_P(PeImageTest, PayloadSizesRoundToTheAlignments) {
  const Bytes image = Builder().Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(0x400), nullptr);
  EXPECT_EQ(editor.Section(3).SizeOfRawData, 0x400u);
  EXPECT_EQ(editor.Section(3).VirtualSize, 0x1000u);
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(0x401), nullptr);
  EXPECT_EQ(editor.Section(3).SizeOfRawData, 0x600u);
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(0x1001), nullptr);
  EXPECT_EQ(editor.Section(3).VirtualSize, 0x2000u);
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_EQ(editor.AddDataSection(0xFFFFFFFFu), nullptr);  // would not fit in 32 bits
  EXPECT_EQ(editor.SectionCount(), 3);
  EXPECT_EQ(editor.SlotState(3), CPE_ImageEditor::kSlotFree);
}

TEST_P(PeImageTest, NineteenSectionsGetATwentiethButTwentyRefuse) {
  PeBuilder b = Builder();
  b.size_of_headers = 0x600;
  b.section_count = 19;
  Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.SectionCount(), 20);
  EXPECT_EQ(editor.SlotState(19), CPE_ImageEditor::kSlotAdded);
  EXPECT_EQ(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.SectionCount(), 20);

  b.section_count = 20;
  image = b.Build();
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_EQ(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.SectionCount(), 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(editor.SlotState(i), CPE_ImageEditor::kSlotLoaded);
}

TEST_P(PeImageTest, NewHeaderMustEndBeforeTheFirstSectionData) {
  // Three headers followed by exactly one more header's room before offset 0x200.
  PeBuilder b = Builder();
  b.size_of_headers = 0x200;
  b.lfanew = 0x200 - NtSize() - 4 * 40;
  Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_NE(editor.AddDataSection(8), nullptr);

  b.lfanew += 4;
  image = b.Build();
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_EQ(editor.AddDataSection(8), nullptr);
  EXPECT_EQ(editor.SectionCount(), 3);
  EXPECT_EQ(editor.SlotState(3), CPE_ImageEditor::kSlotFree);
}

TEST_P(PeImageTest, NewDataMustNotLandOnTheHeaders) {
  // Only sections without file data, and headers that end past SizeOfHeaders: the data
  // goes after the new section header, not at offset 0.
  PeBuilder b = Builder();
  b.uninitialized = {0, 1, 2};
  b.size_of_headers = 0x200;
  b.lfanew = 0x200;
  const Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.Section(3).PointerToRawData, 0x400u);  // 0x200 + NT headers + 4 headers
  const Bytes written = Written(editor, u"headers.exe");
  ASSERT_EQ(written.size(), 0x600u);
  EXPECT_EQ(Read32(written, 0x200), 0x00004550u);
  EXPECT_EQ(Read32(written, 0x200 + 0x54), 0x400u) << "SizeOfHeaders covers the new section header";
  // Nor before SizeOfHeaders, which the loader maps as the headers; a value past the
  // file's end is damage, not a place.
  b.lfanew = 0x80;
  b.size_of_headers = 0x400;
  Bytes short_headers = b.Build();
  ASSERT_TRUE(editor.Parse(short_headers.data(), short_headers.size()));
  ASSERT_NE(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.Section(3).PointerToRawData, 0x400u);
  Write32(short_headers, 0x80 + 0x54, 0x4D000000);
  ASSERT_TRUE(editor.Parse(short_headers.data(), short_headers.size()));
  ASSERT_NE(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.Section(3).PointerToRawData, 0x400u);  // after the headers, the file's end
}

TEST_P(PeImageTest, WriteAlignsHeadersSizesTheImageAndCarriesThePayload) {
  const Bytes image = ThreeImports(GetParam()).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  uint8_t* block = editor.AddDataSection(0x345);
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 0x345; ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::u16string out = Path(u"out.exe");
  ASSERT_TRUE(editor.Write(out));

  const Bytes written = ReadFileBytes(out);
  const PeLayout layout = LayoutOf(written);
  ASSERT_EQ(Read16(written, layout.nt + 6), 5);
  const uint32_t pointer = SectionField(written, 4, 20);
  const uint32_t raw = SectionField(written, 4, 16);
  EXPECT_EQ(raw, 0x400u);
  ASSERT_EQ(written.size(), size_t{pointer} + raw);
  for (int i = 0; i < 0x345; ++i) ASSERT_EQ(written[pointer + i], static_cast<uint8_t>(i * 7 + 1)) << i;
  for (uint32_t i = 0x345; i < raw; ++i) ASSERT_EQ(written[pointer + i], 0) << i;
  // Plain sections had a virtual size of 0x180; the written ones are whole pages.
  EXPECT_EQ(SectionField(written, 0, 8), 0x1000u);
  EXPECT_EQ(Read32(written, layout.nt + 0x50), SectionField(written, 4, 12) + 0x1000);
  // Headers, stub and every loaded section's bytes are where they were.
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x80, written.begin()));
  for (int i = 0; i < 4; ++i) {
    const uint32_t at = SectionField(image, i, 20);
    const uint32_t size = SectionField(image, i, 16);
    EXPECT_EQ(SectionField(written, i, 20), at);
    EXPECT_TRUE(std::equal(image.begin() + at, image.begin() + at + size, written.begin() + at)) << i;
  }
  // Between the section table and the first section's data there are only zeros.
  for (uint32_t i = layout.section_table + 5 * 40; i < 0x400; ++i) ASSERT_EQ(written[i], 0) << i;
  EXPECT_EQ(Read32(written, layout.nt + 0x58), ReferenceChecksum(written));
  EXPECT_NE(Read32(written, layout.nt + 0x58), 0u);

  // A second write gives the same file.
  const std::u16string again = Path(u"again.exe");
  ASSERT_TRUE(editor.Write(again));
  EXPECT_EQ(ReadFileBytes(again), written);

  // And it reads back as the editor left it.
  CPE_ImageEditor reread;
  ASSERT_TRUE(reread.Load(out));
  EXPECT_EQ(reread.IsPe32Plus(), GetParam());
  ASSERT_EQ(reread.SectionCount(), 5);
  EXPECT_EQ(0, std::memcmp(reread.SectionData(4), block, 0x400));
  EXPECT_EQ(0, std::memcmp(&reread.Section(4), &editor.Section(4), sizeof(SectionHeader)));
}

// A streamed section is written as the same section filled in memory would be; a filler
// that fails or runs past its size fails the write and leaves the old file.
TEST_P(PeImageTest, StreamedSectionsWriteAsFilledOnesOrNotAtAll) {
  const Bytes image = ThreeImports(GetParam()).Build();
  Bytes payload(0x345);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
  CPE_ImageEditor filled;
  ASSERT_TRUE(filled.Parse(image.data(), image.size()));
  uint8_t* block = filled.AddDataSection(0x345);
  ASSERT_NE(block, nullptr);
  std::copy(payload.begin(), payload.end(), block);
  ASSERT_TRUE(filled.Write(Path(u"filled.exe")));

  struct Case {
    const char* what;
    size_t first, second;  // bytes of the payload given in two pieces
    bool ok;
  };
  const Case cases[] = {{"whole, in two pieces", 0x100, 0x245, true},
                        {"short: the rest is zero", 0x100, 0x100, true},
                        {"past the section", 0x345, 0x345, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(brankel_test::WriteBytes(Path(u"streamed.exe"), "old"));
    CPE_ImageEditor streamed;
    ASSERT_TRUE(streamed.Parse(image.data(), image.size()));
    // The payload twice over, so a filler can offer more than the section holds.
    Bytes repeated(2 * payload.size());
    for (size_t i = 0; i < repeated.size(); ++i) repeated[i] = payload[i % payload.size()];
    ASSERT_TRUE(streamed.AddStreamedSection(0x345, [&](SectionSink& sink) {
      return sink.Append(plat::ByteView(repeated.data(), c.first)) &&
             sink.Append(plat::ByteView(repeated.data() + c.first, c.second));
    }));
    EXPECT_EQ(streamed.SectionData(4), nullptr);
    EXPECT_EQ(streamed.Write(Path(u"streamed.exe")), c.ok);
    const Bytes written = ReadFileBytes(Path(u"streamed.exe"));
    if (!c.ok) {
      EXPECT_EQ(written, Bytes({'o', 'l', 'd'}));
      continue;
    }
    Bytes expected = ReadFileBytes(Path(u"filled.exe"));
    if (c.first + c.second < 0x345) {
      // Only the bytes given differ from the filled section's, and the checksum with them.
      const uint32_t pointer = SectionField(expected, 4, 20);
      std::fill(expected.begin() + pointer + c.first + c.second, expected.begin() + pointer + 0x345, 0);
      const PeLayout layout = LayoutOf(expected);
      EXPECT_EQ(Read32(written, layout.nt + 0x58), ReferenceChecksum(written));
      std::copy_n(written.begin() + layout.nt + 0x58, 4, expected.begin() + layout.nt + 0x58);
    }
    EXPECT_EQ(written, expected);
  }
}

TEST_P(PeImageTest, WriteDropsTheCertificateAndClearsItsDirectoryEntry) {
  PeBuilder b = ThreeImports(GetParam());
  b.certificate = std::string(100, 'C');
  const Bytes image = b.Build();
  const PeLayout layout = LayoutOf(image);
  ASSERT_NE(Read32(image, layout.directories + 32), 0u);
  const uint32_t sections_end = SectionField(image, 3, 20) + SectionField(image, 3, 16);
  ASSERT_GT(image.size(), sections_end + 100);

  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  const std::u16string out = Path(u"signed.exe");
  ASSERT_TRUE(editor.Write(out));
  const Bytes written = ReadFileBytes(out);
  EXPECT_EQ(written.size(), sections_end);
  EXPECT_EQ(Read32(written, layout.directories + 32), 0u);
  EXPECT_EQ(Read32(written, layout.directories + 36), 0u);
  EXPECT_EQ(editor.DirectoryAddress(4), 0u);
  // The neighbouring entries are untouched.
  EXPECT_EQ(Read32(written, layout.directories + 8), Read32(image, layout.directories + 8));
  EXPECT_EQ(Read32(written, layout.directories + 40), Read32(image, layout.directories + 40));

  // With a payload section the certificate's place is taken by the new data.
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(64), nullptr);
  ASSERT_EQ(editor.Section(4).PointerToRawData, Read32(image, layout.directories + 32));
  ASSERT_TRUE(editor.Write(out));
  EXPECT_EQ(Read32(ReadFileBytes(out), layout.directories + 32), 0u);
  EXPECT_EQ(Read32(ReadFileBytes(out), layout.directories + 36), 0u);
}

TEST_P(PeImageTest, WriteKeepsASecurityEntryThatStillPointsInsideTheFile) {
  // A stray entry inside the sections is left alone: only a dropped table is cleared.
  Bytes image = Builder().Build();
  const PeLayout layout = LayoutOf(image);
  Write32(image, layout.directories + 32, 0x400);
  Write32(image, layout.directories + 36, 0x10);
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  const std::u16string out = Path(u"kept.exe");
  ASSERT_TRUE(editor.Write(out));
  const Bytes written = ReadFileBytes(out);
  EXPECT_EQ(Read32(written, layout.directories + 32), 0x400u);
  EXPECT_EQ(Read32(written, layout.directories + 36), 0x10u);
}

TEST_P(PeImageTest, RemoveImportDropsTheFirstOfThree) {
  const Bytes image = ThreeImports(GetParam()).Build();
  const PeLayout layout = LayoutOf(image);
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_TRUE(editor.RemoveImport("kernel32.dll"));
  const Bytes edited(editor.Image(), editor.Image() + editor.ImageSize());
  const uint32_t t = layout.import_table;
  // The other two, in order, byte for byte, then one zero descriptor.
  EXPECT_TRUE(std::equal(image.begin() + t + 20, image.begin() + t + 60, edited.begin() + t));
  for (int i = 40; i < 60; ++i) EXPECT_EQ(edited[t + i], 0) << i;
  // The old terminator and everything after it are as they were, and so is the rest.
  EXPECT_TRUE(std::equal(image.begin() + t + 60, image.end(), edited.begin() + t + 60));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + t, edited.begin()));
  EXPECT_EQ(editor.DirectorySize(1), 80u);

  const std::u16string out = Path(u"noimport.exe");
  ASSERT_TRUE(editor.Write(out));
  EXPECT_EQ(ImportNames(ReadFileBytes(out)), (std::vector<std::string>{"COMCTL32.DLL", "WINMM.DLL"}));
}

TEST_P(PeImageTest, RemoveImportDropsTheMiddleOrLastAndMatchesAnyCase) {
  const Bytes image = ThreeImports(GetParam()).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_TRUE(editor.RemoveImport("CoMcTl32.dll"));
  Bytes edited(editor.Image(), editor.Image() + editor.ImageSize());
  EXPECT_EQ(ImportNames(edited), (std::vector<std::string>{"KERNEL32.DLL", "WINMM.DLL"}));
  ASSERT_TRUE(editor.RemoveImport("winmm.dll"));
  edited.assign(editor.Image(), editor.Image() + editor.ImageSize());
  EXPECT_EQ(ImportNames(edited), (std::vector<std::string>{"KERNEL32.DLL"}));
  // A prefix or a longer name is another library.
  ASSERT_TRUE(editor.RemoveImport("kernel32"));
  ASSERT_TRUE(editor.RemoveImport("kernel32.dll.x"));
  edited.assign(editor.Image(), editor.Image() + editor.ImageSize());
  EXPECT_EQ(ImportNames(edited), (std::vector<std::string>{"KERNEL32.DLL"}));
}

TEST_P(PeImageTest, RemovingAnAbsentLibraryChangesNothing) {
  const Bytes image = ThreeImports(GetParam()).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_TRUE(editor.RemoveImport("USER32.DLL"));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), image);

  const Bytes plain = Builder().Build();  // no import table at all
  ASSERT_TRUE(editor.Parse(plain.data(), plain.size()));
  EXPECT_TRUE(editor.RemoveImport("KERNEL32.DLL"));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), plain);
}

TEST_P(PeImageTest, ImportTablesItCannotHoldAreLeftAlone) {
  PeBuilder b = Builder();
  for (int i = 0; i < 259; ++i) b.imports.push_back("LIB" + std::to_string(i) + ".DLL");
  Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_TRUE(editor.RemoveImport("lib0.dll"));
  std::vector<std::string> names = ImportNames(Bytes(editor.Image(), editor.Image() + editor.ImageSize()));
  ASSERT_EQ(names.size(), 258u);
  EXPECT_EQ(names.front(), "LIB1.DLL");
  EXPECT_EQ(names.back(), "LIB258.DLL");

  b.imports.push_back("LIB259.DLL");
  image = b.Build();
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_FALSE(editor.RemoveImport("lib0.dll"));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), image);
}

TEST_P(PeImageTest, ImportTablesOutsideTheSectionsOrUnterminatedAreLeftAlone) {
  const Bytes good = ThreeImports(GetParam()).Build();
  const PeLayout layout = LayoutOf(good);
  CPE_ImageEditor editor;

  Bytes outside = good;
  Write32(outside, layout.directories + 8, 0x00800000);
  ASSERT_TRUE(editor.Parse(outside.data(), outside.size()));
  EXPECT_FALSE(editor.RemoveImport("WINMM.DLL"));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), outside);

  // A name that no section holds.
  Bytes bad_name = good;
  Write32(bad_name, layout.import_table + 20 + 12, 0x00900000);
  ASSERT_TRUE(editor.Parse(bad_name.data(), bad_name.size()));
  EXPECT_FALSE(editor.RemoveImport("KERNEL32.DLL"));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), bad_name);

  // Descriptors that run to the end of their section with no terminator.
  Bytes endless = good;
  const uint32_t section_start = SectionField(good, 1, 20);
  const uint32_t section_end = section_start + SectionField(good, 1, 16);
  const uint32_t name_rva = Read32(good, layout.import_table + 12);
  for (uint32_t at = layout.import_table; at + 20 <= section_end; at += 20) Write32(endless, at + 12, name_rva);
  ASSERT_TRUE(editor.Parse(endless.data(), endless.size()));
  EXPECT_FALSE(editor.RemoveImport("WINMM.DLL"));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), endless);
}

// ---- Layouts that do not follow the table -----------------------------------------------

void ExpectSectionsCarried(const Bytes& image, const Bytes& written) {
  EXPECT_EQ(brankel_test::SectionsCarriedMismatch(image, written), "");
}

uint32_t RawEnd(const Bytes& image) {
  uint32_t end = 0;
  for (const auto& [at, size] : RawRanges(image)) {
    if (size != 0) end = std::max(end, at + size);
  }
  return end;
}

TEST_P(PeImageTest, EverySectionIsWrittenWhereItsHeaderSays) {
  for (const brankel_test::OddLayout& odd : brankel_test::OddLayouts()) {
    SCOPED_TRACE(odd.name);
    const Bytes image = brankel_test::OddLayoutBuilder(odd, GetParam()).Build();
    ASSERT_EQ(RawEnd(image), image.size());
    CPE_ImageEditor editor;
    ASSERT_TRUE(editor.Parse(image.data(), image.size()));
    const Bytes written = Written(editor, u"plain.exe");
    ASSERT_EQ(written.size(), image.size());
    ExpectSectionsCarried(image, written);
    EXPECT_EQ(Read32(written, LayoutOf(written).nt + 0x50), 0x5000u);

    // The payload goes after the furthest data and the furthest section in memory.
    ASSERT_TRUE(editor.Parse(image.data(), image.size()));
    uint8_t* block = editor.AddDataSection(0x345);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xE7, 0x345);
    EXPECT_EQ(editor.Section(4).PointerToRawData, image.size());
    EXPECT_EQ(editor.Section(4).VirtualAddress, 0x5000u);
    const Bytes with_payload = Written(editor, u"payload.exe");
    ASSERT_EQ(with_payload.size(), image.size() + 0x400);
    ExpectSectionsCarried(image, with_payload);
    EXPECT_EQ(with_payload[image.size()], 0xE7);
    EXPECT_EQ(with_payload[image.size() + 0x344], 0xE7);
    EXPECT_EQ(with_payload[image.size() + 0x345], 0);
    EXPECT_EQ(Read32(with_payload, LayoutOf(with_payload).nt + 0x50), 0x6000u);
    EXPECT_EQ(Read32(with_payload, LayoutOf(with_payload).nt + 0x58), ReferenceChecksum(with_payload));
  }
}

TEST_P(PeImageTest, SectionsWithoutFileDataPointNowhereSoTheFileReadsBack) {
  // A stale pointer at the end of a file whose certificate the write drops.
  PeBuilder b = Builder();
  b.uninitialized = {2};
  b.certificate = std::string(64, 'S');
  Bytes image = b.Build();
  Write32(image, LayoutOf(image).section_table + 2 * 40 + 20, static_cast<uint32_t>(image.size()));
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  const Bytes written = Written(editor, u"stale.exe");
  ASSERT_LT(written.size(), image.size());
  EXPECT_EQ(SectionField(written, 2, 20), 0u);
  CPE_ImageEditor reread;
  EXPECT_TRUE(reread.Parse(written.data(), written.size()));
}

// What a refused write must leave: the file that was there, and no temporary beside it.
void ExpectUntouched(const std::u16string& folder, const std::u16string& target, const Bytes& before) {
  EXPECT_EQ(ReadFileBytes(target), before);
  plat::FindData found;
  plat::FindHandle find = plat::FindFirstFile(folder + u"\\*.tmp", &found);
  EXPECT_EQ(find, nullptr) << "left behind: " << brankel_test::Narrow(found.name);
  if (find != nullptr) plat::FindClose(find);
}

TEST_P(PeImageTest, OverlappingDataIsRefusedAndTheTargetKept) {
  const Bytes good = Builder().Build();
  const PeLayout layout = LayoutOf(good);
  struct Case {
    const char* name;
    int slot;
    uint32_t pointer;
    uint32_t size;
  };
  const Case cases[] = {
      {"two sections on the same bytes", 2, 0x600, 0x200},
      {"a section reaching into the next", 0, 0x400, 0x201},  // 0x400 once aligned
      {"an unaligned start that alignment moves onto the next", 1, 0x610, 0x200},
      {"data on the headers", 0, 0, 0x200},
  };
  const std::u16string target = Path(u"target.exe");
  const Bytes before(300, 0x3C);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = good;
    Write32(image, layout.section_table + c.slot * 40 + 20, c.pointer);
    Write32(image, layout.section_table + c.slot * 40 + 16, c.size);
    CPE_ImageEditor editor;
    ASSERT_TRUE(editor.Parse(image.data(), image.size()));
    ASSERT_TRUE(WriteFileBytes(target, before));
    plat::SetLastError(plat::err::kFileExists);
    EXPECT_FALSE(editor.Write(target));
    EXPECT_EQ(plat::GetLastError(), plat::err::kBadExeFormat);
    ExpectUntouched(dir_, target, before);
  }
}

TEST_P(PeImageTest, AFailedMoveLeavesNoTemporaryBehind) {
  const Bytes image = Builder().Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  const std::u16string folder = Path(u"taken");
  ASSERT_TRUE(plat::CreateDirectory(folder));
  EXPECT_FALSE(editor.Write(folder));
  EXPECT_TRUE(plat::IsDirectory(folder));
  ExpectUntouched(dir_, Path(u"absent.exe"), {});
}

TEST_P(PeImageTest, SymbolTablesFollowTheSectionsOrAreDropped) {
  PeBuilder b = Builder();
  b.symbol_count = 3;
  b.symbol_strings = std::string(".debug_information\0", 19);
  const Bytes image = b.Build();
  const PeLayout layout = LayoutOf(image);
  const uint32_t tables_at = Read32(image, layout.nt + 0x0C);
  ASSERT_EQ(tables_at, RawEnd(image));
  const Bytes tables(image.begin() + tables_at, image.end());
  ASSERT_EQ(tables.size(), 3 * 18 + 4 + 19u);

  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(0x10), nullptr);
  const Bytes written = Written(editor, u"symbols.exe");
  const uint32_t moved = Read32(written, layout.nt + 0x0C);
  EXPECT_EQ(moved, SectionField(written, 3, 20) + 0x200);
  EXPECT_EQ(Read32(written, layout.nt + 0x10), 3u);
  ASSERT_EQ(written.size(), size_t{moved} + tables.size());
  EXPECT_TRUE(std::equal(tables.begin(), tables.end(), written.begin() + moved));

  // Tables that are not whole in the file, or lie on section data, are not carried, and
  // nothing may point at where they were.
  struct Damage {
    const char* name;
    uint32_t pointer;
    uint32_t count;
  };
  for (const Damage& d : {Damage{"past the end", static_cast<uint32_t>(image.size() + 1), 3},
                          Damage{"strings cut off", tables_at, 10}, Damage{"on a section's data", 0x400, 3}}) {
    SCOPED_TRACE(d.name);
    Bytes damaged = image;
    Write32(damaged, layout.nt + 0x0C, d.pointer);
    Write32(damaged, layout.nt + 0x10, d.count);
    ASSERT_TRUE(editor.Parse(damaged.data(), damaged.size()));
    ASSERT_NE(editor.AddDataSection(0x10), nullptr);
    const Bytes dropped = Written(editor, u"dropped.exe");
    ASSERT_FALSE(dropped.empty());
    EXPECT_EQ(Read32(dropped, layout.nt + 0x0C), 0u);
    EXPECT_EQ(Read32(dropped, layout.nt + 0x10), 0u);
    EXPECT_EQ(dropped.size(), SectionField(dropped, 3, 20) + 0x200u);
  }
}

bool MayAlwaysMove(const SectionHeader&) { return true; }
bool MayNeverMove(const SectionHeader&) { return false; }

TEST_P(PeImageTest, ReplacedDataNeverLandsOnSectionsOutOfTableOrder) {
  // Slot 1's data lies first in the file, so slot 0's follows it there.
  PeBuilder b = Builder();
  b.file_order = {1, 0, 2};
  const Bytes image = b.Build();
  ASSERT_EQ(SectionField(image, 1, 20), 0x400u);
  ASSERT_EQ(SectionField(image, 0, 20), 0x600u);
  const Bytes grown(0x300, 0x9D);
  CPE_ImageEditor editor;

  // In place would cover slot 0; what must move for it may not.
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  plat::SetLastError(plat::err::kFileExists);
  EXPECT_FALSE(editor.ReplaceSectionData(1, Bytes(grown), MayNeverMove));
  EXPECT_EQ(plat::GetLastError(), plat::err::kNotSupported);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(editor.Section(i).PointerToRawData, SectionField(image, i, 20)) << i;

  // Allowed, everything after it in the file moves up, the table's order notwithstanding.
  ASSERT_TRUE(editor.ReplaceSectionData(1, Bytes(grown), MayAlwaysMove));
  EXPECT_EQ(editor.Section(1).PointerToRawData, 0x400u);
  EXPECT_EQ(editor.Section(1).SizeOfRawData, 0x400u);
  EXPECT_EQ(editor.Section(0).PointerToRawData, 0x800u);
  EXPECT_EQ(editor.Section(2).PointerToRawData, 0xA00u);
  EXPECT_EQ(editor.Section(2).VirtualAddress, 0x3000u);  // still room in memory
  const Bytes written = Written(editor, u"replaced.exe");
  ASSERT_EQ(written.size(), 0xC00u);
  EXPECT_TRUE(std::equal(grown.begin(), grown.end(), written.begin() + 0x400));
  EXPECT_TRUE(std::all_of(written.begin() + 0x700, written.begin() + 0x800, [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(std::equal(image.begin() + 0x600, image.begin() + 0x800, written.begin() + 0x800));
  EXPECT_TRUE(std::equal(image.begin() + 0x800, image.begin() + 0xA00, written.begin() + 0xA00));

  // A section without file data gets a place after all of it; nothing else moves.
  b.file_order.clear();
  b.uninitialized = {1};
  const Bytes bss = b.Build();
  ASSERT_TRUE(editor.Parse(bss.data(), bss.size()));
  ASSERT_TRUE(editor.ReplaceSectionData(1, Bytes(grown), MayNeverMove));
  EXPECT_EQ(editor.Section(1).PointerToRawData, bss.size());
  EXPECT_EQ(editor.Section(0).PointerToRawData, 0x400u);
  EXPECT_EQ(editor.Section(2).PointerToRawData, 0x600u);
  ExpectSectionsCarried(bss, Written(editor, u"bss.exe"));
}

// ---- The reason left behind -------------------------------------------------------------

TEST_P(PeImageTest, EveryRefusalLeavesItsReason) {
  const Bytes good = ThreeImports(GetParam()).Build();
  const PeLayout layout = LayoutOf(good);
  // The editor of the case at hand, kept so that its reason can be read afterwards.
  std::unique_ptr<CPE_ImageEditor> editor;
  auto fresh = [&]() -> CPE_ImageEditor& {
    editor = std::make_unique<CPE_ImageEditor>();
    return *editor;
  };
  auto loaded = [&](const Bytes& image) -> CPE_ImageEditor* {
    EXPECT_TRUE(fresh().Parse(image.data(), image.size()));
    return editor.get();
  };
  auto with = [&](uint32_t at, uint32_t value) {
    Bytes image = good;
    Write32(image, at, value);
    return image;
  };
  PeBuilder twenty = Builder();
  twenty.section_count = 20;
  twenty.size_of_headers = 0x600;
  PeBuilder crowded = Builder();  // no room for one more section header
  crowded.size_of_headers = 0x200;
  crowded.lfanew = 0x200 - NtSize() - 3 * 40;
  PeBuilder many = Builder();
  for (int i = 0; i < 260; ++i) many.imports.push_back(std::to_string(i) + ".DLL");
  const std::u16string out = Path(u"out.exe");
  const std::u16string foreign = Path(u"foreign.exe");
  ASSERT_TRUE(WriteFileBytes(foreign, Bytes(200, 'M')));

  struct Case {
    const char* name;
    std::function<bool()> fails;
    uint32_t error;
    PeRefusal reason = PeRefusal::kNone;  // kNone: a static call, no editor to ask
  };
  const Case cases[] = {
      {"parse no image", [&] { return !fresh().Parse(good.data(), 100); }, plat::err::kBadExeFormat,
       PeRefusal::kTruncatedHeaders},
      {"parse nothing", [&] { return !fresh().Parse(nullptr, 0); }, plat::err::kBadExeFormat,
       PeRefusal::kTruncatedHeaders},
      {"payload of nothing", [&] { return loaded(good)->AddDataSection(0) == nullptr; }, plat::err::kInvalidParameter,
       PeRefusal::kBadParameter},
      {"payload without an image", [&] { return fresh().AddDataSection(1) == nullptr; }, plat::err::kInvalidHandle,
       PeRefusal::kNoImage},
      {"payload past 32 bits", [&] { return loaded(good)->AddDataSection(0xFFFFFFFFu) == nullptr; },
       plat::err::kArithmeticOverflow, PeRefusal::kPastAddressSpace},
      {"payload as a 21st section", [&] { return loaded(twenty.Build())->AddDataSection(1) == nullptr; },
       plat::err::kNotSupported, PeRefusal::kNoSectionSlot},
      {"payload header on section data", [&] { return loaded(crowded.Build())->AddDataSection(1) == nullptr; },
       plat::err::kNotSupported, PeRefusal::kNoHeaderRoom},
      {"section past the address space",
       [&] { return !loaded(with(layout.section_table + 3 * 40 + 12, 0xFFFFF000u))->AddSection(".x", Bytes(1), 0); },
       plat::err::kArithmeticOverflow, PeRefusal::kPastAddressSpace},
      {"import removal without an image", [&] { return !fresh().RemoveImport("A.DLL"); }, plat::err::kInvalidHandle,
       PeRefusal::kNoImage},
      {"import table outside the sections",
       [&] { return !loaded(with(layout.directories + 8, 0x00800000))->RemoveImport("WINMM.DLL"); },
       plat::err::kBadExeFormat, PeRefusal::kDamagedImportTable},
      {"import table too long", [&] { return !loaded(many.Build())->RemoveImport("0.DLL"); }, plat::err::kNotSupported,
       PeRefusal::kTooManyImports},
      {"replace a free slot", [&] { return !loaded(good)->ReplaceSectionData(5, Bytes(4), MayAlwaysMove); },
       plat::err::kInvalidParameter, PeRefusal::kBadParameter},
      {"replace under an overlapping section",
       [&] { return !loaded(with(layout.section_table + 8, 0x1800))->ReplaceSectionData(1, Bytes(4), MayAlwaysMove); },
       plat::err::kBadExeFormat, PeRefusal::kOverlappingSections},
      {"write without an image", [&] { return !fresh().Write(out); }, plat::err::kInvalidHandle, PeRefusal::kNoImage},
      {"write past 32 bits", [&] { return !loaded(with(layout.section_table + 3 * 40 + 12, 0xFFFFF000u))->Write(out); },
       plat::err::kArithmeticOverflow, PeRefusal::kPastAddressSpace},
      {"checksum of a foreign file", [&] { return !CPE_ImageEditor::FixChecksum(foreign); }, plat::err::kBadExeFormat},
  };
  for (const Case& c : cases) {
    plat::SetLastError(plat::err::kFileExists);
    editor.reset();
    EXPECT_TRUE(c.fails()) << c.name;
    EXPECT_EQ(plat::GetLastError(), c.error) << c.name;
    if (c.reason == PeRefusal::kNone) continue;
    ASSERT_NE(editor, nullptr) << c.name;
    EXPECT_EQ(editor->Refusal(), c.reason) << c.name << ": " << editor->RefusalText();
    EXPECT_FALSE(editor->RefusalText().empty()) << c.name;
  }
  EXPECT_FALSE(plat::FileExists(out));
}

// ---- Bad input ---------------------------------------------------------------------------

TEST_P(PeImageTest, EveryTruncationOfTheHeadersIsRefused) {
  const Bytes image = Builder().Build();
  const size_t headers_end = 0x80 + NtSize() + 3 * 40;
  CPE_ImageEditor editor;
  for (size_t size = 1; size <= headers_end; ++size) {
    EXPECT_FALSE(editor.Parse(image.data(), size)) << size;
  }
  // Past the headers but before the sections' data ends.
  EXPECT_FALSE(editor.Parse(image.data(), image.size() - 1));
  EXPECT_FALSE(editor.IsLoaded());
  EXPECT_TRUE(editor.Parse(image.data(), image.size()));
}

TEST_P(PeImageTest, BrokenHeadersAreRefused) {
  const Bytes good = Builder().Build();
  const PeLayout layout = LayoutOf(good);
  // Why the image was refused; kNone when it was taken.
  auto refused = [](const Bytes& bytes) {
    CPE_ImageEditor editor;
    if (editor.Parse(bytes.data(), bytes.size()) || editor.IsLoaded()) return PeRefusal::kNone;
    EXPECT_FALSE(editor.RefusalText().empty());
    return editor.Refusal();
  };
  Bytes b = good;
  b[1] = 'X';
  EXPECT_EQ(refused(b), PeRefusal::kNoDosSignature) << "no MZ";
  const std::pair<uint32_t, PeRefusal> lfanews[] = {
      {0xFFFFFFF0u, PeRefusal::kTruncatedHeaders},
      {0x7FFFFFFFu, PeRefusal::kTruncatedHeaders},
      {static_cast<uint32_t>(good.size() - 2), PeRefusal::kTruncatedHeaders},
      {0x40u, PeRefusal::kNoPeSignature}};
  for (const auto& [lfanew, why] : lfanews) {
    b = good;
    Write32(b, 0x3C, lfanew);
    EXPECT_EQ(refused(b), why) << "e_lfanew " << lfanew;
  }
  b = good;
  b[layout.nt + 3] = 1;
  EXPECT_EQ(refused(b), PeRefusal::kNoPeSignature) << "PE followed by a non-zero byte";
  for (uint16_t count : {0, 21, 0xFFFF}) {
    b = good;
    Write16(b, layout.nt + 6, count);
    EXPECT_EQ(refused(b), PeRefusal::kBadSectionCount) << "section count " << count;
  }
  b = good;
  Write16(b, layout.nt + 0x14, GetParam() ? 224 : 240);
  EXPECT_EQ(refused(b), PeRefusal::kUnknownOptionalHeader) << "optional header size of the other width";
  b = good;
  Write16(b, layout.nt + 0x18, 0x107);
  EXPECT_EQ(refused(b), PeRefusal::kUnknownOptionalHeader) << "ROM magic";
  b = good;
  Write32(b, layout.nt + 0x3C, 0);
  EXPECT_EQ(refused(b), PeRefusal::kBadAlignment) << "file alignment 0";
  b = good;
  Write32(b, layout.nt + 0x38, 0x1001);
  EXPECT_EQ(refused(b), PeRefusal::kBadAlignment) << "section alignment not a power of two";
  b = good;
  Write32(b, layout.section_table + 40 + 20, static_cast<uint32_t>(good.size() - 0x100));
  EXPECT_EQ(refused(b), PeRefusal::kSectionOutsideFile) << "raw data past the end";
  b = good;
  Write32(b, layout.section_table + 40 + 16, 0xFFFFFF00u);
  EXPECT_EQ(refused(b), PeRefusal::kSectionOutsideFile) << "huge raw size";
}

TEST_P(PeImageTest, SectionTablePastTheEndIsRefused) {
  PeBuilder b = Builder();
  b.section_count = 20;
  b.size_of_headers = 0x600;
  const Bytes image = b.Build();
  const size_t table_end = 0x80 + NtSize() + 20 * 40;
  CPE_ImageEditor editor;
  EXPECT_FALSE(editor.Parse(image.data(), table_end - 1));
  // Cut off the section data too, so only the table decides: one header less fits.
  Bytes cut(image.begin(), image.begin() + table_end);
  Write16(cut, 0x80 + 6, 20);
  for (int i = 0; i < 20; ++i) Write32(cut, 0x80 + NtSize() + i * 40 + 16, 0);
  for (int i = 0; i < 20; ++i) Write32(cut, 0x80 + NtSize() + i * 40 + 20, 0);
  EXPECT_TRUE(editor.Parse(cut.data(), cut.size()));
  cut.pop_back();
  EXPECT_FALSE(editor.Parse(cut.data(), cut.size()));
}

TEST_P(PeImageTest, ARefusedImageLeavesTheLoadedOneInPlace) {
  const Bytes image = ThreeImports(GetParam()).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(10), nullptr);
  Bytes bad = image;
  Write16(bad, 0x80 + 6, 40);
  Bytes moved = bad;
  EXPECT_FALSE(editor.Parse(std::move(moved)));
  EXPECT_EQ(moved, bad);  // handed back untouched
  EXPECT_EQ(editor.SectionCount(), 5);
  EXPECT_EQ(editor.SlotState(4), CPE_ImageEditor::kSlotAdded);
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), image);
}

// ---- Files -------------------------------------------------------------------------------

TEST_P(PeImageTest, LoadReadsOnlyExistingNonEmptyImages) {
  const Bytes image = Builder().Build();
  const std::u16string path = Path(u"in.exe");
  ASSERT_TRUE(WriteFileBytes(path, image));
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Load(path));
  EXPECT_EQ(Bytes(editor.Image(), editor.Image() + editor.ImageSize()), image);
  EXPECT_FALSE(editor.Load(Path(u"missing.exe")));
  EXPECT_TRUE(editor.IsLoaded()) << "a failed load keeps the previous image";
  const std::u16string empty = Path(u"empty.exe");
  ASSERT_TRUE(WriteFileBytes(empty, {}));
  EXPECT_FALSE(editor.Load(empty));
  const std::u16string text = Path(u"text.exe");
  ASSERT_TRUE(WriteFileBytes(text, Bytes(300, 'x')));
  EXPECT_FALSE(editor.Load(text));
}

TEST_P(PeImageTest, WriteFailsCleanlyWithoutAFolderOrAnImage) {
  const Bytes image = Builder().Build();
  CPE_ImageEditor editor;
  EXPECT_FALSE(editor.Write(Path(u"nothing.exe")));
  EXPECT_FALSE(plat::FileExists(Path(u"nothing.exe")));
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_FALSE(editor.Write(Path(u"no\\such\\folder\\out.exe")));
}

TEST_P(PeImageTest, FixChecksumRewritesOnlyTheChecksum) {
  PeBuilder b = ThreeImports(GetParam());
  b.certificate = "xyz";  // the checksum covers the whole file, overlay included
  Bytes image = b.Build();
  image.push_back(0x5A);  // and an odd length
  const std::u16string path = Path(u"sum.exe");
  ASSERT_TRUE(WriteFileBytes(path, image));
  ASSERT_TRUE(CPE_ImageEditor::FixChecksum(path));
  const Bytes fixed = ReadFileBytes(path);
  ASSERT_EQ(fixed.size(), image.size());
  const uint32_t at = 0x80 + 0x58;
  EXPECT_EQ(Read32(fixed, at), ReferenceChecksum(image));
  Bytes rest = fixed;
  Write32(rest, at, 0);
  EXPECT_EQ(rest, image);
  // A stale value in the field does not count towards the sum.
  Write32(image, at, 0xDEADBEEF);
  ASSERT_TRUE(WriteFileBytes(path, image));
  ASSERT_TRUE(CPE_ImageEditor::FixChecksum(path));
  EXPECT_EQ(ReadFileBytes(path), fixed);
}

TEST_P(PeImageTest, ResourcesInTheMiddleKeepTheirPlace) {
  PeBuilder b = Builder();
  b.section_count = 5;
  b.rsrc_slot = 2;
  b.imports = {"A.DLL", "B.DLL"};
  const Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_TRUE(editor.RemoveImport("a.dll"));
  ASSERT_NE(editor.AddDataSection(100), nullptr);
  const std::u16string out = Path(u"rsrc.exe");
  ASSERT_TRUE(editor.Write(out));
  const Bytes written = ReadFileBytes(out);
  const uint32_t at = SectionField(image, 2, 20);
  EXPECT_EQ(SectionField(written, 2, 20), at);
  EXPECT_EQ(SectionField(written, 2, 12), SectionField(image, 2, 12));
  EXPECT_EQ(written[at], SectionFill(2));
  EXPECT_TRUE(std::equal(image.begin() + at, image.begin() + at + 0x200, written.begin() + at));
  EXPECT_EQ(ImportNames(written), std::vector<std::string>{"B.DLL"});
}

// ---- Checksum and edge cases of one width ---------------------------------------------------

TEST(PeChecksumTest, HandWorkedSums) {
  const uint8_t three[] = {0x01, 0x02, 0x03};
  EXPECT_EQ(PeChecksum(three, 3, SIZE_MAX), 0x0201u + 0x03 + 3);
  const uint8_t carry[] = {0xFF, 0xFF, 0x01, 0x00};
  EXPECT_EQ(PeChecksum(carry, 4, SIZE_MAX), 1u + 4);  // 0xFFFF + 1 folds to 1
  const uint8_t skipped[] = {0x10, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x20, 0x00};
  EXPECT_EQ(PeChecksum(skipped, 8, 2), 0x30u + 8);
  // The skipped field may sit at an odd offset.
  const uint8_t odd[] = {0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02};
  EXPECT_EQ(PeChecksum(odd, 6, 1), 0x0001u + 0x0200 + 6);
  EXPECT_EQ(PeChecksum(nullptr, 0, SIZE_MAX), 0u);
}

TEST(PeChecksumTest, AgreesWithTheReferenceOnLargeRandomishFiles) {
  PeBuilder b;
  b.section_count = 12;
  b.size_of_headers = 0x600;
  b.raw_size = 0x2000;
  Bytes image = b.Build();
  for (size_t i = 0x600; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{3}}) {
    const Bytes part(image.begin(), image.end() - static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(PeChecksum(part.data(), part.size(), 0x80 + 0x58), ReferenceChecksum(part)) << cut;
  }
}

class PeFileTest : public brankel_test::ScratchTest {};

TEST_F(PeFileTest, FixChecksumRefusesEmptyAndForeignFiles) {
  const std::u16string empty = Path(u"empty.exe");
  ASSERT_TRUE(WriteFileBytes(empty, {}));
  plat::SetLastError(0);
  EXPECT_FALSE(CPE_ImageEditor::FixChecksum(empty));
  EXPECT_EQ(plat::GetLastError(), plat::err::kNegativeSeek);

  Bytes image = PeBuilder().Build();
  image[0] = 'Z';
  const std::u16string foreign = Path(u"foreign.exe");
  ASSERT_TRUE(WriteFileBytes(foreign, image));
  EXPECT_FALSE(CPE_ImageEditor::FixChecksum(foreign));
  EXPECT_EQ(ReadFileBytes(foreign), image);

  image = PeBuilder().Build();
  image.resize(0x80 + 0x58);  // the field itself is cut off
  ASSERT_TRUE(WriteFileBytes(foreign, image));
  EXPECT_FALSE(CPE_ImageEditor::FixChecksum(foreign));
  EXPECT_FALSE(CPE_ImageEditor::FixChecksum(Path(u"missing.exe")));
}

TEST_F(PeFileTest, ResetEmptiesEverything) {
  const Bytes image = ThreeImports(false).Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(4), nullptr);
  editor.Reset();
  EXPECT_FALSE(editor.IsLoaded());
  EXPECT_EQ(editor.SectionCount(), 0);
  EXPECT_EQ(editor.NtHeaders()[0], 0);
  for (int i = 0; i < CPE_ImageEditor::kMaxSections; ++i) EXPECT_EQ(editor.SlotState(i), CPE_ImageEditor::kSlotFree);
  EXPECT_EQ(editor.AddDataSection(4), nullptr);
  EXPECT_FALSE(editor.RemoveImport("KERNEL32.DLL"));
  EXPECT_FALSE(editor.Write(Path(u"x.exe")));
}

TEST_F(PeFileTest, AShortStubAndHeadersInsideTheDosHeaderStillWriteInPlace) {
  // e_lfanew below 64: the signature sits inside the DOS header's room.
  PeBuilder b;
  b.lfanew = 0x40;
  const Bytes image = b.Build();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  const std::u16string out = Path(u"short.exe");
  ASSERT_TRUE(editor.Write(out));
  const Bytes written = ReadFileBytes(out);
  ASSERT_EQ(written.size(), image.size());
  EXPECT_EQ(Read32(written, 0x40), 0x00004550u);
  CPE_ImageEditor reread;
  EXPECT_TRUE(reread.Load(out));
}

}  // namespace
}  // namespace pe
