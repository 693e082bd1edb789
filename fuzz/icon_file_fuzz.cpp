// Any bytes as an icon file for the build's icon: read from a file, its images located,
// and written as the icon group of a small executable. Whatever is accepted must have
// every image inside the file, and the executable must read back with the new group.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_file.h"
#include "pe/pe_image.h"
#include "pe/pe_resources.h"
#include "pe/resource_edits.h"

namespace {

// A one-section executable without resources, to write icon groups into.
std::vector<uint8_t> SmallExecutable() {
  std::vector<uint8_t> image(0x400, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    image[at] = static_cast<uint8_t>(v), image[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    put16(at, static_cast<uint16_t>(v)), put16(at + 2, static_cast<uint16_t>(v >> 16));
  };
  put16(0, 0x5A4D);
  put32(0x3C, 0x40);
  put32(0x40, 0x4550);
  put16(0x44, 0x14C);
  put16(0x46, 1);
  put16(0x54, 224);
  put16(0x58, 0x10B);
  put32(0x40 + 0x38, 0x1000);
  put32(0x40 + 0x3C, 0x200);
  put32(0x40 + 0x50, 0x2000);
  put32(0x40 + 0x54, 0x200);
  put32(0x40 + 0x74, 16);
  const size_t section = 0x40 + 248;
  image[section] = '.', image[section + 1] = 't';
  put32(section + 8, 0x100);
  put32(section + 12, 0x1000);
  put32(section + 16, 0x200);
  put32(section + 20, 0x200);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchFile icon_file(u"ifz");
  static const fuzz::ScratchFile exe(u"efz");
  if (!icon_file.Write(data, size)) return 0;
  const std::optional<pe::IconData> icon = pe::ReadIconFile(icon_file.Path());
  if (!icon) return 0;
  if (icon->length != size || icon->block.size() % 8 != 0 || icon->block.size() < size) __builtin_trap();
  const auto images = pe::IconImages(icon->Data(), icon->length);
  if (!images) __builtin_trap();

  const std::vector<uint8_t> program = SmallExecutable();
  if (!exe.Write(program.data(), program.size())) return 0;
  if (!pe::ReplaceIconGroup(exe.Path(), 107, *icon)) return 0;
  pe::CPE_ImageEditor editor;
  pe::ResourceTable table;
  if (!editor.Load(exe.Path()) || !table.Read(editor)) __builtin_trap();
  const pe::ResourceItem* group = table.Find(pe::res::kTypeGroupIcon, 107, 0);
  if (group == nullptr || group->data.size() != 6 + 14 * images->size()) __builtin_trap();
  return 0;
}
