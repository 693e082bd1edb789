// A fixture for tests that work in the machine's application data folders: the stand-in's
// scratch root, or Wine's throwaway prefix; never a real Windows machine's configuration.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/brankel_app.h"

namespace brankel_test {

class MachineConfigTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Removes what the tests put there: both Velmora folders and the product's registry key.
  void Clean();
  // The installation's shared folder for `product` with its General.ini and the user
  // configuration template.
  void Install(std::string_view general, std::string_view config_template,
               std::u16string_view product = app::kProductPandrel);

  std::u16string common_, roaming_;
};

}  // namespace brankel_test
