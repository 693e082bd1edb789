#include "platform/byte_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

using plat::ByteView;
using plat::MutableByteView;

TEST(ByteView, FitsNeverWrapsAtTheTopOfTheRange) {
  struct Case {
    uint64_t total, offset, length;
    bool fits;
  };
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const Case cases[] = {
      {10, 0, 10, true},
      {10, 10, 0, true},
      {10, 11, 0, false},
      {10, 9, 2, false},
      {10, 2, kMax, false},
      {10, kMax, 2, false},
      {kMax, kMax, 0, true},
      {kMax, 1, kMax, false},
      {0, 0, 0, true},
      {0, 0, 1, false},
      {0xFFFFFFFF, 0xFFFFFFF0, 0x20, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plat::RangeFits(c.total, c.offset, c.length), c.fits) << c.total << " " << c.offset << " " << c.length;
  }
}

TEST(ByteView, ReadsLittleEndianAndFailsWhenShort) {
  const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  const ByteView view(bytes);
  EXPECT_EQ(view.U8(7), 0x88);
  EXPECT_EQ(view.U16(0), 0x0201);
  EXPECT_EQ(view.U16(6), 0x8807);
  EXPECT_EQ(view.U32(4), 0x88070605u);
  EXPECT_EQ(view.U64(0), 0x8807060504030201ull);
  EXPECT_FALSE(view.U8(8));
  EXPECT_FALSE(view.U16(7));
  EXPECT_FALSE(view.U32(5));
  EXPECT_FALSE(view.U64(1));
  EXPECT_FALSE(view.U32(std::numeric_limits<uint64_t>::max() - 1));
  EXPECT_EQ(view.U32Or(6, 0xABCD), 0xABCDu);
  EXPECT_FALSE(ByteView().U8(0));
  EXPECT_TRUE(ByteView(nullptr, 5).empty());
}

TEST(ByteView, SubViewsStayInsideTheirParent) {
  const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6};
  const ByteView view(bytes);
  const auto middle = view.Sub(2, 3);
  ASSERT_TRUE(middle);
  EXPECT_EQ(middle->size(), 3u);
  EXPECT_EQ(middle->U8(0), 3);
  EXPECT_FALSE(middle->U8(3));  // the parent's next byte is not the child's
  EXPECT_FALSE(view.Sub(4, 3));
  EXPECT_TRUE(view.Sub(6, 0));
  EXPECT_EQ(view.From(4).size(), 2u);
  EXPECT_TRUE(view.From(9).empty());
  EXPECT_EQ(view.First(100).size(), 6u);
  uint8_t out[2] = {9, 9};
  EXPECT_FALSE(view.CopyTo(5, out, 2));
  EXPECT_EQ(out[0], 9);
  EXPECT_TRUE(view.CopyTo(4, out, 2));
  EXPECT_EQ(out[1], 6);
}

TEST(ByteView, Utf16TextEndsAtTerminatorLimitOrEnd) {
  // "AB\0C" and an odd last byte.
  const std::vector<uint8_t> bytes = {'A', 0, 'B', 0, 0, 0, 'C', 0, 'D'};
  const ByteView view(bytes);
  struct Case {
    uint64_t at;
    size_t max;
    std::u16string text;
    uint64_t next;
  };
  const Case cases[] = {
      {0, SIZE_MAX, u"AB", 6}, {0, 1, u"A", 2},           {6, SIZE_MAX, u"C", 8},
      {8, SIZE_MAX, u"", 8},   {100, SIZE_MAX, u"", 100}, {2, 0, u"", 2},
  };
  for (const Case& c : cases) {
    uint64_t next = 0;
    EXPECT_EQ(view.Utf16z(c.at, c.max, &next), c.text) << c.at;
    EXPECT_EQ(next, c.next) << c.at;
  }
}

TEST(MutableByteView, StoresRoundTripAndShortStoresChangeNothing) {
  std::vector<uint8_t> bytes(10, 0xEE);
  const MutableByteView view(bytes);
  EXPECT_TRUE(view.Put16(0, 0xBEEF));
  EXPECT_TRUE(view.Put64(2, 0x0102030405060708ull));
  EXPECT_FALSE(view.Put32(7, 1));
  EXPECT_FALSE(view.Put8(10, 1));
  EXPECT_EQ(ByteView(bytes).U16(0), 0xBEEF);
  EXPECT_EQ(ByteView(bytes).U64(2), 0x0102030405060708ull);
  EXPECT_EQ(bytes[9], 0x01);  // the failed 32-bit store at 7 wrote nothing
  EXPECT_FALSE(view.CopyFrom(9, ByteView(bytes).First(2)));
  EXPECT_TRUE(view.Sub(8, 2)->Put16(0, 0x1234));
  EXPECT_FALSE(view.Sub(8, 3));
}

TEST(MutableByteView, TextIsCutToFieldAndViewWithRoomForItsTerminator) {
  std::vector<uint8_t> bytes(8, 0xEE);
  const MutableByteView view(bytes);
  EXPECT_TRUE(view.PutUtf16z(0, u"WXYZ", 3));
  EXPECT_EQ(ByteView(bytes).Utf16z(0), u"WX");
  EXPECT_TRUE(view.PutUtf16z(2, u"LONGER"));
  EXPECT_EQ(ByteView(bytes).Utf16z(2), u"LO");
  EXPECT_EQ(ByteView(bytes).U16(6), 0);
  EXPECT_FALSE(view.PutUtf16z(7, u"A"));
  EXPECT_FALSE(view.PutUtf16z(0, u"A", 0));
}

TEST(ByteWriter, AppendsWhatTheViewReadsBack) {
  std::vector<uint8_t> out;
  plat::ByteWriter w(out);
  w.U8(7);
  w.Align(4);
  w.U16(0x1234);
  w.U32(0x89ABCDEF);
  w.U64(42);
  w.Utf16z(u"hi");
  w.Zeros(1);
  const ByteView view(out);
  EXPECT_EQ(out.size(), 4u + 2 + 4 + 8 + 6 + 1);
  EXPECT_EQ(view.U16(4), 0x1234);
  EXPECT_EQ(view.U32(6), 0x89ABCDEFu);
  EXPECT_EQ(view.U64(10), 42u);
  EXPECT_EQ(view.Utf16z(18), u"hi");
}

}  // namespace
