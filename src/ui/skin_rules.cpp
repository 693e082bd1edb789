#include "ui/skin_rules.h"

#include <algorithm>
#include <cstdlib>

#include "app/message_display.h"
#include "ui/colour.h"

namespace ui {
namespace {

constexpr uint32_t kInfoHeaderSize = 40;

constexpr MessageButton kOk[] = {{16051, app::kIdOk}};
constexpr MessageButton kOkCancel[] = {{16051, app::kIdOk}, {16052, app::kIdCancel}};
constexpr MessageButton kAbortRetryIgnore[] = {{16058, app::kIdAbort}, {16055, app::kIdRetry}, {16059, app::kIdIgnore}};
constexpr MessageButton kYesNoCancel[] = {{16056, app::kIdYes}, {16057, app::kIdNo}, {16052, app::kIdCancel}};
constexpr MessageButton kYesNo[] = {{16056, app::kIdYes}, {16057, app::kIdNo}};
constexpr MessageButton kRetryCancel[] = {{16055, app::kIdRetry}, {16052, app::kIdCancel}};

}  // namespace

SkinShifts BitmapShifts(const SkinShifts& shifts, bool frame, int index) {
  if (!frame && index == kLightnessOnlyBitmap) return {0, shifts.lightness, 0};
  return shifts;
}

namespace {

struct TableRange {
  uint64_t offset;
  uint64_t length;
};

std::optional<TableRange> ColourTableRange(plat::ByteView dib) {
  const std::optional<uint32_t> header_size = dib.U32(0);
  const std::optional<uint16_t> bit_count = dib.U16(14);
  const std::optional<uint32_t> used = dib.U32(32);
  if (!header_size || !bit_count || !used || *header_size < kInfoHeaderSize) return std::nullopt;
  uint32_t entries = *used;
  if (entries == 0 && *bit_count <= 8) entries = 1u << *bit_count;
  if (entries == 0 || entries > kMaxColourTableEntries) return std::nullopt;
  const TableRange range{*header_size, static_cast<uint64_t>(entries) * 4};
  if (!dib.Fits(range.offset, range.length)) return std::nullopt;
  return range;
}

}  // namespace

std::optional<plat::MutableByteView> DibColourTable(plat::MutableByteView dib) {
  const std::optional<TableRange> range = ColourTableRange(dib);
  if (!range) return std::nullopt;
  return dib.Sub(range->offset, range->length);
}

std::optional<plat::ByteView> DibColours(plat::ByteView dib) {
  const std::optional<TableRange> range = ColourTableRange(dib);
  if (!range) return std::nullopt;
  return dib.Sub(range->offset, range->length);
}

std::optional<plat::ByteView> DibPixels(plat::ByteView dib) {
  const std::optional<TableRange> table = ColourTableRange(dib);
  const std::optional<uint32_t> width = dib.U32(4);
  const std::optional<uint32_t> height = dib.U32(8);
  const std::optional<uint16_t> bit_count = dib.U16(14);
  const std::optional<uint32_t> compression = dib.U32(16);
  if (!table || !width || !height || !bit_count || !compression || *compression != 0 || *bit_count == 0 ||
      *bit_count > 8) {
    return std::nullopt;
  }
  // A negative height means rows top-down.
  const int64_t signed_height = static_cast<int32_t>(*height);
  const uint64_t rows = static_cast<uint64_t>(signed_height < 0 ? -signed_height : signed_height);
  const int64_t signed_width = static_cast<int32_t>(*width);
  if (signed_width <= 0 || rows == 0 || signed_width > 0x8000 || rows > 0x8000) return std::nullopt;
  const uint64_t stride = ((static_cast<uint64_t>(signed_width) * *bit_count + 31) / 32) * 4;
  return dib.Sub(table->offset + table->length, stride * rows);
}

bool TintDibColourTable(plat::MutableByteView dib, const SkinShifts& shifts) {
  const std::optional<plat::MutableByteView> table = DibColourTable(dib);
  if (!table) return false;
  // Entries are RGBQUAD: blue, green, red, reserved.
  for (size_t at = 0; at + 4 <= table->size(); at += 4) {
    const plat::ByteView entry = table->View().From(at);
    const Rgb colour{entry.U8Or(2, 0), entry.U8Or(1, 0), entry.U8Or(0, 0)};
    const Rgb tinted = AdjustColour(colour, shifts.hue, shifts.saturation, shifts.lightness);
    table->Put8(at, tinted.b);
    table->Put8(at + 1, tinted.g);
    table->Put8(at + 2, tinted.r);
  }
  return true;
}

uint32_t SkinColour(uint32_t colour_ref) { return ToColorRef(HlsToRgb(RgbToHls(FromColorRef(colour_ref)))); }

int32_t Scale(int32_t value, int32_t dpi) {
  const int64_t product = static_cast<int64_t>(value) * dpi;
  const int64_t whole = product / kDefaultDpi;
  const int64_t rest = product % kDefaultDpi;
  int64_t result = whole;
  if (std::llabs(rest) * 2 >= kDefaultDpi) result += product < 0 ? -1 : 1;
  return static_cast<int32_t>(std::clamp<int64_t>(result, INT32_MIN, INT32_MAX));
}

int32_t ChooseDpi(std::optional<uint32_t> applied_dpi, std::optional<uint32_t> monitor_dpi, bool prefer_monitor) {
  const auto usable = [](std::optional<uint32_t> dpi) { return dpi && *dpi != 0 && *dpi <= 4 * 96 * 10; };
  if (prefer_monitor && usable(monitor_dpi)) return static_cast<int32_t>(*monitor_dpi);
  const std::optional<uint32_t> applied = applied_dpi.value_or(kDefaultDpi);
  if (usable(applied)) return static_cast<int32_t>(*applied);
  if (usable(monitor_dpi)) return static_cast<int32_t>(*monitor_dpi);
  return kDefaultDpi;
}

std::span<const MessageButton> MessageButtons(uint32_t type) {
  switch (type & app::kMbButtonMask) {
    case app::kMbOkCancel:
      return kOkCancel;
    case app::kMbAbortRetryIgnore:
      return kAbortRetryIgnore;
    case app::kMbYesNoCancel:
      return kYesNoCancel;
    case app::kMbYesNo:
      return kYesNo;
    case app::kMbRetryCancel:
      return kRetryCancel;
    default:
      return kOk;
  }
}

}  // namespace ui
