#include "cli/messages.h"

#include <cstdio>
#include <iterator>

#include "app/res_string.h"
#include "app/system_error.h"
#include "app/text_format.h"
#include "cli/installation.h"
#include "macro/error_state.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {

std::u16string ConsoleLines(std::u16string text) {
  for (size_t at = text.find(u"\r\n"); at != std::u16string::npos; at = text.find(u"\r\n", at)) text.erase(at, 1);
  return text;
}

std::u16string LanguageText(std::u16string_view key) {
  app::CVLResString table;
  for (const std::u16string& folder : LanguageFolders()) {
    if (!plat::FileExists(folder + u"Packager_en.lng")) continue;
    table.LoadFile(folder + u"Packager_en.lng");
    table.LoadFile(folder + u"errormsg_en.lng");
    break;
  }
  std::u16string text;
  table.GetString(text, key);
  return text;
}

std::u16string SystemText(uint32_t code, const std::string& file) {
  return ConsoleLines(app::SystemErrorText(code, plat::Utf8ToUtf16(file)));
}

std::u16string KeyText(std::u16string_view key, const std::string& file) {
  return ConsoleLines(app::FormatText(LanguageText(key), {plat::Utf8ToUtf16(file)}));
}

namespace {

// Keys are upper-case words joined by underscores; anything else in the buffer is a
// message already worded (the system's text for a failed write, say).
bool LooksLikeKey(std::u16string_view text) {
  if (text.empty()) return false;
  for (const char16_t c : text) {
    if (!((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_')) return false;
  }
  return true;
}

}  // namespace

int ReportMacroFailure(const std::string& file, const Streams& io, const char16_t* err_key) {
  const uint32_t system_error = plat::GetLastError();
  const char16_t* key = macro::GetMacroFileError(nullptr);
  std::u16string text;
  if (err_key != nullptr && err_key[0] != 0) {
    const std::u16string held = err_key;
    text = LooksLikeKey(held) ? KeyText(held, file) : ConsoleLines(held);
  } else if (key != nullptr) {
    const std::u16string key_copy = key;
    text = KeyText(key_copy, file);
  } else {
    char16_t buffer[1024];
    app::FormatSystemError(system_error, buffer, sizeof buffer / sizeof buffer[0], false);
    text = ConsoleLines(buffer);
  }
  std::fprintf(io.err, "brankel: %s: %s\n", file.c_str(), plat::Utf16ToUtf8(text).c_str());
  return 1;
}

}  // namespace cli
