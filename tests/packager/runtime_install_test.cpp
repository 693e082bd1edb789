// The stand-in runtime in the build's installation folder: every file the module table
// names is there for a build to ship, and the player imports exactly the libraries the
// table says it imports, so that a build can trim them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "app/lang_file.h"
#include "packager/runtime_files.h"
#include "pe/pe_image.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace packager {
namespace {

using brankel_test::Narrow;

#ifdef BRANKEL_RUNTIME_STANDINS
constexpr bool kStandIns = true;
#else
constexpr bool kStandIns = false;
#endif
#ifdef BRANKEL_RUNTIME_LANGUAGE_FILES
constexpr bool kLanguageFiles = true;
#else
constexpr bool kLanguageFiles = false;
#endif

std::u16string Installed(std::u16string_view name) {
  return plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\" + std::u16string(name);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class RuntimeInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kStandIns)
      GTEST_SKIP() << "no stand-in runtime in this build: the MinGW tools were missing when it was configured";
  }
};

TEST_F(RuntimeInstallTest, EveryFileABuildShipsIsInstalled) {
  std::vector<std::u16string> names;
  for (const InstalledRuntimeFile& file : kInstalledRuntimeFiles) names.push_back(file.name);
  // The programs a build starts from, the UI resource library by the path the
  // configuration forms for it, and the OCR data an OCR build adds.
  for (const char16_t* name : {u"Runvale.exe", u"sysdata\\Stubvale.dat", u"SysData\\vllib_ui_defresu.dll",
                               u"eng.traineddata", u"modules\\paddleocr\\keys.txt",
                               u"modules\\paddleocr\\det\\model.bin", u"modules\\paddleocr\\rec\\model.bin"}) {
    names.push_back(name);
  }
  for (const std::u16string& name : names) {
    const uint32_t attributes = plat::GetFileAttributes(Installed(name));
    if (attributes == plat::kInvalidAttributes) {
      ADD_FAILURE() << "not installed: " << Narrow(name);
    } else {
      EXPECT_EQ(attributes & plat::kAttrDirectory, 0u) << Narrow(name);
    }
  }
}

TEST_F(RuntimeInstallTest, PlayerImportsEveryImportedModuleOnce) {
  pe::CPE_ImageEditor player;
  ASSERT_TRUE(player.Load(Installed(u"Runvale.exe"))) << player.RefusalText();
  const pe::ImportTable imports = player.Imports();
  ASSERT_EQ(imports.damage, pe::ImportTable::Damage::kNone) << imports.Note();

  std::vector<std::string> expected;
  for (const InstalledRuntimeFile& file : kInstalledRuntimeFiles) {
    if (file.imported) expected.push_back(Lower(Narrow(file.name)));
  }
  std::vector<std::string> found;
  for (const std::string& name : imports.names) {
    const std::string lower = Lower(name);
    if (std::find(expected.begin(), expected.end(), lower) != expected.end()) {
      found.push_back(lower);
    } else {
      // Besides the modules, only what every MinGW program imports from the system.
      EXPECT_TRUE(lower == "kernel32.dll" || lower == "msvcrt.dll") << name;
    }
  }
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(expected.size(), 16u);
  EXPECT_EQ(found, expected);
}

TEST_F(RuntimeInstallTest, LanguageFilesAreSignedAndLoad) {
  if (!kLanguageFiles) GTEST_SKIP() << "the runtime's language files were not signed in this build (no host brankel)";
  for (const char16_t* name : {u"sysdata\\Player_en.lng", u"sysdata\\Proxvale_en.lng", u"sysdata\\Webvale_en.lng"}) {
    const app::LanguageFileCheck check = app::CheckLanguageFile(Installed(name));
    EXPECT_TRUE(check.loaded) << Narrow(name);
    EXPECT_TRUE(check.crc_ok || !plat::kHasMd5) << Narrow(name);
    EXPECT_GT(check.keys, 0u) << Narrow(name);
  }
}

}  // namespace
}  // namespace packager
