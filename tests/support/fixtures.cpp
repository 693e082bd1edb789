#include "support/fixtures.h"

#include <initializer_list>

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

namespace {

bool AllThere(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const std::u16string path = FixturePath(name);
    if (path.empty() || !plat::FileExists(path)) return false;
  }
  return true;
}

}  // namespace

bool FixturesAvailable() { return AllThere({"fixture32.exe", "fixture64.exe"}); }
bool UnstrippedFixturesAvailable() { return AllThere({"unstripped32.exe", "unstripped64.exe"}); }

}  // namespace brankel_test
