// The resources of a Windows executable, read from and written back to its resource
// directory by our own code, so that every build (Linux included) edits icons, bitmaps and
// version blocks the same way, and an image whose resource section is not the last one is
// never damaged the way the system's update service damages it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pe/pe_image.h"

namespace pe {

namespace res {
inline constexpr uint16_t kTypeBitmap = 2;
inline constexpr uint16_t kTypeIcon = 3;
inline constexpr uint16_t kTypeGroupIcon = 14;
inline constexpr uint16_t kTypeVersion = 16;
inline constexpr uint16_t kLanguageNeutral = 0;

inline constexpr uint32_t kDirResource = 2;
inline constexpr uint32_t kDirBaseReloc = 5;

inline constexpr uint32_t kDirectorySize = 16;
inline constexpr uint32_t kDirectoryEntrySize = 8;
inline constexpr uint32_t kDataEntrySize = 16;
inline constexpr uint32_t kHighBit = 0x80000000u;

// Damaged directories can fan out without end (every entry naming the same table); no
// real program carries anywhere near this many resources.
inline constexpr size_t kMaxItems = 65536;
}  // namespace res

// A resource type or name: a 16-bit identifier, or a text when `name` is not empty.
struct ResourceKey {
  uint16_t id = 0;
  std::u16string name;

  bool IsName() const { return !name.empty(); }
  bool IsId(uint16_t value) const { return name.empty() && id == value; }
  friend bool operator==(const ResourceKey&, const ResourceKey&) = default;
};

struct ResourceItem {
  ResourceKey type;
  ResourceKey name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  std::vector<uint8_t> data;
};

// Why a resource directory was refused as damaged.
enum class ResourceRefusal {
  kNone,
  kRootOutside,
  kTableOutside,
  kNameOutside,
  kBadIdentifier,
  kWrongEntryKind,
  kDataOutside,
  kTooMany,
  kOutOfMemory,
};
// One English sentence for `refusal`, without a final stop; empty for kNone.
const char* ResourceRefusalText(ResourceRefusal refusal);

class ResourceTable {
 public:
  // Reads the image's resource directory (three levels: type, name, language). An image
  // without one reads as an empty table. False, with the table emptied, when the directory
  // is damaged: a table or text outside the resource section, data outside the image, an
  // entry that is a table where data belongs (or the reverse), or more than kMaxItems.
  bool Read(const CPE_ImageEditor& image);

  // Why the last Read refused; kNone after one that did not.
  ResourceRefusal Refusal() const { return refusal_; }
  std::string RefusalText() const { return ResourceRefusalText(refusal_); }

  const std::vector<ResourceItem>& Items() const { return items_; }
  bool Empty() const { return items_.empty(); }

  // What a request in `language` finds: the item in that language, else (as the loader
  // falls back from the neutral language) the first language the resource has.
  const ResourceItem* Find(uint16_t type, uint16_t id, uint16_t language) const;

  // Writes `size` bytes as the resource, or deletes it when `size` is 0. A neutral-language
  // write or delete of a resource that exists only in other languages replaces those, so
  // that what the loader finds afterwards is what was written. False only when out of
  // memory.
  bool Update(uint16_t type, uint16_t id, uint16_t language, const uint8_t* data, size_t size);

  // The bytes of a resource section holding the table, for a section loaded at
  // `section_rva`: tables first (types, names, languages, each sorted as the loader's
  // search needs), then the data entries, the name texts and the data, 8-byte aligned.
  std::vector<uint8_t> Serialize(uint32_t section_rva) const;

 private:
  std::vector<ResourceItem> items_;
  uint32_t time_stamp_ = 0;
  uint16_t major_version_ = 0;
  uint16_t minor_version_ = 0;
  ResourceRefusal refusal_ = ResourceRefusal::kNone;
};

// BeginUpdateResourceW / UpdateResourceW / EndUpdateResourceW on an executable, done by
// our own code. The whole resource section is rebuilt on Commit: in place when it fits,
// else grown when nothing after it is addressed by RVA (only ".reloc" and ".mdata"
// sections follow, and they move with their data directory entries); otherwise Commit
// refuses. Whatever fails, the file on disk stays exactly as it was.
class ResourceUpdate {
 public:
  // Loads the executable and its resources, keeping them (the other resources stay).
  bool Begin(std::u16string_view exe);
  bool Update(uint16_t type, uint16_t id, uint16_t language, const void* data, uint32_t size);
  // Writes the executable through a temporary file beside it with a correct checksum.
  bool Commit();
  void Discard();
  bool Active() const { return image_.IsLoaded(); }
  const ResourceTable& Table() const { return table_; }
  // Why the last Begin, Update or Commit failed, as the image editor or the resource table
  // said it; empty when it did not fail or the system error alone says why.
  std::string RefusalText() const { return refusal_; }

 private:
  bool Refuse(std::string why, uint32_t error);

  std::u16string path_;
  CPE_ImageEditor image_;
  ResourceTable table_;
  std::string refusal_;
};

// Rebuilds the image's resource section from `table` in memory, by the rules of
// ResourceUpdate; false with the image unchanged when they refuse.
bool RebuildResourceSection(CPE_ImageEditor& image, const ResourceTable& table);

}  // namespace pe
