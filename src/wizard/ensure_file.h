// The destination file dialog's rules: the target name a hand-added extra file is packed
// under, and where it is taken from.
#pragma once

#include <string>
#include <string_view>

namespace wizard {

inline constexpr int kIdEnsureDestinationLabel = 1386;
inline constexpr int kIdEnsureDestination = 1094;
inline constexpr int kIdEnsurePositionLabel = 1161;
inline constexpr int kIdEnsurePosition = 1008;
inline constexpr int kIdEnsureBrowse = 1073;
inline constexpr int kIdEnsureLine = 1019;

struct EnsureFileValues {
  std::u16string destination;  // the target name
  std::u16string position;     // the source file's full path
};

// OK is enabled exactly when both texts, trimmed, are not empty.
bool EnsureFileOkEnabled(const EnsureFileValues& values);
// A file chosen with Browse: it becomes the position, and its file name the destination.
EnsureFileValues EnsureFileBrowsed(EnsureFileValues values, std::u16string_view chosen);
// What OK hands back: both texts trimmed.
EnsureFileValues EnsureFileResult(EnsureFileValues values);

}  // namespace wizard
