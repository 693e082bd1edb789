#include "macro/legacy_upgrade.h"

#include "macro/error_state.h"

namespace macro {

UpgradeFault Convert258To259(plat::ByteView, std::vector<uint8_t>& out) {
  out.clear();
  return UpgradeFault::kFileVersion;
}

UpgradeFault Convert259To512(plat::ByteView, UpgradedMacro&, UpgradeReport*) { return UpgradeFault::kFileVersion; }

std::u16string MakeUpgradeTempName() { return {}; }

int UpgradeMacroFile(std::u16string_view path, uint16_t version, char16_t* err_key) {
  return UpgradeMacroFile(path, version, err_key, UpgradeOptions{}, nullptr);
}

int UpgradeMacroFile(std::u16string_view, uint16_t, char16_t* err_key, const UpgradeOptions&, UpgradeReport*) {
  SetMacroFileError(kErrFileVersion, kKeyFileVersion);
  if (err_key != nullptr) err_key[0] = 0;
  return 0;
}

}  // namespace macro
