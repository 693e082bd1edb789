// Any bytes as an executable whose resources are edited: the directory walked, the table
// changed and written back as a new section, then walked again. Whatever reads must read
// the same resources back from what was written, and version blocks must answer queries
// without reading past themselves.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pe/pe_image.h"
#include "pe/pe_resources.h"
#include "pe/resource_edits.h"
#include "pe/version_info.h"

namespace {

void QueryVersion(const std::vector<uint8_t>& block) {
  for (const char16_t* path : {u"\\", u"\\VarFileInfo\\Translation", u"\\StringFileInfo\\040904b0\\ProductName"}) {
    const auto value = pe::QueryVersionValue(block.data(), block.size(), path);
    if (value && (value->offset > block.size() || value->size > block.size() - value->offset)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The same bytes as a bare version block and as an icon file.
  QueryVersion(std::vector<uint8_t>(data, data + size));
  if (const auto images = pe::IconImages(data, size)) {
    for (const pe::IconImage& image : *images) {
      if (uint64_t{image.offset} + image.size > size) __builtin_trap();
    }
  }

  pe::CPE_ImageEditor editor;
  if (!editor.Parse(data, size)) return 0;
  pe::ResourceTable table;
  if (!table.Read(editor)) return 0;
  for (const pe::ResourceItem& item : table.Items()) {
    if (item.type.IsId(pe::res::kTypeVersion)) QueryVersion(item.data);
  }
  const size_t before = table.Items().size();
  const uint8_t extra[24] = {1, 2, 3};
  table.Update(pe::res::kTypeBitmap, 352, 0, extra, sizeof(extra));
  table.Update(pe::res::kTypeIcon, 1, 0, nullptr, 0);
  const size_t expected = table.Items().size();
  if (expected > before + 1) __builtin_trap();
  if (!pe::RebuildResourceSection(editor, table)) return 0;
  // The rebuilt section's data never lands on another section's, whatever their order.
  for (int i = 0; i < editor.SectionCount(); ++i) {
    if (editor.SlotState(i) == pe::CPE_ImageEditor::kSlotLoaded) continue;
    const pe::SectionHeader& rebuilt = editor.Section(i);
    for (int j = 0; j < editor.SectionCount(); ++j) {
      const pe::SectionHeader& other = editor.Section(j);
      if (j == i || rebuilt.SizeOfRawData == 0 || other.SizeOfRawData == 0) continue;
      if (uint64_t{rebuilt.PointerToRawData} < uint64_t{other.PointerToRawData} + other.SizeOfRawData &&
          uint64_t{other.PointerToRawData} < uint64_t{rebuilt.PointerToRawData} + rebuilt.SizeOfRawData) {
        __builtin_trap();
      }
    }
  }

  pe::ResourceTable again;
  if (!again.Read(editor)) __builtin_trap();
  if (again.Items().size() != expected) __builtin_trap();
  const pe::ResourceItem* picture = again.Find(pe::res::kTypeBitmap, 352, 0);
  if (picture == nullptr || picture->data.size() != sizeof(extra) || picture->data[2] != 3) __builtin_trap();
  return 0;
}
