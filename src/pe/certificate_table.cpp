#include "pe/certificate_table.h"

#include "pe/pe_image.h"

namespace pe {

std::optional<CertificateTable> ReadCertificateTable(plat::ByteView file, std::string* refusal) {
  refusal->clear();
  auto refuse = [&](const char* why) -> std::optional<CertificateTable> {
    *refusal = why;
    return std::nullopt;
  };
  if (file.U16Or(0, 0) != pe::kDosMagic) return refuse("the file is not an executable");
  const uint64_t nt = file.U32Or(pe::kLfanewOffset, 0);
  if (file.U32Or(nt, 0) != pe::kPeSignature) return refuse("the file is not a PE image");
  const uint16_t magic = file.U16Or(nt + pe::kOptionalMagic, 0);
  if (magic != pe::kMagicPe32 && magic != pe::kMagicPe32Plus) return refuse("the optional header is unknown");
  const bool plus = magic == pe::kMagicPe32Plus;
  const uint32_t count = file.U32Or(nt + (plus ? pe::kNumberOfRvaAndSizes64 : pe::kNumberOfRvaAndSizes32), 0);
  if (count <= pe::kDirSecurity) return std::nullopt;
  const uint64_t entry = nt + (plus ? pe::kDataDirectories64 : pe::kDataDirectories32) + 8u * pe::kDirSecurity;
  const std::optional<uint32_t> offset = file.U32(entry);
  const std::optional<uint32_t> size = file.U32(entry + 4);
  if (!offset || !size) return refuse("the data directories run past the end of the file");
  if (*offset == 0 && *size == 0) return std::nullopt;
  if (*size < kCertificateHeaderSize || !file.Fits(*offset, *size)) {
    return refuse("the certificate table lies outside the file");
  }
  CertificateTable table;
  table.offset = *offset;
  table.size = *size;
  table.length = file.U32Or(*offset, 0);
  table.revision = file.U16Or(uint64_t{*offset} + 4, 0);
  table.type = file.U16Or(uint64_t{*offset} + 6, 0);
  if (table.length < kCertificateHeaderSize || table.length > table.size) {
    return refuse("the certificate record does not fit its table");
  }
  table.certificate = *file.Sub(uint64_t{*offset} + kCertificateHeaderSize, table.length - kCertificateHeaderSize);
  return table;
}

}  // namespace pe
