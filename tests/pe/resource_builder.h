// Resource directories and version blocks made in code, and an independent reading of the
// resources of an image's bytes, so the writer's output is judged by code that shares
// nothing with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brankel_test {

struct RawResource {
  uint16_t type = 0;
  std::u16string type_name;  // a named type when not empty
  uint16_t id = 0;
  std::u16string name;  // a named resource when not empty
  uint16_t language = 0;
  std::vector<uint8_t> data;
};

// A resource directory for a section at `rva`, laid out unlike the writer's (the data
// first, the texts last); tables list the resources in the order given, which the caller
// keeps sorted as the loader expects.
std::vector<uint8_t> BuildResourceDirectory(const std::vector<RawResource>& resources, uint32_t rva);

// Every resource of an image file, in directory order; nullopt when the walk leaves the
// file.
std::optional<std::vector<RawResource>> ListResources(const std::vector<uint8_t>& image);
// The data of one identified resource in one language, if the image has it.
std::optional<std::vector<uint8_t>> ResourceBytes(const std::vector<uint8_t>& image, uint16_t type, uint16_t id,
                                                  uint16_t language);

// A version block: fixed file version `file_version` (major, minor, build, private), one
// string table "llllcccc" holding `strings` in order, and a translation (unless
// `with_translation` is false).
struct VersionBlockContents {
  uint16_t file_version[4] = {1, 2, 3, 4};
  uint16_t language = 0x0409;
  uint16_t code_page = 1200;
  std::u16string table_key = u"040904B0";
  std::vector<std::pair<std::u16string, std::u16string>> strings;
  bool with_translation = true;
};
std::vector<uint8_t> MakeVersionBlock(const VersionBlockContents& contents);

// The text value of `key` in the block's first string table as stored (NULs included up
// to its stated length), read by walking the nodes; nullopt when absent.
std::optional<std::u16string> VersionText(const std::vector<uint8_t>& block, const std::u16string& key);

}  // namespace brankel_test
