// `brankel pe` on executables made by the test builder (and the fixture programs when this
// build has them): what `info` reports against the file's own bytes, the edits as the
// report then shows them, and failures that name the file and leave it untouched.
#include "cli/pe_command.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/res_string.h"
#include "app/system_error.h"
#include "app/text_format.h"
#include "pe/pe_image.h"
#include "pe/pe_resources.h"
#include "pe/resource_edits.h"
#include "pe/version_info.h"
#include "platform/file_io.h"
#include "support/fixtures.h"
#include "support/image_files.h"
#include "support/pe_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace cli {
namespace {

using brankel_test::CliOutput;
using brankel_test::LayoutOf;
using brankel_test::MakeBitmapFile;
using brankel_test::MakeIconFile;
using brankel_test::Narrow;
using brankel_test::PeBuilder;
using brankel_test::Read16;
using brankel_test::Read32;
using brankel_test::ReferenceChecksum;
using brankel_test::RunCli;
using brankel_test::Write32;
using nlohmann::json;
using Bytes = std::vector<uint8_t>;

// A version block node: lengths, type, key, value and children, each piece 4-aligned.
Bytes VersionNode(std::u16string_view key, const Bytes& value, bool text, const std::vector<Bytes>& children = {}) {
  Bytes out(6, 0);
  for (char16_t c : std::u16string(key) + u'\0')
    out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  out.resize((out.size() + 3) & ~size_t{3}, 0);
  out.insert(out.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    out.resize((out.size() + 3) & ~size_t{3}, 0);
    out.insert(out.end(), child.begin(), child.end());
  }
  brankel_test::Write16(out, 0, static_cast<uint16_t>(out.size()));
  brankel_test::Write16(out, 2, static_cast<uint16_t>(text ? value.size() / 2 : value.size()));
  brankel_test::Write16(out, 4, text ? 1 : 0);
  return out;
}

Bytes VersionText(std::u16string_view key, std::u16string_view value) {
  Bytes bytes;
  for (char16_t c : std::u16string(value) + u'\0')
    bytes.insert(bytes.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  return VersionNode(key, bytes, true);
}

// Fixed numbers 1.2.3.4 (file) and 5.6.7.8 (product), FileVersion "7.6 text", and a
// translation unless `translated` is false.
Bytes VersionBlock(bool translated) {
  Bytes fixed(52, 0);
  for (auto [at, value] :
       {std::pair{0, 0xFEEF04BDu}, {4, 0x10000u}, {8, 0x10002u}, {12, 0x30004u}, {16, 0x50006u}, {20, 0x70008u}}) {
    Write32(fixed, at, value);
  }
  std::vector<Bytes> children = {
      VersionNode(u"StringFileInfo", {}, true,
                  {VersionNode(u"040904b0", {}, true,
                               {VersionText(u"CompanyName", u"Acme Widgets"), VersionText(u"FileVersion", u"7.6 text"),
                                VersionText(u"ProductName", u"Widget")})})};
  if (translated) {
    children.push_back(
        VersionNode(u"VarFileInfo", {}, true, {VersionNode(u"Translation", {0x09, 0x04, 0xB0, 0x04}, false)}));
  }
  return VersionNode(u"VS_VERSION_INFO", fixed, false, children);
}

struct Resource {
  uint16_t type, id;
  Bytes data;
};

// Two sections, then (when `resources` is given) a ".rsrc" section holding them, either
// last or in the middle where it cannot grow.
PeBuilder Image(bool pe32plus, std::vector<Resource> resources = {}, bool rsrc_last = true) {
  PeBuilder b;
  b.pe32plus = pe32plus;
  b.imports = {"KERNEL32.dll", "USER32.dll"};
  b.import_slot = 1;
  b.section_count = resources.empty() ? 2 : 3;
  if (!resources.empty()) {
    b.rsrc_slot = rsrc_last ? 2 : 0;
    b.resources = [resources](uint32_t rva) {
      pe::ResourceTable table;
      for (const Resource& r : resources) table.Update(r.type, r.id, 0, r.data.data(), r.data.size());
      return table.Serialize(rva);
    };
  }
  return b;
}

// The English text the installation gives for `key` with `argument`, as a console shows it.
std::string EnglishText(const char* key, const std::u16string& argument) {
  app::CVLResString table;
  const std::u16string sysdata = plat::PathFromHost(BRANKEL_INSTALL_DIR) + u"\\sysdata\\";
  EXPECT_TRUE(table.LoadFile(sysdata + u"Packager_en.lng"));
  std::u16string format;
  EXPECT_TRUE(table.GetString(format, plat::AsciiToUtf16(key))) << key;
  std::string text = Narrow(app::FormatText(format, {argument}));
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

std::string SystemText(uint32_t code) {
  char16_t buffer[512];
  app::FormatSystemError(code, buffer, 512, false);
  std::string text = Narrow(buffer);
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

class PeCommandTest : public brankel_test::ScratchTest {
 protected:
  std::string File(std::u16string_view name) const { return Narrow(Path(name)); }
  void Put(std::u16string_view name, const Bytes& bytes) {
    ASSERT_TRUE(brankel_test::WriteBytes(Path(name), std::string(bytes.begin(), bytes.end())));
  }
  Bytes Get(std::u16string_view name) const {
    const std::string text = brankel_test::ReadBytes(Path(name));
    return Bytes(text.begin(), text.end());
  }
  json Info(std::u16string_view name) {
    const CliOutput run = RunCli({"pe", "info", "--json", File(name)});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return json::parse(run.out, nullptr, false);
  }
  // The edited file's resources, read back by the build's own reader.
  pe::ResourceTable Resources(std::u16string_view name) {
    pe::CPE_ImageEditor image;
    pe::ResourceTable table;
    EXPECT_TRUE(image.Load(Path(name)));
    EXPECT_TRUE(table.Read(image));
    return table;
  }
};

// Every key of the report, and each section against the header bytes of `file`.
void ExpectDescribes(const json& report, const Bytes& file) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : report.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"checksum", "file", "format", "imports", "notes", "resources", "sections",
                                            "size", "version"}));
  EXPECT_EQ(report["size"], file.size());
  EXPECT_EQ(report["format"], Read16(file, Read32(file, 0x3C) + 0x18) == 0x20B ? "PE32+" : "PE32");
  EXPECT_EQ(report["checksum"]["stored"], Read32(file, Read32(file, 0x3C) + 0x58));
  EXPECT_EQ(report["checksum"]["computed"], ReferenceChecksum(file));
  const auto layout = LayoutOf(file);
  const uint16_t count = Read16(file, layout.nt + 6);
  ASSERT_EQ(report["sections"].size(), count);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t h = layout.section_table + size_t{i} * 40;
    const json& s = report["sections"][i];
    EXPECT_EQ(s["name"], std::string(reinterpret_cast<const char*>(&file[h]),
                                     strnlen(reinterpret_cast<const char*>(&file[h]), 8)));
    EXPECT_EQ(s["virtual_size"], Read32(file, h + 8));
    EXPECT_EQ(s["virtual_address"], Read32(file, h + 12));
    EXPECT_EQ(s["raw_size"], Read32(file, h + 16));
    EXPECT_EQ(s["raw_pointer"], Read32(file, h + 20));
    EXPECT_EQ(s["characteristics"], Read32(file, h + 36));
  }
}

TEST_F(PeCommandTest, InfoReadsHeadersImportsAndChecksum) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "PE32+" : "PE32");
    Bytes file = Image(wide).Build();
    Put(u"a.exe", file);
    json report = Info(u"a.exe");
    ExpectDescribes(report, file);
    EXPECT_EQ(report["file"], File(u"a.exe"));
    EXPECT_EQ(report["imports"], json({"KERNEL32.dll", "USER32.dll"}));
    EXPECT_EQ(report["imports"], json(brankel_test::ImportNames(file)));
    EXPECT_EQ(report["resources"], json::array());
    EXPECT_TRUE(report["version"].is_null());
    EXPECT_EQ(report["notes"], json::array());
    EXPECT_EQ(report["checksum"]["matches"], false);  // the builder leaves it 0

    Write32(file, Read32(file, 0x3C) + 0x58, ReferenceChecksum(file));
    Put(u"a.exe", file);
    EXPECT_EQ(Info(u"a.exe")["checksum"]["matches"], true);

    // The text form: the same facts, section fields in hexadecimal.
    const CliOutput text = RunCli({"pe", "info", File(u"a.exe")});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find(std::string("format: ") + (wide ? "PE32+" : "PE32") + "\n"), std::string::npos);
    EXPECT_NE(text.out.find("name=.text  virtual_address=0x00001000  virtual_size=0x00000180"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  USER32.dll\n"), std::string::npos);
  }
}

TEST_F(PeCommandTest, DamagedImportTableEndsTheListWithANote) {
  const Bytes good = Image(false).Build();
  const auto layout = LayoutOf(good);
  const uint32_t idata = Read32(good, layout.directories + 8);
  const uint32_t idata_at = layout.import_table;
  const uint32_t kernel_name = Read32(good, idata_at + 12);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
    size_t count;
    const char* note;
  };
  const Case cases[] = {
      {"table outside the sections", [&](Bytes& f) { Write32(f, layout.directories + 8, 0x7FFF0000); }, 0,
       "import table: entry 0 lies outside the sections' data"},
      {"second name outside", [&](Bytes& f) { Write32(f, idata_at + 20 + 12, 0x7FFF0000); }, 1,
       "import table: the name of entry 1 lies outside the sections' data"},
      {"first name without its end",
       [&](Bytes& f) {
         const uint32_t end = idata_at + 0x200;  // the section's raw end
         for (uint32_t at = end - 8; at < end; ++at) f[at] = 'x';
         Write32(f, idata_at + 12, idata + 0x200 - 8);
       },
       0, "import table: the name of entry 0 does not end inside its section"},
      // Entries from the terminator on all name the first library; the last whole entry
      // ends 12 bytes before the section does.
      {"no terminator before the section's end",
       [&](Bytes& f) {
         for (uint32_t at = idata_at + 40; at + 20 <= idata_at + 0x200; at += 20) Write32(f, at + 12, kernel_name);
       },
       25, "import table: entry 25 lies outside the sections' data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = good;
    c.damage(file);
    Put(u"d.exe", file);
    const json report = Info(u"d.exe");
    EXPECT_EQ(report["notes"], json({c.note}));
    ASSERT_EQ(report["imports"].size(), c.count);
    if (c.count > 0) {
      EXPECT_EQ(report["imports"][0], "KERNEL32.dll");
      EXPECT_EQ(report["imports"][c.count - 1], "KERNEL32.dll");
    }
    EXPECT_EQ(report["sections"].size(), 2u);  // the rest of the report is still there
  }
}

// The editor takes at most 260 descriptors, the terminator included.
TEST_F(PeCommandTest, ImportListStopsWhereTheEditorDoes) {
  for (size_t libraries : {259u, 260u}) {
    SCOPED_TRACE(libraries);
    PeBuilder b = Image(false);
    b.imports.clear();
    for (size_t i = 0; i < libraries; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "L%zu.dll", 1000 + i);
      b.imports.push_back(name);
    }
    Put(u"many.exe", b.Build());
    const json report = Info(u"many.exe");
    ASSERT_EQ(report["imports"].size(), 259u);
    EXPECT_EQ(report["imports"][258], "L1258.dll");
    EXPECT_EQ(report["notes"],
              libraries == 259 ? json::array() : json({"import table: no terminating entry within 260 entries"}));
  }
}

TEST_F(PeCommandTest, SetIconWritesGroupAndImagesWithCorrectChecksum) {
  Put(u"a.exe", Image(true).Build());
  const Bytes icon = MakeIconFile({16, 32}, 0x21);
  Put(u"a.ico", icon);
  CliOutput run = RunCli({"pe", "set-icon", File(u"a.exe"), File(u"a.ico")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, File(u"a.exe") + ": icon group 107 replaced with 2 images\n");

  json report = Info(u"a.exe");
  ExpectDescribes(report, Get(u"a.exe"));
  EXPECT_EQ(report["checksum"]["matches"], true);
  EXPECT_EQ(report["sections"].back()["name"], ".rsrc");
  auto entry = [](int type, const char* type_name, int name, uint32_t size) {
    return json{{"type", type},  {"type_name", type_name}, {"name", name},
                {"language", 0}, {"code_page", 0},         {"size", size}};
  };
  EXPECT_EQ(report["resources"],
            json({entry(3, "ICON", 1, Read32(icon, 6 + 8)), entry(3, "ICON", 2, Read32(icon, 22 + 8)),
                  entry(14, "GROUP_ICON", 107, 6 + 2 * 14)}));
  const pe::ResourceTable written = Resources(u"a.exe");
  const pe::ResourceItem* second = written.Find(3, 2, 0);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->data, Bytes(icon.begin() + Read32(icon, 22 + 12), icon.end()));

  // Another group takes the next free icon numbers.
  Put(u"b.ico", MakeIconFile({48}, 0x22));
  run = RunCli({"pe", "set-icon", "--group", "5", File(u"a.exe"), File(u"b.ico")});
  ASSERT_EQ(run.code, 0) << run.err;
  report = Info(u"a.exe");
  EXPECT_EQ(report["checksum"]["matches"], true);
  ASSERT_EQ(report["resources"].size(), 5u);
  EXPECT_EQ(report["resources"][2]["name"], 3);
  EXPECT_EQ(report["resources"][3]["name"], 5);
  EXPECT_EQ(report["resources"][4]["name"], 107);
}

TEST_F(PeCommandTest, SetBitmapWritesThePictureUnderAnyNumber) {
  Put(u"a.exe", Image(false).Build());
  const Bytes picture = MakeBitmapFile(9, 5, 24, 0x40);
  Put(u"a.bmp", picture);
  ASSERT_EQ(RunCli({"pe", "set-bitmap", File(u"a.exe"), File(u"a.bmp")}).code, 0);
  CliOutput run = RunCli({"pe", "set-bitmap", "--id", "400", File(u"a.exe"), File(u"a.bmp")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, File(u"a.exe") + ": bitmap 400 replaced\n");

  const json report = Info(u"a.exe");
  ExpectDescribes(report, Get(u"a.exe"));
  EXPECT_EQ(report["checksum"]["matches"], true);
  ASSERT_EQ(report["resources"].size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(report["resources"][i]["type_name"], "BITMAP");
    EXPECT_EQ(report["resources"][i]["name"], i == 0 ? 352 : 400);
    EXPECT_EQ(report["resources"][i]["size"], picture.size() - 14);
  }
  const pe::ResourceTable written = Resources(u"a.exe");
  const pe::ResourceItem* item = written.Find(2, 400, 0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->data, Bytes(picture.begin() + 14, picture.end()));
}

TEST_F(PeCommandTest, BitmapEditMatchesTheStartupPictureEdit) {
  const Bytes exe = Image(false, {{10, 7, Bytes(40, 0x5C)}}).Build();
  Put(u"a.exe", exe);
  Put(u"b.exe", exe);
  Put(u"a.bmp", MakeBitmapFile(30, 20, 8, 0x11));
  ASSERT_EQ(RunCli({"pe", "set-bitmap", File(u"a.exe"), File(u"a.bmp")}).code, 0);
  EXPECT_TRUE(pe::ReplaceStartupPicture(Path(u"b.exe"), Path(u"a.bmp")).Succeeded());
  EXPECT_EQ(Get(u"a.exe"), Get(u"b.exe"));
}

TEST_F(PeCommandTest, FailuresNameTheFileAndLeaveTheExecutableAlone) {
  const Bytes exe = Image(false, {{14, 107, Bytes(3, 1)}}).Build();  // a group too short to read
  const Bytes cursor = [] {
    Bytes c = MakeIconFile({16}, 1);
    c[2] = 2;
    return c;
  }();
  const Bytes cut_icon = [] {
    const Bytes whole = MakeIconFile({16}, 1);
    return Bytes(whole.begin(), whole.begin() + (whole.size() - 1));  // the last pixel byte missing
  }();
  struct Case {
    std::vector<std::string> args;  // after "pe"; "@x" is the scratch file x
    const char16_t* named;          // the file the message is about
    std::string message;            // after "brankel: FILE: "
  };
  const std::string sys_missing = SystemText(plat::err::kFileNotFound);
  const std::string sys_invalid = SystemText(plat::err::kInvalidData);
  const std::string dealplayer = EnglishText("IDS_ERR_EXEMACRO_DEALPLAYER", u"");
  const std::string no_picture = "the bitmap file holds nothing after its file header";
  const std::string missing_exe = EnglishText("IDS_ERR_OPENFILE", Path(u"none.exe")) + "\n" + sys_missing;
  // The system's words for a file that is no program name it where they say "%1".
  const std::string bad_format = SystemText(plat::err::kBadExeFormat);
  ASSERT_NE(bad_format.find("%1"), std::string::npos) << bad_format;
  // ... followed by why the editor refused it.
  auto not_program = [&](std::u16string_view name, pe::PeRefusal why) {
    std::string text = bad_format;
    text.replace(text.find("%1"), 2, File(name));
    return text + "\n" + pe::PeRefusalText(why);
  };
  const std::string not_pe = not_program(u"text.exe", pe::PeRefusal::kNoDosSignature);
  const Case cases[] = {
      {{"info", "@none.exe"}, u"none.exe", missing_exe},
      {{"set-icon", "@none.exe", "@a.ico"}, u"none.exe", missing_exe},
      {{"set-bitmap", "@none.exe", "@a.bmp"}, u"none.exe", missing_exe},
      {{"blank-version", "@none.exe"}, u"none.exe", missing_exe},
      {{"info", "@text.exe"}, u"text.exe", not_pe},
      {{"set-bitmap", "@text.exe", "@a.bmp"}, u"text.exe", not_pe},
      {{"blank-version", "@empty.bmp"}, u"empty.bmp", not_program(u"empty.bmp", pe::PeRefusal::kTruncatedHeaders)},
      {{"set-icon", "@a.exe", "@cursor.ico"}, u"cursor.ico", EnglishText("IDS_ERR_LOADICON", u"") + "\n" + sys_invalid},
      {{"set-icon", "@a.exe", "@cut.ico"}, u"cut.ico", EnglishText("IDS_ERR_LOADICON", u"") + "\n" + sys_invalid},
      {{"set-icon", "@a.exe", "@empty.bmp"}, u"empty.bmp", EnglishText("IDS_ERR_LOADICON", u"") + "\n" + sys_invalid},
      {{"set-icon", "@a.exe", "@none.ico"}, u"none.ico", EnglishText("IDS_ERR_FINDICONFILE", u"") + "\n" + sys_missing},
      {{"set-icon", "--group", "107", "@a.exe", "@a.ico"},
       u"a.exe",
       dealplayer + sys_invalid + "\nthe executable's icon group is damaged or has too many images"},
      {{"set-bitmap", "@a.exe", "@empty.bmp"},
       u"empty.bmp",
       EnglishText("IDS_ERR_READFILE", Path(u"empty.bmp")) + "\n" + sys_invalid + "\n" + no_picture},
      {{"set-bitmap", "@a.exe", "@header.bmp"},
       u"header.bmp",
       EnglishText("IDS_ERR_READFILE", Path(u"header.bmp")) + "\n" + sys_invalid + "\n" + no_picture},
      {{"set-bitmap", "@a.exe", "@none.bmp"},
       u"none.bmp",
       EnglishText("IDS_ERR_OPENFILE", Path(u"none.bmp")) + "\n" + sys_missing},
      // The resource section sits before another section and cannot grow for the picture.
      {{"set-bitmap", "@mid.exe", "@a.bmp"},
       u"mid.exe",
       dealplayer + SystemText(plat::err::kNotSupported) + "\n" + pe::PeRefusalText(pe::PeRefusal::kSectionMayNotMove)},
      {{"blank-version", "@a.exe"},
       u"a.exe",
       "no version resource to empty\n" + SystemText(plat::err::kResourceTypeNotFound)},
      {{"blank-version", "@plain.exe"},
       u"plain.exe",
       "the version resource has no translation to find its texts by\n" + SystemText(plat::err::kResourceNameNotFound)},
  };
  const std::pair<const char16_t*, Bytes> files[] = {
      {u"a.exe", exe},
      {u"mid.exe", Image(false, {{10, 1, Bytes(16, 2)}}, false).Build()},
      {u"plain.exe", Image(true, {{16, 1, VersionBlock(false)}}).Build()},
      {u"text.exe", Bytes(300, 'z')},
      {u"a.ico", MakeIconFile({16}, 3)},
      {u"cursor.ico", cursor},
      {u"cut.ico", cut_icon},
      {u"empty.bmp", {}},
      {u"header.bmp", Bytes(14, 'B')},
      {u"a.bmp", MakeBitmapFile(64, 48, 24, 9)}};
  for (const auto& [name, bytes] : files) Put(name, bytes);

  for (const Case& c : cases) {
    std::vector<std::string> args = {"pe"};
    for (const std::string& arg : c.args) args.push_back(arg[0] == '@' ? File(plat::AsciiToUtf16(arg.substr(1))) : arg);
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const CliOutput run = RunCli(args);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "brankel: " + File(c.named) + ": " + c.message + "\n");
    for (const auto& [name, bytes] : files) EXPECT_EQ(Get(name), bytes) << Narrow(name);
    EXPECT_FALSE(plat::FileExists(Path(u"none.exe")));
  }
}

TEST_F(PeCommandTest, UsageErrorsExitWithTwo) {
  Put(u"a.exe", Image(false).Build());
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"pe"},
                                             {"pe", "info"},
                                             {"pe", "set-icon", File(u"a.exe")},
                                             {"pe", "set-icon", "--group", "0", File(u"a.exe"), "x.ico"},
                                             {"pe", "set-bitmap", "--id", "65536", File(u"a.exe"), "x.bmp"},
                                             {"pe", "set-bitmap", "--id", "many", File(u"a.exe"), "x.bmp"},
                                             {"pe", "blank-version"}}) {
    SCOPED_TRACE(args.back());
    EXPECT_EQ(RunCli(args).code, 2);
  }
}

TEST_F(PeCommandTest, VersionShownAndItsTextsEmptied) {
  Put(u"v.exe", Image(false, {{16, 1, VersionBlock(true)}, {24, 1, Bytes(20, '<')}}).Build());
  json report = Info(u"v.exe");
  const json version = {
      {"file_version", "7.6 text"}, {"fixed_file_version", "1.2.3.4"}, {"fixed_product_version", "5.6.7.8"}};
  EXPECT_EQ(report["version"], version);
  EXPECT_EQ(report["resources"][0]["type_name"], "VERSION");
  EXPECT_EQ(report["resources"][1]["type_name"], "MANIFEST");

  const CliOutput run = RunCli({"pe", "blank-version", File(u"v.exe")});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, File(u"v.exe") + ": version texts emptied\n");
  report = Info(u"v.exe");
  EXPECT_EQ(report["version"], version);  // FileVersion and the fixed numbers stay
  EXPECT_EQ(report["checksum"]["matches"], true);
  const pe::ResourceTable written = Resources(u"v.exe");
  const pe::ResourceItem* item = written.Find(16, 1, 0);
  ASSERT_NE(item, nullptr);
  for (const char16_t* name : {u"CompanyName", u"ProductName"}) {
    const auto value = pe::QueryVersionValue(item->data.data(), item->data.size(),
                                             std::u16string(u"\\StringFileInfo\\040904B0\\") + name);
    ASSERT_TRUE(value) << Narrow(name);
    EXPECT_GT(value->size, 0u);
    EXPECT_EQ(Bytes(item->data.begin() + value->offset, item->data.begin() + value->offset + value->size),
              Bytes(value->size, 0));
  }
}

TEST_F(PeCommandTest, DamagedResourceDirectoryIsANoteToInfoAndRefusesEdits) {
  Bytes file = Image(false, {{3, 1, Bytes(8, 1)}}).Build();
  const auto layout = LayoutOf(file);
  uint32_t root = 0;
  ASSERT_TRUE(brankel_test::MapRva(file, Read32(file, layout.directories + 16), &root));
  brankel_test::Write16(file, root + 14, 0x7FFF);  // far more entries than the section holds
  Put(u"r.exe", file);
  const json report = Info(u"r.exe");
  EXPECT_EQ(report["resources"], json::array());
  EXPECT_EQ(report["notes"], json({"resource directory: a resource table or data entry lies outside the resource "
                                   "section, no resources listed"}));
  EXPECT_TRUE(report["version"].is_null());
  // An edit cannot keep resources it cannot read: it refuses, with the table's reason.
  const CliOutput run = RunCli({"pe", "blank-version", File(u"r.exe")});
  EXPECT_EQ(run.code, 1);
  const std::string reason = std::string("\n") + pe::ResourceRefusalText(pe::ResourceRefusal::kTableOutside) + "\n";
  EXPECT_TRUE(run.err.ends_with(reason)) << run.err;
  EXPECT_EQ(Get(u"r.exe"), file);
}

// The programs the MinGW tools made: imports as a real linker lays them out, and the
// version block windres writes.
TEST_F(PeCommandTest, FixtureProgramsAsTheToolsMadeThem) {
  if (!brankel_test::FixturesAvailable()) GTEST_SKIP() << brankel_test::kNoFixtures;
  for (const char* name : {"fixture32.exe", "fixture64.exe"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(plat::CopyFile(brankel_test::FixturePath(name), Path(u"f.exe"), false));
    json report = Info(u"f.exe");
    ExpectDescribes(report, Get(u"f.exe"));
    bool kernel = false;
    for (const json& library : report["imports"]) {
      std::string text = library.get<std::string>();
      for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      kernel = kernel || text == "KERNEL32.DLL";
    }
    EXPECT_TRUE(kernel) << report["imports"].dump();
    EXPECT_EQ(report["version"]["file_version"], "1.2.3.4");
    EXPECT_EQ(report["version"]["fixed_file_version"], "1.2.3.4");

    const Bytes picture = MakeBitmapFile(20, 10, 24, 0x33);
    Put(u"p.bmp", picture);
    ASSERT_EQ(RunCli({"pe", "set-bitmap", File(u"f.exe"), File(u"p.bmp")}).code, 0);
    ASSERT_EQ(RunCli({"pe", "blank-version", File(u"f.exe")}).code, 0);
    report = Info(u"f.exe");
    ExpectDescribes(report, Get(u"f.exe"));
    EXPECT_EQ(report["checksum"]["matches"], true);
    bool found = false;
    for (const json& item : report["resources"]) {
      if (item["type_name"] == "BITMAP" && item["name"] == pe::kStartupPictureId) {
        found = true;
        EXPECT_EQ(item["size"], picture.size() - 14);
      }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(report["version"]["file_version"], "1.2.3.4");
  }
}

}  // namespace
}  // namespace cli
