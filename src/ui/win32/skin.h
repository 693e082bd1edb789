// What the program's start-up needs from the skinned toolkit: the skin, loaded from the UI
// resource library and tinted by the user's shifts, and the skinned message dialog as the
// display every message goes through.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/message_display.h"
#include "app/res_string.h"
#include "runtime/skin_description.h"
#include "ui/skin_rules.h"

namespace ui {

// The skin's state: the library and the user's shifts, the description it filled, the
// bitmaps as tinted, and the drawing objects made from them. Handles are the system's,
// kept opaque so that this header needs no system header.
class CVLAspectControl {
 public:
  virtual ~CVLAspectControl();

  const std::u16string& LibraryPath() const { return library_path_; }
  void* Module() const { return module_; }
  const SkinShifts& Shifts() const { return shifts_; }
  const runtime::SkinDescription& Description() const { return description_; }
  // A bitmap's bytes as drawn (a packed 8-bit DIB); empty when the skin lacks it.
  const std::vector<uint8_t>& ControlBitmap(int index) const;
  const std::vector<uint8_t>& FrameBitmap(int index) const;
  uint32_t ControlBitmapBorder(int index) const;
  int32_t Dpi() const { return dpi_; }
  void SetDpi(int32_t dpi) { dpi_ = dpi > 0 ? dpi : kDefaultDpi; }
  int32_t Scale(int32_t value) const { return ui::Scale(value, dpi_); }

 protected:
  struct Bitmap {
    std::vector<uint8_t> dib;
    uint32_t border = 0;
    void* handle = nullptr;  // HBITMAP made from dib
  };
  std::u16string library_path_;
  void* module_ = nullptr;
  SkinShifts shifts_;
  bool use_system_colours_ = false;
  runtime::SkinDescription description_{};
  std::array<Bitmap, runtime::kSkinControlBitmapCount> controls_{};
  std::array<Bitmap, runtime::kSkinFrameBitmapCount> frames_{};
  std::array<uint32_t, runtime::kSkinColourCount> colours_{};
  std::array<void*, runtime::kSkinColourCount> brushes_{};
  std::array<void*, runtime::kSkinColourCount> pens_{};
  void* font_ = nullptr;
  void* bold_font_ = nullptr;
  std::u16string font_face_ = u"Tahoma";
  int32_t font_size_ = 8;
  int32_t dpi_ = kDefaultDpi;
};

class CNewAspect : public CVLAspectControl {
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

  ~CNewAspect() override;

  // The screen DPI by the registry setting or the primary monitor (see ChooseDpi).
  static int32_t SystemDpi();

  // The colour, brush and pen of a skin colour (runtime::SkinColour): the skin's, or the
  // system's matching colour while system colours are used.
  uint32_t Colour(uint32_t index) const;
  void* Brush(uint32_t index) const;
  void* Pen(uint32_t index) const;
  void* Font() const { return font_; }
  void* BoldFont() const { return bold_font_; }
  // The bitmap as a system bitmap handle; null when the skin has none.
  void* ControlBitmapHandle(int index) const;
  void* FrameBitmapHandle(int index) const;

  // The language table the toolkit's own texts come from (button captions by number).
  void SetLanguageTable(const app::CVLResString* table) { texts_ = table; }
  const app::CVLResString* LanguageTable() const { return texts_; }

  // Releases the library and every drawing object.
  void Unload();

 protected:
  CNewAspect();

 private:
  void RebuildObjects();
  void ReleaseObjects();
  const app::CVLResString* texts_ = nullptr;
  SkinShifts requested_;  // as the user set them, kept while system colours clear them
};

// Messages in the skinned message dialog (CVLDlgViewMes), with button captions from the
// language table.
std::unique_ptr<app::MessageDisplay> MakeSkinnedMessageDisplay();

}  // namespace ui
