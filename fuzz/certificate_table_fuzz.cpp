// Any bytes as a signed executable: a table that is found lies inside the file with its
// first record, and a refusal always says why.
#include <cstddef>
#include <cstdint>
#include <string>

#include "pe/certificate_table.h"
#include "platform/byte_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const plat::ByteView file(data, size);
  std::string refusal;
  const std::optional<pe::CertificateTable> table = pe::ReadCertificateTable(file, &refusal);
  if (table) {
    if (!plat::RangeFits(size, table->offset, table->size)) __builtin_trap();
    if (table->length < pe::kCertificateHeaderSize || table->length > table->size) __builtin_trap();
    if (table->certificate.size() != table->length - pe::kCertificateHeaderSize) __builtin_trap();
    if (!table->certificate.empty() &&
        (table->certificate.data() < data || table->certificate.data() + table->certificate.size() > data + size)) {
      __builtin_trap();
    }
  }
  return 0;
}
