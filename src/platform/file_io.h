// Whole-file reads and writes built on the platform layer, for the many small files the
// system reads at once (language files, configuration, projects).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace plat {

// Reads or writes exactly `length` bytes; a short read or write is a failure.
bool ReadExact(FileHandle file, void* out, size_t length);
bool WriteExact(FileHandle file, const void* data, size_t length);

// The rest of an open file; nullopt when it holds more than `max_bytes` or a read fails.
std::optional<std::string> ReadOpenFile(FileHandle file, uint64_t max_bytes);
// Opens `path` for reading (sharing reading), reads it whole and closes it.
std::optional<std::string> ReadWholeFile(std::u16string_view path, uint64_t max_bytes = 0x7FFFFFFE);
// Creates or replaces `path` with `bytes`; false when it cannot be written whole.
bool WriteWholeFile(std::u16string_view path, std::string_view bytes);

}  // namespace plat
