#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "macro/macro_format.h"
#include "support/macro_builder.h"

namespace macro {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(uint32_t n) {
  return {0xFE,
          0,
          static_cast<uint8_t>(n),
          static_cast<uint8_t>(n >> 8),
          static_cast<uint8_t>(n >> 16),
          static_cast<uint8_t>(n >> 24)};
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Packing, RunsOfAtMost254) {
  const Bytes input(300, 0x41);
  EXPECT_EQ(PackBlock(plat::ByteView(input)), Concat(Head(300), {0xFE, 0xFE, 0x41, 0xFE, 0x2E, 0x41}));
}

TEST(Packing, EscapeByteAlwaysAsARunAndSinglesAsThemselves) {
  const Bytes escape = {0xFE};
  EXPECT_EQ(PackBlock(plat::ByteView(escape.data(), 1)), Concat(Head(1), {0xFE, 0x01, 0xFE}));
  const Bytes two = {0x41, 0x42};
  EXPECT_EQ(PackBlock(plat::ByteView(two.data(), 2)), Concat(Head(2), {0x41, 0x42}));
  const Bytes pair = {0x00, 0x00, 0x07};
  EXPECT_EQ(PackBlock(plat::ByteView(pair.data(), 3)), Concat(Head(3), {0xFE, 0x02, 0x00, 0x07}));
  const Bytes exactly254(254, 0x09);
  EXPECT_EQ(PackBlock(plat::ByteView(exactly254.data(), 254)), Concat(Head(254), {0xFE, 0xFE, 0x09}));
  const Bytes then_one(255, 0x09);
  EXPECT_EQ(PackBlock(plat::ByteView(then_one.data(), 255)), Concat(Head(255), {0xFE, 0xFE, 0x09, 0x09}));
}

TEST(Packing, RoundTripsRandomAndRunnyData) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    Bytes input(1 + random() % 3000);
    for (auto& b : input) b = (random() % 4 == 0) ? static_cast<uint8_t>(random()) : (random() % 2 ? 0xFE : 0x00);
    const Bytes packed = PackBlock(plat::ByteView(input));
    Bytes out;
    ASSERT_TRUE(UnpackBlock(plat::ByteView(packed), 6, out));
    ASSERT_EQ(out.size(), input.size() + 6);
    EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin()));
    EXPECT_EQ(Bytes(out.end() - 6, out.end()), Bytes(6, 0)) << "spare bytes are zero";
  }
}

TEST(Unpacking, EdgeCases) {
  Bytes out;
  ASSERT_TRUE(UnpackBlock(plat::ByteView(), 6, out));
  EXPECT_EQ(out, Bytes(6, 0)) << "an empty stream is an empty block";
  // A last byte equal to the escape is copied as it is.
  Bytes stream = Concat(Head(3), {0x41, 0x42, 0xFE});
  ASSERT_TRUE(UnpackBlock(plat::ByteView(stream), 0, out));
  EXPECT_EQ(out, Bytes({0x41, 0x42, 0xFE}));
  // The escape comes from the stream, not a constant.
  stream = {0x77, 0, 4, 0, 0, 0, 0x77, 0x03, 0x05, 0xFE};
  ASSERT_TRUE(UnpackBlock(plat::ByteView(stream), 0, out));
  EXPECT_EQ(out, Bytes({5, 5, 5, 0xFE}));
  // Runs stop at the declared length; a short stream leaves zeros.
  stream = Concat(Head(4), {0xFE, 0xFF, 0x01});
  ASSERT_TRUE(UnpackBlock(plat::ByteView(stream), 0, out));
  EXPECT_EQ(out, Bytes(4, 1));
  stream = Concat(Head(5), {0x09});
  ASSERT_TRUE(UnpackBlock(plat::ByteView(stream), 0, out));
  EXPECT_EQ(out, Bytes({9, 0, 0, 0, 0}));
  // Escape and count with the value cut off: nothing read past the stream.
  stream = Concat(Head(3), {0xFE, 0x03});
  ASSERT_TRUE(UnpackBlock(plat::ByteView(stream), 0, out));
  EXPECT_EQ(out, Bytes(3, 0));
}

TEST(Unpacking, RefusesStreamsThatCannotBeBlocks) {
  Bytes out;
  const Bytes cut = {0xFE, 0, 5, 0};
  EXPECT_FALSE(UnpackBlock(plat::ByteView(cut), 0, out)) << "head cut short";
  const Bytes greedy = Concat(Head(0xFFFFFFF0u), {0xFE, 0xFE, 0x00});
  EXPECT_FALSE(UnpackBlock(plat::ByteView(greedy), 6, out)) << "claims far more than 3 bytes can give";
  const Bytes fits = Concat(Head(254), {0xFE, 0xFE, 0x00});
  EXPECT_TRUE(UnpackBlock(plat::ByteView(fits), 0, out));
  EXPECT_EQ(out.size(), 254u);
}

TEST(Unpacking, LimitsAreCheckedBeforeAnythingIsAllocated) {
  // Believable streams: their length could give what they claim.
  const Bytes small = brankel_test::ZeroRunStream(1000);
  static const Bytes near_4g = brankel_test::ZeroRunStream(0xFFFFFFF0u);
  const bool narrow = sizeof(size_t) == 4;
  struct Case {
    const Bytes* stream;
    size_t spare;
    uint64_t limit;
    bool ok;
    UnpackError error;
    const char* why;
    bool only_narrow = false;
  };
  const Case cases[] = {
      {&small, 6, 1000, true, UnpackError::kNone, "the limit itself is allowed"},
      {&small, 6, 999, false, UnpackError::kTooLong, "one byte over the limit"},
      {&near_4g, 6, kMaxParamBlockSize, false, UnpackError::kTooLong, "beyond what a file's sizes hold"},
      // With a 32-bit size_t, 0xFFFFFFF0 + 0x20 wraps to 16 bytes.
      {&near_4g, 0x20, UINT64_MAX, false, UnpackError::kNoMemory, "block and spare beyond the address space", true},
  };
  for (const Case& c : cases) {
    if (c.only_narrow && !narrow) continue;
    Bytes out(3, 0x55);
    UnpackError error = UnpackError::kNotPacked;
    EXPECT_EQ(UnpackBlock(plat::ByteView(c.stream->data(), c.stream->size()), c.spare, out, c.limit, &error), c.ok)
        << c.why;
    EXPECT_EQ(error, c.error) << c.why;
    EXPECT_EQ(out.size(), c.ok ? 1000 + c.spare : 0u) << c.why;
  }
}

TEST(Scrambling, ChunksOfTheKeyLength) {
  Bytes block(10, 0);
  ScrambleBlock(plat::MutableByteView(block), "abcd");
  const uint8_t a = 'a', b = 'b', c = 'c', d = 'd';
  EXPECT_EQ(block, Bytes({uint8_t(4 + a), uint8_t(4 + b), uint8_t(4 + c), uint8_t(4 + d), uint8_t(4 + a),
                          uint8_t(4 + b), uint8_t(4 + c), uint8_t(4 + d), uint8_t(2 + a), uint8_t(2 + b)}));
  ScrambleBlock(plat::MutableByteView(block), "abcd");
  EXPECT_EQ(block, Bytes(10, 0)) << "its own inverse";
  Bytes untouched = {1, 2, 3};
  ScrambleBlock(plat::MutableByteView(untouched), "");
  EXPECT_EQ(untouched, Bytes({1, 2, 3}));
  // The low 8 bits of c + k[i]: a high key byte wraps.
  Bytes one = {0};
  ScrambleBlock(plat::MutableByteView(one.data(), 1), "\xFF");
  EXPECT_EQ(one[0], 0x00);
}

char16_t Unit(const MacroFileHeader& header, size_t i) {
  char16_t unit;
  std::memcpy(&unit, reinterpret_cast<const uint8_t*>(&header) + 820 + 2 * i, 2);
  return unit;
}

TEST(PasswordField, FiveCharactersUseTheStampBytesInTurn) {
  MacroFileHeader header{};
  header.SaveStamp = 0x44332211;
  SetHeaderPassword(header, u"abcde");
  ScramblePasswordField(header);
  EXPECT_EQ(Unit(header, 0), u'a' ^ 0x11);
  EXPECT_EQ(Unit(header, 1), u'b' ^ 0x22);
  EXPECT_EQ(Unit(header, 2), u'c' ^ 0x33);
  EXPECT_EQ(Unit(header, 3), u'd' ^ 0x44);
  EXPECT_EQ(Unit(header, 4), u'e' ^ 0x11);
  for (size_t i = 5; i < 31; ++i) EXPECT_EQ(Unit(header, i), 0) << i;
  EXPECT_EQ(Unit(header, 31), 5);
  RestorePasswordField(header);
  EXPECT_EQ(HeaderPassword(header), u"abcde");
}

TEST(PasswordField, OnlyTheLowByteChangesAndLongPasswordsAreCut) {
  MacroFileHeader header{};
  header.SaveStamp = -1;
  const std::u16string long_password = u"\u4e2d" + std::u16string(40, u'x');
  SetHeaderPassword(header, long_password);
  ScramblePasswordField(header);
  EXPECT_EQ(Unit(header, 0), 0x4e2d ^ 0xFF) << "only the low byte takes the stamp";
  EXPECT_EQ(Unit(header, 31), 31);
  RestorePasswordField(header);
  EXPECT_EQ(HeaderPassword(header), long_password.substr(0, 31));
}

TEST(PasswordField, ReadingRejectsEmptyAndImpossibleFields) {
  MacroFileHeader header{};
  SetHeaderPassword(header, u"");
  ScramblePasswordField(header);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(Unit(header, i), 0);
  RestorePasswordField(header);
  EXPECT_EQ(HeaderPassword(header), u"");

  // A length above 32 means no password.
  SetHeaderPassword(header, u"secret");
  char16_t big = 33;
  std::memcpy(reinterpret_cast<uint8_t*>(&header) + 820 + 62, &big, 2);
  RestorePasswordField(header);
  EXPECT_EQ(HeaderPassword(header), u"");
  // Units 0 to 7 zero: empty, whatever unit 31 says.
  MacroFileHeader zeros{};
  char16_t eight = 8;
  std::memcpy(reinterpret_cast<uint8_t*>(&zeros) + 820 + 62, &eight, 2);
  std::memcpy(reinterpret_cast<uint8_t*>(&zeros) + 820 + 20, &eight, 2);
  RestorePasswordField(zeros);
  EXPECT_EQ(HeaderPassword(zeros), u"");
  EXPECT_EQ(Unit(zeros, 10), 0) << "units 0 to 15 are cleared";
}

Bytes Record(uint16_t id, uint32_t size, uint8_t fill) {
  Bytes record(4 + size, fill);
  SetParamRecordHead(plat::MutableByteView(record), id, size);
  return record;
}

TEST(ParamRecords, HeadCarriesEighteenSizeBits) {
  uint8_t head[4];
  ASSERT_TRUE(SetParamRecordHead(plat::MutableByteView(head, 4), 0x3ABC, 262143));
  EXPECT_EQ(ParamRecordSize(plat::ByteView(head, 4)), 262143u);
  EXPECT_EQ(ParamRecordId(plat::ByteView(head, 4)), 0x3ABC);
  EXPECT_EQ(head[3] >> 6, 3) << "size bits 16-17 in the top of the second word";
  SetParamRecordHead(plat::MutableByteView(head, 4), kNoParamId, 0);
  EXPECT_EQ(head[0] | head[1] << 8 | head[2] << 16 | head[3] << 24, 0x1FFF0000);
  // Three bytes are no head: nothing read past them, nothing written.
  EXPECT_EQ(ParamRecordSize(plat::ByteView(head, 3)), 0u);
  EXPECT_EQ(ParamRecordId(plat::ByteView(head, 3)), kNoParamId);
  EXPECT_FALSE(SetParamRecordHead(plat::MutableByteView(head, 3), 1, 1));
  EXPECT_EQ(head[0] | head[1] << 8 | head[2] << 16, 0xFF0000) << "nothing written";
  std::fill(head, head + 4, 0xAB);
  EXPECT_FALSE(WriteParamTerminator(plat::MutableByteView(head, 4))) << "a terminator takes five bytes";
  EXPECT_EQ(Bytes(head, head + 4), Bytes(4, 0xAB));
}

TEST(ParamBlock, WalkPlacesTheTerminator) {
  Bytes block = Concat(Record(0, 3, 0xAA), Record(1, 2, 0xBB));
  const size_t size = block.size();
  block.resize(size + kParamSpare, 0xCC);
  EXPECT_EQ(NormaliseParamBlock(plat::MutableByteView(block), size), size);
  EXPECT_EQ(Bytes(block.begin() + size, block.begin() + size + 5), Bytes({0x00, 0x00, 0xFF, 0x1F, 0x00}));
  const plat::ByteView found = FindParamRecord(1, plat::ByteView(block.data(), size));
  EXPECT_EQ(found.data(), block.data() + 7);
  EXPECT_EQ(found.size(), 6u) << "head and payload";
  EXPECT_EQ(ParamRecordPayload(found).data(), block.data() + 11);
  EXPECT_EQ(ParamRecordPayload(found).size(), 2u);
  EXPECT_EQ(FindParamRecord(1, plat::ByteView(block)).data(), block.data() + 7) << "walked to the terminator";
  EXPECT_TRUE(FindParamRecord(2, plat::ByteView(block)).empty());
  EXPECT_TRUE(FindParamRecord(kNoParamId, plat::ByteView(block.data(), size)).empty());
  EXPECT_TRUE(FindParamRecord(0, plat::ByteView()).empty());
  EXPECT_TRUE(FindParamRecord(1, plat::ByteView(block.data(), 7)).empty()) << "the block ends before it";
  // A record whose stated size runs past the block is found, cut to the block.
  const plat::ByteView cut = FindParamRecord(1, plat::ByteView(block.data(), size - 1));
  EXPECT_EQ(cut.size(), 5u);
  EXPECT_EQ(ParamRecordSize(cut), 2u);
  EXPECT_EQ(ParamRecordPayload(cut).size(), 1u);
}

TEST(ParamBlock, ZeroSizeRecordEndsTheBlock) {
  Bytes block = Concat(Concat(Record(4, 2, 0xAA), Record(9, 0, 0)), Record(5, 1, 0xBB));
  const size_t size = block.size();
  block.resize(size + kParamSpare);
  EXPECT_EQ(NormaliseParamBlock(plat::MutableByteView(block), size), 6u);
  EXPECT_TRUE(FindParamRecord(5, plat::ByteView(block)).empty());
  EXPECT_EQ(FindParamRecord(4, plat::ByteView(block.data(), 6)).data(), block.data());
}

TEST(ParamBlock, LastRecordRunningPastTheEndIsCut) {
  Bytes block = Concat(Record(0, 2, 0xAA), Record(7, 100, 0xBB));
  const size_t size = 6 + 4 + 10;  // the second record has only 10 payload bytes
  block.resize(size);
  block.resize(size + kParamSpare, 0xCC);
  EXPECT_EQ(NormaliseParamBlock(plat::MutableByteView(block), size), size);
  const plat::ByteView cut = FindParamRecord(7, plat::ByteView(block.data(), size));
  ASSERT_EQ(cut.data(), block.data() + 6);
  EXPECT_EQ(cut.size(), 14u);
  EXPECT_EQ(ParamRecordSize(cut), 10u);
  EXPECT_EQ(ParamRecordId(cut), 7);
  EXPECT_EQ(block[size + 2], 0xFF) << "terminator right after";
}

TEST(ParamBlock, HeadCutOffByTheEndIsDropped) {
  Bytes block = Concat(Record(0, 2, 0xAA), {0x05, 0x00});  // two bytes of a head
  const size_t size = block.size();
  block.resize(size + kParamSpare, 0xCC);
  EXPECT_EQ(NormaliseParamBlock(plat::MutableByteView(block), size), 6u);
  EXPECT_EQ(ParamRecordId(plat::ByteView(block).From(6)), kNoParamId);
  EXPECT_EQ(block[6 + 2], 0xFF) << "the terminator where the cut head began";
  // A view without the spare bytes is taken to end its block before them.
  Bytes tight = Concat(Record(0, 2, 0xAA), Record(1, 2, 0xBB));
  EXPECT_EQ(NormaliseParamBlock(plat::MutableByteView(tight), tight.size()), 6u);
  EXPECT_EQ(ParamRecordId(plat::ByteView(tight).From(6)), kNoParamId);
  EXPECT_EQ(NormaliseParamBlock(plat::MutableByteView(tight.data(), 5), 0), 0u) << "no room even for the spare";
}

TEST(Magic, ComparedAsTextWithoutCase) {
  MacroFileHeader header{};
  std::memcpy(header.Magic, "vl_ma", 5);
  EXPECT_TRUE(HasMacroMagic(header));
  std::memcpy(header.Magic, "VL_MA\0xx", 8);
  EXPECT_TRUE(HasMacroMagic(header)) << "bytes after the terminator do not count";
  std::memcpy(header.Magic, "VL_MAX\0\0", 8);
  EXPECT_FALSE(HasMacroMagic(header));
  std::memcpy(header.Magic, "VL_MAXXX", 8);
  EXPECT_FALSE(HasMacroMagic(header));
  SetMacroMagic(header);
  EXPECT_EQ(std::memcmp(header.Magic, "VL_MA\0\0\0", 8), 0);
}

}  // namespace
}  // namespace macro
