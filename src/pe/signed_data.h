// Who signed an executable, read from the PKCS#7 signed data of its certificate table:
// the signer's certificate is the one whose issuer and serial number the first signer
// record names. Only the names are read; nothing here checks a signature or a chain.
#pragma once

#include <optional>
#include <string>

#include "platform/byte_view.h"

namespace pe {

struct SignerName {
  std::string subject;  // "CN=..., O=..." in the order the certificate holds them (UTF-8)
  std::string issuer;
  std::string serial;  // upper-case hexadecimal, as encoded
};

// The signer of the DER-encoded signed data `pkcs7`; nullopt with the reason in
// `*refusal` when the data is not signed data, is cut or malformed, or carries no
// certificate for its signer.
std::optional<SignerName> ReadSignerName(plat::ByteView pkcs7, std::string* refusal);

}  // namespace pe
