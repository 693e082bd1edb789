#include "support/machine_config.h"

#include "platform/testing.h"
#include "support/scratch.h"

namespace brankel_test {

void MachineConfigTest::SetUp() {
#ifdef _WIN32
  if (!plat::testing::UnderWine()) GTEST_SKIP() << "would change this machine's configuration";
#endif
  common_ = *plat::GetKnownFolder(plat::KnownFolder::kCommonAppData);
  roaming_ = *plat::GetKnownFolder(plat::KnownFolder::kRoamingAppData);
  Clean();
}

void MachineConfigTest::TearDown() {
  if (!common_.empty()) Clean();
}

void MachineConfigTest::Clean() {
  RemoveTree(common_ + u"\\Velmora");
  RemoveTree(roaming_ + u"\\Velmora");
  plat::testing::DeleteRegistryKey(app::kMacroRegistryKey);
}

void MachineConfigTest::Install(std::string_view general, std::string_view config_template,
                                std::u16string_view product) {
  const std::u16string shared = common_ + u"\\" + std::u16string(product);
  plat::CreateDirectory(common_ + u"\\Velmora");
  plat::CreateDirectory(shared);
  plat::CreateDirectory(shared + u"Config");
  ASSERT_TRUE(WriteBytes(shared + u"Config\\General.ini", general));
  ASSERT_TRUE(WriteBytes(shared + u"Config\\Config.ini", config_template));
}

}  // namespace brankel_test
