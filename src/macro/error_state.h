// Error codes of the macro file code, the process-wide macro file error state, and the
// system's message text for a code.
//
// Codes are 32-bit values laid out like Windows HRESULTs. Our own codes carry the facility
// byte 0x90 and a message number in their low word; Win32 error numbers travel as
// FACILITY_WIN32 HRESULTs (0x8007xxxx). Everything here belongs to the user-interface
// thread, so the error state is a single unguarded value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/system_error.h"

namespace macro {

// ---- Codes -------------------------------------------------------------------------------

inline constexpr int32_t kNoError = 0;

inline constexpr int32_t kErrAccessDenied = static_cast<int32_t>(0x80902719u);    // 10009
inline constexpr int32_t kErrFileOpen = static_cast<int32_t>(0x80902723u);        // 10019
inline constexpr int32_t kErrFileFormat = static_cast<int32_t>(0x80902725u);      // 10021
inline constexpr int32_t kErrNotEnoughMem = static_cast<int32_t>(0x80902727u);    // 10023
inline constexpr int32_t kErrFileVersion = static_cast<int32_t>(0x80902728u);     // 10024
inline constexpr int32_t kErrBadFile = static_cast<int32_t>(0x80902729u);         // 10025
inline constexpr int32_t kErrAttachmentsBad = static_cast<int32_t>(0x8090272Cu);  // 10028

inline constexpr char16_t kKeyAccessDenied[] = u"IDS_ERR_ACCESSDENIED";
inline constexpr char16_t kKeyFileOpen[] = u"IDS_ERR_FILEOPEN";
inline constexpr char16_t kKeyFileFormat[] = u"IDS_ERR_FILEFORMAT";
inline constexpr char16_t kKeyNotEnoughMem[] = u"IDS_ERR_NOTENOUGHMEM";
inline constexpr char16_t kKeyFileVersion[] = u"IDS_ERR_FILEVERSION";
inline constexpr char16_t kKeyBadFile[] = u"IDS_ERR_BADFILE";
inline constexpr char16_t kKeyAttachmentsBad[] = u"IDS_ERR_ATTACHMENTS_BAD";

// ERROR_NOT_FOUND and ERROR_NO_MORE_ITEMS as HRESULTs: enumerations end with either,
// depending on the system service, so the repeat rule of the error records treats them as
// one error.
inline constexpr int32_t kErrHrNotFound = static_cast<int32_t>(0x80070490u);
inline constexpr int32_t kErrHrNoMoreItems = static_cast<int32_t>(0x80070103u);

// True for our own codes (facility byte 0x90).
constexpr bool IsOwnErrorCode(int32_t code) { return (static_cast<uint32_t>(code) & 0x00FF0000u) == 0x00900000u; }

// The message number of an own code: its low 16 bits.
constexpr int32_t OwnMessageNumber(int32_t code) { return static_cast<int32_t>(static_cast<uint32_t>(code) & 0xFFFFu); }

// The form in which a code is stored: a bare Win32 number (1 to 0xFFFF) becomes its
// FACILITY_WIN32 HRESULT; every other value (HRESULTs from OLE calls included) stays.
constexpr int32_t StoredErrorCode(int32_t code) {
  if (code > 0 && code <= 0xFFFF) return static_cast<int32_t>(0x80070000u | static_cast<uint32_t>(code));
  return code;
}

// True when the facility field (bits 16 to 28) is FACILITY_WIN32.
constexpr bool IsWin32ErrorCode(int32_t code) { return ((static_cast<uint32_t>(code) >> 16) & 0x1FFFu) == 7u; }

// The language key of one of the own codes above; nullptr for any other code.
const char16_t* OwnErrorKey(int32_t code);

// ---- Macro file error state --------------------------------------------------------------

// Longest key the state keeps (the keys are the fixed literals above, far shorter).
inline constexpr size_t kMaxMacroFileErrorKey = 259;

// Stores the code and a copy of the key (cut to kMaxMacroFileErrorKey); a null key
// empties it.
void SetMacroFileError(int32_t code, const char16_t* key);
// Writes the code to *code (when code is not null) and returns the key, or nullptr when
// the key is empty. The pointer stays valid until the next SetMacroFileError.
const char16_t* GetMacroFileError(int32_t* code);
// What every reading macro file operation does first.
inline void ClearMacroFileError() { SetMacroFileError(kNoError, nullptr); }

// ---- System messages ---------------------------------------------------------------------

// FormatSystemError(code, buffer, chars, withCodePrefix): the system's message for `code`
// in `buffer` of `chars` characters, optionally after "(0x%X) ", without its closing CR LF;
// 1 when the system had one, else 0 with a text naming the code and the system's error.
// The application shell needs it for its messages and cannot depend on this library, so
// the one implementation lives there.
using app::FormatSystemError;

}  // namespace macro
