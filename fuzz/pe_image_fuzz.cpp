// Any bytes as an executable to edit: parsed, an import dropped, a payload section added,
// written and read back. Whatever parses must keep every section's data inside the image
// and must write a file that parses again with every section's data where the headers say.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_file.h"
#include "pe/pe_image.h"
#include "platform/platform.h"

namespace {

void CheckSlotsInsideImage(const pe::CPE_ImageEditor& editor) {
  for (int i = 0; i < editor.SectionCount(); ++i) {
    if (editor.SlotState(i) != pe::CPE_ImageEditor::kSlotLoaded) continue;
    const pe::SectionHeader& s = editor.Section(i);
    const uint8_t* data = editor.SectionData(i);
    if (data < editor.Image() || data > editor.Image() + editor.ImageSize()) __builtin_trap();
    if (s.SizeOfRawData != 0 && static_cast<size_t>(data - editor.Image()) + s.SizeOfRawData > editor.ImageSize()) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchFile output(u"pfz");
  pe::CPE_ImageEditor editor;
  if (!editor.Parse(data, size)) return 0;
  CheckSlotsInsideImage(editor);

  const std::string image_before(reinterpret_cast<const char*>(editor.Image()), editor.ImageSize());
  const bool removed = editor.RemoveImport(size % 2 ? "KERNEL32.DLL" : "comctl32.dll");
  // A refusal changes nothing; an edit never changes the size.
  if (editor.ImageSize() != image_before.size()) __builtin_trap();
  if (!removed && std::memcmp(editor.Image(), image_before.data(), image_before.size()) != 0) __builtin_trap();

  const int sections = editor.SectionCount();
  const uint32_t payload = static_cast<uint32_t>(size % 3000 + 1);
  uint8_t* block = editor.AddDataSection(payload);
  if (block != nullptr) {
    if (editor.SectionCount() != sections + 1) __builtin_trap();
    std::memset(block, 0xA5, payload);
  } else if (editor.SectionCount() != sections) {
    __builtin_trap();
  }

  if (output.Path().empty() || !editor.Write(output.Path())) return 0;
  // What Write accepts it lays out without overlaps, in whatever order the table lists
  // the sections: the file reads back whole, every section's bytes where its header says.
  pe::CPE_ImageEditor reread;
  if (!reread.Load(output.Path()) || reread.SectionCount() != editor.SectionCount()) __builtin_trap();
  CheckSlotsInsideImage(reread);
  // Nothing but the payload (and alignment) makes the file grow.
  if (reread.ImageSize() > image_before.size() + uint64_t{payload} + 3 * 0x10000) __builtin_trap();
  for (int i = 0; i < editor.SectionCount(); ++i) {
    const pe::SectionHeader& s = editor.Section(i);
    if (std::memcmp(&reread.Section(i), &s, sizeof(s)) != 0) __builtin_trap();
    if (s.SizeOfRawData == 0) continue;
    size_t have = s.SizeOfRawData;
    if (editor.SlotState(i) == pe::CPE_ImageEditor::kSlotLoaded) {
      have = std::min<size_t>(have, editor.ImageSize() - static_cast<size_t>(editor.SectionData(i) - editor.Image()));
    }
    if (std::memcmp(reread.SectionData(i), editor.SectionData(i), have) != 0) __builtin_trap();
  }
  pe::CPE_ImageEditor::FixChecksum(output.Path());
  return 0;
}
