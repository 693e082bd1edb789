// The stub "sysdata\Stubvale.dat": every EXE a build makes starts here. It checks its
// payload whole, unpacks it into a private temporary folder, runs the player there and
// removes the folder again, whatever happened.
#include <windows.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/unicode.h"
#include "runtime/unpack.h"
#include "runtime/win32/own_image.h"
#include "runtime/win32/unattended.h"

namespace {

constexpr int kExitDamaged = 2;
constexpr int kExitUnpack = 3;
constexpr int kExitStart = 4;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

void Show(const runtime::StubTexts& texts, std::u16string_view key, const std::u16string& message,
          const runtime::Fault& fault) {
  std::u16string text = message;
  const std::string detail = fault.Describe();
  if (!detail.empty()) {
    text += u"\n\n";
    text += plat::Utf8ToUtf16(detail);
  }
  // BRANKEL_RUNTIME_LOG, when set: unattended runs get each message as a line there.
  if (const std::optional<std::u16string> log = runtime::EnvironmentText(L"BRANKEL_RUNTIME_LOG");
      log && !log->empty()) {
    runtime::AppendUtf8(*log, runtime::LogLine(key, text));
    return;
  }
  MessageBoxW(nullptr, Wide(text).c_str(), Wide(texts.title).c_str(), MB_OK | MB_ICONERROR);
}

// Starts the player and waits for it; its exit code, or nothing when it could not start.
bool RunPlayer(const std::u16string& folder, const packager::PayloadB& payload, DWORD* exit_code,
               runtime::Fault* fault) {
  const packager::PayloadBRecord& player = payload.records[runtime::PlayerRecord(payload)];
  std::u16string program = folder + u"\\" + player.target_name;
  for (char16_t& c : program) {
    if (c == u'/') c = u'\\';
  }
  const std::u16string_view arguments =
      runtime::ArgumentsAfterProgram(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  std::wstring command = Wide(runtime::PlayerCommandLine(folder, player.target_name, payload.run_mode, arguments));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(Wide(program).c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, Wide(folder).c_str(),
                      &startup, &process)) {
    fault->kind = runtime::FaultKind::kDisk;
    fault->error = GetLastError();
    fault->record = runtime::PlayerRecord(payload);
    fault->target_name = player.target_name;
    fault->reason = "the player cannot be started (system error ";
    fault->reason += std::to_string(fault->error);
    fault->reason += ")";
    return false;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  *exit_code = 1;
  GetExitCodeProcess(process.hProcess, exit_code);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::optional<plat::ByteView> section = runtime::OwnSection(".mdata");
  runtime::Verified verified;
  if (section) {
    verified = runtime::VerifyPayload(*section);
  } else {
    verified.fault.kind = runtime::FaultKind::kDamaged;
    verified.fault.reason = "the program carries no payload section";
  }
  const runtime::StubTexts texts = runtime::LoadStubTexts(verified.language_file);
  if (verified.fault) {
    if (verified.fault.kind == runtime::FaultKind::kDamaged) {
      Show(texts, u"IDS_ERR_PROXY_DAMAGED", texts.damaged, verified.fault);
      return kExitDamaged;
    }
    Show(texts, u"IDS_ERR_PROXY_UNPACK", texts.unpack, verified.fault);
    return kExitUnpack;
  }

  const std::u16string folder = runtime::MakePrivateFolder();
  if (folder.empty()) {
    runtime::Fault fault;
    fault.kind = runtime::FaultKind::kDisk;
    fault.error = plat::GetLastError();
    fault.reason = "no private folder can be made in the temporary folder (system error ";
    fault.reason += std::to_string(fault.error);
    fault.reason += ")";
    Show(texts, u"IDS_ERR_PROXY_UNPACK", texts.unpack, fault);
    return kExitUnpack;
  }
  int result = kExitUnpack;
  const runtime::Fault unpacked = runtime::UnpackPayload(*verified.payload, folder);
  if (unpacked) {
    Show(texts, u"IDS_ERR_PROXY_UNPACK", texts.unpack, unpacked);
  } else {
    DWORD exit_code = 0;
    runtime::Fault fault;
    if (RunPlayer(folder, *verified.payload, &exit_code, &fault)) {
      result = static_cast<int>(exit_code);
    } else {
      Show(texts, u"IDS_ERR_PROXY_START", texts.start, fault);
      result = kExitStart;
    }
  }
  // The system may hold the player's image a moment after the process has ended.
  for (int attempt = 0; attempt < 50 && !runtime::RemoveFolderTree(folder); ++attempt) plat::Sleep(100);
  return result;
}
