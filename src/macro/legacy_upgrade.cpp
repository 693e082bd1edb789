#include "macro/legacy_upgrade.h"

#include <string_view>

#include "macro/error_state.h"

namespace macro {

int UpgradeMacroFile(std::u16string_view /*path*/, uint16_t /*version*/, char16_t* err_key) {
  // No older version is converted yet: every one is reported as a version this program
  // cannot read, and the file is left as it is.
  SetMacroFileError(kErrFileVersion, kKeyFileVersion);
  if (err_key != nullptr) {
    const std::u16string_view key = kKeyFileVersion;
    key.copy(err_key, key.size());
    err_key[key.size()] = 0;
  }
  return 0;
}

}  // namespace macro
