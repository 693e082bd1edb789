#include "cli/installation.h"

#include "platform/platform.h"

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

}  // namespace cli
