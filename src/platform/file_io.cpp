#include "platform/file_io.h"

namespace plat {

std::optional<std::string> ReadOpenFile(FileHandle file, uint64_t max_bytes) {
  uint64_t size = 0, position = 0;
  if (!GetFileSize(file, &size) || !SeekFile(file, 0, SeekOrigin::kCurrent, &position)) return std::nullopt;
  const uint64_t length = size > position ? size - position : 0;
  if (length > max_bytes || length > UINT32_MAX) return std::nullopt;
  std::string bytes(static_cast<size_t>(length), '\0');
  uint32_t done = 0;
  if (!ReadFile(file, bytes.data(), static_cast<uint32_t>(length), &done) || done != length) return std::nullopt;
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
  uint32_t done = 0;
  const bool ok = bytes.size() <= UINT32_MAX &&
                  WriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &done) && done == bytes.size();
  const uint32_t error = GetLastError();
  CloseFile(file);
  SetLastError(error);
  return ok;
}

}  // namespace plat
