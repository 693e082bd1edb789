// PackBlock and UnpackBlock over 1 MiB of three kinds of data, each beside memcpy of the
// same bytes: the copy is the floor no block reader can go below, so the ratio says what
// the packed form costs when a macro file is read or written.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "macro/macro_format.h"

namespace {

constexpr size_t kBlockSize = size_t{1} << 20;

enum class Data { kRandom, kLongRuns, kMixed };

// Fixed seeds: every run measures the same bytes.
std::vector<uint8_t> MakeData(Data kind) {
  std::mt19937 random(20240601u);
  std::vector<uint8_t> out;
  out.reserve(kBlockSize);
  switch (kind) {
    case Data::kRandom:
      while (out.size() < kBlockSize) out.push_back(static_cast<uint8_t>(random()));
      break;
    case Data::kLongRuns: {
      std::uniform_int_distribution<size_t> length(200, 1000);
      while (out.size() < kBlockSize) out.insert(out.end(), length(random), static_cast<uint8_t>(random()));
      break;
    }
    case Data::kMixed: {
      // Words and spaces as in scripts and file names, now and then a run of padding such
      // as the zeroed tails of fixed text fields.
      static const char* const kWords[] = {"Click", "window", "C:\\Program Files\\", "Send", "{ENTER}",
                                           "Wait",  "1000",   "notepad.exe",         "if",   "endif",
                                           "Type",  "text"};
      std::uniform_int_distribution<size_t> word(0, sizeof kWords / sizeof kWords[0] - 1);
      std::uniform_int_distribution<int> chance(0, 99);
      std::uniform_int_distribution<size_t> pad(8, 200);
      while (out.size() < kBlockSize) {
        const char* text = kWords[word(random)];
        out.insert(out.end(), text, text + std::strlen(text));
        out.push_back(chance(random) < 10 ? '\n' : ' ');
        if (chance(random) < 1) out.insert(out.end(), pad(random), chance(random) < 50 ? 0 : ' ');
      }
      break;
    }
  }
  out.resize(kBlockSize);
  return out;
}

void Pack(benchmark::State& state, Data kind) {
  const std::vector<uint8_t> data = MakeData(kind);
  size_t packed_size = 0;
  for (auto _ : state) {
    std::vector<uint8_t> packed = macro::PackBlock(plat::ByteView(data));
    packed_size = packed.size();
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["packed/plain"] = static_cast<double>(packed_size) / static_cast<double>(data.size());
}

void Unpack(benchmark::State& state, Data kind) {
  const std::vector<uint8_t> data = MakeData(kind);
  const std::vector<uint8_t> packed = macro::PackBlock(plat::ByteView(data));
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!macro::UnpackBlock(plat::ByteView(packed), macro::kParamSpare, out)) {
      state.SkipWithError("stream refused");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (out.size() != data.size() + macro::kParamSpare || std::memcmp(out.data(), data.data(), data.size()) != 0) {
    state.SkipWithError("unpacked bytes differ");
  }
  // Measured against the bytes the reader ends up with.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void Copy(benchmark::State& state, Data kind) {
  const std::vector<uint8_t> data = MakeData(kind);
  std::vector<uint8_t> out(data.size());
  for (auto _ : state) {
    std::memcpy(out.data(), data.data(), data.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

BENCHMARK_CAPTURE(Copy, random, Data::kRandom);
BENCHMARK_CAPTURE(Pack, random, Data::kRandom);
BENCHMARK_CAPTURE(Unpack, random, Data::kRandom);
BENCHMARK_CAPTURE(Copy, long_runs, Data::kLongRuns);
BENCHMARK_CAPTURE(Pack, long_runs, Data::kLongRuns);
BENCHMARK_CAPTURE(Unpack, long_runs, Data::kLongRuns);
BENCHMARK_CAPTURE(Copy, mixed, Data::kMixed);
BENCHMARK_CAPTURE(Pack, mixed, Data::kMixed);
BENCHMARK_CAPTURE(Unpack, mixed, Data::kMixed);

}  // namespace

BENCHMARK_MAIN();
