// File operations that wait for a file another process holds for a moment. Antivirus
// scanners open a freshly written EXE without sharing it; a move onto the destination or
// a temporary file's removal then fails for a second or two with a sharing violation.
// These forms retry such failures, with growing waits, for a bounded time before they
// give up with the last error of the last try.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace plat {

namespace err {
inline constexpr uint32_t kLockViolation = 33;
}  // namespace err

// The errors that mean another process has the file open or locked.
inline bool IsFileInUse(uint32_t error) { return error == err::kSharingViolation || error == err::kLockViolation; }

// MoveFile; replacing an existing target also retries access denied, which is what the
// system reports while the target is being deleted by another process or is mapped.
bool MoveFileRetrying(std::u16string_view from, std::u16string_view to, bool replace_existing);
bool DeleteFileRetrying(std::u16string_view path);
FileHandle OpenFileRetrying(std::u16string_view path, uint32_t access, uint32_t share, Disposition disposition);

}  // namespace plat
