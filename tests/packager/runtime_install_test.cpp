// The runtime in the build's installation folder: every file the module table
// names is there for a build to ship, and the player imports exactly the libraries the
// table says it imports, so that a build can trim them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "app/lang_file.h"
#include "app/startup.h"
#include "brankel_version.h"
#include "packager/runtime_files.h"
#include "packager/runtime_modules.h"
#include "pe/pe_image.h"
#include "pe/pe_resources.h"
#include "pe/version_info.h"
#include "platform/byte_view.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace packager {
namespace {

using brankel_test::Narrow;

#ifdef BRANKEL_RUNTIME
constexpr bool kRuntime = true;
#else
constexpr bool kRuntime = false;
#endif
#ifdef BRANKEL_RUNTIME_LANGUAGE_FILES
constexpr bool kLanguageFiles = true;
#else
constexpr bool kLanguageFiles = false;
#endif

// Each test looks at both runtimes: the 32-bit one in the program folder and the 64-bit
// one in its "x64" folder.
constexpr const char16_t* kRuntimeFolders[] = {u"", u"x64\\"};

std::u16string Installed(std::u16string_view name, std::u16string_view folder = {}) {
  std::u16string path = plat::PathFromHost(BRANKEL_INSTALL_DIR);
  path += u"\\";
  path += folder;
  path += name;
  return path;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class RuntimeInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kRuntime) GTEST_SKIP() << "no runtime in this build: the MinGW tools were missing when it was configured";
  }
};

// The installation and the build's module table name the same files.
TEST(RuntimeTableTest, AgreesWithTheInstalledFiles) {
  const RuntimeModules modules;
  for (int row = 0; row < kRuntimeModuleCount; ++row) {
    SCOPED_TRACE(row);
    if (row != 26) {
      EXPECT_EQ(modules.Row(row).file_name, kInstalledRuntimeFiles[row].name);
    }
    EXPECT_EQ(modules.Row(row).imported, kInstalledRuntimeFiles[row].imported);
  }
}

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
  for (const char16_t* folder : kRuntimeFolders) {
    for (const std::u16string& name : names) {
      const uint32_t attributes = plat::GetFileAttributes(Installed(name, folder));
      if (attributes == plat::kInvalidAttributes) {
        ADD_FAILURE() << "not installed: " << Narrow(folder) << Narrow(name);
      } else {
        EXPECT_EQ(attributes & plat::kAttrDirectory, 0u) << Narrow(name);
      }
    }
  }
}

void ExpectPlayerImportsEveryModule(const std::u16string& path) {
  pe::CPE_ImageEditor player;
  ASSERT_TRUE(player.Load(path)) << player.RefusalText();
  const pe::ImportTable imports = player.Imports();
  ASSERT_EQ(imports.damage, pe::ImportTable::Damage::kNone) << imports.Note();

  std::vector<std::string> expected;
  for (const InstalledRuntimeFile& file : kInstalledRuntimeFiles) {
    if (file.imported) expected.push_back(Lower(Narrow(file.name)));
  }
  std::vector<std::string> found;
  for (const std::string& name : imports.names) {
    const std::string lower = Lower(name);
    // Besides the modules, the player imports only system libraries, which no build
    // touches.
    if (std::find(expected.begin(), expected.end(), lower) != expected.end()) found.push_back(lower);
  }
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(expected.size(), 16u);
  EXPECT_EQ(found, expected);
}

TEST_F(RuntimeInstallTest, PlayerImportsEveryImportedModuleOnce) {
  for (const char16_t* folder : kRuntimeFolders) {
    SCOPED_TRACE(Narrow(folder));
    ExpectPlayerImportsEveryModule(Installed(u"Runvale.exe", folder));
  }
}

// The default runtime is the 32-bit one, which runs on every Windows; "x64" holds 64-bit
// images only.
TEST_F(RuntimeInstallTest, EachRuntimeHasItsWordSize) {
  for (const char16_t* folder : kRuntimeFolders) {
    for (const char16_t* program : {u"Runvale.exe", u"sysdata\\Stubvale.dat", u"sysdata\\vllib_ui_defresu.dll",
                                    u"Docvale.dll", u"PandrelIo.sys", u"chrome\\Cbrokvale.exe", u"Webvale.exe"}) {
      SCOPED_TRACE(Narrow(folder) + Narrow(program));
      pe::CPE_ImageEditor image;
      ASSERT_TRUE(image.Load(Installed(program, folder))) << image.RefusalText();
      EXPECT_EQ(image.IsPe32Plus(), *folder != 0);
    }
  }
}

// The neutral-language resources a build edits (the player's icon group, startup picture
// and version texts, the stub's icon group) and the one start-up checks (the UI library's
// version), each found where the edits and the check look, in both runtimes. Every
// version resource carries the release's version, which `brankel inspect` reports from a
// built EXE's stub and which start-up accepts in the UI library.
TEST_F(RuntimeInstallTest, ProgramsCarryTheResourcesABuildEdits) {
  struct Case {
    const char16_t* program;
    uint16_t type;
    uint16_t id;
  };
  for (const char16_t* folder : kRuntimeFolders) {
    for (const Case c : {Case{u"Runvale.exe", 14, 101}, Case{u"Runvale.exe", 2, 352}, Case{u"Runvale.exe", 16, 1},
                         Case{u"sysdata\\Stubvale.dat", 14, 107}, Case{u"sysdata\\Stubvale.dat", 16, 1},
                         Case{u"SysData\\vllib_ui_defresu.dll", 16, 1}}) {
      SCOPED_TRACE(Narrow(folder) + Narrow(c.program) + " resource " + std::to_string(c.type) + "/" +
                   std::to_string(c.id));
      pe::CPE_ImageEditor image;
      ASSERT_TRUE(image.Load(Installed(c.program, folder)));
      pe::ResourceTable table;
      ASSERT_TRUE(table.Read(image)) << table.RefusalText();
      const pe::ResourceItem* item = table.Find(c.type, c.id, 0);
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->language, 0);
      if (c.type != 16) continue;
      const std::optional<pe::FixedVersion> fixed = pe::ImageFixedVersion(image);
      ASSERT_TRUE(fixed.has_value());
      EXPECT_EQ(pe::DottedVersion(fixed->file_ms, fixed->file_ls), BRANKEL_VERSION_FULL_TEXT);
      EXPECT_EQ(pe::DottedVersion(fixed->product_ms, fixed->product_ls), BRANKEL_VERSION_FULL_TEXT);
      EXPECT_TRUE(pe::QueryVersionValue(item->data.data(), item->data.size(), u"\\VarFileInfo\\Translation"));
      app::FixedFileVersion checked;
      checked.file_ms = fixed->file_ms;
      checked.file_ls = fixed->file_ls;
      EXPECT_TRUE(app::UiLibraryVersionOk(checked)) << "start-up would refuse this version in the UI library";
    }
  }
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
