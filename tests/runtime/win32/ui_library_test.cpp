// The installed UI resource library of this build's word size loads and answers as the
// toolkit asks it to: ordinal 1 gives the version value the toolkit accepts, ordinal 2
// fills a skin description.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/byte_view.h"
#include "platform/platform.h"
#include "runtime/skin_description.h"
#include "ui/skin_rules.h"

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

  // Every bitmap is a whole 8-bit bitmap with 256 colours, the transparent key last, and
  // corners that fit inside it.
  std::vector<std::pair<const SkinBitmapData*, std::string>> bitmaps;
  for (uint32_t i = 0; i < kSkinControlBitmapCount; ++i)
    bitmaps.emplace_back(&skin.controls[i], "control " + std::to_string(i));
  for (uint32_t i = 0; i < kSkinFrameBitmapCount; ++i)
    bitmaps.emplace_back(&skin.frames[i], "frame " + std::to_string(i));
  for (const auto& [bitmap, name] : bitmaps) {
    const plat::ByteView dib(bitmap->dib, bitmap->size);
    ASSERT_TRUE(ui::DibPixels(dib)) << name;
    EXPECT_EQ(dib.U16Or(14, 0), 8) << name;
    EXPECT_EQ(dib.U32Or(32, 0), 256u) << name;
    EXPECT_EQ(dib.U32Or(40 + 255 * 4, 0), 0x00FF00FFu) << name;  // magenta, as blue, green, red
    EXPECT_LT(bitmap->border * 2, dib.U32Or(4, 0)) << name;
  }

  // A caller that gives less room gets only what fits: here the colours, not the bitmaps.
  std::vector<uint8_t> room(sizeof(SkinDescription), 0xAB);
  plat::MutableByteView(room).Put32(0, offsetof(SkinDescription, controls));
  EXPECT_NE(fill(reinterpret_cast<SkinDescription*>(room.data())), 0);
  EXPECT_EQ(plat::ByteView(room).U32Or(0, 0), offsetof(SkinDescription, controls));
  EXPECT_EQ(plat::ByteView(room).U32Or(4, 0), skin.colours[0]);
  EXPECT_EQ(room[offsetof(SkinDescription, controls)], 0xAB);
  FreeLibrary(library);
}

}  // namespace
}  // namespace runtime
