// The language table: every text the program shows is looked up here by its key.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// h = h * 131 + c over the UTF-16 units, wrapping at 32 bits, top bit cleared. The same
// hash names files elsewhere in the system (over trimmed, lower-cased names).
uint32_t KeyHash(std::u16string_view text);

// A language file's bytes as UTF-16: a UTF-8 or UTF-16LE mark selects that encoding;
// without one, text that passes the Unicode-text test is UTF-16LE, valid UTF-8 is UTF-8,
// anything else is in the ANSI code page.
enum class TextEncoding { kUtf16Le, kUtf8Bom, kUtf8, kAnsi };
std::u16string DecodeLanguageText(std::string_view bytes, TextEncoding* encoding = nullptr);

// Whether a line (leading blanks already skipped) opens the string section: "[String]" or
// any leading part of it, without regard to case.
bool OpensStringSection(std::u16string_view line);

// The program's own string table (start-up texts 102 to 107), used before any language
// file is loaded. Empty when there is no such string; cut to `max_chars`.
std::u16string LoadStringResource(uint32_t id, size_t max_chars = 260);

class CVLResString {
 public:
  // Reads and parses one file; an empty path is success without effect. Fails for a path
  // that does not exist, cannot be read, or names an empty file.
  bool LoadFile(std::u16string_view path);
  // Parses a file's bytes as LoadFile does (the file-reading step left out).
  bool LoadText(std::string_view bytes);

  // Hit: the text, true. Miss: `fallback`, or the key itself without one, false.
  bool GetString(std::u16string& result, std::u16string_view key, const char16_t* fallback = nullptr) const;
  // Fixed-buffer form: leading blanks of the key are skipped; the text is cut to
  // buffer_size - 1 units; a miss stores `fallback` or an empty string.
  bool GetString(char16_t* buffer, size_t buffer_size, std::u16string_view key,
                 const char16_t* fallback = nullptr) const;
  bool GetStringById(std::u16string& result, uint32_t id, const char16_t* fallback = nullptr) const;

  // The main language file's check value: 32 upper-case hexadecimal digits, each byte
  // the complement of the MD5 digest of the first loaded string section.
  bool CheckCrc(std::u16string_view crc_text) const;
  // The check value a file with the first loaded section must carry (what CheckCrc accepts).
  std::u16string ComputeCrc() const;

  bool FileMode() const { return file_mode_; }
  size_t EntryCount() const { return entries_.size(); }

 private:
  struct Entry {
    uint16_t value_end = 0;    // units from line start to the end of the value
    uint16_t value_start = 0;  // key length + 1
    const char16_t* line = nullptr;
  };
  struct Section {
    std::unique_ptr<char16_t[]> text;  // the section, then one NUL unit
    size_t length = 0;                 // units, without the NUL
  };

  bool Lookup(uint32_t hash, std::u16string& out, size_t max_units) const;
  bool ResourceFallback(std::u16string_view key, std::u16string& out, size_t max_units) const;

  bool file_mode_ = false;
  std::vector<Section> sections_;
  std::map<uint32_t, Entry> entries_;
};

}  // namespace app
