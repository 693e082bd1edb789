// The two payloads byte by byte against the layout the player and the stub read, the plans'
// refusals of what cannot be laid out, the readers' refusals of damaged sections, and
// sections written and read back.
#include "packager/payload.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "platform/platform.h"
#include "support/needs_md5.h"

namespace packager {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& b, size_t at) { return plat::ByteView(b).U32Or(at, 0xDEADBEEF); }
std::u16string Text(const Bytes& b, size_t at, size_t units) { return plat::ByteView(b).Utf16z(at, units); }
bool AllZero(const Bytes& b, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

// A plan's section filled as the build fills it: header, then each record's head, its data
// (`data[i]`) and, for payload B, the digest of the padded data.
Bytes WriteA(const project::MakeExeOptions& options, uint32_t count, const std::vector<Bytes>& data,
             const std::vector<std::u16string>& names) {
  std::vector<PlannedRecord> records;
  for (size_t i = 0; i < data.size(); ++i) records.push_back({kEntryMacroFile, data[i].size(), names[i]});
  const PayloadPlan plan = PlanPayloadA(records);
  EXPECT_EQ(plan.refusal, "");
  Bytes section(plan.total_size, 0);
  EXPECT_TRUE(PutPayloadAHeader(section, options, count, u"Main.msd"));
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_TRUE(PutPayloadARecordHead(section, plan.records[i]));
    std::copy(data[i].begin(), data[i].end(), section.begin() + plan.records[i].offset + kFileRecordHeadSize);
  }
  return section;
}

Bytes WriteB(const std::vector<Bytes>& data, const std::vector<std::u16string>& names, const Bytes& language) {
  std::vector<PlannedRecord> records;
  for (size_t i = 0; i < data.size(); ++i) records.push_back({uint8_t(i % 3), data[i].size(), names[i]});
  const PayloadPlan plan = PlanPayloadB(records, static_cast<uint32_t>(language.size()));
  EXPECT_EQ(plan.refusal, "");
  Bytes section(plan.total_size, 0);
  EXPECT_TRUE(PutPayloadBHeader(section, plan, 1, true, u"Tool.exe", language));
  for (size_t i = 0; i < data.size(); ++i) {
    const size_t at = plan.records[i].offset + kFileRecordHeadSize;
    std::copy(data[i].begin(), data[i].end(), section.begin() + at);
    const Md5Digest digest = plat::Md5(section.data() + at, *FileRecordSpan(data[i].size()) - kFileRecordHeadSize);
    EXPECT_TRUE(PutPayloadBRecordHead(section, plan.records[i], digest));
  }
  return section;
}

std::unique_ptr<project::MakeExeOptions> PatternOptions() {
  auto options = std::make_unique<project::MakeExeOptions>();
  auto* bytes = reinterpret_cast<uint8_t*>(options.get());
  for (size_t i = 0; i < sizeof *options; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return options;
}

TEST(PayloadTest, RecordSpansRaiseToEightAndStopAt32Bits) {
  const struct {
    uint64_t size;
    std::optional<uint32_t> span;
  } cases[] = {{0, 552},          {1, 560},          {8, 560}, {9, 568}, {0xFFFFFDD0u, 0xFFFFFFF8u},
               {0xFFFFFDD1u, {}}, {0x100000000u, {}}};
  for (const auto& c : cases) EXPECT_EQ(FileRecordSpan(c.size), c.span) << c.size;
}

TEST(PayloadTest, PayloadAHeaderAndRecordHeadAtTheirOffsets) {
  const auto options = PatternOptions();
  const auto* record = reinterpret_cast<const uint8_t*>(options.get());
  Bytes section(0x4000 + 560, 0xCC);
  ASSERT_TRUE(PutPayloadAHeader(section, *options, 5, u"Main.msd"));
  EXPECT_EQ(U32(section, 0), 0x0000414Du);
  EXPECT_EQ(section[4], 0x00);
  EXPECT_EQ(section[5], 0x40);
  EXPECT_EQ(U32(section, 8), 5u);
  EXPECT_EQ(Text(section, 28, 260), u"Main.msd");
  EXPECT_TRUE(AllZero(section, 28 + 18, 28 + 520));
  // Everything else is the options record from its byte 16 on, up to 12552.
  for (size_t at : {6u, 7u, 12u, 27u, 548u, 808u, 12551u}) EXPECT_EQ(section[at], record[at + 16]) << at;
  EXPECT_TRUE(AllZero(section, 12552, 0x4000));
  EXPECT_EQ(section[0x4000], 0xCC);  // the header stops at the first record

  PlannedRecord head{kEntryLanguageFile, 5, u" Sub\\Macro.MSD ", 0x4000};
  ASSERT_TRUE(PutPayloadARecordHead(section, head));
  const Bytes expect_start = {4, 1, 0, 0, 5, 0, 0, 0};
  EXPECT_EQ(Bytes(section.begin() + 0x4000, section.begin() + 0x4008), expect_start);
  EXPECT_EQ(U32(section, 0x4008), app::KeyHash(u"sub\\macro.msd"));
  EXPECT_EQ(Text(section, 0x4000 + 12, 260), u" Sub\\Macro.MSD ");
  EXPECT_TRUE(AllZero(section, 0x4000 + 12 + 32, 0x4000 + 552));
  EXPECT_EQ(section[0x4000 + 552], 0xCC);  // the data is the caller's

  EXPECT_FALSE(PutPayloadAHeader(plat::MutableByteView(section.data(), 0x3FFF), *options, 5, u"x"));
  head.offset = 0x4000 + 9;
  EXPECT_FALSE(PutPayloadARecordHead(section, head));
}

TEST(PayloadTest, PayloadBHeaderAndRecordHeadAtTheirOffsets) {
  BRANKEL_SKIP_WITHOUT_MD5();
  const Bytes language = {'L', 'A', 'N', 'G', 'X'};
  const Bytes section = WriteB({{'a', 'b', 'c', 'd', 'e'}}, {u"data\\x.txt"}, language);
  ASSERT_EQ(section.size(), 296u + 560u);
  EXPECT_EQ(U32(section, 0), 0x0000464Du);
  EXPECT_EQ(U32(section, 4), 1u);
  EXPECT_EQ(U32(section, 8), 856u);
  EXPECT_EQ(U32(section, 12), 296u);
  EXPECT_EQ(U32(section, 16), 5u);
  EXPECT_EQ(section[20], 1);
  EXPECT_EQ(section[21], 1);
  EXPECT_TRUE(AllZero(section, 22, 28));
  EXPECT_EQ(Text(section, 28, 130), u"Tool.exe");
  EXPECT_TRUE(AllZero(section, 28 + 18, 288));
  EXPECT_EQ(Bytes(section.begin() + 288, section.begin() + 293), language);
  EXPECT_TRUE(AllZero(section, 293, 296));

  const size_t head = 296;
  EXPECT_EQ(section[head], 0);  // kind
  EXPECT_TRUE(AllZero(section, head + 1, head + 4));
  EXPECT_EQ(U32(section, head + 4), 5u);
  EXPECT_TRUE(AllZero(section, head + 8, head + 12));
  EXPECT_EQ(Text(section, head + 12, 260), u"data\\x.txt");
  const uint8_t padded[8] = {'a', 'b', 'c', 'd', 'e', 0, 0, 0};
  const Md5Digest digest = plat::Md5(padded, sizeof padded);
  EXPECT_EQ(Bytes(section.begin() + head + 532, section.begin() + head + 548), Bytes(digest.begin(), digest.end()));
  EXPECT_TRUE(AllZero(section, head + 548, head + 552));
}

TEST(PayloadTest, PlansRefuseWhatTheirTablesAndSectionsCannotHold) {
  auto many = [](size_t count, uint64_t size) { return std::vector<PlannedRecord>(count, {0, size, u"f"}); };
  const struct {
    const char* name;
    std::function<PayloadPlan()> plan;
    const char* refusal;  // a part of the reason; empty: accepted
    uint32_t total;
  } cases[] = {
      {"260 A records", [&] { return PlanPayloadA(many(260, 0)); }, "", 0x4000 + 260 * 552},
      {"261 A records", [&] { return PlanPayloadA(many(261, 0)); }, "261 files to pack, but at most 260", 0},
      {"512 B records", [&] { return PlanPayloadB(many(512, 1), 0); }, "", 288 + 512 * 560},
      {"513 B records", [&] { return PlanPayloadB(many(513, 1), 0); }, "513 files to pack, but at most 512", 0},
      {"size past 32 bits", [&] { return PlanPayloadA(many(1, 0x100000000u)); }, "more than a 32-bit size", 0},
      {"total past the limit", [&] { return PlanPayloadB(many(2, 0x3FFFFF00u), 0); }, "up to record 1 need", 0},
      {"language file past the limit", [&] { return PlanPayloadB({}, 0xFFFFFFF0u); }, "header and language file", 0},
      {"name too long",
       [&] {
         return PlanPayloadA({{3, 1, std::u16string(260, u'n')}});
       },
       "260 characters", 0},
      {"language file", [&] { return PlanPayloadB(many(1, 9), 5); }, "", 296 + 568},
  };
  for (const auto& c : cases) {
    const PayloadPlan plan = c.plan();
    if (*c.refusal == '\0') {
      EXPECT_EQ(plan.refusal, "") << c.name;
      EXPECT_EQ(plan.total_size, c.total) << c.name;
    } else {
      EXPECT_NE(plan.refusal.find(c.refusal), std::string::npos) << c.name << ": " << plan.refusal;
      EXPECT_TRUE(plan.records.empty()) << c.name;
    }
  }
}

TEST(PayloadTest, ReadersRefuseDamagedSections) {
  const auto options = PatternOptions();
  const Bytes a = WriteA(*options, 3, {{'m', 'a', 'c'}, Bytes(20, 'x')}, {u"a.msd", u"b.msd"});
  const Bytes b = WriteB({{'f', 'i', 'l', 'e'}, Bytes(9, 'y')}, {u"one", u"two"}, {'L'});
  const uint32_t b2 = 296 + 560;  // where payload B's second record starts
  auto put32 = [](Bytes& s, size_t at, uint32_t v) { plat::MutableByteView(s).Put32(at, v); };
  const struct {
    const char* name;
    bool payload_a;
    std::function<void(Bytes&)> damage;
    const char* reason;
  } cases[] = {
      {"A bad magic", true, [&](Bytes& s) { s[1] = 'F'; }, "not the magic 0x414D"},
      {"A first record outside", true, [&](Bytes& s) { plat::MutableByteView(s).Put16(4, 0xFFF0); },
       "first record at 0xFFF0 lies past the section's end"},
      {"A first record in the header", true, [&](Bytes& s) { plat::MutableByteView(s).Put16(4, 0x100); },
       "lies inside the header"},
      {"A count too large", true, [&](Bytes& s) { put32(s, 8, 513); }, "count 513 is larger than a macro list"},
      {"A more records than the count", true, [&](Bytes& s) { put32(s, 8, 1); },
       "record 1 at 0x4230 is beyond the count of 1"},
      {"A record past the section", true, [&](Bytes& s) { put32(s, 0x4230 + 4, 25); },
       "record 1 at 0x4230 of 25 bytes runs past the section"},
      {"A truncated head", true, [&](Bytes& s) { s.resize(0x4230 + 100); },
       "record 1 at 0x4230 has a head that runs past the section"},
      {"A name without terminator", true,
       [&](Bytes& s) { std::fill(s.begin() + 0x4000 + 12, s.begin() + 0x4000 + 532, 'n'); },
       "record 0 at 0x4000 has a name without a terminator"},
      {"A hash not of the name", true, [&](Bytes& s) { s[0x4000 + 12] = 'z'; }, "record 0 at 0x4000 carries"},
      {"A unknown type", true, [&](Bytes& s) { s[0x4230] = 9; }, "record 1 at 0x4230 has the type 9"},
      {"A script name without terminator", true, [&](Bytes& s) { std::fill(s.begin() + 28, s.begin() + 548, 'n'); },
       "script name at 0x1C has no terminator"},
      {"A short section", true, [&](Bytes& s) { s.resize(100); }, "fewer than the 12552"},
      {"B bad magic", false, [&](Bytes& s) { s[0] = 0; }, "not the magic 0x464D"},
      {"B total past the section", false, [&](Bytes& s) { put32(s, 8, uint32_t(s.size() + 1)); },
       "passes the section's"},
      {"B first record outside", false, [&](Bytes& s) { put32(s, 12, 304); }, "first record at 0x130 does not follow"},
      {"B count too large", false, [&](Bytes& s) { put32(s, 4, 3); }, "count 3 is too large"},
      {"B record size past the total", false, [&](Bytes& s) { put32(s, b2 + 4, 17); },
       "record 1 at 0x358 of 17 bytes runs past the total size"},
      {"B records short of the total", false, [&](Bytes& s) { put32(s, b2 + 4, 1); },
       "records end at 0x588, but the total size says 0x590"},
      {"B truncated head", false, [&](Bytes& s) { put32(s, 296 + 4, 560); },
       "record 1 at 0x580 has a head that runs past the total size"},
      {"B name without terminator", false, [&](Bytes& s) { std::fill(s.begin() + b2 + 12, s.begin() + b2 + 532, 'n'); },
       "record 1 at 0x358 has a target name without a terminator"},
      {"B unknown kind", false, [&](Bytes& s) { s[296] = 3; }, "record 0 at 0x128 has the unknown file kind 3"},
  };
  for (const auto& c : cases) {
    Bytes section = c.payload_a ? a : b;
    c.damage(section);
    std::string refusal;
    const bool read =
        c.payload_a ? ReadPayloadA(section, &refusal).has_value() : ReadPayloadB(section, &refusal).has_value();
    EXPECT_FALSE(read) << c.name;
    EXPECT_NE(refusal.find(c.reason), std::string::npos) << c.name << ": " << refusal;
  }
}

TEST(PayloadTest, WrittenPayloadsReadBack) {
  const auto options = PatternOptions();
  // Count 4 over 2 records: user-added macros are counted but not packed. The section's
  // file alignment adds zeros after the last record.
  Bytes a = WriteA(*options, 4, {{'m', 'a', 'c'}, Bytes(20, 'x')}, {u"a.msd", u"Sub\\B.msd"});
  a.resize(a.size() + 0x200, 0);
  std::string refusal;
  const std::optional<PayloadA> read_a = ReadPayloadA(a, &refusal);
  ASSERT_TRUE(read_a) << refusal;
  EXPECT_EQ(read_a->macro_count, 4u);
  EXPECT_EQ(read_a->script_name, u"Main.msd");
  EXPECT_EQ(read_a->options.size(), kPlayerOptionsSize);
  ASSERT_EQ(read_a->records.size(), 2u);
  EXPECT_EQ(read_a->records[1].name, u"Sub\\B.msd");
  EXPECT_EQ(read_a->records[1].type, kEntryMacroFile);
  EXPECT_EQ(Bytes(read_a->records[1].data.begin(), read_a->records[1].data.end()), Bytes(20, 'x'));
  EXPECT_EQ(read_a->records[0].data.size(), 3u);

  const Bytes b = WriteB({{'f'}, {}, Bytes(9, 'y')}, {u"one", u"dir\\two", u"three"}, {'L', 'N'});
  const std::optional<PayloadB> read_b = ReadPayloadB(b, &refusal);
  ASSERT_TRUE(read_b) << refusal;
  EXPECT_EQ(read_b->total_size, b.size());
  EXPECT_EQ(read_b->first_record, 296u);
  EXPECT_EQ(read_b->run_mode, 1);
  EXPECT_TRUE(read_b->web_installer);
  EXPECT_EQ(read_b->exe_name, u"Tool.exe");
  EXPECT_EQ(Bytes(read_b->language_file.begin(), read_b->language_file.end()), Bytes({'L', 'N'}));
  ASSERT_EQ(read_b->records.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(read_b->records[i].kind, i);
  EXPECT_EQ(read_b->records[1].target_name, u"dir\\two");
  EXPECT_EQ(read_b->records[1].size, 0u);
  EXPECT_EQ(read_b->records[2].padded.size(), 16u);
  EXPECT_EQ(Bytes(read_b->records[2].data.begin(), read_b->records[2].data.end()), Bytes(9, 'y'));
  if (plat::kHasMd5) {
    for (const PayloadBRecord& r : read_b->records) EXPECT_EQ(plat::Md5(r.padded.data(), r.padded.size()), r.digest);
  }
}

}  // namespace
}  // namespace packager
