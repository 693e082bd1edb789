// The installation's English language files: signed, and defining every key the code uses.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app/lang_file.h"
#include "app/res_string.h"
#include "platform/platform.h"
#include "support/needs_md5.h"
#include "support/scratch.h"

namespace app {
namespace {

std::u16string Installed(std::u16string_view name) {
  return plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\sysdata\\" + std::u16string(name);
}

TEST(EnglishFiles, AreSignedAndLoad) {
  for (const char16_t* name : {u"Packager_en.lng", u"errormsg_en.lng"}) {
    const LanguageFileCheck check = CheckLanguageFile(Installed(name));
    EXPECT_TRUE(check.loaded) << brankel_test::Narrow(Installed(name));
    EXPECT_TRUE(check.crc_ok || !plat::kHasMd5) << brankel_test::Narrow(name);
    EXPECT_GT(check.keys, 10u);
  }
  if (!plat::kHasMd5) GTEST_SKIP() << "loaded, check values not verified: " BRANKEL_MD5_SKIP_REASON;
}

// `name` below the source tree's src folder; the folder itself for an empty name.
std::u16string SourcePath(std::u16string_view name) {
  std::u16string path = plat::PathFromHost(BRANKEL_SOURCE_DIR) + u"\\src";
  if (!name.empty()) {
    path += u'\\';
    path += name;
  }
  return path;
}

// Every language key the code below `top` names in a literal, the folders `skip` left out.
std::set<std::string> KeysUsedByTheCode(const std::u16string& top, const std::set<std::u16string>& skip = {}) {
  std::set<std::string> keys;
  const std::regex key(R"(u"(IDS_[A-Z0-9_]+|PERR_[A-Z0-9_]+)\")");
  std::vector<std::u16string> folders = {top};
  while (!folders.empty()) {
    const std::u16string folder = folders.back();
    folders.pop_back();
    plat::FindData data;
    plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data);
    if (find == nullptr) continue;
    do {
      const std::u16string path = folder + u"\\" + data.name;
      if (data.name == u"." || data.name == u"..") continue;
      if (data.attributes & plat::kAttrDirectory) {
        if (!skip.contains(path)) folders.push_back(path);
        continue;
      }
      const std::string text = brankel_test::ReadBytes(path);
      for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) keys.insert((*it)[1]);
    } while (plat::FindNextFile(find, &data));
    plat::FindClose(find);
  }
  return keys;
}

TEST(EnglishFiles, DefineEveryKeyTheCodeUses) {
  CVLResString table;
  ASSERT_TRUE(table.LoadFile(Installed(u"Packager_en.lng")));
  ASSERT_TRUE(table.LoadFile(Installed(u"errormsg_en.lng")));
  // The runtime's programs and the crash report program have language files of their own (below).
  const std::set<std::string> keys =
      KeysUsedByTheCode(SourcePath(u""), {SourcePath(u"runtime"), SourcePath(u"support")});
  for (const std::string& key : keys) {
    std::u16string text;
    EXPECT_TRUE(table.GetString(text, plat::AsciiToUtf16(key))) << key << " has no English text";
  }
}

TEST(EnglishFiles, RuntimeFilesDefineEveryKeyTheRuntimeUses) {
  CVLResString table;
  for (const char16_t* name : {u"Proxvale_en.lng", u"Player_en.lng", u"Webvale_en.lng"}) {
    ASSERT_TRUE(table.LoadFile(SourcePath(u"runtime\\sysdata\\") + name)) << brankel_test::Narrow(name);
  }
  std::set<std::string> keys = KeysUsedByTheCode(SourcePath(u"runtime"));
  keys.merge(KeysUsedByTheCode(SourcePath(u"support")));  // Crashvale.exe reads Player_%s.lng
  for (const std::string& key : keys) {
    std::u16string text;
    EXPECT_TRUE(table.GetString(text, plat::AsciiToUtf16(key))) << key << " has no English text";
  }
}

TEST(EnglishFiles, OwnErrorCodesHaveTexts) {
  CVLResString table;
  ASSERT_TRUE(table.LoadFile(Installed(u"errormsg_en.lng")));
  std::u16string text;
  for (const char16_t* key : {u"10009", u"10019", u"10021", u"10023", u"10024", u"10025", u"10028"}) {
    EXPECT_TRUE(table.GetString(text, key)) << brankel_test::Narrow(key);
  }
  ASSERT_TRUE(table.GetString(text, u"PERR_MACRO_GENERIC"));
  EXPECT_NE(text.find(u"%d"), std::u16string::npos);
}

}  // namespace
}  // namespace app
