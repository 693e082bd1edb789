#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "app/res_string.h"
#include "macro/attachments.h"
#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "platform/unicode.h"
#include "support/attachment_builder.h"
#include "support/compound_builder.h"
#include "support/macro_builder.h"
#include "support/scratch.h"

namespace macro {
namespace {

using brankel_test::CompoundBuilder;
using brankel_test::MacroBuilder;
using brankel_test::ReadBytes;
using brankel_test::WriteBytes;

std::string Item(std::u16string_view name, std::u16string_view extension) {
  return brankel_test::AttachmentItemBytes(name, extension);
}
using brankel_test::AttachmentArea;
std::string Area(const std::vector<std::string>& items, const std::vector<uint8_t>& compound,
                 uint32_t magic = kAttachmentsMagic) {
  return AttachmentArea(items, compound, magic);
}
std::string WithFlag(std::string macro) { return brankel_test::WithAttachmentsFlag(std::move(macro)); }

class AttachmentsTest : public brankel_test::ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    host_ = WithFlag(MacroBuilder().Name(u"Host").Command(0x0101).Bytes());
    sub_ = MacroBuilder().Name(u"Original name").Command(0x0202, 1).ParamText(1, u"x").Bytes();
    notes_ = brankel_test::PatternBytes(6000, 3);
    compound_ = CompoundBuilder().AddStream(u"Sub.msd", sub_).AddStream(u"notes.txt", notes_).Build();
    ASSERT_FALSE(compound_.empty());
  }
  // Opens `bytes` as a macro file and reads its attachments into `manager`.
  int Read(const std::string& bytes, CAttachments_Manager& manager) {
    EXPECT_TRUE(WriteBytes(Path(u"host.msd"), bytes));
    CFile_Macro file;
    EXPECT_EQ(file.Open(Path(u"host.msd")), 1);
    return manager.ReadFromMacroFile(file.File(), file.Header());
  }
  std::u16string LastKey(const CAttachments_Manager& manager) {
    const ErrorRecord* record = manager.GetLastRecord();
    return record == nullptr ? u"" : record->text;
  }

  std::string host_, sub_;
  std::vector<uint8_t> notes_, compound_;
};

TEST_F(AttachmentsTest, NoAreaMeansNoItems) {
  CAttachments_Manager manager;
  std::string plain = host_;
  plain[10] = 0;
  EXPECT_EQ(Read(plain + Area({Item(u"a", u".txt")}, compound_), manager), 1);
  EXPECT_EQ(manager.Count(), 0u) << "flag clear";
  EXPECT_EQ(Read(host_ + std::string(19, 'x'), manager), 1);
  EXPECT_EQ(manager.Count(), 0u) << "fewer than 20 bytes after the macro";
  EXPECT_EQ(manager.RecordCount(), 0u);
}

TEST_F(AttachmentsTest, ReadsItemsAndStreams) {
  CAttachments_Manager manager;
  ASSERT_EQ(Read(host_ + Area({Item(u"Sub.msd", u".msd"), Item(u"NOTES.TXT", u".txt")}, compound_), manager), 1);
  ASSERT_EQ(manager.Count(), 2u);
  EXPECT_EQ(manager.Item(0)->Cleared4, 0u);
  EXPECT_EQ(manager.Item(0)->NameHash, app::KeyHash(u"sub.msd"));
  EXPECT_EQ(manager.Item(1)->NameHash, app::KeyHash(u"notes.txt")) << "the hash of the lower-cased name";
  EXPECT_EQ(manager.StreamName(1), u"NOTES.TXT") << "the name itself keeps its case";
  EXPECT_EQ(manager.Extension(0), u".msd");
  EXPECT_TRUE(plat::FileExists(manager.TempPath()));
  EXPECT_EQ(manager.TempPath().substr(plat::GetTempPath().size(), 3), u"~MA");

  ASSERT_TRUE(manager.ExtractStream(u"notes.txt", Path(u"notes.txt")));
  EXPECT_EQ(ReadBytes(Path(u"notes.txt")), std::string(notes_.begin(), notes_.end()));
  ASSERT_TRUE(manager.ExtractStream(u"Sub.msd", Path(u"sub.msd")));
  const std::string extracted = ReadBytes(Path(u"sub.msd"));
  ASSERT_EQ(extracted.size(), sub_.size());
  MacroFileHeader header;
  std::memcpy(&header, extracted.data(), sizeof header);
  EXPECT_EQ(plat::FixedText(header.MacroName, 128), u"Sub.msd") << "an attached macro is named after its stream";
  EXPECT_EQ(extracted.substr(300), sub_.substr(300));
  EXPECT_FALSE(manager.ExtractStream(u"missing", Path(u"x")));

  const std::u16string temp = manager.TempPath();
  EXPECT_EQ(manager.DeleteTempStorage(), 1);
  EXPECT_FALSE(plat::FileExists(temp));
  EXPECT_FALSE(manager.ExtractStream(u"notes.txt", Path(u"again.txt"))) << "no storage any more";
  EXPECT_EQ(manager.DeleteTempStorage(), 0);
}

TEST_F(AttachmentsTest, StreamsAreLookedUpInTheRootOnly) {
  const std::vector<uint8_t> compound =
      CompoundBuilder().AddStream(u"notes.txt", notes_).AddStream(u"Data\\inner.txt", "inner").Build();
  CAttachments_Manager manager;
  ASSERT_EQ(Read(host_ + Area({Item(u"Data\\inner.txt", u".txt"), Item(u"notes.txt", u".txt")}, compound), manager), 1);
  struct Case {
    const char16_t* name;
    bool found;
  };
  for (const Case& c :
       {Case{u"notes.txt", true}, Case{u"Data\\inner.txt", false}, Case{u"Data", false}, Case{u"\\notes.txt", false}}) {
    const std::string name = brankel_test::Narrow(c.name);
    plat::SetLastError(0);
    EXPECT_EQ(manager.ExtractStream(c.name, Path(u"out.bin")), c.found) << name;
    EXPECT_EQ(manager.StreamSize(c.name).has_value(), c.found) << name;
    if (!c.found) {
      EXPECT_EQ(plat::GetLastError(), plat::err::kFileNotFound) << name;
    }
  }
}

TEST_F(AttachmentsTest, SmallFilesAndLongNamesExtractSafely) {
  const std::string tiny = sub_.substr(0, 4632);
  // The longest name a compound file holds (31 characters) still fits the macro name.
  const std::u16string long_name = std::u16string(27, u'n') + u".msd";
  const std::vector<uint8_t> compound =
      CompoundBuilder().AddStream(u"tiny.msd", tiny).AddStream(long_name, sub_).Build();
  CAttachments_Manager manager;
  ASSERT_EQ(Read(host_ + Area({Item(u"tiny.msd", u".msd"), Item(long_name, u".msd")}, compound), manager), 1);
  ASSERT_TRUE(manager.ExtractStream(u"tiny.msd", Path(u"tiny.msd")));
  EXPECT_EQ(ReadBytes(Path(u"tiny.msd")), tiny) << "a file of at most 4632 bytes is left as stored";
  ASSERT_TRUE(manager.ExtractStream(long_name, Path(u"long.msd")));
  MacroFileHeader header;
  std::memcpy(&header, ReadBytes(Path(u"long.msd")).data(), sizeof header);
  EXPECT_EQ(plat::FixedText(header.MacroName, 128), long_name);
  EXPECT_EQ(header.EditorText[0], 0) << "nothing written past the name field";
}

TEST_F(AttachmentsTest, WritingBackPutsTheAreaAfterTheMacro) {
  CAttachments_Manager manager;
  ASSERT_EQ(Read(host_ + Area({Item(u"Sub.msd", u".msd"), Item(u"notes.txt", u".txt")}, compound_), manager), 1);
  // A rewritten copy of the macro, with a longer tail that must go.
  ASSERT_TRUE(WriteBytes(Path(u"copy.msd"), host_ + std::string(100000, 'T')));
  const char16_t* key = nullptr;
  uint32_t code = 0;
  ASSERT_EQ(manager.WriteToMacroFile(Path(u"copy.msd"), &key, &code), 1);
  const std::string written = ReadBytes(Path(u"copy.msd"));
  ASSERT_EQ(written.size(), host_.size() + 20 + 2 * 1920 + compound_.size());
  EXPECT_EQ(written.substr(0, host_.size()), host_);
  uint32_t head[5];
  std::memcpy(head, written.data() + host_.size(), sizeof head);
  EXPECT_EQ(head[0], kAttachmentsMagic);
  EXPECT_EQ(head[1], 256u);
  EXPECT_EQ(head[2], 2u);
  EXPECT_EQ(head[3], 2 * 1920 + compound_.size());
  EXPECT_EQ(head[4], 2u * 1920);
  for (int i = 0; i < 2; ++i) {
    const size_t item = host_.size() + 20 + i * 1920;
    EXPECT_EQ(written.substr(item + 1396, 520), std::string(520, '\0')) << i;
    EXPECT_EQ(written.substr(item + 1916, 4), std::string(4, '\x5C')) << "carried bytes stay";
  }
  EXPECT_EQ(written.substr(written.size() - compound_.size()), std::string(compound_.begin(), compound_.end()));
  // The storage is open again afterwards.
  EXPECT_TRUE(manager.ExtractStream(u"notes.txt", Path(u"after.txt")));
  // And the written file reads back the same.
  CAttachments_Manager again;
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"copy.msd")), 1);
  ASSERT_EQ(again.ReadFromMacroFile(file.File(), file.Header()), 1);
  EXPECT_EQ(again.Count(), 2u);
}

TEST_F(AttachmentsTest, WriteFailuresSayWhy) {
  CAttachments_Manager manager;
  ASSERT_EQ(Read(host_ + Area({Item(u"notes.txt", u".txt")}, compound_), manager), 1);
  const char16_t* key = nullptr;
  uint32_t code = 0;
  EXPECT_EQ(manager.WriteToMacroFile(Path(u"missing.msd"), &key, &code), 0);
  EXPECT_EQ(std::u16string(key), u"IDS_ERR_ATTACHMENTS_TMP_OPEN");
  EXPECT_EQ(code, plat::err::kFileNotFound);
  ASSERT_TRUE(WriteBytes(Path(u"short.msd"), host_.substr(0, 100)));
  EXPECT_EQ(manager.WriteToMacroFile(Path(u"short.msd"), &key, &code), 0);
  EXPECT_EQ(std::u16string(key), u"IDS_ERR_FILEFORMAT");
  EXPECT_EQ(ReadBytes(Path(u"short.msd")), host_.substr(0, 100));
}

TEST_F(AttachmentsTest, BadAreasAreRefused) {
  const auto expect_bad = [&](const std::string& bytes, const char* why) {
    CAttachments_Manager manager;
    EXPECT_EQ(Read(bytes, manager), 0) << why;
    EXPECT_EQ(LastKey(manager), u"IDS_ERR_ATTACHMENTS_BAD") << why;
    EXPECT_EQ(manager.GetLastCode(), kErrAttachmentsBad) << why;
    EXPECT_EQ(manager.TempPath(), u"") << why;
  };
  expect_bad(host_ + Area({Item(u"a", u".txt")}, compound_, 0x12345678), "magic");
  std::string cut = host_ + Area({Item(u"a", u".txt")}, compound_);
  expect_bad(cut.substr(0, cut.size() - 1), "rest runs past the file");
  std::string inverted = host_ + Area({Item(u"a", u".txt")}, compound_);
  const uint32_t huge_table = 0xFFFFFF00u;
  std::memcpy(inverted.data() + host_.size() + 16, &huge_table, 4);
  expect_bad(inverted, "table larger than the area");
}

TEST_F(AttachmentsTest, CountBeyondTheTableIsDropped) {
  std::string bytes = host_ + Area({Item(u"notes.txt", u".txt")}, compound_);
  const uint32_t count = 5;
  std::memcpy(bytes.data() + host_.size() + 8, &count, 4);
  CAttachments_Manager manager;
  EXPECT_EQ(Read(bytes, manager), 1);
  EXPECT_EQ(manager.Count(), 0u);
  EXPECT_TRUE(manager.ExtractStream(u"notes.txt", Path(u"n.txt"))) << "the table and storage were still read";
}

TEST_F(AttachmentsTest, DamagedCompoundFileIsRecorded) {
  std::vector<uint8_t> damaged = compound_;
  damaged[0] = 0;
  auto manager = std::make_unique<CAttachments_Manager>();
  EXPECT_EQ(Read(host_ + Area({Item(u"notes.txt", u".txt")}, damaged), *manager), 0);
  EXPECT_EQ(LastKey(*manager), u"IDS_ERR_ATTACHMENTS_OPEN_TEMP");
  const std::u16string temp = manager->TempPath();
  ASSERT_FALSE(temp.empty());
  EXPECT_TRUE(plat::FileExists(temp));
  manager.reset();
  EXPECT_FALSE(plat::FileExists(temp)) << "the temporary file goes with its manager";
}

TEST_F(AttachmentsTest, MemoryReadMatchesTheFileRead) {
  const auto with = [](std::string bytes, size_t at, uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
    return bytes;
  };
  std::vector<uint8_t> damaged = compound_;
  damaged[0] = 0;
  const std::string good = host_ + Area({Item(u"Sub.msd", u".msd"), Item(u"notes.txt", u".txt")}, compound_);
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"good", good},
      {"no area", host_ + std::string(19, 'x')},
      {"magic", host_ + Area({Item(u"a", u".txt")}, compound_, 0x12345678)},
      {"rest past the file", good.substr(0, good.size() - 1)},
      {"table larger than the area", with(good, host_.size() + 16, 0xFFFFFF00u)},
      {"count beyond the table", with(good, host_.size() + 8, 5)},
      {"no compound file", host_ + Area({Item(u"a", u".txt")}, {})},
      {"damaged compound file", host_ + Area({Item(u"notes.txt", u".txt")}, damaged)},
  };
  // What a reader of the area can see: result, key, items, and the streams they name.
  const auto outcome = [this](CAttachments_Manager& manager, int result) {
    std::string out =
        std::to_string(result) + " " + brankel_test::Narrow(LastKey(manager)) + " " + std::to_string(manager.Count());
    for (uint32_t i = 0; i < manager.Count(); ++i) {
      out += " " + std::string(reinterpret_cast<const char*>(manager.Item(i)), kAttachmentItemSize);
      const std::optional<uint64_t> size = manager.StreamSize(manager.StreamName(i));
      out += size ? std::to_string(*size) : "none";
    }
    return out;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CAttachments_Manager from_file;
    const std::string file_outcome = outcome(from_file, Read(c.bytes, from_file));
    CFile_Macro file;
    ASSERT_EQ(file.OpenMemory(plat::ByteView(c.bytes)), 1);
    CAttachments_Manager from_memory;
    EXPECT_EQ(outcome(from_memory, from_memory.ReadFromMacroMemory(file.Memory(), file.Header())), file_outcome);
    EXPECT_EQ(from_memory.TempPath(), u"") << "nothing goes through a temporary file";
  }
  CFile_Macro file;
  ASSERT_EQ(file.OpenMemory(plat::ByteView(good)), 1);
  CAttachments_Manager manager;
  ASSERT_EQ(manager.ReadFromMacroMemory(file.Memory(), file.Header()), 1);
  ASSERT_TRUE(manager.ExtractStream(u"notes.txt", Path(u"notes.txt")));
  EXPECT_EQ(ReadBytes(Path(u"notes.txt")), std::string(notes_.begin(), notes_.end()));
}

TEST(ItemBuffer, ReserveKeepsItemsAndGetItemChecksBounds) {
  CAttachments_Manager buffer;
  EXPECT_EQ(buffer.GetItem(0), nullptr);
  ASSERT_TRUE(buffer.EnsureCapacity(2));
  EXPECT_EQ(buffer.Capacity(), 2u);
  EXPECT_EQ(buffer.GetItem(0), nullptr) << "nothing counted yet";
  if (sizeof(size_t) == 4) {
    // 2236963 items of 1920 bytes are 1664 bytes past 4 GiB: no block, not a wrapped one.
    EXPECT_FALSE(buffer.EnsureCapacity(2236963));
    EXPECT_EQ(buffer.Capacity(), 2u);
  }
  buffer.Free();
  EXPECT_EQ(buffer.Capacity(), 0u);
}

class ChunkCopyTest : public brankel_test::ScratchTest {};

TEST_F(ChunkCopyTest, CopiesInChunksAndReportsFailures) {
  const std::vector<uint8_t> data = brankel_test::PatternBytes(10000, 9);
  ASSERT_TRUE(WriteBytes(Path(u"from"), std::string(data.begin(), data.end())));
  for (uint64_t chunk : {uint64_t{1}, uint64_t{333}, uint64_t{0}, uint64_t{1} << 40}) {
    plat::FileHandle from =
        plat::OpenFile(Path(u"from"), plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
    plat::FileHandle to = plat::OpenFile(Path(u"to"), plat::kGenericWrite, 0, plat::Disposition::kCreateAlways);
    plat::SeekFile(from, 100, plat::SeekOrigin::kBegin, nullptr);
    EXPECT_EQ(CopyFileChunks(from, to, 0, chunk), 0);
    plat::CloseFile(from);
    plat::CloseFile(to);
    EXPECT_EQ(ReadBytes(Path(u"to")), std::string(data.begin() + 100, data.end())) << chunk;
  }
  plat::FileHandle from =
      plat::OpenFile(Path(u"from"), plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  plat::FileHandle reader =
      plat::OpenFile(Path(u"to"), plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  EXPECT_EQ(CopyFileChunks(from, reader, 50), 2) << "the target cannot be written";
  EXPECT_EQ(CopyFileChunks(reader, from, 1u << 20), 1) << "the source ends first";
  plat::CloseFile(from);
  plat::CloseFile(reader);
}

}  // namespace
}  // namespace macro
