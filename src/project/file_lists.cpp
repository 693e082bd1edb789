#include "project/file_lists.h"

#include <algorithm>
#include <cstring>

#include "app/system_error.h"
#include "app/text_format.h"
#include "app/vl_win_app.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace project {
namespace {

// A 260-unit path field as the text it holds, looked at where it is.
std::u16string_view PathField(const char16_t (&field)[260]) {
  return std::u16string_view(field, static_cast<size_t>(std::find(field, field + 260, u'\0') - field));
}

// The key of the extra list's index: ASCII letters in one case. Paths equal without regard
// to case mostly share it; an index hit is still compared in full, and a miss searches the
// list as before, so the key decides nothing, it only spares the search.
std::u16string IndexKey(std::u16string_view path) {
  std::u16string key(path);
  for (char16_t& c : key) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return key;
}

}  // namespace

CMakeExe_FileLists::CMakeExe_FileLists(const app::CVLWinApp* texts, int32_t macro_capacity, int32_t extra_capacity)
    : texts_(texts),
      macro_capacity_(std::max(macro_capacity, 0)),
      extra_capacity_(std::max(extra_capacity, 0)),
      macros_(new MacroListEntry[static_cast<size_t>(macro_capacity_)]()),
      extras_(new ExtraFileEntry[static_cast<size_t>(extra_capacity_)]()) {}

int32_t CMakeExe_FileLists::AddMacroEntry(const MacroListEntry& entry, bool* already_listed) {
  const std::u16string_view path = PathField(entry.Path);
  for (int32_t i = 0; i < macro_count_; ++i) {
    if (plat::EqualNoCase(PathField(macros_[i].Path), path)) {
      if (already_listed != nullptr) *already_listed = true;
      return i;
    }
  }
  if (already_listed != nullptr) *already_listed = false;
  if (macro_count_ >= macro_capacity_) return -1;
  std::memcpy(&macros_[macro_count_], &entry, sizeof entry);
  return macro_count_++;
}

bool CMakeExe_FileLists::AddExtraEntry(const ExtraFileEntry& entry) {
  const std::u16string_view path = PathField(entry.SourcePath);
  // The discovery offers each path its commands name, most of them listed already: the
  // index finds those without comparing every entry. Its allocations fail as the list's
  // own did, before anything changes.
  const std::u16string key = IndexKey(path);
  const auto known = extra_index_.find(key);
  if (known != extra_index_.end() && known->second < extra_count_ &&
      plat::EqualNoCase(PathField(extras_[known->second].SourcePath), path)) {
    return false;
  }
  for (int32_t i = 0; i < extra_count_; ++i) {
    if (plat::EqualNoCase(PathField(extras_[i].SourcePath), path)) {
      extra_index_[key] = i;
      return false;
    }
  }
  if (extra_count_ >= extra_capacity_) return false;
  extra_index_[key] = extra_count_;
  std::memcpy(&extras_[extra_count_], &entry, sizeof entry);
  ++extra_count_;
  return true;
}

int32_t CMakeExe_FileLists::CopyFrom(const CMakeExe_FileLists& other) {
  if (&other == this) return macro_count_ + extra_count_;
  // A build's copy has more room than the wizard's; its entries never overrun these.
  if (other.macro_count_ > macro_capacity_ || other.extra_count_ > extra_capacity_) return -1;
  macro_count_ = other.macro_count_;
  extra_count_ = other.extra_count_;
  extra_index_.clear();
  std::memcpy(macros_.get(), other.macros_.get(), sizeof(MacroListEntry) * static_cast<size_t>(macro_count_));
  std::memcpy(extras_.get(), other.extras_.get(), sizeof(ExtraFileEntry) * static_cast<size_t>(extra_count_));
  return macro_count_ + extra_count_;
}

std::u16string CMakeExe_FileLists::UserPathOf(std::u16string_view path) const {
  if (!path.empty()) {
    for (int32_t i = 0; i < macro_count_; ++i) {
      const MacroListEntry& entry = macros_[i];
      if (entry.TempPath[0] != 0 && plat::EqualNoCase(FieldText(entry.TempPath), path)) return FieldText(entry.Path);
    }
  }
  return std::u16string(path);
}

void CMakeExe_FileLists::SetListMessage(const char16_t* key, std::u16string_view argument) {
  std::u16string text;
  if (key == nullptr) {
    char16_t buffer[kListMessageChars];
    app::FormatSystemError(plat::GetLastError(), buffer, kListMessageChars, false);
    text = buffer;
  } else if (*key != 0) {
    std::u16string format = key;
    if (texts_ != nullptr) texts_->GetText(format, key);
    text = app::FormatText(format, {UserPathOf(argument)}, kListMessageChars - 1);
  }
  plat::SetFixedText(message_, kListMessageChars, text);
}

std::u16string_view CMakeExe_FileLists::Message() const {
  return std::u16string_view(message_, std::char_traits<char16_t>::length(message_));
}

void CMakeExe_FileLists::SetMacroCount(int32_t count) { macro_count_ = std::clamp(count, 0, macro_count_); }
void CMakeExe_FileLists::SetExtraCount(int32_t count) { extra_count_ = std::clamp(count, 0, extra_count_); }

}  // namespace project
