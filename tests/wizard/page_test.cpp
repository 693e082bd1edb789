#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_view.h"
#include "support/image_files.h"
#include "wizard/ensure_file.h"
#include "wizard/exe_properties.h"
#include "wizard/image_checks.h"
#include "wizard/page.h"
#include "wizard/wizard_test_app.h"

namespace wizard {
namespace {

using brankel_test::Narrow;

template <size_t N>
std::u16string_view Buffer(const char16_t (&text)[N]) {
  return {text, N - 1};
}

TEST(WizardPage, SplitsTheChoosersBufferAndAddsABackslashOnlyWhenMissing) {
  struct Case {
    std::u16string_view buffer;
    std::vector<std::u16string> paths;
  };
  const Case cases[] = {
      {Buffer(u"C:\\dir\0a.msd\0b.msd\0c.msd\0\0"), {u"C:\\dir\\a.msd", u"C:\\dir\\b.msd", u"C:\\dir\\c.msd"}},
      {Buffer(u"C:\\\0a.msd\0b.msd\0\0"), {u"C:\\a.msd", u"C:\\b.msd"}},
      {Buffer(u"C:\\dir\\one.msd\0\0"), {u"C:\\dir\\one.msd"}},
      {Buffer(u"C:\\dir\\unterminated.msd"), {u"C:\\dir\\unterminated.msd"}},
      {Buffer(u"C:\\dir\0last"), {u"C:\\dir\\last"}},
      {Buffer(u"\0\0"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(std::u16string(c.buffer)));
    EXPECT_EQ(SplitChosenFiles(c.buffer), c.paths);
  }
  EXPECT_EQ(Trimmed(u" \t\r\n\u3000 a b \v"), u"a b");
  EXPECT_EQ(FileNamePart(u"C:\\files\\report.pdf"), u"report.pdf");
  EXPECT_EQ(FileNamePart(u"plain"), u"plain");
}

TEST(WizardPage, EnsureFileDialogTrimsAndBrowsingReplacesTheTypedName) {
  EXPECT_FALSE(EnsureFileOkEnabled({u"   ", u"C:\\a.txt"}));
  EXPECT_FALSE(EnsureFileOkEnabled({u"a.txt", u" \t"}));
  EXPECT_TRUE(EnsureFileOkEnabled({u" a.txt", u"C:\\a.txt "}));
  const EnsureFileValues browsed = EnsureFileBrowsed({u"typed.txt", u"C:\\old.txt"}, u"C:\\files\\report.pdf");
  EXPECT_EQ(browsed.destination, u"report.pdf");
  EXPECT_EQ(browsed.position, u"C:\\files\\report.pdf");
  const EnsureFileValues result = EnsureFileResult({u"  data\\a.txt  ", u" C:\\data\\a.txt\t"});
  EXPECT_EQ(result.destination, u"data\\a.txt");
  EXPECT_EQ(result.position, u"C:\\data\\a.txt");
}

std::vector<uint8_t> Bitmap(int width, int height) { return brankel_test::MakeBitmapFile(width, height, 24, 1); }

TEST(WizardImages, ReadsTheBitmapSizeFromItsHeadersAndRefusesDamagedOnes) {
  struct Case {
    const char* name;
    void (*damage)(plat::MutableByteView);
    size_t head;         // bytes of the head given; 0 for all
    uint64_t file_size;  // 0 for the bytes' own size
    bool read;
    int32_t height;
  };
  const Case cases[] = {
      {"whole", [](plat::MutableByteView) {}, 0, 0, true, 70},
      {"only the headers in the head", [](plat::MutableByteView) {}, 54, 0, true, 70},
      {"top-down", [](plat::MutableByteView b) { b.Put32(22, static_cast<uint32_t>(-70)); }, 0, 0, true, 70},
      {"no magic", [](plat::MutableByteView b) { b.Put8(1, 'X'); }, 0, 0, false, 0},
      {"two planes", [](plat::MutableByteView b) { b.Put16(26, 2); }, 0, 0, false, 0},
      {"bit count 0", [](plat::MutableByteView b) { b.Put16(28, 0); }, 0, 0, false, 0},
      {"header size 41", [](plat::MutableByteView b) { b.Put32(14, 41); }, 0, 0, false, 0},
      {"zero width", [](plat::MutableByteView b) { b.Put32(18, 0); }, 0, 0, false, 0},
      {"most negative height", [](plat::MutableByteView b) { b.Put32(22, 0x80000000u); }, 0, 0, false, 0},
      {"pixels before the headers", [](plat::MutableByteView b) { b.Put32(10, 20); }, 0, 0, false, 0},
      {"pixels past the end", [](plat::MutableByteView b) { b.Put32(10, 0xFFFFFFF0u); }, 0, 0, false, 0},
      {"file ends in the header", [](plat::MutableByteView) {}, 30, 30, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = Bitmap(150, 70);
    c.damage(plat::MutableByteView(bytes));
    const plat::ByteView all(bytes);
    const std::optional<BitmapSize> size =
        ReadBitmapSize(c.head == 0 ? all : all.First(c.head), c.file_size == 0 ? bytes.size() : c.file_size);
    ASSERT_EQ(size.has_value(), c.read);
    if (c.read) {
      EXPECT_EQ(size->width, 150);
      EXPECT_EQ(size->height, c.height);
    }
  }
  // A core header (12 bytes, 16-bit sizes).
  std::vector<uint8_t> core(14 + 12 + 4, 0);
  const plat::MutableByteView view(core);
  view.Put8(0, 'B'), view.Put8(1, 'M'), view.Put32(10, 26), view.Put32(14, 12);
  view.Put16(18, 199), view.Put16(20, 65), view.Put16(22, 1), view.Put16(24, 24);
  const std::optional<BitmapSize> size = ReadBitmapSize(plat::ByteView(core), core.size());
  ASSERT_TRUE(size);
  EXPECT_TRUE(IsRefusedBitmapSize(*size));
}

class ExePropertiesPageTest : public brankel_test::WizardTest {};

TEST_F(ExePropertiesPageTest, LeavingForwardChecksNameTipsPictureAndIcon) {
  Prepare();
  auto write = [&](const char16_t* name, const std::vector<uint8_t>& bytes) {
    Write(name, std::string(bytes.begin(), bytes.end()));
  };
  write(u"400x70.bmp", Bitmap(400, 70));
  write(u"150x70.bmp", Bitmap(150, 70));
  write(u"150x64.bmp", Bitmap(150, 64));
  write(u"good.ico", brankel_test::MakeIconFile({16, 32}, 3));
  Write(u"bad.ico", "not an icon");
  Write(u"bad.bmp", "not a bitmap");
  ASSERT_TRUE(plat::CreateDirectory(Path(u"folder.ico")));

  struct Case {
    std::u16string name;
    std::u16string tips;
    bool startup;
    std::u16string picture;
    std::u16string icon;
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
      {u"Demo", u"", false, u"", Path(u"good.ico"), nullptr, 0},
      {u"Demo", u"", false, u"", Path(u"none.ico"), u"IDS_ERR_FINDICONFILE", 0},
      {u"Demo", u"", false, u"", Path(u"bad.ico"), u"IDS_ERR_LOADICON", 0},
      {u"Demo", u"", false, u"", Path(u"folder.ico"), u"IDS_ERR_LOADICON", 0},
      {u"Demo", u"", false, u"C:\\" + std::u16string(300, u'p') + u".bmp", u"", u"IDS_ERR_FINDBMPFILE", 0},
  };
  ExePropertiesPage& page = flow_->Properties();
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name + u"|" + c.picture + u"|" + c.icon));
    const project::MakeExeOptions before = flow_->Session().Record();
    ExeProperties values = page.Initial();
    values.name = c.name, values.tips = c.tips, values.show_startup = c.startup;
    values.picture = c.picture, values.icon = c.icon;
    const LeaveResult left = page.LeaveForward(values);
    const std::vector<std::u16string> keys = TakeKeys();
    EXPECT_EQ(left.proceed, c.key == nullptr);
    EXPECT_EQ(left.focus, c.focus);
    EXPECT_EQ(keys, c.key == nullptr ? std::vector<std::u16string>{} : std::vector<std::u16string>{c.key});
    if (c.key != nullptr) {
      EXPECT_EQ(std::memcmp(&before, &flow_->Session().Record(), sizeof(before)), 0) << "nothing is stored";
    } else {
      EXPECT_EQ(project::FieldText(flow_->Session().Record().PicturePath), Trimmed(c.picture));
    }
  }
}

TEST_F(ExePropertiesPageTest, StoresTrimmedNameUntrimmedAddressAndCutsToTheFields) {
  Prepare();
  ExePropertiesPage& page = flow_->Properties();
  ExeProperties values = page.Initial();
  values.name = u"  " + std::u16string(130, u'n') + u"  ";
  values.url = u" http://example.test ";
  values.tips = std::u16string(300, u't');
  values.show_startup = true;
  values.reset_version = true;
  ASSERT_TRUE(page.LeaveForward(values).proceed);
  const project::MakeExeOptions& record = flow_->Session().Record();
  EXPECT_EQ(project::FieldText(record.ExeName), std::u16string(129, u'n'));
  EXPECT_EQ(project::FieldText(record.RelatedUrl), u" http://example.test ");
  EXPECT_EQ(project::FieldText(record.AuthorTips), std::u16string(259, u't'));
  EXPECT_EQ(record.ShowStartup, 1);
  EXPECT_EQ(record.ResetVersion, 1);
  const ExeProperties again = page.Initial();
  EXPECT_EQ(again.name, std::u16string(129, u'n'));
  EXPECT_TRUE(again.show_startup);
}

}  // namespace
}  // namespace wizard
