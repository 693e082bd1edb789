// What the program's start-up needs from the skinned toolkit: the skin, loaded from the UI
// resource library and tinted by the user's shifts, and the skinned message dialog as the
// display every message goes through.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "app/message_display.h"

namespace ui {

class CNewAspect {
 public:
  // The one skin of the process.
  static CNewAspect& Global();

  // Loads the library, checks that its ordinal 1 gives 257 and has ordinal 2 fill the
  // skin description, then tints the bitmaps. On any failure the library is released and
  // the call returns false.
  bool Load(std::u16string_view library_path, int32_t hue, int32_t lightness, int32_t saturation);
  // System colours replace the skin's (and the bitmaps stay untinted); clearing the flag
  // loads the library again with the stored path and shifts.
  void UseSystemColours(bool use);
  bool UsingSystemColours() const;
  // The configured UI font.
  void SetFont(std::u16string_view face, int32_t size);

  virtual ~CNewAspect() = default;

 protected:
  CNewAspect() = default;
};

// Messages in the skinned message dialog (CVLDlgViewMes), with button captions from the
// language table.
std::unique_ptr<app::MessageDisplay> MakeSkinnedMessageDisplay();

}  // namespace ui
