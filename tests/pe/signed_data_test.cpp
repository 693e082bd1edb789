// The signer's names from hand-made DER: what a signing tool writes, and every way the
// bytes can be cut or point at no certificate.
#include "pe/signed_data.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace pe {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Der(uint8_t tag, const Bytes& content) {
  const size_t n = content.size();
  Bytes out;
  out.reserve(n + 4);
  out.push_back(tag);
  if (n >= 0x80) {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(n >> 8));
  }
  out.push_back(static_cast<uint8_t>(n));
  for (const uint8_t byte : content) out.push_back(byte);
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// One attribute of a name: its OID's bytes and its string.
Bytes Attribute(const Bytes& oid, uint8_t string_tag, const Bytes& value) {
  return Der(0x31, Der(0x30, Cat({Der(0x06, oid), Der(string_tag, value)})));
}

const Bytes kCommonName = {0x55, 0x04, 0x03};
const Bytes kOrganisation = {0x55, 0x04, 0x0A};

Bytes Certificate(const Bytes& serial, const Bytes& issuer, const Bytes& subject) {
  const Bytes algorithm = Der(0x30, Der(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}));
  const Bytes tbs = Der(0x30, Cat({Der(0xA0, Der(0x02, {2})), Der(0x02, serial), algorithm, issuer,
                                   Der(0x30, Der(0x17, Text("260101000000Z"))), subject}));
  return Der(0x30, Cat({tbs, algorithm, Der(0x03, {0, 1, 2})}));
}

// ContentInfo with signed data whose one signer names `issuer` and `serial`.
Bytes SignedData(const Bytes& certificates, const Bytes& issuer, const Bytes& serial,
                 const Bytes& type = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02}) {
  const Bytes signer =
      Der(0x30,
          Cat({Der(0x02, {1}), Der(0x30, Cat({issuer, Der(0x02, serial)})), Der(0x30, Der(0x06, {0x60, 0x86, 0x48}))}));
  const Bytes body = Der(0x30, Cat({Der(0x02, {1}), Der(0x31, {}), Der(0x30, Der(0x06, {0x2B, 0x06})),
                                    Der(0xA0, certificates), Der(0x31, signer)}));
  return Der(0x30, Cat({Der(0x06, type), Der(0xA0, body)}));
}

const Bytes kIssuer =
    Der(0x30, Cat({Attribute(kCommonName, 0x13, Text("Test Root")), Attribute(kOrganisation, 0x0C, Text("Velmora"))}));
// A BMP string ("Zoë"), a T61 string in Latin-1 ("Café") and an attribute with no short name.
const Bytes kSubject = Der(0x30, Cat({Attribute(kCommonName, 0x1E, {0, 'Z', 0, 'o', 0, 0xEB}),
                                      Attribute(kOrganisation, 0x14, {'C', 'a', 'f', 0xE9}),
                                      Attribute({0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37}, 0x0C, Text("x"))}));
const Bytes kSerial = {0x00, 0x9F, 0x01};

TEST(SignedData, TheSignersCertificateIsFoundByIssuerAndSerial) {
  // A decoy with the same serial from another issuer comes first.
  const Bytes decoy = Certificate(kSerial, kSubject, kIssuer);
  const Bytes data = SignedData(Cat({decoy, Certificate(kSerial, kIssuer, kSubject)}), kIssuer, kSerial);
  std::string refusal;
  const std::optional<SignerName> signer = ReadSignerName(data, &refusal);
  ASSERT_TRUE(signer) << refusal;
  EXPECT_EQ(signer->subject, "CN=Zo\xC3\xAB, O=Caf\xC3\xA9, 1.3.6.1.4.1.311=x");
  EXPECT_EQ(signer->issuer, "CN=Test Root, O=Velmora");
  EXPECT_EQ(signer->serial, "9F01") << "the sign byte is not part of the number";
}

TEST(SignedData, BadSignedDataIsRefusedWithAReason) {
  const Bytes good = SignedData(Certificate(kSerial, kIssuer, kSubject), kIssuer, kSerial);
  struct Case {
    const char* what;
    Bytes data;
    const char* refusal;
  };
  const Case cases[] = {
      {"another content type", SignedData(Certificate(kSerial, kIssuer, kSubject), kIssuer, kSerial, {0x2A, 0x03}),
       "not PKCS#7 signed data"},
      {"no certificate of that serial", SignedData(Certificate({0x05}, kIssuer, kSubject), kIssuer, kSerial),
       "no certificate for its signer"},
      {"no certificates", SignedData({}, kIssuer, kSerial), "no certificate for its signer"},
      {"an indefinite length", Cat({{0x30, 0x80}, Bytes(good.begin() + 2, good.end())}), "no DER sequence"},
      {"a name with a bare string",
       SignedData(Certificate(kSerial, kIssuer, Der(0x30, Der(0x31, Der(0x0C, Text("x"))))), kIssuer, kSerial),
       "malformed name"},
  };
  for (const Case& c : cases) {
    std::string refusal;
    EXPECT_FALSE(ReadSignerName(c.data, &refusal)) << c.what;
    EXPECT_NE(refusal.find(c.refusal), std::string::npos) << c.what << ": " << refusal;
  }
  // Cut anywhere, the data never reads past its end and always says why.
  for (size_t size = 0; size < good.size(); ++size) {
    std::string refusal;
    EXPECT_FALSE(ReadSignerName(plat::ByteView(good.data(), size), &refusal)) << size;
    EXPECT_FALSE(refusal.empty()) << size;
  }
}

}  // namespace
}  // namespace pe
