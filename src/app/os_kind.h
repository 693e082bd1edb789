// The operating-system kind the UI and the options ask about ("above 5" is Vista or later).
#pragma once

#include <cstdint>

namespace app {

inline constexpr uint32_t kPlatformWindows9x = 1;
inline constexpr uint32_t kPlatformWindowsNt = 2;
inline constexpr uint8_t kProductWorkstation = 1;
inline constexpr uint8_t kProductDomainController = 2;
inline constexpr uint8_t kProductServer = 3;

// The kind (0 unknown to 18 Windows Server 2022) from the version the system reports and,
// for NT 6.x, the real version from ntdll (zeros when it could not be read): systems that
// report 6.2 to a program without a compatibility manifest are told apart by it.
uint32_t ClassifyOsKind(uint32_t platform_id, uint32_t major, uint32_t minor, uint8_t product_type, uint32_t real_major,
                        uint32_t real_minor, uint32_t real_build);

}  // namespace app
