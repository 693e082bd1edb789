// Files, folders and listings with Windows rules: dispositions, share modes between the
// handles of this process, the read-only attribute, and FindFirstFile's wildcard listing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/unicode.h"

namespace plat {

struct FileObject {
  int fd = -1;
  uint32_t access = 0;
  uint32_t share = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

struct FindObject {
  std::vector<FindData> entries;
  size_t next = 0;
};

namespace {

// Every open handle, so that share modes are honoured between handles of this process
// the way Windows honours them between all handles.
struct OpenTable {
  std::mutex mutex;
  std::vector<FileObject*> handles;
};

OpenTable& Table() {
  static OpenTable table;
  return table;
}

bool SameFile(const FileObject* handle, const struct stat& st) {
  return handle->device == st.st_dev && handle->inode == st.st_ino;
}

bool AccessConflicts(uint32_t access, uint32_t share, const FileObject* other) {
  const bool reads = access & kGenericRead, writes = access & kGenericWrite;
  const bool other_reads = other->access & kGenericRead, other_writes = other->access & kGenericWrite;
  return (reads && !(other->share & kShareRead)) || (writes && !(other->share & kShareWrite)) ||
         (other_reads && !(share & kShareRead)) || (other_writes && !(share & kShareWrite));
}

// Checks a new open (or, with `deleting`, a delete) against the handles already open.
bool ShareAllows(const struct stat& st, uint32_t access, uint32_t share, bool deleting) {
  OpenTable& table = Table();
  std::lock_guard lock(table.mutex);
  for (const FileObject* other : table.handles) {
    if (!SameFile(other, st)) continue;
    if (deleting ? !(other->share & kShareDelete) : AccessConflicts(access, share, other)) {
      return false;
    }
  }
  return true;
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

uint32_t AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return kAttrDirectory;
  return kAttrArchive | (IsReadOnly(st) ? kAttrReadOnly : 0u);
}

bool Resolve(std::u16string_view path, posix::HostPath* host) { return posix::ResolvePath(path, host); }

// Resolves `path` to an entry that exists; kFileNotFound (or why the path itself failed)
// otherwise.
bool StatExisting(std::u16string_view path, posix::HostPath* host, struct stat* st) {
  if (!Resolve(path, host)) return false;
  if (!host->exists || stat(host->host.c_str(), st) != 0) {
    SetLastError(err::kFileNotFound);
    return false;
  }
  return true;
}

// Windows wildcard matching, without regard to case; "*.*" also matches names without a dot.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
  if (pattern == u"*.*" || pattern == u"*") return true;
  size_t n = 0, p = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n, ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool CopyContents(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote = write(to, buffer + put, static_cast<size_t>(got - put));
      if (wrote < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      put += wrote;
    }
  }
}

}  // namespace

namespace {

// Whether an open may make a file, which is what the test faults count as a create.
bool MayCreate(Disposition disposition) {
  return disposition == Disposition::kCreateNew || disposition == Disposition::kCreateAlways ||
         disposition == Disposition::kOpenAlways || disposition == Disposition::kTruncateExisting;
}

FileHandle OpenFileUnfaulted(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition) {
  // Specific data rights grant what the generic ones do.
  if (access & kFileReadData) access |= kGenericRead;
  if (access & kFileWriteData) access |= kGenericWrite;
  posix::HostPath host;
  if (!Resolve(path, &host)) return nullptr;
  struct stat st {};
  const bool existed = host.exists && stat(host.host.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) {
    SetLastError(err::kAccessDenied);
    return nullptr;
  }
  const bool writes = access & kGenericWrite;
  int flags = O_CLOEXEC;
  flags |= (access & kGenericRead) && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case Disposition::kCreateNew:
      if (existed) {
        SetLastError(err::kFileExists);
        return nullptr;
      }
      flags |= O_CREAT | O_EXCL;
      break;
    case Disposition::kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case Disposition::kOpenExisting:
      if (!existed) {
        SetLastError(err::kFileNotFound);
        return nullptr;
      }
      break;
    case Disposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case Disposition::kTruncateExisting:
      if (!existed) {
        SetLastError(err::kFileNotFound);
        return nullptr;
      }
      if (!writes) {
        SetLastError(err::kInvalidParameter);
        return nullptr;
      }
      flags |= O_TRUNC;
      break;
    default:
      SetLastError(err::kInvalidParameter);
      return nullptr;
  }
  if (existed) {
    // Truncating dispositions write to the file even when only reading is asked for.
    const bool modifies = writes || disposition == Disposition::kCreateAlways;
    if (modifies && IsReadOnly(st)) {
      SetLastError(err::kAccessDenied);
      return nullptr;
    }
    if (!ShareAllows(st, access, share, false)) {
      SetLastError(err::kSharingViolation);
      return nullptr;
    }
  }
  if (!writes && (flags & O_TRUNC)) flags = (flags & ~O_ACCMODE) | O_RDWR;
  const int fd = open(host.host.c_str(), flags, 0644);
  if (!existed) posix::FolderChanged(host.host);
  if (fd < 0) {
    posix::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  struct stat opened {};
  fstat(fd, &opened);
  FileObject* file = nullptr;
  try {
    // Neither the object nor the descriptor may be lost should memory run out here.
    std::unique_ptr<FileObject> owned(new FileObject{fd, access, share, opened.st_dev, opened.st_ino});
    OpenTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.handles.push_back(owned.get());
    file = owned.release();
  } catch (...) {
    close(fd);
    throw;
  }
  const bool reports_existing = disposition == Disposition::kCreateAlways || disposition == Disposition::kOpenAlways;
  SetLastError(reports_existing && existed ? err::kAlreadyExists : err::kSuccess);
  return file;
}

}  // namespace

FileHandle OpenFile(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition) {
  if (MayCreate(disposition) && fault::Fail(testing::FileOp::kCreate)) return nullptr;
  return OpenFileUnfaulted(path, access, share, disposition);
}

bool ReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fault::Fail(testing::FileOp::kRead)) return false;
  if (file == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  if (!(file->access & kGenericRead)) {
    SetLastError(err::kAccessDenied);
    return false;
  }
  uint32_t total = 0;
  while (total < size) {
    const ssize_t got = read(file->fd, static_cast<char*>(buffer) + total, size - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      posix::SetLastErrorFromErrno(errno);
      return false;
    }
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  if (done != nullptr) *done = total;
  return true;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (fault::Fail(testing::FileOp::kWrite)) return false;
  if (file == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  if (!(file->access & kGenericWrite)) {
    SetLastError(err::kAccessDenied);
    return false;
  }
  uint32_t total = 0;
  while (total < size) {
    const ssize_t put = write(file->fd, static_cast<const char*>(buffer) + total, size - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      posix::SetLastErrorFromErrno(errno);
      if (done != nullptr) *done = total;
      return false;
    }
    total += static_cast<uint32_t>(put);
  }
  if (done != nullptr) *done = total;
  return true;
}

bool SeekFile(FileHandle file, int64_t distance, SeekOrigin origin, uint64_t* new_position) {
  if (file == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::kBegin:
      break;
    case SeekOrigin::kCurrent:
      base = lseek(file->fd, 0, SEEK_CUR);
      break;
    case SeekOrigin::kEnd: {
      struct stat st {};
      fstat(file->fd, &st);
      base = st.st_size;
      break;
    }
    default:
      SetLastError(err::kInvalidParameter);
      return false;
  }
  if (distance < 0 && base < -distance) {
    SetLastError(err::kNegativeSeek);
    return false;
  }
  const off_t target = static_cast<off_t>(base + distance);
  if (lseek(file->fd, target, SEEK_SET) < 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  if (new_position != nullptr) *new_position = static_cast<uint64_t>(target);
  return true;
}

bool GetFileSize(FileHandle file, uint64_t* size) {
  struct stat st {};
  if (file == nullptr || fstat(file->fd, &st) != 0) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SetEndOfFile(FileHandle file) {
  if (file == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  if (!(file->access & kGenericWrite)) {
    SetLastError(err::kAccessDenied);
    return false;
  }
  const off_t here = lseek(file->fd, 0, SEEK_CUR);
  if (here < 0 || ftruncate(file->fd, here) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool CloseFile(FileHandle file) {
  if (file == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  {
    OpenTable& table = Table();
    std::lock_guard lock(table.mutex);
    std::erase(table.handles, file);
  }
  close(file->fd);
  delete file;
  return true;
}

namespace {

// Inside a look-up batch the discovery asks for the same few names over and over (every
// macro names the same files); an answer holds while the batch's generation does, as the
// listings it came from do.
struct AttributeCache {
  std::mutex mutex;
  uint64_t generation = 0;
  std::unordered_map<std::u16string, std::pair<uint32_t, uint32_t>> answers;  // attributes, last error
  // Folders resolved on the host: the host path, empty for one that is not a folder.
  std::unordered_map<std::u16string, std::string> folders;
};

AttributeCache& Attributes() {
  static AttributeCache cache;
  return cache;
}

uint32_t StatAttributes(std::u16string_view path) {
  posix::HostPath host;
  struct stat st {};
  if (!StatExisting(path, &host, &st)) return kInvalidAttributes;
  return AttributesOf(st);
}

// Whether "X:\\...\\leaf" names nothing, as the listing of its folder shows: the many
// names the discovery tries that are not there cost no resolution of the whole path each.
bool MissingFromFolder(std::u16string_view path, uint64_t batch) {
  const size_t slash = path.find_last_of(u'\\');
  if (path.size() < 4 || path[1] != u':' || path[2] != u'\\' || slash == std::u16string_view::npos || slash < 2 ||
      !posix::IsPlainName(path.substr(slash + 1))) {
    return false;
  }
  const std::u16string folder(path.substr(0, slash == 2 ? 3 : slash));
  AttributeCache& cache = Attributes();
  std::string host_folder;
  bool known = false;
  {
    std::lock_guard lock(cache.mutex);
    const auto found = cache.folders.find(folder);
    if (found != cache.folders.end()) {
      host_folder = found->second;
      known = true;
    }
  }
  if (!known) {
    posix::HostPath host;
    const uint32_t error = GetLastError();
    if (posix::ResolvePath(folder, &host) && host.exists && posix::IsFolder(host.host)) host_folder = host.host;
    SetLastError(error);
    std::lock_guard lock(cache.mutex);
    if (cache.generation == batch) cache.folders.emplace(folder, host_folder);
  }
  std::string found;
  return !host_folder.empty() && !posix::FindInFolder(host_folder, Utf16ToUtf8(path.substr(slash + 1)), &found);
}

}  // namespace

uint32_t GetFileAttributes(std::u16string_view path) {
  const uint64_t batch = posix::LookupBatchGeneration();
  if (batch == 0) return StatAttributes(path);
  AttributeCache& cache = Attributes();
  {
    std::lock_guard lock(cache.mutex);
    if (cache.generation != batch) {
      cache.answers.clear();
      cache.folders.clear();
      cache.generation = batch;
    }
    const auto known = cache.answers.find(std::u16string(path));
    if (known != cache.answers.end()) {
      if (known->second.first == kInvalidAttributes) SetLastError(known->second.second);
      return known->second.first;
    }
  }
  if (MissingFromFolder(path, batch)) {
    SetLastError(err::kFileNotFound);
    return kInvalidAttributes;
  }
  const uint32_t attributes = StatAttributes(path);
  const uint32_t error = attributes == kInvalidAttributes ? GetLastError() : 0;
  std::lock_guard lock(cache.mutex);
  if (cache.generation == batch) cache.answers.emplace(std::u16string(path), std::pair{attributes, error});
  return attributes;
}

bool SetFileAttributes(std::u16string_view path, uint32_t attributes) {
  posix::HostPath host;
  struct stat st {};
  if (!StatExisting(path, &host, &st)) return false;
  if (S_ISDIR(st.st_mode)) return true;  // folders keep their host permissions
  const mode_t write_bits = S_IWUSR | S_IWGRP | S_IWOTH;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~write_bits) : (mode | S_IWUSR);
  if (chmod(host.host.c_str(), mode) != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  // The attributes a batch has kept for it are no longer true.
  posix::FolderChanged(host.host);
  return true;
}

bool FileExists(std::u16string_view path) { return GetFileAttributes(path) != kInvalidAttributes; }

bool IsDirectory(std::u16string_view path) {
  const uint32_t attributes = GetFileAttributes(path);
  return attributes != kInvalidAttributes && (attributes & kAttrDirectory);
}

bool CopyFile(std::u16string_view from, std::u16string_view to, bool fail_if_exists) {
  // One fault for the copy as a whole, as on Windows, where the copy never passes through
  // OpenFile.
  if (fault::Fail(testing::FileOp::kCopy)) return false;
  FileHandle source = OpenFileUnfaulted(from, kGenericRead, kShareRead, Disposition::kOpenExisting);
  if (source == nullptr) return false;
  struct stat source_st {};
  fstat(source->fd, &source_st);
  FileHandle target =
      OpenFileUnfaulted(to, kGenericWrite, 0, fail_if_exists ? Disposition::kCreateNew : Disposition::kCreateAlways);
  if (target == nullptr) {
    const uint32_t error = GetLastError();
    CloseFile(source);
    SetLastError(error);
    return false;
  }
  const bool copied = CopyContents(source->fd, target->fd);
  const int copy_errno = errno;
  fchmod(target->fd, source_st.st_mode & 07777);
  CloseFile(source);
  CloseFile(target);
  if (!copied) {
    posix::SetLastErrorFromErrno(copy_errno);
    return false;
  }
  SetLastError(err::kSuccess);
  return true;
}

bool DeleteFile(std::u16string_view path) {
  if (fault::Fail(testing::FileOp::kDelete)) return false;
  posix::HostPath host;
  struct stat st {};
  if (!StatExisting(path, &host, &st)) return false;
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) {
    SetLastError(err::kAccessDenied);
    return false;
  }
  if (!ShareAllows(st, 0, 0, true)) {
    SetLastError(err::kSharingViolation);
    return false;
  }
  const int done = unlink(host.host.c_str());
  posix::FolderChanged(host.host);
  if (done != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace_existing) {
  if (fault::Fail(testing::FileOp::kMove)) return false;
  posix::HostPath source, target;
  struct stat source_st {};
  if (!StatExisting(from, &source, &source_st) || !Resolve(to, &target)) return false;
  if (!ShareAllows(source_st, 0, 0, true)) {
    SetLastError(err::kSharingViolation);
    return false;
  }
  struct stat target_st {};
  if (target.exists && stat(target.host.c_str(), &target_st) == 0) {
    if (!replace_existing) {
      SetLastError(err::kAlreadyExists);
      return false;
    }
    if (S_ISDIR(target_st.st_mode) || IsReadOnly(target_st)) {
      SetLastError(err::kAccessDenied);
      return false;
    }
    if (!ShareAllows(target_st, 0, 0, true)) {
      SetLastError(err::kSharingViolation);
      return false;
    }
  }
  const int done = rename(source.host.c_str(), target.host.c_str());
  posix::FolderChanged(source.host);
  posix::FolderChanged(target.host);
  if (done != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool CreateDirectory(std::u16string_view path) {
  posix::HostPath host;
  if (!Resolve(path, &host)) return false;
  if (host.exists) {
    SetLastError(err::kAlreadyExists);
    return false;
  }
  const int done = mkdir(host.host.c_str(), 0755);
  posix::FolderChanged(host.host);
  if (done != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

bool RemoveDirectory(std::u16string_view path) {
  posix::HostPath host;
  struct stat st {};
  if (!StatExisting(path, &host, &st)) return false;
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(err::kDirectory);
    return false;
  }
  if (host.is_root) {
    SetLastError(err::kAccessDenied);
    return false;
  }
  const int done = rmdir(host.host.c_str());
  posix::FolderChanged(host.host);
  if (done != 0) {
    posix::SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

FindHandle FindFirstFile(std::u16string_view pattern, FindData* data) {
  const std::u16string full = GetFullPathName(pattern);
  if (full.empty()) return nullptr;
  std::u16string folder, mask;
  posix::SplitLastComponent(full, &folder, &mask);
  if (mask.empty()) {
    SetLastError(err::kFileNotFound);
    return nullptr;
  }
  posix::HostPath host;
  if (!posix::ResolvePath(folder, &host)) return nullptr;
  struct stat st {};
  if (!host.exists || stat(host.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(err::kPathNotFound);
    return nullptr;
  }
  // Closed (and the listing freed) however the listing ends: the name conversions below
  // allocate.
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(host.host.c_str()), closedir);
  if (dir == nullptr) {
    posix::SetLastErrorFromErrno(errno);
    return nullptr;
  }
  const std::u16string upper_mask = ToUpper(mask);
  auto owned = std::make_unique<FindObject>();
  FindObject* find = owned.get();
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (host.is_root && (name == "." || name == "..")) continue;
    const std::u16string wide = Utf8ToUtf16(name);
    if (!MatchesPattern(ToUpper(wide), upper_mask)) continue;
    struct stat entry_st {};
    if (stat((host.host + "/" + name).c_str(), &entry_st) != 0) continue;
    FindData found;
    found.name = wide;
    found.attributes = AttributesOf(entry_st);
    found.size = S_ISDIR(entry_st.st_mode) ? 0 : static_cast<uint64_t>(entry_st.st_size);
    find->entries.push_back(std::move(found));
  }
  if (find->entries.empty()) {
    SetLastError(err::kFileNotFound);
    return nullptr;
  }
  // A stable order, "." and ".." first, the rest as an NTFS folder lists them.
  std::sort(find->entries.begin(), find->entries.end(),
            [](const FindData& a, const FindData& b) { return ToUpper(a.name) < ToUpper(b.name); });
  *data = find->entries[0];
  find->next = 1;
  SetLastError(err::kSuccess);
  return owned.release();
}

bool FindNextFile(FindHandle find, FindData* data) {
  if (find == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  if (find->next >= find->entries.size()) {
    SetLastError(err::kNoMoreFiles);
    return false;
  }
  *data = find->entries[find->next++];
  return true;
}

bool FindClose(FindHandle find) {
  if (find == nullptr) {
    SetLastError(err::kInvalidHandle);
    return false;
  }
  delete find;
  return true;
}

}  // namespace plat
