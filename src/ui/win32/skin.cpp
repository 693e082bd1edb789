#include "ui/win32/skin.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "ui/colour.h"

namespace ui {
namespace {

// A bitmap the library hands over larger than this is taken as damage.
constexpr uint32_t kMaxBitmapBytes = 4u << 20;

const std::vector<uint8_t> kNoBitmap;

// The system colour that stands for each skin colour.
constexpr int kSystemColours[] = {COLOR_BTNFACE,       COLOR_BTNFACE,   COLOR_BTNTEXT, COLOR_HIGHLIGHT,
                                  COLOR_HIGHLIGHTTEXT, COLOR_BTNSHADOW, COLOR_WINDOW,  COLOR_GRAYTEXT,
                                  COLOR_BTNHIGHLIGHT,  COLOR_BTNSHADOW, COLOR_3DLIGHT, COLOR_ACTIVECAPTION,
                                  COLOR_CAPTIONTEXT};

// Copies a bitmap of the description when its layout holds: an 8-bit bitmap whose header,
// colour table and rows all lie inside the bytes given.
std::vector<uint8_t> CopyBitmap(const runtime::SkinBitmapData& data) {
  if (data.dib == nullptr || data.size == 0 || data.size > kMaxBitmapBytes) return {};
  std::vector<uint8_t> copy(data.dib, data.dib + data.size);
  if (!DibPixels(copy)) return {};
  return copy;
}

void* MakeBitmapHandle(const std::vector<uint8_t>& dib) {
  const std::optional<plat::ByteView> pixels = DibPixels(dib);
  if (!pixels) return nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(screen, reinterpret_cast<const BITMAPINFOHEADER*>(dib.data()), CBM_INIT,
                                  pixels->data(), reinterpret_cast<const BITMAPINFO*>(dib.data()), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bitmap;
}

std::optional<uint32_t> AppliedDpi() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop\\WindowMetrics", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD value = 0, type = 0, size = sizeof value;
  const LONG status = RegQueryValueExW(key, L"AppliedDPI", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

std::optional<uint32_t> MonitorDpi() {
  HMODULE shcore = LoadLibraryW(L"Shcore.dll");
  if (shcore == nullptr) return std::nullopt;
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  const auto get =
      reinterpret_cast<GetDpiForMonitorFn>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
  std::optional<uint32_t> dpi;
  UINT x = 0, y = 0;
  HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  if (get != nullptr && get(primary, 0 /* MDT_EFFECTIVE_DPI */, &x, &y) == S_OK) dpi = y;
  FreeLibrary(shcore);
  return dpi;
}

// Windows 10 and later keep "AppliedDPI" for the old scaling only; their monitors have
// their own DPI.
bool PrefersMonitorDpi() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto get =
      ntdll == nullptr
          ? nullptr
          : reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  return get != nullptr && get(&version) == 0 && version.dwMajorVersion >= 10;
}

}  // namespace

CVLAspectControl::~CVLAspectControl() = default;

const std::vector<uint8_t>& CVLAspectControl::ControlBitmap(int index) const {
  return index >= 0 && index < kControlBitmapCount ? controls_[size_t(index)].dib : kNoBitmap;
}
const std::vector<uint8_t>& CVLAspectControl::FrameBitmap(int index) const {
  return index >= 0 && index < kFrameBitmapCount ? frames_[size_t(index)].dib : kNoBitmap;
}
uint32_t CVLAspectControl::ControlBitmapBorder(int index) const {
  return index >= 0 && index < kControlBitmapCount ? controls_[size_t(index)].border : 0;
}

CNewAspect& CNewAspect::Global() {
  static CNewAspect aspect;
  return aspect;
}

CNewAspect::CNewAspect() {
  dpi_ = SystemDpi();
  RebuildObjects();
}

CNewAspect::~CNewAspect() { Unload(); }

int32_t CNewAspect::SystemDpi() { return ChooseDpi(AppliedDpi(), MonitorDpi(), PrefersMonitorDpi()); }

bool CNewAspect::Load(std::u16string_view library_path, int32_t hue, int32_t lightness, int32_t saturation) {
  Unload();
  library_path_ = std::u16string(library_path);
  requested_ = {hue, lightness, saturation};
  shifts_ = requested_;
  if (use_system_colours_) shifts_.lightness = shifts_.saturation = 0;
  HMODULE library = LoadLibraryW(reinterpret_cast<const wchar_t*>(library_path_.c_str()));
  if (library == nullptr) return false;
  using VersionFn = uint32_t (*)();
  using FillFn = int (*)(runtime::SkinDescription*);
  const auto version =
      reinterpret_cast<VersionFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))));
  const auto fill = reinterpret_cast<FillFn>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(2))));
  runtime::SkinDescription filled{};
  filled.size = sizeof filled;  // the room given; the library fills no more than that
  if (version == nullptr || fill == nullptr || version() != runtime::kSkinLibraryVersion || fill(&filled) == 0 ||
      filled.size < offsetof(runtime::SkinDescription, controls)) {
    FreeLibrary(library);
    RebuildObjects();
    return false;
  }
  module_ = library;
  description_ = filled;
  const bool has_bitmaps = filled.size >= sizeof filled;
  for (int i = 0; i < kControlBitmapCount; ++i) {
    controls_[size_t(i)].dib = has_bitmaps ? CopyBitmap(filled.controls[i]) : std::vector<uint8_t>{};
    controls_[size_t(i)].border = has_bitmaps ? std::min<uint32_t>(filled.controls[i].border, 64) : 0;
  }
  for (int i = 0; i < kFrameBitmapCount; ++i) {
    frames_[size_t(i)].dib = has_bitmaps ? CopyBitmap(filled.frames[i]) : std::vector<uint8_t>{};
    frames_[size_t(i)].border = has_bitmaps ? std::min<uint32_t>(filled.frames[i].border, 64) : 0;
  }
  if (!use_system_colours_ && TintsBitmaps(shifts_)) {
    for (int i = 0; i < kControlBitmapCount; ++i) {
      TintDibColourTable(controls_[size_t(i)].dib, BitmapShifts(shifts_, false, i));
    }
    for (int i = 0; i < kFrameBitmapCount; ++i)
      TintDibColourTable(frames_[size_t(i)].dib, BitmapShifts(shifts_, true, i));
  }
  RebuildObjects();
  return true;
}

void CNewAspect::UseSystemColours(bool use) {
  if (use) {
    use_system_colours_ = true;
    shifts_.lightness = shifts_.saturation = 0;
    if (module_ != nullptr) {
      // The bitmaps go back to the library's own colours.
      const std::u16string path = library_path_;
      const SkinShifts requested = requested_;
      Load(path, requested.hue, requested.lightness, requested.saturation);
    } else {
      RebuildObjects();
    }
    return;
  }
  use_system_colours_ = false;
  // The user's own shifts come back with the skin's colours.
  if (!library_path_.empty())
    Load(std::u16string(library_path_), requested_.hue, requested_.lightness, requested_.saturation);
}

bool CNewAspect::UsingSystemColours() const { return use_system_colours_; }

void CNewAspect::SetFont(std::u16string_view face, int32_t size) {
  if (!face.empty()) font_face_ = std::u16string(face.substr(0, LF_FACESIZE - 1));
  if (size > 0 && size < 200) font_size_ = size;
  RebuildObjects();
}

uint32_t CNewAspect::Colour(uint32_t index) const { return index < colours_.size() ? colours_[index] : 0; }
void* CNewAspect::Brush(uint32_t index) const { return index < brushes_.size() ? brushes_[index] : nullptr; }
void* CNewAspect::Pen(uint32_t index) const { return index < pens_.size() ? pens_[index] : nullptr; }
void* CNewAspect::ControlBitmapHandle(int index) const {
  return index >= 0 && index < kControlBitmapCount ? controls_[size_t(index)].handle : nullptr;
}
void* CNewAspect::FrameBitmapHandle(int index) const {
  return index >= 0 && index < kFrameBitmapCount ? frames_[size_t(index)].handle : nullptr;
}

void CNewAspect::Unload() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
  description_ = {};
  for (Bitmap& b : controls_) b.dib.clear();
  for (Bitmap& b : frames_) b.dib.clear();
  ReleaseObjects();
}

void CNewAspect::ReleaseObjects() {
  for (void*& b : brushes_) {
    if (b != nullptr) DeleteObject(b);
    b = nullptr;
  }
  for (void*& p : pens_) {
    if (p != nullptr) DeleteObject(p);
    p = nullptr;
  }
  for (Bitmap& b : controls_) {
    if (b.handle != nullptr) DeleteObject(b.handle);
    b.handle = nullptr;
  }
  for (Bitmap& b : frames_) {
    if (b.handle != nullptr) DeleteObject(b.handle);
    b.handle = nullptr;
  }
  if (font_ != nullptr) DeleteObject(font_);
  if (bold_font_ != nullptr) DeleteObject(bold_font_);
  font_ = bold_font_ = nullptr;
}

void CNewAspect::RebuildObjects() {
  ReleaseObjects();
  for (uint32_t i = 0; i < colours_.size(); ++i) {
    if (use_system_colours_ || module_ == nullptr) {
      colours_[i] = i < std::size(kSystemColours) ? GetSysColor(kSystemColours[i]) : GetSysColor(COLOR_BTNFACE);
    } else {
      colours_[i] = SkinColour(description_.colours[i]);
    }
    brushes_[i] = CreateSolidBrush(colours_[i]);
    pens_[i] = CreatePen(PS_SOLID, 1, colours_[i]);
  }
  for (Bitmap& b : controls_) b.handle = MakeBitmapHandle(b.dib);
  for (Bitmap& b : frames_) b.handle = MakeBitmapHandle(b.dib);
  LOGFONTW font{};
  font.lfHeight = -MulDiv(font_size_, dpi_, 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  std::memcpy(font.lfFaceName, font_face_.c_str(), (font_face_.size() + 1) * sizeof(char16_t));
  font_ = CreateFontIndirectW(&font);
  font.lfWeight = FW_BOLD;
  bold_font_ = CreateFontIndirectW(&font);
}

}  // namespace ui
