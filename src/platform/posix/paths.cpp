// The Windows name space on a POSIX host: drive letters are folders under
// <root>/dosdevices, "Z:" is "/", and every component is looked up without regard to case.
#include <dirent.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/unicode.h"

namespace plat::posix {
namespace {

struct State {
  std::mutex mutex;
  std::string root;
  bool prepared = false;
  std::u16string current_dir;  // empty until first asked
};

State& GetState() {
  static State state;
  return state;
}

std::string DefaultRoot() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.brankel";
  return "/tmp/brankel-" + std::to_string(getuid());
}

void MakeFolders(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (!partial.empty()) mkdir(partial.c_str(), 0755);
  }
}

void EnsureLink(const std::string& link, const char* target) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) return;
  if (symlink(target, link.c_str()) != 0) {
    // A root on a file system without links still gets a usable C: drive.
    MakeFolders(link);
  }
}

// Lays out the prefix: the drives and the folders Windows always has.
void PrepareRoot(const std::string& root) {
  MakeFolders(root + "/dosdevices");
  MakeFolders(root + "/drive_c");
  EnsureLink(root + "/dosdevices/c:", "../drive_c");
  EnsureLink(root + "/dosdevices/z:", "/");
  const std::string user = Utf16ToUtf8(UserName());
  for (const char* folder : {"/drive_c/ProgramData", "/drive_c/windows/system32"}) {
    MakeFolders(root + folder);
  }
  MakeFolders(root + "/drive_c/users/" + user + "/AppData/Roaming");
  MakeFolders(root + "/drive_c/users/" + user + "/AppData/Local/Temp");
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool HasInvalidChar(std::u16string_view name, bool allow_wildcards) {
  for (char16_t c : name) {
    if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|') return true;
    if (!allow_wildcards && (c == u'*' || c == u'?')) return true;
  }
  return false;
}

bool IsHostFolder(const std::string& path) {
  struct stat st {};
  return stat(path.empty() ? "/" : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- Folder listings ----------------------------------------------------------------------
//
// A name that is not there under its exact spelling is looked for in the whole folder, and
// a run that looks up many names (the discovery, with the search for files behind each)
// would read the same folders again for every one. So a folder's listing is kept with the
// folder's identity and times, and used again only while a stat of the folder still shows
// them: adding, removing or renaming an entry changes them. Times have a coarse grain, so
// a listing read within a moment of the folder's last change could miss a change that left
// them as they were; such a listing serves only its own look-up. The program's own changes
// drop the listing of the folder they touch and end all trust of the current batch.
//
// Inside a LookupBatch, a listing checked once is trusted without a stat until the program
// changes a file: what others do to the disk meanwhile is not seen, as if the whole batch
// looked at the disk at its start.

constexpr int64_t kRacySeconds = 2;

struct Listing {
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  timespec changed{};
  bool stable = false;      // read long enough after the folder's last change
  uint64_t trusted_in = 0;  // the batch generation in which it was last checked
  std::unordered_set<std::string> names;
  // Each upper-case form with the first of its entries in byte order and how many
  // entries have that form.
  struct Spelling {
    std::string first;
    uint32_t count = 0;
  };
  std::unordered_map<std::u16string, Spelling> by_upper;

  void Add(std::string name) {
    Spelling& spelling = by_upper[ToUpper(Utf8ToUtf16(name))];
    if (spelling.count++ == 0 || name < spelling.first) spelling.first = name;
    names.insert(std::move(name));
  }
  void Remove(const std::string& name) {
    if (names.erase(name) == 0) return;
    const auto at = by_upper.find(ToUpper(Utf8ToUtf16(name)));
    if (at == by_upper.end()) return;
    if (--at->second.count == 0) {
      by_upper.erase(at);
    } else if (at->second.first == name) {
      // Another spelling of the same name is left: the first of those in byte order.
      at->second.first.clear();
      for (const std::string& other : names) {
        if ((at->second.first.empty() || other < at->second.first) && ToUpper(Utf8ToUtf16(other)) == at->first) {
          at->second.first = other;
        }
      }
    }
  }
};

struct ListingCache {
  std::mutex mutex;
  std::unordered_map<std::string, Listing> folders;
  int batch_depth = 0;
  uint64_t generation = 0;  // the current batch's trust in listings; 0 outside batches
  // The current batch's trust in what is kept about single names (attributes, found
  // folders): it ends with every change the program makes, even one the listings took in.
  uint64_t answers = 0;
  uint64_t last_generation = 0;
};

ListingCache& Listings() {
  static ListingCache cache;
  return cache;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool SameFolder(const Listing& listing, const struct stat& st) {
  return listing.device == st.st_dev && listing.inode == st.st_ino && SameTime(listing.modified, st.st_mtim) &&
         SameTime(listing.changed, st.st_ctim);
}

// Whether a folder's stat keeps up with changes of its entries: not so on the kernel's
// own file systems, whose entries come and go without touching the folder's times.
bool TimesFollowEntries(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case BPF_FS_MAGIC:
    case FUSE_SUPER_MAGIC:
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
      return false;
    default:
      return true;
  }
}

// Reads `folder` into `listing`; false when it cannot be listed (the caller then looks
// the name up the slow way).
bool ReadListing(const std::string& folder, const struct stat& st, Listing* listing) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "/" : folder.c_str()), closedir);
  if (dir == nullptr) return false;
  listing->device = st.st_dev;
  listing->inode = st.st_ino;
  listing->modified = st.st_mtim;
  listing->changed = st.st_ctim;
  listing->stable = TimesFollowEntries(dirfd(dir.get())) && st.st_mtim.tv_sec + kRacySeconds < now.tv_sec &&
                    st.st_ctim.tv_sec + kRacySeconds < now.tv_sec;
  while (dirent* entry = readdir(dir.get())) listing->Add(entry->d_name);
  return true;
}

// The listing of `folder` as it is now, or null when it cannot be had. Called with the
// cache's lock held; the result lives until the lock is let go.
const Listing* CurrentListing(ListingCache& cache, const std::string& folder) {
  const auto known = cache.folders.find(folder);
  if (known != cache.folders.end() && cache.generation != 0 && known->second.trusted_in == cache.generation) {
    return &known->second;
  }
  struct stat st {};
  if (stat(folder.empty() ? "/" : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (known != cache.folders.end()) cache.folders.erase(known);
    return nullptr;
  }
  if (known != cache.folders.end() && known->second.stable && SameFolder(known->second, st)) {
    known->second.trusted_in = cache.generation;
    return &known->second;
  }
  Listing fresh;
  if (!ReadListing(folder, st, &fresh)) return nullptr;
  // Inside a batch even a listing too fresh to be checked later serves until it ends.
  if (!fresh.stable && cache.generation == 0) {
    if (known != cache.folders.end()) cache.folders.erase(known);
    static thread_local Listing once;
    once = std::move(fresh);
    return &once;
  }
  fresh.trusted_in = cache.generation;
  Listing& kept = cache.folders[folder];
  kept = std::move(fresh);
  return &kept;
}

// The slow way, for a folder that cannot be listed into the cache.
bool FindEntryUncached(const std::string& folder, const std::string& name, std::string* found) {
  struct stat st {};
  const std::string exact = folder + "/" + name;
  if (lstat(exact.c_str(), &st) == 0) {
    *found = name;
    return true;
  }
  // Closed however the listing ends: the name conversions below allocate.
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "/" : folder.c_str()), closedir);
  if (dir == nullptr) return false;
  const std::u16string wanted = ToUpper(Utf8ToUtf16(name));
  std::vector<std::string> matches;
  while (dirent* entry = readdir(dir.get())) {
    if (ToUpper(Utf8ToUtf16(entry->d_name)) == wanted) matches.emplace_back(entry->d_name);
  }
  if (matches.empty()) return false;
  *found = *std::min_element(matches.begin(), matches.end());
  return true;
}

// Finds `name` in the host folder: the exact name first, then any entry that matches it
// without regard to case (the first in the folder's sorted order, for repeatability).
bool FindEntry(const std::string& folder, const std::string& name, std::string* found) {
  ListingCache& cache = Listings();
  std::unique_lock lock(cache.mutex);
  // Outside a batch the exact name costs one look, as it always did; only a name not
  // there as spelled needs the listing.
  if (cache.generation == 0) {
    struct stat st {};
    if (lstat((folder + "/" + name).c_str(), &st) == 0) {
      *found = name;
      return true;
    }
  }
  const Listing* listing = CurrentListing(cache, folder);
  if (listing == nullptr) {
    lock.unlock();
    return FindEntryUncached(folder, name, found);
  }
  if (listing->names.count(name) != 0) {
    *found = name;
    return true;
  }
  // The search for files asks for one name in folder after folder: its upper-case form is
  // made once.
  static thread_local std::string last_name;
  static thread_local std::u16string last_upper;
  if (last_name != name || last_upper.empty()) {
    last_upper = ToUpper(Utf8ToUtf16(name));
    last_name = name;
  }
  const auto match = listing->by_upper.find(last_upper);
  if (match == listing->by_upper.end()) return false;
  // A host folder that itself ignores case answers to the exact spelling too.
  struct stat st {};
  *found = lstat((folder + "/" + name).c_str(), &st) == 0 ? name : match->second.first;
  return true;
}

// Whether `path` is a host folder; inside a batch a listing trusted there answers without
// a stat.
bool IsFolderEntry(const std::string& path) {
  {
    ListingCache& cache = Listings();
    std::lock_guard lock(cache.mutex);
    if (cache.generation != 0) {
      const auto known = cache.folders.find(path);
      if (known != cache.folders.end() && known->second.trusted_in == cache.generation) return true;
    }
  }
  return IsHostFolder(path);
}

}  // namespace

void FolderChanged(const std::string& host_path) {
  // The callers report the failure of the change itself after this.
  const int error = errno;
  ListingCache& cache = Listings();
  std::lock_guard lock(cache.mutex);
  // A folder removed or renamed takes the listings of everything under it along.
  const std::string under = host_path + "/";
  std::erase_if(cache.folders, [&](const auto& kept) {
    return kept.first == host_path || kept.first.compare(0, under.size(), under) == 0;
  });
  Listing* kept = nullptr;
  bool aliased = false;
  const size_t slash = host_path.find_last_of('/');
  if (slash != std::string::npos) {
    const auto known = cache.folders.find(host_path.substr(0, slash));
    if (known != cache.folders.end() && cache.generation != 0 && known->second.trusted_in == cache.generation) {
      // A run that makes hundreds of files in one folder (the temporary copies) would
      // read that folder again after each; inside a batch only this entry changed as far
      // as the batch can tell, so the listing takes it in. The times it was checked with
      // are now stale, so it is never trusted again outside a batch.
      struct stat st {};
      const std::string name = host_path.substr(slash + 1);
      if (lstat(host_path.c_str(), &st) == 0) {
        kept = &known->second;
        if (kept->names.count(name) == 0) kept->Add(name);
      } else if (errno == ENOENT) {
        kept = &known->second;
        kept->Remove(name);
      }
    }
    if (kept != nullptr) {
      kept->stable = false;
      // The same folder reached through another name shows the change only in its times.
      for (const auto& [path, other] : cache.folders) {
        if (&other != kept && other.device == kept->device && other.inode == kept->inode) aliased = true;
      }
    } else if (known != cache.folders.end()) {
      cache.folders.erase(known);
    }
  }
  if (cache.generation != 0) {
    cache.answers = ++cache.last_generation;
    // A folder the listings could not follow may be anywhere: every listing is checked
    // again against its times.
    if (kept == nullptr || aliased) cache.generation = cache.answers;
    if (kept != nullptr) kept->trusted_in = cache.generation;
  }
  errno = error;
}

bool IsPlainName(std::u16string_view name) {
  if (name.empty() || name.back() == u'.' || name.back() == u' ') return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' ||
        c == u'*' || c == u'?') {
      return false;
    }
  }
  return true;
}

bool FindInFolder(const std::string& host_folder, const std::string& name, std::string* found) {
  return FindEntry(host_folder, name, found);
}

bool UpperNamesIn(const std::string& host_folder, std::vector<std::u16string>* names) {
  ListingCache& cache = Listings();
  std::lock_guard lock(cache.mutex);
  const Listing* listing = CurrentListing(cache, host_folder);
  if (listing == nullptr) return false;
  names->clear();
  names->reserve(listing->by_upper.size());
  for (const auto& [upper, spelling] : listing->by_upper) names->push_back(upper);
  return true;
}

bool IsFolder(const std::string& host_path) { return IsFolderEntry(host_path); }

uint64_t LookupBatchGeneration() {
  ListingCache& cache = Listings();
  std::lock_guard lock(cache.mutex);
  return cache.answers;
}

void ForgetListings() {
  ListingCache& cache = Listings();
  std::lock_guard lock(cache.mutex);
  cache.folders.clear();
  if (cache.generation != 0) cache.generation = cache.answers = ++cache.last_generation;
}

const std::string& Root() {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  if (state.root.empty()) state.root = DefaultRoot();
  if (!state.prepared) {
    PrepareRoot(state.root);
    ForgetListings();
    state.prepared = true;
  }
  return state.root;
}

void SetRoot(std::string host_folder) {
  State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.root = std::move(host_folder);
  state.prepared = false;
  state.current_dir.clear();
  ForgetListings();
}

std::u16string UserName() {
  // Asked for with every temporary path; the account does not change while the program runs.
  static const std::u16string name = [] {
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr && *pw->pw_name != '\0') {
      return Utf8ToUtf16(pw->pw_name);
    }
    return std::u16string(u"user");
  }();
  return name;
}

void SplitLastComponent(std::u16string_view full, std::u16string* folder, std::u16string* name) {
  size_t cut = full.find_last_of(u"\\/");
  if (cut == std::u16string_view::npos) {
    *folder = u"";
    *name = std::u16string(full);
    return;
  }
  *name = std::u16string(full.substr(cut + 1));
  // Keep the separator of a drive root ("C:\") so the folder stays absolute.
  *folder = std::u16string(full.substr(0, (cut == 2 && full[1] == u':') ? cut + 1 : cut));
}

bool ResolvePath(std::u16string_view path, HostPath* out, bool allow_wildcards) {
  const std::u16string full = GetFullPathName(path);
  if (full.empty()) return false;
  if (full.size() < 3 || !IsDriveLetter(full[0]) || full[1] != u':') {
    // UNC names have no host counterpart here.
    SetLastError(err::kPathNotFound);
    return false;
  }
  std::string host = Root() + "/dosdevices/" + char(AsciiLower(full[0])) + ":";
  if (!IsFolderEntry(host)) {
    SetLastError(err::kPathNotFound);
    return false;
  }
  // Split the rest into components.
  std::vector<std::u16string> parts;
  std::u16string part;
  for (size_t i = 3; i <= full.size(); ++i) {
    if (i == full.size() || IsSeparator(full[i])) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(full[i]);
    }
  }
  out->is_root = parts.empty();
  for (size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    if (HasInvalidChar(parts[i], allow_wildcards && last)) {
      SetLastError(err::kInvalidName);
      return false;
    }
    const std::string name = Utf16ToUtf8(parts[i]);
    std::string found;
    if (FindEntry(host, name, &found)) {
      host += "/" + found;
      if (!last && !IsFolderEntry(host)) {
        SetLastError(err::kPathNotFound);
        return false;
      }
      continue;
    }
    if (!last) {
      SetLastError(err::kPathNotFound);
      return false;
    }
    host += "/" + name;
    out->host = host;
    out->exists = false;
    return true;
  }
  out->host = host;
  out->exists = true;
  return true;
}

std::u16string HostToWindowsPath(const std::string& host_path) {
  char resolved[PATH_MAX];
  std::string path = realpath(host_path.c_str(), resolved) != nullptr ? resolved : host_path;
  const std::string dosdevices = Root() + "/dosdevices";
  if (DIR* dir = opendir(dosdevices.c_str())) {
    std::string best_prefix;
    char best_letter = 0;
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() != 2 || name[1] != ':' || name[0] == 'z') continue;
      char target[PATH_MAX];
      if (realpath((dosdevices + "/" + name).c_str(), target) == nullptr) continue;
      const std::string prefix = target;
      const bool inside = path == prefix || (path.compare(0, prefix.size(), prefix) == 0 &&
                                             (prefix == "/" || path[prefix.size()] == '/'));
      if (inside && prefix.size() > best_prefix.size()) {
        best_prefix = prefix;
        best_letter = name[0];
      }
    }
    closedir(dir);
    if (best_letter != 0) {
      std::string rest = path.substr(best_prefix == "/" ? 0 : best_prefix.size());
      std::u16string out = {char16_t(best_letter - 'a' + 'A'), u':'};
      std::u16string tail = Utf8ToUtf16(rest);
      for (char16_t& c : tail) {
        if (c == u'/') c = u'\\';
      }
      if (tail.empty() || tail[0] != u'\\') out += u'\\';
      return out + tail;
    }
  }
  std::u16string out = u"Z:" + Utf8ToUtf16(path);
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
  }
  if (out.size() == 2) out += u'\\';
  return out;
}

}  // namespace plat::posix

namespace plat {

using posix::GetState;

LookupBatch::LookupBatch() {
  posix::ListingCache& cache = posix::Listings();
  std::lock_guard lock(cache.mutex);
  if (cache.batch_depth++ == 0) cache.generation = cache.answers = ++cache.last_generation;
}

LookupBatch::~LookupBatch() {
  posix::ListingCache& cache = posix::Listings();
  std::lock_guard lock(cache.mutex);
  if (--cache.batch_depth == 0) cache.generation = cache.answers = 0;
}

std::u16string GetCurrentDirectory() {
  posix::State& state = GetState();
  {
    std::lock_guard lock(state.mutex);
    if (!state.current_dir.empty()) return state.current_dir;
  }
  char buffer[PATH_MAX];
  const std::u16string dir = posix::HostToWindowsPath(getcwd(buffer, sizeof buffer) != nullptr ? buffer : "/");
  std::lock_guard lock(state.mutex);
  state.current_dir = dir;
  return dir;
}

bool SetCurrentDirectory(std::u16string_view path) {
  const std::u16string full = GetFullPathName(path);
  if (full.empty()) return false;
  posix::HostPath host;
  if (!posix::ResolvePath(full, &host)) return false;
  if (!host.exists) {
    SetLastError(err::kFileNotFound);
    return false;
  }
  if (!posix::IsHostFolder(host.host)) {
    SetLastError(err::kDirectory);
    return false;
  }
  std::u16string stored = full;
  while (stored.size() > 3 && stored.back() == u'\\') stored.pop_back();
  posix::State& state = GetState();
  std::lock_guard lock(state.mutex);
  state.current_dir = stored;
  return true;
}

std::u16string GetFullPathName(std::u16string_view path) {
  if (path.empty()) {
    SetLastError(err::kInvalidName);
    return {};
  }
  std::u16string text(path);
  for (char16_t& c : text) {
    if (c == u'/') c = u'\\';
  }
  std::u16string prefix;  // "X:\" or "\\server\share\"
  std::u16string rest;
  const auto is_letter = [](char16_t c) { return posix::IsDriveLetter(c); };
  if (text.size() >= 2 && text[0] == u'\\' && text[1] == u'\\') {
    // UNC: the server and share stay as they are.
    size_t server_end = text.find(u'\\', 2);
    size_t share_end = server_end == std::u16string::npos ? server_end : text.find(u'\\', server_end + 1);
    if (share_end == std::u16string::npos) return text;
    prefix = text.substr(0, share_end + 1);
    rest = text.substr(share_end + 1);
  } else if (text.size() >= 2 && is_letter(text[0]) && text[1] == u':') {
    const char16_t drive = static_cast<char16_t>(text[0] & ~0x20);
    prefix = {drive, u':', u'\\'};
    if (text.size() >= 3 && text[2] == u'\\') {
      rest = text.substr(3);
    } else {
      // Drive-relative: against the current folder when it is on that drive.
      const std::u16string cwd = GetCurrentDirectory();
      rest = (cwd.size() >= 3 && (cwd[0] & ~0x20) == drive) ? cwd.substr(3) + u"\\" + text.substr(2) : text.substr(2);
    }
  } else {
    const std::u16string cwd = GetCurrentDirectory();
    if (cwd.size() < 3) {
      SetLastError(err::kPathNotFound);
      return {};
    }
    prefix = cwd.substr(0, 3);
    rest = text[0] == u'\\' ? text.substr(1) : cwd.substr(3) + u"\\" + text;
  }
  const bool trailing_separator = !rest.empty() && rest.back() == u'\\';
  std::vector<std::u16string> parts;
  std::u16string part;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && rest[i] != u'\\') {
      part.push_back(rest[i]);
      continue;
    }
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      // Windows drops trailing dots and blanks of a name.
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
      if (!part.empty()) parts.push_back(part);
    }
    part.clear();
  }
  std::u16string out = prefix;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += u'\\';
    out += parts[i];
  }
  if (trailing_separator && !parts.empty()) out += u'\\';
  return out;
}

std::u16string GetModuleFileName() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) {
    posix::SetLastErrorFromErrno(errno);
    return {};
  }
  return posix::HostToWindowsPath(std::string(buffer, static_cast<size_t>(length)));
}

std::u16string PathFromHost(std::string_view host_path) {
  // A path that already names a drive is a Windows path: taken as it is.
  if (host_path.size() >= 2 && posix::IsDriveLetter(static_cast<unsigned char>(host_path[0])) && host_path[1] == ':') {
    return GetFullPathName(Utf8ToUtf16(host_path));
  }
  std::string path(host_path);
  if (path.empty() || path[0] != '/') {
    char buffer[PATH_MAX];
    path = std::string(getcwd(buffer, sizeof buffer) != nullptr ? buffer : "/") + "/" + path;
  }
  // Resolve what exists (links, the root's drives); a missing leaf keeps its name.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const std::u16string windows_folder = posix::HostToWindowsPath(folder);
  std::u16string leaf = Utf8ToUtf16(path.substr(slash + 1));
  if (leaf.empty() || leaf == u".") return GetFullPathName(windows_folder);
  return GetFullPathName(windows_folder + (windows_folder.back() == u'\\' ? u"" : u"\\") + leaf);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace plat
