// The installed UI resource library of this build's word size loads and answers as the
// toolkit asks it to: ordinal 1 gives the version value the toolkit accepts, ordinal 2
// fills a skin description.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "runtime/skin_description.h"

#include <windows.h>

namespace runtime {
namespace {

TEST(UiLibraryTest, OrdinalsOneAndTwoAnswerAsTheToolkitExpects) {
#ifndef BRANKEL_RUNTIME
  GTEST_SKIP() << "no runtime in this build's installation";
#endif
  std::u16string path = plat::PathFromHost(BRANKEL_INSTALL_DIR);
  // The library of this program's word size: the 64-bit runtime lives in "x64".
  path += sizeof(void*) == 8 ? u"\\x64\\sysdata\\vllib_ui_defresu.dll" : u"\\sysdata\\vllib_ui_defresu.dll";
  HMODULE library = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
  ASSERT_NE(library, nullptr) << GetLastError();
  using Version = uint32_t (*)();
  using Fill = int (*)(SkinDescription*);
  const auto version = reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
  const auto fill = reinterpret_cast<Fill>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(2))));
  ASSERT_NE(version, nullptr);
  ASSERT_NE(fill, nullptr);
  EXPECT_EQ(version(), 257u);
  SkinDescription skin;
  EXPECT_NE(fill(&skin), 0);
  EXPECT_EQ(skin.size, sizeof skin);
  EXPECT_NE(skin.colours[0], skin.colours[2]);  // window and text colours differ
  EXPECT_EQ(fill(nullptr), 0);
  FreeLibrary(library);
}

}  // namespace
}  // namespace runtime
