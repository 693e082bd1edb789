// Messages in the system's message box, until the skinned message dialog takes over.
#pragma once

#include "app/message_display.h"

namespace app {

class SystemMessageBoxDisplay : public MessageDisplay {
 public:
  int Show(const MessageRequest& request) override;
};

}  // namespace app
