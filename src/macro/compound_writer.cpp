#include "macro/compound_writer.h"

#include <algorithm>
#include <cstring>

#include "macro/compound_format.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/unicode.h"

namespace macro {
namespace {

using namespace compound_format;

void Put16(std::vector<uint8_t>& bytes, uint64_t at, uint16_t value) { plat::MutableByteView(bytes).Put16(at, value); }
void Put32(std::vector<uint8_t>& bytes, uint64_t at, uint32_t value) { plat::MutableByteView(bytes).Put32(at, value); }
void Put64(std::vector<uint8_t>& bytes, uint64_t at, uint64_t value) { plat::MutableByteView(bytes).Put64(at, value); }
std::string Narrow(std::u16string_view text) { return plat::Utf16ToUtf8(text); }

uint64_t CeilDiv(uint64_t value, uint64_t unit) { return (value + unit - 1) / unit; }

// The directory's order: shorter names first, then by upper-case units. The system's own
// case mapping is used here, so the reader's table is checked against it, not against
// itself.
bool NameLess(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return plat::ToUpper(a) < plat::ToUpper(b);
}

bool ValidName(std::u16string_view name) {
  if (name.empty() || name.size() > 31) return false;
  return name.find_first_of(u"/:!") == std::u16string_view::npos && name.find(u'\0') == std::u16string_view::npos;
}

// Hands out sectors to chains one after another, or in turn when scattering.
std::vector<std::vector<uint32_t>> Allocate(const std::vector<uint64_t>& lengths, uint32_t first, bool scatter,
                                            uint32_t* next_free) {
  std::vector<std::vector<uint32_t>> chains(lengths.size());
  uint32_t next = first;
  if (!scatter) {
    for (size_t c = 0; c < lengths.size(); ++c) {
      for (uint64_t k = 0; k < lengths[c]; ++k) chains[c].push_back(next++);
    }
  } else {
    bool any = true;
    while (any) {
      any = false;
      for (size_t c = 0; c < lengths.size(); ++c) {
        if (chains[c].size() < lengths[c]) {
          chains[c].push_back(next++);
          any = true;
        }
      }
    }
  }
  *next_free = next;
  return chains;
}

// Links `chain` in `table`, ending it.
void Link(std::vector<uint32_t>& table, const std::vector<uint32_t>& chain) {
  for (size_t i = 0; i < chain.size(); ++i) {
    table[chain[i]] = i + 1 < chain.size() ? chain[i + 1] : kEndOfChain;
  }
}

// Built by appending: GCC 12 warns wrongly (-Wrestrict) on a literal + temporary string.
std::string Quoted(std::u16string_view name, const char* what) {
  std::string text = "\"";
  text += Narrow(name);
  text += "\" ";
  text += what;
  return text;
}

void PutUnits(std::vector<uint8_t>& bytes, uint64_t at, const std::vector<uint32_t>& values) {
  for (size_t i = 0; i < values.size(); ++i) Put32(bytes, at + 4 * i, values[i]);
}

}  // namespace

uint64_t CompoundLayout::EntryOffset(uint32_t id) const {
  const uint32_t per_sector = sector_size / kEntrySize;
  return SectorOffset(directory_sectors.at(id / per_sector)) + uint64_t{id % per_sector} * kEntrySize;
}

uint64_t CompoundLayout::FatLinkOffset(uint32_t sector) const {
  const uint32_t per_sector = sector_size / 4;
  return SectorOffset(fat_sectors.at(sector / per_sector)) + uint64_t{sector % per_sector} * 4;
}

uint64_t CompoundLayout::MiniFatLinkOffset(uint32_t mini_sector) const {
  const uint32_t per_sector = sector_size / 4;
  return SectorOffset(mini_fat_sectors.at(mini_sector / per_sector)) + uint64_t{mini_sector % per_sector} * 4;
}

uint64_t CompoundLayout::MiniSectorOffset(uint32_t mini_sector) const {
  const uint64_t at = uint64_t{mini_sector} * kMiniSectorSize;
  return SectorOffset(mini_stream_sectors.at(static_cast<size_t>(at / sector_size))) + at % sector_size;
}

const CompoundLayout::Node& CompoundLayout::At(std::u16string_view path) const {
  for (const Node& node : nodes) {
    if (node.path == path) return node;
  }
  return nodes.front();
}

CompoundBuilder& CompoundBuilder::Version(uint32_t version) {
  version_ = version;
  return *this;
}

CompoundBuilder& CompoundBuilder::Scatter(bool on) {
  scatter_ = on;
  return *this;
}

size_t CompoundBuilder::Place(std::u16string_view path, bool storage) {
  size_t at = 0;
  while (true) {
    const size_t cut = path.find(u'\\');
    const std::u16string_view name = path.substr(0, cut);
    const bool last = cut == std::u16string_view::npos;
    if (!ValidName(name)) {
      problem_ = Quoted(name, "is not a valid name");
      return std::string::npos;
    }
    size_t found = std::string::npos;
    const std::u16string upper = plat::ToUpper(name);
    for (size_t child : nodes_[at].children) {
      if (nodes_[child].upper == upper) found = child;
    }
    if (last) {
      if (found != std::string::npos) {
        problem_ = Quoted(path, "is there already");
        return std::string::npos;
      }
      nodes_.push_back(Node{std::u16string(name), upper, storage, {}, {}});
      nodes_[at].children.push_back(nodes_.size() - 1);
      return nodes_.size() - 1;
    }
    if (found == std::string::npos) {
      nodes_.push_back(Node{std::u16string(name), upper, true, {}, {}});
      nodes_[at].children.push_back(nodes_.size() - 1);
      found = nodes_.size() - 1;
    } else if (!nodes_[found].storage) {
      problem_ = Quoted(name, "is a stream, not a storage");
      return std::string::npos;
    }
    at = found;
    path.remove_prefix(cut + 1);
  }
}

CompoundBuilder& CompoundBuilder::AddStream(std::u16string_view path, std::vector<uint8_t> bytes) {
  const size_t node = Place(path, false);
  if (node != std::string::npos) nodes_[node].bytes = std::move(bytes);
  return *this;
}

CompoundBuilder& CompoundBuilder::AddStream(std::u16string_view path, std::string_view bytes) {
  return AddStream(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

CompoundBuilder& CompoundBuilder::AddStorage(std::u16string_view path) {
  Place(path, true);
  return *this;
}

std::vector<uint8_t> CompoundBuilder::Build(CompoundLayout* layout_out) const {
  if (!Ok() || (version_ != 3 && version_ != 4)) return {};
  const uint32_t ss = version_ == 4 ? 4096 : 512;
  CompoundLayout layout;
  layout.version = version_;
  layout.sector_size = ss;

  // Directory ids breadth first; each storage's children get consecutive ids in name order.
  std::vector<size_t> order{0};  // node index by id
  std::vector<uint32_t> id_of(nodes_.size(), 0);
  std::vector<std::vector<size_t>> sorted(nodes_.size());
  layout.nodes.push_back({u"", 0, true, false, 0, 0, {}});
  for (size_t i = 0; i < order.size(); ++i) {
    const size_t n = order[i];
    sorted[n] = nodes_[n].children;
    std::sort(sorted[n].begin(), sorted[n].end(),
              [&](size_t a, size_t b) { return NameLess(nodes_[a].name, nodes_[b].name); });
    for (size_t c : sorted[n]) {
      id_of[c] = static_cast<uint32_t>(order.size());
      order.push_back(c);
      CompoundLayout::Node node;
      node.path = layout.nodes[i].path.empty() ? nodes_[c].name : layout.nodes[i].path + u"\\" + nodes_[c].name;
      node.id = id_of[c];
      node.storage = nodes_[c].storage;
      node.size = nodes_[c].bytes.size();
      node.mini = !node.storage && node.size > 0 && node.size < kMiniStreamCutoff;
      layout.nodes.push_back(std::move(node));
    }
  }
  const uint32_t entry_count = static_cast<uint32_t>(order.size());

  struct Links {
    uint32_t left = kNoEntry, right = kNoEntry, child = kNoEntry;
    uint8_t colour = 1;  // black
  };
  std::vector<Links> links(entry_count);
  // Middle-split trees fill every level but the last, so black everywhere except a
  // partly filled last level (red there) is a valid red-black colouring.
  auto tree = [&](auto&& self, const std::vector<size_t>& kids, size_t lo, size_t hi, uint32_t depth, uint32_t deepest,
                  bool perfect) -> uint32_t {
    if (lo >= hi) return kNoEntry;
    const size_t mid = lo + (hi - lo - 1) / 2;
    const uint32_t id = id_of[kids[mid]];
    links[id].left = self(self, kids, lo, mid, depth + 1, deepest, perfect);
    links[id].right = self(self, kids, mid + 1, hi, depth + 1, deepest, perfect);
    links[id].colour = (!perfect && depth == deepest) ? 0 : 1;
    return id;
  };
  for (size_t n = 0; n < nodes_.size(); ++n) {
    if (!nodes_[n].storage || sorted[n].empty()) continue;
    const size_t count = sorted[n].size();
    uint32_t deepest = 0;
    while ((size_t{2} << deepest) <= count) ++deepest;  // floor(log2(count))
    const bool perfect = ((count + 1) & count) == 0;
    links[id_of[n]].child = tree(tree, sorted[n], 0, count, 0, deepest, perfect);
  }

  // Small streams go to the mini stream in 64-byte mini sectors.
  std::vector<uint32_t> small_ids, large_ids;
  for (uint32_t id = 1; id < entry_count; ++id) {
    const CompoundLayout::Node& node = layout.nodes[id];
    if (node.storage || node.size == 0) continue;
    (node.mini ? small_ids : large_ids).push_back(id);
  }
  std::vector<uint64_t> mini_lengths;
  for (uint32_t id : small_ids) mini_lengths.push_back(CeilDiv(layout.nodes[id].size, kMiniSectorSize));
  uint32_t mini_count = 0;
  const auto mini_chains = Allocate(mini_lengths, 0, scatter_, &mini_count);
  std::vector<uint32_t> mini_fat(CeilDiv(uint64_t{mini_count} * 4, ss) * (ss / 4), kFreeSector);
  for (size_t s = 0; s < small_ids.size(); ++s) {
    Link(mini_fat, mini_chains[s]);
    layout.nodes[small_ids[s]].sectors = mini_chains[s];
  }

  // Regular chains: directory, mini FAT, mini stream, then each large stream.
  std::vector<uint64_t> lengths = {CeilDiv(uint64_t{entry_count} * kEntrySize, ss), mini_fat.size() * 4 / ss,
                                   CeilDiv(uint64_t{mini_count} * kMiniSectorSize, ss)};
  for (uint32_t id : large_ids) lengths.push_back(CeilDiv(layout.nodes[id].size, ss));
  uint64_t data_sectors = 0;
  for (uint64_t length : lengths) data_sectors += length;
  const uint32_t per_difat = ss / 4 - 1;
  uint32_t fat_count = 1, difat_count = 0;
  while (true) {
    difat_count =
        fat_count <= kHeaderDifatCount ? 0 : static_cast<uint32_t>(CeilDiv(fat_count - kHeaderDifatCount, per_difat));
    if (uint64_t{fat_count} * (ss / 4) >= data_sectors + fat_count + difat_count) break;
    ++fat_count;
  }
  // Scattering lists the FAT sectors backwards and puts the DIFAT chain, backwards too,
  // after everything else, so that no reader can get by on guessing the next one.
  uint32_t total = 0;
  const auto chains = Allocate(lengths, scatter_ ? fat_count : fat_count + difat_count, scatter_, &total);
  for (uint32_t s = 0; s < fat_count; ++s) layout.fat_sectors.push_back(scatter_ ? fat_count - 1 - s : s);
  for (uint32_t s = 0; s < difat_count; ++s) {
    layout.difat_sectors.push_back(scatter_ ? total + difat_count - 1 - s : fat_count + s);
  }
  if (scatter_) total += difat_count;
  layout.directory_sectors = chains[0];
  layout.mini_fat_sectors = chains[1];
  layout.mini_stream_sectors = chains[2];
  for (size_t i = 0; i < large_ids.size(); ++i) layout.nodes[large_ids[i]].sectors = chains[3 + i];

  std::vector<uint32_t> fat(size_t{fat_count} * (ss / 4), kFreeSector);
  for (uint32_t s : layout.fat_sectors) fat[s] = kFatMarker;
  for (uint32_t s : layout.difat_sectors) fat[s] = kDifatMarker;
  for (const auto& chain : chains) Link(fat, chain);

  std::vector<uint8_t> bytes(ss + size_t{total} * ss, 0);
  // Header.
  std::memcpy(bytes.data(), kSignature, sizeof kSignature);
  Put16(bytes, 24, 0x003E);
  Put16(bytes, 26, static_cast<uint16_t>(version_));
  Put16(bytes, 28, 0xFFFE);
  Put16(bytes, 30, version_ == 4 ? 12 : 9);
  Put16(bytes, 32, 6);
  Put32(bytes, 40, version_ == 4 ? static_cast<uint32_t>(layout.directory_sectors.size()) : 0);
  Put32(bytes, 44, fat_count);
  Put32(bytes, 48, layout.directory_sectors.front());
  Put32(bytes, 56, static_cast<uint32_t>(kMiniStreamCutoff));
  Put32(bytes, 60, layout.mini_fat_sectors.empty() ? kEndOfChain : layout.mini_fat_sectors.front());
  Put32(bytes, 64, static_cast<uint32_t>(layout.mini_fat_sectors.size()));
  Put32(bytes, 68, difat_count == 0 ? kEndOfChain : layout.difat_sectors.front());
  Put32(bytes, 72, difat_count);
  for (uint32_t i = 0; i < kHeaderDifatCount; ++i) {
    Put32(bytes, 76 + 4 * i, i < fat_count ? layout.fat_sectors[i] : kFreeSector);
  }

  // DIFAT sectors: the FAT sectors after the first 109, the last slot linking on.
  for (uint32_t d = 0; d < difat_count; ++d) {
    const uint64_t at = layout.SectorOffset(layout.difat_sectors[d]);
    for (uint32_t k = 0; k < per_difat; ++k) {
      const uint64_t fat_index = kHeaderDifatCount + uint64_t{d} * per_difat + k;
      Put32(bytes, at + 4 * k, fat_index < fat_count ? layout.fat_sectors[fat_index] : kFreeSector);
    }
    Put32(bytes, at + 4 * per_difat, d + 1 < difat_count ? layout.difat_sectors[d + 1] : kEndOfChain);
  }
  for (uint32_t f = 0; f < fat_count; ++f) {
    PutUnits(bytes, layout.SectorOffset(layout.fat_sectors[f]),
             std::vector<uint32_t>(fat.begin() + size_t{f} * (ss / 4), fat.begin() + size_t{f + 1} * (ss / 4)));
  }
  for (size_t m = 0; m < layout.mini_fat_sectors.size(); ++m) {
    PutUnits(bytes, layout.SectorOffset(layout.mini_fat_sectors[m]),
             std::vector<uint32_t>(mini_fat.begin() + m * (ss / 4), mini_fat.begin() + (m + 1) * (ss / 4)));
  }

  // Directory: used entries, then free ones (zero but for the three links).
  for (uint32_t id = 0; id < layout.directory_sectors.size() * (ss / kEntrySize); ++id) {
    const uint64_t at = layout.EntryOffset(id);
    if (id >= entry_count) {
      Put32(bytes, at + 68, kNoEntry);
      Put32(bytes, at + 72, kNoEntry);
      Put32(bytes, at + 76, kNoEntry);
      continue;
    }
    const Node& node = nodes_[order[id]];
    CompoundLayout::Node& info = layout.nodes[id];
    for (size_t i = 0; i < node.name.size(); ++i) Put16(bytes, at + 2 * i, node.name[i]);
    Put16(bytes, at + 64, static_cast<uint16_t>((node.name.size() + 1) * 2));
    bytes[at + 66] = id == 0 ? 5 : node.storage ? 1 : 2;
    bytes[at + 67] = id == 0 ? 1 : links[id].colour;
    Put32(bytes, at + 68, links[id].left);
    Put32(bytes, at + 72, links[id].right);
    Put32(bytes, at + 76, links[id].child);
    if (id == 0) {
      info.start = mini_count == 0 ? kEndOfChain : layout.mini_stream_sectors.front();
      info.size = uint64_t{mini_count} * kMiniSectorSize;
      info.sectors = layout.mini_stream_sectors;
    } else if (node.storage) {
      info.start = 0;
    } else {
      info.start = info.sectors.empty() ? kEndOfChain : info.sectors.front();
    }
    Put32(bytes, at + 116, info.start);
    Put64(bytes, at + 120, info.size);
  }

  // Stream data.
  for (uint32_t id : large_ids) {
    const std::vector<uint8_t>& data = nodes_[order[id]].bytes;
    const std::vector<uint32_t>& chain = layout.nodes[id].sectors;
    for (size_t i = 0; i < chain.size(); ++i) {
      const size_t from = i * ss;
      std::memcpy(bytes.data() + layout.SectorOffset(chain[i]), data.data() + from,
                  std::min<size_t>(ss, data.size() - from));
    }
  }
  for (uint32_t id : small_ids) {
    const std::vector<uint8_t>& data = nodes_[order[id]].bytes;
    const std::vector<uint32_t>& chain = layout.nodes[id].sectors;
    for (size_t i = 0; i < chain.size(); ++i) {
      const size_t from = i * kMiniSectorSize;
      std::memcpy(bytes.data() + layout.MiniSectorOffset(chain[i]), data.data() + from,
                  std::min<size_t>(kMiniSectorSize, data.size() - from));
    }
  }

  if (layout_out != nullptr) *layout_out = std::move(layout);
  return bytes;
}

bool CompoundBuilder::WriteTo(std::u16string_view path, CompoundLayout* layout) const {
  const std::vector<uint8_t> bytes = Build(layout);
  if (bytes.empty()) return false;
  return plat::WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace macro
