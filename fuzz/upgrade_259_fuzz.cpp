// A version-259 macro file from a small input: the header's counts, sizes, offsets and a
// few text bytes from its first bytes, the command records and parameter block from the
// rest. The second step in memory, then the whole upgrade on the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "upgrade_fuzz.h"

namespace {

// Name, editor text, password and its length, option flags, path kind and path, the two
// 64-byte texts, and the first named item's name.
constexpr std::initializer_list<uint32_t> kTextBytes = {40,  41,  168, 428, 429,  430,  431,
                                                        459, 460, 723, 725, 1014, 1078, 1216};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::FileRun run(true);
  const std::vector<uint8_t> file =
      fuzz::LayOver(plat::ByteView(data, size), macro::kVersion259, macro::kRecords259Offset, kTextBytes);

  macro::UpgradedMacro upgraded;
  macro::UpgradeReport report;
  bool converts = false;
  if (macro::Convert259To512(plat::ByteView(file), upgraded, &report) == macro::UpgradeFault::kNone) {
    fuzz::CheckUpgraded(upgraded);
    converts = true;
  }
  if (fuzz::RunsOnFile(converts, plat::ByteView(data, size))) run.Run(file);
  return 0;
}
