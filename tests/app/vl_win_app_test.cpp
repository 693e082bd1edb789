#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "app/system_error.h"
#include "app/vl_win_app.h"
#include "platform/platform.h"

namespace app {
namespace {

class RecordingDisplay : public MessageDisplay {
 public:
  int Show(const MessageRequest& request) override {
    shown.push_back(request);
    return answer;
  }
  std::vector<MessageRequest> shown;
  int answer = kIdOk;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(
        table_.LoadText("[String]\r\n"
                        "IDS_ERR_OPENSCRIPT=Cannot open the script \"%s\".\r\n"
                        "IDS_LOGLEVEL_3=Everything\r\n"
                        "IDS_ERR_SAVE=Saving %s failed: %s\r\n"
                        "IDS_SECOND=More help here.\r\n"));
    app_.SetLanguageTable(&table_);
    app_.SetMessageDisplay(&display_);
  }
  const MessageRequest& Last() { return display_.shown.back(); }

  CVLResString table_;
  CVLWinApp app_;
  RecordingDisplay display_;
};

TEST_F(AppTest, GetTextForms) {
  std::u16string out;
  EXPECT_TRUE(app_.GetText(out, nullptr));
  EXPECT_EQ(out, u"");
  EXPECT_TRUE(app_.GetText(out, u"IDS_LOGLEVEL_%d", nullptr, 3));
  EXPECT_EQ(out, u"Everything");
  EXPECT_FALSE(app_.GetText(out, u"IDS_LOGLEVEL_%d", nullptr, 7));
  EXPECT_EQ(out, u"IDS_LOGLEVEL_7") << "a miss gives the key as formed";
  EXPECT_FALSE(app_.GetText(out, u"IDS_LOGLEVEL_%d", u"dflt", 7));
  EXPECT_EQ(out, u"dflt");
  CVLWinApp bare;
  EXPECT_FALSE(bare.GetText(out, u"IDS_ERR_OPENSCRIPT", u"ignored"));
  EXPECT_EQ(out, u"IDS_ERR_OPENSCRIPT") << "without a table the key itself";
}

TEST_F(AppTest, MessageBoxByKeyFormatsTheTextWithItsArguments) {
  EXPECT_EQ(app_.MessageBoxByKey(u"IDS_ERR_OPENSCRIPT", nullptr, kMbIconError, u"C:\\m\\a.msd"), kIdOk);
  EXPECT_EQ(Last().text, u"Cannot open the script \"C:\\m\\a.msd\".");
  EXPECT_EQ(Last().type, kMbIconError);
  EXPECT_EQ(Last().auto_answer, -1);
  app_.MessageBoxByKey(u"IDS_UNKNOWN_%s", nullptr, kMbOk, u"x");
  EXPECT_EQ(Last().text, u"IDS_UNKNOWN_x") << "on a miss the key is the format";
}

TEST_F(AppTest, MessagesAreCutToTheBuffer) {
  const std::u16string huge(20000, u'w');
  app_.MessageBoxFormat(u"%s", nullptr, kMbOk, huge);
  EXPECT_EQ(Last().text.size(), kMessageBufferChars - 1);
}

TEST_F(AppTest, ByIdUsesTheProgramsOwnStrings) {
  app_.MessageBoxById(102, nullptr, kMbIconError);
  EXPECT_EQ(Last().text, u"Failed to open the language file, please re-install application.");
  app_.MessageBoxById(9999, nullptr, kMbIconError);
  EXPECT_EQ(Last().text, u"");
}

TEST_F(AppTest, WithTextPassesTheSecondTextAndAutomaticAnswer) {
  app_.MessageBoxWithText(u"Delete %d files?", nullptr, kMbYesNo, u"IDS_SECOND", kIdYes, 5, 3);
  EXPECT_EQ(Last().text, u"Delete 3 files?");
  EXPECT_EQ(Last().second_text, u"More help here.");
  EXPECT_EQ(Last().auto_answer, kIdYes);
  EXPECT_EQ(Last().auto_value, 5);
  app_.MessageBoxWithText(u"x", nullptr, kMbOk, nullptr, -1, 0);
  EXPECT_EQ(Last().second_text, u"");
}

TEST_F(AppTest, SysErrorByKeyInsertsTheSystemMessageAtThePosition) {
  const std::optional<std::u16string> system = plat::FormatSystemMessage(5);
  ASSERT_TRUE(system.has_value());
  const std::u16string message = system->substr(0, system->size() - 2);
  app_.MessageBoxSysErrorByKey(5, u"IDS_ERR_SAVE", nullptr, kMbIconError, 1, u"C:\\a.exe");
  EXPECT_EQ(Last().text, u"Saving C:\\a.exe failed: (0x5) " + message);
  app_.MessageBoxSysErrorByKey(5, u"IDS_ERR_SAVE", nullptr, kMbIconError, 0, u"C:\\a.exe");
  EXPECT_EQ(Last().text, u"Saving (0x5) " + message + u" failed: C:\\a.exe");
  app_.MessageBoxSysErrorByKey(5, u"IDS_NOT_THERE", nullptr, kMbIconError, 0);
  EXPECT_EQ(Last().text, u"") << "a missing key gives an empty text";
}

TEST_F(AppTest, SysErrorByIdInsertsWithoutTheCodePrefix) {
  const std::u16string prefix = u"Failed to open the language file";
  EXPECT_EQ(ReplaceFormatMarker(u"a %s b %s", 1, u"X"), u"a %s b X");
  app_.MessageBoxSysErrorById(2, 102, nullptr, kMbIconError, 0);
  EXPECT_EQ(Last().text.substr(0, prefix.size()), prefix) << "no marker: the text stays";
}

TEST(ReplaceFormatMarker, KeepsInsertedPercentSignsLiteral) {
  EXPECT_EQ(ReplaceFormatMarker(u"%d%% %s %s", 0, u"100% %s"), u"%d%% 100%% %%s %s");
  EXPECT_EQ(FormatText(ReplaceFormatMarker(u"[%s] %s", 0, u"50% %s"), {u"arg"}), u"[50% %s] arg");
  EXPECT_EQ(ReplaceFormatMarker(u"%%s %s", 0, u"X"), u"%%s X") << "%%s is not a marker";
  EXPECT_EQ(ReplaceFormatMarker(u"none", 0, u"X"), u"none");
}

TEST_F(AppTest, CaptionAndValueAreOneShot) {
  app_.SetMessageCaption(u"Build", 9);
  app_.MessageBoxFormat(u"first", nullptr, kMbOk);
  EXPECT_EQ(Last().caption, u"Build");
  app_.MessageBoxFormat(u"second", nullptr, kMbOk);
  EXPECT_EQ(Last().caption, u"");
}

TEST(Unattended, QuestionsGetCancelOrNo) {
  EXPECT_EQ(UnattendedAnswer(kMbOk | kMbIconError), kIdOk);
  EXPECT_EQ(UnattendedAnswer(kMbYesNo | kMbIconQuestion), kIdNo);
  EXPECT_EQ(UnattendedAnswer(kMbYesNoCancel), kIdCancel);
  EXPECT_EQ(UnattendedAnswer(kMbOkCancel), kIdCancel);
  EXPECT_EQ(UnattendedAnswer(kMbAbortRetryIgnore), kIdAbort);
  CVLWinApp app;  // no display at all
  EXPECT_EQ(app.MessageBoxFormat(u"Continue?", nullptr, kMbYesNo), kIdNo);
}

TEST(ConsoleDisplay, WritesTheTextAndAnswersAsConfigured) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  ConsoleMessageDisplay console(stream);
  MessageRequest request;
  request.text = u"Line one\r\nLine two";
  request.type = kMbYesNo | kMbIconError;
  EXPECT_EQ(console.Show(request), kIdNo);
  console.SetAnswer(kIdYes);
  EXPECT_EQ(console.Show(request), kIdYes);
  console.SetAnswer(kIdRetry);  // not a button of this box
  EXPECT_EQ(console.Show(request), kIdNo);
  std::rewind(stream);
  char buffer[256] = {};
  const size_t read = std::fread(buffer, 1, sizeof buffer - 1, stream);
  std::fclose(stream);
  EXPECT_EQ(std::string(buffer, read).substr(0, 26), "error: Line one\nLine two\ne");
}

TEST(SystemError, PrefixCutAndFailureText) {
  char16_t buffer[300];
  ASSERT_EQ(FormatSystemError(2, buffer, 300, true), 1);
  const std::u16string text = buffer;
  EXPECT_EQ(text.substr(0, 6), u"(0x2) ");
  EXPECT_NE(text.back(), u'\n');
  EXPECT_GT(text.size(), 8u);

  EXPECT_EQ(FormatSystemError(0x2FFFFFF0u, buffer, 300, false), 0);
  EXPECT_EQ(std::u16string(buffer).substr(0, 54), u"Failed to get system error message on error 0x2ffffff0");
  EXPECT_NE(std::u16string(buffer).find(u"for the error 0x"), std::u16string::npos);

  // Too little room for the message: the system refuses, and the failure text is cut.
  EXPECT_EQ(FormatSystemError(2, buffer, 12, true), 0);
  EXPECT_EQ(std::u16string(buffer), u"(0x2) Faile");
  EXPECT_EQ(FormatSystemError(2, buffer, 1, false), 0);
  EXPECT_EQ(buffer[0], 0);
}

}  // namespace
}  // namespace app
