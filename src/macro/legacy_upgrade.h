// Upgrading macro files of the two older versions (258, 259) in place to the current one.
#pragma once

#include <cstdint>
#include <string_view>

namespace macro {

// Rewrites the file at `path` of the given stored version as a current macro file.
// Returns 1 on success; otherwise 0 with the error state set and the key copied into
// `err_key` (260 units) when one is given.
int UpgradeMacroFile(std::u16string_view path, uint16_t version, char16_t* err_key);

}  // namespace macro
