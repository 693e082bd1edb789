#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/brankel_app.h"
#include "platform/testing.h"
#include "support/machine_config.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

class ConfigCommandTest : public brankel_test::MachineConfigTest {
 protected:
  void SetUp() override {
    MachineConfigTest::SetUp();
    if (IsSkipped()) return;
    const std::u16string shared = common_ + u"\\" + app::kProductPandrel;
    Install("", "");
    const std::u16string installed = plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\Config\\";
    ASSERT_TRUE(plat::CopyFile(installed + u"General.ini", shared + u"Config\\General.ini", false));
    // The template, with a proxy password that must never be printed.
    const std::string bytes = brankel_test::ReadBytes(installed + u"Config.ini");
    std::u16string text = plat::FromUtf16Le(std::string_view(bytes).substr(2));
    const size_t at = text.find(u"ProxyPassword=");
    ASSERT_NE(at, std::u16string::npos);
    text.insert(at + 14, u"hush-hush");
    ASSERT_TRUE(brankel_test::WriteBytes(shared + u"Config\\Config.ini", "\xFF\xFE" + plat::ToUtf16Le(text)));
  }
  std::pair<int, std::string> Run(std::vector<std::string> args) {
    const brankel_test::CliOutput output = brankel_test::RunCli(args);
    return {output.code, output.out};
  }
};

TEST_F(ConfigCommandTest, ShowsWhatTheProgramResolves) {
  const auto [code, out] = Run({"config", "show", "--json"});
  ASSERT_EQ(code, 0);
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["language"], "en");
  EXPECT_EQ(j["language_defaulted"], false) << "General.ini names the language";
  EXPECT_EQ(j["product_folder"], "Velmora\\Pandrel\\");
  ASSERT_EQ(j["language_files"].size(), 2u);
  EXPECT_EQ(j["language_files"][0]["exists"], true);
  EXPECT_EQ(j["hue"], 0);
  EXPECT_EQ(j["saturation"], 0);
  const auto& settings = j["shared_settings"];
  EXPECT_EQ(settings["loaded"], true);
  EXPECT_EQ(settings["stop_hot_key"]["key"], 83);
  EXPECT_EQ(settings["pause_hot_key"]["modifiers"], 7);
  EXPECT_EQ(settings["proxy_password_set"], true);
  EXPECT_EQ(out.find("hush-hush"), std::string::npos) << "passwords are never shown";
  // The user's configuration was made from the template on the way.
  EXPECT_TRUE(plat::FileExists(roaming_ + u"\\Velmora\\Pandrel\\Config.ini"));
}

TEST_F(ConfigCommandTest, TextFormHasTheSameFacts) {
  const auto [code, out] = Run({"config", "show"});
  ASSERT_EQ(code, 0);
  EXPECT_NE(out.find("language: en\n"), std::string::npos) << out;
  EXPECT_NE(out.find("loaded: true"), std::string::npos);
  EXPECT_EQ(out.find("hush-hush"), std::string::npos);
  EXPECT_EQ(Run({"config"}).first, 2);
}

}  // namespace
}  // namespace cli
