// Any bytes as an executable whose resources are edited: the directory walked, the table
// changed and written back as a new section, then walked again. Whatever reads must read
// the same resources back from what was written, and version blocks must answer queries
// without reading past themselves.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "build/pe_image.h"
#include "build/pe_resources.h"
#include "build/resource_edits.h"
#include "build/version_info.h"

namespace {

void QueryVersion(const std::vector<uint8_t>& block) {
  for (const char16_t* path : {u"\\", u"\\VarFileInfo\\Translation", u"\\StringFileInfo\\040904b0\\ProductName"}) {
    const auto value = build::QueryVersionValue(block.data(), block.size(), path);
    if (value && (value->offset > block.size() || value->size > block.size() - value->offset)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The same bytes as a bare version block and as an icon file.
  QueryVersion(std::vector<uint8_t>(data, data + size));
  if (const auto images = build::IconImages(data, size)) {
    for (const build::IconImage& image : *images) {
      if (uint64_t{image.offset} + image.size > size) __builtin_trap();
    }
  }

  build::CPE_ImageEditor editor;
  if (!editor.Parse(data, size)) return 0;
  build::ResourceTable table;
  if (!table.Read(editor)) return 0;
  for (const build::ResourceItem& item : table.Items()) {
    if (item.type.IsId(build::res::kTypeVersion)) QueryVersion(item.data);
  }
  const size_t before = table.Items().size();
  const uint8_t extra[24] = {1, 2, 3};
  table.Update(build::res::kTypeBitmap, 352, 0, extra, sizeof(extra));
  table.Update(build::res::kTypeIcon, 1, 0, nullptr, 0);
  const size_t expected = table.Items().size();
  if (expected > before + 1) __builtin_trap();
  if (!build::RebuildResourceSection(editor, table)) return 0;
  // The rebuilt section's data never lands on another section's, whatever their order.
  for (int i = 0; i < editor.SectionCount(); ++i) {
    if (editor.SlotState(i) == build::CPE_ImageEditor::kSlotLoaded) continue;
    const build::SectionHeader& rebuilt = editor.Section(i);
    for (int j = 0; j < editor.SectionCount(); ++j) {
      const build::SectionHeader& other = editor.Section(j);
      if (j == i || rebuilt.SizeOfRawData == 0 || other.SizeOfRawData == 0) continue;
      if (uint64_t{rebuilt.PointerToRawData} < uint64_t{other.PointerToRawData} + other.SizeOfRawData &&
          uint64_t{other.PointerToRawData} < uint64_t{rebuilt.PointerToRawData} + rebuilt.SizeOfRawData) {
        __builtin_trap();
      }
    }
  }

  build::ResourceTable again;
  if (!again.Read(editor)) __builtin_trap();
  if (again.Items().size() != expected) __builtin_trap();
  const build::ResourceItem* picture = again.Find(build::res::kTypeBitmap, 352, 0);
  if (picture == nullptr || picture->data.size() != sizeof(extra) || picture->data[2] != 3) __builtin_trap();
  return 0;
}
