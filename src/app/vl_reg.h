// Registry and INI reads with the defaults rule every configuration read shares.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace app {

class CVLReg {
 public:
  CVLReg() = default;
  CVLReg(const CVLReg&) = delete;
  CVLReg& operator=(const CVLReg&) = delete;
  ~CVLReg() { Close(); }

  // Opens `subkey` under HKEY_LOCAL_MACHINE for reading; returns the system status.
  uint32_t OpenLocalMachine(std::u16string_view subkey);
  void Close();

  // Stores the value and returns true when it exists as a REG_DWORD; otherwise stores
  // `fallback` and returns false.
  bool ReadDword(std::u16string_view value, uint32_t* out, uint32_t fallback) const;

  // The system's profile read with the literal "default" as its default and a buffer one
  // unit shorter than `length`; a text equal to "default" (in full for buffers longer than
  // 6 units, else on its first length-1 units) becomes `fallback`. So a stored "default"
  // reads as the caller's default. True when the system returned at least one character.
  static bool ReadIniString(std::u16string_view file, std::u16string_view section, std::u16string_view key,
                            char16_t* buffer, const char16_t* fallback, uint32_t length);
  // The system's profile integer read (a value out of range wraps, as the system's does);
  // always succeeds.
  static int32_t ReadIniInt(std::u16string_view file, std::u16string_view section, std::u16string_view key,
                            int32_t fallback);

 private:
  plat::RegistryHandle key_ = nullptr;
};

}  // namespace app
