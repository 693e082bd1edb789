// Process-wide services of the stand-in: the last error, system messages, temporary and
// known folders, the search path, time and the MD5 digest.
#ifndef BRANKEL_NO_MD5
#include <md5.h>
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/unicode.h"

namespace plat {
namespace {

thread_local uint32_t last_error = 0;

struct Message {
  uint32_t code;
  const char* text;
};

// Windows' own English wording for the errors this system meets.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of "
     "the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {82, "The directory or file cannot be created."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for "
     "%2."},
    {534, "Arithmetic result exceeded 32 bits."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1812, "The specified image file did not contain a resource section."},
    {1813, "The specified resource type cannot be found in the image file."},
    {1814, "The specified resource name cannot be found in the image file."},
};

}  // namespace

uint32_t GetLastError() { return last_error; }
void SetLastError(uint32_t code) { last_error = code; }

std::optional<std::u16string> FormatSystemMessage(uint32_t code) {
  // FACILITY_WIN32 HRESULTs carry a Win32 number in their low word.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const Message& message : kMessages) {
    if (message.code == code) return AsciiToUtf16(message.text) + u"\r\n";
  }
  SetLastError(err::kMessageNotFound);
  return std::nullopt;
}

std::u16string GetTempPath() { return u"C:\\users\\" + posix::UserName() + u"\\AppData\\Local\\Temp\\"; }

std::u16string GetTempFileName(std::u16string_view folder, std::u16string_view prefix, uint32_t unique) {
  std::u16string base(folder);
  if (base.empty() || base.back() != u'\\') base += u'\\';
  base += prefix.substr(0, 3);
  const auto name_for = [&](uint32_t number) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string digits;
    do {
      digits.insert(digits.begin(), kHex[number & 0xF]);
      number >>= 4;
    } while (number != 0);
    return base + digits + u".tmp";
  };
  unique &= 0xFFFFu;
  if (unique != 0) return name_for(unique);
  if (!IsDirectory(folder)) {
    SetLastError(err::kDirectory);
    return {};
  }
  // Numbers start at the tick count, as the system's do; but a run that makes many names
  // within a few ticks would try every number it handed out before, once per name, so a
  // start the last name has already passed moves on behind it.
  static std::atomic<uint32_t> last{0};
  uint32_t number = GetTickCount() & 0xFFFFu;
  const uint32_t previous = last.load(std::memory_order_relaxed);
  if (previous != 0 && ((number - previous - 1) & 0xFFFFu) >= 0x8000u) number = (previous + 1) & 0xFFFFu;
  for (uint32_t tries = 0; tries < 0x10000u; ++tries) {
    if (number == 0) number = 1;
    const std::u16string name = name_for(number);
    FileHandle file = OpenFile(name, kGenericWrite, 0, Disposition::kCreateNew);
    if (file != nullptr) {
      CloseFile(file);
      last.store(number, std::memory_order_relaxed);
      SetLastError(err::kSuccess);
      return name;
    }
    if (GetLastError() != err::kFileExists) return {};
    number = (number + 1) & 0xFFFFu;
  }
  SetLastError(err::kFileExists);
  return {};
}

std::optional<std::u16string> GetKnownFolder(KnownFolder folder) {
  posix::Root();  // lays the folders out
  switch (folder) {
    case KnownFolder::kCommonAppData:
      return u"C:\\ProgramData";
    case KnownFolder::kRoamingAppData:
      return u"C:\\users\\" + posix::UserName() + u"\\AppData\\Roaming";
  }
  return std::nullopt;
}

namespace {

std::vector<std::u16string> FindSearchFolders() {
  std::vector<std::u16string> folders;
  std::u16string module_folder, module_name;
  posix::SplitLastComponent(GetModuleFileName(), &module_folder, &module_name);
  folders.push_back(module_folder);
  folders.push_back(GetCurrentDirectory());
  folders.push_back(u"C:\\windows\\system32");
  folders.push_back(u"C:\\windows");
  if (const char* path = std::getenv("PATH")) {
    std::string entries = path;
    size_t start = 0;
    while (start <= entries.size()) {
      size_t end = entries.find(':', start);
      if (end == std::string::npos) end = entries.size();
      if (end > start) folders.push_back(posix::HostToWindowsPath(entries.substr(start, end - start)));
      start = end + 1;
    }
  }
  return folders;
}

// A folder the search looks in. Inside a look-up batch it is also resolved on the host
// once: a name that is one plain component is then looked for in `host` alone.
struct SearchFolder {
  std::u16string folder;
  bool resolved = false;  // `full` and `usable` hold
  std::u16string full;    // the folder's full path, ending with a backslash
  bool usable = false;    // it is a folder on the host, at `host`
  std::string host;
};

void ResolveSearchFolder(SearchFolder& entry) {
  if (entry.folder.empty()) return;
  std::u16string with_separator = entry.folder;
  if (with_separator.back() != u'\\') with_separator += u'\\';
  entry.full = GetFullPathName(with_separator);
  // Only a drive's path is sure to join a name as the full path of the two would.
  if (entry.full.size() < 3 || entry.full[1] != u':' || entry.full.back() != u'\\') return;
  entry.resolved = true;
  posix::HostPath host;
  entry.usable = posix::ResolvePath(entry.full, &host) && host.exists && posix::IsFolder(host.host);
  if (entry.usable) entry.host = std::move(host.host);
}

// The folders the search looks in, in order, and inside a batch an index of the names
// their listings hold. A name that is in none of them (most names the discovery asks
// for, when they are missing) is then turned down with one look-up instead of one per
// folder.
struct SearchFolderSet {
  std::vector<SearchFolder> folders;
  bool indexed = false;
  // Each upper-case name with a bit for every one of the first 64 folders that holds it;
  // folders that could not be listed, and those past 64, are always looked in.
  std::unordered_map<std::u16string, uint64_t> holders;
  uint64_t always = 0;

  // The folders in which the plain name whose first component is `first` may be found.
  uint64_t MayHold(const std::string& first) const {
    if (!indexed) return ~uint64_t{0};
    const auto found = holders.find(ToUpper(Utf8ToUtf16(first)));
    return always | (found == holders.end() ? 0 : found->second);
  }
  void Index() {
    std::vector<std::u16string> names;
    for (size_t i = 0; i < folders.size(); ++i) {
      const SearchFolder& entry = folders[i];
      if (!entry.resolved || !entry.usable) continue;
      if (i >= 64 || !posix::UpperNamesIn(entry.host, &names)) {
        if (i < 64) always |= uint64_t{1} << i;
        continue;
      }
      for (std::u16string& name : names) holders[std::move(name)] |= uint64_t{1} << i;
    }
    // Folders from 64 on have no bit: MayHold gives them all bits above 63 anyway.
    always |= folders.size() > 64 ? ~uint64_t{0} << 63 : 0;
    indexed = true;
  }
};

// The folders the search looks in. Finding them reads links and the drives' folder, so
// inside a look-up batch they are found once for the current folder and PATH (and again
// after the program changes a file: a drive may have come or gone). Shared, not copied:
// the discovery asks for them once per name.
std::shared_ptr<const SearchFolderSet> SearchFolders() {
  const auto plain = [] {
    auto folders = std::make_shared<SearchFolderSet>();
    for (std::u16string& folder : FindSearchFolders()) {
      SearchFolder entry;
      entry.folder = std::move(folder);
      folders->folders.push_back(std::move(entry));
    }
    return folders;
  };
  const uint64_t batch = posix::LookupBatchGeneration();
  if (batch == 0) return plain();
  struct Kept {
    std::mutex mutex;
    uint64_t batch = 0;
    std::u16string current;
    std::string path;
    std::shared_ptr<const SearchFolderSet> folders;
  };
  static Kept kept;
  const std::u16string current = GetCurrentDirectory();
  const char* path = std::getenv("PATH");
  const std::string path_text = path == nullptr ? std::string(1, '\0') : std::string(path);
  {
    std::lock_guard lock(kept.mutex);
    if (kept.folders != nullptr && kept.batch == batch && kept.current == current && kept.path == path_text) {
      return kept.folders;
    }
  }
  std::shared_ptr<SearchFolderSet> folders = plain();
  for (SearchFolder& folder : folders->folders) ResolveSearchFolder(folder);
  folders->Index();
  std::lock_guard lock(kept.mutex);
  kept.batch = batch;
  kept.current = current;
  kept.path = path_text;
  kept.folders = folders;
  return folders;
}

// The components of a relative name whose components are each plain, so that the name
// joins a folder's full path unchanged; empty for any other name.
std::vector<std::string> PlainComponents(std::u16string_view name) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = name.find(u'\\', start);
    const std::u16string_view part = name.substr(start, end == std::u16string_view::npos ? name.npos : end - start);
    if (!posix::IsPlainName(part)) return {};
    parts.push_back(Utf16ToUtf8(part));
    if (end == std::u16string_view::npos) return parts;
    start = end + 1;
  }
}

// Whether the components lead from the host folder through folders to a file that is
// not a folder, as resolving the joined path would find it.
bool FindBelow(std::string host, const std::vector<std::string>& parts) {
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string found;
    if (!posix::FindInFolder(host, parts[i], &found)) return false;
    host += "/" + found;
    if (i + 1 < parts.size() && !posix::IsFolder(host)) return false;
  }
  struct stat st {};
  return stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::u16string SearchPath(std::u16string_view name) {
  if (name.empty()) {
    SetLastError(err::kInvalidParameter);
    return {};
  }
  const auto found = [](const std::u16string& candidate) {
    const uint32_t attributes = GetFileAttributes(candidate);
    return attributes != kInvalidAttributes && !(attributes & kAttrDirectory);
  };
  const bool absolute = (name.size() >= 3 && name[1] == u':' && (name[2] == u'\\' || name[2] == u'/')) ||
                        (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\');
  if (absolute) {
    const std::u16string full = GetFullPathName(name);
    if (!full.empty() && found(full)) return full;
    SetLastError(err::kFileNotFound);
    return {};
  }
  const std::shared_ptr<const SearchFolderSet> folders = SearchFolders();
  const std::vector<std::string> parts = PlainComponents(name);
  const bool plain_name = !parts.empty();
  const uint64_t may_hold = plain_name ? folders->MayHold(parts.front()) : ~uint64_t{0};
  for (size_t i = 0; i < folders->folders.size(); ++i) {
    const SearchFolder& entry = folders->folders[i];
    if (plain_name && entry.resolved) {
      // What resolving the joined path would find, looked for from the folder alone.
      const bool may = ((may_hold >> (i < 64 ? i : 63)) & 1) != 0;
      if (!entry.usable || !may || !FindBelow(entry.host, parts)) continue;
      SetLastError(err::kSuccess);
      return entry.full + std::u16string(name);
    }
    std::u16string candidate = entry.folder;
    if (candidate.empty()) continue;
    if (candidate.back() != u'\\') candidate += u'\\';
    candidate = GetFullPathName(candidate + std::u16string(name));
    if (!candidate.empty() && found(candidate)) {
      SetLastError(err::kSuccess);
      return candidate;
    }
  }
  SetLastError(err::kFileNotFound);
  return {};
}

uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void Sleep(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

#ifdef BRANKEL_NO_MD5
Md5Digest Md5(const void*, size_t) {
  SetLastError(err::kNotSupported);
  return Md5Digest{};
}
#else
Md5Digest Md5(const void* data, size_t size) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, static_cast<const uint8_t*>(data), size);
  Md5Digest digest{};
  MD5Final(digest.data(), &context);
  return digest;
}
#endif

std::u16string GetIconTitleFontFace() { return u"Tahoma"; }

char16_t VirtualKeyToChar(uint32_t virtual_key) {
  // The US layout, which is what the stand-in's keyboard has.
  if (virtual_key >= 'A' && virtual_key <= 'Z') return static_cast<char16_t>(virtual_key + 32);
  if (virtual_key >= '0' && virtual_key <= '9') return static_cast<char16_t>(virtual_key);
  if (virtual_key >= 0x60 && virtual_key <= 0x69) return static_cast<char16_t>(u'0' + virtual_key - 0x60);
  switch (virtual_key) {
    case 0x08:
      return u'\b';
    case 0x09:
      return u'\t';
    case 0x0D:
      return u'\r';
    case 0x1B:
      return 0x1B;
    case 0x20:
      return u' ';
    case 0x6A:
      return u'*';
    case 0x6B:
      return u'+';
    case 0x6D:
      return u'-';
    case 0x6E:
      return u'.';
    case 0x6F:
      return u'/';
    case 0xBA:
      return u';';
    case 0xBB:
      return u'=';
    case 0xBC:
      return u',';
    case 0xBD:
      return u'-';
    case 0xBE:
      return u'.';
    case 0xBF:
      return u'/';
    case 0xC0:
      return u'`';
    case 0xDB:
      return u'[';
    case 0xDC:
      return u'\\';
    case 0xDD:
      return u']';
    case 0xDE:
      return u'\'';
    case 0xE2:
      return u'\\';
    default:
      return 0;
  }
}

namespace posix {

uint32_t Win32FromErrno(int error) {
  switch (error) {
    case 0:
      return err::kSuccess;
    case ENOENT:
      return err::kFileNotFound;
    case ENOTDIR:
      return err::kPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return err::kAccessDenied;
    case EEXIST:
      return err::kFileExists;
    case ENOSPC:
    case EDQUOT:
      return err::kDiskFull;
    case ENAMETOOLONG:
      return err::kFilenameTooLong;
    case EMFILE:
    case ENFILE:
      return err::kTooManyOpenFiles;
    case ENOMEM:
      return err::kNotEnoughMemory;
    case EROFS:
      return err::kWriteProtect;
    case EBADF:
      return err::kInvalidHandle;
    case ENOTEMPTY:
      return err::kDirNotEmpty;
    case EXDEV:
      return err::kNotSameDevice;
    case ETXTBSY:
    case EBUSY:
      return err::kSharingViolation;
    case EINVAL:
      return err::kInvalidParameter;
    case ENOSYS:
    case EOPNOTSUPP:
      return err::kNotSupported;
    default:
      return err::kAccessDenied;
  }
}

void SetLastErrorFromErrno(int error) { SetLastError(Win32FromErrno(error)); }

}  // namespace posix
bool IsTerminal(std::FILE* stream) { return stream != nullptr && isatty(fileno(stream)) == 1; }

}  // namespace plat
