#include "macro/compound_file.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/compound_builder.h"
#include "support/scratch.h"

namespace macro {
namespace {

using brankel_test::CompoundBuilder;
using brankel_test::CompoundLayout;
using brankel_test::Narrow;
using brankel_test::PatternBytes;
using brankel_test::Put16;
using brankel_test::Put32;
using brankel_test::Put64;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kEnd = 0xFFFFFFFEu;
constexpr uint32_t kFree = 0xFFFFFFFFu;

// Built by appending: GCC 12 warns wrongly (-Wrestrict) on a literal + temporary string.
std::u16string Numbered(std::u16string_view prefix, long number) {
  std::u16string name(prefix);
  name += plat::AsciiToUtf16(std::to_string(number));
  return name;
}

std::string Why(const CompoundFile& file) {
  return std::string(CompoundErrorName(file.Error())) + ": " + file.ErrorText();
}

// Streams with their contents, for building and for checking what comes back.
struct Sample {
  explicit Sample(uint32_t version) : builder(version) {}
  Sample& Add(std::u16string path, Bytes bytes) {
    builder.AddStream(path, bytes);
    streams[path] = std::move(bytes);
    return *this;
  }
  Bytes Build() { return builder.Build(&layout); }

  CompoundBuilder builder;
  CompoundLayout layout;
  std::map<std::u16string, Bytes> streams;
};

// Small, regular, tiny, nested and empty streams: every kind of chain.
Sample Mixed(uint32_t version) {
  Sample s(version);
  s.Add(u"Small", PatternBytes(1000, 1))
      .Add(u"Large", PatternBytes(20000, 2))
      .Add(u"Tiny", PatternBytes(10, 3))
      .Add(u"Docs\\Inner", PatternBytes(5000, 4))
      .Add(u"Docs\\Note", PatternBytes(300, 5))
      .Add(u"Empty", {});
  return s;
}

void ExpectStreams(CompoundFile& file, const std::map<std::u16string, Bytes>& streams) {
  for (const auto& [path, bytes] : streams) {
    const std::optional<Bytes> got = file.ReadStream(path);
    ASSERT_TRUE(got.has_value()) << Narrow(path) << ": " << Why(file);
    EXPECT_TRUE(*got == bytes) << Narrow(path) << " differs";
    EXPECT_EQ(file.StreamSize(path), bytes.size()) << Narrow(path);
  }
}

CompoundError OpenError(const Bytes& bytes) {
  CompoundFile file;
  EXPECT_FALSE(file.OpenMemory(bytes)) << "a damaged file opened";
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(file.Entries().empty());
  return file.Error();
}

// Opens (which must work) and reads one stream, which must fail; gives the error.
CompoundError ReadError(const Bytes& bytes, std::u16string_view path) {
  CompoundFile file;
  if (!file.OpenMemory(bytes)) {
    ADD_FAILURE() << "open failed: " << Why(file);
    return CompoundError::kNone;
  }
  EXPECT_FALSE(file.ReadStream(path).has_value()) << Narrow(path) << " read from a damaged file";
  return file.Error();
}

// ---- Round trips ----------------------------------------------------------------------------

class CompoundRoundTrip : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CompoundRoundTrip, MixedStreamsComeBackByteForByte) {
  Sample s = Mixed(GetParam());
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(s.Build())) << Why(file);
  EXPECT_EQ(file.MajorVersion(), GetParam());
  EXPECT_EQ(file.SectorSize(), GetParam() == 4 ? 4096u : 512u);
  EXPECT_EQ(file.Root().type, CompoundEntryType::kRoot);
  ExpectStreams(file, s.streams);
  EXPECT_TRUE(s.layout.At(u"Small").mini);
  EXPECT_FALSE(s.layout.At(u"Large").mini);

  // Root, Docs and six streams; the root's children in the tree's (name) order.
  ASSERT_EQ(file.Entries().size(), 8u);
  std::vector<std::u16string> names;
  for (size_t child : file.RootChildren()) names.push_back(file.Entries()[child].name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Docs", u"Tiny", u"Empty", u"Large", u"Small"}));
  const size_t docs = *file.Find(u"Docs");
  EXPECT_TRUE(file.Entries()[docs].IsStorage());
  EXPECT_EQ(file.Entries()[docs].children.size(), 2u);
  const size_t note = *file.Find(u"Docs\\Note");
  EXPECT_EQ(file.PathOf(note), u"Docs\\Note");
  EXPECT_EQ(file.Entries()[note].parent, docs);
  EXPECT_EQ(file.Entries()[note].depth, 2u);
  EXPECT_EQ(file.Entries()[note].dir_id, s.layout.At(u"Docs\\Note").id);
}

TEST_P(CompoundRoundTrip, SizesAroundTheCutoffAndSectorEdges) {
  Sample s(GetParam());
  const uint32_t ss = GetParam() == 4 ? 4096 : 512;
  uint32_t seed = 10;
  for (size_t size : std::set<size_t>{1, 63, 64, 65, ss - 1, 4095, 4096, 4097, 8192, 3 * ss + 1}) {
    s.Add(Numbered(u"S", static_cast<long>(size)), PatternBytes(size, ++seed));
  }
  Bytes bytes = s.Build();
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(bytes)) << Why(file);
  ExpectStreams(file, s.streams);

  // With every mini FAT link gone, only the streams below 4096 bytes must fail.
  for (uint32_t i = 0; i < s.layout.mini_fat_sectors.size() * (ss / 4); ++i) {
    Put32(bytes, s.layout.MiniFatLinkOffset(i), kFree);
  }
  ASSERT_TRUE(file.OpenMemory(bytes)) << Why(file);
  for (const auto& [path, data] : s.streams) {
    EXPECT_EQ(file.ReadStream(path).has_value(), data.size() >= 4096) << Narrow(path);
  }
}

TEST_P(CompoundRoundTrip, HundredsOfStreamsInOrderAndScattered) {
  Sample s(GetParam());
  for (int i = 0; i < 300; ++i) {
    s.Add(Numbered(u"Stream", i * 7919 % 1000), PatternBytes(i * 37 % 9000, i));
  }
  s.builder.Scatter();
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(s.Build())) << Why(file);
  const std::vector<uint32_t>& chain = s.layout.At(u"Stream800").sectors;
  ASSERT_GE(chain.size(), 2u);
  EXPECT_NE(chain[1], chain[0] + 1) << "the builder did not scatter";
  ExpectStreams(file, s.streams);
  const std::vector<size_t>& children = file.RootChildren();
  ASSERT_EQ(children.size(), 300u);
  for (size_t i = 1; i < children.size(); ++i) {
    EXPECT_LT(CompareCompoundNames(file.Entries()[children[i - 1]].name, file.Entries()[children[i]].name), 0);
  }
}

TEST_P(CompoundRoundTrip, SameNameInDifferentStoragesAndEmptyStorage) {
  Sample s(GetParam());
  s.Add(u"A\\Data", PatternBytes(700, 1)).Add(u"B\\Data", PatternBytes(700, 2));
  s.Add(u"A\\Deep\\Deeper\\Data", PatternBytes(9000, 3));
  s.builder.AddStorage(u"Nothing");
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(s.Build())) << Why(file);
  ExpectStreams(file, s.streams);
  const std::optional<size_t> nothing = file.Find(u"nothing");
  ASSERT_TRUE(nothing.has_value());
  EXPECT_TRUE(file.Entries()[*nothing].IsStorage());
  EXPECT_TRUE(file.Entries()[*nothing].children.empty());
  EXPECT_FALSE(file.ReadStream(u"A").has_value());
  EXPECT_EQ(file.Error(), CompoundError::kNotAStream);
  EXPECT_FALSE(file.StreamSize(u"A\\Deep").has_value());
  EXPECT_EQ(file.Error(), CompoundError::kNotAStream);
  for (std::u16string_view bad : {u"A\\", u"\\A\\Data", u"A\\\\Data", u"A\\Dat", u"C\\Data"}) {
    EXPECT_FALSE(file.Find(bad).has_value()) << Narrow(bad);
  }
  EXPECT_FALSE(file.ReadStream(u"C\\Data").has_value());
  EXPECT_EQ(file.Error(), CompoundError::kNotFound);
}

TEST_P(CompoundRoundTrip, DegenerateTreesAreWalkedWithoutRecursion) {
  // Some writers chain siblings instead of balancing them; a long chain must still read.
  Sample s(GetParam());
  for (int i = 0; i < 3000; ++i) s.Add(Numbered(u"N", 10000 + i), PatternBytes(3, i));
  Bytes bytes = s.Build();
  std::vector<uint32_t> ids;
  for (size_t i = 1; i < s.layout.nodes.size(); ++i) ids.push_back(s.layout.nodes[i].id);  // name order
  Put32(bytes, s.layout.EntryOffset(0) + 76, ids.back());
  for (size_t i = 0; i < ids.size(); ++i) {
    Put32(bytes, s.layout.EntryOffset(ids[i]) + 68, i > 0 ? ids[i - 1] : kFree);
    Put32(bytes, s.layout.EntryOffset(ids[i]) + 72, kFree);
  }
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(bytes)) << Why(file);
  ASSERT_EQ(file.RootChildren().size(), ids.size());
  EXPECT_EQ(file.Entries()[file.RootChildren().front()].name, u"N10000");
  ExpectStreams(file, s.streams);
}

INSTANTIATE_TEST_SUITE_P(Versions, CompoundRoundTrip, ::testing::Values(3u, 4u),
                         [](const auto& info) { return std::to_string(info.param).insert(0, 1, 'V'); });

TEST(CompoundFile, DifatSectorsListTheFatBeyond109) {
  // Over 236 FAT sectors need two DIFAT sectors; scattered, they are not neighbours.
  Sample s(3);
  s.Add(u"Huge", PatternBytes(16'000'000, 9)).Add(u"After", PatternBytes(200, 10)).builder.Scatter();
  Bytes bytes = s.Build();
  ASSERT_GT(s.layout.fat_sectors.size(), 109u + 127u);
  ASSERT_EQ(s.layout.difat_sectors.size(), 2u);
  ASSERT_NE(s.layout.difat_sectors[1], s.layout.difat_sectors[0] + 1);
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(bytes)) << Why(file);
  ExpectStreams(file, s.streams);

  Bytes damaged = bytes;
  Put32(damaged, s.layout.SectorOffset(s.layout.difat_sectors[0]), 0x00FFFFFF);
  EXPECT_EQ(OpenError(damaged), CompoundError::kSectorOutOfRange);
  damaged = bytes;
  Put32(damaged, 68, kEnd);
  EXPECT_EQ(OpenError(damaged), CompoundError::kChainTooShort);
  damaged = bytes;
  Put32(damaged, 68, 0x7FFFFFFF);
  EXPECT_EQ(OpenError(damaged), CompoundError::kSectorOutOfRange);
}

// ---- Names -------------------------------------------------------------------------------------

TEST(CompoundFile, NamesAreFoundWithoutRegardToCase) {
  Sample s(3);
  s.Add(u"MyMacro.msd", PatternBytes(100, 1))
      .Add(u"\u00C4rger", PatternBytes(100, 2))
      .Add(u"\u0424\u0430\u0439\u043B", PatternBytes(100, 3));
  CompoundFile file;
  ASSERT_TRUE(file.OpenMemory(s.Build())) << Why(file);
  EXPECT_EQ(file.ReadStream(u"mymacro.MSD"), s.streams[u"MyMacro.msd"]);
  EXPECT_EQ(file.ReadStream(u"\u00E4RGER"), s.streams[u"\u00C4rger"]);
  EXPECT_EQ(file.ReadStream(u"\u0444\u0410\u0419\u041B"), s.streams[u"\u0424\u0430\u0439\u043B"]);
  EXPECT_FALSE(file.Find(u"MyMacro.ms").has_value());
  EXPECT_FALSE(file.Find(u"MyMacro.msdx").has_value());
  EXPECT_FALSE(file.Find(u"Arger").has_value());
}

TEST(CompoundFile, NameOrderIsLengthThenUpperCase) {
  EXPECT_LT(CompareCompoundNames(u"b", u"AA"), 0);
  EXPECT_EQ(CompareCompoundNames(u"abc", u"ABC"), 0);
  // Upper case puts '_' (0x5F) after 'B' (0x42); lower case would put it before 'b'.
  EXPECT_GT(CompareCompoundNames(u"a_", u"AB"), 0);
  EXPECT_LT(CompareCompoundNames(u"AB", u"a_"), 0);
  EXPECT_LT(CompareCompoundNames(u"\u00E9", u"\u00C9x"), 0);
  EXPECT_EQ(CompareCompoundNames(u"\u00E9t\u00E9", u"\u00C9T\u00C9"), 0);
}

TEST(CompoundFile, UpperCaseTable) {
  const std::pair<char16_t, char16_t> pairs[] = {
      {u'a', u'A'},     {u'z', u'Z'},     {u'{', u'{'},     {0x00E0, 0x00C0}, {0x00F7, 0x00F7}, {0x00FF, 0x0178},
      {0x00B5, 0x039C}, {0x0131, u'I'},   {0x017F, u'S'},   {0x0101, 0x0100}, {0x0100, 0x0100}, {0x013A, 0x0139},
      {0x0148, 0x0147}, {0x0149, 0x0149}, {0x017E, 0x017D}, {0x01C6, 0x01C4}, {0x03C2, 0x03A3}, {0x03AC, 0x0386},
      {0x03AF, 0x038A}, {0x03CE, 0x038F}, {0x044F, 0x042F}, {0x0451, 0x0401}, {0x0461, 0x0460}, {0x04CF, 0x04C0},
      {0x0561, 0x0531}, {0x1E81, 0x1E80}, {0x1F00, 0x1F08}, {0x2170, 0x2160}, {0x24D0, 0x24B6}, {0x2D00, 0x10A0},
      {0xAB70, 0x13A0}, {0xFF41, 0xFF21}, {0x00DF, 0x00DF}, {0xD801, 0xD801}, {0xDC28, 0xDC28}, {0x4E2D, 0x4E2D}};
  for (const auto& [lower, upper] : pairs) {
    EXPECT_EQ(int{CompoundUpper(lower)}, int{upper}) << std::hex << int{lower};
  }
  // Where every system agrees on upper case, ours must agree with the platform's.
  for (char16_t c = 1; c < 0x460; ++c) {
    const bool common = (c < 0x80) || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
                        (c >= 0x100 && c <= 0x17E && c != 0x131 && c != 0x138 && c != 0x149) ||
                        (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x410 && c <= 0x45F);
    if (common) {
      EXPECT_EQ(int{CompoundUpper(c)}, int{plat::ToUpper(std::u16string(1, c))[0]}) << std::hex << int{c};
    }
  }
}

// ---- Damaged files -------------------------------------------------------------------------------

TEST(CompoundFile, ShortDataAndHeaderFields) {
  Bytes v3 = Mixed(3).Build();
  Bytes v4 = Mixed(4).Build();
  for (size_t size : {0, 1, 8, 511})
    EXPECT_EQ(OpenError(Bytes(v3.begin(), v3.begin() + size)), CompoundError::kTruncated);
  for (size_t size : {512, 4095}) EXPECT_EQ(OpenError(Bytes(v4.begin(), v4.begin() + size)), CompoundError::kTruncated);
  for (size_t i = 0; i < 8; ++i) {
    Bytes bad = v3;
    bad[i] ^= 0x20;
    EXPECT_EQ(OpenError(bad), CompoundError::kBadSignature) << i;
  }
  struct Patch {
    Bytes* file;
    size_t at;
    uint32_t width;
    uint32_t value;
    CompoundError expected;
  };
  const Patch patches[] = {
      {&v3, 28, 2, 0xFEFF, CompoundError::kBadHeader},
      {&v3, 26, 2, 2, CompoundError::kBadVersion},
      {&v3, 26, 2, 5, CompoundError::kBadVersion},
      {&v3, 30, 2, 12, CompoundError::kBadVersion},
      {&v4, 30, 2, 9, CompoundError::kBadVersion},
      {&v3, 32, 2, 7, CompoundError::kBadHeader},
      {&v3, 56, 4, 4095, CompoundError::kBadHeader},
      {&v4, 56, 4, 8192, CompoundError::kBadHeader},
      {&v3, 44, 4, 0, CompoundError::kBadHeader},
      {&v3, 44, 4, 0x10000000, CompoundError::kBadHeader},
      {&v3, 76, 4, 0x00FFFFFF, CompoundError::kSectorOutOfRange},
      {&v4, 76, 4, kFree, CompoundError::kSectorOutOfRange},
      {&v3, 48, 4, 0x00FFFFFF, CompoundError::kSectorOutOfRange},
      {&v3, 48, 4, kFree, CompoundError::kSectorOutOfRange},
      {&v4, 48, 4, kEnd, CompoundError::kBadHeader},
  };
  for (const Patch& p : patches) {
    Bytes bad = *p.file;
    p.width == 2 ? Put16(bad, p.at, static_cast<uint16_t>(p.value)) : Put32(bad, p.at, p.value);
    EXPECT_EQ(OpenError(bad), p.expected) << "offset " << p.at << " = " << p.value;
  }
}

TEST(CompoundFile, CutFilesFailOrGiveTheRightBytes) {
  for (uint32_t version : {3u, 4u}) {
    Sample s = Mixed(version);
    const Bytes bytes = s.Build();
    const size_t step = version == 4 ? 509 : 61;
    for (size_t size = 0; size < bytes.size(); size += step) {
      CompoundFile file;
      if (!file.OpenMemory(bytes.data(), size)) continue;
      for (const auto& [path, data] : s.streams) {
        const std::optional<Bytes> got = file.ReadStream(path);
        if (got) {
          EXPECT_TRUE(*got == data) << Narrow(path) << " cut at " << size;
        }
      }
    }
    // Cutting into the data of the last sector spoils only the stream that ends there.
    ASSERT_EQ(s.layout.At(u"Docs\\Inner").sectors.back(), (bytes.size() - 1) / s.layout.sector_size - 1);
    CompoundFile file;
    ASSERT_TRUE(file.OpenMemory(bytes.data(), bytes.size() - s.layout.sector_size + 10)) << Why(file);
    EXPECT_FALSE(file.ReadStream(u"Docs\\Inner").has_value());
    EXPECT_EQ(file.Error(), CompoundError::kTruncated);
    EXPECT_EQ(file.ReadStream(u"Large"), s.streams[u"Large"]);
    EXPECT_EQ(file.ReadStream(u"Small"), s.streams[u"Small"]);
  }
}

TEST(CompoundFile, RegularChainFaults) {
  for (uint32_t version : {3u, 4u}) {
    Sample s = Mixed(version);
    const Bytes bytes = s.Build();
    const std::vector<uint32_t> chain = s.layout.At(u"Large").sectors;
    ASSERT_GE(chain.size(), 3u);
    const uint64_t entry = s.layout.EntryOffset(s.layout.At(u"Large").id);
    const std::pair<uint64_t, uint32_t> cases[] = {
        {s.layout.FatLinkOffset(chain.back()), chain.front()},  // loops back at the end
        {s.layout.FatLinkOffset(chain[1]), chain[0]},           // loops inside the size
        {s.layout.FatLinkOffset(chain[1]), 0x00FFFFFF},         // beyond the file
        {s.layout.FatLinkOffset(chain[1]), kFree},              // a free sector
        {entry + 116, 0x00FFFFFF},                              // starts beyond the file
        {s.layout.FatLinkOffset(chain[1]), kEnd},               // ends early
        {entry + 116, kEnd},                                    // no sectors at all
    };
    const CompoundError expected[] = {CompoundError::kChainLoop,        CompoundError::kChainLoop,
                                      CompoundError::kSectorOutOfRange, CompoundError::kSectorOutOfRange,
                                      CompoundError::kSectorOutOfRange, CompoundError::kChainTooShort,
                                      CompoundError::kChainTooShort};
    for (size_t i = 0; i < std::size(cases); ++i) {
      Bytes bad = bytes;
      Put32(bad, cases[i].first, cases[i].second);
      EXPECT_EQ(ReadError(bad, u"Large"), expected[i]) << "v" << version << " case " << i;
      CompoundFile file;
      ASSERT_TRUE(file.OpenMemory(bad));
      EXPECT_EQ(file.ReadStream(u"Docs\\Note"), s.streams[u"Docs\\Note"]) << "others still read";
    }
  }
}

TEST(CompoundFile, DirectoryChainLoopFailsTheOpen) {
  Sample s(3);
  for (int i = 0; i < 10; ++i) s.Add(Numbered(u"S", i), PatternBytes(10, i));
  Bytes bytes = s.Build();
  ASSERT_GE(s.layout.directory_sectors.size(), 2u);
  Put32(bytes, s.layout.FatLinkOffset(s.layout.directory_sectors.back()), s.layout.directory_sectors.front());
  EXPECT_EQ(OpenError(bytes), CompoundError::kChainLoop);
}

TEST(CompoundFile, MiniChainFaults) {
  Sample s = Mixed(3);
  const Bytes bytes = s.Build();
  const std::vector<uint32_t> chain = s.layout.At(u"Small").sectors;
  ASSERT_GE(chain.size(), 3u);
  const std::pair<uint32_t, CompoundError> cases[] = {
      {kEnd, CompoundError::kChainTooShort},
      {chain[0], CompoundError::kChainLoop},
      {static_cast<uint32_t>(s.layout.nodes[0].size / 64), CompoundError::kSectorOutOfRange},
  };
  for (const auto& [link, expected] : cases) {
    Bytes bad = bytes;
    Put32(bad, s.layout.MiniFatLinkOffset(chain[1]), link);
    EXPECT_EQ(ReadError(bad, u"Small"), expected) << link;
    CompoundFile file;
    ASSERT_TRUE(file.OpenMemory(bad));
    EXPECT_EQ(file.ReadStream(u"Tiny"), s.streams[u"Tiny"]);
  }

  // The mini stream itself cut short: small streams fail, regular ones still read.
  const std::vector<uint32_t>& container = s.layout.mini_stream_sectors;
  ASSERT_GE(container.size(), 2u);
  for (int way = 0; way < 2; ++way) {
    Bytes bad = bytes;
    if (way == 0) Put32(bad, s.layout.FatLinkOffset(container[0]), kEnd);
    if (way == 1) Put64(bad, s.layout.EntryOffset(0) + 120, uint64_t{container.size() + 1} * 512);
    CompoundFile file;
    ASSERT_TRUE(file.OpenMemory(bad)) << Why(file);
    EXPECT_FALSE(file.ReadStream(u"Docs\\Note").has_value());
    EXPECT_EQ(file.Error(), CompoundError::kChainTooShort) << way;
    EXPECT_FALSE(file.ReadStream(u"Tiny").has_value()) << "the failure is kept";
    EXPECT_EQ(file.ReadStream(u"Large"), s.streams[u"Large"]);
  }
}

TEST(CompoundFile, DirectoryEntryFaults) {
  for (uint32_t version : {3u, 4u}) {
    Sample s = Mixed(version);
    const Bytes bytes = s.Build();
    const uint32_t count = static_cast<uint32_t>(s.layout.directory_sectors.size() * (s.layout.sector_size / 128));
    const uint64_t small = s.layout.EntryOffset(s.layout.At(u"Small").id);
    const uint64_t docs = s.layout.EntryOffset(s.layout.At(u"Docs").id);
    const uint64_t root = s.layout.EntryOffset(0);
    struct Case {
      uint64_t at;
      uint32_t width;
      uint32_t value;
      CompoundError expected;
    };
    const Case cases[] = {
        {small + 64, 2, 66, CompoundError::kBadEntryName},
        {small + 64, 2, 7, CompoundError::kBadEntryName},
        {small + 64, 2, 0, CompoundError::kBadEntryName},
        {small + 64, 2, 2, CompoundError::kBadEntryName},
        {small + 64, 2, 8, CompoundError::kBadEntryName},  // "Sma", then 'l' where the NUL belongs
        {small + 2, 2, 0, CompoundError::kBadEntryName},   // a NUL inside the name
        {root + 64, 2, 65, CompoundError::kBadEntryName},
        {root + 76, 4, count + 3, CompoundError::kBadEntryId},
        {root + 76, 4, 0xFFFFFFFA, CompoundError::kBadEntryId},
        {docs + 68, 4, count, CompoundError::kBadEntryId},
        {docs + 72, 4, 0x12345678, CompoundError::kBadEntryId},
        {docs + 76, 4, 0, CompoundError::kDirectoryCycle},
        {docs + 76, 4, s.layout.At(u"Docs").id, CompoundError::kDirectoryCycle},
        {small + 72, 4, s.layout.At(u"Small").id, CompoundError::kDirectoryCycle},
        {small + 66, 1, 0, CompoundError::kBadEntryType},
        {small + 66, 1, 5, CompoundError::kBadEntryType},
        {root + 66, 1, 1, CompoundError::kBadEntryType},
        {small + 124, 4, 1, CompoundError::kBadStreamSize},  // the high half counts in version 4 only
        {small + 120, 4, static_cast<uint32_t>(bytes.size() + 1), CompoundError::kBadStreamSize},
        {root + 120, 4, static_cast<uint32_t>(bytes.size() + 64), CompoundError::kBadStreamSize},
    };
    for (const Case& c : cases) {
      Bytes bad = bytes;
      if (c.width == 1) bad.at(c.at) = static_cast<uint8_t>(c.value);
      if (c.width == 2) Put16(bad, c.at, static_cast<uint16_t>(c.value));
      if (c.width == 4) Put32(bad, c.at, c.value);
      if (version == 3 && c.at == small + 124) {
        // Version 3 readers ignore the high half of a size.
        CompoundFile file;
        ASSERT_TRUE(file.OpenMemory(bad)) << Why(file);
        EXPECT_EQ(file.ReadStream(u"Small"), s.streams[u"Small"]);
        continue;
      }
      EXPECT_EQ(OpenError(bad), c.expected) << "v" << version << " offset " << c.at << " = " << c.value;
    }
  }
}

TEST(CompoundFile, RandomDamageNeverGivesWrongSizes) {
  Sample s = Mixed(3);
  s.builder.Scatter();
  const Bytes bytes = s.Build();
  uint32_t state = 12345;
  auto next = [&]() { return state = state * 1103515245u + 12345u, state >> 8; };
  int opened = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes bad = bytes;
    for (uint32_t n = next() % 4 + 1; n > 0; --n) bad[next() % bad.size()] = static_cast<uint8_t>(next());
    CompoundFile file;
    if (!file.OpenMemory(bad)) continue;
    ++opened;
    for (size_t i = 0; i < file.Entries().size(); ++i) {
      const CompoundEntry& entry = file.Entries()[i];
      EXPECT_LE(entry.size, bad.size());
      if (!entry.IsStream()) continue;
      const std::optional<Bytes> got = file.ReadStreamAt(i);
      if (got) {
        EXPECT_EQ(got->size(), entry.size) << Narrow(file.PathOf(i));
      }
    }
  }
  EXPECT_GT(opened, 0);
}

TEST(CompoundFile, UnopenedAndReopened) {
  CompoundFile file;
  EXPECT_EQ(file.Error(), CompoundError::kNotOpen);
  EXPECT_FALSE(file.ReadStream(u"Small").has_value());
  EXPECT_EQ(file.Error(), CompoundError::kNotOpen);
  EXPECT_TRUE(file.RootChildren().empty());
  EXPECT_FALSE(file.Find(u"Small").has_value());

  Sample a(3), b(4);
  a.Add(u"First", PatternBytes(50, 1));
  b.Add(u"Second", PatternBytes(5000, 2));
  ASSERT_TRUE(file.OpenMemory(a.Build()));
  ASSERT_TRUE(file.OpenMemory(b.Build()));
  EXPECT_FALSE(file.Find(u"First").has_value());
  EXPECT_EQ(file.ReadStream(u"Second"), b.streams[u"Second"]);
  EXPECT_FALSE(file.ReadStreamAt(99).has_value());
  EXPECT_EQ(file.Error(), CompoundError::kNotFound);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(file.Entries().empty());
}

// ---- From files ------------------------------------------------------------------------------------

class CompoundFileOnDisk : public brankel_test::ScratchTest {};

TEST_F(CompoundFileOnDisk, ReadsAFileAndAWindowOfOne) {
  Sample s = Mixed(4);
  s.builder.Scatter();
  const Bytes bytes = s.Build();
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"plain.cfb"),
                                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
  CompoundFile file;
  ASSERT_TRUE(file.OpenFile(Path(u"plain.cfb"))) << Why(file);
  ExpectStreams(file, s.streams);

  // Inside a larger file, as an attachments area holds it.
  std::string framed(1234, 'x');
  framed.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  framed.append(777, 'y');
  ASSERT_TRUE(brankel_test::WriteBytes(Path(u"framed.bin"), framed));
  ASSERT_TRUE(file.OpenFile(Path(u"framed.bin"), 1234, bytes.size())) << Why(file);
  ExpectStreams(file, s.streams);
  ASSERT_EQ(s.layout.At(u"Large").sectors.back(), bytes.size() / 4096 - 2);
  ASSERT_TRUE(file.OpenFile(Path(u"framed.bin"), 1234, bytes.size() - 4000)) << Why(file);
  EXPECT_FALSE(file.ReadStream(u"Large").has_value()) << "the window's end is the file's end";
  EXPECT_FALSE(file.OpenFile(Path(u"framed.bin"), 1233));
  EXPECT_EQ(file.Error(), CompoundError::kBadSignature);

  EXPECT_FALSE(file.OpenFile(Path(u"missing.cfb")));
  EXPECT_EQ(file.Error(), CompoundError::kOpenFailed);
  EXPECT_EQ(file.SystemError(), plat::err::kFileNotFound);
}

}  // namespace
}  // namespace macro
