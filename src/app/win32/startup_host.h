// Start-up's host on Windows: the system's dialogs, version service, shell and locale, and
// the skinned toolkit through the skin bridge.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/brankel_app.h"
#include "app/startup.h"

namespace app {

// The system's open or save dialog with the filter of a language key. Multi-select
// needs `multi_buffer` (its size in bytes); it then holds the system's folder-and-names
// list. True on OK for a save dialog or a chosen path that exists.
bool ChooseFileDialog(const CVLWinApp& app, const char16_t* filter_key, std::u16string& path, bool open, bool multi,
                      char16_t* multi_buffer, uint32_t buffer_bytes);
// The system's folder browser, starting at `folder`; on OK it ends with a backslash.
bool ChooseFolderDialog(std::u16string& folder, std::u16string_view title);
// The fixed version information of a file, zero-filled first; false without one.
bool ReadFixedFileVersion(std::u16string_view path, FixedFileVersion* version);
// The kind of the running system (see ClassifyOsKind).
uint32_t RunningOsKind();
// The help file at `topic` ("introduction.htm" without one) through HTML Help, loaded on
// first use; nothing at all when it is not installed.
void ShowHelp(const CBrankelApp& app, const char16_t* topic = nullptr, void* owner = nullptr);

class Win32StartupHost : public StartupHost {
 public:
  explicit Win32StartupHost(CBrankelApp& app) : app_(app) {}

  std::u16string ModulePath() override;
  uint32_t OsKind() override;
  void ShowStringResource(uint32_t id) override;
  int MessageByKey(const char16_t* key, uint32_t type, const std::vector<std::u16string>& args) override;
  bool ChooseFolder(std::u16string& folder, std::u16string_view title) override;
  bool ChooseFile(std::u16string& path, const char16_t* filter_key) override;
  bool FileExists(std::u16string_view path) override;
  bool DirectoryExists(std::u16string_view path) override;
  bool ReadFileVersion(std::u16string_view path, FixedFileVersion* version) override;
  std::u16string CurrentDirectory() override;
  bool SetCurrentDirectory(std::u16string_view path) override;
  void SetLocale(std::u16string_view locale) override;
  void ShellOpen(std::u16string_view target) override;
  bool CreateUiObject() override { return true; }
  bool LoadSkin(std::u16string_view library, int32_t hue, int32_t light, int32_t saturation) override;
  void SetFont(std::u16string_view face, int32_t size) override;
  void UseSystemColours(bool use) override;
  void LanguageReady() override;
  void RunWizard(CBrankelApp& app) override;

 private:
  CBrankelApp& app_;
  std::unique_ptr<MessageDisplay> display_;
};

}  // namespace app
