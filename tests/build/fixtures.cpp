#include "build/fixtures.h"

#include "platform/platform.h"
#include "platform/unicode.h"

namespace brankel_test {

std::u16string FixturePath(const char* name) {
#ifdef BRANKEL_FIXTURE_DIR
  return plat::PathFromHost(BRANKEL_FIXTURE_DIR) + u"\\" + plat::Utf8ToUtf16(name);
#else
  (void)name;
  return {};
#endif
}

bool FixturesAvailable() {
  for (const char* name : {"fixture32.exe", "fixture64.exe"}) {
    const std::u16string path = FixturePath(name);
    if (path.empty() || !plat::FileExists(path)) return false;
  }
  return true;
}

}  // namespace brankel_test
