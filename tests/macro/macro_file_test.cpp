#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "support/macro_builder.h"
#include "support/scratch.h"

namespace macro {
namespace {

using brankel_test::MacroBuilder;
using brankel_test::PackedBlock;
using brankel_test::PackedFileWith;
using brankel_test::ParamRecordBytes;
using brankel_test::ReadBytes;
using brankel_test::WriteBytes;
using brankel_test::ZeroRunStream;
using Bytes = std::vector<uint8_t>;

std::u16string ErrorKey() {
  const char16_t* key = GetMacroFileError(nullptr);
  return key == nullptr ? u"" : key;
}

MacroBuilder Sample() {
  MacroBuilder builder;
  builder.Name(u"Sample")
      .Command(0x0101)
      .Command(0x0202, 0)
      .Command(0x0303, 5, kCommandDisabled)
      .ParamText(0, u"C:\\data\\file.txt")
      .Param(5, Bytes(300, 0x41))
      .NamedItem(u"first")
      .NamedItem(u"second", 0xF3);
  return builder;
}

class MacroFileTest : public brankel_test::ScratchTest {
 protected:
  // Opens and reads all three blocks, checking they match the builder's.
  void ExpectReadsBack(const MacroBuilder& builder, std::u16string_view path) {
    CFile_Macro file;
    ASSERT_EQ(file.Open(path), 1) << brankel_test::Narrow(ErrorKey());
    const MacroCommand* commands = nullptr;
    ASSERT_EQ(file.ReadCommands(&commands), 1) << brankel_test::Narrow(ErrorKey());
    const Bytes expected_commands = builder.CommandBlock();
    ASSERT_EQ(file.Header().CommandCount * sizeof(MacroCommand), expected_commands.size());
    if (!expected_commands.empty()) {
      EXPECT_EQ(std::memcmp(commands, expected_commands.data(), expected_commands.size()), 0);
    }
    uint8_t* params = nullptr;
    ASSERT_EQ(file.GetParamBlock(&params), 1);
    const Bytes expected_params = builder.ParamBlock();
    ASSERT_EQ(file.Header().ParamBlockSize, expected_params.size());
    if (!expected_params.empty()) {
      EXPECT_EQ(std::memcmp(params, expected_params.data(), expected_params.size()), 0);
      EXPECT_EQ(ParamRecordId(plat::ByteView(params + expected_params.size(), kParamTerminatorSize)), kNoParamId)
          << "terminator placed";
    }
    ASSERT_EQ(file.LoadNamedItems(), 1);
    EXPECT_EQ(file.Header().NamedItemCount, builder.NamedItems().size());
    for (size_t i = 0; i < builder.NamedItems().size(); ++i) {
      EXPECT_EQ(std::memcmp(file.NamedItems()[i].Name, builder.NamedItems()[i].Name, 128), 0);
    }
    EXPECT_EQ(HeaderPassword(file.Header()), HeaderPassword(builder.Header()));
    EXPECT_EQ(std::memcmp(file.Header().MacroName, builder.Header().MacroName, 256), 0);
  }
};

TEST_F(MacroFileTest, ReadsBuiltFilesInEveryForm) {
  for (bool packed : {false, true}) {
    for (const char16_t* password : {u"", u"pw\u00e9!"}) {
      MacroBuilder builder = Sample();
      builder.Packed(packed).Password(password);
      const std::u16string path = Path(u"sample.msd");
      ASSERT_TRUE(builder.WriteTo(path));
      SCOPED_TRACE(packed ? "packed" : "plain");
      SCOPED_TRACE(brankel_test::Narrow(password));
      ExpectReadsBack(builder, path);
    }
  }
}

TEST_F(MacroFileTest, WriteThenReadRoundTrips) {
  for (bool packed : {false, true}) {
    for (const char16_t* password : {u"", u"secret"}) {
      for (size_t items : {size_t{0}, size_t{256}}) {
        MacroBuilder builder = Sample();
        builder.Packed(packed).Password(password);
        MacroBuilder named;
        for (size_t i = 0; i < items; ++i) named.NamedItem(u"item" + plat::AsciiToUtf16(std::to_string(i)));
        const MacroFileHeader header = [&] {
          MacroFileHeader h = builder.Header();
          h.NamedItemCount = static_cast<uint16_t>(items);
          return h;
        }();
        const std::u16string path = Path(u"written.msd");
        const Bytes params = builder.ParamBlock();
        ASSERT_EQ(WriteMacroFile(path, builder.Commands().data(), params.data(),
                                 items ? named.NamedItems().data() : nullptr, header),
                  1);
        CFile_Macro file;
        ASSERT_EQ(file.Open(path), 1);
        EXPECT_EQ(file.Header().Scrambled, password[0] != 0 ? 1 : 0);
        EXPECT_EQ(file.Header().Packed, packed ? 1 : 0);
        EXPECT_EQ(HeaderPassword(file.Header()), password);
        const MacroCommand* commands = nullptr;
        ASSERT_EQ(file.ReadCommands(&commands), 1);
        EXPECT_EQ(std::memcmp(commands, builder.Commands().data(), builder.Commands().size() * 24), 0);
        EXPECT_EQ(file.Header().ParamBlockSize, params.size());
        EXPECT_EQ(std::memcmp(file.Params(), params.data(), params.size()), 0);
        ASSERT_EQ(file.LoadNamedItems(), 1);
        ASSERT_EQ(file.Header().NamedItemCount, items);
        if (items == 256) {
          EXPECT_EQ(std::u16string(u"item255"),
                    std::u16string(reinterpret_cast<const char16_t*>(file.NamedItems()[255].Name)).substr(0, 7));
        }
        uint64_t size = 0;
        plat::FileHandle raw =
            plat::OpenFile(path, plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
        plat::GetFileSize(raw, &size);
        plat::CloseFile(raw);
        EXPECT_EQ(size, file.Header().TotalSize) << "no gaps, nothing after the blocks";
      }
    }
  }
}

TEST_F(MacroFileTest, WriterKeepsCallerBlocksAndCapsNamedItems) {
  MacroBuilder builder = Sample();
  builder.Password(u"key").Packed();
  MacroBuilder named;
  for (int i = 0; i < 300; ++i) named.NamedItem(u"n");
  MacroFileHeader header = builder.Header();
  header.NamedItemCount = 300;
  Bytes params = builder.ParamBlock();
  const Bytes params_before = params;
  const Bytes commands_before = builder.CommandBlock();
  ASSERT_EQ(
      WriteMacroFile(Path(u"capped.msd"), builder.Commands().data(), params.data(), named.NamedItems().data(), header),
      1);
  EXPECT_EQ(params, params_before);
  EXPECT_EQ(builder.CommandBlock(), commands_before);
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"capped.msd")), 1);
  EXPECT_EQ(file.Header().NamedItemCount, 256);
  EXPECT_EQ(file.LoadNamedItems(), 1);
  EXPECT_EQ(file.Header().NamedItemCount, 256);
}

TEST_F(MacroFileTest, WriterWithoutBlocksZeroesTheirCounts) {
  MacroFileHeader header = Sample().Header();
  ASSERT_EQ(WriteMacroFile(Path(u"empty.msd"), nullptr, nullptr, nullptr, header), 1);
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"empty.msd")), 1);
  EXPECT_EQ(file.Header().CommandCount, 0u);
  EXPECT_EQ(file.Header().ParamBlockSize, 0u);
  EXPECT_EQ(file.Header().NamedItemCount, 0);
  EXPECT_EQ(file.Header().TotalSize, kHeaderSize);
  EXPECT_EQ(file.Header().ParamBlockOffset, kHeaderSize);
}

TEST_F(MacroFileTest, FailedWriteLeavesNoTemporaryFile) {
  const auto count_temporaries = [] {
    size_t count = 0;
    plat::FindData data;
    if (plat::FindHandle find = plat::FindFirstFile(plat::GetTempPath() + u"$tm*.tmp", &data)) {
      do ++count;
      while (plat::FindNextFile(find, &data));
      plat::FindClose(find);
    }
    return count;
  };
  const size_t before = count_temporaries();
  MacroBuilder builder = Sample();
  const Bytes params = builder.ParamBlock();
  EXPECT_EQ(WriteMacroFile(Path(u"no\\such\\folder.msd"), builder.Commands().data(), params.data(), nullptr,
                           builder.Header()),
            0);
  EXPECT_EQ(plat::GetLastError(), plat::err::kPathNotFound);
  EXPECT_EQ(count_temporaries(), before);
}

TEST_F(MacroFileTest, HeaderFailures) {
  const std::string good = Sample().Bytes();
  CFile_Macro file;
  ASSERT_TRUE(WriteBytes(Path(u"short.msd"), good.substr(0, 4631)));
  EXPECT_EQ(file.Open(Path(u"short.msd")), 0);
  int32_t code = 0;
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_FILEFORMAT");
  GetMacroFileError(&code);
  EXPECT_EQ(code, kErrFileFormat);

  std::string bad_magic = good;
  bad_magic[0] = 'X';
  ASSERT_TRUE(WriteBytes(Path(u"magic.msd"), bad_magic));
  EXPECT_EQ(file.Open(Path(u"magic.msd")), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_FILEFORMAT");

  std::string lower = good;
  std::memcpy(lower.data(), "vl_ma", 5);
  ASSERT_TRUE(WriteBytes(Path(u"lower.msd"), lower));
  EXPECT_EQ(file.Open(Path(u"lower.msd")), 1);

  // Version 259 is upgraded first; these bytes are no version-259 file, so the upgrade
  // refuses them as a damaged one.
  for (uint16_t version : {uint16_t{257}, uint16_t{259}, uint16_t{513}}) {
    std::string old = good;
    std::memcpy(old.data() + 8, &version, 2);
    ASSERT_TRUE(WriteBytes(Path(u"old.msd"), old));
    CFile_Macro other;
    EXPECT_EQ(other.Open(Path(u"old.msd")), 0);
    EXPECT_EQ(ErrorKey(), version == 259 ? u"IDS_ERR_BADFILE" : u"IDS_ERR_FILEVERSION") << version;
    EXPECT_EQ(ReadBytes(Path(u"old.msd")), old) << "the file is left as it was";
  }

  ASSERT_TRUE(WriteBytes(Path(u"cut.msd"), good.substr(0, good.size() - 1)));
  EXPECT_EQ(file.Open(Path(u"cut.msd")), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");

  EXPECT_EQ(file.Open(Path(u"missing.msd")), 0);
  EXPECT_EQ(ErrorKey(), u"") << "a file that will not open leaves only the system's error";
  EXPECT_EQ(plat::GetLastError(), plat::err::kFileNotFound);
  EXPECT_EQ(HeaderPassword(file.Header()), u"") << "failed opens keep the earlier state";
  EXPECT_NE(file.File(), nullptr);
}

// Everything a reader can learn from a file, in one text: what each call returned and the
// key it left, and the blocks' bytes. The file and the memory reader must agree on it.
std::string ReadOutcome(CFile_Macro& file, int opened) {
  std::string out = "open " + std::to_string(opened) + " " + brankel_test::Narrow(ErrorKey());
  if (opened != 1) return out;
  const MacroCommand* commands = nullptr;
  out += "; commands " + std::to_string(file.ReadCommands(&commands)) + " " + brankel_test::Narrow(ErrorKey());
  if (commands != nullptr) {
    out += " " + std::string(reinterpret_cast<const char*>(commands), file.Header().CommandCount * kCommandSize);
  }
  uint8_t* params = nullptr;
  out += "; params " + std::to_string(file.GetParamBlock(&params)) + " " + brankel_test::Narrow(ErrorKey());
  out += " " + std::to_string(file.Header().ParamBlockSize);
  if (params != nullptr) {
    out += " " + std::string(reinterpret_cast<const char*>(params), file.Header().ParamBlockSize + kParamSpare);
  }
  out += "; items " + std::to_string(file.LoadNamedItems()) + " " + brankel_test::Narrow(ErrorKey());
  out += " " + std::to_string(file.Header().NamedItemCount);
  if (file.NamedItems() != nullptr) {
    out += " " + std::string(reinterpret_cast<const char*>(file.NamedItems()), kMaxNamedItems * kNamedItemSize);
  }
  out += "; password " + brankel_test::Narrow(HeaderPassword(file.Header()));
  return out;
}

TEST_F(MacroFileTest, MemoryReaderMatchesTheFileReaderOnDamagedFiles) {
  const auto with = [](std::string bytes, size_t at, uint32_t value, size_t width = 4) {
    std::memcpy(bytes.data() + at, &value, width);
    return bytes;
  };
  const std::string plain = Sample().Password(u"pw").Bytes();
  const std::string packed = Sample().Packed().Password(u"pw").Bytes();
  MacroFileHeader head;
  std::memcpy(&head, packed.data(), sizeof head);
  MacroBuilder missing;
  missing.Command(0x0101, 4).Param(3, Bytes(4, 1));
  std::string bad_magic = plain;
  bad_magic[1] = 'X';
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"plain", plain},
      {"packed", packed},
      {"empty", ""},
      {"header cut", plain.substr(0, kHeaderSize - 1)},
      {"bad magic", bad_magic},
      {"older version", with(plain, 8, 257, 2)},
      {"newer version", with(plain, 8, 513, 2)},
      {"file shorter than its total", plain.substr(0, plain.size() - 1)},
      {"plain command count beyond the file", with(plain, 16, 0xFFFFFFFFu)},
      {"packed commands expanding short", with(packed, 16, head.CommandCount + 1)},
      {"packed command length beyond the file", with(packed, head.CommandBlockOffset, 0x7FFFFFF0u)},
      {"packed param length beyond the file", with(packed, head.ParamBlockOffset, 0x7FFFFFF0u)},
      {"param block beyond the file", with(plain, 20, 0x00FFFFFFu)},
      {"param offset beyond the file", with(plain, 28, 0x7FFFFFF0u)},
      {"named items beyond the file", with(packed, kHeaderSize, static_cast<uint32_t>(packed.size()))},
      {"too many named items", with(plain, 12, 257, 2)},
      {"record missing", missing.Bytes()},
      {"packed params not a stream", with(packed, head.ParamBlockOffset + 4, 0x12345678u)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteBytes(Path(u"case.msd"), c.bytes));
    CFile_Macro from_file;
    const std::string file_outcome = ReadOutcome(from_file, from_file.Open(Path(u"case.msd")));
    CFile_Macro from_memory;
    const std::string memory_outcome = ReadOutcome(from_memory, from_memory.OpenMemory(plat::ByteView(c.bytes)));
    EXPECT_EQ(memory_outcome, file_outcome);
  }
  // Memory was copied: the reader does not depend on the caller's buffer.
  std::string bytes = plain;
  CFile_Macro file;
  ASSERT_EQ(file.OpenMemory(plat::ByteView(bytes)), 1);
  std::fill(bytes.begin(), bytes.end(), '\0');
  EXPECT_EQ(file.ReadCommands(nullptr), 1);
  EXPECT_EQ(file.Memory().size(), plain.size());
}

TEST_F(MacroFileTest, CheckMacroFileSize) {
  const std::string good = Sample().Bytes();
  MacroFileHeader header{};
  char16_t key[260] = {};
  uint16_t version = 0;
  ASSERT_TRUE(WriteBytes(Path(u"ok.msd"), good));
  EXPECT_EQ(CheckMacroFileSize(Path(u"ok.msd"), &header, key, &version), 1);
  EXPECT_EQ(version, 512);
  ASSERT_TRUE(WriteBytes(Path(u"short.msd"), good.substr(0, good.size() - 10)));
  EXPECT_EQ(CheckMacroFileSize(Path(u"short.msd"), &header, key, &version), 0);
  EXPECT_EQ(std::u16string(key), u"IDS_ERR_FILEFORMAT");
  // The file is closed again: it can be deleted at once.
  EXPECT_TRUE(plat::DeleteFile(Path(u"short.msd")));
}

TEST_F(MacroFileTest, CommandsAndTheirRecords) {
  // 0xFFFF as a stored id means none.
  MacroBuilder builder;
  builder.Command(0x0101, 0xFFFF).Command(0x0102, 3).Param(3, Bytes(4, 1));
  ASSERT_TRUE(builder.WriteTo(Path(u"ids.msd")));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"ids.msd")), 1);
  const MacroCommand* commands = nullptr;
  ASSERT_EQ(file.ReadCommands(&commands), 1);
  EXPECT_EQ(commands[0].ParamId, kNoParamId);

  // A command naming a record that is not there makes the file bad, disabled or not.
  MacroBuilder missing;
  missing.Command(0x0101, 4, kCommandDisabled).Param(3, Bytes(4, 1));
  ASSERT_TRUE(missing.WriteTo(Path(u"missing.msd")));
  CFile_Macro bad;
  ASSERT_EQ(bad.Open(Path(u"missing.msd")), 1);
  EXPECT_EQ(bad.ReadCommands(&commands), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");
}

TEST_F(MacroFileTest, NoFileOpen) {
  CFile_Macro file;
  uint8_t* block = nullptr;
  // A closed object has no commands to read; blocks ask for a file.
  EXPECT_EQ(file.ReadCommands(nullptr), 1);
  MacroFileHeader& header = file.Header();
  header.ParamBlockSize = 10;
  EXPECT_EQ(file.GetParamBlock(&block), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_FILEOPEN");
  header.NamedItemCount = 1;
  EXPECT_EQ(file.LoadNamedItems(), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_FILEOPEN");
}

TEST_F(MacroFileTest, OversizedBlockLengths) {
  std::string bytes = Sample().Packed().Bytes();
  MacroFileHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  // The parameter stream's length claims more than the file.
  std::string params_bad = bytes;
  const uint32_t huge = 0x7FFFFFF0u;
  std::memcpy(params_bad.data() + header.ParamBlockOffset, &huge, 4);
  ASSERT_TRUE(WriteBytes(Path(u"p.msd"), params_bad));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"p.msd")), 1);
  uint8_t* block = nullptr;
  EXPECT_EQ(file.GetParamBlock(&block), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_NOTENOUGHMEM");
  // The same for commands is a bad file.
  std::string commands_bad = bytes;
  std::memcpy(commands_bad.data() + header.CommandBlockOffset, &huge, 4);
  ASSERT_TRUE(WriteBytes(Path(u"c.msd"), commands_bad));
  ASSERT_EQ(file.Open(Path(u"c.msd")), 1);
  EXPECT_EQ(file.ReadCommands(nullptr), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");
  // A plain command count far beyond the file.
  std::string count_bad = Sample().Bytes();
  const uint32_t many = 0xFFFFFFFFu;
  std::memcpy(count_bad.data() + 16, &many, 4);
  ASSERT_TRUE(WriteBytes(Path(u"n.msd"), count_bad));
  ASSERT_EQ(file.Open(Path(u"n.msd")), 1);
  EXPECT_EQ(file.ReadCommands(nullptr), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");
}

TEST_F(MacroFileTest, PackedCommandsExpandingShortAreRefusedForGood) {
  MacroBuilder builder = Sample();
  builder.Packed();
  std::string bytes = builder.Bytes();
  // Claim one command more than the stream holds.
  const uint32_t more = builder.Header().CommandCount + 1;
  std::memcpy(bytes.data() + 16, &more, 4);
  ASSERT_TRUE(WriteBytes(Path(u"short.msd"), bytes));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"short.msd")), 1);
  const MacroCommand* commands = nullptr;
  EXPECT_EQ(file.ReadCommands(&commands), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");
  EXPECT_EQ(file.ReadCommands(&commands), 0) << "a failed unpacking is not retried, nor taken for empty";
  EXPECT_EQ(commands, nullptr);
}

// Packed blocks whose streams claim more than the block can use are refused before the
// claim is allocated. The parameter stream's claim wraps a 32-bit size_t with the spare
// bytes; on any width it is beyond what a file's 32-bit sizes can hold.
TEST_F(MacroFileTest, PackedClaimsBeyondTheBlockAreRefused) {
  const bool narrow = sizeof(size_t) == 4;
  MacroBuilder three;
  three.Packed().Command(1).Command(2).Command(3);
  std::string extra_command = three.Bytes();
  const uint32_t two = 2;
  std::memcpy(extra_command.data() + 16, &two, 4);
  struct Case {
    const char* why;
    std::string bytes;
    const char16_t* key;
    bool only_narrow = false;
  };
  const Case cases[] = {
      {"commands: a record more than the count", extra_command, u"IDS_ERR_BADFILE"},
      {"parameters: 0xFFFFFFFC bytes", PackedFileWith(PackedBlock::kParams, ZeroRunStream(0xFFFFFFFCu)),
       u"IDS_ERR_BADFILE"},
      {"parameters: more than a 32-bit process can have",
       PackedFileWith(PackedBlock::kParams, ZeroRunStream(0xF0000000u)), u"IDS_ERR_NOTENOUGHMEM", true},
  };
  for (const Case& c : cases) {
    if (c.only_narrow && !narrow) continue;
    ASSERT_TRUE(WriteBytes(Path(u"claim.msd"), c.bytes)) << c.why;
    CFile_Macro file;
    ASSERT_EQ(file.Open(Path(u"claim.msd")), 1) << c.why;
    uint8_t* block = nullptr;
    EXPECT_EQ(file.Header().CommandCount != 0 ? file.ReadCommands(nullptr) : file.GetParamBlock(&block), 0) << c.why;
    EXPECT_EQ(ErrorKey(), c.key) << c.why;
    EXPECT_EQ(file.Commands(), nullptr) << c.why;
    EXPECT_EQ(file.Params(), nullptr) << c.why;
  }
}

#if defined(__SANITIZE_ADDRESS__)
#define BRANKEL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRANKEL_TEST_ASAN 1
#endif
#endif

#if defined(BRANKEL_TEST_ASAN)
constexpr const char* kNoAddressLimit = "AddressSanitizer reserves far more address space than any limit would leave";
#elif !defined(__linux__)
constexpr const char* kNoAddressLimit = "the address space limit needs fork and setrlimit";
#else
constexpr const char* kNoAddressLimit = nullptr;

// In a child process: limits the address space to what is in use plus `spare_bytes`,
// then exits 0 when `read` says the reader failed as it should.
template <typename Read>
[[noreturn]] void ReadUnderLimit(const Read& read, size_t spare_bytes) {
  unsigned long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  rlimit limit{};
  if (pages == 0 || getrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
  const rlim_t wanted = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + spare_bytes;
  if (limit.rlim_max == RLIM_INFINITY || wanted < limit.rlim_max) limit.rlim_cur = wanted;
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
  std::_Exit(read() ? 0 : 1);
}
#endif

// Runs `read` in a child process that cannot have `spare_bytes` more address space than
// it has: an exception out of the reader ends the child by a signal instead.
template <typename Read>
void ExpectUnderMemoryLimit(const Read& read, size_t spare_bytes) {
#if defined(BRANKEL_TEST_ASAN) || !defined(__linux__)
  (void)read, (void)spare_bytes;
#else
  EXPECT_EXIT(ReadUnderLimit(read, spare_bytes), ::testing::ExitedWithCode(0), "");
#endif
}

// Claims the process cannot allocate end in the layer's key, never in an exception: the
// command and parameter claims are believable and within their limits, the named-item
// claim is refused by its limit without being allocated.
TEST_F(MacroFileTest, ClaimsThatCannotBeAllocatedAreAnErrorNotACrash) {
  if (kNoAddressLimit != nullptr) GTEST_SKIP() << kNoAddressLimit;
  constexpr uint32_t kClaim = 256u << 20;
  constexpr size_t kRoom = 64u << 20;
  const Bytes stream = ZeroRunStream(kClaim);
  ASSERT_TRUE(WriteBytes(Path(u"p.msd"), PackedFileWith(PackedBlock::kParams, stream)));
  constexpr uint32_t kCommands = kClaim / kCommandSize;
  ASSERT_TRUE(WriteBytes(Path(u"c.msd"),
                         PackedFileWith(PackedBlock::kCommands, ZeroRunStream(kCommands * kCommandSize), kCommands)));
  ASSERT_TRUE(WriteBytes(Path(u"n.msd"), PackedFileWith(PackedBlock::kNamedItems, stream, 2)));
  const auto opened = [this](const char16_t* name, CFile_Macro& file) { return file.Open(Path(name)) == 1; };
  ExpectUnderMemoryLimit(
      [&] {
        CFile_Macro file;
        return opened(u"p.msd", file) && file.GetParamBlock(nullptr) == 0 && ErrorKey() == u"IDS_ERR_NOTENOUGHMEM";
      },
      kRoom);
  ExpectUnderMemoryLimit(
      [&] {
        CFile_Macro file;
        return opened(u"c.msd", file) && file.ReadCommands(nullptr) == 0 && ErrorKey() == u"IDS_ERR_NOTENOUGHMEM";
      },
      kRoom);
  ExpectUnderMemoryLimit(
      [&] {
        CFile_Macro file;
        return opened(u"n.msd", file) && file.LoadNamedItems() == 1 && ErrorKey() == u"IDS_ERR_BADFILE" &&
               file.Header().NamedItemCount == 0;
      },
      kRoom);
}

TEST_F(MacroFileTest, NamedItemsLongerThanTheFileAreRefusedNotDropped) {
  std::string bytes = Sample().Packed().Bytes();
  const uint32_t beyond = static_cast<uint32_t>(bytes.size());  // more than TotalSize - 4632
  std::memcpy(bytes.data() + kHeaderSize, &beyond, 4);
  ASSERT_TRUE(WriteBytes(Path(u"long.msd"), bytes));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"long.msd")), 1);
  EXPECT_EQ(file.LoadNamedItems(), 0);
  EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");
  EXPECT_EQ(file.Header().NamedItemCount, 2) << "the count stays, so no copy goes without the table";
  EXPECT_EQ(file.NamedItems(), nullptr);
}

TEST_F(MacroFileTest, NamedItemsNormalisedAndBadTablesDropped) {
  MacroBuilder builder = Sample();
  ASSERT_TRUE(builder.WriteTo(Path(u"items.msd")));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"items.msd")), 1);
  ASSERT_EQ(file.LoadNamedItems(), 1);
  EXPECT_EQ(file.NamedItems()[0].Kinds5, 0x10);
  EXPECT_EQ(file.NamedItems()[1].Kinds5, 0x23) << "high nibble 15 becomes 2";
  EXPECT_EQ(file.NamedItems()[2].Editor0, 0);

  for (bool packed : {false, true}) {
    std::string bytes = Sample().Packed(packed).Bytes();
    const uint16_t too_many = 257;
    std::memcpy(bytes.data() + 12, &too_many, 2);
    ASSERT_TRUE(WriteBytes(Path(u"many.msd"), bytes));
    CFile_Macro many;
    ASSERT_EQ(many.Open(Path(u"many.msd")), 1);
    EXPECT_EQ(many.LoadNamedItems(), 1) << "the macro goes on without named items";
    EXPECT_EQ(many.Header().NamedItemCount, 0);
    EXPECT_EQ(ErrorKey(), u"IDS_ERR_BADFILE");
    EXPECT_EQ(many.ReadCommands(nullptr), 1) << "the rest of the file still reads";
  }
}

TEST_F(MacroFileTest, SetParamRecordAppendsWithANewIdAndRemovesTheOld) {
  MacroBuilder builder;
  builder.Command(1, 0)
      .Command(2, 1)
      .Command(3, 2)
      .Param(0, Bytes(2, 0xA0))
      .Param(1, Bytes(3, 0xA1))
      .Param(2, Bytes(4, 0xA2));
  ASSERT_TRUE(builder.WriteTo(Path(u"set.msd")));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"set.msd")), 1);
  ASSERT_EQ(file.ReadCommands(nullptr), 1);
  Bytes same = ParamRecordBytes(1, Bytes(3, 0xEE));
  EXPECT_EQ(file.SetParamRecord(1, plat::MutableByteView(same)), 1);
  EXPECT_EQ(ParamRecordId(plat::ByteView(same)), 1) << "same size: left to the caller, nothing moves";

  Bytes bigger = ParamRecordBytes(1, Bytes(10, 0xB1));
  EXPECT_EQ(file.SetParamRecord(1, plat::MutableByteView(bigger.data(), bigger.size() - 1)), 0)
      << "a view shorter than its head says";
  ASSERT_EQ(file.SetParamRecord(1, plat::MutableByteView(bigger)), 1);
  EXPECT_EQ(ParamRecordId(plat::ByteView(bigger)), 3);
  const uint8_t* block = file.Params();
  const Bytes expected = [&] {
    Bytes b = ParamRecordBytes(0, Bytes(2, 0xA0));
    for (const Bytes& r : {ParamRecordBytes(2, Bytes(4, 0xA2)), ParamRecordBytes(3, Bytes(10, 0xB1))}) {
      b.insert(b.end(), r.begin(), r.end());
    }
    return b;
  }();
  ASSERT_EQ(file.Header().ParamBlockSize, expected.size());
  EXPECT_EQ(Bytes(block, block + expected.size()), expected);
  EXPECT_EQ(ParamRecordId(plat::ByteView(block + expected.size(), kParamTerminatorSize)), kNoParamId);
  EXPECT_TRUE(FindParamRecord(1, file.ParamView()).empty());
  EXPECT_EQ(file.SetParamRecord(1, plat::MutableByteView(bigger)), 0) << "the old id is gone";
}

TEST_F(MacroFileTest, SetParamRecordNeverReusesAnIdInUse) {
  MacroBuilder builder;
  builder.Command(1, 1).Command(2, 0).Param(1, Bytes(2, 1)).Param(0, Bytes(2, 2)).Param(2, Bytes(2, 3));
  ASSERT_TRUE(builder.WriteTo(Path(u"order.msd")));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"order.msd")), 1);
  ASSERT_EQ(file.ReadCommands(nullptr), 1);
  Bytes bigger = ParamRecordBytes(0, Bytes(8, 9));
  ASSERT_EQ(file.SetParamRecord(0, plat::MutableByteView(bigger)), 1);
  EXPECT_EQ(ParamRecordId(plat::ByteView(bigger)), 3) << "ids 0, 1 and 2 were all taken";
  const plat::ByteView found = FindParamRecord(3, file.ParamView());
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(ParamRecordSize(found), 8u);
  EXPECT_EQ(ParamRecordSize(FindParamRecord(1, file.ParamView())), 2u);
}

// A terminator inside the block ends every walk there: a grown record put after it would
// be lost to the reader, so it goes in front of it and the rest stays behind, as it was.
TEST_F(MacroFileTest, SetParamRecordPlacesTheRecordBeforeATerminatorInsideTheBlock) {
  MacroBuilder builder;
  builder.Command(1, 0).Param(0, Bytes(2, 0xA0)).Param(kNoParamId, Bytes(3, 0xFE)).Param(1, Bytes(3, 0xA1));
  ASSERT_TRUE(builder.WriteTo(Path(u"inner.msd")));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"inner.msd")), 1);
  ASSERT_EQ(file.ReadCommands(nullptr), 1);
  const Bytes before(file.Params(), file.Params() + file.Header().ParamBlockSize);
  Bytes bigger = ParamRecordBytes(0, Bytes(10, 0xB0));
  ASSERT_EQ(file.SetParamRecord(0, plat::MutableByteView(bigger)), 1);
  const plat::ByteView found = FindParamRecord(ParamRecordId(plat::ByteView(bigger)), file.ParamView());
  ASSERT_FALSE(found.empty()) << "the grown record is reachable";
  EXPECT_EQ(Bytes(found.begin(), found.end()), bigger);
  const Bytes after(file.Params(), file.Params() + file.Header().ParamBlockSize);
  const size_t old_record = 4 + 2;
  ASSERT_EQ(after.size(), before.size() - old_record + bigger.size());
  EXPECT_EQ(Bytes(after.begin() + bigger.size(), after.end()), Bytes(before.begin() + old_record, before.end()))
      << "what lies past the terminator is kept";
}

TEST_F(MacroFileTest, PlainBlockWithItsTerminatorReadsTheSame) {
  MacroBuilder builder = Sample();
  builder.WithTerminator();
  ASSERT_TRUE(builder.WriteTo(Path(u"term.msd")));
  CFile_Macro file;
  ASSERT_EQ(file.Open(Path(u"term.msd")), 1);
  ASSERT_EQ(file.ReadCommands(nullptr), 1);
  EXPECT_EQ(file.Header().ParamBlockSize, builder.ParamBlock().size() - kParamTerminatorSize);
}

}  // namespace
}  // namespace macro

namespace macro {
namespace {

// The index answers every id as the walk does: the first of a repeated id, nothing past a
// record of size 0, and a last record whose size runs past the block cut to the block.
TEST(ParamRecordIndexTest, FindsWhatTheWalkFinds) {
  Bytes block;
  for (const Bytes& r : {ParamRecordBytes(5, Bytes(2, 0x55)), ParamRecordBytes(7, Bytes(3, 0x77)),
                         ParamRecordBytes(5, Bytes(1, 0x56)), ParamRecordBytes(8, Bytes(4, 0x88))}) {
    block.insert(block.end(), r.begin(), r.end());
  }
  Bytes cut = block;
  cut.resize(cut.size() - 2);  // the last record's payload runs past the block
  Bytes stopped = ParamRecordBytes(9, {});
  const Bytes after = ParamRecordBytes(11, Bytes(2, 0x11));
  stopped.insert(stopped.begin(), block.begin(), block.begin() + 6);  // record 5, then a size-0 record
  stopped.insert(stopped.end(), after.begin(), after.end());
  for (const Bytes& bytes : {block, cut, stopped}) {
    const plat::ByteView view(bytes);
    const ParamRecordIndex index(view);
    for (uint16_t id : {uint16_t{5}, uint16_t{7}, uint16_t{8}, uint16_t{9}, uint16_t{11}, uint16_t{1}, kNoParamId}) {
      const plat::ByteView walked = FindParamRecord(id, view);
      const plat::ByteView indexed = index.Find(id);
      EXPECT_EQ(indexed.data(), walked.data()) << "id " << id << " of a block of " << bytes.size();
      EXPECT_EQ(indexed.size(), walked.size()) << "id " << id << " of a block of " << bytes.size();
    }
  }
}

}  // namespace
}  // namespace macro
