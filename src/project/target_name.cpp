#include "project/target_name.h"

#include <vector>

#include "platform/platform.h"

namespace project {
namespace {

constexpr size_t kTargetNameChars = 260;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool IsOnlyDotsAndBlanks(std::u16string_view part) {
  for (char16_t c : part) {
    if (c != u'.' && c != u' ') return false;
  }
  return true;
}

bool IsBadNameCharacter(char16_t c) {
  return c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' || c == u'|';
}

// Splits `path` from `at` into its parts, dropping empty ones.
class Parts {
 public:
  Parts(std::u16string_view path, size_t at) : path_(path), at_(at) {}
  // The next non-empty part, or false at the end.
  bool Next(std::u16string_view* part) {
    while (at_ < path_.size() && IsSeparator(path_[at_])) ++at_;
    if (at_ >= path_.size()) return false;
    const size_t start = at_;
    while (at_ < path_.size() && !IsSeparator(path_[at_])) ++at_;
    *part = path_.substr(start, at_ - start);
    return true;
  }
  size_t Position() const { return at_; }

 private:
  std::u16string_view path_;
  size_t at_;
};

}  // namespace

std::u16string NormalizePath(std::u16string_view path) {
  std::u16string prefix;                   // written out as it stands
  std::vector<std::u16string_view> parts;  // joined with "\" after the prefix
  size_t fixed = 0;                        // leading parts that ".." cannot remove
  bool rooted = false;                     // whether ".." stops at the root
  size_t rest = 0;                         // where the parts below the root begin

  const auto take_root_parts = [&](size_t count) {
    Parts reader(path, rest);
    std::u16string_view part;
    while (fixed < count) {
      const size_t before = reader.Position();
      // "." and ".." name no server, share or volume; they are left to the loop below.
      if (!reader.Next(&part) || part == u"." || part == u"..") {
        rest = before;
        return;
      }
      parts.push_back(part);
      ++fixed;
    }
    rest = reader.Position();
  };

  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == u'?' || path[2] == u'.') &&
      IsSeparator(path[3])) {
    // A device or verbatim path: the volume after the prefix is its root.
    prefix.assign(path.substr(0, 4));
    rest = 4;
    rooted = true;
    take_root_parts(1);
    if (fixed == 1 && parts[0].size() == 3 && plat::EqualNoCase(parts[0], u"UNC")) take_root_parts(3);
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    prefix = u"\\\\";
    rest = 2;
    rooted = true;
    take_root_parts(2);  // server and share
  } else if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':') {
    prefix.assign(path.substr(0, 2));
    rest = 2;
    if (path.size() > 2 && IsSeparator(path[2])) {
      prefix += u'\\';
      rooted = true;
    }
  } else if (!path.empty() && IsSeparator(path[0])) {
    prefix = u"\\";
    rooted = true;
  }

  Parts reader(path, rest);
  std::u16string_view part;
  while (reader.Next(&part)) {
    if (part == u".") continue;
    if (part == u"..") {
      if (parts.size() > fixed && parts.back() != u"..") {
        parts.pop_back();
      } else if (!rooted) {
        parts.push_back(part);
      }
      continue;
    }
    parts.push_back(part);
  }

  std::u16string out = prefix;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += u'\\';
    out.append(parts[i]);
  }
  if (!parts.empty() && IsSeparator(path.back())) out += u'\\';
  return out;
}

bool IsSafeTargetName(std::u16string_view name) {
  if (name.empty() || name.size() >= kTargetNameChars) return false;
  if (IsSeparator(name.front()) || IsSeparator(name.back())) return false;
  for (char16_t c : name) {
    if (IsBadNameCharacter(c)) return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::u16string_view part = name.substr(start, end - start);
    // Empty parts are repeated separators; parts of dots and blanks are "." and "..", or
    // names the system shortens to them.
    if (part.empty() || IsOnlyDotsAndBlanks(part)) return false;
    start = end + 1;
  }
  return true;
}

std::u16string MakeTargetName(std::u16string_view source_path, std::u16string_view script_folder) {
  const std::u16string path = NormalizePath(source_path);
  std::u16string folder = NormalizePath(script_folder);
  if (folder.empty()) {
    if (IsSafeTargetName(path)) return path;
  } else {
    // Inside means below the folder as a whole: C:\Work\ does not hold C:\Workshop\x.
    if (!IsSeparator(folder.back())) folder += u'\\';
    if (path.size() > folder.size() && plat::EqualNoCase(std::u16string_view(path).substr(0, folder.size()), folder)) {
      const std::u16string_view below = std::u16string_view(path).substr(folder.size());
      if (IsSafeTargetName(below)) return std::u16string(below);
    }
  }
  size_t cut = path.size();
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  const std::u16string_view bare = std::u16string_view(path).substr(cut);
  if (IsSafeTargetName(bare)) return std::u16string(bare);
  return {};
}

}  // namespace project
