// Internals of the posix stand-in shared by its files: the root folder, the mapping of
// Windows paths onto host paths, and errno translation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat::posix {

// The folder that plays the part of a Wine prefix. Created on first use.
const std::string& Root();
void SetRoot(std::string host_folder);
std::u16string UserName();

// Sets the last error from errno (or the given errno value).
void SetLastErrorFromErrno(int error);
uint32_t Win32FromErrno(int error);

struct HostPath {
  std::string host;      // where the path lives on the host
  bool exists = false;   // the whole path exists
  bool is_root = false;  // a drive's root folder
};

// Resolves a Windows path to its host path, matching existing components without regard
// to case. A missing last component is fine (the host path then names it as given); a
// missing folder on the way fails with kPathNotFound. `allow_wildcards` lets the last
// component hold '*' and '?'. Returns false with the last error set.
bool ResolvePath(std::u16string_view path, HostPath* out, bool allow_wildcards = false);

// Finds `name` in the host folder as path resolution does: the exact name, else the first
// entry (in byte order) equal to it without regard to case.
bool FindInFolder(const std::string& host_folder, const std::string& name, std::string* found);
// The upper-case forms of the names in the host folder, as FindInFolder matches them;
// false when the folder cannot be listed.
bool UpperNamesIn(const std::string& host_folder, std::vector<std::u16string>* names);
// Whether `host_path` is a folder (inside a batch, one whose listing is trusted is).
bool IsFolder(const std::string& host_path);

// What the program itself did to the entry at `host_path` (created, removed, renamed):
// the look-ups read its folder afresh. ForgetListings drops every folder read so far.
void FolderChanged(const std::string& host_path);
void ForgetListings();
// The current LookupBatch's generation, which changes with each change the program makes;
// 0 outside batches. What is kept under one generation holds only while it lasts.
uint64_t LookupBatchGeneration();

// A name that is one component its folder's full path joins unchanged: no separator, no
// trailing dot or blank (which the full path drops), nothing a name cannot hold.
bool IsPlainName(std::u16string_view name);

// The Windows path under which a host path is reachable (C: for the root's drive_c, else Z:).
std::u16string HostToWindowsPath(const std::string& host_path);

// Splits "X:\a\b" into the folder "X:\a" and the name "b" (folder keeps "X:\" at a root).
void SplitLastComponent(std::u16string_view full, std::u16string* folder, std::u16string* name);

}  // namespace plat::posix
