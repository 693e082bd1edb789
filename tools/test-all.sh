#!/usr/bin/env bash
# Installs what is missing, builds every build (linux, linux-asan, linux32, fuzz, win32,
# win64) and runs every test: natively (64- and 32-bit), under the sanitizers, and the
# Windows tests under wine64; then installs the releases (the Windows installer under
# wine64, the Debian package in a scratch root) and uses them.
# Usage: tools/test-all.sh            (from anywhere; needs root or sudo for apt-get)
set -euo pipefail

cd "$(dirname "$0")/.."
top=$PWD

packages=(cmake osslsigncode ninja-build g++ g++-multilib clang libclang-rt-14-dev libgtest-dev googletest libmd-dev
          libcli11-dev nlohmann-json3-dev libbenchmark-dev clang-format
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth file ccache
          x11-apps imagemagick xdotool tesseract-ocr python3 nsis)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

step() { echo; echo "== $*"; }

install_missing
status=0

step "formatting"
# git ls-files: what a checkout holds, not what a build left beside it.
if ! git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror; then
  echo "clang-format would change the files above: run tools/format.sh"
  status=1
fi

jobs=$(nproc)
# A compiler cache makes a second run (CI after a local one) rebuild only what changed.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# linux32 after linux: its language files are signed by the 64-bit brankel.
for preset in linux linux-asan linux32 fuzz win32 win64; do
  step "configure and build: $preset"
  cmake --preset "$preset" -DBRANKEL_WERROR=ON "${launcher[@]}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

passed=0
failed=0
count_gtest() {  # reads a gtest log, adds its counts
  local log=$1 p f
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -n 1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*, listed below:/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
}

# A folder the system itself refuses to write to (a read-only bind mount; root ignores
# permissions), for the tests of writes that are refused for real; without the rights to
# mount one those tests skip.
readonly_source=$(mktemp -d)
readonly_view=$(mktemp -d)
unmount_readonly() { umount "$readonly_view" 2>/dev/null || true; rm -rf "$readonly_source"; rmdir "$readonly_view" 2>/dev/null || true; }
trap unmount_readonly EXIT
if mount --bind "$readonly_source" "$readonly_view" 2>/dev/null &&
   mount -o remount,bind,ro "$readonly_view" 2>/dev/null; then
  export BRANKEL_READONLY_FOLDER="Z:${readonly_view//\//\\}" BRANKEL_READONLY_SOURCE="Z:${readonly_source//\//\\}"
else
  echo "no read-only folder could be mounted: the tests of refused writes skip"
fi

for preset in linux linux-asan linux32; do
  step "unit tests: $preset"
  if [ "$preset" = linux32 ]; then
    # Some kernels are built without 32-bit x86 support and refuse the program outright
    # (exit 126); the 32-bit build is then still compiled and checked, but cannot run.
    probe=0
    build/linux32/tests/brankel_tests --gtest_list_tests >/dev/null 2>&1 || probe=$?
    if [ "$probe" -eq 126 ]; then
      echo "this machine's kernel does not run 32-bit x86 programs: linux32 is built, not run"
      continue
    fi
  fi
  log=build/$preset/test-run.log
  if ! "build/$preset/tests/brankel_tests" --gtest_brief=1 >"$log" 2>&1; then status=1; fi
  tail -n 3 "$log"
  count_gtest "$log"
done

step "fuzz targets: a short run of each"
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  corpus=$(mktemp -d)
  # Real programs and icons as seeds: random bytes seldom reach a resource directory.
  case $(basename "$target") in
    fuzz_pe_*|fuzz_certificate_table) cp build/linux/fixtures/*.exe "$corpus"/ 2>/dev/null || true ;;
    fuzz_icon_file) cp build/linux/fixtures/*.ico "$corpus"/ 2>/dev/null || true ;;
  esac
  # The small inputs of the longer campaigns that reached new code start every short run.
  seeds=fuzz/seeds/$(basename "$target" | sed 's/^fuzz_//')
  if [ -d "$seeds" ]; then cp "$seeds"/* "$corpus"/; fi
  if ! "$target" -max_total_time=10 "$corpus" >"$corpus.log" 2>&1; then
    tail -n 20 "$corpus.log"; status=1
  fi
  echo "$(basename "$target"): $(tail -n 1 "$corpus.log")"
  rm -rf "$corpus" "$corpus.log"
done

step "image kinds"
check_kind() {  # file, expected text
  local kind
  kind=$(file -b "$1")
  echo "$(basename "$1"): $kind"
  case "$kind" in *"$2"*) ;; *) echo "expected $2"; status=1 ;; esac
}
check_kind build/linux32/tests/brankel_tests "ELF 32-bit"
check_kind build/win32/tests/brankel_tests.exe "PE32 executable (console) Intel 80386"
check_kind build/win32/install/brankelc.exe "PE32 executable (console) Intel 80386"
check_kind build/win32/install/Brankel.exe "PE32 executable (GUI) Intel 80386"
check_kind build/win64/tests/brankel_tests.exe "PE32+ executable (console) x86-64"
check_kind build/win64/install/brankelc.exe "PE32+ executable (console) x86-64"

step "unit tests: win64 under wine"
export WINEPREFIX=$top/build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  xvfb-run -a wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
log=build/win64/test-run.log
if ! xvfb-run -a wine build/win64/tests/brankel_tests.exe --gtest_brief=1 >"$log" 2>&1; then status=1; fi
tr -d '\r' <"$log" >"$log.txt" && mv "$log.txt" "$log"
tail -n 3 "$log"
count_gtest "$log"
wineserver -k 2>/dev/null || true

step "a signed EXE built on Linux, run under wine"
log=build/linux/test-run-signed.log
if ! build/linux/tests/brankel_tests --gtest_brief=1 --gtest_filter='SignCommandTest.SignedExeRunsUnderWine' \
    >"$log" 2>&1; then status=1; fi
grep -q "Skipped" "$log" && { echo "the signed EXE was not run under wine:"; cat "$log"; status=1; }
tail -n 3 "$log"
count_gtest "$log"
wineserver -k 2>/dev/null || true

step "window harness: Brankel.exe under wine, its windows read and answered"
if ! timeout 600 bash tools/window-harness.sh >build/win64/harness.log 2>&1; then
  tail -n 20 build/win64/harness.log
  status=1
fi
tail -n 1 build/win64/harness.log

step "legacy macro upgrade under wine with the double-byte code page 936"
log=build/win64/test-run-936.log
if ! LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 xvfb-run -a wine build/win64/tests/brankel_tests.exe --gtest_brief=1 \
    --gtest_filter='LegacyRules*:LegacyUpgradeTest*' >"$log" 2>&1; then status=1; fi
tr -d '\r' <"$log" >"$log.txt" && mv "$log.txt" "$log"
tail -n 3 "$log"
count_gtest "$log"
wineserver -k 2>/dev/null || true

step "releases: the Windows installer under wine64 and the Debian package, installed and used"
if ! bash tools/release-test.sh >build/release-test.log 2>&1; then
  grep -E '^FAILED|^== ' build/release-test.log | tail -n 20
  tail -n 5 build/release-test.log
  status=1
fi
tail -n 1 build/release-test.log

step "main job: the example script built, inspected and run"
if ! bash tools/main-job.sh >build/main-job.log 2>&1; then
  tail -n 20 build/main-job.log
  status=1
fi
tail -n 1 build/main-job.log
grep -q '^== exit code 0$' build/main-job.log || { echo "the built EXE did not run to its end"; status=1; }

echo
# A run that crashed before printing its counts still counts as a failure.
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "total: $passed passed, $failed failed"
exit "$status"
