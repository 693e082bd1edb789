// What both upgrade targets share: a small input laid over a zeroed old-version file (an
// old file is far longer than a fuzzer's inputs), the invariants of the version-259 step's
// result, and the file-level upgrade run on the file in a scratch root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "macro/legacy_upgrade.h"
#include "macro/macro_file.h"
#include "macro/macro_format.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/testing.h"

namespace fuzz {

// A broken invariant names itself before the trap: the file-level checks depend on the
// disk as well as the input, so a crash must say which one failed.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "upgrade invariant broken: %s\n", what);
  __builtin_trap();
}

// A file of `size` zero bytes with the magic and `version`; the first input bytes go to
// the header's counts, sizes, offsets and flags (12 to 39), then one by one to the header
// offsets in `extra` (text fields and the bytes that steer them); the rest of the input
// follows the file's fixed part at `size`.
inline std::vector<uint8_t> LayOver(plat::ByteView input, uint16_t version, uint32_t size,
                                    std::initializer_list<uint32_t> extra) {
  std::vector<uint8_t> file(size, 0);
  const plat::MutableByteView bytes(file);
  bytes.CopyFrom(0, plat::ByteView(std::string_view("VL_MA")));
  bytes.Put16(8, version);
  size_t used = 0;
  for (uint32_t at = 12; at < 40 && used < input.size(); ++at) bytes.Put8(at, input.U8Or(used++, 0));
  for (const uint32_t at : extra) {
    if (used < input.size()) bytes.Put8(at, input.U8Or(used++, 0));
  }
  const plat::ByteView rest = input.From(used);
  file.insert(file.end(), rest.begin(), rest.end());
  return file;
}

// A version-512 macro made by the second step must be one the reader and the writer can
// take: its counts agree with its tables, and every reference names a record that lies
// wholly inside the block.
inline void CheckUpgraded(const macro::UpgradedMacro& m) {
  const macro::MacroFileHeader& h = m.header;
  Require(h.Version == macro::kMacroVersion && h.NamedItemCount <= macro::kMaxNamedItems &&
              m.named_items.size() == macro::kMaxNamedItems && m.commands.size() == h.CommandCount &&
              m.params.size() >= uint64_t{h.ParamBlockSize} + macro::kParamSpare,
          "the header's counts and sizes match the tables");
  const plat::ByteView block = plat::ByteView(m.params).First(h.ParamBlockSize);
  for (const macro::MacroCommand& command : m.commands) {
    if (command.ParamId == macro::kNoParamId) continue;
    const plat::ByteView record = macro::FindParamRecord(command.ParamId, block);
    Require(!record.empty() && record.data() >= block.data() && record.end() <= block.end() &&
                record.size() == macro::kParamHeadSize + uint64_t{macro::ParamRecordSize(record)},
            "every reference names a record wholly inside the block");
  }
}

// Whether an input goes through the file-level run as well. That run repeats the steps in
// memory behind a file and writes the result, some twenty times slower than the steps
// themselves. Its own code is the same for most inputs, so a fixed sample of them does
// (chosen by their bytes, so that a crash repeats): one in four of those the steps convert,
// one in sixteen of those they refuse, for which it can only show the file left alone.
inline bool RunsOnFile(bool converts, plat::ByteView input) {
  uint32_t hash = 2166136261u;
  for (const uint8_t c : input) hash = (hash ^ c) * 16777619u;
  return hash % (converts ? 4 : 16) == 0;
}

// The file-level upgrade of `bytes`, written to a folder of the scratch root. A dry run
// changes nothing and counts what the real run then does; a failed run leaves the file as
// it was; neither leaves a file in the temporary folder; a converted file opens and its
// commands read, with the version-259 input kept as ".old" when `old_is_input`.
class FileRun {
 public:
  explicit FileRun(bool old_is_input) : old_is_input_(old_is_input) {
    Require(plat::testing::UseScratchRoot(), "a scratch root");
    folder_ = plat::GetTempPath() + u"upgrade";
    Require(plat::CreateDirectory(folder_), "a folder for the file");
    path_ = folder_ + u"\\old.msd";
  }

  void Run(const std::vector<uint8_t>& bytes) {
    const std::string_view written(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Require(plat::WriteWholeFile(path_, written), "the file is written");
    const std::set<std::u16string> before = TemporaryFiles();

    char16_t err_key[260] = {};
    macro::UpgradeReport foretold;
    const int dry = macro::UpgradeMacroFile(path_, 0, err_key, macro::UpgradeOptions{true}, &foretold);
    Require(Holds(written), "a dry run leaves the file");
    Require(TemporaryFiles() == before && !plat::FileExists(path_ + u".old"), "a dry run writes no file");

    macro::UpgradeReport report;
    const int result = macro::UpgradeMacroFile(path_, 0, err_key, macro::UpgradeOptions{}, &report);
    Require(TemporaryFiles() == before, "no temporary file is left");
    if (result == 1 && report.converted) {
      Require(dry == 1 && SameCounts(foretold, report), "the dry run foretold the conversion and its counts");
      macro::CFile_Macro file;
      const macro::MacroCommand* commands = nullptr;
      Require(file.Open(path_) == 1 && file.ReadCommands(&commands) == 1, "the converted file opens and reads");
      Require(!old_is_input_ || plat::ReadWholeFile(path_ + u".old") == std::optional<std::string>(written),
              "the .old copy holds the version-259 input");
    } else {
      Require(Holds(written), "a file not converted is as it was");
    }
    // A handle left open on either file would refuse its deletion.
    Require(plat::DeleteFile(path_), "nothing holds the file open");
    Require(!plat::FileExists(path_ + u".old") || plat::DeleteFile(path_ + u".old"),
            "nothing holds the .old copy open");
  }

 private:
  bool Holds(std::string_view bytes) const {
    const std::optional<std::string> now = plat::ReadWholeFile(path_);
    return now && *now == bytes;
  }

  static std::set<std::u16string> TemporaryFiles() {
    std::set<std::u16string> names;
    plat::FindData found;
    plat::FindHandle find = plat::FindFirstFile(plat::GetTempPath() + u"*", &found);
    if (find == nullptr) return names;
    do {
      names.insert(found.name);
    } while (plat::FindNextFile(find, &found));
    plat::FindClose(find);
    return names;
  }

  static bool SameCounts(const macro::UpgradeReport& a, const macro::UpgradeReport& b) {
    return a.from_version == b.from_version && a.converted == b.converted && a.commands == b.commands &&
           a.codes_mapped == b.codes_mapped && a.named_items == b.named_items && a.records == b.records &&
           a.records_added == b.records_added && a.records_without_rule == b.records_without_rule &&
           a.codes_without_rule == b.codes_without_rule && a.records_without_text_rule == b.records_without_text_rule &&
           a.texts_widened == b.texts_widened && a.texts_cut == b.texts_cut &&
           a.references_dropped == b.references_dropped;
  }

  bool old_is_input_;
  std::u16string folder_;
  std::u16string path_;
};

}  // namespace fuzz
