#include "pe/signed_data.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/unicode.h"

namespace pe {
namespace {

// DER tags used below (UTF-8, printable and IA5 strings are read as UTF-8 as they are).
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kT61String = 0x14;
constexpr uint8_t kBmpString = 0x1E;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kContext0 = 0xA0;  // [0], constructed

// 1.2.840.113549.1.7.2, signedData.
constexpr uint8_t kSignedDataOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

struct Element {
  uint8_t tag = 0;
  plat::ByteView whole;    // tag, length and contents
  plat::ByteView content;  // contents only
};

// Reads one element after another from a view; every length is checked against what is
// left, so nothing is ever read past the view.
class DerReader {
 public:
  explicit DerReader(plat::ByteView bytes) : bytes_(bytes) {}

  bool AtEnd() const { return offset_ >= bytes_.size(); }

  std::optional<Element> Next() {
    const std::optional<uint8_t> tag = bytes_.U8(offset_);
    const std::optional<uint8_t> first = bytes_.U8(offset_ + 1);
    // Tags of more than one byte name nothing read here.
    if (!tag || !first || (*tag & 0x1F) == 0x1F) return std::nullopt;
    uint64_t length = *first;
    uint64_t head = 2;
    if (*first & 0x80) {
      // Definite long form of at most four bytes: the indefinite form is not DER.
      const uint8_t count = *first & 0x7F;
      if (count == 0 || count > 4) return std::nullopt;
      length = 0;
      for (uint8_t i = 0; i < count; ++i) {
        const std::optional<uint8_t> byte = bytes_.U8(offset_ + 2 + i);
        if (!byte) return std::nullopt;
        length = (length << 8) | *byte;
      }
      head += count;
    }
    const std::optional<plat::ByteView> whole = bytes_.Sub(offset_, head + length);
    if (!whole) return std::nullopt;
    offset_ += head + length;
    return Element{*tag, *whole, whole->From(head)};
  }

  // The next element when it has `tag`; nothing otherwise (and nothing is consumed).
  std::optional<Element> Expect(uint8_t tag) {
    const uint64_t at = offset_;
    std::optional<Element> element = Next();
    if (!element || element->tag != tag) {
      offset_ = at;
      return std::nullopt;
    }
    return element;
  }

 private:
  plat::ByteView bytes_;
  uint64_t offset_ = 0;
};

std::string OidText(plat::ByteView oid) {
  std::string text;
  uint64_t value = 0;
  bool first = true;
  for (const uint8_t byte : oid) {
    if (value > (UINT64_MAX >> 7)) return "?";
    value = (value << 7) | (byte & 0x7F);
    if (byte & 0x80) continue;
    if (first) {
      const uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
      text.append(std::to_string(top));
      value -= top * 40;
      first = false;
    }
    text.push_back('.');
    text.append(std::to_string(value));
    value = 0;
  }
  return text;
}

std::string AttributeName(plat::ByteView oid) {
  const std::string dotted = OidText(oid);
  static const struct {
    const char* oid;
    const char* name;
  } kNames[] = {{"2.5.4.3", "CN"},
                {"2.5.4.6", "C"},
                {"2.5.4.7", "L"},
                {"2.5.4.8", "ST"},
                {"2.5.4.10", "O"},
                {"2.5.4.11", "OU"},
                {"2.5.4.5", "serialNumber"},
                {"1.2.840.113549.1.9.1", "emailAddress"}};
  for (const auto& known : kNames) {
    if (dotted == known.oid) return known.name;
  }
  return dotted;
}

// A directory string as UTF-8: other string kinds and malformed text come out with
// replacement characters, never as bytes that are not UTF-8.
std::string StringValue(const Element& value) {
  const std::string_view raw(reinterpret_cast<const char*>(value.content.data()), value.content.size());
  switch (value.tag) {
    case kBmpString: {
      std::u16string text;
      for (uint64_t i = 0; i + 1 < value.content.size(); i += 2) {
        text.push_back(static_cast<char16_t>(value.content.U8Or(i, 0) << 8 | value.content.U8Or(i + 1, 0)));
      }
      return plat::Utf16ToUtf8(text);
    }
    case kT61String: {
      // Read as Latin-1, which is what such strings hold in practice.
      std::u16string text(raw.begin(), raw.end());
      for (char16_t& c : text) c = static_cast<uint8_t>(c);
      return plat::Utf16ToUtf8(text);
    }
    default:
      return plat::Utf16ToUtf8(plat::Utf8ToUtf16(raw));
  }
}

// A Name: SEQUENCE OF SET OF SEQUENCE { OID, string }, joined as "A=v, B=w".
std::optional<std::string> NameText(plat::ByteView name) {
  DerReader sets(name);
  std::string text;
  while (!sets.AtEnd()) {
    const std::optional<Element> set = sets.Expect(kSet);
    if (!set) return std::nullopt;
    DerReader pairs(set->content);
    while (!pairs.AtEnd()) {
      const std::optional<Element> pair = pairs.Expect(kSequence);
      if (!pair) return std::nullopt;
      DerReader parts(pair->content);
      const std::optional<Element> oid = parts.Expect(kOid);
      const std::optional<Element> value = parts.Next();
      if (!oid || !value) return std::nullopt;
      if (!text.empty()) text.append(", ");
      text.append(AttributeName(oid->content));
      text.push_back('=');
      text.append(StringValue(*value));
    }
  }
  return text;
}

// A serial number as the number it is: the sign byte DER puts before a high first byte
// is not shown.
std::string SerialHex(plat::ByteView bytes) {
  if (bytes.size() > 1 && bytes.U8Or(0, 1) == 0 && (bytes.U8Or(1, 0) & 0x80) != 0) bytes = bytes.From(1);
  std::string text;
  char pair[3];
  for (const uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

bool Same(plat::ByteView a, plat::ByteView b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace

std::optional<SignerName> ReadSignerName(plat::ByteView pkcs7, std::string* refusal) {
  const auto refuse = [&](const char* why) -> std::optional<SignerName> {
    if (refusal != nullptr) *refusal = why;
    return std::nullopt;
  };
  // ContentInfo { contentType, [0] { SignedData } }
  DerReader top(pkcs7);
  const std::optional<Element> content_info = top.Expect(kSequence);
  if (!content_info) return refuse("the signature is no DER sequence");
  DerReader info(content_info->content);
  const std::optional<Element> type = info.Expect(kOid);
  if (!type || !Same(type->content, plat::ByteView(kSignedDataOid, sizeof kSignedDataOid))) {
    return refuse("the signature is not PKCS#7 signed data");
  }
  const std::optional<Element> explicit_content = info.Expect(kContext0);
  if (!explicit_content) return refuse("the signed data is missing");
  DerReader wrapper(explicit_content->content);
  const std::optional<Element> signed_data = wrapper.Expect(kSequence);
  if (!signed_data) return refuse("the signed data is no sequence");

  // SignedData { version, digestAlgorithms, contentInfo, [0] certificates, [1] crls, signerInfos }
  DerReader fields(signed_data->content);
  if (!fields.Expect(kInteger) || !fields.Expect(kSet) || !fields.Expect(kSequence)) {
    return refuse("the signed data's head is malformed");
  }
  const std::optional<Element> certificates = fields.Expect(kContext0);
  (void)fields.Expect(0xA1);
  const std::optional<Element> signer_infos = fields.Expect(kSet);
  if (!signer_infos) return refuse("the signed data has no signer records");

  // SignerInfo { version, issuerAndSerialNumber { issuer, serial }, ... }
  DerReader signers(signer_infos->content);
  const std::optional<Element> signer = signers.Expect(kSequence);
  if (!signer) return refuse("the signed data has no signer record");
  DerReader signer_fields(signer->content);
  if (!signer_fields.Expect(kInteger)) return refuse("the signer record is malformed");
  const std::optional<Element> issuer_serial = signer_fields.Expect(kSequence);
  if (!issuer_serial) return refuse("the signer record names no certificate by issuer and serial number");
  DerReader wanted(issuer_serial->content);
  const std::optional<Element> wanted_issuer = wanted.Expect(kSequence);
  const std::optional<Element> wanted_serial = wanted.Expect(kInteger);
  if (!wanted_issuer || !wanted_serial) return refuse("the signer record's certificate reference is malformed");
  if (!certificates) return refuse("the signed data carries no certificates");

  // Certificate { tbsCertificate { [0] version, serial, signature, issuer, validity, subject, ... }, ... }
  DerReader list(certificates->content);
  while (!list.AtEnd()) {
    const std::optional<Element> certificate = list.Next();
    if (!certificate) return refuse("a certificate is cut or malformed");
    if (certificate->tag != kSequence) continue;  // other certificate kinds name no signer here
    DerReader parts(certificate->content);
    const std::optional<Element> tbs = parts.Expect(kSequence);
    if (!tbs) return refuse("a certificate is malformed");
    DerReader tbs_fields(tbs->content);
    (void)tbs_fields.Expect(kContext0);
    const std::optional<Element> serial = tbs_fields.Expect(kInteger);
    const std::optional<Element> algorithm = tbs_fields.Expect(kSequence);
    const std::optional<Element> issuer = tbs_fields.Expect(kSequence);
    const std::optional<Element> validity = tbs_fields.Expect(kSequence);
    const std::optional<Element> subject = tbs_fields.Expect(kSequence);
    if (!serial || !algorithm || !issuer || !validity || !subject) return refuse("a certificate is malformed");
    if (!Same(serial->content, wanted_serial->content) || !Same(issuer->whole, wanted_issuer->whole)) continue;
    const std::optional<std::string> subject_text = NameText(subject->content);
    const std::optional<std::string> issuer_text = NameText(issuer->content);
    if (!subject_text || !issuer_text) return refuse("the signer's certificate has a malformed name");
    return SignerName{*subject_text, *issuer_text, SerialHex(serial->content)};
  }
  return refuse("the signed data carries no certificate for its signer");
}

}  // namespace pe
