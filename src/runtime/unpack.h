// The stub's decisions, apart from the window and the process it starts: which payload it
// trusts, which target names it writes, and where.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "packager/payload.h"
#include "platform/byte_view.h"

namespace runtime {

// The name the proxy language file gets in the unpack folder, beside the packed files.
inline constexpr char16_t kProxyLanguageName[] = u"Proxvale.lng";

// Whether `name` may be written below the unpack folder: relative, without a drive, a
// colon (streams), a ".." part, an empty part, a character Windows forbids in file names
// or a device name ("CON", "nul.txt"). Subfolders ("a\b.dll", "a/b.dll") are kept. False
// with `*reason` (when given) saying what is wrong.
bool CheckTargetName(std::u16string_view name, std::string* reason = nullptr);

// What went wrong, and with which record when one is to blame.
enum class FaultKind {
  kNone,
  kDamaged,     // payload missing, malformed or tampered: exit 2
  kUnsafeName,  // a target name that must not be written (unsafe or twice): exit 3
  kDisk,        // a folder or file could not be made: exit 3
};
struct Fault {
  FaultKind kind = FaultKind::kNone;
  std::optional<size_t> record;  // index of the record at fault
  std::u16string target_name;    // its target name
  std::string reason;            // English, for the message and the log
  uint32_t error = 0;            // the system's error number for disk failures

  explicit operator bool() const { return kind != FaultKind::kNone; }
  // The reason with the record named: `record 2 "sub\a.dll": reason`.
  std::string Describe() const;
};

// Every check the stub makes before it writes anything: the layout (packager::ReadPayloadB),
// each record's digest over its padded data, each target name, no name twice (letter case
// and the trailing dots and blanks Windows drops aside, the proxy language file's name
// included), exactly one player record (kind 2). `payload` is set only when all hold; the
// proxy language file is kept whenever the layout could be read, so that the stub can
// word its message in the user's language even for a damaged payload.
struct Verified {
  std::optional<packager::PayloadB> payload;
  plat::ByteView language_file;
  Fault fault;
};
Verified VerifyPayload(plat::ByteView section);

// Writes the proxy language file as kProxyLanguageName and every record's bytes (not the
// padding) below `folder` (no trailing backslash) under its target name, making its
// subfolders. Never replaces a file: a name met twice is refused. On any failure removes
// every file and folder it made and returns the fault; the folder itself stays.
Fault UnpackPayload(const packager::PayloadB& payload, const std::u16string& folder);

// A fresh folder of its own under the temporary folder ("~Bk<n>.dir"), that did not exist
// before; empty with the last error set when none can be made.
std::u16string MakePrivateFolder();
// Removes `folder` and everything listed below it. Links to folders (reparse points) are
// removed, never entered, so nothing outside the folder is touched. True when it is gone.
bool RemoveFolderTree(const std::u16string& folder);

// The player record's index (VerifyPayload has made sure there is one).
size_t PlayerRecord(const packager::PayloadB& payload);

// What follows the program's name on a Windows command line, its separating blanks
// skipped: the arguments the stub passes on unchanged.
std::u16string_view ArgumentsAfterProgram(std::u16string_view command_line);
// `"<folder>\<player>" /mode:<run mode>` followed by a blank and `arguments` when there
// are any.
std::u16string PlayerCommandLine(const std::u16string& folder, std::u16string_view player, uint8_t run_mode,
                                 std::u16string_view arguments);

// The stub's texts: from the proxy language file when it holds the key, else English.
struct StubTexts {
  std::u16string title;
  std::u16string damaged;  // IDS_ERR_PROXY_DAMAGED
  std::u16string unpack;   // IDS_ERR_PROXY_UNPACK
  std::u16string start;    // IDS_ERR_PROXY_START
};
StubTexts LoadStubTexts(plat::ByteView language_file);

// A message as one log line: "[<key>] <text>", line breaks turned into blanks, UTF-8, "\n".
std::string LogLine(std::u16string_view key, std::u16string_view text);

}  // namespace runtime
