// Any bytes as a ".mdata" section, read as both payloads. Whatever a reader accepts must
// lie inside the section: every record's bytes are touched, and payload B's records must
// end exactly where its total size says.
#include <cstddef>
#include <cstdint>
#include <string>

#include "packager/payload.h"
#include "platform/byte_view.h"

namespace {

bool Inside(plat::ByteView section, plat::ByteView part) {
  if (part.empty()) return true;
  return part.data() >= section.data() && static_cast<size_t>(part.data() - section.data()) <= section.size() &&
         part.size() <= section.size() - static_cast<size_t>(part.data() - section.data());
}

// Reads every byte so that a view past the buffer shows under the sanitizers.
uint32_t Touch(plat::ByteView bytes) {
  uint32_t sum = 0;
  for (const uint8_t c : bytes) sum += c;
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const plat::ByteView section(data, size);
  volatile uint32_t sink = 0;
  std::string refusal;
  if (const auto a = packager::ReadPayloadA(section, &refusal)) {
    if (a->records.size() > a->macro_count || !Inside(section, a->options)) __builtin_trap();
    for (const packager::PayloadARecord& record : a->records) {
      if (!Inside(section, record.data) || record.data.size() != record.size) __builtin_trap();
      if (record.name_hash != packager::RecordNameHash(record.name)) __builtin_trap();
      sink = sink + Touch(record.data);
    }
  } else if (refusal.empty()) {
    __builtin_trap();
  }
  refusal.clear();
  if (const auto b = packager::ReadPayloadB(section, &refusal)) {
    if (b->total_size > size || b->records.size() > packager::kPayloadBRecordLimit) __builtin_trap();
    const plat::ByteView payload = section.First(b->total_size);
    if (!Inside(payload, b->language_file)) __builtin_trap();
    uint64_t end = b->first_record;
    for (const packager::PayloadBRecord& record : b->records) {
      if (!Inside(payload, record.padded) || record.data.data() != record.padded.data() ||
          record.data.size() != record.size || record.padded.size() % 8 != 0) {
        __builtin_trap();
      }
      end += packager::kFileRecordHeadSize + record.padded.size();
      sink = sink + Touch(record.padded);
    }
    if (end != b->total_size) __builtin_trap();
  } else if (refusal.empty()) {
    __builtin_trap();
  }
  return 0;
}
