#include "app/brankel_app.h"

#include <optional>

#include "app/startup.h"
#include "app/vl_reg.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace app {
namespace {

constexpr size_t kPathUnits = 260;

// What a fixed 260-unit path buffer keeps of a text.
std::u16string Fit(std::u16string text, size_t units = kPathUnits) {
  if (text.size() > units - 1) text.resize(units - 1);
  return text;
}

std::u16string IniString(std::u16string_view file, std::u16string_view section, std::u16string_view key,
                         uint32_t length, bool* got = nullptr) {
  std::u16string buffer(length, u'\0');
  const bool read = CVLReg::ReadIniString(file, section, key, buffer.data(), u"", length);
  if (got != nullptr) *got = read;
  buffer.resize(std::char_traits<char16_t>::length(buffer.c_str()));
  return buffer;
}

}  // namespace

CBrankelApp::CBrankelApp() = default;

bool CBrankelApp::DetermineProgramFolder() {
  const std::optional<std::u16string> folder = ProgramFolderOf(plat::GetModuleFileName());
  if (!folder) return false;
  SetProgramFolder(*folder);
  return true;
}

void CBrankelApp::SetProgramFolder(std::u16string folder) {
  if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
  program_folder_ = Fit(plat::ToLower(folder));
}

bool CBrankelApp::IsChineseLanguage() const {
  if (language_code_.empty()) {
    const uint32_t code_page = plat::GetAnsiCodePage();
    return code_page == 936 || code_page == 935;
  }
  return plat::EqualNoCase(language_code_, u"gb") || plat::EqualNoCase(language_code_, u"big5");
}

bool CBrankelApp::LoadConfiguration() {
  configuration_loaded_ = LoadConfigurationSteps();
  return configuration_loaded_;
}

bool CBrankelApp::LoadConfigurationSteps() {
  const uint32_t start = plat::GetTickCount();

  // 1. The product folder, from what the installed product wrote.
  product_folder_ = kProductPandrel;
  {
    CVLReg reg;
    if (reg.OpenLocalMachine(kMacroRegistryKey) == plat::err::kSuccess) {
      uint32_t version = 0, type = 0;
      reg.ReadDword(u"Version", &version, 0);
      reg.ReadDword(u"Type", &type, 0);
      if ((type != 0 && version < 4602) || type == 20) product_folder_ = kProductFennow;
    }
  }

  // 2. The two data folders.
  const std::optional<std::u16string> common = plat::GetKnownFolder(plat::KnownFolder::kCommonAppData);
  const std::optional<std::u16string> roaming = plat::GetKnownFolder(plat::KnownFolder::kRoamingAppData);
  if (!common || !roaming) return false;
  shared_data_folder_ = Fit(*common + u"\\" + product_folder_);
  user_data_folder_ = Fit(*roaming + u"\\" + product_folder_);

  // 3. The user's folder. The folder of the product the registry selected is made, so
  // that a Fennow installation gets its own user configuration like a Pandrel one.
  if (!plat::IsDirectory(user_data_folder_)) {
    const std::optional<std::u16string> again = plat::GetKnownFolder(plat::KnownFolder::kRoamingAppData);
    if (!again) return false;
    plat::CreateDirectory(*again + u"\\Velmora");
    plat::CreateDirectory(*again + u"\\" + product_folder_);
  }

  // 4. The user's configuration starts as a copy of the installation's template.
  if (!plat::FileExists(UserConfigPath())) {
    plat::CopyFile(shared_data_folder_ + u"config\\Config.ini", UserConfigPath(), false);
  }

  // 5. The shared configuration may still be being written by the installer.
  // The tick count is monotonic; the round cap also ends the wait should it ever stall.
  const std::u16string general = GeneralIniPath();
  for (uint32_t round = 0;; ++round) {
    bool got = false;
    IniString(general, u"General", u"Cmd.exe", 260, &got);
    if (got) break;
    if (plat::GetTickCount() - start > config_wait_ms_ || round > config_wait_ms_ / 100 + 1) return false;
    plat::Sleep(100);
  }

  // 6, 7. The language and its files.
  language_code_ = IniString(general, u"General", u"Language", 260);
  language_defaulted_ = false;
  if (language_code_.empty()) {
    language_code_ = IsChineseLanguage() ? u"gb" : u"en";
    language_defaulted_ = true;
  }
  language_files_.clear();
  language_files_.push_back(Fit(program_folder_ + u"sysdata\\Packager_" + language_code_ + u".lng"));
  language_files_.push_back(Fit(program_folder_ + u"sysdata\\errormsg_" + language_code_ + u".lng"));
  proxy_language_file_ = Fit(program_folder_ + u"sysdata\\Proxvale_" + language_code_ + u".lng");

  // 8. The folder of the user's macros.
  const std::u16string data_path = IniString(general, u"General", u"DataPath", 260);
  if (data_path.empty()) {
    data_folder_ = Fit(shared_data_folder_ + u"data\\");
  } else {
    data_folder_ = Fit(data_path.back() == u'\\' ? data_path : data_path + u"\\");
  }

  // 9. The UI resource library.
  const std::u16string user = UserConfigPath();
  const std::u16string resource = IniString(user, u"General", u"ResourceFile", 260);
  if (resource.empty()) {
    resource_file_ = Fit(program_folder_ + u"SysData\\vllib_ui_defresu.dll");
  } else if (!plat::FileExists(resource)) {
    resource_file_ = Fit(program_folder_ + u"SysData\\" + resource);
  } else {
    resource_file_ = resource;
  }

  // 10, 11. Font and colours.
  settings_.FontSize = CVLReg::ReadIniInt(user, u"UIFont", u"Size", 90);
  std::u16string face = IniString(user, u"UIFont", u"FaceName", 64);
  if (face.empty()) face = plat::GetIconTitleFontFace().substr(0, 64);
  plat::SetFixedText(settings_.FontFace, 64, face);
  settings_.UseSystemColours = static_cast<uint8_t>(CVLReg::ReadIniInt(user, u"Options", u"UsingSystemAspect", 2));
  settings_.Hue = CVLReg::ReadIniInt(user, u"Appearance", u"Hue", 0);
  settings_.Light = CVLReg::ReadIniInt(user, u"Appearance", u"Light", 0);
  settings_.Saturation = CVLReg::ReadIniInt(user, u"Appearance", u"Saturation", 0);

  // 12. A defaulted language brings the skin tint of a fresh installation.
  if (language_defaulted_) {
    settings_.Hue = 30;
    settings_.Saturation = -53;
  }
  return true;
}

}  // namespace app
