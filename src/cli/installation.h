// Where the command-line tool finds its installation: its own folder when it is installed,
// else the installation the build assembled (for the tests, which run from elsewhere).
#pragma once

#include <string>
#include <vector>

#include "cli/cli.h"

namespace app {
class CBrankelApp;
class CVLResString;
}  // namespace app

namespace cli {

// The candidate installation folders, in order, each ending in a backslash.
std::vector<std::u16string> InstallationFolders();
// The first candidate that holds the English language files, else the first candidate.
std::u16string InstallationFolder();
// The sysdata folders tried, in order, for the English language files that give failure
// messages their text: the program's own installation first, then the build's.
std::vector<std::u16string> LanguageFolders();

// Starts `application` in the installation as the program does: its configuration, then
// the language files into `texts`, which becomes its language table. False, with the
// reason on io.err, when the configuration cannot be had.
bool LoadApplication(app::CBrankelApp& application, app::CVLResString& texts, const Streams& io);

}  // namespace cli
