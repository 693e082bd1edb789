// The two lists a build works on, macro files and extra files, and the message text that
// list operations leave behind when they fail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "project/options.h"

namespace app {
class CVLWinApp;
}

namespace project {

inline constexpr int32_t kMacroCapacity = 520;
inline constexpr int32_t kExtraCapacity = 528;
// What a build appends to its own copy of the lists beyond the wizard's entries: the
// player's language files, and the runtime modules, the UI library, OCR data files and the
// player copy.
inline constexpr int32_t kBuildMacroRoom = 8;
inline constexpr int32_t kBuildExtraRoom = 512;
inline constexpr size_t kListMessageChars = 260;

class CMakeExe_FileLists {
 public:
  // `texts` gives language texts for SetListMessage; without one a key shows as itself.
  explicit CMakeExe_FileLists(const app::CVLWinApp* texts = nullptr, int32_t macro_capacity = kMacroCapacity,
                              int32_t extra_capacity = kExtraCapacity);
  CMakeExe_FileLists(const CMakeExe_FileLists&) = delete;
  CMakeExe_FileLists& operator=(const CMakeExe_FileLists&) = delete;

  // Appends a copy unless an entry with the same path (without regard to case) is listed;
  // returns the index of the new or the listed entry. Callers keep the count in bounds;
  // a full block is refused (-1) rather than written past.
  int32_t AddMacroEntry(const MacroListEntry& entry, bool* already_listed = nullptr);
  // The same for extra files by their source path; true when the entry was appended.
  // Throws std::bad_alloc, with nothing changed, when memory runs out.
  bool AddExtraEntry(const ExtraFileEntry& entry);
  // Takes over the counts and the entries in use; returns the sum of the two counts, or -1
  // with nothing changed when `other` holds more entries than these lists have room for.
  int32_t CopyFrom(const CMakeExe_FileLists& other);

  // With a key: its text formatted with `argument` (at most 260 characters). With an
  // empty key: an empty message. With no key: the system's text for the last error.
  // A path a message names as the user knows it: a macro's temporary copy, which the user
  // never saw, is named by the macro file it was copied from.
  std::u16string UserPathOf(std::u16string_view path) const;
  // The argument is named by UserPathOf.
  void SetListMessage(const char16_t* key, std::u16string_view argument = {});
  std::u16string_view Message() const;

  int32_t MacroCount() const { return macro_count_; }
  int32_t ExtraCount() const { return extra_count_; }
  int32_t MacroCapacity() const { return macro_capacity_; }
  int32_t ExtraCapacity() const { return extra_capacity_; }
  MacroListEntry* MacroEntries() { return macros_.get(); }
  const MacroListEntry* MacroEntries() const { return macros_.get(); }
  ExtraFileEntry* ExtraEntries() { return extras_.get(); }
  const ExtraFileEntry* ExtraEntries() const { return extras_.get(); }
  // Drops the entries from `count` on (for pages that remove entries).
  void SetMacroCount(int32_t count);
  void SetExtraCount(int32_t count);

 private:
  const app::CVLWinApp* texts_;
  int32_t macro_capacity_;
  int32_t extra_capacity_;
  char16_t message_[kListMessageChars] = {};
  std::unique_ptr<MacroListEntry[]> macros_;
  std::unique_ptr<ExtraFileEntry[]> extras_;
  int32_t extra_count_ = 0;
  int32_t macro_count_ = 0;
  // Where a source path was last seen in the extra list, by IndexKey. Entries change
  // through ExtraEntries() too, so a position found here is only a place to look first.
  std::unordered_map<std::u16string, int32_t> extra_index_;
};

}  // namespace project
