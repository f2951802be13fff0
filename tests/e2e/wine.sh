#!/usr/bin/env bash
# End-to-end tests of the Windows builds under Wine on a private Xvfb display: the x64 build under wine64,
# the x86 build under the 32-bit loader, each in a temporary prefix of its own (the x86 one a 32-bit Windows,
# WINEARCH=win32), with the same checks. In the x64 prefix, which also runs 32-bit programs as 64-bit
# Windows does, the preview is then hosted across bitness: the x86 preview in a 64-bit host's window and the
# x64 preview in a 32-bit host's. It builds nothing: it uses what scripts/test built (build/windows-x64/bin,
# build/windows-x86/bin and dialsaver-render in build/linux/bin). Every wait polls for its condition with a
# generous bound; a few checks that something does NOT happen necessarily watch for a fixed while. Exits
# non-zero when any check fails (a machine that cannot run 32-bit programs fails the x86 checks, it never
# skips them), and leaves no Xvfb, wineserver or prefix behind.
#   tests/e2e/wine.sh [x64] [x86]    the builds to test (both when none is named)
#
# Comparison with dialsaver-render: the saver's screenshot is taken inside one second of the wall clock,
# well after that second's tick, and compared with the reference drawn for that second (and, should the
# tick have come late, for the second before). The hour numbers are the only part rendered differently
# (GDI and its fonts on Windows, Pango on Linux), so a box around each number, taken from the reference's
# drawing trace, is painted out in both images; everything else, the second hand included, must match
# exactly: 0 differing pixels. Inside each box the screenshot must hold dark text pixels. This runs at
# 96 dpi and at 144 dpi (Wine's LogPixels), where twips per pixel must follow the display.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
render=$root/build/linux/bin/dialsaver-render
screen_w=1280
screen_h=800
declare -A loader_of=([x64]=/usr/lib/wine/wine64 [x86]=/usr/lib/wine/wine)
declare -A winearch_of=([x64]=win64 [x86]=win32)
bin_of() { echo "$root/build/windows-$1/bin"; }
archs=("$@")
((${#archs[@]})) || archs=(x64 x86)

failures=0
label=
pass() { printf 'ok   %s%s\n' "$label" "$*"; }
fail() { printf 'FAIL %s%s\n' "$label" "$*"; failures=$((failures + 1)); }

want() { [[ " ${archs[*]} " == *" $1 "* ]]; }
if want x86 && ! x86_problem=$(scripts/wine32-check); then
  fail "x86: $x86_problem"
  archs=("${archs[@]/x86/}")
fi
for arch in "${archs[@]}"; do
  [[ -z $arch ]] && continue
  [[ -n ${loader_of[$arch]:-} ]] || { echo "wine.sh: unknown build \"$arch\" (x64 or x86)" >&2; exit 2; }
  bin=$(bin_of "$arch")
  for f in "$bin/dialsaver.scr" "$bin/dialsaver.exe" "$bin/a.gif" "$bin/wine_helper.exe" "$render" "${loader_of[$arch]}"; do
    if [[ ! -e $f ]]; then
      echo "wine.sh: $f is missing; build the windows-$arch and linux presets first (scripts/test does)" >&2
      exit 1
    fi
  done
done

work=$(mktemp -d /tmp/dialsaver-e2e-wine.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
xvfb_pid=
cleanup() {
  local prefix
  for prefix in "$work"/prefix-*; do
    [[ -d $prefix ]] && WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
  done
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and tells it.
Xvfb -displayfd 3 -screen 0 "${screen_w}x${screen_h}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "wine.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -1 "$work/display")

# poll SECONDS COMMAND...: true as soon as COMMAND succeeds, false when SECONDS pass first.
poll() {
  local end=$((SECONDS + $1))
  shift
  while ((SECONDS < end)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}
alive() { kill -0 "$1" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }
window_named() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
# The Linux process ids of this prefix's programs whose command line matches a pattern.
our_pids() {
  local pid
  for pid in $(pgrep -f "$1"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
no_preview_left() { [[ -z $(our_pids 'dialsaver.scr /p') ]]; }

settings_key='HKCU\Software\VB and VBA Program Settings\Quillet\Settings'
clear_settings() { "$wine" reg delete "$settings_key" /f >/dev/null 2>&1; }
stored() { "$wine" reg query "$settings_key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^    $1    REG_SZ    //p"; }
stored_is() { [[ $(stored "$1") == "$2" ]]; }
stored_count() { "$wine" reg query "$settings_key" 2>/dev/null | tr -d '\r' | grep -c 'REG_SZ'; }

# Starts the program in the background; its process id is in $started.
start() {
  "$wine" "$@" >>"$work/program.log" 2>&1 &
  started=$!
}
stop() { alive "$1" && kill "$1" 2>/dev/null; poll 10 gone "$1"; }

# use_build x64|x86: the build, its loader and its prefix for what follows; the prefix is made on first use.
use_build() {
  arch=$1
  label="$arch: "
  bin=$(bin_of "$arch")
  wine=${loader_of[$arch]}
  export WINEPREFIX=$work/prefix-$arch WINEARCH=${winearch_of[$arch]}
  if [[ ! -d $WINEPREFIX ]]; then
    echo "wine.sh: preparing the $arch Wine prefix"
    "$wine" wineboot -i >/dev/null 2>&1
  fi
}

# ---------------------------------------------------------------- /S: the screen matches the reference
compare_with_reference() {  # shot.png HH:MM:SS dpi -> 0 when it matches the reference of that second
  local shot=$1 time=$2 dpi=$3 ref=$work/ref.png trace=$work/ref.trace
  "$render" --size "${screen_w}x${screen_h}" --dpi "$dpi" --time "$time" --out "$ref" --trace "$trace" || return 2
  # Boxes around the hour numbers: from the text's top-left, generously wide and tall for the font.
  local boxes
  local geometry='BEGIN { tpp = 1440 / dpi; m = (w < h ? w : h) * tpp; r = m / 2 - 900; px = r / 300 * dpi / 72 }'
  boxes=$(awk -v w="$screen_w" -v h="$screen_h" -v dpi="$dpi" "$geometry"'
    $1 == "print" { x = $2 / tpp; y = $3 / tpp
      printf "rectangle %d,%d %d,%d ", x - 6, y - 6, x + 4 * px, y + 1.8 * px }' "$trace")
  convert "$shot" -fill black -draw "$boxes" "$work/shot-masked.png"
  convert "$ref" -fill black -draw "$boxes" "$work/ref-masked.png"
  local differing
  differing=$(compare -metric AE "$work/shot-masked.png" "$work/ref-masked.png" "$work/diff.png" 2>&1)
  echo "$differing" >"$work/differing"
  [[ $differing == 0 ]] || return 1
  # Each number's box holds text the program drew: dark pixels on the white dial.
  local box dark
  while read -r box; do
    dark=$(convert "$shot" -crop "$box" +repage -threshold 40% -negate -format '%[fx:mean*w*h]' info:)
    (( ${dark%.*} >= 20 )) || { echo "no text in $box" >"$work/differing"; return 1; }
  done < <(awk -v w="$screen_w" -v h="$screen_h" -v dpi="$dpi" "$geometry"'
    $1 == "print" { x = $2 / tpp; y = $3 / tpp
      printf "%dx%d+%d+%d\n", 4 * px + 6, 1.8 * px + 6, x - 6, y - 6 }' "$trace")
  return 0
}

# The display's resolution (Wine's LogPixels); the next program started in the prefix sees it.
set_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w 2>/dev/null
}

saver_screen_test() {  # dpi
  local dpi=$1
  clear_settings
  set_dpi "$dpi"
  start "$bin/dialsaver.scr" /S
  local saver=$started
  if ! poll 60 window_named '^dialsaver$'; then
    fail "/S: the saver window did not appear"
    stop "$saver"
    return
  fi
  local attempt before after second matched=
  sleep 1.5  # a tick or more since the window showed
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    # Capture from 0.3 s into a second, long after that second's tick has drawn; a capture that ends in
    # the next second is taken again.
    sleep "$(date +%s.%N | awk '{ f = $1 - int($1); d = (f >= 0.3 && f <= 0.5) ? 0 : 1.3 - f; if (d >= 1) d -= 1; printf "%.3f", d }')"
    before=$(date +%s.%N)
    import -window root "$work/shot.png"
    after=$(date +%s.%N)
    [[ ${before%.*} == "${after%.*}" ]] || continue
    for second in "${before%.*}" "$((${before%.*} - 1))"; do
      if compare_with_reference "$work/shot.png" "$(date -d "@$second" +%H:%M:%S)" "$dpi"; then
        matched=$(date -d "@$second" +%H:%M:%S)
        break 2
      fi
    done
  done
  if [[ -n $matched ]]; then
    pass "/S at $dpi dpi: the screen is the reference image for $matched outside the hour numbers (0 differing pixels)"
  else
    fail "/S at $dpi dpi: the screen differs from the reference: $(cat "$work/differing") pixels"
  fi
  if ((dpi != 96)); then
    stop "$saver"
    set_dpi 96
    return
  fi

  # Three moves keep it, the fourth ends it. The moves are a second apart, so that Wine never merges two
  # into one.
  local x
  for x in 101 202 303; do
    xdotool mousemove --sync "$x" 150
    sleep 1
    alive "$saver" || break
  done
  if alive "$saver" && sleep 1 && alive "$saver"; then
    pass "/S: three mouse moves leave the saver running"
  else
    fail "/S: the saver ended within three mouse moves"
  fi
  xdotool mousemove --sync 404 150
  if poll 10 gone "$saver"; then pass "/S: the fourth mouse move ends it"; else fail "/S: the fourth mouse move did not end it"; fi
  stop "$saver"
}

saver_key_test() {
  start "$bin/dialsaver.scr" /S
  local saver=$started
  poll 60 window_named '^dialsaver$' || { fail "/S: the saver window did not appear"; stop "$saver"; return; }
  xdotool click 1  # a click without a move: activates the window, ends nothing
  xdotool key shift
  if sleep 1 && alive "$saver"; then pass "/S: a click and Shift leave it running"; else fail "/S: a click or Shift ended it"; fi
  xdotool key a
  if poll 10 gone "$saver"; then pass "/S: a character key ends it"; else fail "/S: a character key did not end it"; fi
  stop "$saver"
}

second_instance_test() {
  start "$bin/dialsaver.scr" /S
  local saver=$started
  poll 60 window_named '^dialsaver$' || { fail "/S: the saver window did not appear"; stop "$saver"; return; }
  start "$bin/dialsaver.scr" /S
  local second=$started
  if poll 10 gone "$second"; then pass "/S: a second saver exits at once while one runs"; else fail "/S: a second saver kept running"; fi
  start "$bin/dialsaver.scr" /C
  local dialog=$started
  if poll 60 window_named '^dialsaver-Created by'; then
    pass "/C: the dialog opens while a saver runs"
  else
    fail "/C: the dialog did not open while a saver runs"
  fi
  stop "$dialog"
  local output
  output=$("$wine" "$bin/wine_helper.exe" host "$bin/dialsaver.scr" destroy 2>&1)
  if [[ $? == 0 ]]; then pass "/P: a preview runs while a saver runs"; else fail "/P: no preview while a saver runs: $output"; fi
  stop "$saver"
  stop "$second"
}

says_image_not_found() { "$wine" "$bin/wine_helper.exe" children dialsaver 2>/dev/null | grep -q '^Static|Image Not Found|'; }
# Presses a key in the box (focusing it first) and is true once the box has gone.
press_in_box() {
  xdotool search --onlyvisible --name '^dialsaver$' windowfocus --sync key "$1" 2>/dev/null
  sleep 0.5
  ! says_image_not_found
}

missing_picture_test() {
  clear_settings
  # A file missing from a folder that is there: a missing folder may be a drive not mounted yet, which
  # keeps the stored path.
  "$wine" reg add "$settings_key" /v PICTURE_PATH /t REG_SZ /d 'C:\windows\no such picture.gif' /f >/dev/null 2>&1
  start "$bin/dialsaver.scr" /S
  local saver=$started
  # The message comes before the saver shows, in a box titled with the program's name; Enter is its OK.
  if poll 60 window_named '^dialsaver$' && poll 10 says_image_not_found; then
    pass "/S, missing picture: the \"Image Not Found\" box appears"
    poll 20 press_in_box Return
  else
    fail "/S, missing picture: no \"Image Not Found\" box"
  fi
  local expected
  expected="$("$wine" winepath -w "$bin" 2>/dev/null | tr -d '\r')\\a.gif"
  if poll 20 stored_is PICTURE_PATH "$expected"; then
    pass "/S, missing picture: after OK the stored path is $expected"
  else
    fail "/S, missing picture: the stored path is \"$(stored PICTURE_PATH)\", not \"$expected\""
  fi
  stop "$saver"
}

# ---------------------------------------------------------------- /C
dialog_title='dialsaver-Created by www.quillet.example'
open_dialog() {
  start "$bin/dialsaver.scr" /C
  dialog=$started
  poll 60 window_named "^$dialog_title\$" || { fail "/C: the dialog did not appear"; stop "$dialog"; return 1; }
  sleep 0.5
  xdotool search --onlyvisible --name "^$dialog_title\$" windowfocus --sync 2>/dev/null
  return 0
}

dialog_ok_test() {
  clear_settings
  "$wine" reg add "$settings_key" /v BACK_COLOR /t REG_SZ /d 255 /f >/dev/null 2>&1
  "$wine" reg add "$settings_key" /v COLOR1 /t REG_SZ /d 65280 /f >/dev/null 2>&1
  "$wine" reg add "$settings_key" /v COLOR2 /t REG_SZ /d 16711680 /f >/dev/null 2>&1
  open_dialog || return
  local children
  children=$("$wine" "$bin/wine_helper.exe" children "$dialog_title" 2>&1 | tr -d '\r')
  if grep -q '^Button|Change Picture|visible' <<<"$children" && grep -q '^Button|OK|visible' <<<"$children" &&
     grep -q '^Button|Cancel|visible' <<<"$children" && grep -q '^Button|Stretch Picture|visible' <<<"$children"; then
    pass "/C: the buttons and the check box are there"
  else
    fail "/C: controls missing: $children"
  fi
  # The three swatches show the stored colours (red, green, blue squares of 15 x 15 pixels inside).
  import -window "$(xdotool search --onlyvisible --name "^$dialog_title\$" | head -1)" "$work/dialog.png"
  local colour count all=1
  for colour in '#FF0000' '#00FF00' '#0000FF'; do
    count=$(convert "$work/dialog.png" -fill black +opaque "$colour" -fill white -opaque "$colour" -format '%[fx:mean*w*h]' info:)
    (( ${count%.*} >= 200 )) || all=
  done
  if [[ -n $all ]]; then pass "/C: the swatches show the stored colours"; else fail "/C: the swatches do not show the stored colours"; fi
  # Tab: Change Picture -> Cancel -> OK -> the check box; Space unchecks it; Enter there presses OK.
  xdotool key Tab Tab Tab space Return
  if poll 20 gone "$dialog"; then pass "/C: Tab x3, Space, Enter closes the dialog"; else fail "/C: the dialog is still open after Enter"; fi
  local count_now
  count_now=$(stored_count)
  if [[ $count_now == 5 && $(stored STRETCH_PIc) == False && $(stored COLOR1) == 65280 && $(stored BACK_COLOR) == 255 ]]; then
    pass "/C: OK wrote the five keys (STRETCH_PIc=False after the check box was cleared)"
  else
    fail "/C: after OK the store holds $count_now keys: $("$wine" reg query "$settings_key" 2>&1 | tr -d '\r')"
  fi
  stop "$dialog"
}

dialog_cancel_test() {  # how: Escape or close
  clear_settings
  open_dialog || return
  if [[ $1 == Escape ]]; then
    xdotool key Escape
  else
    "$wine" "$bin/wine_helper.exe" close "$dialog_title" >/dev/null 2>&1
  fi
  if poll 20 gone "$dialog"; then pass "/C: $1 closes the dialog"; else fail "/C: $1 did not close the dialog"; fi
  local count_now
  count_now=$(stored_count)
  if [[ $count_now == 0 ]]; then pass "/C: $1 wrote nothing"; else fail "/C: $1 wrote $count_now keys"; fi
  stop "$dialog"
}

# ---------------------------------------------------------------- /P
# host_preview_tests HOST PREVIEW: the HOST build's wine_helper hosts the PREVIEW build's preview, once
# destroying its window and once ending without doing so. Both run in the current prefix.
host_preview_tests() {
  local host=$1 preview=$2 output status what
  local helper=("${loader_of[$host]}" "$(bin_of "$host")/wine_helper.exe") scr
  scr=$(bin_of "$preview")/dialsaver.scr
  what="/P, $preview preview in a $host host"
  output=$("${helper[@]}" host "$scr" destroy 2>&1 | tr -d '\r')
  status=$?
  if [[ $status == 0 && $output == *"ended"* ]]; then
    pass "$what: its child window fills the host; ${output##*: }"
  else
    fail "$what, host destroys its window: $output"
  fi
  poll 5 no_preview_left

  "${helper[@]}" host "$scr" abandon >"$work/abandon.log" 2>&1
  status=$?
  if [[ $status == 0 ]] && poll 2 no_preview_left; then
    pass "$what: the preview ends within 2 s of its host ending without destroying its window"
  else
    fail "$what, host ends: status $status, $(tr -d '\r' <"$work/abandon.log"); previews left: $(our_pids 'dialsaver.scr /p')"
    for pid in $(our_pids 'dialsaver.scr /p'); do kill "$pid"; done
  fi
}

preview_tests() {
  clear_settings
  local output
  host_preview_tests "$arch" "$arch"

  # The preview's drawing, captured in-process (see wine_helper.cpp), against the reference. The picture's
  # square is compared with a tolerance: the reference decodes the picture to fit its 152 x 112 "screen",
  # the real preview to fit the real screen, so the picture reaches the square by two resampling paths.
  output=$("$wine" "$bin/wine_helper.exe" draws 'Z:'"${work//\//\\}"'\preview.bmp' 2>&1 | tr -d '\r')
  local time=${output##*time }
  if [[ $output != *"time "* ]]; then
    fail "/P: the in-process preview did not draw: $output"
    return
  fi
  "$render" --preview --size 152x112 --time "$time" --out "$work/pref.png" --trace "$work/pref.trace"
  convert "$work/preview.bmp" "$work/preview.png"
  # The preview's surface spans its designed 155 x 113 units over its own 160 x 113 pixels.
  local boxes square crop
  local units='BEGIN { fx = 160 / 155 }'
  boxes=$(awk "$units"' $1 == "print" { printf "rectangle %d,%d %d,%d ", ($2 - 2) * fx, $3 - 2, ($2 + 8) * fx, $3 + 6 }' "$work/pref.trace")
  square=$(awk "$units"' $1 == "picture" { printf "rectangle %d,%d %d,%d", $2 * fx - 1, $3 - 1, ($2 + $4) * fx + 1, $3 + $5 + 1; exit }' "$work/pref.trace")
  crop=$(awk "$units"' $1 == "picture" { printf "%dx%d+%d+%d", $4 * fx - 2, $5 - 2, $2 * fx + 1, $3 + 1; exit }' "$work/pref.trace")
  convert "$work/preview.png" -fill black -draw "$boxes $square" "$work/p1.png"
  convert "$work/pref.png" -fill black -draw "$boxes $square" "$work/p2.png"
  local outside inside
  outside=$(compare -metric AE "$work/p1.png" "$work/p2.png" null: 2>&1)
  convert "$work/preview.png" -crop "$crop" +repage "$work/c1.png"
  convert "$work/pref.png" -crop "$crop" +repage "$work/c2.png"
  inside=$(compare -metric RMSE "$work/c1.png" "$work/c2.png" null: 2>&1 | sed 's/.*(\(.*\))/\1/')
  if [[ $outside == 0 ]] && awk -v e="$inside" 'BEGIN { exit !(e < 0.02) }'; then
    pass "/P: the preview draws the reference clock for $time (0 differing pixels outside the picture, RMSE $inside inside it)"
  else
    fail "/P: the preview differs from the reference for $time: $outside pixels outside the picture, RMSE $inside inside"
  fi
}

# ---------------------------------------------------------------- resources
# The version record, the name and the icon, as the system reads them from each program file: the same on
# both builds, however the compiler packs the resource structures.
resources_test() {
  local kind expected actual
  for kind in scr exe; do
    expected="signature feef04bd
file-version 1.0.0.0
os 00000004
type 1
CompanyName www.quillet.example
ProductName Vorbin Screen Saver Clock
FileVersion 1.00
ProductVersion 1.00
InternalName dialsaver
OriginalFilename dialsaver.$kind
translation 0409 1200
name dialsaver
icon 16 16x16
icon 32 32x32
icon 48 48x48
icon 256 256x256"
    actual=$("$wine" "$bin/wine_helper.exe" resources "$("$wine" winepath -w "$bin/dialsaver.$kind" 2>/dev/null | tr -d '\r')" 2>&1 | tr -d '\r')
    if [[ $actual == "$expected" ]]; then
      pass "dialsaver.$kind: the version record, name and icon read back as built"
    else
      fail "dialsaver.$kind: the resources read back differ: $(diff <(echo "$expected") <(echo "$actual") | tr '\n' ' ')"
    fi
  done
}

suite() {
  use_build "$1"
  clear_settings
  resources_test
  saver_screen_test 144
  saver_screen_test 96
  saver_key_test
  second_instance_test
  missing_picture_test
  dialog_ok_test
  dialog_cancel_test Escape
  dialog_cancel_test close
  preview_tests
}

for arch in "${archs[@]}"; do
  [[ -n $arch ]] && suite "$arch"
done
# 64-bit Windows runs 32-bit programs beside 64-bit ones, and a host of either bitness may start a
# preview of the other: the x64 prefix runs both.
if want x64 && want x86; then
  use_build x64
  label="x64 prefix: "
  host_preview_tests x64 x86
  host_preview_tests x86 x64
fi

if ((failures > 0)); then
  echo "wine.sh: $failures check(s) failed"
  exit 1
fi
echo "wine.sh: every check passed"
