// The application object: where the installation and the user's data live, the language,
// and the few settings needed before any window is shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/shared_settings.h"
#include "app/vl_win_app.h"

namespace app {

inline constexpr char16_t kProductPandrel[] = u"Velmora\\Pandrel\\";
inline constexpr char16_t kProductFennow[] = u"Velmora\\Fennow\\";
inline constexpr char16_t kMacroRegistryKey[] = u"Software\\Velmora\\Macro";

class CBrankelApp : public CVLWinApp {
 public:
  CBrankelApp();

  // The folder of the running program, lower-cased and ending in a backslash. False when
  // the system cannot tell.
  bool DetermineProgramFolder();
  void SetProgramFolder(std::u16string folder);

  bool LoadConfiguration() override;
  bool IsChineseLanguage() const;

  // How long the shared configuration may take to appear ("Cmd.exe" in General.ini).
  void SetConfigurationWait(uint32_t milliseconds) { config_wait_ms_ = milliseconds; }

  const std::u16string& ProgramFolder() const { return program_folder_; }
  const std::u16string& ProductFolder() const { return product_folder_; }
  const std::u16string& SharedDataFolder() const { return shared_data_folder_; }
  const std::u16string& UserDataFolder() const { return user_data_folder_; }
  const std::u16string& LanguageCode() const { return language_code_; }
  bool LanguageDefaulted() const { return language_defaulted_; }
  const std::vector<std::u16string>& LanguageFiles() const { return language_files_; }
  const std::u16string& ProxyLanguageFile() const { return proxy_language_file_; }
  const std::u16string& DataFolder() const { return data_folder_; }
  void SetDataFolder(std::u16string folder) { data_folder_ = std::move(folder); }
  const std::u16string& ResourceFile() const { return resource_file_; }
  const SharedSettings& Settings() const { return settings_; }
  SharedSettings& Settings() { return settings_; }
  bool ConfigurationLoaded() const { return configuration_loaded_; }
  std::u16string GeneralIniPath() const { return shared_data_folder_ + u"Config\\General.ini"; }
  std::u16string UserConfigPath() const { return user_data_folder_ + u"Config.ini"; }

  // Set by start-up: the help file, and the script to package with its folder.
  void SetHelpFilePath(std::u16string path) { help_file_path_ = std::move(path); }
  const std::u16string& HelpFilePath() const { return help_file_path_; }
  void SetScriptPath(std::u16string path, std::u16string folder) {
    script_path_ = std::move(path);
    script_folder_ = std::move(folder);
  }
  const std::u16string& ScriptPath() const { return script_path_; }
  const std::u16string& ScriptFolder() const { return script_folder_; }

 private:
  bool LoadConfigurationSteps();

  std::u16string program_folder_;
  std::u16string product_folder_;
  std::u16string shared_data_folder_;
  std::u16string user_data_folder_;
  std::u16string language_code_;
  bool language_defaulted_ = false;
  std::vector<std::u16string> language_files_;
  std::u16string proxy_language_file_;
  std::u16string data_folder_;
  std::u16string resource_file_;
  std::u16string help_file_path_;
  std::u16string script_path_;
  std::u16string script_folder_;
  SharedSettings settings_{};
  bool configuration_loaded_ = false;
  uint32_t config_wait_ms_ = 5000;
};

}  // namespace app
