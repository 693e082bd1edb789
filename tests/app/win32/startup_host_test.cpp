// Start-up's Windows host against the real system under Wine: the version service reads
// what the installation's resource scripts say, and the system kind is a known one.
#include <gtest/gtest.h>

#include <string>

#include "app/win32/startup_host.h"
#include "brankel_version.h"
#include "platform/platform.h"

namespace app {
namespace {

// The release's version as the fixed information's two halves.
constexpr uint32_t kReleaseMs = (BRANKEL_VERSION_MAJOR << 16) | BRANKEL_VERSION_MINOR;
constexpr uint32_t kReleaseLs = (BRANKEL_VERSION_PATCH << 16) | BRANKEL_VERSION_BUILD;

TEST(StartupHostTest, FixedVersionsOfTheInstallation) {
  const std::u16string install = plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\";
  struct Case {
    const char16_t* file;
    bool has_version;
    uint32_t file_ms, file_ls, product_ms;
  };
  const Case cases[] = {
      {u"Deskvale.exe", true, 0x00040003, 0x00000001, 0x00040003},
      {u"Brankel.exe", true, kReleaseMs, kReleaseLs, kReleaseMs},
      {u"brankelc.exe", true, kReleaseMs, kReleaseLs, kReleaseMs},
      {u"Crashvale.exe", true, kReleaseMs, kReleaseLs, kReleaseMs},
      {u"Config\\General.ini", false, 0, 0, 0},
      {u"no such file.exe", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    FixedFileVersion version;
    version.file_ms = 0xDEAD;
    EXPECT_EQ(ReadFixedFileVersion(install + c.file, &version), c.has_version);
    EXPECT_EQ(version.file_ms, c.file_ms) << "zero-filled when there is none";
    EXPECT_EQ(version.file_ls, c.file_ls);
    EXPECT_EQ(version.product_ms, c.product_ms);
    if (c.has_version) {
      EXPECT_EQ(version.signature, 0xFEEF04BDu);
    }
  }
}

TEST(StartupHostTest, WineIsAKnownSystemFromVistaOn) {
  const uint32_t kind = RunningOsKind();
  EXPECT_GT(kind, 5u);
  EXPECT_LE(kind, 18u);
}

TEST(StartupHostTest, MultiSelectWithoutABufferRefusesAtOnce) {
  CVLWinApp app;
  std::u16string path = u"C:\\x.msd";
  EXPECT_FALSE(ChooseFileDialog(app, u"IDS_FILEFILTER_SPT", path, true, true, nullptr, 0));
  EXPECT_EQ(path, u"C:\\x.msd");
}

}  // namespace
}  // namespace app
