#include "support/scratch.h"

#include <cstdlib>

#include <optional>

#include "platform/file_io.h"

namespace brankel_test {

bool WriteBytes(std::u16string_view path, std::string_view bytes) { return plat::WriteWholeFile(path, bytes); }

std::string ReadBytes(std::u16string_view path) {
  const std::optional<std::string> bytes = plat::ReadWholeFile(path);
  return bytes ? *bytes : "<missing>";
}

void RemoveTree(const std::u16string& path) {
  plat::FindData data;
  if (plat::FindHandle find = plat::FindFirstFile(path + u"\\*", &data)) {
    do {
      if (data.name == u"." || data.name == u"..") continue;
      const std::u16string child = path + u"\\" + data.name;
      if (data.attributes & plat::kAttrDirectory) {
        RemoveTree(child);
      } else {
        plat::SetFileAttributes(child, plat::kAttrNormal);
        plat::DeleteFile(child);
      }
    } while (plat::FindNextFile(find, &data));
    plat::FindClose(find);
  }
  plat::RemoveDirectory(path);
}

void ScratchTest::SetUp() {
  static uint32_t counter = 0;
  const std::u16string base =
      plat::GetTempPath() + u"brk" + plat::AsciiToUtf16(std::to_string(plat::GetTickCount())) + u"-";
  bool created = false;
  do {
    dir_ = base + plat::AsciiToUtf16(std::to_string(++counter));
    created = plat::CreateDirectory(dir_);
  } while (!created && plat::GetLastError() == plat::err::kAlreadyExists);
  ASSERT_TRUE(created) << "cannot create " << Narrow(dir_) << ": error " << plat::GetLastError();
}

void ScratchTest::TearDown() { RemoveTree(dir_); }

std::u16string ScratchTest::Path(std::u16string_view name) const { return dir_ + u"\\" + std::u16string(name); }

std::set<std::u16string> TemporaryFiles(const char16_t* pattern) {
  std::set<std::u16string> names;
  plat::FindData found;
  plat::FindHandle find = plat::FindFirstFile(plat::GetTempPath() + pattern, &found);
  if (find == nullptr) return names;
  do {
    names.insert(found.name);
  } while (plat::FindNextFile(find, &found));
  plat::FindClose(find);
  return names;
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value == nullptr ? "" : value);
#else
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

}  // namespace brankel_test
