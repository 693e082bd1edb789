#include "runtime/win32/own_image.h"

#include <windows.h>

#include <cstring>

namespace runtime {

std::optional<plat::ByteView> OwnSection(std::string_view name) {
  if (name.size() > 8) return std::nullopt;
  const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  if (base == nullptr) return std::nullopt;
  // The loader mapped the headers whole; SizeOfImage bounds every section it mapped.
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const uint32_t image_size = nt->OptionalHeader.SizeOfImage;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  char wanted[8] = {};
  std::memcpy(wanted, name.data(), name.size());
  for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, wanted, sizeof wanted) != 0) continue;
    const uint32_t size = section->Misc.VirtualSize;
    if (!plat::RangeFits(image_size, section->VirtualAddress, size)) return std::nullopt;
    return plat::ByteView(base + section->VirtualAddress, size);
  }
  return std::nullopt;
}

}  // namespace runtime
