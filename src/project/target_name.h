// The names files travel under inside a built EXE, and the one form of a path that serves
// as a list key. The stub unpacks every extra file below its own folder under its target
// name, so a name that climbs out of that folder, names a drive or a stream, or starts at
// a root would let a packed file land anywhere on the user's machine. Every source of
// target names (the discovery, the user's entries, project files) goes through these.
#pragma once

#include <string>
#include <string_view>

namespace project {

// The path with "." parts, ".." parts (each with the part before it) and repeated
// separators removed, "/" read as "\" and written as "\", and a final separator kept.
// ".." never climbs above the root of a drive ("C:\") or of a share ("\\server\share");
// in a relative path (or a drive-relative one, "C:x") the ".." parts that have nothing
// before them stay. The "\\?\" and "\\.\" prefixes stay as written, together with the
// volume or device after them ("\\?\C:", "\\?\UNC\server\share", "\\.\COM1"). Purely
// textual: nothing is looked up. May throw std::bad_alloc.
std::u16string NormalizePath(std::u16string_view path);

// Whether `name` may travel as a target name: not empty, shorter than an entry's field
// (260 characters with the terminator), relative (no leading separator, no drive), with
// no colon, no character a file name cannot hold (control characters and * ? " < > |),
// and made of non-empty parts none of which consists only of dots and blanks ("." and
// ".." among them). Both "\" and "/" separate parts.
bool IsSafeTargetName(std::u16string_view name);

// The target name of the file at `source_path`: inside `script_folder` (the normalised
// path starts with the normalised folder, compared without regard to case) the part below
// the folder, sub-folders kept; elsewhere the bare file name. With no script folder the
// whole path when that is a safe name, else the bare file name. Empty when neither gives
// a safe name (a path ending with a colon or a separator, a bare "..", ...). May throw
// std::bad_alloc.
std::u16string MakeTargetName(std::u16string_view source_path, std::u16string_view script_folder);

}  // namespace project
