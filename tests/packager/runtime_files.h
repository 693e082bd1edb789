// The runtime files of the module table, as the installation must hold them for a build
// to ship: rows 0 to 27 in order, whether the player imports the file, and whether every
// build needs it. The web language file's row is named as a build forms it for English.
#pragma once

namespace packager {

struct InstalledRuntimeFile {
  const char16_t* name;  // relative to the program folder
  bool imported;
  bool always_needed;
};

inline constexpr InstalledRuntimeFile kInstalledRuntimeFiles[] = {
    {u"Docvale.dll", true, false},
    {u"Datavale.dll", true, false},
    {u"Dialvale.dll", true, false},
    {u"Helpvale.dll", true, true},
    {u"vcomp140.dll", true, true},
    {u"Keyvale.dll", true, true},
    {u"Keyvale64.dll", true, true},
    {u"Mailvale.dll", true, false},
    {u"unzip32.dll", true, false},
    {u"zip32.dll", true, false},
    {u"Xfervale.dll", true, false},
    {u"Visvale.dll", true, false},
    {u"libocrtess.dll", true, false},
    {u"Ocrvale.dll", true, false},
    {u"libpaddleocr.dll", true, false},
    {u"PandrelIo.sys", true, true},
    {u"Iebvale.dll", false, false},
    {u"chrome\\Cbrokvale.exe", false, false},
    {u"firefox\\Fbrokvale.exe", false, false},
    {u"Webxvale.exe", false, false},
    {u"ModuleWebvale.dll", false, false},
    {u"Webvale.exe", false, false},
    {u"chrome\\Brokvale.crx", false, false},
    {u"chrome\\manifest.json", false, false},
    {u"firefox\\Brokvale.xpi", false, false},
    {u"firefox\\manifest-ff.json", false, false},
    {u"sysdata\\Webvale_en.lng", false, false},
    {u"Connvale64.exe", false, true},
};
static_assert(sizeof(kInstalledRuntimeFiles) / sizeof(kInstalledRuntimeFiles[0]) == 28);

}  // namespace packager
