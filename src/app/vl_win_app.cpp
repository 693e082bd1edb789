#include "app/vl_win_app.h"

#include "app/system_error.h"

namespace app {
namespace {

constexpr size_t kMaxText = kMessageBufferChars - 1;

// The system's text for `code` as a message inserts it, at most 260 characters.
std::u16string SystemErrorText(uint32_t code, bool with_prefix) {
  char16_t buffer[261];
  FormatSystemError(code, buffer, 261, with_prefix);
  return buffer;
}

}  // namespace

std::u16string ReplaceFormatMarker(std::u16string_view format, int position, std::u16string_view insert) {
  std::u16string escaped;
  for (char16_t c : insert) {
    escaped.push_back(c);
    if (c == u'%') escaped.push_back(u'%');
  }
  int seen = 0;
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != u'%') continue;
    if (format[i + 1] == u'%') {
      ++i;  // a literal percent sign, not a marker
      continue;
    }
    if (format[i + 1] != u's') continue;
    if (seen++ == position) {
      return std::u16string(format.substr(0, i)) + escaped + std::u16string(format.substr(i + 2));
    }
  }
  return std::u16string(format);
}

void CVLWinApp::SetMessageCaption(std::u16string caption, int value) {
  next_caption_ = std::move(caption);
  next_value_ = value;
}

void CVLWinApp::SetMessageValue(int value) { next_value_ = value; }

bool CVLWinApp::GetText(std::u16string& result, const char16_t* key, const char16_t* fallback, int number) const {
  if (key == nullptr) {
    result.clear();
    return true;
  }
  const std::u16string formed = number == -1 ? std::u16string(key) : FormatText(key, {number});
  if (table_ == nullptr) {
    result = formed;
    return false;
  }
  return table_->GetString(result, formed, fallback);
}

int CVLWinApp::ShowMessage(std::u16string_view text, WindowHandle owner, uint32_t type, std::u16string_view second_text,
                           int auto_answer, int auto_value) {
  MessageRequest request;
  request.text = std::u16string(text);
  request.owner = owner;
  request.type = type;
  request.caption = std::move(next_caption_);
  request.second_text = std::u16string(second_text);
  request.auto_answer = auto_answer;
  request.auto_value = auto_value;
  next_caption_.clear();
  next_value_ = 0;
  return display_ != nullptr ? display_->Show(request) : UnattendedAnswer(type);
}

int CVLWinApp::MessageBoxByKeyV(const char16_t* key, WindowHandle owner, uint32_t type, const FormatArg* args,
                                size_t count) {
  std::u16string format;
  GetText(format, key);
  return ShowMessage(FormatTextArgs(format, args, count, kMaxText), owner, type, u"", -1, 0);
}

int CVLWinApp::MessageBoxByIdV(uint32_t id, WindowHandle owner, uint32_t type, const FormatArg* args, size_t count) {
  const std::u16string format = LoadStringResource(id, 260);
  return ShowMessage(FormatTextArgs(format, args, count, kMaxText), owner, type, u"", -1, 0);
}

int CVLWinApp::MessageBoxFormatV(std::u16string_view format, WindowHandle owner, uint32_t type, const FormatArg* args,
                                 size_t count) {
  return ShowMessage(FormatTextArgs(format, args, count, kMaxText), owner, type, u"", -1, 0);
}

int CVLWinApp::MessageBoxWithTextV(std::u16string_view format, WindowHandle owner, uint32_t type,
                                   const char16_t* second_key, int auto_answer, int auto_value, const FormatArg* args,
                                   size_t count) {
  std::u16string second;
  GetText(second, second_key);
  return ShowMessage(FormatTextArgs(format, args, count, kMaxText), owner, type, second, auto_answer, auto_value);
}

int CVLWinApp::MessageBoxSysErrorByKeyV(uint32_t code, const char16_t* key, WindowHandle owner, uint32_t type,
                                        int position, const FormatArg* args, size_t count) {
  std::u16string text;
  if (!GetText(text, key)) text.clear();
  const std::u16string format = ReplaceFormatMarker(text, position, SystemErrorText(code, true));
  return ShowMessage(FormatTextArgs(format, args, count, kMaxText), owner, type, u"", -1, 0);
}

int CVLWinApp::MessageBoxSysErrorByIdV(uint32_t code, uint32_t id, WindowHandle owner, uint32_t type, int position,
                                       const FormatArg* args, size_t count) {
  const std::u16string text = LoadStringResource(id, 260);
  const std::u16string format = ReplaceFormatMarker(text, position, SystemErrorText(code, false));
  return ShowMessage(FormatTextArgs(format, args, count, kMaxText), owner, type, u"", -1, 0);
}

}  // namespace app
