// Any bytes as an executable to edit: parsed, an import dropped, a payload section added,
// written and read back. Whatever parses must keep every section's data inside the image
// and must write a file that parses again with the payload where the headers say.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "build/pe_image.h"
#include "fuzz_file.h"
#include "platform/platform.h"

namespace {

void CheckSlotsInsideImage(const build::CPE_ImageEditor& editor) {
  for (int i = 0; i < editor.SectionCount(); ++i) {
    if (editor.SlotState(i) != build::CPE_ImageEditor::kSlotLoaded) continue;
    const build::SectionHeader& s = editor.Section(i);
    const uint8_t* data = editor.SectionData(i);
    if (data < editor.Image() || data > editor.Image() + editor.ImageSize()) __builtin_trap();
    if (s.SizeOfRawData != 0 &&
        static_cast<size_t>(data - editor.Image()) + s.SizeOfRawData > editor.ImageSize()) {
      __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fuzz::ScratchFile output(u"pfz");
  build::CPE_ImageEditor editor;
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
  build::CPE_ImageEditor reread;
  if (reread.Load(output.Path())) {
    CheckSlotsInsideImage(reread);
    // Sections that were not on file-alignment boundaries can be aligned onto each
    // other; only a table in ascending order promises each section its own bytes.
    bool ordered = true;
    uint64_t end = 0;
    for (int i = 0; i < editor.SectionCount(); ++i) {
      const build::SectionHeader& s = editor.Section(i);
      if (s.SizeOfRawData == 0) continue;
      if (s.PointerToRawData < end) ordered = false;
      end = uint64_t{s.PointerToRawData} + s.SizeOfRawData;
    }
    if (ordered && block != nullptr && reread.SectionCount() == editor.SectionCount()) {
      const int last = reread.SectionCount() - 1;
      const uint8_t* written = reread.SectionData(last);
      if (reread.Section(last).SizeOfRawData >= payload && written[0] != 0xA5) __builtin_trap();
    }
  }
  build::CPE_ImageEditor::FixChecksum(output.Path());
  return 0;
}
