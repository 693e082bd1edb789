#include "app/os_kind.h"

namespace app {
namespace {

bool IsServer(uint8_t product_type) {
  return product_type == kProductServer || product_type == kProductDomainController;
}

uint32_t ClassifyTen(bool server, uint32_t build) {
  if (!server) return build < 22000 ? 14 : 17;
  if (build < 17700) return 15;
  return build < 20000 ? 16 : 18;
}

}  // namespace

uint32_t ClassifyOsKind(uint32_t platform_id, uint32_t major, uint32_t minor, uint8_t product_type, uint32_t real_major,
                        uint32_t real_minor, uint32_t real_build) {
  if (platform_id == kPlatformWindows9x && major > 4) return 1;
  if (major == 4 && minor != 0) return 1;
  if (platform_id != kPlatformWindowsNt) return 0;
  const bool server = IsServer(product_type);
  switch (major) {
    case 4:
      return 2;
    case 5:
      if (minor == 0) return 3;
      if (minor == 1) return 4;
      if (minor == 2) return server ? 5 : 4;
      return 0;
    case 6:
      if (real_major == 10) return ClassifyTen(server, real_build);
      if ((real_major == 6 && real_minor == 3) || minor == 3) return server ? 13 : 11;
      if (minor == 0) return server ? 7 : 6;
      if (minor == 1) return server ? 8 : 9;
      if (minor == 2) return server ? 12 : 10;
      return 0;
    case 10:
      return 14;
    default:
      return 0;
  }
}

}  // namespace app
