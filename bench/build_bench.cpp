// The build's throughput on a script whose extra files total 256 MiB, beside the floor any
// build must pay for the same bytes: read each file once, take its MD5, write it once. The
// ratio (floor time / build time) says how close the build comes to that floor; the peak
// memory is shown beside the payload size. A timed command, not a test:
//   build/linux/bench/brankel_build_bench [MiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/platform.h"
#include "platform/unicode.h"
#include "support/macro_builder.h"

namespace {

constexpr uint32_t kPiece = 1u << 20;
constexpr int kFiles = 16;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The process's peak resident memory so far, in MiB (Linux's VmHWM).
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

bool WriteRandomFile(const std::u16string& path, uint64_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint32_t> piece(kPiece / 4);
  plat::FileHandle file = plat::OpenFile(path, plat::kGenericWrite, 0, plat::Disposition::kCreateAlways);
  bool ok = file != nullptr;
  for (uint64_t at = 0; ok && at < size; at += kPiece) {
    for (uint32_t& word : piece) word = random();
    uint32_t done = 0;
    ok = plat::WriteFile(file, piece.data(), kPiece, &done) && done == kPiece;
  }
  return plat::CloseFile(file) && ok;
}

// Read + MD5 + write once: each file whole into a buffer, its digest, appended to one file.
bool Floor(const std::vector<std::u16string>& files, const std::u16string& out) {
  plat::FileHandle sink = plat::OpenFile(out, plat::kGenericWrite, 0, plat::Disposition::kCreateAlways);
  bool ok = sink != nullptr;
  std::vector<uint8_t> bytes;
  for (const std::u16string& path : files) {
    plat::FileHandle file =
        plat::OpenFile(path, plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
    uint64_t size = 0;
    ok = ok && file != nullptr && plat::GetFileSize(file, &size);
    bytes.resize(static_cast<size_t>(size));
    uint32_t done = 0;
    ok = ok && plat::ReadFile(file, bytes.data(), static_cast<uint32_t>(size), &done) && done == size;
    plat::CloseFile(file);
    const plat::Md5Digest digest = plat::Md5(bytes.data(), bytes.size());
    ok = ok && plat::WriteFile(sink, bytes.data(), static_cast<uint32_t>(size), &done) &&
         plat::WriteFile(sink, digest.data(), 16, &done);
  }
  return plat::CloseFile(sink) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t total_mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
  const uint64_t file_size = total_mib * kPiece / kFiles;
  const std::u16string folder = plat::GetTempPath() + u"brankel-build-bench";
  plat::CreateDirectory(folder);
  const std::u16string script = folder + u"\\main.msd";
  if (!brankel_test::MacroBuilder().Name(u"Bench").WriteTo(script)) {
    std::fprintf(stderr, "cannot write %s\n", plat::Utf16ToUtf8(script).c_str());
    return 1;
  }
  std::vector<std::u16string> files;
  std::vector<std::string> args = {"build", plat::Utf16ToUtf8(script), "-o",
                                   plat::Utf16ToUtf8(folder + u"\\bench.exe")};
  for (int i = 0; i < kFiles; ++i) {
    files.push_back(folder + u"\\data" + plat::Utf8ToUtf16(std::to_string(i)) + u".bin");
    if (!WriteRandomFile(files.back(), file_size, 1000u + static_cast<uint32_t>(i))) return 1;
    args.push_back("--add");
    args.push_back(plat::Utf16ToUtf8(files.back()));
  }

  auto start = std::chrono::steady_clock::now();
  if (!Floor(files, folder + u"\\floor.bin")) return 1;
  const double floor = Seconds(start);
  const double floor_peak = PeakMiB();

  start = std::chrono::steady_clock::now();
  const int code = cli::RunBrankel(args);
  const double build = Seconds(start);
  if (code != 0) return code;

  plat::FileHandle exe =
      plat::OpenFile(folder + u"\\bench.exe", plat::kGenericRead, plat::kShareRead, plat::Disposition::kOpenExisting);
  uint64_t exe_size = 0;
  plat::GetFileSize(exe, &exe_size);
  plat::CloseFile(exe);
  const double payload = static_cast<double>(exe_size) / kPiece;
  const double peak = PeakMiB();
  std::printf("files: %d x %.1f MiB\n", kFiles, static_cast<double>(file_size) / kPiece);
  std::printf("floor (read + MD5 + write once): %.3f s, %.0f MiB/s, peak %.0f MiB\n", floor, total_mib / floor,
              floor_peak);
  std::printf("build: %.3f s, %.0f MiB/s\n", build, total_mib / build);
  std::printf("ratio (floor / build): %.2f (goal >= 0.8)\n", floor / build);
  std::printf("peak memory %.0f MiB beside an EXE of %.0f MiB (goal: at most the payload + 64 MiB)\n", peak, payload);

  for (const std::u16string& path : files) plat::DeleteFile(path);
  for (const char16_t* name : {u"\\floor.bin", u"\\bench.exe", u"\\main.msd"}) plat::DeleteFile(folder + name);
  plat::RemoveDirectory(folder);
  return 0;
}
