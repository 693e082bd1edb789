// Writes compound files (docfile form, version 3 or 4): streams and storages at any depth,
// small streams in the mini stream, a FAT with DIFAT sectors when it needs more than 109
// sectors, and a directory whose trees are balanced and coloured as valid red-black trees.
// `brankel macro new` stores attachments with it; the tests use it to make containers and
// damage them precisely, which is why the layout it chose comes back with the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace macro {

// Where the builder put everything.
struct CompoundLayout {
  struct Node {
    std::u16string path;  // from the root's child down, joined by backslashes; "" for the root
    uint32_t id = 0;      // the directory entry's number
    bool storage = false;
    bool mini = false;   // the data lies in the mini stream
    uint32_t start = 0;  // first sector (mini sector for small streams) as written
    uint64_t size = 0;
    std::vector<uint32_t> sectors;  // the data's chain in order: sectors, or mini sectors
  };

  uint32_t version = 3;
  uint32_t sector_size = 512;
  std::vector<uint32_t> fat_sectors;
  std::vector<uint32_t> difat_sectors;
  std::vector<uint32_t> directory_sectors;
  std::vector<uint32_t> mini_fat_sectors;
  std::vector<uint32_t> mini_stream_sectors;  // the root's chain
  std::vector<Node> nodes;                    // by directory id; the root is nodes[0]

  uint64_t SectorOffset(uint32_t sector) const { return (uint64_t{sector} + 1) * sector_size; }
  // Where directory entry `id` starts.
  uint64_t EntryOffset(uint32_t id) const;
  // Where the FAT's (mini FAT's) link for `sector` is stored.
  uint64_t FatLinkOffset(uint32_t sector) const;
  uint64_t MiniFatLinkOffset(uint32_t mini_sector) const;
  // Where the bytes of mini sector `mini_sector` lie in the file.
  uint64_t MiniSectorOffset(uint32_t mini_sector) const;
  // The node at `path` (exact spelling); the root when there is none.
  const Node& At(std::u16string_view path) const;
};

class CompoundBuilder {
 public:
  explicit CompoundBuilder(uint32_t version = 3) : version_(version) {}

  CompoundBuilder& Version(uint32_t version);
  // `path` is backslash-separated; storages on the way are made as needed.
  CompoundBuilder& AddStream(std::u16string_view path, std::vector<uint8_t> bytes);
  CompoundBuilder& AddStream(std::u16string_view path, std::string_view bytes);
  CompoundBuilder& AddStorage(std::u16string_view path);
  // Interleaves the sectors of all chains (and the mini sectors of all small streams)
  // instead of laying each chain out in one piece.
  CompoundBuilder& Scatter(bool on = true);

  // False after a bad name, a duplicate or a stream where a storage is needed; Build then
  // gives no bytes (as it does for a version other than 3 or 4).
  bool Ok() const { return problem_.empty(); }
  const std::string& Problem() const { return problem_; }

  std::vector<uint8_t> Build(CompoundLayout* layout = nullptr) const;
  bool WriteTo(std::u16string_view path, CompoundLayout* layout = nullptr) const;

 private:
  struct Node {
    std::u16string name;
    std::u16string upper;  // the name in the system's upper case, for finding duplicates
    bool storage = false;
    std::vector<uint8_t> bytes;
    std::vector<size_t> children;
  };
  // The node for `path`, made as a storage or a stream when missing; npos on a problem.
  size_t Place(std::u16string_view path, bool storage);

  uint32_t version_;
  bool scatter_ = false;
  std::string problem_;
  std::vector<Node> nodes_{Node{u"Root Entry", u"ROOT ENTRY", true, {}, {}}};
};

}  // namespace macro
