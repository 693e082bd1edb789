// How a macro command's file reference becomes a path on this computer: calls to other
// macro files (by library name or by path) and the plain file names commands carry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace analysis {

// Reference kinds of a call command.
inline constexpr uint8_t kRefLibraryName = 0;  // a name in the user's macro folder
inline constexpr uint8_t kRefFilePath = 1;     // a path, relative to the script folder
inline constexpr uint8_t kRefNotAFile = 2;

// After leading spaces: a letter, a colon and a backslash, or two backslashes followed by
// something other than a backslash.
bool IsAbsolutePath(std::u16string_view path);

// Space, tab, line breaks: what the command texts are trimmed of at both ends.
std::u16string_view TrimBlanks(std::u16string_view text);
// Whether `text` starts with "IN:" in any letter case (a value read from input, not a
// file).
bool StartsWithInput(std::u16string_view text);

// Resolves a call's reference. Kind 0: `data_folder` followed by the text without one
// leading backslash; kind 1: the trimmed text, put after `script_folder` (which ends with
// a backslash) unless absolute. The path is then normalised (project::NormalizePath), so
// every spelling of one file gives one path. A kind-0 or kind-1 text holding "%" after
// trimming is a variable and does not resolve (false); nor does one that is blank (kind 0:
// after its leading backslash) or that leaves a path ending with a separator, which would
// name a folder. Kind 2 gives the text unchanged; other kinds leave `path` as it was. Both
// true. Allocation failures propagate (std::bad_alloc) to the caller's boundary.
bool ResolveMacroReference(uint8_t kind, std::u16string_view name, std::u16string_view script_folder,
                           std::u16string_view data_folder, std::u16string& path);

// Whether `path` exists as a file, or as a folder (neither when it does not exist).
bool IsExistingFile(std::u16string_view path);
bool IsExistingFolder(std::u16string_view path);

}  // namespace analysis
