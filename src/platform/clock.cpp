#include "platform/clock.h"

#include <cstdlib>
#include <ctime>

namespace plat {

std::optional<uint32_t> SourceDateEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == 0) return std::nullopt;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == nullptr || *end != 0 || value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(value);
}

uint32_t StampTime() {
  if (const std::optional<uint32_t> epoch = SourceDateEpoch()) return *epoch;
  return static_cast<uint32_t>(std::time(nullptr));
}

}  // namespace plat
