// Any bytes as the stub's own ".mdata" section, checked as the stub checks it before it
// writes anything: a payload it trusts must have every record's bytes inside the section,
// one player record, and only target names that are safe to write. Nothing is written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/byte_view.h"
#include "runtime/unpack.h"

namespace {

bool Inside(plat::ByteView section, plat::ByteView part) {
  if (part.empty()) return true;
  return part.data() >= section.data() && static_cast<size_t>(part.data() - section.data()) <= section.size() &&
         part.size() <= section.size() - static_cast<size_t>(part.data() - section.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const plat::ByteView section(data, size);
  const runtime::Verified verified = runtime::VerifyPayload(section);
  if (!Inside(section, verified.language_file)) std::abort();
  // The texts come from the language file even when the payload is refused.
  (void)runtime::LoadStubTexts(verified.language_file);
  if (verified.payload.has_value() == static_cast<bool>(verified.fault)) std::abort();
  if (!verified.payload) return 0;
  const packager::PayloadB& payload = *verified.payload;
  if (runtime::PlayerRecord(payload) >= payload.records.size()) std::abort();
  for (const packager::PayloadBRecord& record : payload.records) {
    if (!Inside(section, record.padded) || !Inside(record.padded, record.data)) std::abort();
    if (!runtime::CheckTargetName(record.target_name)) std::abort();
  }
  return 0;
}
