#include "packager/exe_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>
#include <optional>

#include "app/brankel_app.h"
#include "app/system_error.h"
#include "packager/payload.h"
#include "packager/reference_rewrite.h"
#include "packager/session.h"
#include "pe/resource_edits.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_retry.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace packager {
namespace {

constexpr uint32_t kMessageBoxError = 16;
constexpr char16_t kPlayerName[] = u"Runvale.exe";
constexpr char16_t kStubName[] = u"sysdata\\Stubvale.dat";
// The proxy language file travels inside payload B's header; anything near this size is
// not a language file, and is refused before it is read into memory.
constexpr uint64_t kLanguageFileLimit = 16u << 20;
// Files are read into the section in pieces the system's 32-bit read count can carry.
constexpr uint32_t kReadPiece = 1u << 24;

std::u16string FileNamePart(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'\\');
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

// The script's own name for payload A: after its last backslash; nothing when the path
// ends with a drive's colon.
std::u16string ScriptFileName(std::u16string_view script) {
  const size_t slash = script.find_last_of(u'\\');
  if (slash != std::u16string_view::npos) return std::u16string(script.substr(slash + 1));
  if (!script.empty() && script.back() == u':') return {};
  return std::u16string(script);
}

std::u16string FolderPart(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string_view::npos ? std::u16string(u".\\") : std::u16string(path.substr(0, slash + 1));
}

// The size of a file as the system reports it for an open handle.
std::optional<uint64_t> FileSizeOf(std::u16string_view path) {
  plat::FileHandle file =
      plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenExisting);
  if (file == nullptr) return std::nullopt;
  uint64_t size = 0;
  const bool ok = plat::GetFileSize(file, &size);
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(file);
  if (!ok) {
    plat::SetLastError(error);
    return std::nullopt;
  }
  return size;
}

bool Exists(std::u16string_view path) { return !path.empty() && plat::FileExists(path) && !plat::IsDirectory(path); }

}  // namespace

CMakeExe_Builder::CMakeExe_Builder(app::CBrankelApp& application)
    : analysis::CMakeExe_Builder(&application),
      application_(application),
      ui_library_path_(application.ResourceFile()) {
  SetRuntimeFolder(application.ProgramFolder());
}

void CMakeExe_Builder::SetRuntimeFolder(std::u16string folder) {
  player_path_ = folder + kPlayerName;
  stub_path_ = folder + kStubName;
  // The configured UI library belongs to the program folder's runtime; another runtime
  // brings its own, of its own word size.
  if (folder != application_.ProgramFolder()) {
    ui_library_path_ = folder;
    ui_library_path_ += u"sysdata\\";
    ui_library_path_ += kUiLibraryTarget;
  }
  runtime_folder_ = std::move(folder);
}

void CMakeExe_Builder::SetMessageText(std::u16string text) { SetBuilderText(text); }

std::u16string CMakeExe_Builder::UserPath(std::u16string_view path) const {
  if (!path.empty() && !destination_.empty() &&
      (plat::EqualNoCase(path, staging_) || plat::EqualNoCase(path, player_copy_))) {
    return destination_;
  }
  return FileLists().UserPathOf(path);
}

void CMakeExe_Builder::SetSystemMessage(uint32_t error, std::u16string_view path) {
  const std::u16string shown = UserPath(path);
  // Held past the wait: the system's own words ("used by another process") would leave
  // the user guessing which file, and that it may pass.
  if (plat::IsFileInUse(error)) {
    SetBuilderMessage(u"IDS_ERR_FILEINUSE", shown.empty() ? destination_ : shown);
    return;
  }
  std::u16string text = app::SystemErrorText(error, shown);
  if (!shown.empty() && text.find(shown) == std::u16string::npos) text = shown + u"\r\n" + text;
  SetBuilderText(text);
}

bool CMakeExe_Builder::ReadInto(std::u16string_view path, plat::MutableByteView out) {
  plat::FileHandle file =
      plat::OpenFile(path, plat::kGenericRead, plat::kShareRead | plat::kShareWrite, plat::Disposition::kOpenExisting);
  if (file == nullptr) return false;
  uint64_t size = 0;
  bool ok = plat::GetFileSize(file, &size) && size == out.size();
  if (!ok && plat::GetLastError() == plat::err::kSuccess) plat::SetLastError(plat::err::kInvalidData);
  for (size_t at = 0; ok && at < out.size();) {
    const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kReadPiece, out.size() - at));
    uint32_t done = 0;
    ok = plat::ReadFile(file, out.data() + at, piece, &done) && done == piece;
    at += piece;
  }
  const uint32_t error = plat::GetLastError();
  plat::CloseFile(file);
  if (!ok) plat::SetLastError(error == plat::err::kSuccess ? plat::err::kHandleEof : error);
  return ok;
}

bool CMakeExe_Builder::BuildExe(std::u16string_view destination, const project::MakeExeOptions& options,
                                std::u16string_view picture, std::u16string_view icon, uint32_t run_mode,
                                bool reset_version) {
  run_mode_ = run_mode;
  SetBuilderMessage(u"");
  exe_name_ = project::FieldText(options.ExeName);
  packed_.clear();

  // The new EXE is made beside the destination and takes its place only when whole, so a
  // failed build leaves the previous EXE as it was.
  destination_ = std::u16string(destination);
  player_copy_.clear();
  const std::u16string staging = plat::GetTempFileName(FolderPart(destination), u"~Mb");
  staging_ = staging;
  if (staging.empty()) {
    SetSystemMessage(plat::GetLastError(), destination);
    ShowError(u"IDS_ERR_EXEMACRO_BUILDDEST", Message());
    return false;
  }

  std::u16string player_copy;
  const bool built = BuildSteps(destination, staging, options, picture, icon, reset_version, &player_copy);
  if (!player_copy.empty()) plat::DeleteFileRetrying(player_copy);
  if (!built) plat::DeleteFileRetrying(staging);
  return built;
}

void CMakeExe_Builder::ShowError(const char16_t* key, std::u16string_view argument) {
  application_.MessageBoxByKey(key, nullptr, kMessageBoxError, argument);
}

bool CMakeExe_Builder::BuildSteps(std::u16string_view destination, std::u16string_view staging,
                                  const project::MakeExeOptions& options, std::u16string_view picture,
                                  std::u16string_view icon, bool reset_version, std::u16string* player_copy) {
  if (!BuildPlayerCopy(ScriptPath(), icon, options, player_copy, reset_version)) {
    if (!Message().empty()) ShowError(u"IDS_ERR_EXEMACRO_DEALPLAYER", Message());
    return false;
  }
  if (Exists(picture)) {
    const pe::EditOutcome outcome = pe::ReplaceStartupPicture(*player_copy, picture);
    if (!outcome.Succeeded()) {
      const std::u16string key = plat::AnsiToWide(outcome.key);
      if (key == u"IDS_ERR_EXEMACRO_DEALPLAYER") {
        SetSystemMessage(plat::GetLastError(), *player_copy);
        ShowError(key.c_str(), Message());
      } else if (outcome.argument.empty()) {
        application_.MessageBoxByKey(key.c_str(), nullptr, kMessageBoxError);
      } else {
        ShowError(key.c_str(), outcome.argument);
      }
      return false;
    }
    if (!pe::CPE_ImageEditor::FixChecksum(*player_copy)) {
      SetSystemMessage(plat::GetLastError(), *player_copy);
      ShowError(u"IDS_ERR_EXEMACRO_DEALPLAYER", Message());
      return false;
    }
  }
  if (!BuildFinalExe(staging)) {
    ShowError(u"IDS_ERR_EXEMACRO_BUILDDEST", Message());
    return false;
  }
  if (Exists(icon)) {
    const std::optional<pe::IconData> data = pe::ReadIconFile(icon);
    if (!data || !pe::ReplaceIconGroup(staging, pe::kExeIconGroup, *data)) {
      SetSystemMessage(plat::GetLastError());
      ShowError(u"IDS_ERR_EXEMACRO_DEALPLAYER", Message());
      return false;
    }
  }
  // Write gave the EXE its checksum; only the icon edit makes it stale.
  if (Exists(icon) && !pe::CPE_ImageEditor::FixChecksum(staging)) {
    SetSystemMessage(plat::GetLastError(), destination);
    ShowError(u"IDS_ERR_EXEMACRO_BUILDDEST", Message());
    return false;
  }
  // The signature covers the finished image, so it is the last edit.
  if (signing_.Wanted()) {
    std::u16string why;
    if (!SignExe(staging, signing_, &why)) {
      SetMessageText(why);
      ShowError(u"IDS_ERR_EXEMACRO_BUILDDEST", Message());
      return false;
    }
  }
  if (!plat::MoveFileRetrying(staging, destination, true)) {
    SetSystemMessage(plat::GetLastError(), destination);
    ShowError(u"IDS_ERR_EXEMACRO_BUILDDEST", Message());
    return false;
  }
  return true;
}

bool CMakeExe_Builder::BuildPlayerCopy(std::u16string_view script_path, std::u16string_view icon,
                                       const project::MakeExeOptions& options, std::u16string* player_path,
                                       bool reset_version) {
  player_path->clear();
  modules_.ResetModuleMarks();
  if (!RewriteMacroCopies(*this, application_.DataFolder())) return false;
  if (!modules_.ScanModuleNeeds(FileLists(), application_.LanguageCode())) {
    SetMessageText(std::u16string(FileLists().Message()));
    return false;
  }

  if (!Load(player_path_)) {
    SetBuilderMessage(u"IDS_ERR_OPENFILE", player_path_);
    return false;
  }
  for (const std::string& name : modules_.RemovableImports()) {
    if (!RemoveImport(name)) {
      SetMessageText(player_path_ + u"\r\n" + plat::Utf8ToUtf16(RefusalText()));
      return false;
    }
  }
  if (!modules_.AddRuntimeFiles(FileLists(), runtime_folder_, ui_library_path_, application_.LanguageCode())) {
    SetMessageText(std::u16string(FileLists().Message()));
    return false;
  }

  // The records, each measured now and read anew when the section is filled.
  project::CMakeExe_FileLists& lists = FileLists();
  const project::MacroListEntry* macros = lists.MacroEntries();
  std::vector<PlannedRecord> records;
  std::vector<std::u16string> sources;
  for (int32_t i = 0; i < lists.MacroCount(); ++i) {
    const project::MacroListEntry& entry = macros[i];
    if (entry.UserAdded != 0) continue;
    const std::u16string path = project::FieldText(entry.Path);
    const std::u16string source = entry.TempPath[0] != 0 ? project::FieldText(entry.TempPath) : path;
    const std::optional<uint64_t> size = FileSizeOf(source);
    if (!size) {
      SetBuilderMessage(u"IDS_ERR_GETFILEATTRIB", path);
      return false;
    }
    records.push_back({entry.EntryType, *size, ScriptRelativeName(path, ScriptFolder()), 0});
    sources.push_back(source);
  }
  const PayloadPlan plan = PlanPayloadA(std::move(records));
  if (!plan.refusal.empty()) {
    SetMessageText(plat::Utf8ToUtf16(plan.refusal));
    return false;
  }
  uint8_t* data = AddDataSection(plan.total_size);
  if (data == nullptr) {
    SetBuilderMessage(nullptr);
    return false;
  }
  const plat::MutableByteView section(data, plan.total_size);
  PutPayloadAHeader(section, options, static_cast<uint32_t>(lists.MacroCount()), ScriptFileName(script_path));
  for (size_t i = 0; i < plan.records.size(); ++i) {
    const PlannedRecord& record = plan.records[i];
    const auto body = section.Sub(record.offset + kFileRecordHeadSize, static_cast<size_t>(record.size));
    if (!PutPayloadARecordHead(section, record) || !body || !ReadInto(sources[i], *body)) {
      SetSystemMessage(plat::GetLastError(), sources[i]);
      return false;
    }
  }

  std::u16string temporary = plat::GetTempFileName(plat::GetTempPath(), u"~Ma");
  if (temporary.size() < 3) {
    SetBuilderMessage(nullptr);
    return false;
  }
  // Only the name is wanted: the ".exe" beside it is the copy.
  if (!plat::DeleteFileRetrying(temporary)) {
    SetSystemMessage(plat::GetLastError(), temporary);
    return false;
  }
  temporary.replace(temporary.size() - 3, 3, u"exe");
  const std::optional<uint32_t> epoch = plat::SourceDateEpoch();
  if (epoch) SetTimeStamp(*epoch);
  // Known before it is written: a failure to write it names the EXE, not this copy.
  player_copy_ = temporary;
  if (!Write(temporary)) {
    const uint32_t error = plat::GetLastError();
    // A write that failed part way leaves a piece of the copy behind.
    plat::DeleteFileRetrying(temporary);
    SetSystemMessage(error, temporary);
    return false;
  }
  *player_path = temporary;

  Reset();  // the copy is on disk; the edits below work on the file
  if (reset_version) pe::BlankVersionStrings(temporary);
  if (Exists(icon)) {
    const std::optional<pe::IconData> icon_data = pe::ReadIconFile(icon);
    if (!icon_data || !pe::ReplaceIconGroup(temporary, pe::kPlayerIconGroup, *icon_data)) {
      SetSystemMessage(plat::GetLastError());
      return false;
    }
  }
  if ((reset_version || Exists(icon)) && !pe::CPE_ImageEditor::FixChecksum(temporary)) {
    SetSystemMessage(plat::GetLastError(), temporary);
    return false;
  }

  // Inside the EXE the copy is known by its temporary name, or, for a reproducible build,
  // by a name drawn from its content.
  std::u16string target = FileNamePart(temporary);
  if (epoch) {
    const std::optional<std::string> bytes = plat::ReadWholeFile(temporary);
    if (!bytes) {
      SetSystemMessage(plat::GetLastError(), temporary);
      return false;
    }
    const plat::Md5Digest digest = plat::Md5(bytes->data(), bytes->size());
    char hex[9];
    std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", digest[0], digest[1], digest[2], digest[3]);
    target = u"~Ma";
    target += plat::Utf8ToUtf16(hex);
    target += u".exe";
  }
  project::ExtraFileEntry entry{};
  entry.ParentIndex = project::kNoParent;
  entry.FileKind = kFileKindPlayer;
  entry.UserAdded = 1;
  entry.CommandIndex = -1;
  plat::SetFixedText(entry.SourcePath, std::size(entry.SourcePath), temporary);
  plat::SetFixedText(entry.TargetName, std::size(entry.TargetName), target);
  if (!lists.AddExtraEntry(entry)) {
    SetBuilderMessage(u"IDS_ERR_TOOMANYEXTRAFILE", script_path);
    return false;
  }
  return true;
}

bool CMakeExe_Builder::BuildFinalExe(std::u16string_view destination) {
  packed_.clear();
  plat::SetCurrentDirectory(application_.ProgramFolder());
  const std::optional<std::string> language = plat::ReadWholeFile(application_.ProxyLanguageFile(), kLanguageFileLimit);
  if (!language) {
    SetBuilderMessage(u"IDS_ERR_OPENFILE", u"");
    return false;
  }
  if (!Load(stub_path_)) {
    SetBuilderMessage(u"IDS_ERR_OPENFILE", stub_path_);
    return false;
  }

  // The first file of a name wins; a later one loses its name and stays behind.
  project::CMakeExe_FileLists& lists = FileLists();
  project::ExtraFileEntry* extras = lists.ExtraEntries();
  std::vector<PlannedRecord> records;
  std::vector<std::u16string> sources;
  for (int32_t i = 0; i < lists.ExtraCount(); ++i) {
    project::ExtraFileEntry& entry = extras[i];
    const bool packed =
        entry.TargetName[0] != 0 && entry.OnSearchPath == 0 && (entry.UserAdded != 0 || entry.Excluded == 0);
    if (!packed) continue;
    const std::u16string target = project::FieldText(entry.TargetName);
    const bool taken = std::any_of(extras, extras + i, [&](const project::ExtraFileEntry& earlier) {
      return earlier.TargetName[0] != 0 && plat::EqualNoCase(project::FieldText(earlier.TargetName), target);
    });
    if (taken) {
      entry.TargetName[0] = 0;
      continue;
    }
    const std::u16string source = project::FieldText(entry.SourcePath);
    const std::optional<uint64_t> size = FileSizeOf(source);
    if (!size) {
      SetBuilderMessage(u"IDS_ERR_GETFILEATTRIB", source);
      return false;
    }
    records.push_back({static_cast<uint8_t>(entry.FileKind & 0xFF), *size, target, 0});
    sources.push_back(source);
  }
  const PayloadPlan plan = PlanPayloadB(std::move(records), static_cast<uint32_t>(language->size()));
  if (!plan.refusal.empty()) {
    SetMessageText(plat::Utf8ToUtf16(plan.refusal));
    return false;
  }
  // Payload B goes to the file while it is written, one record at a time through one
  // buffer: the payload is never held whole, and each file is read once.
  bool source_failed = false;
  size_t failed_record = 0;
  const bool web_installer = modules_.WebInstallerNeeded();
  auto fill = [&](pe::SectionSink& sink) {
    std::vector<uint8_t> buffer(plan.first_record, 0);
    if (!PutPayloadBHeader(plat::MutableByteView(buffer), plan, static_cast<uint8_t>(run_mode_), web_installer,
                           exe_name_, plat::ByteView(*language)) ||
        !sink.Append(plat::ByteView(buffer))) {
      return false;
    }
    for (size_t i = 0; i < plan.records.size(); ++i) {
      PlannedRecord record = plan.records[i];
      const uint32_t span = *FileRecordSpan(record.size);
      buffer.resize(span);
      std::fill(buffer.end() - 8, buffer.end(), uint8_t{0});
      const plat::MutableByteView whole(buffer.data(), span);
      const plat::MutableByteView body(buffer.data() + kFileRecordHeadSize, span - kFileRecordHeadSize);
      if (!ReadInto(sources[i], plat::MutableByteView(body.data(), static_cast<size_t>(record.size)))) {
        source_failed = true;
        failed_record = i;
        return false;
      }
      record.offset = 0;
      PutPayloadBRecordHead(whole, record, plat::Md5(body.data(), body.size()));
      if (!sink.Append(whole.View())) return false;
      PackedFile file{record.type, record.name, sources[i], record.size};
      if (progress_) progress_(file);
      packed_.push_back(std::move(file));
    }
    return true;
  };
  if (!AddStreamedSection(plan.total_size, fill)) {
    SetBuilderMessage(nullptr);
    return false;
  }
  if (const std::optional<uint32_t> epoch = plat::SourceDateEpoch()) SetTimeStamp(*epoch);
  const bool written = Write(destination);
  const uint32_t error = plat::GetLastError();
  // The section's filler refers to this frame; the image goes with it.
  Reset();
  if (!written) {
    if (source_failed) {
      SetBuilderMessage(u"IDS_ERR_GETFILEATTRIB", sources[failed_record]);
    } else {
      SetSystemMessage(error, destination);
    }
    packed_.clear();
    return false;
  }
  return true;
}

std::u16string RuntimeFolder(std::u16string_view program_folder, Machine machine) {
  std::u16string folder(program_folder);
  if (machine == Machine::kX64) folder += u"x64\\";
  return folder;
}

BuildOutcome BuildSession(PackagingSession& session, const RuntimeChoice& runtime,
                          std::function<void(const PackedFile&)> progress) {
  BuildOutcome outcome;
  project::MakeExeOptions& record = session.Record();
  // Fields the build page clears before every build.
  record.Reserved39 = 0;
  record.Reserved1604[0] = 0;
  std::fill(std::begin(record.Reserved2124), std::end(record.Reserved2124), uint8_t{0});

  CMakeExe_Builder builder(session.Application());
  builder.SetScriptPath(session.Script(), session.ScriptFolder());
  if (builder.FileLists().CopyFrom(session.Lists()) < 0) {
    session.Application().MessageBoxByKey(u"IDS_ERR_TOOMANYEXTRAFILE", nullptr, kMessageBoxError, session.Script());
    return outcome;
  }
  builder.SetRuntimeFolder(RuntimeFolder(session.Application().ProgramFolder(), runtime.machine));
  if (!runtime.player.empty()) builder.SetPlayerPath(runtime.player);
  if (!runtime.stub.empty()) builder.SetStubPath(runtime.stub);
  builder.SetProgress(std::move(progress));
  builder.SetSigning(runtime.signing);
  outcome.destination = project::FieldText(record.DestinationPath);
  outcome.built = builder.BuildExe(outcome.destination, record, project::FieldText(record.PicturePath),
                                   project::FieldText(record.IconPath), record.RunMode, record.ResetVersion != 0);
  if (outcome.built) {
    outcome.files = builder.PackedFiles();
    outcome.size = FileSizeOf(outcome.destination).value_or(0);
  }
  return outcome;
}

}  // namespace packager
