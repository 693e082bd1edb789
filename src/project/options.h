// The options record of a packaging project and the entries of its two file lists. These
// bytes are the project file's and, for the player options, the built EXE's: layout binding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/shared_settings.h"
#include "platform/unicode.h"

namespace project {

inline constexpr size_t kOptionsSize = 14920;
inline constexpr size_t kPlayerOptionsOffset = 16;
inline constexpr size_t kPlayerOptionsEnd = 12568;  // first byte of the packager-only tail
inline constexpr uint16_t kProjectVersion = 513;
inline constexpr size_t kMacroEntrySize = 1052;
inline constexpr size_t kExtraEntrySize = 1060;
inline constexpr int32_t kMaxListEntries = 512;
inline constexpr uint16_t kNoParent = 0xFFFF;

// PlayFlags
inline constexpr uint32_t kPlayOwnParameters = 0x1;
inline constexpr uint32_t kPlayVariableValues = 0x2;
// PlayOptionFlags
inline constexpr uint8_t kSavePlayOptions = 0x20;
inline constexpr uint8_t kNoTrayIcon = 0x40;
inline constexpr uint8_t kProgressOff = 0x80;

#pragma pack(push, 1)

struct MakeExeOptions {
  char Magic[8];     // "MSDPROJ"
  uint16_t Version;  // 513
  uint8_t Reserved10[2];
  uint32_t TotalSize;      // 14920 + 1052 x macros + 1060 x extra files
  uint8_t Reserved16[20];  // the built EXE's payload header goes here
  uint8_t LogLevel;
  uint8_t ShowPlayOption;
  uint8_t ShowStartup;
  uint8_t Reserved39;
  uint8_t UseSystemUI;
  uint8_t Reserved41;
  uint16_t PlayTimes;
  uint8_t Reserved44[520];  // the built EXE's script name goes here
  char16_t ExeName[130];
  char16_t RelatedUrl[130];
  char16_t AuthorTips[260];
  char16_t Reserved1604[260];
  uint8_t Reserved2124[16];
  uint8_t Reserved2140[8];
  uint32_t PlayFlags;
  uint8_t ProgressMode;
  uint8_t DodgeMouseMode;
  int8_t PlaySpeed;
  uint8_t PlayOptionFlags;
  uint8_t Reserved2156;
  uint8_t EmulationLevel;
  uint8_t Reserved2158[256];
  char16_t VariableValues[520];
  uint8_t Reserved3454[2];
  app::SharedSettings Settings;
  char16_t DestinationPath[260];
  char16_t Reserved13088[260];
  char16_t IconPath[260];
  char16_t PicturePath[260];
  uint8_t SaveProject;
  uint8_t RunMode;
  uint8_t ResetVersion;
  uint8_t Reserved14651;
  int32_t MacroCount;
  int32_t ExtraFileCount;
  uint8_t Reserved14660[260];
};

struct MacroListEntry {
  uint16_t ParentIndex;  // 0xFFFF for the script and user entries
  uint8_t EntryType;     // 3: a macro file
  uint8_t Reserved3[2];
  uint8_t UserAdded;
  uint8_t FolderRelative;
  uint8_t Reserved7;
  int32_t CommandIndex;  // -1 for the script and user entries
  char16_t Path[260];    // the list's key, compared without regard to case
  char16_t TempPath[260];
};

struct ExtraFileEntry {
  uint16_t ParentIndex;
  uint16_t FileKind;
  int32_t OnSearchPath;
  uint8_t UserAdded;
  uint8_t Excluded;
  uint8_t Reserved10[2];
  uint32_t NameHash;
  int32_t CommandIndex;
  char16_t SourcePath[260];  // the list's key, compared without regard to case
  char16_t TargetName[260];
};

#pragma pack(pop)

static_assert(sizeof(MakeExeOptions) == kOptionsSize);
static_assert(offsetof(MakeExeOptions, Version) == 8);
static_assert(offsetof(MakeExeOptions, TotalSize) == 12);
static_assert(offsetof(MakeExeOptions, LogLevel) == 36);
static_assert(offsetof(MakeExeOptions, ShowPlayOption) == 37);
static_assert(offsetof(MakeExeOptions, ShowStartup) == 38);
static_assert(offsetof(MakeExeOptions, UseSystemUI) == 40);
static_assert(offsetof(MakeExeOptions, PlayTimes) == 42);
static_assert(offsetof(MakeExeOptions, ExeName) == 564);
static_assert(offsetof(MakeExeOptions, RelatedUrl) == 824);
static_assert(offsetof(MakeExeOptions, AuthorTips) == 1084);
static_assert(offsetof(MakeExeOptions, Reserved1604) == 1604);
static_assert(offsetof(MakeExeOptions, Reserved2124) == 2124);
static_assert(offsetof(MakeExeOptions, PlayFlags) == 2148);
static_assert(offsetof(MakeExeOptions, ProgressMode) == 2152);
static_assert(offsetof(MakeExeOptions, DodgeMouseMode) == 2153);
static_assert(offsetof(MakeExeOptions, PlaySpeed) == 2154);
static_assert(offsetof(MakeExeOptions, PlayOptionFlags) == 2155);
static_assert(offsetof(MakeExeOptions, EmulationLevel) == 2157);
static_assert(offsetof(MakeExeOptions, VariableValues) == 2414);
static_assert(offsetof(MakeExeOptions, Settings) == app::kSettingsRecordOffset);
static_assert(offsetof(MakeExeOptions, Settings) + offsetof(app::SharedSettings, PauseKey) == 7860);
static_assert(offsetof(MakeExeOptions, Settings) + offsetof(app::SharedSettings, StopKey) == 7932);
static_assert(offsetof(MakeExeOptions, DestinationPath) == kPlayerOptionsEnd);
static_assert(offsetof(MakeExeOptions, IconPath) == 13608);
static_assert(offsetof(MakeExeOptions, PicturePath) == 14128);
static_assert(offsetof(MakeExeOptions, SaveProject) == 14648);
static_assert(offsetof(MakeExeOptions, RunMode) == 14649);
static_assert(offsetof(MakeExeOptions, ResetVersion) == 14650);
static_assert(offsetof(MakeExeOptions, MacroCount) == 14652);
static_assert(offsetof(MakeExeOptions, ExtraFileCount) == 14656);

static_assert(sizeof(MacroListEntry) == kMacroEntrySize);
static_assert(offsetof(MacroListEntry, EntryType) == 2);
static_assert(offsetof(MacroListEntry, UserAdded) == 5);
static_assert(offsetof(MacroListEntry, FolderRelative) == 6);
static_assert(offsetof(MacroListEntry, CommandIndex) == 8);
static_assert(offsetof(MacroListEntry, Path) == 12);
static_assert(offsetof(MacroListEntry, TempPath) == 532);

static_assert(sizeof(ExtraFileEntry) == kExtraEntrySize);
static_assert(offsetof(ExtraFileEntry, FileKind) == 2);
static_assert(offsetof(ExtraFileEntry, OnSearchPath) == 4);
static_assert(offsetof(ExtraFileEntry, UserAdded) == 8);
static_assert(offsetof(ExtraFileEntry, Excluded) == 9);
static_assert(offsetof(ExtraFileEntry, NameHash) == 12);
static_assert(offsetof(ExtraFileEntry, CommandIndex) == 16);
static_assert(offsetof(ExtraFileEntry, SourcePath) == 20);
static_assert(offsetof(ExtraFileEntry, TargetName) == 540);

// The text of a fixed text field of these records, up to its terminator or its end.
template <size_t N>
std::u16string FieldText(const char16_t (&field)[N]) {
  return std::u16string(plat::FixedText(field, N));
}

}  // namespace project
