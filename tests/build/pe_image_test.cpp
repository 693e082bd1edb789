// The image editor on images made by the test builder: what it accepts, the exact header
// fields and bytes it writes, and that it refuses what it cannot hold without changing
// anything.
#include "build/pe_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "build/pe_builder.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/scratch.h"

namespace build {
namespace {

using brankel_test::ImportNames;
using brankel_test::LayoutOf;
using brankel_test::PeBuilder;
using brankel_test::PeLayout;
using brankel_test::ReadFileBytes;
using brankel_test::ReferenceChecksum;
using brankel_test::Read16;
using brankel_test::Read32;
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
  EXPECT_EQ(s.VirtualAddress, 0x4000u);    // 0x3000 + 0x180, up to 0x1000
  EXPECT_EQ(s.PointerToRawData, 0xE00u);   // 0x400 + 3 * 0x2F0 = 0xCD0, up to 0x200
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
  // Only sections without file data: the next free file offset would be 0.
  Bytes image = Builder().Build();
  const PeLayout layout = LayoutOf(image);
  for (int i = 0; i < 3; ++i) {
    Write32(image, layout.section_table + i * 40 + 16, 0);
    Write32(image, layout.section_table + i * 40 + 20, 0);
  }
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  EXPECT_EQ(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.SectionCount(), 3);
  // One data-less section placed right after the headers is enough.
  Write32(image, layout.section_table + 2 * 40 + 20, 0x400);
  ASSERT_TRUE(editor.Parse(image.data(), image.size()));
  ASSERT_NE(editor.AddDataSection(16), nullptr);
  EXPECT_EQ(editor.Section(3).PointerToRawData, 0x400u);
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
  auto refused = [](const Bytes& bytes) {
    CPE_ImageEditor editor;
    return !editor.Parse(bytes.data(), bytes.size()) && !editor.IsLoaded();
  };
  Bytes b = good;
  b[1] = 'X';
  EXPECT_TRUE(refused(b)) << "no MZ";
  for (uint32_t lfanew : {0xFFFFFFF0u, 0x7FFFFFFFu, static_cast<uint32_t>(good.size() - 2), 0x40u}) {
    b = good;
    Write32(b, 0x3C, lfanew);
    EXPECT_TRUE(refused(b)) << "e_lfanew " << lfanew;
  }
  b = good;
  b[layout.nt + 3] = 1;
  EXPECT_TRUE(refused(b)) << "PE followed by a non-zero byte";
  for (uint16_t count : {0, 21, 0xFFFF}) {
    b = good;
    Write16(b, layout.nt + 6, count);
    EXPECT_TRUE(refused(b)) << "section count " << count;
  }
  b = good;
  Write16(b, layout.nt + 0x14, GetParam() ? 224 : 240);
  EXPECT_TRUE(refused(b)) << "optional header size of the other width";
  b = good;
  Write16(b, layout.nt + 0x18, 0x107);
  EXPECT_TRUE(refused(b)) << "ROM magic";
  b = good;
  Write32(b, layout.nt + 0x3C, 0);
  EXPECT_TRUE(refused(b)) << "file alignment 0";
  b = good;
  Write32(b, layout.nt + 0x38, 0x1001);
  EXPECT_TRUE(refused(b)) << "section alignment not a power of two";
  b = good;
  Write32(b, layout.section_table + 40 + 20, static_cast<uint32_t>(good.size() - 0x100));
  EXPECT_TRUE(refused(b)) << "raw data past the end";
  b = good;
  Write32(b, layout.section_table + 40 + 16, 0xFFFFFF00u);
  EXPECT_TRUE(refused(b)) << "huge raw size";
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
}  // namespace build
