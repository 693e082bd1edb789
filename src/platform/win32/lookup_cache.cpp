#include "platform/win32/lookup_cache.h"

#include "platform/win32/win32_common.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace plat::win32 {
namespace {

// One folder as FindFirstFileW listed it: the upper-case forms of its entries' long and
// short names. A folder with a name outside ASCII is not trusted for a "no": the file
// system's own case rules for such names are not ours to copy.
struct Listing {
  enum class State { kListed, kMissing, kUnknown } state = State::kUnknown;
  bool ascii_only = true;
  std::unordered_set<std::u16string> names;
};

struct Cache {
  std::mutex mutex;
  int depth = 0;
  std::unordered_map<std::u16string, std::shared_ptr<const Listing>> folders;
  // Folders asked about once since the last change; only a second question reads a listing.
  std::unordered_set<std::u16string> asked;
  std::unordered_map<std::u16string, std::pair<uint32_t, uint32_t>> attributes;
  std::vector<std::u16string> search_folders;  // empty until needed
  bool search_folders_known = false;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::u16string AsciiUpper(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return upper;
}

// A name component the system takes as it is spelt: ASCII, no wildcard, separator, colon
// or short-name marker, and no trailing dot or blank (which the system drops).
bool IsPlainComponent(std::u16string_view part) {
  if (part.empty() || part.back() == u'.' || part.back() == u' ' || !IsAscii(part)) return false;
  for (char16_t c : part) {
    if (c < 0x20 || c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' ||
        c == u'>' || c == u'|' || c == u'~') {
      return false;
    }
  }
  return true;
}

std::shared_ptr<const Listing> ReadListing(const std::u16string& folder) {
  auto listing = std::make_shared<Listing>();
  std::wstring pattern(folder.begin(), folder.end());
  if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // No such folder, or a file where the folder would be: nothing is below it.
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY) listing->state = Listing::State::kMissing;
    return listing;
  }
  do {
    for (const wchar_t* name : {found.cFileName, found.cAlternateFileName}) {
      const std::u16string text(name, name + ::wcsnlen(name, MAX_PATH));
      if (text.empty()) continue;
      if (!IsAscii(text)) listing->ascii_only = false;
      listing->names.insert(AsciiUpper(text));
    }
  } while (::FindNextFileW(find, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (error == ERROR_NO_MORE_FILES) listing->state = Listing::State::kListed;
  return listing;
}

// The listing of `folder`, read once per batch; call with the lock held.
std::shared_ptr<const Listing> FolderListing(Cache& cache, const std::u16string& folder) {
  const std::u16string key = AsciiUpper(folder);
  const auto known = cache.folders.find(key);
  if (known != cache.folders.end()) return known->second;
  std::shared_ptr<const Listing> listing = ReadListing(folder);
  cache.folders.emplace(key, listing);
  return listing;
}

// Whether `leaf` is surely absent from `folder`: listed (or missing altogether) and not
// among the names.
bool SurelyAbsent(Cache& cache, const std::u16string& folder, std::u16string_view leaf) {
  // A run that changes a file between questions (the temporary copies: one copy, one
  // question) would read a whole folder for each of them, where the system answers one
  // name for less. A listing pays only for a folder asked about again before a change.
  const std::u16string key = AsciiUpper(folder);
  if (cache.folders.count(key) == 0 && cache.asked.insert(key).second) return false;
  const std::shared_ptr<const Listing> listing = FolderListing(cache, folder);
  if (listing->state == Listing::State::kMissing) return true;
  return listing->state == Listing::State::kListed && listing->ascii_only &&
         listing->names.count(AsciiUpper(leaf)) == 0;
}

std::u16string Joined(std::u16string folder, std::u16string_view rest) {
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  folder.append(rest);
  return folder;
}

// Every folder the system's search for files may look in, whatever its order; empty when
// one of them is not a full path we can list (the search is then left to the system).
std::vector<std::u16string> FindSearchFolders() {
  std::vector<std::u16string> folders;
  const std::u16string module =
      GrowingCall([](wchar_t* b, DWORD n) -> DWORD { return ::GetModuleFileNameW(nullptr, b, n); });
  const size_t slash = module.find_last_of(u'\\');
  if (slash == std::u16string::npos) return {};
  folders.push_back(module.substr(0, slash));
  folders.push_back(GrowingCall([](wchar_t* b, DWORD n) -> DWORD { return ::GetCurrentDirectoryW(n, b); }));
  folders.push_back(GrowingCall([](wchar_t* b, DWORD n) -> DWORD { return ::GetSystemDirectoryW(b, n); }));
  const std::u16string windows = GrowingCall([](wchar_t* b, DWORD n) -> DWORD { return ::GetWindowsDirectoryW(b, n); });
  folders.push_back(windows);
  folders.push_back(Joined(windows, u"system"));
  const std::u16string path =
      GrowingCall([](wchar_t* b, DWORD n) -> DWORD { return ::GetEnvironmentVariableW(L"PATH", b, n); });
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(u';', start);
    if (end == std::u16string::npos) end = path.size();
    std::u16string entry = path.substr(start, end - start);
    start = end + 1;
    if (entry.size() >= 2 && entry.front() == u'"' && entry.back() == u'"') entry = entry.substr(1, entry.size() - 2);
    if (entry.empty()) continue;
    folders.push_back(std::move(entry));
  }
  for (const std::u16string& folder : folders) {
    // A relative entry, or one with variables or quotes left in it, is searched as the
    // system reads it, which a listing of ours would not copy.
    const bool drive_path = folder.size() >= 3 && folder[1] == u':' && folder[2] == u'\\';
    if (!drive_path || folder.find_first_of(u"%\"/") != std::u16string::npos) return {};
  }
  return folders;
}

}  // namespace

void BeginLookupBatch() {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  ++cache.depth;
}

void EndLookupBatch() {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  if (--cache.depth > 0) return;
  cache.depth = 0;
  cache.folders.clear();
  cache.asked.clear();
  cache.attributes.clear();
  cache.search_folders.clear();
  cache.search_folders_known = false;
}

void LookupsChanged() {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  if (cache.depth == 0) return;
  cache.folders.clear();
  cache.asked.clear();
  cache.attributes.clear();
  cache.search_folders.clear();
  cache.search_folders_known = false;
}

std::optional<uint32_t> KnownAttributes(std::u16string_view path) {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  if (cache.depth == 0) return std::nullopt;
  const auto known = cache.attributes.find(std::u16string(path));
  if (known != cache.attributes.end()) {
    if (known->second.first == INVALID_FILE_ATTRIBUTES) ::SetLastError(known->second.second);
    return known->second.first;
  }
  // "X:\...\leaf" with a leaf its listed folder lacks: not found.
  const size_t slash = path.find_last_of(u'\\');
  if (path.size() < 4 || path[1] != u':' || path[2] != u'\\' || slash == std::u16string_view::npos || slash < 2) {
    return std::nullopt;
  }
  const std::u16string_view leaf = path.substr(slash + 1);
  const std::u16string folder(path.substr(0, slash == 2 ? 3 : slash));
  if (!IsPlainComponent(leaf) || folder.find_first_of(u"/*?") != std::u16string::npos) return std::nullopt;
  const std::shared_ptr<const Listing> listing = FolderListing(cache, folder);
  if (listing->state != Listing::State::kListed || !listing->ascii_only ||
      listing->names.count(AsciiUpper(leaf)) != 0) {
    return std::nullopt;
  }
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_FILE_ATTRIBUTES;
}

void RememberAttributes(std::u16string_view path, uint32_t attributes, uint32_t error) {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  if (cache.depth == 0) return;
  cache.attributes.emplace(std::u16string(path), std::pair{attributes, error});
}

bool SurelyNotOnSearchPath(std::u16string_view name) {
  // A relative name of plain components only.
  if (name.empty() || name.front() == u'\\') return false;
  size_t start = 0;
  while (true) {
    const size_t end = name.find(u'\\', start);
    if (!IsPlainComponent(name.substr(start, end == std::u16string_view::npos ? name.npos : end - start))) {
      return false;
    }
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  const size_t slash = name.find_last_of(u'\\');
  const std::u16string_view below = slash == std::u16string_view::npos ? std::u16string_view() : name.substr(0, slash);
  const std::u16string_view leaf = slash == std::u16string_view::npos ? name : name.substr(slash + 1);
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  if (cache.depth == 0) return false;
  if (!cache.search_folders_known) {
    cache.search_folders = FindSearchFolders();
    cache.search_folders_known = true;
  }
  if (cache.search_folders.empty()) return false;
  for (const std::u16string& folder : cache.search_folders) {
    const std::u16string parent = below.empty() ? folder : Joined(folder, below);
    if (!SurelyAbsent(cache, parent, leaf)) return false;
  }
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return true;
}

}  // namespace plat::win32
