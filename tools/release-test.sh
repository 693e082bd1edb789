#!/usr/bin/env bash
# The releases as users install them. The 64-bit Windows installer runs silently under
# wine64 into a fresh prefix: the installed brankelc.exe prints the version and builds
# the example script, `inspect` names the runtime version it built with, and the silent
# uninstaller leaves no program file and keeps the user's files. The Debian package is
# unpacked into a scratch root: its brankel prints the same version and builds the example.
# Also checks that the 32-bit installer is made when a win32 build is configured.
# Usage: tools/release-test.sh   (after the linux and win64 presets are configured; the
# test command runs it)
set -euo pipefail

cd "$(dirname "$0")/.."
top=$PWD
status=0
fail() { echo "FAILED: $*"; status=1; }
step() { echo; echo "== $*"; }

# The version the build configured, as the programs carry it.
header=build/linux/generated/brankel_version.h
version=$(sed -n 's/^#define BRANKEL_VERSION_TEXT "\(.*\)"$/\1/p' "$header")
full_version=$(sed -n 's/^#define BRANKEL_VERSION_FULL_TEXT "\(.*\)"$/\1/p' "$header")
[ -n "$version" ] && [ -n "$full_version" ] || { echo "no version in $header"; exit 1; }
echo "version $version ($full_version)"

jobs=$(nproc)
step "making the Debian package and the installers"
cmake --build build/linux -j "$jobs" --target brankel_deb
cmake --build build/win64 -j "$jobs" --target brankel_installer
deb=build/linux/brankel_${version}_amd64.deb
setup64=build/win64/brankel-setup-${version}-win64.exe
for artefact in "$deb" "$setup64"; do
  [ -s "$artefact" ] || fail "$artefact was not made"
done
if [ -f build/win32/build.ninja ]; then
  cmake --build build/win32 -j "$jobs" --target brankel_installer
  setup32=build/win32/brankel-setup-${version}-win32.exe
  [ -s "$setup32" ] || fail "$setup32 was not made"
  case $(file -b "$setup32") in *"PE32 executable"*"Intel 80386"*) ;; *) fail "$setup32 is not a 32-bit program" ;; esac
fi
case $(file -b "$setup64") in *"PE32+ executable"*"x86-64"*) ;; *) fail "$setup64 is not a 64-bit program" ;; esac

# One field of a JSON object read from standard input.
json_field() { python3 -c 'import json, sys; print(json.load(sys.stdin)[sys.argv[1]])' "$1"; }

# The example script written by the tool under test (the array `tool`) into a folder, with
# its data-folder macro in the data folder that tool resolves, then built into Hello.exe
# with its project file, and the EXE inspected. Arguments: the folder as the tool names
# it, the tool's folder separator, the folder on this machine, the examples folder as the
# tool names it.
build_example() {
  local dir=$1 sep=$2 host=$3 sources=$4 data report
  mkdir -p "$host/sub"
  cp -r examples/files/. "$host/"
  "${tool[@]}" macro new "$sources${sep}sub${sep}Greet.json" "$dir${sep}sub${sep}Greet.msd" >/dev/null &&
    data=$("${tool[@]}" config show --json | tr -d '\r' | json_field data_folder) &&
    "${tool[@]}" macro new "$sources${sep}Shared.json" "${data}Shared.msd" >/dev/null &&
    "${tool[@]}" macro new "$sources${sep}Hello.json" "$dir${sep}Hello.msd" >/dev/null || {
    fail "the installed tool did not write the example script"; return 0; }
  "${tool[@]}" build "$dir${sep}Hello.msd" -o "$dir${sep}Hello.exe" --name Hello --save-project || {
    fail "the installed tool did not build the example"; return 0; }
  [ -s "$host/Hello.exe" ] || fail "no Hello.exe in $host"
  report=$("${tool[@]}" inspect --json "$dir${sep}Hello.exe" | tr -d '\r') || fail "inspect found faults in the EXE"
  local runtime
  runtime=$(json_field runtime_version <<<"$report") || true
  [ "$runtime" = "$full_version" ] || fail "inspect names runtime version \"$runtime\", not $full_version"
  echo "built Hello.exe, $(stat -c %s "$host/Hello.exe") bytes, runtime $runtime"
}

step "the Debian package in a scratch root"
root=$(mktemp -d)
dpkg -x "$deb" "$root"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libmd0; do
  grep -q "$library" <<<"$depends" || fail "the package does not declare $library"
done
tool=("$root/usr/bin/brankel")
[ "$(readlink "${tool[0]}")" = ../lib/brankel/brankel ] || fail "/usr/bin/brankel does not point into /usr/lib/brankel"
printed=$("${tool[@]}" --version) || fail "brankel --version failed"
[ "$printed" = "brankel $version" ] || fail "brankel --version printed \"$printed\""
# A fresh prefix of the tool's own, so that nothing of this machine's is found.
home=$HOME
export HOME=$root/home
folder=$("${tool[@]}" config show --json | json_field program_folder)
expected="z:${root//\//\\}\\usr\\lib\\brankel\\"
[ "${folder,,}" = "${expected,,}" ] || fail "the installed tool runs from $folder, not its own folder $expected"
build_example "$root/example" / "$root/example" "$top/examples"
[ -f "$root/example/Hello.packproj" ] || fail "the installed tool wrote no project file"
rm -rf "$root"
export HOME=$home

step "the 64-bit installer under wine64, silently, into a fresh prefix"
prefix=$(mktemp -d)
# No menu entries of the host's desktop for the Start menu entry.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineboot --init >/dev/null 2>&1 || true
wineserver -w || true
drive=$prefix/drive_c
program='C:\Program Files\Brankel'
program_host="$drive/Program Files/Brankel"
wine "$setup64" /S "/D=$program" || fail "the installer exited with $?"
wineserver -w || true
for file in Brankel.exe brankelc.exe Runvale.exe sysdata/Stubvale.dat x64/sysdata/Stubvale.dat Uninstall.exe; do
  [ -f "$program_host/$file" ] || fail "the installer did not install $file"
done
shared="$drive/ProgramData/Velmora/Pandrel"
for file in Config/General.ini Config/Config.ini; do
  [ -f "$shared/$file" ] || fail "the installer did not put the shared $file"
done
[ -d "$shared/data" ] || fail "the installer did not make the data folder"
[ -f "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Brankel/Brankel.lnk" ] ||
  fail "no Start menu entry"
[ ! -d "$program_host/Config" ] || fail "the program folder carries the shared configuration"

tool=(wine "$program_host/brankelc.exe")
printed=$("${tool[@]}" --version | tr -d '\r') || fail "brankelc.exe --version failed"
[ "$printed" = "brankel $version" ] || fail "brankelc.exe --version printed \"$printed\""
folder=$("${tool[@]}" config show --json | tr -d '\r' | json_field program_folder)
[ "${folder,,}" = 'c:\program files\brankel\' ] || fail "brankelc.exe runs from $folder, not its installation"
# The user's own files: the example and its project in their documents, and a file of
# theirs in the data folder.
user_host="$drive/users/Public/Documents/Example"
build_example 'C:\users\Public\Documents\Example' '\' "$user_host" "Z:$top/examples"
project="$user_host/Hello.packproj"
[ -f "$project" ] || fail "the installed tool wrote no project file"
printf 'the user\r\n' >"$shared/data/Mine.packproj"

# The uninstaller copies itself to the temporary folder and runs from there; wineserver -w
# waits for that copy.
wine "$program_host/Uninstall.exe" /S || fail "the uninstaller exited with $?"
wineserver -w || true
left=$(find "$program_host" -mindepth 1 2>/dev/null | head -n 5 || true)
[ -z "$left" ] || fail "the uninstaller left program files: $left"
[ ! -e "$program_host" ] || fail "the program folder is still there"
[ ! -e "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Brankel" ] || fail "the Start menu entry is still there"
[ ! -e "$shared/Config" ] || fail "the shared configuration is still there"
[ -f "$project" ] || fail "the uninstaller removed the user's project $project"
[ -f "$shared/data/Mine.packproj" ] || fail "the uninstaller removed the user's file in the data folder"
[ -f "$user_host/Hello.exe" ] || fail "the uninstaller removed the user's EXE"
wineserver -k 2>/dev/null || true
rm -rf "$prefix"

echo
if [ "$status" -eq 0 ]; then echo "release test: passed"; else echo "release test: FAILED"; fi
exit "$status"
