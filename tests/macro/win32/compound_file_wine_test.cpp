// Our reader against the system's structured storage, both ways: files the system writes
// (with its own red-black trees and sector placement) must read back through our reader,
// and files the test builder writes must open and read through the system, which finds
// names by descending the tree and so checks the builder's name order.
// windows.h first: the other system headers build on its types.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "macro/compound_file.h"
#include "support/compound_builder.h"
#include "support/scratch.h"

namespace macro {
namespace {

using brankel_test::CompoundBuilder;
using brankel_test::Narrow;
using brankel_test::PatternBytes;
using Bytes = std::vector<uint8_t>;
using Streams = std::map<std::u16string, Bytes>;

// Releases an interface when it goes out of scope.
template <typename T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p_ != nullptr) p_->Release();
  }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::u16string> Split(std::u16string_view path) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  while (true) {
    const size_t cut = path.find(u'\\', start);
    parts.emplace_back(path.substr(start, cut - start));
    if (cut == std::u16string_view::npos) return parts;
    start = cut + 1;
  }
}

constexpr DWORD kChildMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

// Writes `streams` with the system's docfile implementation, committed and released.
void WriteWithSystem(const std::u16string& file, uint32_t version, const Streams& streams) {
  STGOPTIONS options{};
  options.usVersion = 1;
  options.ulSectorSize = version == 4 ? 4096 : 512;
  Com<IStorage> root;
  HRESULT hr = StgCreateStorageEx(Wide(file).c_str(), STGM_CREATE | kChildMode, STGFMT_DOCFILE, 0, &options, nullptr,
                                  IID_IStorage, reinterpret_cast<void**>(root.Out()));
  ASSERT_EQ(hr, S_OK) << std::hex << hr;
  for (const auto& [path, bytes] : streams) {
    const std::vector<std::u16string> parts = Split(path);
    std::vector<IStorage*> chain{root.get()};
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      IStorage* sub = nullptr;
      hr = chain.back()->OpenStorage(Wide(parts[i]).c_str(), nullptr, kChildMode, nullptr, 0, &sub);
      if (FAILED(hr)) hr = chain.back()->CreateStorage(Wide(parts[i]).c_str(), kChildMode, 0, 0, &sub);
      ASSERT_EQ(hr, S_OK) << Narrow(path) << std::hex << " " << hr;
      chain.push_back(sub);
    }
    IStream* stream = nullptr;
    hr = chain.back()->CreateStream(Wide(parts.back()).c_str(), STGM_CREATE | kChildMode, 0, 0, &stream);
    EXPECT_EQ(hr, S_OK) << Narrow(path);
    if (SUCCEEDED(hr)) {
      // Several writes, so that the system grows the stream across the cutoff as it goes.
      for (size_t at = 0; at < bytes.size(); at += 3000) {
        ULONG done = 0;
        const ULONG n = static_cast<ULONG>(std::min<size_t>(3000, bytes.size() - at));
        EXPECT_EQ(stream->Write(bytes.data() + at, n, &done), S_OK);
        EXPECT_EQ(done, n);
      }
      stream->Release();
    }
    for (size_t i = chain.size(); i-- > 1;) {
      chain[i]->Commit(STGC_DEFAULT);
      chain[i]->Release();
    }
  }
  ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
}

// A stream read through the system; nullopt when it will not open.
std::optional<Bytes> ReadWithSystem(IStorage* root, std::u16string_view path) {
  const std::vector<std::u16string> parts = Split(path);
  std::vector<Com<IStorage>> storages(parts.size());
  IStorage* at = root;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (FAILED(at->OpenStorage(Wide(parts[i]).c_str(), nullptr, kChildMode, nullptr, 0, storages[i].Out()))) {
      return std::nullopt;
    }
    at = storages[i].get();
  }
  Com<IStream> stream;
  if (FAILED(at->OpenStream(Wide(parts.back()).c_str(), nullptr, kChildMode, 0, stream.Out()))) return std::nullopt;
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return std::nullopt;
  Bytes bytes(static_cast<size_t>(stat.cbSize.QuadPart));
  ULONG done = 0;
  if (!bytes.empty() &&
      (FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &done)) || done != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

// Mixed-case names, nested storages, and sizes on both sides of the cutoff.
Streams Varied(uint32_t seed) {
  Streams streams;
  streams[u"MacroOne.msd"] = PatternBytes(100, seed + 1);
  streams[u"BIGFILE.bin"] = PatternBytes(300000, seed + 2);
  streams[u"edge"] = PatternBytes(4095, seed + 3);
  streams[u"Edge2"] = PatternBytes(4096, seed + 4);
  streams[u"Nothing"] = {};
  streams[u"Lib\\Helper.msl"] = PatternBytes(70000, seed + 5);
  streams[u"Lib\\notes.TXT"] = PatternBytes(1500, seed + 6);
  streams[u"Lib\\Deep\\\u00C9t\u00E9"] = PatternBytes(9000, seed + 7);
  streams[u"lib2\\Helper.msl"] = PatternBytes(20, seed + 8);
  return streams;
}

class CompoundFileWine : public brankel_test::ScratchTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(CompoundFileWine, ReadsWhatTheSystemWrites) {
  const Streams streams = Varied(GetParam());
  const std::u16string file = Path(u"system.cfb");
  ASSERT_NO_FATAL_FAILURE(WriteWithSystem(file, GetParam(), streams));

  CompoundFile reader;
  ASSERT_TRUE(reader.OpenFile(file)) << CompoundErrorName(reader.Error()) << ": " << reader.ErrorText();
  EXPECT_EQ(reader.MajorVersion(), GetParam());
  std::vector<std::u16string> listed;
  for (size_t i = 0; i < reader.Entries().size(); ++i) {
    if (reader.Entries()[i].IsStream()) listed.push_back(reader.PathOf(i));
  }
  EXPECT_EQ(listed.size(), streams.size());
  for (const auto& [path, bytes] : streams) {
    EXPECT_NE(std::find(listed.begin(), listed.end(), path), listed.end()) << Narrow(path) << " not listed";
    const std::optional<Bytes> got = reader.ReadStream(path);
    ASSERT_TRUE(got.has_value()) << Narrow(path) << ": " << reader.ErrorText();
    EXPECT_TRUE(*got == bytes) << Narrow(path) << " differs";
  }
  EXPECT_EQ(reader.ReadStream(u"LIB\\deep\\\u00E9T\u00C9"), streams.at(u"Lib\\Deep\\\u00C9t\u00E9"));
}

TEST_P(CompoundFileWine, WalksTheSystemsRedBlackTrees) {
  // Enough siblings for the system to rotate and colour its tree.
  Streams streams;
  for (uint32_t i = 0; i < 150; ++i) {
    std::string name(1, i % 2 ? 's' : 'S');
    name += std::to_string(i * 7 % 150);
    name.append(i % 5, 'x');
    streams[plat::AsciiToUtf16(name)] = PatternBytes(i * 53 % 6000, i);
  }
  const std::u16string file = Path(u"many.cfb");
  ASSERT_NO_FATAL_FAILURE(WriteWithSystem(file, GetParam(), streams));
  CompoundFile reader;
  ASSERT_TRUE(reader.OpenFile(file)) << reader.ErrorText();
  ASSERT_EQ(reader.RootChildren().size(), streams.size());
  for (const auto& [path, bytes] : streams) EXPECT_EQ(reader.ReadStream(path), bytes) << Narrow(path);
}

TEST_P(CompoundFileWine, SystemReadsWhatTheBuilderWrites) {
  const Streams streams = Varied(GetParam() + 20);
  for (bool scatter : {false, true}) {
    CompoundBuilder builder(GetParam());
    for (const auto& [path, bytes] : streams) builder.AddStream(path, bytes);
    builder.AddStorage(u"Empty storage");
    const std::u16string file = Path(scatter ? u"scattered.cfb" : u"built.cfb");
    ASSERT_TRUE(builder.Scatter(scatter).WriteTo(file));

    // Read-write and exclusive, as attachments are opened.
    Com<IStorage> root;
    HRESULT hr = StgOpenStorageEx(Wide(file).c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_DOCFILE, 0, nullptr,
                                  nullptr, IID_IStorage, reinterpret_cast<void**>(root.Out()));
    ASSERT_EQ(hr, S_OK) << std::hex << hr;
    for (const auto& [path, bytes] : streams) {
      EXPECT_EQ(ReadWithSystem(root.get(), path), bytes) << Narrow(path) << (scatter ? " scattered" : "");
    }
    // The system finds a name by comparing on the way down, so a name in other case only
    // turns up when the builder ordered the tree as the system does.
    EXPECT_EQ(ReadWithSystem(root.get(), u"MACROONE.MSD"), streams.at(u"MacroOne.msd"));
    EXPECT_EQ(ReadWithSystem(root.get(), u"lib\\NOTES.txt"), streams.at(u"Lib\\notes.TXT"));
    EXPECT_FALSE(ReadWithSystem(root.get(), u"MacroOne.ms").has_value());

    Com<IEnumSTATSTG> list;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, list.Out()), S_OK);
    size_t count = 0;
    STATSTG stat{};
    while (list->Next(1, &stat, nullptr) == S_OK) {
      ++count;
      CoTaskMemFree(stat.pwcsName);
    }
    EXPECT_EQ(count, 8u) << "five streams and three storages at the root";
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, CompoundFileWine, ::testing::Values(3u, 4u),
                         [](const auto& info) { return std::to_string(info.param).insert(0, 1, 'V'); });

}  // namespace
}  // namespace macro
