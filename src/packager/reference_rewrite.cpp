#include "packager/reference_rewrite.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "analysis/extra_files.h"
#include "analysis/macro_collection.h"
#include "analysis/make_exe_builder.h"
#include "analysis/references.h"
#include "app/res_string.h"
#include "app/system_error.h"
#include "macro/attachments.h"
#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "platform/file_retry.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace packager {
namespace {

using analysis::StartsWithInput;
using analysis::TrimBlanks;
using project::ExtraFileEntry;

constexpr char16_t kKeyOpenScript[] = u"IDS_ERR_OPENSCRIPT";
constexpr char16_t kKeyCreateTempFile[] = u"IDS_ERR_CREATETEMPFILE";
constexpr char16_t kKeyNotEnoughMem[] = u"IDS_ERR_NOTENOUGHMEM";
constexpr size_t kEntryChars = 260;
constexpr size_t kTextFieldUnits = 260;  // terminator included
constexpr size_t kMaxNameChars = 259;

// Command 0x1205 names a file only in one of its modes.
bool FindImageNamesFile(plat::ByteView payload) {
  return payload.U8Or(0x24F, 0) != 0 && payload.U8Or(0x569, 0) != 0 && payload.U8Or(0x56A, 0) == 1;
}

constexpr size_t k3106Flags = 0x654;
constexpr uint8_t k3106FirstNameFlag = 0x02;
constexpr size_t k3106FurtherCount = 0x1086;

bool HasPercent(std::u16string_view text) { return text.find(u'%') != std::u16string_view::npos; }

uint32_t NameHash(std::u16string_view text) { return app::KeyHash(plat::ToLower(TrimBlanks(text))); }

// The entry for a name: the one the naming command listed, else one its macro listed,
// else any other the discovery found (never a user's entry, which has no name hash).
const ExtraFileEntry* FindEntry(std::span<const ExtraFileEntry> table, int32_t macro_index, int32_t command_index,
                                uint32_t hash) {
  const ExtraFileEntry* same_macro = nullptr;
  const ExtraFileEntry* any = nullptr;
  for (const ExtraFileEntry& entry : table) {
    if (entry.NameHash != hash || entry.TargetName[0] == 0) continue;
    const bool in_macro = entry.ParentIndex == static_cast<uint16_t>(macro_index);
    if (in_macro && entry.CommandIndex == command_index) return &entry;
    if (in_macro && same_macro == nullptr) same_macro = &entry;
    if (entry.UserAdded == 0 && any == nullptr) any = &entry;
  }
  return same_macro != nullptr ? same_macro : any;
}

std::u16string TargetOf(const ExtraFileEntry& entry) { return plat::FixedText(entry.TargetName, kEntryChars); }

// The entry for a file name: by its hash as FindEntry finds it, else by where the name
// resolves. The discovery lists a file once, under the spelling that found it first; a
// second macro may name the same file otherwise (by its absolute path where the first
// used the script folder), and its copy must name the packed file all the same.
const ExtraFileEntry* FindFileEntry(const RewriteContext& context, std::span<const ExtraFileEntry> table,
                                    int32_t macro_index, int32_t command_index, std::u16string_view trimmed) {
  if (const ExtraFileEntry* entry = FindEntry(table, macro_index, command_index, NameHash(trimmed))) return entry;
  std::u16string path;
  int32_t on_search_path = 0;
  if (!analysis::ResolveExtraFile(trimmed, context.script_folder, &path, &on_search_path) || on_search_path != 0) {
    return nullptr;
  }
  for (const ExtraFileEntry& entry : table) {
    if (entry.TargetName[0] == 0 || entry.OnSearchPath != 0) continue;
    if (plat::EqualNoCase(plat::FixedText(entry.SourcePath, kEntryChars), path)) return &entry;
  }
  return nullptr;
}

// The units a text field at `offset` of `payload` may take, terminator included.
size_t FieldUnits(plat::ByteView payload, size_t offset) {
  if (offset >= payload.size()) return 0;
  return std::min(kTextFieldUnits, (payload.size() - offset) / 2);
}

// Writes `text` over the field's text `old_units` long; what is left of the old text
// after the new one is cleared, so no part of a build-machine path stays in the copy.
// False (nothing written) when the text and its terminator do not fit the field.
bool StoreText(plat::MutableByteView payload, size_t offset, std::u16string_view text, size_t old_units) {
  const size_t field = FieldUnits(payload, offset);
  if (text.size() + 1 > field) return false;
  payload.PutUtf16z(offset, text, field);
  for (size_t unit = text.size() + 1; unit < std::min(old_units + 1, field); ++unit) {
    payload.Put16(offset + 2 * unit, 0);
  }
  return true;
}

bool RewriteOneName(const RewriteContext& context, int32_t macro_index, int32_t command_index, const TextSource& source,
                    plat::MutableByteView payload, std::span<const ExtraFileEntry> table) {
  const size_t field = FieldUnits(payload, source.offset);
  const std::u16string text = payload.View().Utf16z(source.offset, field);
  const std::u16string_view trimmed = TrimBlanks(text);
  if (trimmed.empty() || StartsWithInput(trimmed) || HasPercent(trimmed)) return false;

  uint32_t hash = 0;
  const uint8_t kind = payload.View().U8Or(source.kind_offset, 0xFF);
  if (source.form == TextForm::kMacroCall) {
    if (kind != analysis::kRefLibraryName && kind != analysis::kRefFilePath) return false;
    // The collection listed the call under its resolved path, lower-cased.
    std::u16string path;
    if (!analysis::ResolveMacroReference(kind, text, context.script_folder, context.data_folder, path)) return false;
    hash = NameHash(path);
  }
  const ExtraFileEntry* entry = source.form == TextForm::kMacroCall
                                    ? FindEntry(table, macro_index, command_index, hash)
                                    : FindFileEntry(context, table, macro_index, command_index, trimmed);
  if (entry == nullptr) return false;
  const std::u16string name = ScriptRelativeName(TargetOf(*entry), context.script_folder);
  const bool make_path = source.form == TextForm::kMacroCall && kind == analysis::kRefLibraryName;
  if (name == text && !make_path) return false;
  if (!StoreText(payload, source.offset, name, text.size())) return false;
  if (make_path) payload.Put8(source.kind_offset, analysis::kRefFilePath);
  return true;
}

bool RewriteList(const RewriteContext& context, int32_t macro_index, int32_t command_index, const TextSource& source,
                 plat::MutableByteView payload, std::span<const ExtraFileEntry> table) {
  const size_t field = FieldUnits(payload, source.offset);
  const std::u16string text = payload.View().Utf16z(source.offset, field);
  if (TrimBlanks(text).empty() || HasPercent(text) || StartsWithInput(text)) return false;

  const analysis::CVLMultipleFilename names(text);
  std::vector<std::u16string> items;
  bool matched = false;
  for (size_t i = 0; i < names.Count(); ++i) {
    const std::u16string path = names.Path(i);
    const std::u16string_view trimmed = TrimBlanks(path);
    const ExtraFileEntry* entry = nullptr;
    if (!trimmed.empty() && !StartsWithInput(trimmed)) {
      entry = FindFileEntry(context, table, macro_index, command_index, trimmed);
    }
    matched = matched || entry != nullptr;
    items.emplace_back(entry != nullptr ? TargetOf(*entry) : std::u16string(trimmed));
  }
  if (!matched) return false;
  const std::u16string joined = analysis::CVLMultipleFilename::Join(items);
  if (joined.size() > kMaxNameChars || joined == text) return false;
  // The player splits the list the same way: a list that would name other files when
  // split (a later name outside the first one's folder) is left as it was.
  const analysis::CVLMultipleFilename check(joined);
  if (check.Count() != items.size()) return false;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!plat::EqualNoCase(TrimBlanks(check.Path(i)), TrimBlanks(items[i]))) return false;
  }
  return StoreText(payload, source.offset, joined, text.size());
}

// Command 0x3106 keeps a first name and, after it, further names up to an empty text. The
// list is written anew, each matched item as its entry's target; the payload then ends
// with the list's final terminator.
bool RewriteCommandList(const RewriteContext& context, int32_t macro_index, int32_t command_index,
                        const TextSource& source, plat::MutableByteView record, std::span<const ExtraFileEntry> table,
                        bool* size_changed) {
  const uint32_t old_size = macro::ParamRecordSize(record);
  const plat::ByteView payload = record.View().Sub(macro::kParamHeadSize, old_size).value_or(plat::ByteView());
  if (payload.size() <= source.offset) return false;

  bool matched = false;
  const auto item = [&](std::u16string_view stored, std::u16string_view trimmed) {
    if (trimmed.empty() || StartsWithInput(trimmed) || HasPercent(trimmed)) return std::u16string(stored);
    const ExtraFileEntry* entry = FindFileEntry(context, table, macro_index, command_index, trimmed);
    if (entry == nullptr) return std::u16string(stored);
    matched = true;
    return TargetOf(*entry);
  };
  std::vector<std::u16string> items;
  uint64_t next = 0;
  const std::u16string first = payload.Utf16z(source.offset, SIZE_MAX, &next);
  const bool first_is_name = (payload.U8Or(k3106Flags, 0) & k3106FirstNameFlag) != 0;
  items.push_back(first_is_name ? item(first, TrimBlanks(first)) : first);
  if (payload.U16Or(k3106FurtherCount, 0) != 0) {
    for (;;) {
      const std::u16string text = payload.Utf16z(next, SIZE_MAX, &next);
      if (text.empty()) break;
      const std::u16string_view trimmed = TrimBlanks(text);
      items.push_back(item(trimmed, trimmed));
    }
  }
  if (!matched) return false;

  uint64_t new_size = source.offset;
  for (const std::u16string& text : items) new_size += 2 * (uint64_t{text.size()} + 1);
  new_size += 2;  // the empty text that ends the list
  if (new_size > macro::kMaxParamPayload || !record.Fits(macro::kParamHeadSize, new_size)) return false;

  const plat::MutableByteView into = *record.Sub(macro::kParamHeadSize, new_size);
  uint64_t at = source.offset;
  for (const std::u16string& text : items) {
    into.PutUtf16z(at, text);
    at += 2 * (uint64_t{text.size()} + 1);
  }
  into.Put16(at, 0);
  macro::SetParamRecordHead(record, macro::ParamRecordId(record), static_cast<uint32_t>(new_size));
  if (size_changed != nullptr && new_size != old_size) *size_changed = true;
  return true;
}

// ---- The copies ----------------------------------------------------------------------------

// One pass over a macro file's commands: each record is copied into `block`, rewritten
// there and, when it changed, put back (in place, or as a new record when its size did).
// A record larger than the block, or one that runs past the end of the parameter block,
// is left as it is.
void RewritePass(macro::CFile_Macro& file, plat::MutableByteView block, const RewriteContext& context,
                 int32_t macro_index, std::span<const ExtraFileEntry> table) {
  macro::MacroCommand* commands = file.Commands();
  const uint32_t count = commands == nullptr ? 0 : file.Header().CommandCount;
  for (uint32_t i = 0; i < count; ++i) {
    macro::MacroCommand& command = commands[i];
    if (command.ParamId == macro::kNoParamId || FindTextSource(command.Code) == nullptr) continue;
    const plat::ByteView params = file.ParamView();
    const plat::ByteView found = macro::CFile_Macro::FindParamRecord(command.ParamId, params);
    if (found.empty()) continue;
    const uint64_t length = macro::kParamHeadSize + uint64_t{macro::ParamRecordSize(found)};
    if (length > found.size() || length > block.size()) continue;
    block.CopyFrom(0, found.First(length));

    bool size_changed = false;
    if (!RewriteCommandReferences(context, macro_index, static_cast<int32_t>(i), command, block, table,
                                  &size_changed)) {
      continue;
    }
    if (!size_changed) {
      const size_t at = static_cast<size_t>(found.data() - params.data());
      plat::MutableByteView(file.Params(), params.size()).CopyFrom(at, block.View().First(length));
      continue;
    }
    const uint64_t new_length = macro::kParamHeadSize + uint64_t{macro::ParamRecordSize(block)};
    const uint16_t old_id = macro::ParamRecordId(found);
    // SetParamRecord gives the record a new id when it replaces it; with the old id still
    // there it kept the old record (it judges the size by its low 16 bits).
    if (!file.SetParamRecord(command.ParamId, *block.Sub(0, new_length))) continue;
    const uint16_t new_id = macro::ParamRecordId(block);
    if (new_id == old_id) continue;
    command.ParamId = static_cast<uint16_t>((command.ParamId & ~uint16_t{0x3FFF}) | new_id);
  }
}

// The table the calls are matched against: every macro file the build packs, named by
// its full path.
std::vector<ExtraFileEntry> MacroTable(const project::CMakeExe_FileLists& lists, int32_t macro_index) {
  std::vector<ExtraFileEntry> table;
  for (int32_t c = 0; c < lists.MacroCount(); ++c) {
    const project::MacroListEntry& callee = lists.MacroEntries()[c];
    if (callee.UserAdded != 0 || callee.EntryType != analysis::kMacroEntryType) continue;
    ExtraFileEntry entry{};
    entry.ParentIndex = static_cast<uint16_t>(macro_index);
    const std::u16string path = plat::FixedText(callee.Path, kEntryChars);
    entry.NameHash = NameHash(path);
    plat::SetFixedText(entry.TargetName, kEntryChars, path);
    table.push_back(entry);
  }
  return table;
}

// Rewrites one macro entry's copy. False when the build must stop.
bool RewriteCopy(analysis::CMakeExe_Builder& builder, int32_t macro_index, plat::MutableByteView block,
                 std::u16string_view data_folder) {
  const project::MacroListEntry& entry = builder.FileLists().MacroEntries()[macro_index];
  const std::u16string path = plat::FixedText(entry.Path, kEntryChars);
  const std::u16string temp_path = plat::FixedText(entry.TempPath, kEntryChars);
  builder.SetBuilderMessage(u"");

  // Open upgrades a file of an older version where it lies; the user's file must stay as
  // it is, so such a file is not opened here (its copy is packed as it is).
  macro::MacroFileHeader header{};
  uint16_t version = 0;
  macro::CFile_Macro file;
  macro::CAttachments_Manager attachments;
  if (!macro::CheckMacroFileSize(path, &header, nullptr, &version) || !file.Open(path) ||
      !attachments.ReadFromMacroFile(file.File(), file.Header())) {
    const uint32_t error = plat::GetLastError();
    builder.SetBuilderMessage(kKeyOpenScript, temp_path);
    attachments.DeleteTempStorage();
    // A damaged file travels as it is; a read or a temporary file the machine refused is
    // no damage, and the copy would travel with the build machine's paths in it.
    const bool refused = error != plat::err::kSuccess && error != plat::err::kInvalidData &&
                         error != plat::err::kHandleEof && error != plat::err::kFileNotFound;
    return !refused;
  }
  const macro::MacroCommand* commands = nullptr;
  if (!file.ReadCommands(&commands)) {
    builder.SetBuilderMessage(macro::GetMacroFileError(nullptr), temp_path);
    attachments.DeleteTempStorage();
    return false;
  }
  uint8_t* params = nullptr;
  file.GetParamBlock(&params);

  const RewriteContext files{builder.ScriptFolder(), data_folder, RewriteTargets::kFiles};
  const project::CMakeExe_FileLists& lists = builder.FileLists();
  RewritePass(file, block, files, macro_index,
              std::span<const ExtraFileEntry>(lists.ExtraEntries(), static_cast<size_t>(lists.ExtraCount())));
  const RewriteContext calls{builder.ScriptFolder(), data_folder, RewriteTargets::kMacroCalls};
  RewritePass(file, block, calls, macro_index, MacroTable(lists, macro_index));

  file.LoadNamedItems();
  // A copy that cannot be written would travel with the build machine's paths in it.
  if (!macro::WriteMacroFile(temp_path, file.Commands(), file.Params(), file.NamedItems(), file.Header())) {
    builder.SetBuilderMessage(kKeyCreateTempFile, temp_path);
    attachments.DeleteTempStorage();
    return false;
  }
  bool written = true;
  if (!attachments.TempPath().empty()) {
    const char16_t* key = nullptr;
    uint32_t code = 0;
    if (!attachments.WriteToMacroFile(temp_path, &key, &code)) {
      if (plat::IsFileInUse(code)) {
        // The copy is the build's own; the file the user knows is the macro.
        builder.SetBuilderMessage(u"IDS_ERR_FILEINUSE", path);
      } else {
        char16_t system_text[analysis::kBuilderMessageChars] = {};
        app::FormatSystemError(code, system_text, analysis::kBuilderMessageChars, true);
        builder.SetBuilderMessage(key, system_text);
      }
      written = false;
    }
  }
  attachments.DeleteTempStorage();
  return written;
}

}  // namespace

static constexpr TextSource kTextSources[] = {
    {0x1205, 0x56E, TextForm::kOneName},
    {0x210A, 0x84, TextForm::kList},
    {0x2301, 0, TextForm::kOneName},
    {0x2309, 0x84, TextForm::kList},
    {0x230A, 0, TextForm::kOneName},
    {0x2311, 4, TextForm::kOneName},
    {0x2315, 0, TextForm::kOneName},
    {0x2501, 0, TextForm::kOneName},
    {0x3106, 0x1088, TextForm::kCommandList},
    {0x4201, 0x44, TextForm::kOneName},
    {0x430C, 0, TextForm::kOneName},
    {0x4311, 0, TextForm::kOneName},
    {0x4312, 0, TextForm::kOneName},
    {0x650F, 0x84, TextForm::kList},
    {analysis::kCmdCallMacro, 8, TextForm::kMacroCall, 1},
    {analysis::kCmdRunMacro, 258, TextForm::kMacroCall, 0},
};

const TextSource* FindTextSource(uint16_t code) {
  for (const TextSource& source : kTextSources) {
    if (source.code == code) return &source;
  }
  return nullptr;
}

std::u16string ScriptRelativeName(std::u16string_view path, std::u16string_view script_folder) {
  const size_t start = path.find_first_not_of(u' ');
  path = start == std::u16string_view::npos ? std::u16string_view() : path.substr(start);
  if (!script_folder.empty() && path.size() >= script_folder.size() &&
      plat::EqualNoCase(path.substr(0, script_folder.size()), script_folder)) {
    const size_t n = script_folder.size() + (script_folder.back() == u'\\' ? 0 : 1);
    if (n <= path.size() && path[n - 1] == u'\\') path.remove_prefix(n);
  }
  return std::u16string(path.substr(0, kMaxNameChars));
}

bool RewriteCommandReferences(const RewriteContext& context, int32_t macro_index, int32_t command_index,
                              const macro::MacroCommand& command, plat::MutableByteView record,
                              std::span<const project::ExtraFileEntry> table, bool* size_changed) {
  const TextSource* source = FindTextSource(command.Code);
  if (source == nullptr || table.empty()) return false;
  if ((source->form == TextForm::kMacroCall) != (context.targets == RewriteTargets::kMacroCalls)) return false;
  const uint32_t size = macro::ParamRecordSize(record);
  const std::optional<plat::MutableByteView> payload = record.Sub(macro::kParamHeadSize, size);
  if (!payload) return false;

  switch (source->form) {
    case TextForm::kOneName:
      if (command.Code == 0x1205 && !FindImageNamesFile(payload->View())) return false;
      [[fallthrough]];
    case TextForm::kMacroCall:
      return RewriteOneName(context, macro_index, command_index, *source, *payload, table);
    case TextForm::kList:
      return RewriteList(context, macro_index, command_index, *source, *payload, table);
    case TextForm::kCommandList:
      return RewriteCommandList(context, macro_index, command_index, *source, record, table, size_changed);
  }
  return false;
}

bool RewriteMacroCopies(analysis::CMakeExe_Builder& builder, std::u16string_view data_folder) {
  std::vector<uint8_t> block;
  if (!macro::AllocateZeroed(block, kRewriteBlockSize)) {
    builder.SetBuilderMessage(kKeyNotEnoughMem, builder.ScriptPath());
    return false;
  }
  project::CMakeExe_FileLists& lists = builder.FileLists();
  try {
    for (int32_t m = 0; m < lists.MacroCount(); ++m) {
      const project::MacroListEntry& entry = lists.MacroEntries()[m];
      if (entry.EntryType != analysis::kMacroEntryType || entry.UserAdded != 0) continue;
      const std::u16string temp_path = plat::FixedText(entry.TempPath, kEntryChars);
      // A copy that is the user's file itself is never written.
      if (temp_path.empty() || !analysis::IsExistingFile(temp_path) ||
          plat::EqualNoCase(temp_path, plat::FixedText(entry.Path, kEntryChars))) {
        continue;
      }
      if (!RewriteCopy(builder, m, plat::MutableByteView(block), data_folder)) return false;
    }
  } catch (const std::bad_alloc&) {
    builder.SetBuilderMessage(kKeyNotEnoughMem, builder.ScriptPath());
    return false;
  } catch (const std::length_error&) {
    builder.SetBuilderMessage(kKeyNotEnoughMem, builder.ScriptPath());
    return false;
  }
  return true;
}

}  // namespace packager
