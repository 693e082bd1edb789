#include "support/pe_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "platform/file_io.h"

namespace brankel_test {
namespace {

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

struct Planned {
  std::string name;
  std::vector<uint8_t> data;  // raw bytes, already padded to the file alignment
  uint32_t virtual_size = 0;
  uint32_t characteristics = 0;
};

// The import section at `rva`: descriptors with the terminator, one zero thunk per
// library, then the names.
std::vector<uint8_t> ImportSection(const std::vector<std::string>& names, uint32_t rva, bool wide_thunks) {
  const uint32_t thunk = wide_thunks ? 8 : 4;
  const uint32_t descriptors = static_cast<uint32_t>((names.size() + 1) * 20);
  const uint32_t thunks_at = descriptors;
  uint32_t names_at = thunks_at + static_cast<uint32_t>(names.size()) * thunk * 2;
  std::vector<uint8_t> data(names_at);
  for (size_t k = 0; k < names.size(); ++k) {
    const uint32_t ilt = thunks_at + static_cast<uint32_t>(k) * thunk * 2;
    Write32(data, k * 20 + 0, rva + ilt);           // import lookup table
    Write32(data, k * 20 + 4, 0);                   // time stamp
    Write32(data, k * 20 + 8, 0);                   // forwarder chain
    Write32(data, k * 20 + 12, rva + names_at);     // name
    Write32(data, k * 20 + 16, rva + ilt + thunk);  // address table
    data.insert(data.end(), names[k].begin(), names[k].end());
    data.push_back(0);
    names_at = static_cast<uint32_t>(data.size());
  }
  return data;
}

}  // namespace

std::vector<uint8_t> ReadFileBytes(std::u16string_view path) {
  const std::optional<std::string> text = plat::ReadWholeFile(path);
  if (!text) return {};
  return std::vector<uint8_t>(text->begin(), text->end());
}

bool WriteFileBytes(std::u16string_view path, const std::vector<uint8_t>& bytes) {
  return plat::WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

uint32_t ReferenceChecksum(std::vector<uint8_t> bytes) {
  const uint32_t length = static_cast<uint32_t>(bytes.size());
  Write32(bytes, Read32(bytes, 0x3C) + 0x58, 0);
  if (bytes.size() % 2 != 0) bytes.push_back(0);
  uint64_t sum = 0;
  for (size_t i = 0; i < bytes.size(); i += 2) sum += bytes[i] | (bytes[i + 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + length;
}

uint32_t Read32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t Read16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
void Write32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Write16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint8_t SectionFill(int slot) { return static_cast<uint8_t>(0x11 * (slot % 15 + 1)); }

std::vector<uint8_t> PeBuilder::Build() const {
  const uint32_t nt_size = pe32plus ? 264 : 248;
  const int idata = imports.empty() ? -1 : (import_slot >= 0 ? import_slot : section_count - 1);

  std::vector<Planned> planned(section_count);
  std::vector<uint32_t> rvas(section_count);
  uint32_t rva = section_alignment;
  for (int i = 0; i < section_count; ++i) {
    Planned& p = planned[i];
    rvas[i] = rva;
    if (i == idata) {
      p.name = ".idata";
      p.data = ImportSection(imports, rva, pe32plus);
      p.virtual_size = static_cast<uint32_t>(p.data.size());
      p.characteristics = 0xC0000040;
    } else if (i == rsrc_slot && resources) {
      p.name = ".rsrc";
      p.data = resources(rva);
      p.virtual_size = static_cast<uint32_t>(p.data.size());
      p.characteristics = 0x40000040;
      p.data.resize(AlignUp(static_cast<uint32_t>(p.data.size()), file_alignment), 0);
    } else {
      p.name = i == rsrc_slot ? ".rsrc" : (i == 0 ? ".text" : ".s" + std::to_string(i));
      p.data.assign(raw_size, 0);
      for (uint32_t k = 0; k < raw_size; ++k) p.data[k] = static_cast<uint8_t>(SectionFill(i) + k % 7);
      p.virtual_size = virtual_size;
      p.characteristics = i == 0 ? 0x60000020 : 0x40000040;
    }
    if (std::find(uninitialized.begin(), uninitialized.end(), i) != uninitialized.end()) {
      p.data.clear();
      p.characteristics = 0xC0000080;
    }
    if (i < static_cast<int>(names.size()) && !names[i].empty()) p.name = names[i];
    if (i == idata) p.data.resize(AlignUp(static_cast<uint32_t>(p.data.size()), file_alignment), 0);
    rva = AlignUp(rva + std::max<uint32_t>(p.virtual_size, static_cast<uint32_t>(p.data.size())), section_alignment);
  }
  const uint32_t size_of_image = rva;

  std::vector<uint8_t> out(size_of_headers, 0);
  out[0] = 'M';
  out[1] = 'Z';
  for (uint32_t k = 0x40; k < lfanew && k < out.size(); ++k) out[k] = static_cast<uint8_t>(0xB0 + k % 16);  // stub
  Write32(out, 0x3C, lfanew);
  const size_t nt = lfanew;
  out.resize(std::max<size_t>(out.size(), nt + nt_size + size_t(section_count) * 40), 0);
  out[nt] = 'P';
  out[nt + 1] = 'E';
  Write16(out, nt + 4, pe32plus ? 0x8664 : 0x14C);
  Write16(out, nt + 6, static_cast<uint16_t>(section_count));
  Write32(out, nt + 8, 0x5F000000);  // time stamp
  Write16(out, nt + 0x14, static_cast<uint16_t>(nt_size - 24));
  Write16(out, nt + 0x16, pe32plus ? 0x0022 : 0x0102);
  const size_t opt = nt + 0x18;
  Write16(out, opt, pe32plus ? 0x20B : 0x10B);
  out[opt + 2] = 2;                                    // linker version
  Write32(out, opt + 16, rvas.empty() ? 0 : rvas[0]);  // entry point
  Write32(out, opt + 20, rvas.empty() ? 0 : rvas[0]);  // base of code
  if (pe32plus) {
    Write32(out, opt + 24, 0x40000000);
    Write32(out, opt + 28, 0x1);  // image base 0x140000000
  } else {
    Write32(out, opt + 28, 0x400000);
  }
  Write32(out, opt + 32, section_alignment);
  Write32(out, opt + 36, file_alignment);
  Write16(out, opt + 40, 6);  // operating system version
  Write16(out, opt + 48, 6);  // subsystem version
  Write32(out, opt + 56, size_of_image);
  Write32(out, opt + 60, size_of_headers);
  Write16(out, opt + 68, 3);  // console
  const size_t sizes = opt + 72;
  const uint32_t word = pe32plus ? 8 : 4;
  Write32(out, sizes, 0x100000);
  Write32(out, sizes + word, 0x1000);
  Write32(out, sizes + 2 * word, 0x100000);
  Write32(out, sizes + 3 * word, 0x1000);
  Write32(out, opt + (pe32plus ? 108 : 92), 16);
  const size_t dirs = opt + (pe32plus ? 112 : 96);
  if (idata >= 0) {
    Write32(out, dirs + 8, rvas[idata]);
    Write32(out, dirs + 12, static_cast<uint32_t>((imports.size() + 1) * 20));
  }
  if (rsrc_slot >= 0 && rsrc_slot < section_count && resources) {
    Write32(out, dirs + 2 * 8, rvas[rsrc_slot]);
    Write32(out, dirs + 2 * 8 + 4, planned[rsrc_slot].virtual_size);
  }
  if (reloc_slot >= 0 && reloc_slot < section_count) {
    Write32(out, dirs + 5 * 8, rvas[reloc_slot]);
    Write32(out, dirs + 5 * 8 + 4, planned[reloc_slot].virtual_size);
  }

  std::vector<int> order = file_order;
  for (int i = 0; i < section_count; ++i) {
    if (std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
  }
  if (out.size() < size_of_headers) out.resize(size_of_headers, 0);
  for (int i : order) {
    const size_t h = nt + nt_size + size_t(i) * 40;
    const bool has_data = !planned[i].data.empty();
    std::memcpy(&out[h], planned[i].name.data(), std::min<size_t>(8, planned[i].name.size()));
    Write32(out, h + 8, planned[i].virtual_size);
    Write32(out, h + 12, rvas[i]);
    Write32(out, h + 16, static_cast<uint32_t>(planned[i].data.size()));
    Write32(out, h + 20, has_data ? static_cast<uint32_t>(out.size()) : 0);
    Write32(out, h + 36, planned[i].characteristics);
    out.insert(out.end(), planned[i].data.begin(), planned[i].data.end());
  }

  if (symbol_count != 0 || !symbol_strings.empty()) {
    Write32(out, nt + 0x0C, static_cast<uint32_t>(out.size()));
    Write32(out, nt + 0x10, symbol_count);
    for (uint32_t k = 0; k < symbol_count * 18; ++k) out.push_back(static_cast<uint8_t>(0x60 + k % 31));
    const size_t length_at = out.size();
    out.resize(length_at + 4, 0);
    Write32(out, length_at, static_cast<uint32_t>(4 + symbol_strings.size()));
    out.insert(out.end(), symbol_strings.begin(), symbol_strings.end());
  }

  if (!certificate.empty()) {
    // An attribute certificate: length, revision 2.0, PKCS#7 type, then the blob,
    // padded to 8 bytes.
    const uint32_t at = static_cast<uint32_t>(AlignUp(static_cast<uint32_t>(out.size()), 8));
    out.resize(at, 0);
    const uint32_t length = 8 + static_cast<uint32_t>(certificate.size());
    out.resize(at + AlignUp(length, 8), 0);
    Write32(out, at, length);
    Write16(out, at + 4, 0x0200);
    Write16(out, at + 6, 0x0002);
    std::memcpy(&out[at + 8], certificate.data(), certificate.size());
    Write32(out, dirs + 4 * 8, at);
    Write32(out, dirs + 4 * 8 + 4, AlignUp(length, 8));
  }
  return out;
}

namespace {

bool MapRva(const std::vector<uint8_t>& image, const PeLayout& layout, uint32_t rva, uint32_t* offset) {
  const uint16_t count = Read16(image, layout.nt + 6);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t h = layout.section_table + size_t(i) * 40;
    if (h + 40 > image.size()) return false;
    const uint32_t va = Read32(image, h + 12);
    const uint32_t extent = std::max(Read32(image, h + 8), Read32(image, h + 16));
    if (rva >= va && rva < va + extent) {
      *offset = rva - va + Read32(image, h + 20);
      return *offset < image.size();
    }
  }
  return false;
}

}  // namespace

bool MapRva(const std::vector<uint8_t>& image, uint32_t rva, uint32_t* offset) {
  return MapRva(image, LayoutOf(image), rva, offset);
}

const std::vector<OddLayout>& OddLayouts() {
  static const std::vector<OddLayout> layouts = {
      {"last section uninitialised", {3}, {}},
      {"middle section without file data", {1}, {}},
      {"data in reverse table order", {}, {3, 2, 1, 0}},
      {"data out of order, last uninitialised", {3}, {2, 0, 1}},
  };
  return layouts;
}

PeBuilder OddLayoutBuilder(const OddLayout& layout, bool pe32plus) {
  PeBuilder b;
  b.pe32plus = pe32plus;
  b.section_count = 4;
  b.uninitialized = layout.uninitialized;
  b.file_order = layout.file_order;
  return b;
}

std::vector<std::pair<uint32_t, uint32_t>> RawRanges(const std::vector<uint8_t>& image) {
  const PeLayout layout = LayoutOf(image);
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  for (uint16_t i = 0; i < Read16(image, layout.nt + 6); ++i) {
    const size_t h = layout.section_table + size_t(i) * 40;
    ranges.emplace_back(Read32(image, h + 20), Read32(image, h + 16));
  }
  return ranges;
}

std::string SectionsCarriedMismatch(const std::vector<uint8_t>& image, const std::vector<uint8_t>& written) {
  const auto before = RawRanges(image);
  const auto after = RawRanges(written);
  if (after.size() < before.size()) return "sections missing";
  for (size_t i = 0; i < after.size(); ++i) {
    const std::string section = "section " + std::to_string(i);
    const auto [at, size] = after[i];
    if (uint64_t{at} + size > written.size()) return section + " runs past the file";
    for (size_t j = 0; j < i; ++j) {
      const auto [other, other_size] = after[j];
      if (size != 0 && other_size != 0 && at < other + other_size && other < at + size) {
        return section + " overlaps section " + std::to_string(j);
      }
    }
    if (i >= before.size()) continue;
    const auto [from, length] = before[i];
    if (size < length) return section + " lost data";
    if (!std::equal(image.begin() + from, image.begin() + from + length, written.begin() + at)) {
      return section + " holds other bytes";
    }
  }
  return {};
}

std::vector<uint8_t> ReverseFileOrder(const std::vector<uint8_t>& image) {
  const PeLayout layout = LayoutOf(image);
  const auto ranges = RawRanges(image);
  uint32_t start = UINT32_MAX;
  uint32_t end = 0;
  for (const auto& [at, size] : ranges) {
    if (size == 0) continue;
    start = std::min(start, at);
    end = std::max(end, at + size);
  }
  if (end == 0) return image;
  std::vector<uint8_t> out(image.begin(), image.begin() + start);
  for (size_t i = ranges.size(); i-- > 0;) {
    const auto [at, size] = ranges[i];
    if (size == 0) continue;
    Write32(out, layout.section_table + i * 40 + 20, static_cast<uint32_t>(out.size()));
    out.insert(out.end(), image.begin() + at, image.begin() + at + size);
  }
  // Gaps between the sections close up; what follows the data keeps its offset.
  out.resize(end, 0);
  out.insert(out.end(), image.begin() + end, image.end());
  return out;
}

PeLayout LayoutOf(const std::vector<uint8_t>& image) {
  PeLayout layout;
  layout.nt = Read32(image, 0x3C);
  layout.nt_size = 24 + Read16(image, layout.nt + 0x14);
  const bool wide = Read16(image, layout.nt + 0x18) == 0x20B;
  layout.directories = layout.nt + 0x18 + (wide ? 112 : 96);
  layout.section_table = layout.nt + layout.nt_size;
  const uint32_t import_rva = Read32(image, layout.directories + 8);
  uint32_t offset = 0;
  if (import_rva != 0 && MapRva(image, layout, import_rva, &offset)) layout.import_table = offset;
  return layout;
}

std::vector<std::string> ImportNames(const std::vector<uint8_t>& image) {
  std::vector<std::string> names;
  const PeLayout layout = LayoutOf(image);
  if (layout.import_table == 0) return names;
  for (uint32_t at = layout.import_table; at + 20 <= image.size(); at += 20) {
    const uint32_t name_rva = Read32(image, at + 12);
    if (name_rva == 0) break;
    uint32_t name = 0;
    if (!MapRva(image, layout, name_rva, &name)) {
      names.push_back("<unmapped>");
      continue;
    }
    std::string text;
    while (name < image.size() && image[name] != 0) text.push_back(static_cast<char>(image[name++]));
    names.push_back(text);
  }
  return names;
}

}  // namespace brankel_test
