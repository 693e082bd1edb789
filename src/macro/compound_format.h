// Fixed values of the compound file format that its reader and its writer share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace macro::compound_format {

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr size_t kHeaderSize = 512;
// FAT sector numbers the header itself holds; further ones go to DIFAT sectors.
inline constexpr uint32_t kHeaderDifatCount = 109;
inline constexpr uint32_t kEntrySize = 128;
inline constexpr uint32_t kMiniSectorSize = 64;
// Streams shorter than this live in the mini stream.
inline constexpr uint32_t kMiniStreamCutoff = 4096;
// Sector numbers from 0xFFFFFFFB up are markers, never places.
inline constexpr uint32_t kMaxRegularSector = 0xFFFFFFFAu;
inline constexpr uint32_t kDifatMarker = 0xFFFFFFFCu;
inline constexpr uint32_t kFatMarker = 0xFFFFFFFDu;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFEu;
inline constexpr uint32_t kFreeSector = 0xFFFFFFFFu;
inline constexpr uint32_t kNoEntry = 0xFFFFFFFFu;

}  // namespace macro::compound_format
