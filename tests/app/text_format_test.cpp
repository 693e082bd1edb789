#include <gtest/gtest.h>

#include "app/text_format.h"

namespace app {
namespace {

TEST(FormatText, ConversionsLikePrintf) {
  EXPECT_EQ(FormatText(u"%d|%i|%u", {-5, 7, 4000000000u}), u"-5|7|4000000000");
  EXPECT_EQ(FormatText(u"0x%x 0x%X %o", {255, 0xABCDu, 8}), u"0xff 0xABCD 10");
  EXPECT_EQ(FormatText(u"(0x%X) ", {0x80070005u}), u"(0x80070005) ");
  EXPECT_EQ(FormatText(u"%5d|%-5d|%05d|%+d|% d", {42, 42, 42, 42, 42}), u"   42|42   |00042|+42| 42");
  EXPECT_EQ(FormatText(u"%.3d|%#x|%#o", {7, 255, 8}), u"007|0xff|010");
  EXPECT_EQ(FormatText(u"%s and %s", {u"one", std::u16string(u"two")}), u"one and two");
  EXPECT_EQ(FormatText(u"[%6s][%-6s][%.2s]", {u"ab", u"ab", u"abcdef"}), u"[    ab][ab    ][ab]");
  EXPECT_EQ(FormatText(u"%c%C", {u'x', u"yz"}), u"xy");
  EXPECT_EQ(FormatText(u"%f %.2f %g %e", {1.5, 2.0, 0.25, 1000.0}), u"1.500000 2.00 0.25 1.000000e+03");
  EXPECT_EQ(FormatText(u"100%% done", {}), u"100% done");
  EXPECT_EQ(FormatText(u"%*d|%-*d|", {4, 1, 3, 2}), u"   1|2  |");
}

TEST(FormatText, LengthModifiersFollowWindowsSizes) {
  // long is 32 bits, as on Windows; ll and I64 take all 64.
  EXPECT_EQ(FormatText(u"%ld %lx", {-1, 0x1FFFFFFFFull}), u"-1 ffffffff");
  EXPECT_EQ(FormatText(u"%lld %I64u", {-5000000000ll, 5000000000ull}), u"-5000000000 5000000000");
  EXPECT_EQ(FormatText(u"%hd %hu", {70000, 70000}), u"4464 4464");
  EXPECT_EQ(FormatText(u"%d", {0x80000000u}), u"-2147483648");
}

TEST(FormatText, MissingAndMismatchedArgumentsAreSafe) {
  EXPECT_EQ(FormatText(u"%s|%d|%x|%f", {}), u"|0|0|0.000000");
  EXPECT_EQ(FormatText(u"%s and %s", {u"only"}), u"only and ");
  EXPECT_EQ(FormatText(u"%d", {u"text"}), u"0");
  EXPECT_EQ(FormatText(u"%s", {12}), u"12");
  // Not conversions: copied as written.
  EXPECT_EQ(FormatText(u"%1 is %q 50%", {}), u"%1 is %q 50%");
  EXPECT_EQ(FormatText(u"end %", {}), u"end %");
  EXPECT_EQ(FormatText(u"%999999999d", {1}).size(), 4096u) << "widths are bounded";
}

TEST(FormatText, CutAtTheLimit) {
  EXPECT_EQ(FormatText(u"abcdef", {}, 4), u"abcd");
  EXPECT_EQ(FormatText(u"%s-%s", {u"abc", u"def"}, 5), u"abc-d");
  EXPECT_EQ(FormatText(u"%10d", {1}, 3), u"   ");
  EXPECT_EQ(FormatText(u"x", {}, 0), u"");
}

}  // namespace
}  // namespace app
