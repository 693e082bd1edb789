// Compound file bytes, read the way attachments are read: open from memory, list every
// entry with its path, find each one again by that path, read every stream.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "macro/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  macro::CompoundFile file;
  if (!file.OpenMemory(data, size)) {
    if (file.Error() == macro::CompoundError::kNone || file.IsOpen()) __builtin_trap();
    return 0;
  }
  const std::vector<macro::CompoundEntry>& entries = file.Entries();
  if (entries.empty() || entries.front().type != macro::CompoundEntryType::kRoot) __builtin_trap();
  for (size_t i = 0; i < entries.size(); ++i) {
    const macro::CompoundEntry& entry = entries[i];
    if (entry.size > size) __builtin_trap();
    for (size_t child : entry.children) {
      if (child >= entries.size() || entries[child].parent != i) __builtin_trap();
    }
    // Two siblings may share a name in a damaged file; a look-up must then still lead to
    // one of that name in the same storage.
    if (i != 0) {
      const std::optional<size_t> found = file.FindChild(entry.parent, entry.name);
      if (!found || macro::CompareCompoundNames(entries[*found].name, entry.name) != 0 ||
          entries[*found].parent != entry.parent) {
        __builtin_trap();
      }
    }
    // The path finds the same way, unless a name holds the separator itself.
    const std::u16string path = file.PathOf(i);
    size_t separators = 0;
    for (char16_t c : path) separators += c == u'\\';
    if (i != 0 && separators + 1 == entry.depth) {
      const std::optional<size_t> found = file.Find(path);
      if (!found || entries[*found].parent != entry.parent ||
          macro::CompareCompoundNames(entries[*found].name, entry.name) != 0) {
        __builtin_trap();
      }
    }
    if (!entry.IsStream()) continue;
    const std::optional<std::vector<uint8_t>> bytes = file.ReadStreamAt(i);
    if (bytes ? bytes->size() != entry.size : file.Error() == macro::CompoundError::kNone) __builtin_trap();
  }
  return 0;
}
