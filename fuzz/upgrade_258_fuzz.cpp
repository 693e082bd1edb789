// A version-258 macro file from a small input: the header's counts, sizes, the records'
// offset and a few text bytes from its first bytes, the rest after the fixed part (where
// the records are when the offset says so). The first step in memory and the second on
// its output, then the whole upgrade on the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "upgrade_fuzz.h"

namespace {

constexpr uint32_t kFixed258 =
    macro::kHeader258Size + macro::kDropped258Size + macro::kMaxNamedItems * macro::kNamedItem258Size;  // 77252

// Name, editor text, password, option flags, path and its kind, the 64-byte text, and the
// first named item's name.
constexpr uint32_t kItems258 = macro::kHeader258Size + macro::kDropped258Size;
constexpr std::initializer_list<uint32_t> kTextBytes = {44,  45,  172,  432,  433,           434,          435,
                                                        464, 746, 1006, 1044, kItems258 + 4, kItems258 + 5};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::FileRun run(false);
  const std::vector<uint8_t> file =
      fuzz::LayOver(plat::ByteView(data, size), macro::kVersion258, kFixed258, kTextBytes);

  bool converts = false;
  std::vector<uint8_t> v259;
  if (macro::Convert258To259(plat::ByteView(file), v259) == macro::UpgradeFault::kNone) {
    const plat::ByteView out(v259);
    fuzz::Require(out.size() >= macro::kRecords259Offset && out.U16Or(8, 0) == macro::kVersion259 &&
                      std::memcmp(out.data(), "VL_MA", 5) == 0,
                  "the first step makes a whole version-259 file");
    macro::UpgradedMacro upgraded;
    if (macro::Convert259To512(out, upgraded, nullptr) == macro::UpgradeFault::kNone) {
      fuzz::CheckUpgraded(upgraded);
      converts = true;
    }
  }
  if (fuzz::RunsOnFile(converts, plat::ByteView(data, size))) run.Run(file);
  return 0;
}
