// What the UI resource library's ordinal 2 fills: the skin the program's toolkit draws
// its windows with. Colours are 0x00BBGGRR, as Windows wants them.
#pragma once

#include <cstdint>

namespace runtime {

// What ordinal 1 returns; the toolkit refuses a library that gives anything else.
inline constexpr uint32_t kSkinLibraryVersion = 257;
inline constexpr uint32_t kSkinColourCount = 32;

struct SkinDescription {
  uint32_t size = 0;  // sizeof(SkinDescription), so later layouts can grow
  uint32_t colours[kSkinColourCount] = {};
};

}  // namespace runtime
