// The application base: text lookup by language key and the message boxes by key that
// every part of the program reports through.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/message_display.h"
#include "app/res_string.h"
#include "app/text_format.h"

namespace app {

// Room for one formatted message, as a fixed buffer of this many characters holds it.
inline constexpr size_t kMessageBufferChars = 16384;

class CVLWinApp {
 public:
  virtual ~CVLWinApp() = default;

  // Reads the configuration; the base has none and succeeds.
  virtual bool LoadConfiguration() { return true; }

  // One-shot caption and value for the next message; ShowMessage uses and clears them.
  virtual void SetMessageCaption(std::u16string caption, int value);
  virtual void SetMessageValue(int value);

  template <typename... Args>
  int MessageBoxByKey(const char16_t* key, WindowHandle owner, uint32_t type, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return MessageBoxByKeyV(key, owner, type, list.data(), list.size());
  }
  template <typename... Args>
  int MessageBoxById(uint32_t id, WindowHandle owner, uint32_t type, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return MessageBoxByIdV(id, owner, type, list.data(), list.size());
  }
  template <typename... Args>
  int MessageBoxFormat(std::u16string_view format, WindowHandle owner, uint32_t type, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return MessageBoxFormatV(format, owner, type, list.data(), list.size());
  }
  template <typename... Args>
  int MessageBoxWithText(std::u16string_view format, WindowHandle owner, uint32_t type, const char16_t* second_key,
                         int auto_answer, int auto_value, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return MessageBoxWithTextV(format, owner, type, second_key, auto_answer, auto_value, list.data(), list.size());
  }
  template <typename... Args>
  int MessageBoxSysErrorByKey(uint32_t code, const char16_t* key, WindowHandle owner, uint32_t type, int position,
                              const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return MessageBoxSysErrorByKeyV(code, key, owner, type, position, list.data(), list.size());
  }
  template <typename... Args>
  int MessageBoxSysErrorById(uint32_t code, uint32_t id, WindowHandle owner, uint32_t type, int position,
                             const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return MessageBoxSysErrorByIdV(code, id, owner, type, position, list.data(), list.size());
  }

  virtual int MessageBoxByKeyV(const char16_t* key, WindowHandle owner, uint32_t type, const FormatArg* args,
                               size_t count);
  virtual int MessageBoxByIdV(uint32_t id, WindowHandle owner, uint32_t type, const FormatArg* args, size_t count);
  virtual int MessageBoxFormatV(std::u16string_view format, WindowHandle owner, uint32_t type, const FormatArg* args,
                                size_t count);
  virtual int MessageBoxWithTextV(std::u16string_view format, WindowHandle owner, uint32_t type,
                                  const char16_t* second_key, int auto_answer, int auto_value, const FormatArg* args,
                                  size_t count);
  virtual int MessageBoxSysErrorByKeyV(uint32_t code, const char16_t* key, WindowHandle owner, uint32_t type,
                                       int position, const FormatArg* args, size_t count);
  virtual int MessageBoxSysErrorByIdV(uint32_t code, uint32_t id, WindowHandle owner, uint32_t type, int position,
                                      const FormatArg* args, size_t count);

  // Hands one message to the display; without a display the message is unattended.
  virtual int ShowMessage(std::u16string_view text, WindowHandle owner, uint32_t type, std::u16string_view second_text,
                          int auto_answer, int auto_value);

  // The text of `key` (nullptr: an empty text and true). With `number` other than -1 the
  // key is first a printf format for it ("IDS_LOGLEVEL_%d"). A miss gives `fallback`, or
  // the key as formed; without a table the key itself and false.
  bool GetText(std::u16string& result, const char16_t* key, const char16_t* fallback = nullptr, int number = -1) const;

  void SetLanguageTable(const CVLResString* table) { table_ = table; }
  const CVLResString* LanguageTable() const { return table_; }
  void SetMessageDisplay(MessageDisplay* display) { display_ = display; }

 private:
  const CVLResString* table_ = nullptr;
  MessageDisplay* display_ = nullptr;
  std::u16string next_caption_;
  int next_value_ = 0;
};

// Replaces the position-th "%s" (from 0) of `format` by `insert`, with any "%" of the
// inserted text doubled so that it stays literal when the result is used as a format.
std::u16string ReplaceFormatMarker(std::u16string_view format, int position, std::u16string_view insert);

}  // namespace app
