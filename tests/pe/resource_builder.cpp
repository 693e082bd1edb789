#include "pe/resource_builder.h"

#include <algorithm>

#include "support/pe_builder.h"

namespace brankel_test {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2, 0);
  Write16(b, at, v);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4, 0);
  Write32(b, at, v);
}
void Pad4(std::vector<uint8_t>& b) { b.resize((b.size() + 3) & ~size_t{3}, 0); }
void AppendText(std::vector<uint8_t>& b, const std::u16string& text) {
  for (char16_t c : text) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
}

bool SameType(const RawResource& a, const RawResource& b) { return a.type_name == b.type_name && a.type == b.type; }
bool SameName(const RawResource& a, const RawResource& b) { return SameType(a, b) && a.name == b.name && a.id == b.id; }

// One node of a version block: length, value length, type, key, value, then children.
std::vector<uint8_t> VersionNode(const std::u16string& key, const std::vector<uint8_t>& value, bool text,
                                 const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> node(6, 0);
  AppendText(node, key);
  node.push_back(0);
  node.push_back(0);
  Pad4(node);
  node.insert(node.end(), value.begin(), value.end());
  for (const auto& child : children) {
    Pad4(node);
    node.insert(node.end(), child.begin(), child.end());
  }
  Write16(node, 0, static_cast<uint16_t>(node.size()));
  Write16(node, 2, static_cast<uint16_t>(text ? value.size() / 2 : value.size()));
  Write16(node, 4, text ? 1 : 0);
  return node;
}

struct Node {
  size_t begin, end, value, value_length, children;
  std::u16string key;
};
std::optional<Node> ReadNode(const std::vector<uint8_t>& b, size_t at, size_t limit) {
  if (at + 6 > limit || limit > b.size()) return std::nullopt;
  Node n{};
  n.begin = at;
  n.end = at + Read16(b, at);
  if (n.end > limit || n.end < at + 6) return std::nullopt;
  size_t cursor = at + 6;
  while (cursor + 2 <= n.end && Read16(b, cursor) != 0) {
    n.key.push_back(static_cast<char16_t>(Read16(b, cursor)));
    cursor += 2;
  }
  n.value = (cursor + 2 + 3) & ~size_t{3};
  const bool text = Read16(b, at + 4) == 1;
  n.value_length = Read16(b, at + 2) * (text ? 2 : 1);
  n.children = (n.value + n.value_length + 3) & ~size_t{3};
  return n;
}
std::optional<Node> Child(const std::vector<uint8_t>& b, const Node& parent, const std::u16string* key) {
  for (size_t at = parent.children; at < parent.end;) {
    std::optional<Node> child = ReadNode(b, at, parent.end);
    if (!child) return std::nullopt;
    if (key == nullptr || child->key == *key) return child;
    at = (child->end + 3) & ~size_t{3};
  }
  return std::nullopt;
}

}  // namespace

std::vector<uint8_t> BuildResourceDirectory(const std::vector<RawResource>& resources, uint32_t rva) {
  std::vector<uint8_t> out;
  std::vector<uint32_t> data_at;
  for (const RawResource& r : resources) {
    data_at.push_back(static_cast<uint32_t>(out.size()));
    out.insert(out.end(), r.data.begin(), r.data.end());
    Pad4(out);
  }
  // Groups by first appearance: types, then names inside each type.
  std::vector<std::vector<std::vector<size_t>>> tree;
  for (size_t i = 0; i < resources.size(); ++i) {
    auto type = std::find_if(tree.begin(), tree.end(),
                             [&](const auto& t) { return SameType(resources[t[0][0]], resources[i]); });
    if (type == tree.end()) {
      tree.push_back({{i}});
      continue;
    }
    auto name = std::find_if(type->begin(), type->end(),
                             [&](const auto& n) { return SameName(resources[n[0]], resources[i]); });
    if (name == type->end()) {
      type->push_back({i});
    } else {
      name->push_back(i);
    }
  }
  const size_t root = out.size();
  auto table_size = [](size_t n) { return 16 + 8 * n; };
  size_t at = root + table_size(tree.size());
  std::vector<size_t> type_tables, name_tables;
  for (const auto& type : tree) {
    type_tables.push_back(at);
    at += table_size(type.size());
  }
  for (const auto& type : tree) {
    for (const auto& name : type) {
      name_tables.push_back(at);
      at += table_size(name.size());
    }
  }
  const size_t entries = at;
  at += 16 * resources.size();
  std::vector<size_t> text_at;  // per resource: type text, name text
  std::vector<std::u16string> texts;
  for (const RawResource& r : resources) {
    for (const std::u16string* text : {&r.type_name, &r.name}) {
      text_at.push_back(at);
      if (!text->empty()) at += 2 + 2 * text->size();
      texts.push_back(*text);
    }
  }
  out.resize(at, 0);
  auto key = [&](size_t resource, bool type) -> uint32_t {
    const RawResource& r = resources[resource];
    const std::u16string& text = type ? r.type_name : r.name;
    if (text.empty()) return type ? r.type : r.id;
    return 0x80000000u | static_cast<uint32_t>(text_at[2 * resource + (type ? 0 : 1)] - root);
  };
  auto named = [&](const std::vector<size_t>& members, bool type) {
    return static_cast<uint16_t>(std::count_if(members.begin(), members.end(), [&](size_t m) {
      return !(type ? resources[m].type_name : resources[m].name).empty();
    }));
  };
  std::vector<size_t> first_of_type, first_of_name;
  for (const auto& type : tree) first_of_type.push_back(type[0][0]);
  Put16(out, root + 12, named(first_of_type, true));
  Put16(out, root + 14, static_cast<uint16_t>(tree.size() - named(first_of_type, true)));
  size_t name_index = 0;
  for (size_t t = 0; t < tree.size(); ++t) {
    Put32(out, root + 16 + 8 * t, key(tree[t][0][0], true));
    Put32(out, root + 16 + 8 * t + 4, 0x80000000u | static_cast<uint32_t>(type_tables[t] - root));
    std::vector<size_t> firsts;
    for (const auto& name : tree[t]) firsts.push_back(name[0]);
    Put16(out, type_tables[t] + 12, named(firsts, false));
    Put16(out, type_tables[t] + 14, static_cast<uint16_t>(firsts.size() - named(firsts, false)));
    for (size_t n = 0; n < tree[t].size(); ++n, ++name_index) {
      const size_t table = name_tables[name_index];
      Put32(out, type_tables[t] + 16 + 8 * n, key(tree[t][n][0], false));
      Put32(out, type_tables[t] + 16 + 8 * n + 4, 0x80000000u | static_cast<uint32_t>(table - root));
      Put16(out, table + 14, static_cast<uint16_t>(tree[t][n].size()));
      for (size_t l = 0; l < tree[t][n].size(); ++l) {
        const size_t r = tree[t][n][l];
        const size_t entry = entries + 16 * r;
        Put32(out, table + 16 + 8 * l, resources[r].language);
        Put32(out, table + 16 + 8 * l + 4, static_cast<uint32_t>(entry - root));
        Put32(out, entry, rva + data_at[r]);
        Put32(out, entry + 4, static_cast<uint32_t>(resources[r].data.size()));
      }
    }
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].empty()) continue;
    Put16(out, text_at[i], static_cast<uint16_t>(texts[i].size()));
    for (size_t c = 0; c < texts[i].size(); ++c) Put16(out, text_at[i] + 2 + 2 * c, static_cast<uint16_t>(texts[i][c]));
  }
  // The directory is addressed from its root, which must be where the section starts:
  // move the data behind the tables by rotating, and fix the data addresses.
  std::vector<uint8_t> section(out.begin() + static_cast<std::ptrdiff_t>(root), out.end());
  const uint32_t shift = static_cast<uint32_t>(section.size());
  for (size_t r = 0; r < resources.size(); ++r) Write32(section, entries - root + 16 * r, rva + shift + data_at[r]);
  section.insert(section.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(root));
  return section;
}

std::optional<std::vector<RawResource>> ListResources(const std::vector<uint8_t>& image) {
  const PeLayout layout = LayoutOf(image);
  const uint32_t root_rva = Read32(image, layout.directories + 2 * 8);
  std::vector<RawResource> list;
  if (root_rva == 0) return list;
  uint32_t root = 0;
  if (!MapRva(image, root_rva, &root)) return std::nullopt;
  auto text = [&](uint32_t field, std::u16string& out, uint16_t& id) {
    if ((field & 0x80000000u) == 0) {
      id = static_cast<uint16_t>(field);
      return true;
    }
    const size_t at = root + (field & 0x7FFFFFFFu);
    if (at + 2 > image.size()) return false;
    const uint16_t length = Read16(image, at);
    if (at + 2 + 2 * size_t{length} > image.size()) return false;
    for (uint16_t i = 0; i < length; ++i) out.push_back(static_cast<char16_t>(Read16(image, at + 2 + 2 * i)));
    return true;
  };
  auto entries = [&](size_t table, std::vector<std::pair<uint32_t, uint32_t>>& out) {
    if (table + 16 > image.size()) return false;
    const size_t count = size_t{Read16(image, table + 12)} + Read16(image, table + 14);
    if (table + 16 + 8 * count > image.size() || count > 4096) return false;
    for (size_t i = 0; i < count; ++i)
      out.emplace_back(Read32(image, table + 16 + 8 * i), Read32(image, table + 20 + 8 * i));
    return true;
  };
  std::vector<std::pair<uint32_t, uint32_t>> types;
  if (!entries(root, types)) return std::nullopt;
  for (const auto& [type_field, type_target] : types) {
    std::vector<std::pair<uint32_t, uint32_t>> names;
    if (!entries(root + (type_target & 0x7FFFFFFFu), names)) return std::nullopt;
    for (const auto& [name_field, name_target] : names) {
      std::vector<std::pair<uint32_t, uint32_t>> languages;
      if (!entries(root + (name_target & 0x7FFFFFFFu), languages)) return std::nullopt;
      for (const auto& [language, data_entry] : languages) {
        RawResource r;
        if (!text(type_field, r.type_name, r.type) || !text(name_field, r.name, r.id)) return std::nullopt;
        r.language = static_cast<uint16_t>(language);
        const size_t entry = root + data_entry;
        if (entry + 16 > image.size()) return std::nullopt;
        uint32_t data = 0;
        const uint32_t size = Read32(image, entry + 4);
        if (size != 0 && (!MapRva(image, Read32(image, entry), &data) || data + size_t{size} > image.size())) {
          return std::nullopt;
        }
        r.data.assign(image.begin() + data, image.begin() + data + size);
        list.push_back(std::move(r));
      }
    }
  }
  return list;
}

std::optional<std::vector<uint8_t>> ResourceBytes(const std::vector<uint8_t>& image, uint16_t type, uint16_t id,
                                                  uint16_t language) {
  const std::optional<std::vector<RawResource>> list = ListResources(image);
  if (!list) return std::nullopt;
  for (const RawResource& r : *list) {
    if (r.type_name.empty() && r.name.empty() && r.type == type && r.id == id && r.language == language) return r.data;
  }
  return std::nullopt;
}

std::vector<uint8_t> MakeVersionBlock(const VersionBlockContents& contents) {
  std::vector<uint8_t> fixed(52, 0);
  Write32(fixed, 0, 0xFEEF04BD);
  Write32(fixed, 4, 0x00010000);
  const uint32_t ms = (uint32_t{contents.file_version[0]} << 16) | contents.file_version[1];
  const uint32_t ls = (uint32_t{contents.file_version[2]} << 16) | contents.file_version[3];
  Write32(fixed, 8, ms);
  Write32(fixed, 12, ls);
  Write32(fixed, 16, ms);
  Write32(fixed, 20, ls);
  Write32(fixed, 24, 0x3F);
  Write32(fixed, 32, 0x00040004);
  Write32(fixed, 36, 1);
  std::vector<std::vector<uint8_t>> strings;
  for (const auto& [key, value] : contents.strings) {
    std::vector<uint8_t> text;
    AppendText(text, value);
    text.push_back(0);
    text.push_back(0);
    strings.push_back(VersionNode(key, text, true, {}));
  }
  std::vector<std::vector<uint8_t>> top = {
      VersionNode(u"StringFileInfo", {}, true, {VersionNode(contents.table_key, {}, true, strings)})};
  if (contents.with_translation) {
    std::vector<uint8_t> pair(4, 0);
    Write16(pair, 0, contents.language);
    Write16(pair, 2, contents.code_page);
    top.push_back(VersionNode(u"VarFileInfo", {}, true, {VersionNode(u"Translation", pair, false, {})}));
  }
  return VersionNode(u"VS_VERSION_INFO", fixed, false, top);
}

std::optional<std::u16string> VersionText(const std::vector<uint8_t>& block, const std::u16string& key) {
  const std::optional<Node> root = ReadNode(block, 0, block.size());
  if (!root) return std::nullopt;
  const std::u16string string_file_info = u"StringFileInfo";
  const std::optional<Node> info = Child(block, *root, &string_file_info);
  if (!info) return std::nullopt;
  const std::optional<Node> table = Child(block, *info, nullptr);
  if (!table) return std::nullopt;
  const std::optional<Node> value = Child(block, *table, &key);
  if (!value || value->value + value->value_length > block.size()) return std::nullopt;
  std::u16string text;
  for (size_t at = value->value; at + 2 <= value->value + value->value_length; at += 2) {
    text.push_back(static_cast<char16_t>(Read16(block, at)));
  }
  return text;
}

}  // namespace brankel_test
