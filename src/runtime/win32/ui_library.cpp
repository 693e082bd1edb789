// The UI resource library "vllib_ui_defresu.dll". The program's toolkit loads it, checks
// the version its ordinal 1 gives and has its ordinal 2 fill the skin description.
#include <cstdint>
#include <cstring>

#include "runtime/skin_description.h"

extern "C" {

uint32_t SkinLibraryVersion() { return runtime::kSkinLibraryVersion; }

int FillSkinDescription(runtime::SkinDescription* skin) {
  if (skin == nullptr) return 0;
  runtime::SkinDescription defaults{};
  defaults.size = sizeof defaults;
  // A calm grey-blue scheme: window, face, text, highlight, highlighted text, frame.
  const uint32_t colours[] = {0x00F4F1EE, 0x00E6DDD4, 0x00201A14, 0x00B07848, 0x00FFFFFF, 0x00907860};
  static_assert(sizeof colours / sizeof colours[0] <= runtime::kSkinColourCount);
  std::memcpy(defaults.colours, colours, sizeof colours);
  *skin = defaults;
  return 1;
}

}  // extern "C"
