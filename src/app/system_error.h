// The system's message for an error code, as messages show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace app {

// Writes the system's text for `code` into `buffer` of `chars` units (always terminated),
// after "(0x%X) " when `with_code_prefix` is set, without the closing line break.
// Returns 1 when the system had a message; otherwise writes "Failed to get system error
// message on error 0x%lx for the error 0x%lx" and returns 0.
int FormatSystemError(uint32_t code, char16_t* buffer, size_t chars, bool with_code_prefix);

// The system's text for `code` whole, with the "%1" that some texts leave for the caller
// filled in with `file`.
std::u16string SystemErrorText(uint32_t code, std::u16string_view file);

}  // namespace app
