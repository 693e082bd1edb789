#include "app/vl_reg.h"

#include <algorithm>
#include <string>

namespace app {

uint32_t CVLReg::OpenLocalMachine(std::u16string_view subkey) {
  Close();
  return plat::RegOpenLocalMachineKey(subkey, &key_);
}

void CVLReg::Close() {
  if (key_ != nullptr) plat::RegCloseKey(key_);
  key_ = nullptr;
}

bool CVLReg::ReadDword(std::u16string_view value, uint32_t* out, uint32_t fallback) const {
  uint32_t data = 0;
  bool type_ok = false;
  if (key_ != nullptr && plat::RegQueryDword(key_, value, &data, &type_ok) == plat::err::kSuccess && type_ok) {
    *out = data;
    return true;
  }
  *out = fallback;
  return false;
}

bool CVLReg::ReadIniString(std::u16string_view file, std::u16string_view section, std::u16string_view key,
                           char16_t* buffer, const char16_t* fallback, uint32_t length) {
  if (buffer == nullptr || length == 0) return false;
  buffer[0] = 0;
  if (length < 2) return false;
  static constexpr std::u16string_view kDefault = u"default";
  const uint32_t count = plat::GetPrivateProfileString(section, key, kDefault, buffer, length - 1, file);
  const std::u16string_view read(buffer, count);
  bool is_default = false;
  if (length > 6) {
    is_default = read == kDefault;
  } else {
    // Compared like wcsncmp over length-1 units, the terminator included.
    const size_t n = length - 1;
    const std::u16string padded = std::u16string(read) + u'\0';
    const std::u16string wanted = std::u16string(kDefault) + u'\0';
    is_default = padded.compare(0, std::min(n, padded.size()), wanted, 0, std::min(n, wanted.size())) == 0;
  }
  if (is_default) {
    const std::u16string_view replacement = fallback != nullptr ? fallback : u"";
    const size_t copied = std::min<size_t>(replacement.size(), length - 1);
    std::copy_n(replacement.begin(), copied, buffer);
    buffer[copied] = 0;
  }
  return count > 0;
}

int32_t CVLReg::ReadIniInt(std::u16string_view file, std::u16string_view section, std::u16string_view key,
                           int32_t fallback) {
  return static_cast<int32_t>(plat::GetPrivateProfileInt(section, key, fallback, file));
}

}  // namespace app
