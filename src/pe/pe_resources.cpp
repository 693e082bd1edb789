#include "pe/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <tuple>
#include <utility>

#include "platform/byte_view.h"
#include "platform/platform.h"

namespace pe {
namespace {

size_t Align8(size_t value) { return (value + 7) & ~size_t{7}; }

// Named entries come before identified ones, names in code-unit order and identifiers in
// ascending order: the loader searches each table by halves in exactly this order.
int CompareKeys(const ResourceKey& a, const ResourceKey& b) {
  if (a.IsName() != b.IsName()) return a.IsName() ? -1 : 1;
  if (a.IsName()) return a.name < b.name ? -1 : (a.name == b.name ? 0 : 1);
  return a.id < b.id ? -1 : (a.id == b.id ? 0 : 1);
}

bool ItemBefore(const ResourceItem& a, const ResourceItem& b) {
  if (int c = CompareKeys(a.type, b.type); c != 0) return c < 0;
  if (int c = CompareKeys(a.name, b.name); c != 0) return c < 0;
  return a.language < b.language;
}

// The walk over a resource directory whose tables and texts must all lie in `size` bytes
// from `base` (the directory's root, up to its section's end).
class DirectoryReader {
 public:
  DirectoryReader(const CPE_ImageEditor& image, plat::ByteView directory) : image_(image), directory_(directory) {}

  bool Walk(std::vector<ResourceItem>& items) {
    ResourceItem item;
    return WalkTable(0, 0, item, items);
  }

  ResourceRefusal Refusal() const { return refusal_; }

 private:
  bool Fits(uint64_t offset, uint64_t length) const { return directory_.Fits(offset, length); }
  bool Refuse(ResourceRefusal why) const {
    refusal_ = why;
    return false;
  }

  bool ReadKey(uint32_t field, ResourceKey& key) const {
    key = ResourceKey{};
    if ((field & res::kHighBit) == 0) {
      if (field > 0xFFFF) return Refuse(ResourceRefusal::kBadIdentifier);
      key.id = static_cast<uint16_t>(field);
      return true;
    }
    const uint32_t at = field & ~res::kHighBit;
    if (!Fits(at, 2)) return Refuse(ResourceRefusal::kNameOutside);
    const uint16_t length = directory_.U16Or(at, 0);
    if (length == 0 || !Fits(uint64_t{at} + 2, uint64_t{length} * 2)) return Refuse(ResourceRefusal::kNameOutside);
    key.name.resize(length);
    for (uint16_t i = 0; i < length; ++i)
      key.name[i] = static_cast<char16_t>(directory_.U16Or(uint64_t{at} + 2 + 2 * i, 0));
    return true;
  }

  bool WalkTable(uint32_t offset, int level, ResourceItem& item, std::vector<ResourceItem>& items) {
    if (!Fits(offset, res::kDirectorySize)) return Refuse(ResourceRefusal::kTableOutside);
    const uint32_t count =
        uint32_t{directory_.U16Or(uint64_t{offset} + 12, 0)} + directory_.U16Or(uint64_t{offset} + 14, 0);
    if (!Fits(uint64_t{offset} + res::kDirectorySize, uint64_t{count} * res::kDirectoryEntrySize)) {
      return Refuse(ResourceRefusal::kTableOutside);
    }
    for (uint32_t i = 0; i < count; ++i) {
      // Counted before anything else, so a directory whose entries all name the same
      // table cannot make the walk run for ever.
      if (++entries_seen_ > 4 * res::kMaxItems) return Refuse(ResourceRefusal::kTooMany);
      const uint64_t entry = uint64_t{offset} + res::kDirectorySize + uint64_t{i} * res::kDirectoryEntrySize;
      const uint32_t name_field = directory_.U32Or(entry, 0);
      const uint32_t target = directory_.U32Or(entry + 4, 0);
      const bool is_table = (target & res::kHighBit) != 0;
      if (level < 2) {
        if (!is_table) return Refuse(ResourceRefusal::kWrongEntryKind);
        if (!ReadKey(name_field, level == 0 ? item.type : item.name)) return false;
        if (!WalkTable(target & ~res::kHighBit, level + 1, item, items)) return false;
        continue;
      }
      if (is_table) return Refuse(ResourceRefusal::kWrongEntryKind);
      if ((name_field & res::kHighBit) != 0 || name_field > 0xFFFF) return Refuse(ResourceRefusal::kBadIdentifier);
      item.language = static_cast<uint16_t>(name_field);
      if (!ReadData(target, item)) return false;
      const auto key = std::make_tuple(item.type.id, item.type.name, item.name.id, item.name.name, item.language);
      if (!seen_.insert(key).second) continue;  // the loader only ever finds the first
      if (items.size() >= res::kMaxItems) return Refuse(ResourceRefusal::kTooMany);
      items.push_back(item);
    }
    return true;
  }

  bool ReadData(uint32_t offset, ResourceItem& item) {
    if (!Fits(offset, res::kDataEntrySize)) return Refuse(ResourceRefusal::kTableOutside);
    const uint32_t rva = directory_.U32Or(offset, 0);
    const uint32_t size = directory_.U32Or(uint64_t{offset} + 4, 0);
    item.code_page = directory_.U32Or(uint64_t{offset} + 8, 0);
    item.data.clear();
    if (size == 0) return true;
    // Every item is copied, so shared data would multiply the memory needed; real
    // resources never add up to more than the file.
    data_total_ += size;
    if (data_total_ > image_.ImageSize()) return Refuse(ResourceRefusal::kDataOutside);
    const std::optional<plat::ByteView> data = image_.ViewRva(rva).Sub(0, size);
    if (!data) return Refuse(ResourceRefusal::kDataOutside);
    item.data.assign(data->begin(), data->end());
    return true;
  }

  const CPE_ImageEditor& image_;
  plat::ByteView directory_;
  mutable ResourceRefusal refusal_ = ResourceRefusal::kNone;
  size_t entries_seen_ = 0;
  uint64_t data_total_ = 0;
  std::set<std::tuple<uint16_t, std::u16string, uint16_t, std::u16string, uint16_t>> seen_;
};

bool MayFollowResources(const SectionHeader& section) {
  return std::memcmp(section.Name, ".reloc\0\0", 8) == 0 || std::memcmp(section.Name, ".mdata\0\0", 8) == 0;
}

constexpr uint32_t kResourceCharacteristics = 0x40000040;  // initialized data, readable

}  // namespace

const char* ResourceRefusalText(ResourceRefusal refusal) {
  switch (refusal) {
    case ResourceRefusal::kNone:
      return "";
    case ResourceRefusal::kRootOutside:
      return "the resource directory lies outside the sections' data";
    case ResourceRefusal::kTableOutside:
      return "a resource table or data entry lies outside the resource section";
    case ResourceRefusal::kNameOutside:
      return "a resource name lies outside the resource section";
    case ResourceRefusal::kBadIdentifier:
      return "a resource identifier or language is out of range";
    case ResourceRefusal::kWrongEntryKind:
      return "a resource entry is a table where data belongs, or the reverse";
    case ResourceRefusal::kDataOutside:
      return "a resource's data lies outside the image";
    case ResourceRefusal::kTooMany:
      return "the resource directory holds more resources than any program has";
    case ResourceRefusal::kOutOfMemory:
      return "out of memory";
  }
  return "";
}

bool ResourceTable::Read(const CPE_ImageEditor& image) {
  refusal_ = ResourceRefusal::kNone;
  items_.clear();
  time_stamp_ = 0;
  major_version_ = minor_version_ = 0;
  const uint32_t root = image.DirectoryAddress(res::kDirResource);
  if (root == 0) return true;
  const plat::ByteView directory = image.ViewRva(root);
  if (directory.empty()) {
    refusal_ = ResourceRefusal::kRootOutside;
    return false;
  }
  std::vector<ResourceItem> items;
  try {
    DirectoryReader reader(image, directory);
    if (!reader.Walk(items)) {
      refusal_ = reader.Refusal();
      return false;
    }
  } catch (const std::bad_alloc&) {
    refusal_ = ResourceRefusal::kOutOfMemory;
    return false;
  }
  items_ = std::move(items);
  time_stamp_ = directory.U32Or(4, 0);
  major_version_ = directory.U16Or(8, 0);
  minor_version_ = directory.U16Or(10, 0);
  return true;
}

const ResourceItem* ResourceTable::Find(uint16_t type, uint16_t id, uint16_t language) const {
  const ResourceItem* first = nullptr;
  for (const ResourceItem& item : items_) {
    if (!item.type.IsId(type) || !item.name.IsId(id)) continue;
    if (item.language == language) return &item;
    if (first == nullptr || item.language < first->language) first = &item;
  }
  return language == res::kLanguageNeutral ? first : nullptr;
}

bool ResourceTable::Update(uint16_t type, uint16_t id, uint16_t language, const uint8_t* data, size_t size) {
  try {
    auto same_resource = [&](const ResourceItem& item) { return item.type.IsId(type) && item.name.IsId(id); };
    auto exact = std::find_if(items_.begin(), items_.end(), [&](const ResourceItem& item) {
      return same_resource(item) && item.language == language;
    });
    if (exact != items_.end()) {
      if (size == 0) {
        items_.erase(exact);
      } else {
        exact->data.assign(data, data + size);
      }
      return true;
    }
    if (language == res::kLanguageNeutral) {
      items_.erase(std::remove_if(items_.begin(), items_.end(), same_resource), items_.end());
    }
    if (size == 0) return true;
    ResourceItem item;
    item.type.id = type;
    item.name.id = id;
    item.language = language;
    item.data.assign(data, data + size);
    items_.push_back(std::move(item));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::vector<uint8_t> ResourceTable::Serialize(uint32_t section_rva) const {
  std::vector<const ResourceItem*> sorted;
  sorted.reserve(items_.size());
  for (const ResourceItem& item : items_) sorted.push_back(&item);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const ResourceItem* a, const ResourceItem* b) { return ItemBefore(*a, *b); });

  // The tree as index ranges into `sorted`: types, then each type's names.
  struct Range {
    size_t begin, end;
  };
  std::vector<Range> types;
  std::vector<std::vector<Range>> names;
  for (size_t i = 0; i < sorted.size();) {
    size_t type_end = i;
    while (type_end < sorted.size() && sorted[type_end]->type == sorted[i]->type) ++type_end;
    types.push_back({i, type_end});
    names.emplace_back();
    for (size_t j = i; j < type_end;) {
      size_t name_end = j;
      while (name_end < type_end && sorted[name_end]->name == sorted[j]->name) ++name_end;
      names.back().push_back({j, name_end});
      j = name_end;
    }
    i = type_end;
  }

  auto table_size = [](size_t entries) { return res::kDirectorySize + entries * res::kDirectoryEntrySize; };
  // Offsets of every part, in the order the loader's tools have always laid them out.
  size_t at = table_size(types.size());
  std::vector<size_t> type_table(types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    type_table[t] = at;
    at += table_size(names[t].size());
  }
  std::vector<std::vector<size_t>> language_table(types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    for (const Range& name : names[t]) {
      language_table[t].push_back(at);
      at += table_size(name.end - name.begin);
    }
  }
  const size_t data_entries = at;
  at += sorted.size() * res::kDataEntrySize;
  // Each distinct text once.
  std::vector<std::pair<const std::u16string*, size_t>> texts;
  auto text_offset = [&](const std::u16string& text) -> size_t {
    for (const auto& [known, offset] : texts) {
      if (*known == text) return offset;
    }
    texts.emplace_back(&text, at);
    at += 2 + 2 * text.size();
    return texts.back().second;
  };
  std::vector<size_t> type_text(types.size(), 0);
  std::vector<std::vector<size_t>> name_text(types.size());
  for (size_t t = 0; t < types.size(); ++t) {
    const ResourceKey& type = sorted[types[t].begin]->type;
    if (type.IsName()) type_text[t] = text_offset(type.name);
    for (const Range& name : names[t]) {
      const ResourceKey& key = sorted[name.begin]->name;
      name_text[t].push_back(key.IsName() ? text_offset(key.name) : 0);
    }
  }
  std::vector<size_t> data_at(sorted.size());
  for (size_t i = 0; i < sorted.size(); ++i) {
    at = Align8(at);
    data_at[i] = at;
    at += sorted[i]->data.size();
  }
  std::vector<uint8_t> out(Align8(at), 0);
  const plat::MutableByteView view(out);

  auto write_table = [&](size_t offset, size_t named, size_t identified) {
    view.Put32(offset + 4, time_stamp_);
    view.Put16(offset + 8, major_version_);
    view.Put16(offset + 10, minor_version_);
    view.Put16(offset + 12, static_cast<uint16_t>(named));
    view.Put16(offset + 14, static_cast<uint16_t>(identified));
  };
  auto write_entry = [&](size_t table, size_t index, const ResourceKey& key, size_t text, uint32_t target) {
    const size_t entry = table + res::kDirectorySize + index * res::kDirectoryEntrySize;
    view.Put32(entry, key.IsName() ? res::kHighBit | static_cast<uint32_t>(text) : key.id);
    view.Put32(entry + 4, target);
  };
  auto named_count = [&](const std::vector<Range>& ranges, bool types_level) {
    size_t n = 0;
    for (const Range& r : ranges) n += (types_level ? sorted[r.begin]->type : sorted[r.begin]->name).IsName();
    return n;
  };

  const size_t named_types = named_count(types, true);
  write_table(0, named_types, types.size() - named_types);
  size_t item_index = 0;
  for (size_t t = 0; t < types.size(); ++t) {
    write_entry(0, t, sorted[types[t].begin]->type, type_text[t], res::kHighBit | static_cast<uint32_t>(type_table[t]));
    const size_t named_names = named_count(names[t], false);
    write_table(type_table[t], named_names, names[t].size() - named_names);
    for (size_t n = 0; n < names[t].size(); ++n) {
      const Range& name = names[t][n];
      const size_t languages = language_table[t][n];
      write_entry(type_table[t], n, sorted[name.begin]->name, name_text[t][n],
                  res::kHighBit | static_cast<uint32_t>(languages));
      write_table(languages, 0, name.end - name.begin);
      for (size_t l = 0; l < name.end - name.begin; ++l, ++item_index) {
        const ResourceItem& item = *sorted[item_index];
        const size_t entry = data_entries + item_index * res::kDataEntrySize;
        ResourceKey language;
        language.id = item.language;
        write_entry(languages, l, language, 0, static_cast<uint32_t>(entry));
        view.Put32(entry, section_rva + static_cast<uint32_t>(data_at[item_index]));
        view.Put32(entry + 4, static_cast<uint32_t>(item.data.size()));
        view.Put32(entry + 8, item.code_page);
        view.CopyFrom(data_at[item_index], item.data);
      }
    }
  }
  for (const auto& [text, offset] : texts) {
    view.Put16(offset, static_cast<uint16_t>(text->size()));
    for (size_t i = 0; i < text->size(); ++i) view.Put16(offset + 2 + 2 * i, static_cast<uint16_t>((*text)[i]));
  }
  return out;
}

bool RebuildResourceSection(CPE_ImageEditor& image, const ResourceTable& table) {
  if (!image.IsLoaded()) return false;
  try {
    const uint32_t root = image.DirectoryAddress(res::kDirResource);
    if (root != 0) {
      // A directory that shares its section with other data cannot be rebuilt whole
      // without moving what else lives there.
      const int slot = image.SectionOfRva(root);
      if (slot < 0 || image.Section(slot).VirtualAddress != root) return false;
      std::vector<uint8_t> section = table.Serialize(root);
      const uint32_t size = static_cast<uint32_t>(section.size());
      if (!image.ReplaceSectionData(slot, std::move(section), MayFollowResources)) return false;
      image.SetDirectory(res::kDirResource, root, size);
      return true;
    }
    if (table.Empty()) return true;
    // After every section in memory, so that none can be found at its addresses instead.
    const uint32_t rva = image.NextSectionAddress();
    if (rva == 0) return false;
    std::vector<uint8_t> section = table.Serialize(rva);
    const uint32_t size = static_cast<uint32_t>(section.size());
    // The directory entry must exist before a section is added for it.
    image.SetDirectory(res::kDirResource, rva, size);
    if (image.DirectoryAddress(res::kDirResource) != rva) return false;
    if (!image.AddSection(".rsrc", std::move(section), kResourceCharacteristics)) {
      image.SetDirectory(res::kDirResource, 0, 0);
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ResourceUpdate::Refuse(std::string why, uint32_t error) {
  refusal_ = std::move(why);
  Discard();
  plat::SetLastError(error);
  return false;
}

bool ResourceUpdate::Begin(std::u16string_view exe) {
  Discard();
  refusal_.clear();
  if (!image_.Load(exe)) return Refuse(image_.RefusalText(), plat::GetLastError());
  if (!table_.Read(image_)) return Refuse(table_.RefusalText(), plat::err::kBadExeFormat);
  path_.assign(exe);
  return true;
}

bool ResourceUpdate::Update(uint16_t type, uint16_t id, uint16_t language, const void* data, uint32_t size) {
  refusal_.clear();
  if (!Active() || (data == nullptr && size != 0)) {
    plat::SetLastError(plat::err::kInvalidParameter);
    return false;
  }
  if (!table_.Update(type, id, language, static_cast<const uint8_t*>(data), size)) {
    refusal_ = ResourceRefusalText(ResourceRefusal::kOutOfMemory);
    plat::SetLastError(plat::err::kNotEnoughMemory);
    return false;
  }
  return true;
}

bool ResourceUpdate::Commit() {
  refusal_.clear();
  if (!Active()) {
    plat::SetLastError(plat::err::kInvalidHandle);
    return false;
  }
  if (!RebuildResourceSection(image_, table_)) {
    std::string why = image_.RefusalText();
    if (why.empty()) why = "the resource section cannot be rebuilt in this image";
    return Refuse(std::move(why), plat::err::kNotSupported);
  }
  // Write replaces the file only once the new one is complete, so a failure at any point
  // leaves the executable as it was.
  const bool ok = image_.Write(path_);
  const uint32_t error = plat::GetLastError();
  if (!ok) return Refuse(image_.RefusalText(), error);
  Discard();
  plat::SetLastError(plat::err::kSuccess);
  return true;
}

void ResourceUpdate::Discard() {
  image_.Reset();
  table_ = ResourceTable();
  path_.clear();
}

}  // namespace pe
