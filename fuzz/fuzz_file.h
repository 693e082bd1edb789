// One scratch file per fuzzing process, for readers that only work on files; a name of
// the process's own keeps parallel jobs apart. Removed when the process ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace fuzz {

class ScratchFile {
 public:
  explicit ScratchFile(const char16_t* prefix) : path_(plat::GetTempFileName(plat::GetTempPath(), prefix)) {}
  ~ScratchFile() {
    if (!path_.empty()) plat::DeleteFile(path_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::u16string& Path() const { return path_; }

  bool Write(const uint8_t* data, size_t size) const {
    if (path_.empty()) return false;
    plat::FileHandle file =
        plat::OpenFile(path_, plat::kGenericWrite, plat::kShareRead, plat::Disposition::kCreateAlways);
    if (file == nullptr) return false;
    uint32_t done = 0;
    const bool ok = plat::WriteFile(file, data, static_cast<uint32_t>(size), &done) && done == size;
    plat::CloseFile(file);
    return ok;
  }

 private:
  std::u16string path_;
};

}  // namespace fuzz
