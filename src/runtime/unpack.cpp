#include "runtime/unpack.h"

#include <algorithm>
#include <initializer_list>
#include <set>
#include <utility>
#include <vector>

#include "app/res_string.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace runtime {
namespace {

// FILE_ATTRIBUTE_REPARSE_POINT: a junction or link, whose target may lie anywhere.
constexpr uint32_t kAttrReparsePoint = 0x400;
constexpr int kFolderAttempts = 100;

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsForbidden(char16_t c) {
  return c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*' || c == u':';
}

// The part as the system stores it: Windows drops trailing dots and blanks from a name.
std::u16string_view Stored(std::u16string_view part) {
  while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.remove_suffix(1);
  return part;
}

// "CON", "nul.txt", "COM1 .log": names that open a device instead of a file.
bool IsDeviceName(std::u16string_view part) {
  std::u16string_view base = part.substr(0, std::min(part.find(u'.'), part.size()));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  const std::u16string upper = plat::ToUpper(base);
  for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (upper == device) return true;
  }
  if (upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT"))) {
    const char16_t digit = upper[3];
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
  }
  return false;
}

template <typename Visit>
void ForEachPart(std::u16string_view name, Visit visit) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    visit(name.substr(start, end - start), end == name.size());
    start = end + 1;
  }
}

// The form two names that land on one file share: one separator, the stored parts, one
// letter case.
std::u16string SameFileKey(std::u16string_view name) {
  std::u16string key;
  ForEachPart(name, [&](std::u16string_view part, bool last) {
    key += Stored(part);
    if (!last) key += u'\\';
  });
  return plat::ToLower(key);
}

std::u16string Backslashed(std::u16string_view name) {
  std::u16string out(name);
  std::replace(out.begin(), out.end(), u'/', u'\\');
  return out;
}

Fault RecordFault(FaultKind kind, size_t index, const packager::PayloadBRecord& record, std::string reason,
                  uint32_t error = 0) {
  Fault fault;
  fault.kind = kind;
  fault.record = index;
  fault.target_name = record.target_name;
  fault.reason = std::move(reason);
  fault.error = error;
  return fault;
}

// Texts joined by appending (a literal joined to a temporary draws a false warning from
// some GCC versions).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

std::string ErrorText(uint32_t error) { return Cat({"system error ", std::to_string(error)}); }

// What UnpackPayload made, undone in reverse order when it fails.
class Undo {
 public:
  void File(std::u16string path) { made_.push_back({std::move(path), false}); }
  void Folder(std::u16string path) { made_.push_back({std::move(path), true}); }
  void Run() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      if (it->second) {
        plat::RemoveDirectory(it->first);
      } else {
        plat::SetFileAttributes(it->first, plat::kAttrNormal);
        plat::DeleteFile(it->first);
      }
    }
    made_.clear();
  }

 private:
  std::vector<std::pair<std::u16string, bool>> made_;
};

// Writes `bytes` to a file that must not exist yet; false with the last error set.
bool WriteNewFile(const std::u16string& path, plat::ByteView bytes, Undo* undo) {
  const plat::FileHandle file = plat::OpenFile(path, plat::kGenericWrite, 0, plat::Disposition::kCreateNew);
  if (file == nullptr) return false;
  undo->File(path);
  const bool written = bytes.empty() || plat::WriteExact(file, bytes.data(), bytes.size());
  const uint32_t error = plat::GetLastError();
  const bool closed = plat::CloseFile(file);
  if (!written) plat::SetLastError(error != 0 ? error : plat::err::kDiskFull);
  return written && closed;
}

// Makes every folder on the way to `name` below `folder`.
bool MakeSubfolders(const std::u16string& folder, std::u16string_view name, Undo* undo) {
  std::u16string path = folder;
  bool ok = true;
  ForEachPart(name, [&](std::u16string_view part, bool last) {
    if (last || !ok) return;
    path += u'\\';
    path += part;
    if (plat::CreateDirectory(path)) {
      undo->Folder(path);
    } else if (plat::GetLastError() != plat::err::kAlreadyExists || !plat::IsDirectory(path)) {
      // A file of that name is in the way, or the disk refuses.
      if (plat::GetLastError() == plat::err::kAlreadyExists) plat::SetLastError(plat::err::kDirectory);
      ok = false;
    }
  });
  return ok;
}

bool RemoveBelow(const std::u16string& folder) {
  bool all = true;
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data);
  if (find == nullptr) return plat::GetLastError() == plat::err::kFileNotFound;
  do {
    if (data.name == u"." || data.name == u"..") continue;
    const std::u16string child = folder + u"\\" + data.name;
    if ((data.attributes & plat::kAttrDirectory) != 0) {
      // A link to a folder goes as a link; what it points at stays.
      if ((data.attributes & kAttrReparsePoint) == 0 && !RemoveBelow(child)) all = false;
      if (!plat::RemoveDirectory(child)) all = false;
    } else {
      if ((data.attributes & plat::kAttrReadOnly) != 0) plat::SetFileAttributes(child, plat::kAttrNormal);
      if (!plat::DeleteFile(child)) all = false;
    }
  } while (plat::FindNextFile(find, &data));
  plat::FindClose(find);
  return all;
}

}  // namespace

bool CheckTargetName(std::u16string_view name, std::string* reason) {
  auto refuse = [&](std::string why) {
    if (reason != nullptr) *reason = std::move(why);
    return false;
  };
  if (name.empty()) return refuse("the target name is empty");
  if (name.size() >= packager::kRecordNameUnits) return refuse("the target name is too long");
  if (IsSeparator(name.front())) return refuse("the target name starts at a root folder");
  for (char16_t c : name) {
    if (c == u':') return refuse("the target name holds a colon (a drive or a stream)");
    if (IsForbidden(c)) return refuse("the target name holds a character file names cannot hold");
  }
  std::string fault;
  ForEachPart(name, [&](std::u16string_view part, bool) {
    if (!fault.empty()) return;
    if (part.empty()) {
      fault = "the target name has an empty part";
    } else if (part == u"..") {
      fault = "the target name climbs out of its folder with \"..\"";
    } else if (Stored(part).empty()) {
      fault = "the target name has a part of only dots and blanks";
    } else if (IsDeviceName(part)) {
      fault = "the target name names a device";
    }
  });
  if (!fault.empty()) return refuse(std::move(fault));
  return true;
}

namespace {

// A record whose target name is unsafe or lands on the file of an earlier one; `names`
// holds the names taken so far and gets this one.
std::optional<Fault> NameFault(std::set<std::u16string>& names, size_t index, const packager::PayloadBRecord& record) {
  std::string why;
  if (!CheckTargetName(record.target_name, &why)) return RecordFault(FaultKind::kUnsafeName, index, record, why);
  if (!names.insert(SameFileKey(record.target_name)).second) {
    return RecordFault(FaultKind::kUnsafeName, index, record, "an earlier file has the same target name");
  }
  return std::nullopt;
}

}  // namespace

std::string Fault::Describe() const {
  if (!record) return reason;
  return Cat({"record ", std::to_string(*record), " \"", plat::Utf16ToUtf8(target_name), "\": ", reason});
}

Verified VerifyPayload(plat::ByteView section) {
  Verified result;
  std::string refusal;
  std::optional<packager::PayloadB> payload = packager::ReadPayloadB(section, &refusal);
  if (!payload) {
    result.fault.kind = FaultKind::kDamaged;
    result.fault.reason = refusal;
    return result;
  }
  result.language_file = payload->language_file;
  std::set<std::u16string> names = {SameFileKey(kProxyLanguageName)};
  size_t players = 0;
  for (size_t i = 0; i < payload->records.size(); ++i) {
    const packager::PayloadBRecord& record = payload->records[i];
    if (record.kind == packager::kFileKindPlayer) ++players;
    const plat::Md5Digest digest = plat::Md5(record.padded.data(), record.padded.size());
    if (digest == plat::Md5Digest{}) {
      result.fault = RecordFault(FaultKind::kDamaged, i, record,
                                 Cat({"its digest cannot be computed (", ErrorText(plat::GetLastError()), ")"}));
      return result;
    }
    if (digest != record.digest) {
      result.fault = RecordFault(FaultKind::kDamaged, i, record, "its data does not match its MD5 digest");
      return result;
    }
    // The digest covers the padding but not the size: zero padding is what keeps a size
    // cut short from passing unseen.
    const plat::ByteView padding = record.padded.From(record.size);
    if (std::any_of(padding.begin(), padding.end(), [](uint8_t b) { return b != 0; })) {
      result.fault = RecordFault(FaultKind::kDamaged, i, record, "its padding after the data is not zero");
      return result;
    }
    if (std::optional<Fault> name_fault = NameFault(names, i, record)) {
      result.fault = std::move(*name_fault);
      return result;
    }
  }
  if (players != 1) {
    result.fault.kind = FaultKind::kDamaged;
    result.fault.reason = Cat({"the payload holds ", std::to_string(players), " player records instead of one"});
    return result;
  }
  result.payload = std::move(payload);
  return result;
}

Fault UnpackPayload(const packager::PayloadB& payload, const std::u16string& folder) {
  Undo undo;
  Fault fault;
  if (!WriteNewFile(folder + u"\\" + kProxyLanguageName, payload.language_file, &undo)) {
    fault.kind = FaultKind::kDisk;
    fault.error = plat::GetLastError();
    fault.reason = Cat({"the language file cannot be written (", ErrorText(fault.error), ")"});
    undo.Run();
    return fault;
  }
  std::set<std::u16string> names = {SameFileKey(kProxyLanguageName)};
  for (size_t i = 0; i < payload.records.size(); ++i) {
    const packager::PayloadBRecord& record = payload.records[i];
    // Checked again here: a caller may unpack a payload it did not verify.
    if (std::optional<Fault> name_fault = NameFault(names, i, record)) {
      fault = std::move(*name_fault);
    } else {
      const std::u16string name = Backslashed(record.target_name);
      if (!MakeSubfolders(folder, name, &undo)) {
        const uint32_t error = plat::GetLastError();
        fault = RecordFault(FaultKind::kDisk, i, record, Cat({"its folder cannot be made (", ErrorText(error), ")"}),
                            error);
      } else if (!WriteNewFile(folder + u"\\" + name, record.data, &undo)) {
        const uint32_t error = plat::GetLastError();
        fault = RecordFault(FaultKind::kDisk, i, record, Cat({"it cannot be written (", ErrorText(error), ")"}), error);
      }
    }
    if (fault) {
      undo.Run();
      return fault;
    }
  }
  return fault;
}

std::u16string MakePrivateFolder() {
  const std::u16string temp = plat::GetTempPath();
  // The system reserves a free name by making an empty file "~Bk<n>.tmp"; the folder is
  // "~Bk<n>.dir", a name no temporary file takes. Creating a folder never opens an existing
  // one, so a folder made here is ours alone. Reservations stay until the end, so that a
  // folder name left over from an earlier run makes the system pick another number.
  std::vector<std::u16string> reserved;
  std::u16string folder;
  uint32_t error = plat::err::kAlreadyExists;
  for (int attempt = 0; attempt < kFolderAttempts && folder.empty(); ++attempt) {
    const std::u16string name = plat::GetTempFileName(temp, u"~Bk");
    if (name.empty() || name.size() < 4) {
      error = plat::GetLastError();
      break;
    }
    reserved.push_back(name);
    const std::u16string candidate = name.substr(0, name.size() - 3) + u"dir";
    if (plat::CreateDirectory(candidate)) {
      folder = candidate;
    } else if ((error = plat::GetLastError()) != plat::err::kAlreadyExists) {
      break;
    }
  }
  for (const std::u16string& name : reserved) plat::DeleteFile(name);
  if (folder.empty()) plat::SetLastError(error);
  return folder;
}

bool RemoveFolderTree(const std::u16string& folder) {
  if (folder.empty()) return false;
  const uint32_t attributes = plat::GetFileAttributes(folder);
  if (attributes == plat::kInvalidAttributes) return true;
  if ((attributes & kAttrReparsePoint) != 0) return plat::RemoveDirectory(folder);
  RemoveBelow(folder);
  return plat::RemoveDirectory(folder);
}

size_t PlayerRecord(const packager::PayloadB& payload) {
  for (size_t i = 0; i < payload.records.size(); ++i) {
    if (payload.records[i].kind == packager::kFileKindPlayer) return i;
  }
  return payload.records.size();
}

std::u16string_view ArgumentsAfterProgram(std::u16string_view command_line) {
  size_t at = 0;
  if (!command_line.empty() && command_line.front() == u'"') {
    // The quoted name runs to the next quote; Windows knows no escapes inside it.
    const size_t close = command_line.find(u'"', 1);
    at = close == std::u16string_view::npos ? command_line.size() : close + 1;
  }
  while (at < command_line.size() && command_line[at] != u' ' && command_line[at] != u'\t') ++at;
  while (at < command_line.size() && (command_line[at] == u' ' || command_line[at] == u'\t')) ++at;
  return command_line.substr(at);
}

std::u16string PlayerCommandLine(const std::u16string& folder, std::u16string_view player, uint8_t run_mode,
                                 std::u16string_view arguments) {
  std::u16string line = u"\"";
  line += folder;
  line += u'\\';
  line += Backslashed(player);
  line += u"\" /mode:";
  line += plat::AsciiToUtf16(std::to_string(run_mode));
  if (!arguments.empty()) {
    line += u' ';
    line += arguments;
  }
  return line;
}

StubTexts LoadStubTexts(plat::ByteView language_file) {
  app::CVLResString table;
  if (!language_file.empty()) {
    table.LoadText(std::string_view(reinterpret_cast<const char*>(language_file.data()), language_file.size()));
  }
  StubTexts texts;
  table.GetString(texts.title, u"IDS_PROXY_TITLE", u"Macro program");
  table.GetString(texts.damaged, u"IDS_ERR_PROXY_DAMAGED",
                  u"The program is damaged and cannot start.\r\nPlease get a new copy of it.");
  table.GetString(texts.unpack, u"IDS_ERR_PROXY_UNPACK",
                  u"The program cannot unpack its files to the temporary folder.");
  table.GetString(texts.start, u"IDS_ERR_PROXY_START", u"The program cannot start its player.");
  return texts;
}

std::string LogLine(std::u16string_view key, std::u16string_view text) {
  std::u16string line = u"[";
  line += key;
  line += u"] ";
  for (char16_t c : text) {
    if (c == u'\r') continue;
    line += c == u'\n' ? u' ' : c;
  }
  return plat::Utf16ToUtf8(line) + "\n";
}

}  // namespace runtime
