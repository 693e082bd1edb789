#include "cli/installation.h"

#include <cstdio>

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace cli {

std::vector<std::u16string> InstallationFolders() {
  std::vector<std::u16string> folders;
  const std::u16string module = plat::GetModuleFileName();
  if (const size_t slash = module.rfind(u'\\'); slash != std::u16string::npos) {
    folders.push_back(module.substr(0, slash + 1));
  }
#ifdef BRANKEL_BUILD_INSTALL_DIR
  folders.push_back(plat::PathFromHost(BRANKEL_BUILD_INSTALL_DIR) + u"\\");
#endif
  return folders;
}

std::u16string InstallationFolder() {
  const std::vector<std::u16string> folders = InstallationFolders();
  for (const std::u16string& folder : folders) {
    if (plat::FileExists(folder + u"sysdata\\Packager_en.lng")) return folder;
  }
  return folders.empty() ? std::u16string() : folders.front();
}

std::vector<std::u16string> LanguageFolders() {
  std::vector<std::u16string> folders;
  for (const std::u16string& installation : InstallationFolders()) folders.push_back(installation + u"sysdata\\");
  return folders;
}

bool LoadApplication(app::CBrankelApp& application, app::CVLResString& texts, const Streams& io) {
  application.SetProgramFolder(InstallationFolder());
  if (!application.LoadConfiguration()) {
    std::fprintf(io.err, "brankel: %s\n", plat::Utf16ToUtf8(app::LoadStringResource(107)).c_str());
    return false;
  }
  for (const std::u16string& language_file : application.LanguageFiles()) {
    if (plat::FileExists(language_file)) texts.LoadFile(language_file);
  }
  application.SetLanguageTable(&texts);
  return true;
}

}  // namespace cli
