// Any bytes as one command's parameter record, rewritten against a small table of listed
// files. The record buffer is exactly the input's size, so a write past the record or its
// text fields shows under the sanitizers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "macro/macro_format.h"
#include "packager/reference_rewrite.h"
#include "platform/byte_view.h"
#include "platform/platform.h"

namespace {

constexpr uint16_t kCodes[] = {0x1205, 0x210A, 0x2301, 0x2309, 0x230A, 0x2311, 0x2315, 0x2501,
                               0x3106, 0x4201, 0x430C, 0x4311, 0x4312, 0x650F, 0x6105, 0x6605};

project::ExtraFileEntry Entry(std::u16string_view name, std::u16string_view target, uint16_t parent) {
  project::ExtraFileEntry entry{};
  entry.ParentIndex = parent;
  entry.NameHash = app::KeyHash(plat::ToLower(name));
  plat::SetFixedText(entry.SourcePath, 260, std::u16string(u"c:\\fuzz\\") + std::u16string(name));
  plat::SetFixedText(entry.TargetName, 260, target);
  return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size - 1 > packager::kRewriteBlockSize) return 0;
  static const std::vector<project::ExtraFileEntry> table = {Entry(u"a.bmp", u"pics\\a.bmp", 0),
                                                             Entry(u"c:\\pics\\b.bmp", u"pics\\b.bmp", 0),
                                                             Entry(u"lib.msd", std::u16string(259, u'x'), 1)};
  macro::MacroCommand command{};
  command.Code = kCodes[data[0] % std::size(kCodes)];
  std::vector<uint8_t> record(data + 1, data + size);
  for (const packager::RewriteTargets targets :
       {packager::RewriteTargets::kFiles, packager::RewriteTargets::kMacroCalls}) {
    const packager::RewriteContext context{u"c:\\fuzz\\", u"c:\\data\\", targets};
    bool size_changed = false;
    packager::RewriteCommandReferences(context, data[0] & 1, 0, command, plat::MutableByteView(record), table,
                                       &size_changed);
    if (size_changed && macro::ParamRecordSize(plat::ByteView(record)) + macro::kParamHeadSize > record.size()) {
      __builtin_trap();
    }
  }
  return 0;
}
