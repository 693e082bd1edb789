// Any bytes as the PKCS#7 signed data of a certificate table: the signer's names are read
// or refused with a reason, never past the bytes, and always come out as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "pe/signed_data.h"
#include "platform/byte_view.h"
#include "platform/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string refusal;
  const std::optional<pe::SignerName> signer = pe::ReadSignerName(plat::ByteView(data, size), &refusal);
  if (!signer) {
    if (refusal.empty()) __builtin_trap();
    return 0;
  }
  if (!plat::IsValidUtf8(signer->subject) || !plat::IsValidUtf8(signer->issuer)) __builtin_trap();
  if (signer->serial.find_first_not_of("0123456789ABCDEF") != std::string::npos) __builtin_trap();
  return 0;
}
