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
# The window's title is Brankel's, or RUN_TITLE's.
run_case() {
  local text=$1 button=$2 title=${RUN_TITLE:-Brankel}
  shift 2
  (cd "$dir" && exec wine "$dir/Brankel.exe" "$@" >/dev/null 2>&1) &
  local pid=$!
  if ! probe wait "$title" 20000 >/dev/null; then
    fail "no window"
    kill "$pid" 2>/dev/null || true
    return
  fi
  sleep 1  # let the window paint before the picture
  xwd -root -display "$DISPLAY" | convert xwd:- "$out/$case.png"
  probe texts "$title" >"$out/$case.txt"
  grep -qF -- "$text" "$out/$case.txt" || fail "\"$text\" not among the texts: $(cat "$out/$case.txt")"
  if grep -q 'IDS_' "$out/$case.txt"; then fail "a language key is shown"; fi
  if command -v tesseract >/dev/null && tesseract "$out/$case.png" - 2>/dev/null | grep -q 'IDS_'; then
    fail "a language key is on the screen"
  fi
  probe click "$title" "$button" >/dev/null || fail "no button $button"
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

# A picture of the screen in build/win64/harness/NAME.png, read by tesseract when it is
# installed: no language key may be on the screen.
picture() {
  sleep 0.5
  xwd -root -display "$DISPLAY" | convert xwd:- "$out/$1.png"
  if command -v tesseract >/dev/null && tesseract "$out/$1.png" - 2>/dev/null | grep -q 'IDS_'; then
    fail "a language key is on the screen in $1.png"
  fi
}
# The texts of a window: no language key, and every label and button of the visible page
# has a text.
check_texts() {
  local title=$1 name=$2
  probe texts "$title" >"$out/$name.txt" || fail "no window \"$title\" for $name"
  if grep -q 'IDS_' "$out/$name.txt"; then fail "a language key is shown in $name: $(grep IDS_ "$out/$name.txt")"; fi
  local id
  for id in "${@:3}"; do
    [ -n "$(probe text "$title" "#$id")" ] || fail "control $id has no text in $name"
  done
}
# Waits for the message dialog, checks that it says TEXT and answers it with BUTTON.
answer_message() {
  local text=$1 button=${2:-OK}
  probe wait Brankel 20000 >/dev/null || { fail "no message \"$text\""; return; }
  probe texts Brankel >"$work/message.txt"
  grep -qF -- "$text" "$work/message.txt" || fail "the message is not \"$text\": $(cat "$work/message.txt")"
  probe click Brankel "$button" >/dev/null || fail "no button $button in the message"
  sleep 0.5
}
# The file chooser: types PATH (or several quoted names) and opens.
choose_file() {
  local title=$1 names=$2
  probe wait "$title" 10000 >/dev/null || { fail "no file chooser \"$title\""; return; }
  sleep 0.5
  probe type "$title" "#1148" "$names" >/dev/null || fail "no file name edit in \"$title\": $(probe texts "$title")"
  probe click "$title" Open >/dev/null || fail "no open button in \"$title\""
  sleep 1
}

# The wizard walked as a user would, from a script that calls a macro and names a missing
# file; then the EXE, the project file and a second start that shows the saved name.
wizard_case() {
  local sheet="Make EXE from Macro Script"
  local tree=$dir/walk
  local next="#12324"
  mkdir -p "$tree/data" "$tree/out"
  printf 'here' >"$tree/data/present.txt"
  printf 'called' >"$tree/data/called.txt"
  printf 'mine' >"$tree/hand.txt"
  printf '{"name": "Called", "commands": [{"code": "open-file", "texts": [{"offset": 0, "text": "data\\\\called.txt"}]}]}' >"$tree/Called.json"
  printf '{"name": "Other", "commands": []}' >"$tree/Other.json"
  printf '{"name": "Main", "commands": [{"code": "call", "call": "Called.msd", "kind": 1}, {"code": "open-file", "texts": [{"offset": 0, "text": "data\\\\present.txt"}]}, {"code": "open-file", "texts": [{"offset": 0, "text": "data\\\\missing.txt"}]}]}' >"$tree/Main.json"
  local json
  for json in Called Other Main; do
    probe_tool macro new "$(winpath "$tree/$json.json")" "$(winpath "$tree/$json.msd")" || fail "writing $json.msd"
  done
  local script
  script=$(winpath "$tree/Main.msd")
  (cd "$dir" && exec wine "$dir/Brankel.exe" "$script" >/dev/null 2>&1) &
  local pid=$!
  probe wait "$sheet" 30000 >/dev/null || { fail "no wizard: $(probe list)"; return; }
  sleep 1

  # Page 1: an empty name is refused and the page stays.
  probe state "$sheet" "#12323" | grep -q '^hidden' || fail "Back is shown on page 1"
  picture wizard-page1
  check_texts "$sheet" wizard-page1 1010 1180 1004 1074 1003 1181 1182 1002 1073 1341 1342
  probe type "$sheet" "#1171" "   " >/dev/null
  probe click "$sheet" "$next" >/dev/null
  answer_message "Please enter a name for the EXE."
  probe state "$sheet" "#1171" | grep -q '^shown' || fail "page 1 did not stay after the empty name"
  probe type "$sheet" "#1171" "Walked Demo" >/dev/null
  probe click "$sheet" "$next" >/dev/null
  sleep 1

  # Page 2: a macro added, then removed with a press at the grid's left edge.
  probe state "$sheet" "#4" | grep -q '^shown' || fail "page 2 is not shown"
  probe state "$sheet" "#12323" | grep -q '^shown' || fail "Back is hidden on page 2"
  probe click "$sheet" "#4" >/dev/null
  choose_file Open "$(winpath "$tree/Other.msd")"
  probe text "$sheet" "#1206" | grep -q 'Other.msd' || fail "the added macro is not selected: $(probe text "$sheet" "#1206")"
  probe state "$sheet" "#5" | grep -q '^shown' || fail "Remove is hidden for an added macro"
  picture wizard-page2
  check_texts "$sheet" wizard-page2 1010 1024 4 5 6
  # Rows of 18 pixels below a header as high: the script, the called macro, the added one.
  probe mouse "$sheet" "#1206" 8 27 >/dev/null
  sleep 0.3
  probe state "$sheet" "#5" | grep -q '^hidden' || fail "Remove is shown for the script"
  probe text "$sheet" "#1206" | grep -q 'Main.msd' || fail "the script's row is not selected"
  probe mouse "$sheet" "#1206" 8 63 >/dev/null
  sleep 0.5
  probe key "$sheet" "#1206" END >/dev/null
  sleep 0.3
  probe text "$sheet" "#1206" | grep -q 'Other.msd' && fail "the added macro was not removed"
  probe click "$sheet" "$next" >/dev/null
  sleep 2

  # Page 3: a found file deleted on disk blocks Next until it is excluded; a file of our
  # own added and renamed in the destination file dialog.
  probe state "$sheet" "#4" | grep -q '^shown' || fail "page 3 is not shown"
  rm -f "$tree/data/present.txt"
  probe click "$sheet" "$next" >/dev/null
  answer_message "The file could not be found"
  probe state "$sheet" "#1206" | grep -q '^shown' || fail "page 3 did not stay with a missing file"
  probe key "$sheet" "#1206" HOME >/dev/null
  sleep 0.3
  probe text "$sheet" "#1206" | grep -q 'present.txt' || fail "the deleted file is not the first row: $(probe text "$sheet" "#1206")"
  [ "$(probe text "$sheet" "#5")" = "Exclude" ] || fail "button 5 is not Exclude on a found file: $(probe text "$sheet" "#5")"
  probe click "$sheet" "#5" >/dev/null
  sleep 0.3
  probe key "$sheet" "#1206" HOME >/dev/null
  sleep 0.3
  [ "$(probe text "$sheet" "#5")" = "Include" ] || fail "button 5 is not Include on an excluded file: $(probe text "$sheet" "#5")"
  # A press at the left edge of the second row flips its exclusion, twice.
  probe mouse "$sheet" "#1206" 8 45 >/dev/null
  sleep 0.3
  [ "$(probe text "$sheet" "#5")" = "Include" ] || fail "the edge press did not exclude: $(probe text "$sheet" "#5")"
  probe mouse "$sheet" "#1206" 8 45 >/dev/null
  sleep 0.3
  [ "$(probe text "$sheet" "#5")" = "Exclude" ] || fail "the edge press did not include again"
  probe click "$sheet" "#4" >/dev/null
  choose_file Open "$(winpath "$tree/hand.txt")"
  probe text "$sheet" "#1206" | grep -q 'hand.txt' || fail "the added file is not selected"
  [ "$(probe text "$sheet" "#5")" = "Remove" ] || fail "button 5 is not Remove on an added file"
  picture wizard-page3
  check_texts "$sheet" wizard-page3 1010 1024 4 5 6
  probe mouse "$sheet" "#1206" 100 63 double >/dev/null  # the third row: the added file
  probe wait "Extra File" 10000 >/dev/null || fail "no destination file dialog"
  picture wizard-dialog134
  check_texts "Extra File" wizard-dialog134 1386 1161 1073 1 2
  probe type "Extra File" "#1094" "  extra\\hand.txt  " >/dev/null
  probe click "Extra File" "#1" >/dev/null
  sleep 0.5
  probe text "$sheet" "#1206" | grep -q 'extra\\hand.txt' || fail "the target name was not stored: $(probe text "$sheet" "#1206")"
  probe click "$sheet" "$next" >/dev/null
  sleep 1

  # Page 4: a pause key pressed in its edit, a stop key chosen in the key selection
  # dialog, and a choice cancelled there.
  local keys="Select Hot Key"
  [ -z "$(probe text "$sheet" "#1006")" ] || fail "the pause key of a new project is not empty: $(probe text "$sheet" "#1006")"
  probe press "$sheet" "#1006" ctrl+shift+F5 >/dev/null || fail "the keys were not pressed"
  [ "$(probe text "$sheet" "#1006")" = "Ctrl+Shift+F5" ] || fail "the pause key edit shows \"$(probe text "$sheet" "#1006")\""
  probe press "$sheet" "#1005" A >/dev/null
  [ -z "$(probe text "$sheet" "#1005")" ] || fail "a plain A was kept: $(probe text "$sheet" "#1005")"
  picture wizard-page4
  check_texts "$sheet" wizard-page4 1010 1204 1383 1387 1386 1388 1341 1342 1030
  probe click "$sheet" "#1387" >/dev/null
  probe wait "$keys" 10000 >/dev/null || fail "no key selection dialog"
  probe choose "$keys" "#1330" F9 >/dev/null || fail "no F9 in the key list"
  probe click "$keys" "#1332" >/dev/null
  sleep 0.5
  picture wizard-dialog331
  check_texts "$keys" wizard-dialog331 1160 1176 1332 1175 1178 1 2
  probe click "$keys" "#1" >/dev/null
  sleep 0.5
  [ "$(probe text "$sheet" "#1005")" = "Ctrl+F9" ] || fail "the chosen stop key shows \"$(probe text "$sheet" "#1005")\""
  probe click "$sheet" "#1388" >/dev/null
  probe wait "$keys" 10000 >/dev/null || fail "no key selection dialog the second time"
  probe choose "$keys" "#1330" F2 >/dev/null
  probe click "$keys" "#2" >/dev/null
  sleep 0.5
  [ "$(probe text "$sheet" "#1006")" = "Ctrl+Shift+F5" ] || fail "Cancel changed the pause key: $(probe text "$sheet" "#1006")"
  probe click "$sheet" "$next" >/dev/null
  sleep 1

  # Page 5: own play parameters (a new project's), three plays, a speed of our own and
  # variable values; the default box disables the parameters and gives them back.
  probe state "$sheet" "#1341" | grep -q 'clear' || fail "a new project uses the default play parameters"
  probe click "$sheet" "#1341" >/dev/null
  sleep 0.3
  probe state "$sheet" "#1073" | grep -q 'disabled' || fail "the speed is enabled under the default parameters"
  probe click "$sheet" "#1341" >/dev/null
  sleep 0.3
  probe state "$sheet" "#1073" | grep -q 'enabled' || fail "the speed is still disabled with own parameters"
  probe state "$sheet" "#1069" | grep -q 'enabled' || fail "the dodge list is disabled with the first progress item"
  probe choose "$sheet" "#1067" "Do not show a progress window" >/dev/null || fail "no progress item"
  sleep 0.3
  probe state "$sheet" "#1069" | grep -q 'disabled' || fail "the dodge list is enabled without a progress window"
  probe choose "$sheet" "#1073" "Slow (-30)" >/dev/null || fail "no speed item"
  probe click "$sheet" "#1342" >/dev/null
  probe type "$sheet" "#1094" "name=Walked" >/dev/null
  probe type "$sheet" "#1027" "3" >/dev/null
  picture wizard-page5
  check_texts "$sheet" wizard-page5 1010 1341 1066 1068 1030 1070 1343 1342 1333 1335 1025
  probe click "$sheet" "$next" >/dev/null
  sleep 1

  # Page 6: a relative destination is refused, then the build.
  [ "$(probe text "$sheet" "$next")" = "Build" ] || fail "Next is not Build on the last page: $(probe text "$sheet" "$next")"
  probe type "$sheet" "#1094" "relative" >/dev/null
  probe click "$sheet" "$next" >/dev/null
  answer_message "Please enter the full path of the EXE file"
  [ "$(probe text "$sheet" "#1094")" = "relative.exe" ] || fail "the refused destination lost its .exe: $(probe text "$sheet" "#1094")"
  probe state "$sheet" "#1399" | grep -q 'disabled' || fail "Test is enabled before a build"
  local exe=$tree/out/Walked.exe
  probe type "$sheet" "#1094" "$(winpath "$exe")" >/dev/null
  probe state "$sheet" "#1011" | grep -q 'checked' || probe click "$sheet" "#1011" >/dev/null
  picture wizard-page6
  check_texts "$sheet" wizard-page6 1010 1386 1073 1303 1011 1399 1398
  probe click "$sheet" "$next" >/dev/null
  answer_message "$(winpath "$exe")"
  probe state "$sheet" "#1399" | grep -q 'enabled' || fail "Test is disabled after the build"
  probe click "$sheet" "#2" >/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { fail "the wizard did not end after Close"; kill "$pid" 2>/dev/null || true; }

  [ -f "$exe" ] || { fail "no EXE was built"; return; }
  probe_tool inspect "$(winpath "$exe")" >"$out/wizard-inspect.txt" || fail "inspect refused the EXE: $(cat "$out/wizard-inspect.txt")"
  probe_tool project show "$(winpath "$tree/Main.packproj")" --json >"$out/wizard-project.txt" ||
    fail "no project file: $(cat "$out/wizard-project.txt")"
  grep -q '"exe_name": *"Walked Demo"' "$out/wizard-project.txt" || fail "the project lacks the name"
  grep -qF 'Walked.exe' "$out/wizard-project.txt" || fail "the project lacks the destination"
  grep -qF 'extra\\hand.txt' "$out/wizard-project.txt" || fail "the project lacks the added file"
  grep -A6 'present.txt"' "$out/wizard-project.txt" | grep -q '"excluded": 1' || fail "the project lacks the exclusion"
  # The keys and play parameters, in the project and at their places in the EXE's payload.
  python3 - "$out/wizard-project.txt" "$out/wizard-inspect.txt" <<'PY' || fail "the playback answers were not stored: $(cat "$out/wizard-check.txt")"
import json, sys
project = json.load(open(sys.argv[1]))
settings = project["options"]["settings"] if "options" in project else project["settings"]
problems = []
def want(what, got, expected):
    if got != expected: problems.append(f"{what}: {got!r}, not {expected!r}")
want("pause key", (settings["pause_hot_key"]["key"], settings["pause_hot_key"]["modifiers"]), (0x74, 6))
want("stop key", (settings["stop_hot_key"]["key"], settings["stop_hot_key"]["modifiers"]), (0x78, 2))
options = project["options"] if "options" in project else project
want("play times", options["play_times"], 3)
want("play speed", options["play_speed"], -30)
want("progress off", options["progress_window_off"], True)
want("variables", options["variable_values"], "name=Walked")
want("play flags", options["play_flags"], 3)
open(sys.argv[1].replace("project", "check"), "w").write("\n".join(problems))
sys.exit(1 if problems else 0)
PY

  # Started again, page 1 shows the saved name.
  (cd "$dir" && exec wine "$dir/Brankel.exe" "$script" >/dev/null 2>&1) &
  pid=$!
  probe wait "$sheet" 30000 >/dev/null || { fail "no wizard the second time"; return; }
  sleep 1
  [ "$(probe text "$sheet" "#1171")" = "Walked Demo" ] || fail "page 1 does not show the saved name: $(probe text "$sheet" "#1171")"
  picture wizard-again
  # Help opens the page's topic through the help file, or nothing without one; the
  # wizard carries on either way.
  probe click "$sheet" "#9" >/dev/null || fail "no Help button"
  sleep 2
  probe state "$sheet" "#1171" | grep -q '^shown' || fail "the wizard is gone after Help"
  probe list >"$out/wizard-help.txt"
  # The saved keys come back on page 4.
  local page
  for page in 1 2 3; do
    probe click "$sheet" "$next" >/dev/null
    sleep 2
  done
  [ "$(probe text "$sheet" "#1006")" = "Ctrl+Shift+F5" ] || fail "page 4 does not show the saved pause key: $(probe text "$sheet" "#1006")"
  [ "$(probe text "$sheet" "#1005")" = "Ctrl+F9" ] || fail "page 4 does not show the saved stop key: $(probe text "$sheet" "#1005")"
  picture wizard-again-page4
  probe click "$sheet" "#2" >/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { fail "the wizard did not end the second time"; kill "$pid" 2>/dev/null || true; }
  echo "ok   $case ($out/wizard-*.png)"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
# The console tool of the installation copy.
probe_tool() {
  local rc=0
  (cd "$dir" && timeout 60 wine "$dir/brankelc.exe" "$@") >"$work/tool.out" 2>&1 || rc=$?
  tr -d "\r" <"$work/tool.out"
  return $rc
}

cases=(missing quoted old-library damaged-language sibling-5 valid tinted system-colours wizard crash-report)
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
      # A real script: the wizard opens on its first page.
      printf '{"name": "Valid", "commands": []}' >"$dir/scripts/valid.json"
      probe_tool macro new "$(winpath "$dir/scripts/valid.json")" "$(winpath "$dir/scripts/valid.msd")" ||
        fail "writing valid.msd"
      RUN_TITLE="Make EXE from Macro Script" run_case "EXE Properties" Close "$(winpath "$dir/scripts/valid.msd")" ;;
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
    wizard)
      wizard_case ;;
    crash-report)
      # The crash report program on a small log, started as the crash handler starts it.
      printf '=====================================================\r\nLogged:  12/11/2026 09:30:00\r\nOS(x64):  10.0 (19045)   - (Intel CPU)\r\n=====================================================\r\nException code: C0000005 ACCESS_VIOLATION\r\nFault address:  0000000140001234 01:00000234 \r\n   C:\\Brankel\\Brankel.exe (1234567 Bytes)\r\n\r\nCall stack:\r\nAddress\tOffset\tModule\tBaseAddress\r\n0000000140001234\t0000000000001234\tC:\\Brankel\\Brankel.exe (1234567 bytes)\t0000000140000000\r\n' |
        iconv -f UTF-8 -t UTF-16LE >"$dir/Brankel.Crash.Log"
      (cd "$dir" && exec wine "$dir/Crashvale.exe" "$(winpath "$dir/Brankel.Crash.Log")" 'resfile:Player_%s.lng' >/dev/null 2>&1) &
      probe wait "Crash report" 20000 >/dev/null || fail "no window"
      picture crash-report
      check_texts "Crash report" crash-report
      grep -qF "Exception code: C0000005 ACCESS_VIOLATION" "$out/crash-report.txt" || fail "the log is not shown"
      probe click "Crash report" Close >/dev/null || fail "no button Close"
      sleep 1
      if probe wait "Crash report" 1000 >/dev/null 2>&1; then fail "the window did not close"; else echo "ok   $case"; fi
      wineserver -k 2>/dev/null || true ;;
    *) fail "unknown case" ;;
  esac
done

echo "harness: ${#cases[@]} cases, $failures failures"
[ "$failures" -eq 0 ]
