// Where message boxes end up: a window on Windows, the console for the command-line tool,
// a recorder in tests. The application object formats; a display only shows and answers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace app {

using WindowHandle = void*;

// Standard message-box type flags and button identifiers.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbAbortRetryIgnore = 0x2;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbButtonMask = 0xF;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr uint32_t kMbIconMask = 0xF0;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

struct MessageRequest {
  std::u16string text;
  WindowHandle owner = nullptr;
  uint32_t type = kMbOk;
  std::u16string caption;      // empty: the program's name
  std::u16string second_text;  // shown below the text; empty for none
  int auto_answer = -1;        // -1: none
  int auto_value = 0;
};

class MessageDisplay {
 public:
  virtual ~MessageDisplay() = default;
  // Shows the message and returns the button the user chose.
  virtual int Show(const MessageRequest& request) = 0;
};

// The answer a display gives when nobody can press a button: Cancel where there is one,
// else No, else the first button.
int UnattendedAnswer(uint32_t type);

// Writes messages to a stream (standard error by default). A question is answered with
// the configured answer when it is one of the buttons shown, else unattended.
class ConsoleMessageDisplay : public MessageDisplay {
 public:
  explicit ConsoleMessageDisplay(std::FILE* stream = stderr) : stream_(stream) {}
  void SetAnswer(int answer) { answer_ = answer; }
  int Show(const MessageRequest& request) override;

 private:
  std::FILE* stream_;
  int answer_ = 0;
};

}  // namespace app
