// The system as the judge of what the editor writes: its image-help checksum must agree
// with ours, and its loader must map an edited copy of a real 64-bit program, with the
// payload readable where the new section header says.
#include <windows.h>
// The platform layer's function of that name, not the API's A/W macro.
#undef GetModuleFileName

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/win32/system_checks.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "support/pe_builder.h"
#include "support/scratch.h"

namespace pe {
namespace {

using brankel_test::ImportNames;
using brankel_test::PeBuilder;
using brankel_test::Read32;
using Bytes = std::vector<uint8_t>;

using brankel_test::ExpectSystemChecksum;
using brankel_test::ReadFileBytes;

const wchar_t* Wide(const std::u16string& path) { return reinterpret_cast<const wchar_t*>(path.c_str()); }

// The program without its trailing debugging sections, as a release build ships: this
// test program carries so many that no section slot is left for the payload. They are
// never mapped, so dropping them from the end changes nothing the loader sees.
Bytes WithoutDebugSections(Bytes image) {
  const brankel_test::PeLayout layout = brankel_test::LayoutOf(image);
  uint16_t count = brankel_test::Read16(image, layout.nt + 6);
  auto header = [&](int i) { return layout.section_table + i * 40; };
  // Long names such as ".debug_info" appear as "/" and an offset into the symbol strings.
  auto is_debug = [&](int i) { return std::memcmp(&image[header(i)], ".debug", 6) == 0 || image[header(i)] == '/'; };
  while (count > 1 && is_debug(count - 1)) {
    --count;
    std::fill(image.begin() + header(count), image.begin() + header(count) + 40, 0);
  }
  uint32_t end = 0;
  for (int i = 0; i < count; ++i) {
    if (Read32(image, header(i) + 16) != 0)
      end = std::max(end, Read32(image, header(i) + 20) + Read32(image, header(i) + 16));
  }
  const uint32_t section_alignment = Read32(image, layout.nt + 0x38);
  const uint32_t virtual_end = Read32(image, header(count - 1) + 12) + Read32(image, header(count - 1) + 8);
  brankel_test::Write16(image, layout.nt + 6, count);
  brankel_test::Write32(image, layout.nt + 0x0C, 0);  // the symbol table went with them
  brankel_test::Write32(image, layout.nt + 0x10, 0);
  brankel_test::Write32(image, layout.nt + 0x50,
                        (virtual_end + section_alignment - 1) / section_alignment * section_alignment);
  image.resize(end);
  return image;
}

class PeLoaderTest : public brankel_test::ScratchTest {};

TEST_F(PeLoaderTest, ChecksumsOfBuiltImagesAgreeWithTheSystem) {
  for (bool wide : {false, true}) {
    for (const char* certificate : {"", "sig"}) {
      PeBuilder b;
      b.pe32plus = wide;
      b.section_count = 5;
      b.rsrc_slot = 2;
      b.imports = {"KERNEL32.DLL", "USER32.DLL"};
      b.certificate = certificate;
      const Bytes image = b.Build();
      CPE_ImageEditor editor;
      ASSERT_TRUE(editor.Parse(image.data(), image.size()));
      uint8_t* block = editor.AddDataSection(0x321);
      ASSERT_NE(block, nullptr);
      for (int i = 0; i < 0x321; ++i) block[i] = static_cast<uint8_t>(i ^ 0x5C);
      const std::u16string out = Path(u"built.exe");
      ASSERT_TRUE(editor.Write(out));
      SCOPED_TRACE(std::string(wide ? "PE32+" : "PE32") + (*certificate ? " with a certificate" : ""));
      ExpectSystemChecksum(ReadFileBytes(out));

      // An odd-length file, checksummed in place.
      Bytes odd = image;
      odd.push_back(0x77);
      ASSERT_TRUE(brankel_test::WriteBytes(out, std::string(odd.begin(), odd.end())));
      ASSERT_TRUE(CPE_ImageEditor::FixChecksum(out));
      ExpectSystemChecksum(ReadFileBytes(out));
    }
  }
}

TEST_F(PeLoaderTest, AnEditedCopyOfThisProgramLoadsAsAnImage) {
  const std::u16string self = plat::GetModuleFileName();
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Load(self)) << brankel_test::Narrow(self);
  EXPECT_EQ(editor.IsPe32Plus(), sizeof(void*) == 8);
  if (editor.SectionCount() == CPE_ImageEditor::kMaxSections) {
    EXPECT_EQ(editor.AddDataSection(16), nullptr);
    const std::u16string stripped = Path(u"stripped.exe");
    const Bytes bytes = WithoutDebugSections(Bytes(editor.Image(), editor.Image() + editor.ImageSize()));
    ASSERT_TRUE(brankel_test::WriteBytes(stripped, std::string(bytes.begin(), bytes.end())));
    ASSERT_TRUE(editor.Load(stripped));
    ASSERT_LT(editor.SectionCount(), CPE_ImageEditor::kMaxSections);
  }

  // Drop a library the program imports, but not the one everything needs.
  const Bytes original(editor.Image(), editor.Image() + editor.ImageSize());
  const std::vector<std::string> before = ImportNames(original);
  ASSERT_GE(before.size(), 2u);
  std::string dropped;
  for (const std::string& name : before) {
    if (_stricmp(name.c_str(), "KERNEL32.dll") != 0) dropped = name;
  }
  ASSERT_FALSE(dropped.empty());
  ASSERT_TRUE(editor.RemoveImport(dropped));

  const uint32_t payload = 5000;
  uint8_t* block = editor.AddDataSection(payload);
  ASSERT_NE(block, nullptr) << "sections: " << editor.SectionCount();
  for (uint32_t i = 0; i < payload; ++i) block[i] = static_cast<uint8_t>(i * 13 + 7);
  const int slot = editor.SectionCount() - 1;

  const std::u16string out = Path(u"edited.exe");
  ASSERT_TRUE(editor.Write(out));
  const Bytes written = ReadFileBytes(out);
  ExpectSystemChecksum(written);
  std::vector<std::string> after = before;
  after.erase(std::find(after.begin(), after.end(), dropped));
  EXPECT_EQ(ImportNames(written), after);

  HMODULE module = LoadLibraryExW(Wide(out), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << "error " << GetLastError();
  // The low bits of a data-file handle only mark it as one.
  const uint8_t* base = reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t{3});
  EXPECT_EQ(base[0], 'M');
  EXPECT_EQ(base[1], 'Z');
  const uint8_t* mdata = base + editor.Section(slot).VirtualAddress;
  bool same = true;
  for (uint32_t i = 0; i < payload && same; ++i) same = mdata[i] == static_cast<uint8_t>(i * 13 + 7);
  EXPECT_TRUE(same) << "payload not found at the section's address";
  FreeLibrary(module);

  CPE_ImageEditor reread;
  ASSERT_TRUE(reread.Load(out));
  ASSERT_EQ(reread.SectionCount(), slot + 1);
  EXPECT_EQ(0, std::memcmp(reread.Section(slot).Name, ".mdata\0\0", 8));
  EXPECT_EQ(0, std::memcmp(reread.SectionData(slot), block, payload));
}

// Sections without file data and data out of table order: the loader maps each section's
// bytes (or zeros) at its address, and the payload at its own.
TEST_F(PeLoaderTest, EditedImagesOfOddLayoutsMapEverySectionAtItsAddress) {
  int files = 0;
  for (bool wide : {false, true}) {
    for (const brankel_test::OddLayout& odd : brankel_test::OddLayouts()) {
      SCOPED_TRACE(std::string(wide ? "PE32+, " : "PE32, ") + odd.name);
      const Bytes image = brankel_test::OddLayoutBuilder(odd, wide).Build();
      const auto ranges = brankel_test::RawRanges(image);
      CPE_ImageEditor editor;
      ASSERT_TRUE(editor.Parse(image.data(), image.size()));
      uint8_t* block = editor.AddDataSection(0x321);
      ASSERT_NE(block, nullptr);
      for (int i = 0; i < 0x321; ++i) block[i] = static_cast<uint8_t>(i ^ 0xA5);
      // A file of its own each: the last one may still be mapped.
      const std::u16string out = Path(u"odd" + std::u16string(1, static_cast<char16_t>(u'a' + files++)) + u".exe");
      ASSERT_TRUE(editor.Write(out));
      ExpectSystemChecksum(ReadFileBytes(out));

      HMODULE module = LoadLibraryExW(Wide(out), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
      ASSERT_NE(module, nullptr) << "error " << GetLastError();
      const uint8_t* base = reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t{3});
      for (int slot = 0; slot < 4; ++slot) {
        const uint8_t* mapped = base + editor.Section(slot).VirtualAddress;
        const auto [at, size] = ranges[slot];
        bool same = true;
        for (uint32_t i = 0; i < 0x180 && same; ++i) same = mapped[i] == (size != 0 ? image[at + i] : 0);
        EXPECT_TRUE(same) << "section " << slot;
      }
      const uint8_t* mdata = base + editor.Section(4).VirtualAddress;
      bool same = true;
      for (int i = 0; i < 0x321 && same; ++i) same = mdata[i] == static_cast<uint8_t>(i ^ 0xA5);
      EXPECT_TRUE(same) << "payload not found at the section's address";
      FreeLibrary(module);
    }
  }
}

}  // namespace
}  // namespace pe
