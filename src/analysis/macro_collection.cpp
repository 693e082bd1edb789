#include "analysis/macro_collection.h"

#include <memory>
#include <new>
#include <stdexcept>

#include "analysis/memory_failure.h"
#include "analysis/references.h"
#include "macro/attachments.h"
#include "macro/error_state.h"
#include "macro/macro_file.h"
#include "macro/macro_format.h"
#include "platform/byte_view.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace analysis {
namespace {

constexpr char16_t kKeyOpenScript[] = u"IDS_ERR_OPENSCRIPT";
constexpr char16_t kKeyTooManyMacros[] = u"IDS_ERR_TOOMANYMACRO";
constexpr char16_t kKeyNotEnoughMem[] = u"IDS_ERR_NOTENOUGHMEM";
constexpr size_t kPathUnits = 260;

struct CallLayout {
  uint16_t code;
  size_t kind_at;
  size_t name_at;
  bool test_trimmed;  // whether the "%" and "IN:" tests see the name trimmed
};
constexpr CallLayout kCallLayouts[] = {
    {kCmdCallMacro, 1, 8, false},
    {kCmdRunMacro, 0, 258, true},
};

const CallLayout* LayoutOf(uint16_t code) {
  for (const CallLayout& layout : kCallLayouts) {
    if (layout.code == code) return &layout;
  }
  return nullptr;
}

// The message of an allocation failure. Formatting it allocates too; should that fail as
// well, the message stays as it was, and the caller's false still tells the failure.
void ReportOutOfMemory(project::CMakeExe_FileLists& lists, std::u16string_view path) noexcept {
  try {
    lists.SetListMessage(kKeyNotEnoughMem, path);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}

// Deletes the extracted copy of an embedded file however its walk ends.
class ExtractedFile {
 public:
  explicit ExtractedFile(std::u16string_view path) : path_(path) {}
  ExtractedFile(const ExtractedFile&) = delete;
  ExtractedFile& operator=(const ExtractedFile&) = delete;
  ~ExtractedFile() { DeleteQuietly(path_); }

 private:
  std::u16string_view path_;
};

class Walker {
 public:
  Walker(const MacroCollection& collection, std::u16string_view script_folder)
      : lists_(collection.lists), data_folder_(collection.data_folder), script_folder_(script_folder) {}

  // `nesting` counts the embedded files on the chain of walks that led here.
  bool Walk(int32_t caller, std::u16string_view path, std::u16string_view scratch, int nesting);
  // Whether a call found no room in the list, at any depth of the walk.
  bool LimitMet() const { return limit_met_; }
  // Whether an embedded macro could not be written out for its walk (a full disk, say):
  // its calls would go unseen, and the build would lack them without a word.
  bool ExtractionFailed() const { return extraction_failed_; }

 private:
  // One call command: its entry, and the walk of its target when that is new. False only
  // when the list was full.
  bool Call(int32_t caller, const CallLayout& layout, const uint8_t* record, int32_t index, std::u16string_view scratch,
            int nesting);
  void WalkEmbedded(macro::CFile_Macro& file, int32_t caller, std::u16string_view scratch, int nesting);

  project::CMakeExe_FileLists& lists_;
  std::u16string_view data_folder_;
  std::u16string_view script_folder_;
  bool limit_met_ = false;
  bool extraction_failed_ = false;
};

bool Walker::Walk(int32_t caller, std::u16string_view path, std::u16string_view scratch, int nesting) {
  // Kept off the stack: a chain of calls may nest hundreds of walks deep.
  const auto file = std::make_unique<macro::CFile_Macro>();
  plat::SetLastError(plat::err::kSuccess);
  if (!file->Open(path)) {
    ThrowIfOutOfMemory();
    lists_.SetListMessage(kKeyOpenScript, path);
    return false;
  }
  const macro::MacroCommand* commands = nullptr;
  uint8_t* params = nullptr;
  if (!file->ReadCommands(&commands) || !file->GetParamBlock(&params)) {
    ThrowIfOutOfMemory();
    // An empty key means the system's error says why.
    lists_.SetListMessage(macro::GetMacroFileError(nullptr), path);
    return false;
  }
  // Records are looked up in the block as loaded; its header field now holds that length.
  const size_t params_size = file->Header().ParamBlockSize;
  const uint32_t count = commands == nullptr ? 0 : file->Header().CommandCount;

  bool result = true;
  const macro::ParamRecordIndex records(plat::ByteView(params, params_size));
  for (uint32_t i = 0; i < count; ++i) {
    const macro::MacroCommand& command = commands[i];
    if (command.Flags & macro::kCommandDisabled) continue;
    if (command.ParamId == macro::kNoParamId) continue;
    const uint8_t* record = records.Find(command.ParamId).data();
    if (record == nullptr) continue;
    const CallLayout* layout = LayoutOf(command.Code);
    if (layout == nullptr) continue;
    if (!Call(caller, *layout, record, static_cast<int32_t>(i), scratch, nesting)) result = false;
  }

  if (nesting < kMaxEmbeddedNesting) WalkEmbedded(*file, caller, scratch, nesting);
  return result;
}

bool Walker::Call(int32_t caller, const CallLayout& layout, const uint8_t* record, int32_t index,
                  std::u16string_view scratch, int nesting) {
  // The limit comes first: every call found once the list is full counts against it,
  // even one that would have been skipped below.
  if (lists_.MacroCount() >= project::kMaxListEntries) {
    lists_.SetListMessage(kKeyTooManyMacros);
    limit_met_ = true;
    return false;
  }

  const uint8_t* payload = record + 4;
  const size_t size = macro::ParamRecordSize(plat::ByteView(record, macro::kParamHeadSize));
  // A record too short to hold the kind names nothing.
  if (size <= layout.kind_at) return true;

  const uint8_t kind = payload[layout.kind_at];
  // A text the payload cuts short ends there; one past its end is empty.
  const std::u16string name = plat::ByteView(payload, size).Utf16z(layout.name_at);
  const std::u16string_view tested = layout.test_trimmed ? TrimBlanks(name) : std::u16string_view(name);
  if (!tested.empty() && tested.find(u'%') != std::u16string_view::npos) return true;  // a variable
  if (StartsWithInput(tested) || kind == kRefNotAFile) return true;

  std::u16string resolved;
  if (!ResolveMacroReference(kind, name, script_folder_, data_folder_, resolved)) return true;
  // A kind the system does not know resolves to nothing; an entry without a path could
  // never be packed.
  if (resolved.empty()) return true;
  // Cut to the field, a longer path would name a different file.
  if (resolved.size() >= kPathUnits) return true;
  // A folder is no macro file: listed, its copy for the build would fail, and found
  // entries cannot be removed by the user.
  if (IsExistingFolder(resolved)) return true;

  project::MacroListEntry entry{};
  entry.ParentIndex = static_cast<uint16_t>(caller);
  entry.EntryType = kMacroEntryType;
  entry.UserAdded = 0;
  entry.FolderRelative = kind == kRefLibraryName ? 1 : 0;
  entry.CommandIndex = index;
  plat::SetFixedText(entry.Path, kPathUnits, plat::ToLower(resolved));
  bool already_listed = false;
  const int32_t added = lists_.AddMacroEntry(entry, &already_listed);
  if (added < 0 || already_listed) return true;

  const std::u16string target = plat::FixedText(entry.Path, kPathUnits);
  if (IsExistingFile(target)) Walk(added, target, scratch, nesting);
  return true;
}

void Walker::WalkEmbedded(macro::CFile_Macro& file, int32_t caller, std::u16string_view scratch, int nesting) {
  const auto attachments = std::make_unique<macro::CAttachments_Manager>();
  // A damaged area leaves what it could read; items whose streams cannot be had fail to
  // extract below and are passed over. Memory running out is no damage.
  plat::SetLastError(plat::err::kSuccess);
  if (!attachments->ReadFromMacroFile(file.File(), file.Header())) ThrowIfOutOfMemory();
  for (uint32_t i = 0; i < attachments->Count(); ++i) {
    if (!IsMacroExtension(attachments->Extension(i))) continue;
    if (scratch.empty()) continue;
    plat::SetLastError(plat::err::kSuccess);
    if (!attachments->ExtractStream(attachments->StreamName(i), scratch)) {
      ThrowIfOutOfMemory();
      // A stream the area cannot give is damage, passed over; the disk refusing the copy
      // is not.
      const uint32_t error = plat::GetLastError();
      if (error != plat::err::kInvalidData && error != plat::err::kFileNotFound && !extraction_failed_) {
        extraction_failed_ = true;
        lists_.SetListMessage(nullptr);  // the system's words for the refusal
      }
      continue;
    }
    const ExtractedFile extracted(scratch);
    const ScratchPath inner;
    Walk(caller, scratch, inner.Path(), nesting + 1);
  }
}

}  // namespace

bool IsMacroExtension(std::u16string_view extension) {
  return plat::EqualNoCase(extension, u".msd") || plat::EqualNoCase(extension, u".msl");
}

// For destructors: the platform's file calls allocate, and a failure to clean up must not
// end the program.
void DeleteQuietly(std::u16string_view path) noexcept {
  try {
    plat::DeleteFile(path);
  } catch (...) {
  }
}

ScratchPath::ScratchPath() {
  const std::u16string folder = plat::GetTempPath();
  if (folder.empty()) return;
  reserved_ = plat::GetTempFileName(folder, u"~mt");
  constexpr std::u16string_view kTmp = u".tmp";
  try {
    if (reserved_.size() > kTmp.size()) path_ = reserved_.substr(0, reserved_.size() - kTmp.size());
  } catch (...) {
    // No destructor runs for an object whose construction failed.
    if (!reserved_.empty()) DeleteQuietly(reserved_);
    throw;
  }
}

ScratchPath::~ScratchPath() {
  if (!reserved_.empty()) DeleteQuietly(reserved_);
}

bool CollectMacroFiles(const MacroCollection& collection, int32_t caller, std::u16string_view script_folder,
                       std::u16string_view macro_path, std::u16string_view scratch_path) {
  try {
    // A walk looks up every name its calls give; it changes no file but its own copies.
    const plat::LookupBatch batch;
    Walker walker(collection, script_folder);
    const bool result = walker.Walk(caller, macro_path, scratch_path, 0);
    // A list cut short at any depth is no list to build from: unlike the other failures
    // of nested walks, which only leave their message, the limit fails the whole
    // collection, and its message is the one left, whatever failed after it.
    if (walker.LimitMet()) {
      collection.lists.SetListMessage(kKeyTooManyMacros);
      return false;
    }
    return result && !walker.ExtractionFailed();
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(collection.lists, macro_path);
  } catch (const std::length_error&) {
    ReportOutOfMemory(collection.lists, macro_path);
  }
  return false;
}

bool CollectScriptMacros(const MacroCollection& collection, std::u16string_view script_path,
                         std::u16string_view script_folder, int32_t* root) {
  if (root != nullptr) *root = -1;
  try {
    project::MacroListEntry entry{};
    entry.ParentIndex = project::kNoParent;
    entry.EntryType = kMacroEntryType;
    entry.CommandIndex = -1;
    plat::SetFixedText(entry.Path, kPathUnits, script_path);
    const int32_t index = collection.lists.AddMacroEntry(entry);
    if (index < 0) {
      collection.lists.SetListMessage(kKeyTooManyMacros);
      return false;
    }
    if (root != nullptr) *root = index;
    const ScratchPath scratch;
    return CollectMacroFiles(collection, index, script_folder, script_path, scratch.Path());
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(collection.lists, script_path);
  } catch (const std::length_error&) {
    ReportOutOfMemory(collection.lists, script_path);
  }
  return false;
}

}  // namespace analysis
