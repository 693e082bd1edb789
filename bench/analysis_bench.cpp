// The analysis of a script that reaches the most macro files a list holds: the script calls
// 511 macro files, each with 200 commands that name a file. In one tree the names are files
// beside the script; in the other they name nothing, half of them bare, so that every name
// walks the system's search for files too. Each run is `brankel analyze` (the collection,
// the temporary copies and the discovery), timed beside a plain walk of the same tree that
// lists every folder and reads every file once; the counter "walk/analyze" is that ratio.
//   build/linux/bench/brankel_analysis_bench
// With `--tree FOLDER` it only writes both trees under FOLDER (a host path) and prints the
// scripts, for a timed `brankelc.exe analyze` under Wine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/brankel_app.h"
#include "app/res_string.h"
#include "cli/cli.h"
#include "cli/installation.h"
#include "macro/macro_builder.h"
#include "packager/session.h"
#include "platform/byte_view.h"
#include "platform/file_io.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace {

constexpr int kCalledMacros = 511;
constexpr int kNamingCommands = 200;
constexpr uint16_t kOpenFile = 0x230A;  // names one file, its text at payload offset 0

std::u16string Number(int value) { return plat::Utf8ToUtf16(std::to_string(value)); }

std::vector<uint8_t> TextPayload(std::u16string_view text) {
  std::vector<uint8_t> payload;
  plat::ByteWriter writer(payload);
  writer.Utf16z(text);
  return payload;
}

// The name that command `command` of called macro `macro` gives: the existing files are
// shared by all macros, the missing names are each macro's own.
std::u16string NamedFile(bool existing, int macro, int command) {
  if (existing) return u"data\\file" + Number(command) + u".bin";
  return (command % 2 == 0 ? u"nothere" : u"data\\nothere") + Number(macro) + u"-" + Number(command) + u".bin";
}

// Writes the script "main.msd" and what it reaches under `folder`; false when a file
// cannot be written.
bool WriteTree(const std::u16string& folder, bool existing) {
  for (const char16_t* sub : {u"", u"\\macros", u"\\data"}) plat::CreateDirectory(folder + sub);
  if (existing) {
    for (int i = 0; i < kNamingCommands; ++i) {
      if (!plat::WriteWholeFile(folder + u"\\" + NamedFile(true, 0, i), "data")) return false;
    }
  }
  macro::MacroBuilder script;
  for (int i = 0; i < kCalledMacros; ++i) {
    macro::MacroBuilder called;
    for (int c = 0; c < kNamingCommands; ++c) {
      const uint16_t id = static_cast<uint16_t>(c + 1);
      called.Command(kOpenFile, id).Param(id, TextPayload(NamedFile(existing, i, c)));
    }
    const std::u16string name = u"macros\\m" + Number(i) + u".msd";
    if (!called.WriteTo(folder + u"\\" + name)) return false;
    const uint16_t id = static_cast<uint16_t>(i + 1);
    script.Command(macro::kCallMacro, id).Param(id, macro::CallPayload(macro::kCallMacro, macro::kByPath, name));
  }
  return script.WriteTo(folder + u"\\main.msd");
}

// Lists every folder of the tree and reads each file once; returns the bytes read.
uint64_t WalkTree(const std::u16string& folder) {
  uint64_t bytes = 0;
  plat::FindData data;
  plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data);
  if (find == nullptr) return 0;
  do {
    if (data.name == u"." || data.name == u"..") continue;
    const std::u16string child = folder + u"\\" + data.name;
    if (data.attributes & plat::kAttrDirectory) {
      bytes += WalkTree(child);
    } else if (const std::optional<std::string> read = plat::ReadWholeFile(child)) {
      bytes += read->size();
    }
  } while (plat::FindNextFile(find, &data));
  plat::FindClose(find);
  return bytes;
}

void RemoveTree(const std::u16string& folder) {
  plat::FindData data;
  if (plat::FindHandle find = plat::FindFirstFile(folder + u"\\*", &data)) {
    do {
      if (data.name == u"." || data.name == u"..") continue;
      const std::u16string child = folder + u"\\" + data.name;
      if (data.attributes & plat::kAttrDirectory) {
        RemoveTree(child);
      } else {
        plat::DeleteFile(child);
      }
    } while (plat::FindNextFile(find, &data));
    plat::FindClose(find);
  }
  plat::RemoveDirectory(folder);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_Analyze(benchmark::State& state) {
  const bool existing = state.range(0) != 0;
  const std::u16string folder =
      plat::GetTempPath() + (existing ? u"brankel-analysis-bench-existing" : u"brankel-analysis-bench-missing");
  RemoveTree(folder);
  if (!WriteTree(folder, existing)) {
    state.SkipWithError("cannot write the tree");
    return;
  }
  std::FILE* sink = std::fopen("/dev/null", "w");
  const std::vector<std::string> args = {"analyze", "--json", plat::Utf16ToUtf8(folder + u"\\main.msd")};
  double analyze = 0;
  double walk = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    // Missing names make the analysis report them and end with a failure code; the
    // lists are whole either way.
    benchmark::DoNotOptimize(cli::RunBrankel(args, sink, sink));
    analyze += Seconds(start);
    state.PauseTiming();
    start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(WalkTree(folder));
    walk += Seconds(start);
    state.ResumeTiming();
  }
  std::fclose(sink);
  state.counters["walk/analyze"] = analyze > 0 ? walk / analyze : 0;
  RemoveTree(folder);
}
BENCHMARK(BM_Analyze)->ArgName("existing")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The same analysis step by step through the packaging session, to show where the time
// goes: the collection, the temporary copies, the discovery and the copies' removal (in
// milliseconds per run), and the collection with the discovery alone.
void BM_Steps(benchmark::State& state) {
  const bool existing = state.range(0) != 0;
  const std::u16string folder =
      plat::GetTempPath() + (existing ? u"brankel-steps-bench-existing" : u"brankel-steps-bench-missing");
  RemoveTree(folder);
  std::FILE* sink = std::fopen("/dev/null", "w");
  app::CBrankelApp application;
  app::CVLResString texts;
  if (!WriteTree(folder, existing) || !cli::LoadApplication(application, texts, cli::Streams{sink, sink})) {
    state.SkipWithError("cannot write the tree or load the installation");
    std::fclose(sink);
    return;
  }
  double collect = 0, copies = 0, discover = 0, remove = 0;
  for (auto _ : state) {
    packager::PackagingSession session(application);
    if (!session.Open(folder + u"\\main.msd")) {
      state.SkipWithError("the script does not open");
      break;
    }
    auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(session.Collect());
    collect += Seconds(start);
    start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(session.MakeCopies());
    copies += Seconds(start);
    start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(session.Discover());
    discover += Seconds(start);
    start = std::chrono::steady_clock::now();
    session.RemoveCopies();
    remove += Seconds(start);
  }
  const double runs = static_cast<double>(state.iterations()) / 1000.0;
  state.counters["collect_ms"] = collect / runs;
  state.counters["copies_ms"] = copies / runs;
  state.counters["discover_ms"] = discover / runs;
  state.counters["remove_ms"] = remove / runs;
  state.counters["collect+discover_ms"] = (collect + discover) / runs;
  std::fclose(sink);
  RemoveTree(folder);
}
BENCHMARK(BM_Steps)->ArgName("existing")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--tree") == 0) {
    const std::u16string root = plat::PathFromHost(argv[2]);
    plat::CreateDirectory(root);
    for (const bool existing : {true, false}) {
      const std::u16string folder = root + (existing ? u"\\existing" : u"\\missing");
      RemoveTree(folder);
      if (!WriteTree(folder, existing)) return 1;
      std::printf("%s\n", plat::Utf16ToUtf8(folder + u"\\main.msd").c_str());
    }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
