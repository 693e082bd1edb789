// Hosts without resource sections keep the program's own strings in a table.
#include <cstdint>
#include <string>

#include "app/res_string.h"

namespace app {
namespace {

struct StartString {
  uint32_t id;
  const char16_t* text;
};

constexpr StartString kStrings[] = {
#define START_STRING(id, text) {id, u"" text},
#include "app/start_strings.inc"
#undef START_STRING
};

}  // namespace

std::u16string LoadStringResource(uint32_t id, size_t max_chars) {
  for (const StartString& entry : kStrings) {
    if (entry.id == id) return std::u16string(entry.text).substr(0, max_chars);
  }
  return {};
}

}  // namespace app
