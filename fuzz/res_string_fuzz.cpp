// A language file's bytes, loaded as start-up loads one, then looked up every way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/lang_file.h"
#include "app/res_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  app::CVLResString table;
  if (!table.LoadText(bytes)) return 0;
  // Keys taken from the text itself hit entries; fixed ones mostly miss.
  const std::u16string text = app::DecodeLanguageText(bytes);
  std::u16string out;
  char16_t buffer[8];
  size_t start = 0;
  for (int i = 0; i < 16 && start < text.size(); ++i) {
    const size_t equals = text.find(u'=', start);
    if (equals == std::u16string::npos) break;
    const size_t line = text.find_last_of(u"\r\n", equals);
    const std::u16string_view key = std::u16string_view(text).substr(
        line == std::u16string::npos ? 0 : line + 1, equals - (line == std::u16string::npos ? 0 : line + 1));
    table.GetString(out, key);
    table.GetString(buffer, sizeof buffer / sizeof buffer[0], key, u"fallback");
    start = equals + 1;
  }
  table.GetString(out, u"102");
  table.GetStringById(out, 10025);
  table.CheckCrc(table.ComputeCrc());
  table.CheckCrc(text.substr(0, 40));
  app::SetHeaderCrc(text, u"0123456789ABCDEF0123456789ABCDEF");
  return 0;
}
