// The picture-file builders, byte by byte, and the fixture programs made from their
// output: that the editor takes both programs, and that windres put in what fixture.rc
// names, read back here without the editor's code.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pe/pe_image.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/fixtures.h"
#include "support/image_files.h"
#include "support/pe_builder.h"
#include "support/scratch.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace brankel_test {
namespace {

using Bytes = std::vector<uint8_t>;

// Rows are whole 32-bit words: bytes = ceil(bits per row / 32) * 4, written out longhand.
uint32_t PaddedRow(uint32_t bits_per_row) {
  uint32_t bytes = bits_per_row / 8 + (bits_per_row % 8 != 0 ? 1 : 0);
  while (bytes % 4 != 0) ++bytes;
  return bytes;
}

Bytes Slice(const Bytes& bytes, size_t at, size_t size) {
  if (at > bytes.size() || size > bytes.size() - at) return {};
  return Bytes(bytes.begin() + at, bytes.begin() + at + size);
}

// ---- Bitmap files --------------------------------------------------------------------

struct BitmapCase {
  int width;
  int height;
  int bits;
};

TEST(ImageFileTest, BitmapHeadersDescribeTheBytes) {
  for (const BitmapCase c : {BitmapCase{64, 48, 24}, BitmapCase{1, 1, 24}, BitmapCase{5, 3, 24}, BitmapCase{7, 2, 8},
                             BitmapCase{4, 4, 8}, BitmapCase{1, 3, 8}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.bits));
    const Bytes file = MakeBitmapFile(c.width, c.height, c.bits, 9);
    const uint32_t palette = c.bits == 8 ? 1024 : 0;
    const uint32_t row = PaddedRow(c.width * c.bits);
    ASSERT_EQ(file.size(), 54 + palette + row * c.height);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Read32(file, 2), file.size());
    EXPECT_EQ(Read32(file, 6), 0u);  // reserved words
    EXPECT_EQ(Read32(file, 10), 54 + palette);
    // BITMAPINFOHEADER
    EXPECT_EQ(Read32(file, 14), 40u);
    EXPECT_EQ(Read32(file, 18), static_cast<uint32_t>(c.width));
    EXPECT_EQ(Read32(file, 22), static_cast<uint32_t>(c.height));  // positive: bottom-up
    EXPECT_EQ(Read16(file, 26), 1);
    EXPECT_EQ(Read16(file, 28), c.bits);
    EXPECT_EQ(Read32(file, 30), 0u);
    EXPECT_EQ(Read32(file, 34), row * c.height);
    EXPECT_EQ(Read32(file, 46), c.bits == 8 ? 256u : 0u);
    EXPECT_EQ(DibRowBytes(c.width, c.bits), row);
  }
}

TEST(ImageFileTest, BitmapRowsArePaddedWithZeros) {
  for (const BitmapCase c : {BitmapCase{1, 2, 24}, BitmapCase{2, 2, 24}, BitmapCase{3, 2, 24}, BitmapCase{5, 3, 24},
                             BitmapCase{1, 2, 8}, BitmapCase{6, 2, 8}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.bits));
    const Bytes file = MakeBitmapFile(c.width, c.height, c.bits, 200);
    const uint32_t used = c.width * c.bits / 8;
    const uint32_t row = PaddedRow(c.width * c.bits);
    ASSERT_GT(row, used) << "each case needs padding";
    const uint32_t pixels = Read32(file, 10);
    for (int line = 0; line < c.height; ++line) {
      for (uint32_t i = used; i < row; ++i) EXPECT_EQ(file[pixels + line * row + i], 0) << "row " << line;
    }
  }
  // Widths whose rows fit 4 bytes exactly have no padding at all.
  EXPECT_EQ(MakeBitmapFile(4, 1, 24, 0).size(), 54u + 12);
  EXPECT_EQ(MakeBitmapFile(8, 1, 8, 0).size(), 54u + 1024 + 8);
}

TEST(ImageFileTest, BitmapRowsRunBottomUp) {
  // The picture's top line is the same in a picture one line taller; stored bottom-up, it
  // is the last row of both files, while their first rows are different lines.
  for (int bits : {24, 8}) {
    const Bytes short_one = MakeBitmapFile(9, 4, bits, 3);
    const Bytes tall_one = MakeBitmapFile(9, 5, bits, 3);
    const uint32_t row = DibRowBytes(9, bits);
    const uint32_t pixels = Read32(short_one, 10);
    EXPECT_EQ(Slice(short_one, short_one.size() - row, row), Slice(tall_one, tall_one.size() - row, row));
    EXPECT_NE(Slice(short_one, pixels, row), Slice(tall_one, pixels, row));
  }
}

TEST(ImageFileTest, BitmapSeedsMakeDifferentPictures) {
  for (int bits : {24, 8}) {
    const Bytes a = MakeBitmapFile(16, 8, bits, 1);
    EXPECT_EQ(a, MakeBitmapFile(16, 8, bits, 1));
    const Bytes b = MakeBitmapFile(16, 8, bits, 2);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(Slice(a, 0, 54), Slice(b, 0, 54)) << "headers depend only on the shape";
    EXPECT_NE(Slice(a, 54, a.size() - 54), Slice(b, 54, b.size() - 54));
  }
  // A palette picture differs in its palette, not only in its indexes.
  EXPECT_NE(Slice(MakeBitmapFile(4, 4, 8, 1), 54, 1024), Slice(MakeBitmapFile(4, 4, 8, 2), 54, 1024));
}

TEST(ImageFileTest, BitmapBuilderRefusesWhatItCannotMake) {
  EXPECT_TRUE(MakeBitmapFile(0, 4, 24, 0).empty());
  EXPECT_TRUE(MakeBitmapFile(4, 0, 24, 0).empty());
  EXPECT_TRUE(MakeBitmapFile(-3, 4, 8, 0).empty());
  for (int bits : {0, 1, 4, 16, 32}) EXPECT_TRUE(MakeBitmapFile(4, 4, bits, 0).empty()) << bits;
}

// ---- Icon files ----------------------------------------------------------------------

// The bytes of one icon image of `size` pixels: header, 32-bit colours, 1-bit mask.
uint32_t IconImageBytes(int size) { return 40 + size * size * 4 + PaddedRow(size) * size; }

TEST(ImageFileTest, IconDirectoryDescribesEachImage) {
  const std::vector<int> sizes = {16, 32, 48, 256, 1};
  const Bytes file = MakeIconFile(sizes, 0x44);
  ASSERT_GE(file.size(), 6u + 16 * sizes.size());
  EXPECT_EQ(Read16(file, 0), 0);
  EXPECT_EQ(Read16(file, 2), 1);
  EXPECT_EQ(Read16(file, 4), static_cast<uint16_t>(sizes.size()));
  uint32_t expected_offset = 6 + 16 * sizes.size();
  for (size_t i = 0; i < sizes.size(); ++i) {
    const int size = sizes[i];
    SCOPED_TRACE("image " + std::to_string(i) + ", " + std::to_string(size) + " pixels");
    const size_t entry = 6 + 16 * i;
    EXPECT_EQ(file[entry], size == 256 ? 0 : size);
    EXPECT_EQ(file[entry + 1], size == 256 ? 0 : size);
    EXPECT_EQ(file[entry + 2], 0);  // colour count: none below 8 bits
    EXPECT_EQ(file[entry + 3], 0);
    EXPECT_EQ(Read16(file, entry + 4), 1);
    EXPECT_EQ(Read16(file, entry + 6), 32);
    const uint32_t bytes = Read32(file, entry + 8);
    const uint32_t offset = Read32(file, entry + 12);
    EXPECT_EQ(bytes, IconImageBytes(size));
    EXPECT_EQ(offset, expected_offset) << "images follow each other in entry order";
    ASSERT_LE(offset + static_cast<uint64_t>(bytes), file.size());
    expected_offset = offset + bytes;

    // The image's own header agrees with its entry, the height doubled for the mask.
    EXPECT_EQ(Read32(file, offset), 40u);
    EXPECT_EQ(Read32(file, offset + 4), static_cast<uint32_t>(size));
    EXPECT_EQ(Read32(file, offset + 8), static_cast<uint32_t>(size * 2));
    EXPECT_EQ(Read16(file, offset + 12), 1);
    EXPECT_EQ(Read16(file, offset + 14), 32);
    EXPECT_EQ(Read32(file, offset + 16), 0u);
    EXPECT_EQ(Read32(file, offset + 20), bytes - 40);
    EXPECT_EQ(Slice(file, offset, bytes), MakeIconImage(size, static_cast<uint8_t>(0x44 + i * 17)));
  }
  EXPECT_EQ(expected_offset, file.size()) << "nothing after the last image";
}

TEST(ImageFileTest, IconMaskMarksTheTransparentFrame) {
  // 16 pixels leave half of each 4-byte mask row as padding; 33 need a second word.
  for (int size : {16, 33, 3}) {
    SCOPED_TRACE(std::to_string(size) + " pixels");
    const Bytes image = MakeIconImage(size, 5);
    ASSERT_EQ(image.size(), IconImageBytes(size));
    const uint32_t mask_row = PaddedRow(size);
    const size_t mask = 40 + size * size * 4;
    // Stored rows run bottom-up; the frame is the same either way up.
    for (int row = 0; row < size; ++row) {
      for (int x = 0; x < size; ++x) {
        const bool frame = row == 0 || row == size - 1 || x == 0 || x == size - 1;
        const bool masked = (image[mask + row * mask_row + x / 8] >> (7 - x % 8)) & 1;
        const uint8_t alpha = image[40 + (row * size + x) * 4 + 3];
        ASSERT_EQ(masked, frame) << "mask at " << x << "," << row;
        ASSERT_EQ(alpha, frame ? 0 : 255) << "alpha at " << x << "," << row;
      }
      for (uint32_t bit = size; bit < mask_row * 8; ++bit) {
        ASSERT_EQ((image[mask + row * mask_row + bit / 8] >> (7 - bit % 8)) & 1, 0) << "padding bit " << bit;
      }
    }
  }
}

TEST(ImageFileTest, IconImagesDifferBetweenEntriesAndSeeds) {
  const Bytes file = MakeIconFile({32, 32}, 7);
  EXPECT_EQ(file, MakeIconFile({32, 32}, 7));
  const uint32_t bytes = IconImageBytes(32);
  EXPECT_NE(Slice(file, Read32(file, 6 + 12), bytes), Slice(file, Read32(file, 22 + 12), bytes));
  EXPECT_NE(MakeIconImage(16, 1), MakeIconImage(16, 2));
  EXPECT_EQ(Slice(MakeIconImage(16, 1), 0, 40), Slice(MakeIconImage(16, 2), 0, 40));
}

TEST(ImageFileTest, IconBuilderRefusesWhatItCannotMake) {
  EXPECT_TRUE(MakeIconFile({}, 0).empty());
  EXPECT_TRUE(MakeIconFile({0}, 0).empty());
  EXPECT_TRUE(MakeIconFile({257}, 0).empty());
  EXPECT_TRUE(MakeIconFile({16, -1}, 0).empty());
  EXPECT_TRUE(MakeIconImage(0, 0).empty());
  EXPECT_EQ(MakeIconImage(256, 0).size(), IconImageBytes(256));
}

// ---- The fixture programs ------------------------------------------------------------

Bytes ReadFixture(const char* name) {
  const std::optional<std::string> text = plat::ReadWholeFile(FixturePath(name));
  return text ? Bytes(text->begin(), text->end()) : Bytes();
}

// File offset of `rva` through the section table; nullopt outside every section's data.
std::optional<uint32_t> RvaToOffset(const Bytes& image, uint32_t rva) {
  const PeLayout layout = LayoutOf(image);
  const uint16_t count = Read16(image, layout.nt + 6);
  for (uint32_t i = 0; i < count && layout.section_table + (i + 1) * 40 <= image.size(); ++i) {
    const size_t header = layout.section_table + i * 40;
    const uint32_t address = Read32(image, header + 12);
    const uint32_t raw_size = Read32(image, header + 16);
    if (rva >= address && rva - address < raw_size) return Read32(image, header + 20) + (rva - address);
  }
  return std::nullopt;
}

// The data of resource `type`/`id` in its first language, read from the resource tree of
// the image; empty when it is not there or the tree does not hold together.
Bytes ResourceData(const Bytes& image, uint16_t type, uint16_t id) {
  const PeLayout layout = LayoutOf(image);
  const std::optional<uint32_t> root = RvaToOffset(image, Read32(image, layout.directories + 2 * 8));
  if (!root) return {};
  // The entry of `wanted` in the directory at `directory` (from the root), or its first
  // entry when nothing is wanted: the offset it points to, with the subdirectory bit.
  auto entry = [&](uint32_t directory, std::optional<uint16_t> wanted) -> std::optional<uint32_t> {
    const size_t at = *root + directory;
    if (at + 16 > image.size()) return std::nullopt;
    const uint32_t named = Read16(image, at + 12);
    const uint32_t count = named + Read16(image, at + 14);
    for (uint32_t i = named; i < count && at + 16 + (i + 1) * 8 <= image.size(); ++i) {
      const size_t e = at + 16 + i * 8;
      if (!wanted || Read32(image, e) == *wanted) return Read32(image, e + 4);
    }
    return std::nullopt;
  };
  const std::optional<uint32_t> types = entry(0, type);
  if (!types || !(*types & 0x80000000u)) return {};
  const std::optional<uint32_t> names = entry(*types & 0x7FFFFFFF, id);
  if (!names || !(*names & 0x80000000u)) return {};
  const std::optional<uint32_t> leaf = entry(*names & 0x7FFFFFFF, std::nullopt);
  if (!leaf || (*leaf & 0x80000000u) || *root + *leaf + 16 > image.size()) return {};
  const std::optional<uint32_t> data = RvaToOffset(image, Read32(image, *root + *leaf));
  return data ? Slice(image, *data, Read32(image, *root + *leaf + 4)) : Bytes();
}

constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtBitmap = 2;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtVersion = 16;

class FixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FixturesAvailable()) GTEST_SKIP() << kNoFixtures;
  }
};

TEST_F(FixtureTest, BothProgramsParseAsTheirKind) {
  for (int bits : {32, 64}) {
    const std::string name = "fixture" + std::to_string(bits) + ".exe";
    SCOPED_TRACE(name);
    Bytes image = ReadFixture(name.c_str());
    ASSERT_FALSE(image.empty());
    const PeLayout layout = LayoutOf(image);
    EXPECT_EQ(Read16(image, layout.nt + 4), bits == 64 ? 0x8664 : 0x14C);                // machine
    EXPECT_EQ(Read16(image, layout.nt + 0x18 + 68), 3) << "a console program";           // subsystem
    EXPECT_EQ(Read32(image, layout.nt + 0x0C), 0u) << "stripped: no symbol table left";  // symbols

    pe::CPE_ImageEditor editor;
    ASSERT_TRUE(editor.Parse(std::move(image)));
    EXPECT_EQ(editor.IsPe32Plus(), bits == 64);
    const uint32_t rsrc = editor.DirectoryAddress(2);
    ASSERT_NE(rsrc, 0u);
    EXPECT_NE(editor.DirectorySize(2), 0u);
    // The resource directory starts the section windres named for it.
    bool found = false;
    for (int slot = 0; slot < editor.SectionCount(); ++slot) {
      if (editor.Section(slot).VirtualAddress == rsrc) {
        found = true;
        EXPECT_EQ(std::string(editor.Section(slot).Name, 5), ".rsrc");
      }
    }
    EXPECT_TRUE(found) << "no section starts at the resource directory";
  }
}

TEST_F(FixtureTest, PictureFilesAreTheBuildersOwn) {
  EXPECT_EQ(ReadFixture("fixture.ico"), FixtureIconFile());
  EXPECT_EQ(ReadFixture("other.ico"), FixtureOtherIconFile());
  EXPECT_EQ(ReadFixture("picture.bmp"), FixturePictureFile());
}

// An icon group holds the icon file's directory with each image's offset replaced by the
// number of its RT_ICON resource: 6-byte header, then 14-byte entries.
void ExpectIconGroupOf(const Bytes& image, uint16_t group, const Bytes& icon_file) {
  SCOPED_TRACE("icon group " + std::to_string(group));
  const Bytes directory = ResourceData(image, kRtGroupIcon, group);
  const uint16_t count = Read16(icon_file, 4);
  ASSERT_EQ(directory.size(), 6u + 14 * count);
  EXPECT_EQ(Slice(directory, 0, 6), Slice(icon_file, 0, 6));
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 14 * i;
    const size_t file_entry = 6 + 16 * i;
    EXPECT_EQ(Slice(directory, entry, 12), Slice(icon_file, file_entry, 12)) << "entry " << i;
    const Bytes icon = ResourceData(image, kRtIcon, Read16(directory, entry + 12));
    EXPECT_EQ(icon, Slice(icon_file, Read32(icon_file, file_entry + 12), Read32(icon_file, file_entry + 8)))
        << "image " << i << " (resource " << Read16(directory, entry + 12) << ")";
  }
}

TEST_F(FixtureTest, ProgramsCarryThePictureFiles) {
  const Bytes icons = FixtureIconFile();
  const Bytes other = FixtureOtherIconFile();
  const Bytes picture = FixturePictureFile();
  for (const char* name : {"fixture32.exe", "fixture64.exe"}) {
    SCOPED_TRACE(name);
    const Bytes image = ReadFixture(name);
    ASSERT_FALSE(image.empty());
    ExpectIconGroupOf(image, kFixtureIconGroup, icons);
    ExpectIconGroupOf(image, kFixtureOtherIconGroup, other);
    // A bitmap resource is the file without its 14-byte file header.
    EXPECT_EQ(ResourceData(image, kRtBitmap, kFixtureBitmap), Slice(picture, 14, picture.size() - 14));
    EXPECT_TRUE(ResourceData(image, kRtBitmap, kFixtureBitmap + 1).empty());
  }
}

// One block of version information: length, value length, type (1: text), key, value,
// children, each part aligned to 4 bytes from the start of the resource.
struct VersionBlock {
  std::u16string key;
  Bytes value;
  std::vector<VersionBlock> children;
};

bool ReadVersionBlock(const Bytes& data, size_t at, size_t end, int depth, VersionBlock* block) {
  auto align = [](size_t n) { return (n + 3) & ~size_t{3}; };
  if (depth > 4 || at + 6 > end) return false;
  const size_t length = Read16(data, at);
  const size_t value_units = Read16(data, at + 2);
  const bool text = Read16(data, at + 4) == 1;
  if (length < 6 || at + length > end) return false;
  end = at + length;
  size_t p = at + 6;
  for (; p + 2 <= end && Read16(data, p) != 0; p += 2) block->key.push_back(static_cast<char16_t>(Read16(data, p)));
  p = align(p + 2);
  const size_t value_bytes = text ? value_units * 2 : value_units;
  if (p + value_bytes > end) return false;
  block->value = Slice(data, p, value_bytes);
  for (p = align(p + value_bytes); p < end; p = align(p + Read16(data, p))) {
    block->children.emplace_back();
    if (!ReadVersionBlock(data, p, end, depth + 1, &block->children.back())) return false;
  }
  return true;
}

const VersionBlock* Child(const VersionBlock& block, std::u16string_view key) {
  for (const VersionBlock& child : block.children) {
    if (child.key == key) return &child;
  }
  return nullptr;
}

// A text value without its terminating zeros.
std::u16string Text(const Bytes& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.size(); i += 2) text.push_back(static_cast<char16_t>(value[i] | value[i + 1] << 8));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

TEST_F(FixtureTest, ProgramsCarryVersionInformation) {
  for (const char* name : {"fixture32.exe", "fixture64.exe"}) {
    SCOPED_TRACE(name);
    const Bytes data = ResourceData(ReadFixture(name), kRtVersion, 1);
    ASSERT_FALSE(data.empty());
    VersionBlock root;
    ASSERT_TRUE(ReadVersionBlock(data, 0, data.size(), 0, &root));
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u);  // the fixed file information
    EXPECT_EQ(Read32(root.value, 0), 0xFEEF04BDu);
    EXPECT_EQ(Read32(root.value, 8), 0x00010002u);   // file version 1.2
    EXPECT_EQ(Read32(root.value, 12), 0x00030004u);  //              .3.4

    const VersionBlock* strings = Child(root, u"StringFileInfo");
    ASSERT_NE(strings, nullptr);
    const VersionBlock* table = Child(*strings, u"040904B0");
    ASSERT_NE(table, nullptr);
    const std::vector<std::u16string> keys = {u"Comments",        u"CompanyName",      u"FileDescription",
                                              u"FileVersion",     u"InternalName",     u"LegalCopyright",
                                              u"LegalTrademarks", u"OriginalFilename", u"ProductName",
                                              u"ProductVersion",  u"PrivateBuild",     u"SpecialBuild"};
    ASSERT_EQ(table->children.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(table->children[i].key, keys[i]);
      EXPECT_FALSE(Text(table->children[i].value).empty()) << plat::Utf16ToUtf8(keys[i]) << " is empty";
    }
    EXPECT_EQ(Text(Child(*table, u"FileVersion")->value), u"1.2.3.4");

    const VersionBlock* variables = Child(root, u"VarFileInfo");
    ASSERT_NE(variables, nullptr);
    const VersionBlock* translation = Child(*variables, u"Translation");
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation->value, (Bytes{0x09, 0x04, 0xB0, 0x04}));
  }
}

// ---- Edited programs ----------------------------------------------------------------

class EditedFixtureTest : public ScratchTest {
 protected:
  void SetUp() override {
    if (!FixturesAvailable()) GTEST_SKIP() << kNoFixtures;
    if (!UnstrippedFixturesAvailable()) GTEST_SKIP() << "no unstripped fixture programs in this build";
    ScratchTest::SetUp();
  }
  void TearDown() override {
    if (!dir_.empty()) ScratchTest::TearDown();
  }
};

// The COFF symbol and string tables of a program, by its own header; empty when none.
Bytes SymbolTables(const Bytes& image) {
  const PeLayout layout = LayoutOf(image);
  const uint32_t at = Read32(image, layout.nt + 0x0C);
  if (at == 0) return {};
  const size_t strings = at + size_t{Read32(image, layout.nt + 0x10)} * 18;
  if (strings + 4 > image.size()) return {};
  return Slice(image, at, strings - at + Read32(image, strings));
}

TEST_F(EditedFixtureTest, EveryProgramKeepsItsSectionsAndSymbolsInAnyFileOrder) {
  for (const char* name : {"fixture32.exe", "fixture64.exe", "unstripped32.exe", "unstripped64.exe"}) {
    for (bool reversed : {false, true}) {
      SCOPED_TRACE(std::string(name) + (reversed ? ", data in reverse order" : ""));
      Bytes image = ReadFixture(name);
      if (reversed) image = ReverseFileOrder(image);
      const Bytes tables = SymbolTables(image);
      EXPECT_EQ(tables.empty(), name[0] == 'f') << "only the unstripped programs carry symbols";
      pe::CPE_ImageEditor editor;
      ASSERT_TRUE(editor.Parse(image.data(), image.size()));
      uint8_t* block = editor.AddDataSection(0x1234);
      ASSERT_NE(block, nullptr) << "sections: " << editor.SectionCount();
      std::memset(block, 0x6B, 0x1234);
      const std::u16string out = Path(u"edited.exe");
      ASSERT_TRUE(editor.Write(out));
      const Bytes written = ReadFileBytes(out);
      EXPECT_EQ(SectionsCarriedMismatch(image, written), "");
      EXPECT_EQ(SymbolTables(written), tables);
      const PeLayout layout = LayoutOf(written);
      const int last = Read16(written, layout.nt + 6) - 1;
      const uint32_t payload = Read32(written, layout.section_table + last * 40 + 20);
      ASSERT_LT(payload, written.size());
      EXPECT_EQ(written[payload], 0x6B);
      if (!tables.empty()) {
        EXPECT_EQ(Read32(written, layout.nt + 0x0C), payload + 0x1400);
      }
    }
  }
}

#ifndef _WIN32
// The binary tools of the MinGW toolchain as a second reader of what the editor writes:
// they refuse a symbol table pointer that leads into other data, or section names whose
// strings are gone.
TEST_F(EditedFixtureTest, BinaryToolsReadEditedUnstrippedPrograms) {
  for (int bits : {32, 64}) {
    const std::string tool = bits == 64 ? "x86_64-w64-mingw32-objdump" : "i686-w64-mingw32-objdump";
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
      GTEST_SKIP() << tool << " not found (Debian package binutils-mingw-w64)";
    }
    SCOPED_TRACE(tool);
    pe::CPE_ImageEditor editor;
    ASSERT_TRUE(editor.Load(FixturePath(bits == 64 ? "unstripped64.exe" : "unstripped32.exe")));
    ASSERT_NE(editor.AddDataSection(0x2000), nullptr);
    const std::string host =
        ::testing::TempDir() + "brankel_edited_" + std::to_string(::getpid()) + "_" + std::to_string(bits) + ".exe";
    ASSERT_TRUE(editor.Write(plat::PathFromHost(host)));
    std::string output;
    FILE* pipe = ::popen((tool + " -h '" + host + "' 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    std::remove(host.c_str());
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find(".mdata"), std::string::npos) << output;
    EXPECT_NE(output.find(".debug_info"), std::string::npos) << "long section names resolved:\n" << output;
  }
}
#endif

}  // namespace
}  // namespace brankel_test
