// The time the system stamps into the files it writes.
#pragma once

#include <cstdint>
#include <optional>

namespace plat {

// SOURCE_DATE_EPOCH, the reproducible-build convention, when it holds a number of seconds
// that fits 32 bits; nothing otherwise.
std::optional<uint32_t> SourceDateEpoch();
// Seconds since 1970-01-01 UTC, low 32 bits: SOURCE_DATE_EPOCH when set, so that two
// builds of the same input give the same bytes, else the clock.
uint32_t StampTime();

}  // namespace plat
