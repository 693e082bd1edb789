#include "analysis/extra_files.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "analysis/make_exe_builder.h"
#include "analysis/memory_failure.h"
#include "analysis/references.h"
#include "app/res_string.h"
#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "project/options.h"
#include "project/target_name.h"

namespace analysis {
namespace {

using project::ExtraFileEntry;

constexpr char16_t kKeyOpenScript[] = u"IDS_ERR_OPENSCRIPT";
constexpr char16_t kKeyNotEnoughMem[] = u"IDS_ERR_NOTENOUGHMEM";
constexpr size_t kEntryPathChars = 260;

// ---- Where each command keeps its name -------------------------------------------------------

enum class NameKind { kOne, kOneColonRule, kList, kFirstAndFurther };

struct NameSource {
  uint16_t code;
  uint32_t offset;
  NameKind kind;
};

constexpr NameSource kNameSources[] = {
    {0x1205, 0x56E, NameKind::kOne},      {0x210A, 0x84, NameKind::kList}, {0x2301, 0, NameKind::kOneColonRule},
    {0x2309, 0x84, NameKind::kList},      {0x230A, 0, NameKind::kOne},     {0x2311, 4, NameKind::kOne},
    {0x2315, 0, NameKind::kOneColonRule}, {0x2501, 0, NameKind::kOne},     {0x3106, 0x1088, NameKind::kFirstAndFurther},
    {0x4201, 0x44, NameKind::kOne},       {0x430C, 0, NameKind::kOne},     {0x4311, 0, NameKind::kOne},
    {0x4312, 0, NameKind::kOne},          {0x650F, 0x84, NameKind::kList},
};
static_assert(std::size(kNameSources) == std::size(kExtraFileCommandCodes));

const NameSource* FindNameSource(uint16_t code) {
  for (const NameSource& source : kNameSources) {
    if (source.code == code) return &source;
  }
  return nullptr;
}

// Command 0x1205 names a file only in one of its modes.
// Missing fields of a short or damaged payload read as zero.
bool FindImageNamesFile(plat::ByteView payload) {
  return payload.U8Or(0x24F, 0) != 0 && payload.U8Or(0x569, 0) != 0 && payload.U8Or(0x56A, 0) == 1;
}

// "abc:x" is a word followed by a colon (a window or a variable), not a drive letter.
bool ColonRuleAllowsFile(std::u16string_view text) {
  const size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos) return true;
  return TrimBlanks(text.substr(0, colon)).size() <= 1;
}

bool HasPercent(std::u16string_view text) { return text.find(u'%') != std::u16string_view::npos; }

constexpr uint8_t k3106FirstNameFlag = 0x02;
constexpr size_t k3106Flags = 0x654;
constexpr size_t k3106FurtherCount = 0x1086;

}  // namespace

// ---- Free functions ---------------------------------------------------------------------------

CommandNames ReadCommandNames(uint16_t code, plat::ByteView payload) {
  CommandNames found;
  const NameSource* source = FindNameSource(code);
  if (source == nullptr) return found;

  if (source->kind == NameKind::kFirstAndFurther) {
    uint64_t further = 0;
    const std::u16string first = payload.Utf16z(source->offset, SIZE_MAX, &further);
    if (payload.U8Or(k3106Flags, 0) & k3106FirstNameFlag) {
      const std::u16string_view trimmed = TrimBlanks(first);
      if (!StartsWithInput(trimmed) && !HasPercent(first)) {
        found.names.push_back({first, app::KeyHash(plat::ToLower(trimmed)), source->offset});
      }
    }
    if (payload.U16Or(k3106FurtherCount, 0) != 0) {
      for (;;) {
        const uint64_t at = further;
        const std::u16string text = payload.Utf16z(at, SIZE_MAX, &further);
        // A text cut short by the payload's end leaves nothing after it to read.
        if (text.empty()) break;
        const std::u16string_view trimmed = TrimBlanks(text);
        if (StartsWithInput(trimmed) || trimmed.empty() || HasPercent(trimmed)) continue;
        found.names.push_back({std::u16string(trimmed), app::KeyHash(plat::ToLower(trimmed)), static_cast<size_t>(at)});
      }
    }
    return found;
  }

  std::u16string text;
  if (code != 0x1205 || FindImageNamesFile(payload)) text = payload.Utf16z(source->offset);
  if (source->kind == NameKind::kOneColonRule && !ColonRuleAllowsFile(text)) return found;
  if (HasPercent(text) || StartsWithInput(text) || text.empty()) return found;

  std::vector<std::u16string> paths;
  if (source->kind == NameKind::kList) {
    const CVLMultipleFilename names(text);
    for (size_t i = 0; i < names.Count(); ++i) paths.push_back(names.Path(i));
  } else {
    paths.push_back(std::move(text));
  }
  for (const std::u16string& path : paths) {
    const std::u16string_view trimmed = TrimBlanks(path);
    if (HasPercent(trimmed) || StartsWithInput(trimmed)) continue;
    const std::u16string lower = plat::ToLower(trimmed);
    std::u16string_view name = lower;
    if (name.starts_with(u".\\")) name.remove_prefix(2);
    found.names.push_back({std::u16string(name), app::KeyHash(lower), source->offset});
  }
  found.offer_again = true;
  return found;
}

CVLMultipleFilename::CVLMultipleFilename(std::u16string_view text) {
  size_t cut = text.find(u';');
  if (cut == std::u16string_view::npos) {
    names_.emplace_back(text);
    return;
  }
  const std::u16string_view first = text.substr(0, cut);
  const size_t backslash = first.rfind(u'\\');
  if (backslash != std::u16string_view::npos) {
    folder_.assign(first.substr(0, backslash + 1));
    names_.emplace_back(first.substr(backslash + 1));
  } else if (!first.empty() && first.back() == u':') {
    names_.emplace_back();
  } else {
    names_.emplace_back(first);
  }
  while (cut != std::u16string_view::npos) {
    const size_t start = cut + 1;
    cut = text.find(u';', start);
    const std::u16string_view piece = text.substr(start, cut == std::u16string_view::npos ? text.npos : cut - start);
    if (cut == std::u16string_view::npos && piece.empty()) break;
    names_.emplace_back(piece);
  }
}

std::u16string CVLMultipleFilename::Join(std::span<const std::u16string> names) {
  const auto folder_of = [](std::u16string_view path) {
    const size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? std::u16string_view() : path.substr(0, backslash + 1);
  };
  std::u16string joined;
  std::u16string_view folder;
  bool have_folder = false;
  for (const std::u16string& name : names) {
    const std::u16string_view trimmed = TrimBlanks(name);
    if (&name != names.data()) joined.push_back(u';');
    if (StartsWithInput(trimmed)) {
      joined.append(trimmed);
    } else if (!have_folder) {
      folder = folder_of(trimmed);
      have_folder = true;
      joined.append(trimmed);
    } else if (plat::EqualNoCase(folder_of(trimmed), folder)) {
      joined.append(trimmed.substr(folder.size()));
    } else {
      joined.append(trimmed);
    }
  }
  return joined;
}

bool ResolveExtraFile(std::u16string_view name, std::u16string_view script_folder, std::u16string* path,
                      int32_t* on_search_path) {
  *on_search_path = 0;
  const std::u16string_view trimmed = TrimBlanks(name);
  if (trimmed.empty() || trimmed.back() == u'\\') return false;
  // Every spelling of a file gives one path, the list's key: "sub\..\x.txt" is "x.txt".
  // A path that normalises to a folder (ends with a separator) or does not fit an entry
  // is not taken.
  const auto usable = [](const std::u16string& normal) {
    return !normal.empty() && normal.back() != u'\\' && normal.size() < kEntryPathChars;
  };
  if (IsAbsolutePath(name)) {
    // The spaces the absolute-path test looks past are no part of the path.
    std::u16string normal = project::NormalizePath(name.substr(name.find_first_not_of(u' ')));
    if (!usable(normal)) return false;
    *path = std::move(normal);
    return true;
  }
  std::u16string joined(script_folder);
  joined.append(name);
  joined = project::NormalizePath(joined);
  if (usable(joined)) {
    if (IsExistingFile(joined)) {
      *path = std::move(joined);
      return true;
    }
  }
  if (name.size() >= kEntryPathChars) return false;
  std::u16string normal = project::NormalizePath(name);
  if (usable(normal) && !plat::SearchPath(name).empty()) {
    *path = std::move(normal);
    *on_search_path = 1;
    return true;
  }
  return false;
}

std::span<const uint8_t> RecordPayload(const uint8_t* record, const uint8_t* block, size_t block_size) {
  if (record == nullptr || block == nullptr || record < block) return {};
  const size_t offset = static_cast<size_t>(record - block);
  if (offset > block_size || block_size - offset < 4) return {};
  const size_t room = block_size - offset - 4;
  return {record + 4, std::min<size_t>(macro::ParamRecordSize(plat::ByteView(record, 4)), room)};
}

// ---- The walk -----------------------------------------------------------------------------------

namespace {

ExtraFileEntry FreshEntry(int32_t macro_index, int32_t command_index) {
  ExtraFileEntry entry{};
  entry.ParentIndex = static_cast<uint16_t>(macro_index);
  entry.CommandIndex = command_index;
  return entry;
}

// After each offer: the path and hash stay in the buffer (a name that then does not
// resolve is offered with the path before it, which the list already holds).
void ResetEntry(ExtraFileEntry& entry, int32_t macro_index, int32_t command_index) {
  entry.ParentIndex = static_cast<uint16_t>(macro_index);
  entry.CommandIndex = command_index;
  entry.OnSearchPath = 0;
  entry.UserAdded = 0;
  entry.Reserved10[1] = 0;
}

void ResolveInto(ExtraFileEntry& entry, std::u16string_view name, std::u16string_view script_folder) {
  std::u16string path = plat::FixedText(entry.SourcePath, kEntryPathChars);
  int32_t on_search_path = 0;
  if (ResolveExtraFile(name, script_folder, &path, &on_search_path)) {
    plat::SetFixedText(entry.SourcePath, kEntryPathChars, path);
  }
  entry.OnSearchPath = on_search_path;
}

enum class Offer { kAppended, kNotAppended, kNoRoom };

// Names the entry and offers it to the list.
Offer OfferEntry(project::CMakeExe_FileLists& lists, ExtraFileEntry& entry, std::u16string_view script_folder) {
  // A name that never resolved leaves no path: listing it would show a file that is none.
  if (entry.SourcePath[0] == 0) return Offer::kNotAppended;
  // A file with no name it could safely travel under (a path ending with a colon, say)
  // cannot be packed; listed, it would be a file the EXE silently lacks.
  const std::u16string target =
      project::MakeTargetName(plat::FixedText(entry.SourcePath, kEntryPathChars), script_folder);
  if (target.empty()) return Offer::kNotAppended;
  plat::SetFixedText(entry.TargetName, kEntryPathChars, target);
  // The discovery fills the wizard's room only: a build's copy of the lists has more, which
  // its runtime files need, and whatever is found must fit back into the wizard's lists.
  const bool room = lists.ExtraCount() < project::kExtraCapacity;
  if (room && lists.AddExtraEntry(entry)) return Offer::kAppended;
  if (room) return Offer::kNotAppended;
  // A full list refuses listed and new paths alike; only a new one means the list is full.
  const auto field = [](const char16_t(&text)[kEntryPathChars]) {
    return std::u16string_view(text, static_cast<size_t>(std::find(text, text + kEntryPathChars, u'\0') - text));
  };
  const std::u16string_view path = field(entry.SourcePath);
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    if (plat::EqualNoCase(field(lists.ExtraEntries()[i].SourcePath), path)) {
      return Offer::kNotAppended;
    }
  }
  return Offer::kNoRoom;
}

// One command's names, resolved on this computer, into `lists`; allocation failures propagate to the callers'
// boundaries.
bool ScanCommand(project::CMakeExe_FileLists& lists, std::u16string_view folder, int32_t macro_index,
                 const macro::MacroCommand& command, std::span<const uint8_t> payload, int32_t command_index,
                 bool* list_full) {
  if (list_full != nullptr) *list_full = false;
  const CommandNames found = ReadCommandNames(command.Code, payload);
  const int32_t count_before = lists.ExtraCount();
  ExtraFileEntry entry = FreshEntry(macro_index, command_index);
  // Offers the buffer, then readies it for the next name; false once the list is full.
  const auto offer = [&] {
    if (OfferEntry(lists, entry, folder) == Offer::kNoRoom) {
      if (list_full != nullptr) *list_full = true;
      return false;
    }
    ResetEntry(entry, macro_index, command_index);
    return true;
  };

  for (const CommandName& named : found.names) {
    entry.NameHash = named.hash;
    ResolveInto(entry, named.name, folder);
    if (!offer()) return lists.ExtraCount() > count_before;
  }
  // The buffer once more as it stands.
  if (found.offer_again) offer();
  return lists.ExtraCount() > count_before;
}

}  // namespace

bool CMakeExe_Builder::CollectCommandExtraFiles(int32_t macro_index, const macro::MacroCommand& command,
                                                std::span<const uint8_t> payload, int32_t command_index,
                                                bool* list_full) {
  const int32_t count_before = lists_.ExtraCount();
  try {
    const plat::LookupBatch batch;
    return ScanCommand(lists_, ScriptFolder(), macro_index, command, payload, command_index, list_full);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(ScriptPath());
  } catch (const std::length_error&) {
    ReportOutOfMemory(ScriptPath());
  }
  return lists_.ExtraCount() > count_before;
}

bool CMakeExe_Builder::CollectExtraFiles(int32_t macro_index, std::u16string_view macro_path) {
  try {
    // The walk looks up each name of each command, and changes no file.
    const plat::LookupBatch batch;
    return ScanMacroFile(macro_index, macro_path);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(macro_path);
  } catch (const std::length_error&) {
    ReportOutOfMemory(macro_path);
  }
  return false;
}

bool CMakeExe_Builder::ScanMacroFile(int32_t macro_index, std::u16string_view macro_path) {
  SetMessage(u"");
  macro::CFile_Macro file;
  plat::SetLastError(plat::err::kSuccess);
  if (!file.Open(macro_path)) {
    ThrowIfOutOfMemory();
    SetMessage(kKeyOpenScript, macro_path);
    return false;
  }
  const macro::MacroCommand* commands = nullptr;
  if (!file.ReadCommands(&commands)) {
    ThrowIfOutOfMemory();
    // No key means a system failure, whose text the last error gives.
    SetMessage(macro::GetMacroFileError(nullptr), macro_path);
    return false;
  }
  uint8_t* block = nullptr;
  file.GetParamBlock(&block);
  const size_t block_size = file.Header().ParamBlockSize;
  const uint32_t command_count = commands == nullptr ? 0 : file.Header().CommandCount;

  const macro::ParamRecordIndex records(plat::ByteView(block, block_size));
  for (uint32_t i = 0; i < command_count; ++i) {
    if (lists_.ExtraCount() > kExtraFileStopCount) {
      SetMessage(kKeyTooManyExtraFiles, macro_path);
      return false;
    }
    const macro::MacroCommand& command = commands[i];
    if ((command.Flags & macro::kCommandDisabled) != 0 || command.ParamId == macro::kNoParamId) continue;
    const uint8_t* record = records.Find(command.ParamId).data();
    if (record == nullptr) continue;
    bool list_full = false;
    ScanCommand(lists_, ScriptFolder(), macro_index, command, RecordPayload(record, block, block_size),
                static_cast<int32_t>(i), &list_full);
    if (list_full) {
      SetMessage(kKeyTooManyExtraFiles, macro_path);
      return false;
    }
  }
  return true;
}

void CMakeExe_Builder::ReportOutOfMemory(std::u16string_view path) noexcept {
  // Formatting the message allocates too; should that fail as well, the message is the
  // bare key, which needs no memory.
  try {
    SetMessage(kKeyNotEnoughMem, path);
  } catch (const std::bad_alloc&) {
    plat::SetFixedText(message_, kBuilderMessageChars, kKeyNotEnoughMem);
  } catch (const std::length_error&) {
    plat::SetFixedText(message_, kBuilderMessageChars, kKeyNotEnoughMem);
  }
}

}  // namespace analysis
