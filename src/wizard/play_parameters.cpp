#include "wizard/play_parameters.h"

#include <iterator>

#include "packager/session.h"
#include "platform/unicode.h"
#include "project/options.h"

namespace wizard {
namespace {

// Past every field's limit and far from the 64-bit limit: more digits add nothing.
constexpr int64_t kSaturated = int64_t{1} << 40;

constexpr uint8_t kProgressModeBits = 0x03;
constexpr uint8_t kEmulationBits = 0x0F;
constexpr int kProgressOffIndex = 3;

uint8_t WithBit(uint8_t byte, uint8_t bit, bool on) { return static_cast<uint8_t>(on ? (byte | bit) : (byte & ~bit)); }

}  // namespace

std::optional<int64_t> TextNumber(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > kSaturated) value = kSaturated;
  }
  return negative ? -value : value;
}

PlayParameters PlayParametersPage::Initial() const {
  const project::MakeExeOptions& record = context_.session.Record();
  PlayParameters values;
  values.default_parameters = (record.PlayFlags & project::kPlayOwnParameters) == 0;
  values.default_variables = (record.PlayFlags & project::kPlayVariableValues) == 0;
  // A mode of 0 without the off bit selects nothing (-1), as the list shows it.
  values.progress_index = (record.PlayOptionFlags & project::kProgressOff) != 0
                              ? kProgressOffIndex
                              : (record.ProgressMode & kProgressModeBits) - 1;
  // 0 is what records written before the field was used hold.
  values.dodge_index = record.DodgeMouseMode == 0 ? 1 : record.DodgeMouseMode - 1;
  values.variables = project::FieldText(record.VariableValues);
  values.emulation_index = record.EmulationLevel & kEmulationBits;
  if (values.emulation_index > 3) values.emulation_index = 0;  // the list has four levels
  values.hide_tray_icon = (record.PlayOptionFlags & project::kNoTrayIcon) != 0;
  values.play_times = plat::AsciiToUtf16(std::to_string(record.PlayTimes));
  values.speed_index = -1;
  for (size_t i = 0; i < std::size(kSpeedTable); ++i) {
    if (kSpeedTable[i] == record.PlaySpeed) values.speed_index = static_cast<int>(i);
  }
  if (values.speed_index < 0) values.speed_text = plat::AsciiToUtf16(std::to_string(int{record.PlaySpeed}));
  return values;
}

PlayParameterEnabling PlayParametersPage::Enabling(const PlayParameters& values) {
  PlayParameterEnabling enabling;
  enabling.parameters = !values.default_parameters;
  enabling.variables = !values.default_variables;
  // The pointer is dodged only around a progress window of the first kind.
  enabling.dodge = enabling.parameters && values.progress_index <= 0;
  return enabling;
}

LeaveResult PlayParametersPage::LeaveForward(const PlayParameters& values) {
  project::MakeExeOptions& record = context_.session.Record();

  // The field is 16 bits wide: a larger count would wrap and play some other number of
  // times (70000 would play 4464 times), so anything above 65535, a text too long to be a
  // number included, plays 65535 times. No number at all plays once.
  const int64_t times = TextNumber(values.play_times).value_or(0);
  record.PlayTimes = static_cast<uint16_t>(times <= 1 ? 1 : (times > kPlayTimesLimit ? kPlayTimesLimit : times));

  int64_t speed = 0;
  if (values.speed_index >= 0 && static_cast<size_t>(values.speed_index) < std::size(kSpeedTable)) {
    speed = kSpeedTable[values.speed_index];
  } else {
    speed = TextNumber(values.speed_text).value_or(0);
    if (speed > kPlaySpeedLimit) speed = kPlaySpeedLimit;
    if (speed < -kPlaySpeedLimit) speed = -kPlaySpeedLimit;
  }
  record.PlaySpeed = static_cast<int8_t>(speed);

  const bool progress_off = values.progress_index == kProgressOffIndex;
  record.PlayOptionFlags = WithBit(record.PlayOptionFlags, project::kProgressOff, progress_off);
  const uint8_t mode = progress_off ? 0 : static_cast<uint8_t>((values.progress_index + 1) & kProgressModeBits);
  record.ProgressMode = static_cast<uint8_t>((record.ProgressMode & ~kProgressModeBits) | mode);

  record.DodgeMouseMode = static_cast<uint8_t>(values.dodge_index + 1);
  record.EmulationLevel =
      static_cast<uint8_t>((record.EmulationLevel & ~kEmulationBits) | (values.emulation_index & kEmulationBits));

  uint32_t flags = record.PlayFlags & ~(project::kPlayOwnParameters | project::kPlayVariableValues);
  if (!values.default_parameters) flags |= project::kPlayOwnParameters;
  if (!values.default_variables) flags |= project::kPlayVariableValues;
  record.PlayFlags = flags;
  record.PlayOptionFlags = WithBit(record.PlayOptionFlags, project::kNoTrayIcon, values.hide_tray_icon);

  // Cut to what the field holds beside its terminator, never between the two halves of
  // a surrogate pair: a lone half is no character.
  std::u16string_view variables = values.variables;
  constexpr size_t kKept = kVariableValuesChars - 1;
  if (variables.size() > kKept) {
    const bool splits_pair = variables[kKept - 1] >= 0xD800 && variables[kKept - 1] <= 0xDBFF &&
                             variables[kKept] >= 0xDC00 && variables[kKept] <= 0xDFFF;
    variables = variables.substr(0, splits_pair ? kKept - 1 : kKept);
  }
  plat::SetFixedText(record.VariableValues, std::size(record.VariableValues), variables);
  return {};
}

}  // namespace wizard
