#include "app/startup.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "app/lang_file.h"
#include "app/os_kind.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/machine_config.h"
#include "support/scratch.h"

namespace app {
namespace {

using brankel_test::Narrow;
using brankel_test::WriteBytes;

TEST(OsKind, EveryRowAndBoundary) {
  constexpr uint8_t ws = kProductWorkstation, srv = kProductServer, dc = kProductDomainController;
  struct Case {
    uint32_t platform, major, minor;
    uint8_t product;
    uint32_t real_major, real_minor, real_build, kind;
  };
  const Case cases[] = {
      {0, 3, 1, 0, 0, 0, 0, 0},          {1, 4, 0, 0, 0, 0, 0, 0},         {1, 4, 10, 0, 0, 0, 0, 1},
      {1, 4, 90, 0, 0, 0, 0, 1},         {1, 5, 0, 0, 0, 0, 0, 1},         {2, 4, 0, ws, 0, 0, 0, 2},
      {2, 5, 0, ws, 0, 0, 0, 3},         {2, 5, 1, ws, 0, 0, 0, 4},        {2, 5, 2, ws, 0, 0, 0, 4},
      {2, 5, 2, srv, 0, 0, 0, 5},        {2, 5, 2, dc, 0, 0, 0, 5},        {2, 6, 0, ws, 6, 0, 6000, 6},
      {2, 6, 0, srv, 6, 0, 6001, 7},     {2, 6, 1, srv, 6, 1, 7600, 8},    {2, 6, 1, ws, 6, 1, 7601, 9},
      {2, 6, 2, ws, 6, 2, 9200, 10},     {2, 6, 2, ws, 6, 3, 9600, 11},    {2, 6, 2, srv, 6, 2, 9200, 12},
      {2, 6, 2, dc, 6, 3, 9600, 13},     {2, 6, 2, ws, 0, 0, 0, 10},       {2, 6, 2, ws, 10, 0, 21999, 14},
      {2, 6, 2, ws, 10, 0, 22000, 17},   {2, 6, 2, srv, 10, 0, 17699, 15}, {2, 6, 2, srv, 10, 0, 17700, 16},
      {2, 6, 2, srv, 10, 0, 19999, 16},  {2, 6, 2, dc, 10, 0, 20000, 18},  {2, 10, 0, ws, 10, 0, 22631, 14},
      {2, 10, 0, srv, 10, 0, 20348, 14}, {2, 7, 0, ws, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyOsKind(c.platform, c.major, c.minor, c.product, c.real_major, c.real_minor, c.real_build), c.kind)
        << c.platform << " " << c.major << "." << c.minor << " product " << int{c.product} << " real " << c.real_major
        << "." << c.real_minor << "." << c.real_build;
  }
}

TEST(StartupRules, CommandLineAndPaths) {
  EXPECT_EQ(ScriptPathFromCommandLine(u"  \t C:\\a b\\s.msd \r\n"), u"C:\\a b\\s.msd");
  EXPECT_EQ(ScriptPathFromCommandLine(u" \"C:\\s.msd\" "), u"\"C:\\s.msd\"");
  EXPECT_EQ(ScriptPathFromCommandLine(u"\u3000\u00A0 \v\f"), u"");
  EXPECT_EQ(ScriptPathFromCommandLine(u"x\u200B"), u"x\u200B") << "zero width space is not white space";

  EXPECT_EQ(ProgramFolderOf(u"C:\\Program Files\\Brankel\\Brankel.EXE"), u"c:\\program files\\brankel\\");
  EXPECT_FALSE(ProgramFolderOf(u"Brankel.exe"));
  EXPECT_EQ(FolderOfPath(u"C:\\m\\s.msd"), u"C:\\m\\");
  EXPECT_EQ(FolderOfPath(u"s.msd"), u"");
  EXPECT_EQ(FileNameOfPath(u"C:\\m\\s.msd"), u"s.msd");
  EXPECT_EQ(FileNameOfPath(u"s.msd"), u"s.msd");
  EXPECT_EQ(FileNameOfPath(u"C:"), u"");
  EXPECT_EQ(FileNameOfPath(u"C:\\m\\"), u"");
}

TEST(StartupRules, FileChooserFilter) {
  using namespace std::string_literals;
  EXPECT_EQ(FileChooserFilter(u"Scripts (*.msd)\\0*.msd\\0"), u"Scripts (*.msd)\0*.msd\0\0"s);
  EXPECT_EQ(FileChooserFilter(u"A\\0*.a"), u"A\0*.a\0\0"s);
  EXPECT_EQ(FileChooserFilter(u"IDS_FILEFILTER_SPT"), u"IDS_FILEFILTER_SPT\0IDS_FILEFILTER_SPT\0\0"s);
  EXPECT_EQ(FileChooserFilter(u"a\\1\\"), u"a\\1\\\0a\\1\\\0\0"s);
  // The cut comes before the separators are read: a pair split by it is no separator.
  const std::u16string long_text = std::u16string(256, u'x') + u"\\0*.x\\0";
  EXPECT_EQ(FileChooserFilter(long_text),
            std::u16string(256, u'x') + u"\\" + u'\0' + std::u16string(256, u'x') + u"\\" + u"\0\0"s);
}

TEST(StartupRules, Versions) {
  struct Case {
    uint32_t ms, ls;
    bool library_ok, sibling_ok;
  };
  const Case cases[] = {
      {0x00010000, 0x00000001, false, false},  // 1.0.0.1
      {0x00010000, 0x00000002, true, false},   // 1.0.0.2
      {0x00001001, 0x00000002, true, false},   // 0.4097.0.2
      {0x00001000, 0x00000002, false, false},  // 0.4096.0.2
      {0x00040003, 0x00000000, false, true},   // 4.3
      {0x0004000F, 0x00000000, false, true},   // 4.15
      {0x00040010, 0x00000000, false, false},  // 4.16
      {0x00050000, 0x00000000, false, false},  // 5.0
      {0x00140001, 0x00000002, true, true},    // 20.1
  };
  for (const Case& c : cases) {
    FixedFileVersion v;
    v.file_ms = v.product_ms = c.ms;
    v.file_ls = v.product_ls = c.ls;
    EXPECT_EQ(UiLibraryVersionOk(v), c.library_ok) << std::hex << c.ms << "." << c.ls;
    EXPECT_EQ(SiblingVersionOk(v), c.sibling_ok) << std::hex << c.ms;
  }
  EXPECT_EQ(ResolveSystemColours(2, 9), 1);
  EXPECT_EQ(ResolveSystemColours(2, 5), 0);
  EXPECT_EQ(ResolveSystemColours(2, 6), 1);
  EXPECT_EQ(ResolveSystemColours(0, 9), 0);
  EXPECT_EQ(ResolveSystemColours(1, 4), 1);
}

// Records what start-up asks of the system, with the answers a case sets.
class FakeHost : public StartupHost {
 public:
  std::u16string module_path;
  uint32_t os_kind = 9;
  bool ui_object = true, skin = true;
  bool choose_file = false, choose_folder = false;
  std::u16string chosen_folder;
  int answer = kIdNo;
  std::map<std::u16string, FixedFileVersion> versions;  // by lower-cased file name
  std::vector<std::string> events;

  std::u16string ModulePath() override { return module_path; }
  uint32_t OsKind() override { return os_kind; }
  void ShowStringResource(uint32_t id) override { events.push_back("string " + std::to_string(id)); }
  int MessageByKey(const char16_t* key, uint32_t type, const std::vector<std::u16string>& args) override {
    std::string event = Narrow(key) + " " + std::to_string(type);
    for (const std::u16string& arg : args) event += " [" + Narrow(arg) + "]";
    events.push_back(event);
    return (type & kMbButtonMask) == kMbYesNo ? answer : kIdOk;
  }
  bool ChooseFolder(std::u16string& folder, std::u16string_view title) override {
    events.push_back("folder chooser " + Narrow(title));
    if (choose_folder) folder = chosen_folder;
    return choose_folder;
  }
  bool ChooseFile(std::u16string&, const char16_t* filter_key) override {
    events.push_back("file chooser " + Narrow(filter_key));
    return choose_file;
  }
  bool FileExists(std::u16string_view path) override { return plat::FileExists(path) && !plat::IsDirectory(path); }
  bool DirectoryExists(std::u16string_view path) override { return plat::IsDirectory(path); }
  bool ReadFileVersion(std::u16string_view path, FixedFileVersion* version) override {
    const auto it = versions.find(plat::ToLower(FileNameOfPath(path)));
    if (it == versions.end()) return false;
    *version = it->second;
    return true;
  }
  std::u16string CurrentDirectory() override { return u"C:\\"; }
  bool SetCurrentDirectory(std::u16string_view path) override {
    events.push_back("current directory " + Narrow(path));
    return true;
  }
  void SetLocale(std::u16string_view locale) override { events.push_back("locale " + Narrow(locale)); }
  void ShellOpen(std::u16string_view target) override { events.push_back("open " + Narrow(target)); }
  bool CreateUiObject() override { return ui_object; }
  bool LoadSkin(std::u16string_view library, int32_t, int32_t, int32_t) override {
    events.push_back("skin " + Narrow(FileNameOfPath(library)));
    return skin;
  }
  void SetFont(std::u16string_view, int32_t) override {}
  void UseSystemColours(bool use) override { events.push_back(use ? "system colours" : "skin colours"); }
  void LanguageReady() override { events.push_back("language ready"); }
  void RunWizard(CBrankelApp& app) override { events.push_back("wizard " + Narrow(FileNameOfPath(app.ScriptPath()))); }
};

FixedFileVersion Version(uint32_t ms, uint32_t ls) {
  FixedFileVersion v;
  v.file_ms = v.product_ms = ms;
  v.file_ls = v.product_ls = ls;
  return v;
}

class StartupTest : public brankel_test::MachineConfigTest {
 protected:
  void SetUp() override {
    MachineConfigTest::SetUp();
    if (IsSkipped()) return;
    app_ = CBrankelApp();
    host_ = FakeHost();
    damage_ = false;
    with_error_file_ = data_exists_ = true;
    app_.SetConfigurationWait(100);
    root_ = common_ + u"\\Velmora\\";
    program_ = root_ + u"Install\\";
    data_ = root_ + u"Macros\\";
    general_ = "[General]\r\nLanguage=en\r\nDataPath=" + Narrow(data_) + "\r\n";
    main_language_ =
        "[Header]\r\nLocale=English\r\nCRC=\r\n[String]\r\nIDS_MES_SELECTMACROFOLDER=Pick one\r\n"
        "IDS_URL_DOWNLOAD=https://example.invalid/get\r\n";
    host_.module_path = program_ + u"Brankel.exe";
    host_.versions[u"vllib_ui_defresu.dll"] = Version(0x00010001, 0x00000002);
    host_.versions[u"deskvale.exe"] = Version(0x00040003, 0);
  }

  // Writes the installation as the case left it, runs start-up and returns its end.
  StartupEnd Run(std::u16string_view command_tail) {
    Install(general_, "");
    plat::CreateDirectory(program_);
    plat::CreateDirectory(program_ + u"sysdata");
    plat::CreateDirectory(data_);
    const std::u16string main_file = program_ + u"sysdata\\Packager_en.lng";
    EXPECT_TRUE(WriteBytes(main_file, main_language_));
    std::u16string message;
    EXPECT_TRUE(SignLanguageFile(main_file, &message)) << Narrow(message);
    if (damage_) {
      std::string bytes = brankel_test::ReadBytes(main_file);
      bytes += "IDS_EXTRA=added after signing\r\n";
      EXPECT_TRUE(WriteBytes(main_file, bytes));
    }
    if (with_error_file_) {
      EXPECT_TRUE(WriteBytes(program_ + u"sysdata\\errormsg_en.lng", "[String]\r\nA=b\r\n"));
    }
    if (!data_exists_) brankel_test::RemoveTree(data_);
    EXPECT_TRUE(WriteBytes(program_ + u"s.msd", "script"));
    Startup startup(app_, host_);
    return startup.Run(command_tail);
  }

 public:  // the cases of a table arrange these
  CBrankelApp app_;
  FakeHost host_;
  std::u16string root_, program_, data_;
  std::string general_, main_language_;
  bool damage_ = false, with_error_file_ = true, data_exists_ = true;
};

TEST_F(StartupTest, EachFailureEndsWithItsMessage) {
  struct Case {
    const char* name;
    std::function<void(StartupTest&)> arrange;
    StartupEnd end;
    const char* last_event;
  };
  const Case cases[] = {
      {"no backslash", [](StartupTest& t) { t.host_.module_path = u"Brankel.exe"; }, StartupEnd::kNoProgramFolder,
       "string 104"},
      {"configuration", [](StartupTest& t) { t.general_ += "Cmd.exe=\r\n"; }, StartupEnd::kConfigurationFailed,
       "string 107"},
      {"ui object", [](StartupTest& t) { t.host_.ui_object = false; }, StartupEnd::kUiObjectFailed, "string 103"},
      {"language file", [](StartupTest& t) { t.with_error_file_ = false; }, StartupEnd::kLanguageFileFailed,
       "string 102"},
      {"skin", [](StartupTest& t) { t.host_.skin = false; }, StartupEnd::kUiLibraryFailed, "string 105"},
      {"library 1.0.0.1", [](StartupTest& t) { t.host_.versions[u"vllib_ui_defresu.dll"] = Version(0x10000, 1); },
       StartupEnd::kUiLibraryVersion, "IDS_ERR_UIDLL_WRONVER 16"},
      {"library without version", [](StartupTest& t) { t.host_.versions.erase(u"vllib_ui_defresu.dll"); },
       StartupEnd::kUiLibraryVersion, "IDS_ERR_UIDLL_WRONVER 16"},
      {"damaged language file", [](StartupTest& t) { t.damage_ = true; }, StartupEnd::kLanguageFileDamaged,
       "IDS_ERR_INVALID_RESFILE 16"},
      {"macro folder cancelled", [](StartupTest& t) { t.data_exists_ = false; }, StartupEnd::kMacroFolderCancelled,
       "folder chooser Pick one"},
      {"spaces only, cancelled", [](StartupTest&) {}, StartupEnd::kScriptChoiceCancelled,
       "file chooser IDS_FILEFILTER_SPT"},
      {"sibling 5.0, No", [](StartupTest& t) { t.host_.versions[u"deskvale.exe"] = Version(0x50000, 0); },
       StartupEnd::kSiblingVersionDeclined, "IDS_ERR_MANAGER_WRONVER 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.arrange(*this);
    const bool spaces = std::string(c.name).find("spaces") != std::string::npos;
    EXPECT_EQ(Run(spaces ? u"   " : u"  " + program_ + u"s.msd "), c.end);
    ASSERT_FALSE(host_.events.empty());
    EXPECT_EQ(host_.events.back(), c.last_event);
    for (const std::string& event : host_.events) EXPECT_EQ(event.find("wizard"), std::string::npos);
  }
}

TEST_F(StartupTest, SiblingWithoutVersionNamesItsPath) {
  host_.versions.erase(u"deskvale.exe");
  EXPECT_EQ(Run(program_ + u"s.msd"), StartupEnd::kSiblingNoVersion);
  EXPECT_EQ(host_.events.back(), "IDS_ERR_GETVERSION 16 [" + Narrow(plat::ToLower(program_)) + "Deskvale.exe]");
}

TEST_F(StartupTest, QuotedScriptIsMissing) {
  const std::u16string quoted = u"\"" + program_ + u"s.msd\"";
  EXPECT_EQ(Run(u" " + quoted), StartupEnd::kScriptMissing);
  EXPECT_EQ(host_.events.back(), "IDS_ERR_SCRIPTFILENOTEXIST 16 [" + Narrow(quoted) + "]");
}

TEST_F(StartupTest, ValidScriptReachesTheWizard) {
  host_.os_kind = 4;
  EXPECT_EQ(Run(program_ + u"s.msd"), StartupEnd::kWizardRan);
  const std::vector<std::string> expected = {"locale English", "skin vllib_ui_defresu.dll", "language ready",
                                             "current directory " + Narrow(program_), "wizard s.msd"};
  EXPECT_EQ(host_.events, expected) << "kind 4 keeps the skin's colours";
  EXPECT_EQ(app_.ScriptFolder(), program_);
  EXPECT_EQ(app_.HelpFilePath(), plat::ToLower(program_) + u"Brankel.chm");
  ASSERT_NE(app_.LanguageTable(), nullptr);
}

TEST_F(StartupTest, AnswersThatContinue) {
  struct Case {
    const char* name;
    std::function<void(StartupTest&)> arrange;
    std::vector<std::string> expected_part;  // in this order, among the events
  };
  const std::string script = Narrow(program_) + "s.msd";
  const Case cases[] = {
      {"sibling 5.0, Yes opens the address",
       [](StartupTest& t) {
         t.host_.versions[u"deskvale.exe"] = Version(0x50000, 0);
         t.host_.answer = kIdYes;
       },
       {"IDS_ERR_MANAGER_WRONVER 20", "open https://example.invalid/get", "wizard s.msd"}},
      {"sibling 4.16, Yes with an empty address opens nothing",
       [](StartupTest& t) {
         t.host_.versions[u"deskvale.exe"] = Version(0x40010, 0);
         t.host_.answer = kIdYes;
         t.main_language_ = "[Header]\r\nCRC=\r\n[String]\r\nIDS_URL_DOWNLOAD=\r\n";
       },
       {"IDS_ERR_MANAGER_WRONVER 20", "wizard s.msd"}},
      {"a chosen macro folder is tested again",
       [](StartupTest& t) {
         t.data_exists_ = false;
         t.host_.choose_folder = true;
         t.host_.chosen_folder = t.program_;
       },
       {"IDS_ERR_INVALID_MACROFOLDER 16 [" + Narrow(data_) + "]", "folder chooser Pick one", "wizard s.msd"}},
      {"automatic system colours on kind 9",
       [](StartupTest& t) { t.host_.os_kind = 9; },
       {"system colours", "language ready", "wizard s.msd"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.arrange(*this);
    EXPECT_EQ(Run(u"\t" + program_ + u"s.msd"), StartupEnd::kWizardRan);
    std::vector<std::string> seen;
    for (const std::string& event : host_.events) {
      for (const std::string& wanted : c.expected_part) {
        if (event == wanted) seen.push_back(event);
      }
    }
    EXPECT_EQ(seen, c.expected_part);
    for (const std::string& event : host_.events) {
      if (c.expected_part.size() == 2) {
        EXPECT_NE(event.rfind("open", 0), 0u) << event;
      }
    }
  }
}

}  // namespace
}  // namespace app
