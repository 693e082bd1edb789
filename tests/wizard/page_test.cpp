#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_view.h"
#include "support/image_files.h"
#include "wizard/ensure_file.h"
#include "wizard/exe_properties.h"
#include "wizard/image_checks.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

using brankel_test::Narrow;

template <size_t N>
std::u16string_view Buffer(const char16_t (&text)[N]) {
  return {text, N - 1};
}

TEST(WizardTexts, ChooserResultsTrimmingAndTheFileDialog) {
  const std::pair<std::u16string_view, std::vector<std::u16string>> chosen[] = {
      {Buffer(u"C:\\dir\0a.msd\0b.msd\0\0"), {u"C:\\dir\\a.msd", u"C:\\dir\\b.msd"}},
      {Buffer(u"C:\\\0a.msd\0\0"), {u"C:\\a.msd"}},
      {Buffer(u"C:\\dir\\one.msd\0\0"), {u"C:\\dir\\one.msd"}},
      {Buffer(u"\0\0"), {}},
  };
  for (const auto& [buffer, paths] : chosen) EXPECT_EQ(SplitChosenFiles(buffer), paths) << paths.size();
  EXPECT_EQ(Trimmed(u" \t\r\n\u3000 a b \v"), u"a b");

  EXPECT_FALSE(EnsureFileOkEnabled({u"   ", u"C:\\a.txt"}));
  EXPECT_FALSE(EnsureFileOkEnabled({u"a.txt", u" \t"}));
  EXPECT_TRUE(EnsureFileOkEnabled({u" a.txt", u"C:\\a.txt "}));
  EXPECT_EQ(EnsureFileBrowsed({u"typed.txt", u""}, u"C:\\files\\report.pdf").destination, u"report.pdf");
  const EnsureFileValues result = EnsureFileResult({u"  data\\a.txt  ", u" C:\\data\\a.txt\t"});
  EXPECT_EQ(result.destination + u"|" + result.position, u"data\\a.txt|C:\\data\\a.txt");
}

std::vector<uint8_t> Bitmap(int width, int height) { return brankel_test::MakeBitmapFile(width, height, 24, 1); }

TEST(WizardImages, ReadsTheBitmapSizeFromItsHeaders) {
  struct Case {
    const char* name;
    void (*damage)(plat::MutableByteView);
    size_t head;         // bytes given; 0 for all
    uint64_t file_size;  // 0 for the bytes' own size
    bool read;
  };
  const Case cases[] = {
      {"whole", [](plat::MutableByteView) {}, 0, 0, true},
      {"the headers alone", [](plat::MutableByteView) {}, 54, 0, true},
      {"top-down", [](plat::MutableByteView b) { b.Put32(22, static_cast<uint32_t>(-70)); }, 0, 0, true},
      {"no magic", [](plat::MutableByteView b) { b.Put8(1, 'X'); }, 0, 0, false},
      {"two planes", [](plat::MutableByteView b) { b.Put16(26, 2); }, 0, 0, false},
      {"bit count 0", [](plat::MutableByteView b) { b.Put16(28, 0); }, 0, 0, false},
      {"header size 41", [](plat::MutableByteView b) { b.Put32(14, 41); }, 0, 0, false},
      {"most negative height", [](plat::MutableByteView b) { b.Put32(22, 0x80000000u); }, 0, 0, false},
      {"pixels past the end", [](plat::MutableByteView b) { b.Put32(10, 0xFFFFFFF0u); }, 0, 0, false},
      {"file ends in the header", [](plat::MutableByteView) {}, 30, 30, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = Bitmap(150, 70);
    c.damage(plat::MutableByteView(bytes));
    const plat::ByteView all(bytes);
    const std::optional<BitmapSize> size =
        ReadBitmapSize(c.head == 0 ? all : all.First(c.head), c.file_size == 0 ? bytes.size() : c.file_size);
    ASSERT_EQ(size.has_value(), c.read) << c.name;
    EXPECT_TRUE(!c.read || (size->width == 150 && size->height == 70)) << c.name;
  }
  // A core header: 16-bit sizes at other offsets.
  std::vector<uint8_t> core(30, 0);
  const plat::MutableByteView view(core);
  view.Put16(0, 0x4D42), view.Put32(10, 26), view.Put32(14, 12), view.Put16(18, 199), view.Put16(20, 65);
  view.Put16(22, 1), view.Put16(24, 24);
  const std::optional<BitmapSize> size = ReadBitmapSize(plat::ByteView(core), core.size());
  ASSERT_TRUE(size);
  EXPECT_TRUE(IsRefusedBitmapSize(*size));
}

class ExePropertiesPageTest : public brankel_test::WizardTest {};

TEST_F(ExePropertiesPageTest, LeavingForwardChecksNameTipsPictureAndIcon) {
  Prepare();
  for (const auto& [name, bytes] : std::vector<std::pair<const char16_t*, std::vector<uint8_t>>>{
           {u"400x70.bmp", Bitmap(400, 70)},
           {u"150x70.bmp", Bitmap(150, 70)},
           {u"150x64.bmp", Bitmap(150, 64)},
           {u"good.ico", brankel_test::MakeIconFile({16, 32}, 3)},
           {u"bad.ico", {'n', 'o'}},
           {u"bad.bmp", {'n', 'o'}}}) {
    Write(name, std::string(bytes.begin(), bytes.end()));
  }
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder.ico")));
  struct Case {
    std::u16string name, tips;
    bool startup;
    std::u16string picture, icon;
    const char16_t* key;  // nullptr: moves on
    int focus;
  };
  const Case cases[] = {
      {u"   ", u"", false, u"", u"", u"IDS_ERR_NAMEEMPTY", kIdExeName},
      {u"Demo", u"", true, u"", u"", u"IDS_ERR_AUTHORTIPSEMPTY", kIdAuthorTips},
      {u"Demo", u"  ", true, u"", u"", nullptr, 0},
      {u"Demo", u"", false, u" " + Path(u"400x70.bmp") + u" ", u"", nullptr, 0},
      {u"Demo", u"", false, Path(u"150x70.bmp"), u"", u"IDS_ERR_INVALIDBMP", 0},
      {u"Demo", u"", false, Path(u"150x64.bmp"), u"", nullptr, 0},
      {u"Demo", u"", false, Path(u"none.bmp"), u"", u"IDS_ERR_FINDBMPFILE", 0},
      {u"Demo", u"", false, Path(u"bad.bmp"), u"", u"IDS_ERR_LOADBMP", 0},
      {u"Demo", u"", false, u"C:\\" + std::u16string(300, u'p'), u"", u"IDS_ERR_FINDBMPFILE", 0},
      {u"Demo", u"", false, u"", Path(u"good.ico"), nullptr, 0},
      {u"Demo", u"", false, u"", Path(u"none.ico"), u"IDS_ERR_FINDICONFILE", 0},
      {u"Demo", u"", false, u"", Path(u"bad.ico"), u"IDS_ERR_LOADICON", 0},
      {u"Demo", u"", false, u"", Path(u"folder.ico"), u"IDS_ERR_LOADICON", 0},
  };
  ExePropertiesPage& page = flow_->Properties();
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name + u"|" + c.picture + u"|" + c.icon));
    const project::MakeExeOptions before = Record();
    const LeaveResult left = page.LeaveForward({c.name, c.icon, c.tips, u"", c.picture, c.startup, false});
    EXPECT_TRUE(left.proceed == (c.key == nullptr) && left.focus == c.focus);
    EXPECT_EQ(TakeKeys(), c.key == nullptr ? std::vector<std::u16string>{} : std::vector<std::u16string>{c.key});
    if (c.key != nullptr) {
      EXPECT_EQ(std::memcmp(&before, &Record(), sizeof(before)), 0) << "nothing is stored";
    } else {
      EXPECT_EQ(project::FieldText(Record().PicturePath), Trimmed(c.picture));
    }
  }
  // The name trimmed and cut to its field, the address as typed.
  ASSERT_TRUE(
      page.LeaveForward({u" " + std::u16string(130, u'n') + u" ", u"", u"t", u" http://x.test ", u"", true, true})
          .proceed);
  EXPECT_EQ(page.Initial().name, std::u16string(129, u'n'));
  EXPECT_EQ(page.Initial().url, u" http://x.test ");
  EXPECT_TRUE(page.Initial().show_startup && page.Initial().reset_version);
}

}  // namespace
}  // namespace wizard
