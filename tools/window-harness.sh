#!/usr/bin/env bash
# The window harness: runs the 64-bit Brankel.exe of build/win64/install under wine64 on
# an Xvfb display of its own with a fresh Wine prefix, once per case, each on its own copy
# of the installation. For each case it waits for the program's window, keeps a picture of
# the screen in build/win64/harness/<case>.png, checks the window's texts with winprobe
# (tests/harness/winprobe.cpp), answers it, and checks that the process ends.
# Usage: tools/window-harness.sh [CASE...]     (no case: all of them)
set -euo pipefail

cd "$(dirname "$0")/.."
top=$PWD
install=$top/build/win64/install
out=$top/build/win64/harness
probe=$out/winprobe.exe
for needed in "$install/Brankel.exe" "$install/Deskvale.exe" "$probe"; do
  [ -f "$needed" ] || { echo "harness: $needed is missing; build the win64 preset first"; exit 2; }
done
for tool in wine wineserver Xvfb xwd convert; do
  command -v "$tool" >/dev/null || { echo "harness: $tool is not installed"; exit 2; }
done

work=$(mktemp -d /tmp/brankel-harness.XXXXXX)
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: the first free number from 90 on.
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display"

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init >/dev/null 2>&1 || true
wineserver -w || true

# The machine's shared configuration, as an installation leaves it, with the macro folder
# in the scratch folder.
winpath() { echo "Z:${1//\//\\}"; }
mkdir -p "$work/data"
shared="$WINEPREFIX/drive_c/ProgramData/Velmora/Pandrel/Config"
mkdir -p "$shared"
printf '[General]\r\nCmd.exe=Brankel\r\nLanguage=en\r\nDataPath=%s\r\n' "$(winpath "$work/data")" >"$shared/General.ini"
cp "$install/Config/Config.ini" "$shared/Config.ini"

mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.txt
failures=0
fail() { echo "FAIL $case: $*"; failures=$((failures + 1)); }
# Through a file, not a pipe: a Wine service this call starts keeps its output open.
probe() {
  local rc=0
  timeout 60 wine "$probe" "$@" >"$work/probe.out" 2>&1 || rc=$?
  tr -d "\r" <"$work/probe.out"
  return $rc
}

# A copy of the installation for one case; the 64-bit program gets the UI library of its
# own word size.
fresh_install() {
  dir=$work/$case
  rm -rf "$dir"
  cp -r "$install" "$dir"
  if [ -f "$install/x64/sysdata/vllib_ui_defresu.dll" ]; then
    cp "$install/x64/sysdata/vllib_ui_defresu.dll" "$dir/sysdata/vllib_ui_defresu.dll"
  fi
  mkdir -p "$dir/scripts" "$dir/with space"
  printf 'script' >"$dir/scripts/valid.msd"
  printf 'script' >"$dir/with space/valid.msd"
}

# Starts the program with ARGS, waits for its window and checks that it shows TEXT;
# then presses BUTTON and checks that the process ends.
run_case() {
  local text=$1 button=$2
  shift 2
  (cd "$dir" && exec wine "$dir/Brankel.exe" "$@" >/dev/null 2>&1) &
  local pid=$!
  if ! probe wait Brankel 20000 >/dev/null; then
    fail "no window"
    kill "$pid" 2>/dev/null || true
    return
  fi
  sleep 1  # let the window paint before the picture
  xwd -root -display "$DISPLAY" | convert xwd:- "$out/$case.png"
  probe texts Brankel >"$out/$case.txt"
  grep -qF -- "$text" "$out/$case.txt" || fail "\"$text\" not among the texts: $(cat "$out/$case.txt")"
  if grep -q 'IDS_' "$out/$case.txt"; then fail "a language key is shown"; fi
  if command -v tesseract >/dev/null && tesseract "$out/$case.png" - 2>/dev/null | grep -q 'IDS_'; then
    fail "a language key is on the screen"
  fi
  probe click Brankel "$button" >/dev/null || fail "no button $button"
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    fail "the process did not end after $button"
    kill "$pid" 2>/dev/null || true
  else
    echo "ok   $case ($out/$case.png)"
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# The user's own settings, written where the program keeps them (it copies the template
# there only when there is none).
user_config() {
  local roaming
  roaming=$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -type d -path "*/AppData/Roaming" ! -path "*/Public/*" | head -n 1)
  mkdir -p "$roaming/Velmora/Pandrel"
  printf "[UIFont]\r\nSize=90\r\n[Options]\r\nUsingSystemAspect=%s\r\n[Appearance]\r\nHue=%s\r\nLight=0\r\nSaturation=%s\r\n" \
    "$@" >"$roaming/Velmora/Pandrel/Config.ini"
}

cases=(missing quoted old-library damaged-language sibling-5 valid tinted system-colours)
[ $# -gt 0 ] && cases=("$@")
for case in "${cases[@]}"; do
  fresh_install
  case $case in
    missing)
      run_case "The macro script does not exist" OK "$(winpath "$dir/scripts/none.msd")" ;;
    quoted)
      # wine quotes an argument with a blank: the program sees the quotation marks.
      run_case "The macro script does not exist" OK "$(winpath "$dir/with space/valid.msd")" ;;
    old-library)
      probe setversion "$(winpath "$dir/sysdata/vllib_ui_defresu.dll")" 1.0.0.1 || fail "patching the library"
      run_case "The user interface library of the installation" OK "$(winpath "$dir/scripts/valid.msd")" ;;
    damaged-language)
      sed -i 's/^IDS_FILEFILTER_ALL=All files/IDS_FILEFILTER_ALL=Any files/' "$dir/sysdata/Packager_en.lng"
      run_case "The language file of the program is damaged" OK "$(winpath "$dir/scripts/valid.msd")" ;;
    sibling-5)
      probe setversion "$(winpath "$dir/Deskvale.exe")" 5.0.0.1 || fail "patching the editor"
      run_case "The installed macro editor (Deskvale) is not the version" No "$(winpath "$dir/scripts/valid.msd")" ;;
    valid)
      run_case "$(winpath "$dir/scripts/valid.msd")" Close "$(winpath "$dir/scripts/valid.msd")" ;;
    tinted)
      # Both colour cases show the same text, so that their pictures differ only in colour.
      user_config 0 30 -53
      run_case "The macro script does not exist" OK "Z:\\tmp\\no such script.msd" ;;
    system-colours)
      user_config 1 30 -53
      run_case "The macro script does not exist" OK "Z:\\tmp\\no such script.msd"
      if [ -f "$out/tinted.png" ]; then
        differing=$(compare -metric AE "$out/tinted.png" "$out/system-colours.png" null: 2>&1 || true)
        echo "     tinted and system colours differ in $differing pixels"
        [ "${differing%%.*}" -gt 1000 ] 2>/dev/null || fail "the tinted skin looks like the system colours"
      fi ;;
    *) fail "unknown case" ;;
  esac
done

echo "harness: ${#cases[@]} cases, $failures failures"
[ "$failures" -eq 0 ]
