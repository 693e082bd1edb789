#include "platform/file_io.h"

namespace plat {

bool ReadExact(FileHandle file, void* out, size_t length) {
  uint32_t done = 0;
  return length <= UINT32_MAX && ReadFile(file, out, static_cast<uint32_t>(length), &done) && done == length;
}

bool WriteExact(FileHandle file, const void* data, size_t length) {
  uint32_t done = 0;
  return length <= UINT32_MAX && WriteFile(file, data, static_cast<uint32_t>(length), &done) && done == length;
}

std::optional<std::string> ReadOpenFile(FileHandle file, uint64_t max_bytes) {
  uint64_t size = 0, position = 0;
  if (!GetFileSize(file, &size) || !SeekFile(file, 0, SeekOrigin::kCurrent, &position)) return std::nullopt;
  const uint64_t length = size > position ? size - position : 0;
  if (length > max_bytes || length > UINT32_MAX) return std::nullopt;
  std::string bytes(static_cast<size_t>(length), '\0');
  if (!ReadExact(file, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

std::optional<std::string> ReadWholeFile(std::u16string_view path, uint64_t max_bytes) {
  FileHandle file = OpenFile(path, kGenericRead, kShareRead, Disposition::kOpenExisting);
  if (file == nullptr) return std::nullopt;
  std::optional<std::string> bytes = ReadOpenFile(file, max_bytes);
  const uint32_t error = GetLastError();
  CloseFile(file);
  SetLastError(error);
  return bytes;
}

bool WriteWholeFile(std::u16string_view path, std::string_view bytes) {
  FileHandle file = OpenFile(path, kGenericWrite, 0, Disposition::kCreateAlways);
  if (file == nullptr) return false;
  const bool ok = WriteExact(file, bytes.data(), bytes.size());
  const uint32_t error = GetLastError();
  CloseFile(file);
  SetLastError(error);
  return ok;
}

}  // namespace plat
