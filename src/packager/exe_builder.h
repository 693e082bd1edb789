// The build: a copy of the player that carries the macro files and the player's options,
// then the final EXE made from the stub, which carries every packed file and that copy.
// Whatever fails, no temporary file stays behind and an EXE already at the destination
// stays as it was: the new one is made beside it and moved into place when whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/make_exe_builder.h"
#include "packager/runtime_modules.h"
#include "packager/signing.h"
#include "pe/pe_image.h"
#include "project/options.h"

namespace app {
class CBrankelApp;
}

namespace packager {

// One file the final EXE carries, as a report lists it.
struct PackedFile {
  uint8_t kind = 0;
  std::u16string target_name;
  std::u16string source_path;
  uint64_t size = 0;
};

// The editor holds the image being built (the player copy, then the stub); the analysis
// builder holds the lists, the script and the message text.
class CMakeExe_Builder : public pe::CPE_ImageEditor, public analysis::CMakeExe_Builder {
 public:
  explicit CMakeExe_Builder(app::CBrankelApp& application);

  // The runtime a build packs: the player "Runvale.exe", the stub "sysdata\Stubvale.dat",
  // the runtime modules, the UI resource library and the player's language files, all
  // from `folder` (ending with a backslash). By default the program folder, which holds
  // the 32-bit runtime; its "x64\" folder holds the 64-bit one.
  void SetRuntimeFolder(std::u16string folder);
  // The player and the stub alone, from elsewhere than the runtime folder.
  void SetPlayerPath(std::u16string path) { player_path_ = std::move(path); }
  void SetStubPath(std::u16string path) { stub_path_ = std::move(path); }
  // Called for each file as it is packed into the final EXE.
  void SetProgress(std::function<void(const PackedFile&)> progress) { progress_ = std::move(progress); }
  // The signature the final EXE gets after every other edit; none by default.
  void SetSigning(SigningChoice signing) { signing_ = std::move(signing); }

  // The whole build to `destination`. Shows its own messages (through the application's
  // message boxes); true when the EXE was built.
  bool BuildExe(std::u16string_view destination, const project::MakeExeOptions& options, std::u16string_view picture,
                std::u16string_view icon, uint32_t run_mode, bool reset_version);
  // The player copy, written to a new temporary file whose path comes back in
  // `*player_path`; false with the reason in the message text.
  bool BuildPlayerCopy(std::u16string_view script_path, std::u16string_view icon,
                       const project::MakeExeOptions& options, std::u16string* player_path, bool reset_version);
  // The final EXE from the stub, written to `destination`; false with the reason in the
  // message text.
  bool BuildFinalExe(std::u16string_view destination);

  // What the last final EXE carries, in record order.
  const std::vector<PackedFile>& PackedFiles() const { return packed_; }
  const RuntimeModules& Modules() const { return modules_; }

 private:
  // BuildExe between making the staging file and the clean-up.
  bool BuildSteps(std::u16string_view destination, std::u16string_view staging, const project::MakeExeOptions& options,
                  std::u16string_view picture, std::u16string_view icon, bool reset_version,
                  std::u16string* player_copy);
  void ShowError(const char16_t* key, std::u16string_view argument);
  void SetMessageText(std::u16string text);
  // The system's message for `error`, naming `path` as the user knows it (UserPath).
  void SetSystemMessage(uint32_t error, std::u16string_view path = {});
  // The files a build makes on its way are named by what the user asked for: the staging
  // EXE and the player copy by the destination, a macro's copy by the macro file.
  std::u16string UserPath(std::u16string_view path) const;
  // The whole of `path` into `out`, which holds exactly its size; false (last error set)
  // when it cannot be opened or read, or when its size changed since it was measured.
  static bool ReadInto(std::u16string_view path, plat::MutableByteView out);

  app::CBrankelApp& application_;
  RuntimeModules modules_;
  std::u16string runtime_folder_;
  std::u16string ui_library_path_;
  std::u16string player_path_;
  std::u16string stub_path_;
  std::u16string exe_name_;
  std::u16string destination_;
  std::u16string staging_;
  std::u16string player_copy_;
  uint32_t run_mode_ = 0;
  std::vector<PackedFile> packed_;
  std::function<void(const PackedFile&)> progress_;
  SigningChoice signing_;
};

// Where a packing run ends up: the built EXE, or the messages that tell why not.
struct BuildOutcome {
  bool built = false;
  std::u16string destination;
  uint64_t size = 0;
  std::vector<PackedFile> files;
};

// Which runtime a build packs: the machine's folder of the installation, and a player or
// stub from elsewhere when their paths are not empty, and how the EXE is signed.
enum class Machine { kX86, kX64 };
struct RuntimeChoice {
  Machine machine = Machine::kX86;
  std::u16string player;
  std::u16string stub;
  SigningChoice signing;
};
// The folder of a machine's runtime in an installation whose program folder is given.
std::u16string RuntimeFolder(std::u16string_view program_folder, Machine machine);

class PackagingSession;
// Builds the EXE a session's record and lists describe, as the wizard's build button
// does. Failures are shown through the application's message boxes.
BuildOutcome BuildSession(PackagingSession& session, const RuntimeChoice& runtime = {},
                          std::function<void(const PackedFile&)> progress = {});

}  // namespace packager
