// The player's walk over any bytes as its ".mdata" section: the payload checks, the macro
// reader, the attachments and the call walk must refuse or finish, never read past a
// buffer. The run folder does not exist, so nothing resolves against it and nothing is
// written.
#include <cstddef>
#include <cstdint>

#include "runtime/dry_run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const runtime::DryRunResult result = runtime::PlayDryRun(plat::ByteView(data, size), u"Z:\\brankel-fuzz-none");
  (void)runtime::TraceText(result);
  return 0;
}
