// The stand-in's registry: HKEY_LOCAL_MACHINE as a small text file under the root,
//   [Software\Velmora\Macro]
//   "Version"=dword:000011f8
//   "Type"="20"
// Key and value names match without regard to case, as in the real registry.
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/testing.h"
#include "platform/unicode.h"

namespace plat {

struct RegistryKey {
  // Value name (upper case) -> stored text: "dword:XXXXXXXX" or a quoted string.
  std::map<std::u16string, std::u16string> values;
};

namespace {

struct RegistryFile {
  std::vector<std::pair<std::u16string, std::vector<std::pair<std::u16string, std::u16string>>>> keys;
};

std::string RegistryHostPath() { return posix::Root() + "/system.reg"; }

RegistryFile Load() {
  RegistryFile file;
  std::ifstream stream(RegistryHostPath());
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      file.keys.push_back({Utf8ToUtf16(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    const size_t equals = line.find("\"=");
    if (file.keys.empty() || line.size() < 3 || line[0] != '"' || equals == std::string::npos) continue;
    file.keys.back().second.push_back({Utf8ToUtf16(line.substr(1, equals - 1)), Utf8ToUtf16(line.substr(equals + 2))});
  }
  return file;
}

bool Save(const RegistryFile& file) {
  posix::FolderChanged(RegistryHostPath());
  std::ofstream stream(RegistryHostPath(), std::ios::trunc);
  for (const auto& [name, values] : file.keys) {
    stream << '[' << Utf16ToUtf8(name) << "]\n";
    for (const auto& [value, data] : values) {
      stream << '"' << Utf16ToUtf8(value) << "\"=" << Utf16ToUtf8(data) << '\n';
    }
  }
  return static_cast<bool>(stream);
}

std::u16string Normalise(std::u16string_view subkey) {
  std::u16string key(subkey);
  while (!key.empty() && key.back() == u'\\') key.pop_back();
  while (!key.empty() && key.front() == u'\\') key.erase(key.begin());
  return key;
}

}  // namespace

uint32_t RegOpenLocalMachineKey(std::u16string_view subkey, RegistryHandle* key) {
  *key = nullptr;
  const std::u16string wanted = Normalise(subkey);
  for (const auto& [name, values] : Load().keys) {
    if (!EqualNoCase(name, wanted)) continue;
    auto* opened = new RegistryKey;
    for (const auto& [value, data] : values) opened->values.emplace(ToUpper(value), data);
    *key = opened;
    return err::kSuccess;
  }
  return err::kFileNotFound;
}

uint32_t RegQueryDword(RegistryHandle key, std::u16string_view value, uint32_t* data, bool* type_ok) {
  *type_ok = false;
  if (key == nullptr) return err::kInvalidHandle;
  const auto found = key->values.find(ToUpper(value));
  if (found == key->values.end()) return err::kFileNotFound;
  const std::string text = Utf16ToUtf8(found->second);
  if (text.rfind("dword:", 0) == 0 && text.size() == 14) {
    *data = static_cast<uint32_t>(std::stoul(text.substr(6), nullptr, 16));
    *type_ok = true;
    return err::kSuccess;
  }
  // A string's data is its UTF-16 text with the terminator; more than the four bytes
  // asked for is "more data", as the real registry answers.
  const size_t quoted = text.size() >= 2 ? text.size() - 2 : 0;
  return (Utf8ToUtf16(text.substr(text.empty() ? 0 : 1, quoted)).size() + 1) * 2 > 4 ? err::kMoreData : err::kSuccess;
}

void RegCloseKey(RegistryHandle key) { delete key; }

bool testing::WriteRegistryValue(std::u16string_view subkey, std::u16string_view value, uint32_t data, bool as_string) {
  RegistryFile file = Load();
  const std::u16string wanted = Normalise(subkey);
  auto key = std::find_if(file.keys.begin(), file.keys.end(),
                          [&](const auto& entry) { return EqualNoCase(entry.first, wanted); });
  if (key == file.keys.end()) {
    file.keys.push_back({wanted, {}});
    key = std::prev(file.keys.end());
  }
  std::ostringstream text;
  if (as_string) {
    text << '"' << data << '"';
  } else {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", data);
    text << "dword:" << hex;
  }
  auto& values = key->second;
  std::erase_if(values, [&](const auto& entry) { return EqualNoCase(entry.first, value); });
  values.push_back({std::u16string(value), AsciiToUtf16(text.str())});
  return Save(file);
}

bool testing::DeleteRegistryKey(std::u16string_view subkey) {
  RegistryFile file = Load();
  const std::u16string wanted = Normalise(subkey);
  std::erase_if(file.keys, [&](const auto& entry) { return EqualNoCase(entry.first, wanted); });
  return Save(file);
}

}  // namespace plat
