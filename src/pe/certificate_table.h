// The certificate table an Authenticode signature lives in: found through the security
// data directory, whose address is a file offset (the table is not mapped), and headed by
// a WIN_CERTIFICATE record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/byte_view.h"

namespace pe {

inline constexpr uint16_t kCertificateRevision2 = 0x0200;
inline constexpr uint16_t kCertificateTypePkcs7 = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
inline constexpr uint32_t kCertificateHeaderSize = 8;

struct CertificateTable {
  uint32_t offset = 0;  // in the file
  uint32_t size = 0;    // as the directory gives it
  // The first WIN_CERTIFICATE.
  uint32_t length = 0;
  uint16_t revision = 0;
  uint16_t type = 0;
  plat::ByteView certificate;  // the bytes after its header, `length` - 8 of them
};

// The certificate table of the executable `file`; nullopt when its security directory is
// empty. A directory or record that does not fit the file, or a file that is no PE image,
// is nullopt with the reason in `*refusal` (which stays empty for an unsigned image).
std::optional<CertificateTable> ReadCertificateTable(plat::ByteView file, std::string* refusal);

}  // namespace pe
