#include "pe/certificate_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pe_builder.h"

namespace pe {
namespace {

using brankel_test::PeBuilder;

TEST(CertificateTableTest, FoundThroughTheSecurityDirectoryInBothImageKinds) {
  for (const bool plus : {false, true}) {
    SCOPED_TRACE(plus);
    PeBuilder builder;
    builder.pe32plus = plus;
    builder.certificate = "0123456789";
    const std::vector<uint8_t> image = builder.Build();
    std::string refusal;
    const std::optional<CertificateTable> table = ReadCertificateTable(plat::ByteView(image), &refusal);
    ASSERT_TRUE(table) << refusal;
    EXPECT_EQ(table->length, 18u);
    EXPECT_EQ(table->size, 24u);  // padded to 8
    EXPECT_EQ(table->offset + table->size, image.size());
    EXPECT_EQ(table->revision, kCertificateRevision2);
    EXPECT_EQ(table->type, kCertificateTypePkcs7);
    EXPECT_EQ(std::string(table->certificate.begin(), table->certificate.end()), "0123456789");

    // Unsigned: no table and no refusal.
    builder.certificate.clear();
    const std::vector<uint8_t> plain = builder.Build();
    EXPECT_FALSE(ReadCertificateTable(plat::ByteView(plain), &refusal));
    EXPECT_TRUE(refusal.empty()) << refusal;
  }
}

TEST(CertificateTableTest, TablesAndRecordsOutsideTheFileAreRefused) {
  PeBuilder builder;
  builder.certificate = "0123456789";
  const std::vector<uint8_t> good = builder.Build();
  const brankel_test::PeLayout layout = brankel_test::LayoutOf(good);
  const size_t entry = layout.directories + 4 * 8;
  const uint32_t at = brankel_test::Read32(good, entry);
  struct Case {
    const char* name;
    size_t field;
    uint32_t value;
  };
  const Case cases[] = {
      {"table past the end", entry + 4, 25},         {"table offset past the end", entry, 0xFFFFFFF8u},
      {"table shorter than a header", entry + 4, 7}, {"record longer than its table", at, 25},
      {"record shorter than its header", at, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image = good;
    brankel_test::Write32(image, c.field, c.value);
    std::string refusal;
    EXPECT_FALSE(ReadCertificateTable(plat::ByteView(image), &refusal));
    EXPECT_FALSE(refusal.empty());
  }
  std::string refusal;
  EXPECT_FALSE(ReadCertificateTable(plat::ByteView(std::vector<uint8_t>(good.begin(), good.begin() + 0x90)), &refusal));
  EXPECT_FALSE(refusal.empty());
}

}  // namespace
}  // namespace pe
