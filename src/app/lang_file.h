// Checking and signing a language file as a whole: what `brankel lng` does and what the
// build does to the installation's files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace app {

struct LanguageFileCheck {
  bool loaded = false;      // the program could load the file
  bool crc_ok = false;      // its [Header] CRC matches its string section
  size_t keys = 0;          // entries the file defines
  std::u16string crc;       // the CRC text the header holds
  std::u16string expected;  // the CRC the string section needs
};

// Loads `path` as start-up loads the main language file and verifies its check value.
LanguageFileCheck CheckLanguageFile(std::u16string_view path);

// Computes the check value of `path` and writes it into the file's [Header] "CRC", adding
// the key or the section when missing, in the file's own encoding. The file is replaced
// only once the signed text is complete. Returns false with a message on failure.
bool SignLanguageFile(std::u16string_view path, std::u16string* message);

// The signing step on a text already in memory (UTF-16): the same text with its header's
// CRC set to `crc`.
std::u16string SetHeaderCrc(std::u16string_view text, std::u16string_view crc);

}  // namespace app
