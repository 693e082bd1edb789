#include "pe/version_info.h"

#include <algorithm>

#include "pe/pe_resources.h"
#include "platform/byte_view.h"

namespace pe {
namespace {

size_t Align4(size_t value) { return (value + 3) & ~size_t{3}; }
char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

struct Node {
  size_t begin = 0;
  size_t end = 0;  // begin + the node's own length
  size_t key = 0;  // offset of the key's first character
  size_t key_length = 0;
  VersionValue value;
  size_t children = 0;
};

// The node at `at`, which must lie inside [at, limit).
std::optional<Node> ReadNode(plat::ByteView block, size_t at, size_t limit) {
  constexpr size_t kHead = 6;
  if (at > limit || limit - at < kHead) return std::nullopt;
  Node node;
  node.begin = at;
  const size_t length = block.U16Or(at, 0);
  if (length < kHead || length > limit - at) return std::nullopt;
  node.end = at + length;
  const size_t value_length = block.U16Or(at + 2, 0);
  node.value.text = block.U16Or(at + 4, 0) == 1;
  node.key = at + kHead;
  size_t cursor = node.key;
  for (;;) {
    if (cursor + 2 > node.end) return std::nullopt;  // the key must end inside the node
    if (block.U16Or(cursor, 0) == 0) break;
    cursor += 2;
  }
  node.key_length = (cursor - node.key) / 2;
  node.value.offset = std::min(Align4(cursor + 2), node.end);
  // Writers disagree on whether text lengths count characters or bytes; the node's own
  // length bounds the value either way.
  const size_t value_bytes = node.value.text ? value_length * 2 : value_length;
  node.value.size = std::min(value_bytes, node.end - node.value.offset);
  node.children = std::min(Align4(node.value.offset + node.value.size), node.end);
  return node;
}

bool KeyEquals(plat::ByteView block, const Node& node, std::u16string_view name) {
  if (node.key_length != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (AsciiUpper(static_cast<char16_t>(block.U16Or(node.key + 2 * i, 0))) != AsciiUpper(name[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<VersionValue> QueryVersionValue(const uint8_t* block, size_t size, std::u16string_view path) {
  if (block == nullptr) return std::nullopt;
  const plat::ByteView view(block, size);
  std::optional<Node> node = ReadNode(view, 0, size);
  if (!node) return std::nullopt;
  while (!path.empty()) {
    const size_t skip = path.find_first_not_of(u'\\');
    if (skip == std::u16string_view::npos) break;
    path.remove_prefix(skip);
    const size_t cut = path.find(u'\\');
    const std::u16string_view name = path.substr(0, cut);
    path.remove_prefix(cut == std::u16string_view::npos ? path.size() : cut);
    std::optional<Node> found;
    for (size_t child = node->children; child < node->end;) {
      std::optional<Node> candidate = ReadNode(view, child, node->end);
      if (!candidate) return std::nullopt;
      if (KeyEquals(view, *candidate, name)) {
        found = candidate;
        break;
      }
      child = Align4(candidate->end);  // lengths are at least 6, so this always moves on
    }
    if (!found) return std::nullopt;
    node = found;
  }
  return node->value;
}

std::optional<FixedVersion> ReadFixedVersion(plat::ByteView block) {
  const std::optional<VersionValue> root = QueryVersionValue(block.data(), block.size(), u"\\");
  // Signature, structure version, then the four halves.
  constexpr size_t kNumbersEnd = 24;
  if (!root || root->text || root->size < kNumbersEnd) return std::nullopt;
  const std::optional<plat::ByteView> info = block.Sub(root->offset, root->size);
  if (!info || info->U32Or(0, 0) != kFixedInfoSignature) return std::nullopt;
  return FixedVersion{info->U32Or(8, 0), info->U32Or(12, 0), info->U32Or(16, 0), info->U32Or(20, 0)};
}

std::optional<FixedVersion> ImageFixedVersion(const CPE_ImageEditor& image) {
  ResourceTable table;
  if (!table.Read(image)) return std::nullopt;
  const ResourceItem* item = table.Find(res::kTypeVersion, 1, res::kLanguageNeutral);
  if (item == nullptr) return std::nullopt;
  // A block's own length says where it ends; the data may be padded beyond it.
  const plat::ByteView data(item->data);
  return ReadFixedVersion(data.First(data.U16Or(0, 0)));
}

std::string DottedVersion(uint32_t most, uint32_t least) {
  return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFF) + "." + std::to_string(least >> 16) + "." +
         std::to_string(least & 0xFFFF);
}

}  // namespace pe
