#include "cli/messages.h"

#include <iterator>

#include "app/res_string.h"
#include "app/system_error.h"
#include "cli/installation.h"
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

}  // namespace cli
