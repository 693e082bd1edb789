#include "app/win32/skin_bridge.h"

#include "app/win32/message_box_display.h"

#ifdef BRANKEL_HAVE_TOOLKIT
#include "ui/win32/skin.h"
#else
#include <windows.h>
#endif

namespace app {

#ifdef BRANKEL_HAVE_TOOLKIT

bool SkinLoad(std::u16string_view library, int32_t hue, int32_t lightness, int32_t saturation) {
  return ui::CNewAspect::Global().Load(library, hue, lightness, saturation);
}
void SkinUseSystemColours(bool use) { ui::CNewAspect::Global().UseSystemColours(use); }
// The configured size is in tenths of a point (the default 90 is 9 points); the toolkit takes
// whole points.
void SkinSetFont(std::u16string_view face, int32_t size) { ui::CNewAspect::Global().SetFont(face, (size + 5) / 10); }
std::unique_ptr<MessageDisplay> MakeMessageDisplay() { return ui::MakeSkinnedMessageDisplay(); }

#else

bool SkinLoad(std::u16string_view library, int32_t, int32_t, int32_t) {
  const std::u16string path(library);
  HMODULE module = ::LoadLibraryExW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return false;
  ::FreeLibrary(module);
  return true;
}
void SkinUseSystemColours(bool) {}
void SkinSetFont(std::u16string_view, int32_t) {}
std::unique_ptr<MessageDisplay> MakeMessageDisplay() { return std::make_unique<SystemMessageBoxDisplay>(); }

#endif

}  // namespace app
