#include "app/system_error.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>

#include "app/text_format.h"
#include "platform/platform.h"

namespace app {

int FormatSystemError(uint32_t code, char16_t* buffer, size_t chars, bool with_code_prefix) {
  if (buffer == nullptr || chars == 0) return 0;
  const auto write = [&](size_t at, std::u16string_view text) {
    const size_t count = at < chars ? std::min(text.size(), chars - 1 - at) : 0;
    std::copy_n(text.begin(), count, buffer + at);
    buffer[at + count] = 0;
    return at + count;
  };
  size_t used = 0;
  buffer[0] = 0;
  if (with_code_prefix) used = write(0, FormatText(u"(0x%X) ", {code}));
  // The system is given room for one character less than remains.
  const size_t room = chars - used > 1 ? chars - used - 1 : 0;
  std::optional<std::u16string> message = plat::FormatSystemMessage(code);
  if (message && message->size() + 1 > room) {
    // The system does not cut a message to fit; it refuses the request.
    message.reset();
    plat::SetLastError(plat::err::kInsufficientBuffer);
  }
  if (!message) {
    const uint32_t failure = plat::GetLastError();
    write(used, FormatText(u"Failed to get system error message on error 0x%lx for the error 0x%lx", {code, failure}));
    return 0;
  }
  std::u16string text = *message;
  if (text.size() > 1 && text.back() == u'\n') text.resize(text.size() - 2);
  write(used, text);
  return 1;
}

std::u16string SystemErrorText(uint32_t code, std::u16string_view file) {
  char16_t buffer[1024];
  FormatSystemError(code, buffer, std::size(buffer), false);
  std::u16string text = buffer;
  for (size_t at = text.find(u"%1"); at != std::u16string::npos; at = text.find(u"%1", at + file.size())) {
    text.replace(at, 2, file);
  }
  return text;
}

}  // namespace app
