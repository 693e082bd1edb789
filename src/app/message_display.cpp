#include "app/message_display.h"

#include "platform/unicode.h"

namespace app {
namespace {

struct ButtonSet {
  int ids[3];
  int count;
  const int* begin() const { return ids; }
  const int* end() const { return ids + count; }
};

ButtonSet Buttons(uint32_t type) {
  switch (type & kMbButtonMask) {
    case kMbOkCancel:
      return {{kIdOk, kIdCancel}, 2};
    case kMbAbortRetryIgnore:
      return {{kIdAbort, kIdRetry, kIdIgnore}, 3};
    case kMbYesNoCancel:
      return {{kIdYes, kIdNo, kIdCancel}, 3};
    case kMbYesNo:
      return {{kIdYes, kIdNo}, 2};
    case kMbRetryCancel:
      return {{kIdRetry, kIdCancel}, 2};
    default:
      return {{kIdOk}, 1};
  }
}

const char* Label(uint32_t type) {
  switch (type & kMbIconMask) {
    case kMbIconError:
      return "error: ";
    case kMbIconWarning:
      return "warning: ";
    default:
      return "";
  }
}

}  // namespace

int UnattendedAnswer(uint32_t type) {
  int fallback = 0;
  for (int button : Buttons(type)) {
    if (button == kIdCancel) return kIdCancel;
    if (button == kIdNo) fallback = kIdNo;
  }
  return fallback != 0 ? fallback : *Buttons(type).begin();
}

int ConsoleMessageDisplay::Show(const MessageRequest& request) {
  std::string text = plat::Utf16ToUtf8(request.text);
  // Message texts use CR LF; a terminal wants plain line feeds.
  std::string cleaned;
  for (char c : text) {
    if (c != '\r') cleaned.push_back(c);
  }
  std::fprintf(stream_, "%s%s\n", Label(request.type), cleaned.c_str());
  if (!request.second_text.empty()) std::fprintf(stream_, "%s\n", plat::Utf16ToUtf8(request.second_text).c_str());
  std::fflush(stream_);
  for (int button : Buttons(request.type)) {
    if (button == answer_) return answer_;
  }
  return UnattendedAnswer(request.type);
}

}  // namespace app
