// A UI resource library that answers wrongly, for the skin's refusals: its ordinal 1
// gives FIXTURE_VERSION and its ordinal 2 fills the description only when FIXTURE_FILLS.
#include <cstdint>

#include "runtime/skin_description.h"

extern "C" {

uint32_t SkinLibraryVersion() { return FIXTURE_VERSION; }

int FillSkinDescription(runtime::SkinDescription* skin) {
  if (skin == nullptr || !FIXTURE_FILLS) return 0;
  *skin = runtime::SkinDescription{};
  skin->size = sizeof *skin;
  skin->colours[0] = 0x00FFFFFF;
  return 1;
}

}  // extern "C"
