#!/usr/bin/env bash
# The main job: builds the example script into one stand-alone EXE with `brankel build`,
# checks it as the stub and player will read it (`brankel inspect`), and runs it under
# wine64 when Wine is installed. Installs what the build needs with apt-get.
# Usage: tools/main-job.sh            (from anywhere; needs root or sudo for apt-get)
set -euo pipefail

cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libmd-dev libcli11-dev nlohmann-json3-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake --preset linux "${launcher[@]}" >/dev/null
# The tool, its installation (language files; the 32-bit and 64-bit runtimes: player,
# stub, runtime modules) and the example script.
cmake --build --preset linux -j "$(nproc)" --target brankel brankel_language_files brankel_runtime brankel_example

build=build/linux
exe=$build/example/Hello.exe
rm -f "$exe"
# The default runtime is the 32-bit one, which runs on every Windows.
"$build/install/brankel" build "$build/example/Hello.msd" -o "$exe" --name "Hello" --progress
"$build/install/brankel" inspect "$exe"

# Only 64-bit Wine may be installed here, so the EXE that runs is a 64-bit build of the
# same script.
wine=""
if command -v wine64 >/dev/null; then wine=wine64; elif command -v wine >/dev/null; then wine=wine; fi
if [ -z "$wine" ]; then
  echo "== Wine is not installed: the EXE was built and checked, not run"
  exit 0
fi
exe64=$build/example/Hello64.exe
rm -f "$exe64"
"$build/install/brankel" build "$build/example/Hello.msd" -o "$exe64" --name "Hello" --machine x64
export WINEPREFIX=$PWD/build/wine-example
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1 || true
trace=$build/example/Hello64.trace
log=$build/example/Hello64.log
rm -f "$trace" "$log"
echo "== running $exe64 under $wine"
status=0
BRANKEL_TRACE="Z:$PWD/$trace" BRANKEL_RUNTIME_LOG="Z:$PWD/$log" "$wine" "$exe64" || status=$?
[ -f "$log" ] && cat "$log"
echo "== the player's trace"
cat "$trace" 2>/dev/null || echo "(no trace was written)"
echo "== exit code $status"
exit "$status"
