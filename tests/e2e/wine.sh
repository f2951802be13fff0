#!/usr/bin/env bash
# End-to-end tests of the Windows builds under Wine on a private Xvfb display: the x64 build under wine64,
# the x86 build under the 32-bit loader, each in a temporary prefix of its own (the x86 one a 32-bit Windows,
# WINEARCH=win32), with the same checks. In the x64 prefix, which also runs 32-bit programs as 64-bit
# Windows does, the preview is then hosted across bitness: the x86 preview in a 64-bit host's window and the
# x64 preview in a 32-bit host's. It builds nothing: it uses what scripts/test built (build/windows-x64/bin,
# build/windows-x86/bin and dialsaver-render in build/linux/bin). Every wait polls for its condition with a
# generous bound; a few checks that something does NOT happen necessarily watch for a fixed while. Exits
# non-zero when any check fails (a machine that cannot run 32-bit programs fails the x86 checks, it never
# skips them), and leaves no Xvfb, window manager, wineserver or prefix behind.
#   tests/e2e/wine.sh [--two-monitors] [x64] [x86]    the builds to test (both when none is named);
#                                    --two-monitors runs the two-monitor checks alone
# Like the Linux suites it runs on a bare Xvfb and under openbox and xfwm4 (see lib.sh), each on a display
# and in prefixes of its own. Under a manager keys go to whatever has the focus, as a user's do; on a bare
# server, where nothing gives a new window the focus, a test focuses a window where a user would click it.
#
# Comparison with dialsaver-render: the saver's screenshot is taken inside one second of the wall clock,
# well after that second's tick, and compared with the reference drawn for that second (and, should the
# tick have come late, for the second before). The hour numbers are the only part rendered differently
# (GDI and its fonts on Windows, Pango on Linux), so a box around each number, taken from the reference's
# drawing trace, is painted out in both images; everything else, the second hand included, must match
# exactly: 0 differing pixels. Inside each box the screenshot must hold dark text pixels. This runs at
# 96 dpi and at 144 dpi (Wine's LogPixels), where twips per pixel must follow the display.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/e2e/lib.sh"
once_per_wm wine.sh "$0" "$@"
cd "$root"
render=$root/build/linux/bin/dialsaver-render
screen_w=1280
screen_h=800
declare -A loader_of=([x64]=/usr/lib/wine/wine64 [x86]=/usr/lib/wine/wine)
declare -A winearch_of=([x64]=win64 [x86]=win32)
bin_of() { echo "$root/build/windows-$1/bin"; }
monitors_only=
if [[ ${1:-} == --two-monitors ]]; then
  monitors_only=1
  shift
fi
archs=("$@")
((${#archs[@]})) || archs=(x64 x86)
label=

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
require wine.sh -- Xvfb Xephyr xdotool xprop xwininfo import compare convert identify

work=$(mktemp -d /tmp/dialsaver-e2e-wine.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
wm_pids=()
server_pids=()  # the X servers: the display, and those of the two-monitor layouts
cleanup() {
  local prefix pid
  for prefix in "$work"/prefix-*; do
    [[ -d $prefix ]] && WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
  done
  for pid in "${wm_pids[@]}" "${server_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [[ -n ${KEEP_E2E:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

# X servers of our own: each picks a free display number and tells it.
x_server() {  # x_server NAME COMMAND...: starts the X server and waits for it; sets `display`
  local name=$1
  shift
  "$@" -displayfd 3 -nolisten tcp 3>"$work/$name.display" >"$work/$name.log" 2>&1 &
  server_pids+=("$!")
  wait_for 20 test -s "$work/$name.display" || { echo "wine.sh: $name did not start: $(cat "$work/$name.log")" >&2; return 1; }
  display=:$(head -1 "$work/$name.display")
}
x_server xvfb Xvfb -screen 0 "${screen_w}x${screen_h}x24" || exit 1
export DISPLAY=$display
start_wm "$work/wm.log" || { echo "wine.sh: $wm did not start" >&2; cat "$work/wm.log" >&2; exit 1; }

has_focus() { [[ -n $1 && $(xdotool getwindowfocus 2>/dev/null) == "$1" ]]; }
focus_name() { xdotool getwindowfocus getwindowname 2>/dev/null || echo "no window"; }
gone() { ! running "$1"; }
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
# store NAME VALUE: writes a string setting and waits until it reads back: a Wine tool started while the
# machine is busy now and then fails without a word, and the program would then start without the setting.
store() {
  local name=$1 value=$2
  wait_for 30 eval '"$wine" reg add "$settings_key" /v "$name" /t REG_SZ /d "$value" /f >/dev/null 2>&1 &&
    stored_is "$name" "$value"'
}
# windows_path FILE: the file's Windows path, asked again until Wine gives one.
windows_path() {
  local file=$1 path=""
  wait_for 30 eval 'path=$("$wine" winepath -w "$file" 2>/dev/null | tr -d "\r"); [[ -n $path ]]'
  printf '%s' "$path"
}
stored_count() { "$wine" reg query "$settings_key" 2>/dev/null | tr -d '\r' | grep -c 'REG_SZ'; }

# Starts the program in the background; its process id is in $started.
start() {
  "$wine" "$@" >>"$work/program.log" 2>&1 &
  started=$!
}
stop() { running "$1" && kill "$1" 2>/dev/null; wait_for 10 gone "$1"; }

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
  start_session
}

# The session's shell, which on Windows always runs: without a program on it, Wine closes the desktop a
# second after a program ends, and the next one waits 10 to 30 s for a new desktop (explorer.exe) to start.
# The wait for "ready" covers a desktop that closed before the session joined it.
start_session() {
  "$wine" "$bin/wine_helper.exe" session >"$work/session.log" 2>&1 &
  wait_for 60 grep -q ready "$work/session.log" || fail "the session program did not join the desktop"
}

# ---------------------------------------------------------------- /S: the screen matches the reference
# The reference may be drawn with further options (ref_options, e.g. a picture that does not load), and a
# further rectangle may be left out of the comparison (ref_mask, "rectangle X0,Y0 X1,Y1": a box over it).
# It is drawn for each monitor in ref_monitors ("L T R B", the one whose window shows on top last; the
# whole screen when there are none) and laid out as they are; what lies outside every monitor is left out.
ref_options=()
ref_mask=
ref_monitors=()
compare_with_reference() {  # shot.png HH:MM:SS dpi -> 0 when it matches the reference of that second
  local shot=$1 time=$2 dpi=$3
  local monitors=("${ref_monitors[@]}")
  ((${#monitors[@]})) || monitors=("0 0 $screen_w $screen_h")
  local size layers=() areas= boxes= text_boxes=() i l t r b w h
  size=$(identify -format '%wx%h' "$shot")
  # Boxes around the hour numbers: from the text's top-left, generously wide and tall for the font.
  local geometry='BEGIN { tpp = 1440 / dpi; m = (w < h ? w : h) * tpp; r = m / 2 - 900; px = r / 300 * dpi / 72 }'
  for i in "${!monitors[@]}"; do
    read -r l t r b <<<"${monitors[i]}"
    w=$((r - l))
    h=$((b - t))
    "$render" --size "${w}x${h}" --dpi "$dpi" --time "$time" "${ref_options[@]}" --out "$work/ref$i.png" \
      --trace "$work/ref$i.trace" || return 2
    layers+=("$work/ref$i.png" -geometry "+$l+$t" -composite)
    areas+="rectangle $l,$t $((r - 1)),$((b - 1)) "
    boxes+=$(awk -v w="$w" -v h="$h" -v dpi="$dpi" -v ox="$l" -v oy="$t" "$geometry"'
      $1 == "print" { x = $2 / tpp + ox; y = $3 / tpp + oy
        printf "rectangle %d,%d %d,%d ", x - 6, y - 6, x + 4 * px, y + 1.8 * px }' "$work/ref$i.trace")
    # Only numbers that no later monitor's window and no ref_mask hide are looked at for text.
    local box later hidden ll lt lr lb
    while read -r box; do
      hidden=
      outside "$box" "$ref_mask" || hidden=1
      for later in "${monitors[@]:i+1}"; do
        read -r ll lt lr lb <<<"$later"
        outside "$box" "rectangle $ll,$lt $((lr - 1)),$((lb - 1))" || hidden=1
      done
      [[ -n $hidden ]] || text_boxes+=("$box")
    done < <(awk -v w="$w" -v h="$h" -v dpi="$dpi" -v ox="$l" -v oy="$t" "$geometry"'
      $1 == "print" { x = $2 / tpp + ox; y = $3 / tpp + oy
        printf "%dx%d+%d+%d\n", 4 * px + 6, 1.8 * px + 6, x - 6, y - 6 }' "$work/ref$i.trace")
  done
  convert -size "$size" xc:black "${layers[@]}" "$work/ref.png"
  convert -size "$size" xc:black -fill white -draw "$areas" "$work/areas.png"
  convert "$shot" "$work/areas.png" -compose multiply -composite "$work/shot-areas.png"
  convert "$work/shot-areas.png" -fill black -draw "$boxes$ref_mask" "$work/shot-masked.png"
  convert "$work/ref.png" -fill black -draw "$boxes$ref_mask" "$work/ref-masked.png"
  local differing
  differing=$(compare -metric AE "$work/shot-masked.png" "$work/ref-masked.png" "$work/diff.png" 2>&1)
  echo "$differing" >"$work/differing"
  [[ $differing == 0 ]] || return 1
  # Each number's box holds text the program drew: dark pixels on the white dial.
  local dark
  for box in "${text_boxes[@]}"; do
    dark=$(convert "$shot" -crop "$box" +repage -threshold 40% -negate -format '%[fx:mean*w*h]' info:)
    (( ${dark%.*} >= 20 )) || { echo "no text in $box" >"$work/differing"; return 1; }
  done
  return 0
}

# outside WxH+X+Y "rectangle X0,Y0 X1,Y1": true when the box does not meet the rectangle (or there is none).
outside() {
  [[ $2 =~ rectangle\ ([0-9]+),([0-9]+)\ ([0-9]+),([0-9]+) ]] || return 0
  local x0=${BASH_REMATCH[1]} y0=${BASH_REMATCH[2]} x1=${BASH_REMATCH[3]} y1=${BASH_REMATCH[4]}
  [[ $1 =~ ([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+) ]] || return 0
  local w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
  ((x + w < x0 || x > x1 || y + h < y0 || y > y1))
}

# screen_is_reference DPI: takes screenshots until one, taken inside a single second, matches the reference
# drawn for that second (or the one before); sets `matched` to that time, or leaves it empty after ten tries.
screen_is_reference() {
  local dpi=$1 attempt before after second
  matched=
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
        return 0
      fi
    done
  done
  return 1
}

# The display's resolution (Wine's LogPixels); the next program started in the prefix sees it.
set_dpi() {
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w 2>/dev/null
  start_session
}

saver_screen_test() {  # dpi
  local dpi=$1
  clear_settings
  set_dpi "$dpi"
  start "$bin/dialsaver.scr" /S
  local saver=$started
  if ! wait_for 60 window_shown '^dialsaver$'; then
    fail "/S: the saver window did not appear"
    stop "$saver"
    return
  fi
  sleep 1.5  # a tick or more since the window showed
  if screen_is_reference "$dpi"; then
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
    running "$saver" || break
  done
  if running "$saver" && sleep 1 && running "$saver"; then
    pass "/S: three mouse moves leave the saver running"
  else
    fail "/S: the saver ended within three mouse moves"
  fi
  xdotool mousemove --sync 404 150
  if wait_for 10 gone "$saver"; then pass "/S: the fourth mouse move ends it"; else fail "/S: the fourth mouse move did not end it"; fi
  stop "$saver"
}

# The key goes to whatever has the focus: the saver takes the keyboard as it shows (on a bare server the
# keyboard follows the pointer, which the full-screen saver is under).
saver_key_test() {
  start "$bin/dialsaver.scr" /S
  local saver=$started
  wait_for 60 window_shown '^dialsaver$' || { fail "/S: the saver window did not appear"; stop "$saver"; return; }
  if under_wm; then
    if wait_for 15 has_focus "$(shown_window '^dialsaver$')"; then
      pass "/S: the saver has the keyboard focus as it shows"
    else
      fail "/S: the saver did not take the keyboard focus (it is on \"$(focus_name)\")"
    fi
  fi
  xdotool key a
  if wait_for 10 gone "$saver"; then pass "/S: the first character typed ends it"; else fail "/S: the first character typed did not end it"; fi
  stop "$saver"

  start "$bin/dialsaver.scr" /S
  saver=$started
  wait_for 60 window_shown '^dialsaver$' || { fail "/S: the saver window did not appear"; stop "$saver"; return; }
  xdotool click 1  # a click without a move: activates the window, ends nothing
  xdotool key shift
  if sleep 1 && running "$saver"; then pass "/S: a click and Shift leave it running"; else fail "/S: a click or Shift ended it"; fi
  xdotool key a
  if wait_for 10 gone "$saver"; then pass "/S: a character key ends it"; else fail "/S: a character key did not end it"; fi
  stop "$saver"
}

# A saver ends only on a character key, a real pointer movement or a close request, and is on screen
# within 2 s of its start, whatever the savers before it saw: one ended by a key, one by four moves, then
# a third left alone, twice over.
start_saver_shown() {  # -> $saver, or false when it is not on screen within 2 s (then says when it was)
  local begun=$SECONDS
  start "$bin/dialsaver.scr" /S
  saver=$started
  wait_for 2 window_shown '^dialsaver$' && return 0
  wait_for 60 window_shown '^dialsaver$' && echo "  (on screen after $((SECONDS - begun)) s)"
  return 1
}
# Types a character as a user does once the saver shows: under a manager, once the manager has given it
# the focus (it does so a moment after the window maps).
type_to_saver() {
  under_wm && wait_for 5 has_focus "$(shown_window '^dialsaver$')"
  xdotool key a
}
saver_sequence_test() {
  local round x saver
  for round in 1 2; do
    start_saver_shown || { fail "/S, round $round: the first saver was not on screen within 2 s"; stop "$saver"; return; }
    type_to_saver
    wait_for 10 gone "$saver" || { fail "/S, round $round: a character key did not end the first saver (focus: $(focus_name))"; stop "$saver"; return; }
    start_saver_shown || { fail "/S, round $round: the second saver was not on screen within 2 s"; stop "$saver"; return; }
    for x in 110 220 330 440; do
      xdotool mousemove --sync "$x" 170
      sleep 1
    done
    wait_for 10 gone "$saver" || { fail "/S, round $round: four moves did not end the second saver"; stop "$saver"; return; }
    sleep 1.5  # past the moment Wine would close an unused desktop
    if ! start_saver_shown; then
      fail "/S, round $round: the third saver was not on screen within 2 s"
      stop "$saver"
      return
    fi
    if ! { sleep 3 && running "$saver"; }; then
      fail "/S, round $round: the third saver ended with no input"
      return
    fi
    type_to_saver
    wait_for 10 gone "$saver" || { fail "/S, round $round: a character key did not end the third saver (focus: $(focus_name))"; stop "$saver"; return; }
  done
  pass "/S: twice, savers ended by a key and by four moves, then one left alone: each on screen within 2 s, the last one running on until a key"
}

second_instance_test() {
  start "$bin/dialsaver.scr" /S
  local saver=$started
  wait_for 60 window_shown '^dialsaver$' || { fail "/S: the saver window did not appear"; stop "$saver"; return; }
  start "$bin/dialsaver.scr" /S
  local second=$started
  if wait_for 10 gone "$second"; then pass "/S: a second saver exits at once while one runs"; else fail "/S: a second saver kept running"; fi
  start "$bin/dialsaver.scr" /C
  local dialog=$started
  if wait_for 60 window_shown '^dialsaver-Created by'; then
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
# The box and the saver share the program's name; the box is the one that does not cover the screen.
window_of_size() {  # window_of_size covering|smaller: the id of such a shown window named dialsaver
  local w covers
  for w in $(xdotool search --onlyvisible --name '^dialsaver$' 2>/dev/null); do
    place "$w" || continue
    covers=smaller
    ((X == 0 && Y == 0 && WIDTH == screen_w && HEIGHT == screen_h)) && covers=covering
    [[ $covers == "$1" ]] && { echo "$w"; return 0; }
  done
  return 1
}
message_box() { window_of_size smaller; }
saver_window() { window_of_size covering; }

# box_over_faces X0 Y0 X1 Y1: with the box on that rectangle (its last pixel included), the screen around it
# is the saver's face drawn without its picture (on each monitor in ref_monitors), and most of the
# rectangle is not the face: the box is above the saver's windows.
box_over_faces() {
  local crop="$(($3 - $1 + 1))x$(($4 - $2 + 1))+$1+$2" differing
  ref_mask=" rectangle $1,$2 $3,$4"
  ref_options=(--picture "$work/missing.gif")
  if screen_is_reference 96; then
    pass "/S, missing picture: around the box the screen is the face without its picture for $matched (0 differing pixels)"
  else
    fail "/S, missing picture: around the box the screen is not the saver's face: $(cat "$work/differing") pixels differ"
  fi
  ref_mask=
  ref_options=()
  convert "$work/shot.png" -crop "$crop" +repage "$work/box-shot.png"
  convert "$work/ref.png" -crop "$crop" +repage "$work/box-ref.png"
  differing=$(compare -metric AE "$work/box-shot.png" "$work/box-ref.png" null: 2>&1)
  if [[ $differing =~ ^[0-9]+$ ]] && ((differing * 2 > ($3 - $1 + 1) * ($4 - $2 + 1))); then
    pass "/S, missing picture: the box is above the saver ($differing of its pixels are not the face)"
  else
    fail "/S, missing picture: where the box is the screen shows the face ($differing pixels differ)"
  fi
}

missing_picture_test() {
  clear_settings
  # Gone from a folder that is there: a missing folder may be a drive not mounted yet, which keeps the choice.
  "$wine" reg add "$settings_key" /v PICTURE_PATH /t REG_SZ /d 'C:\windows\missing.gif' /f >/dev/null 2>&1
  start "$bin/dialsaver.scr" /S
  local saver=$started box saver_win
  # The box, titled with the program's name, comes once the saver covers the screen.
  if wait_for 60 window_shown '^dialsaver$' && wait_for 10 says_image_not_found && wait_for 10 message_box >/dev/null; then
    pass "/S, missing picture: the \"Image Not Found\" box appears"
  else
    fail "/S, missing picture: no \"Image Not Found\" box"
    stop "$saver"
    return
  fi
  box=$(message_box)
  saver_win=$(saver_window)
  if [[ -n $saver_win ]]; then
    pass "/S, missing picture: the saver covers the screen while the box is up"
  else
    fail "/S, missing picture: no saver window covers the screen while the box is up"
  fi
  if [[ -n $saver_win && $(xprop -id "$box" WM_TRANSIENT_FOR 2>/dev/null) == *"$(printf '%#x' "$saver_win")" ]]; then
    pass "/S, missing picture: the box is transient for the saver window"
  else
    fail "/S, missing picture: the box is not transient for the saver window: $(xprop -id "$box" WM_TRANSIENT_FOR 2>&1)"
  fi
  # Around the box and its frame the screen is the face drawn without the picture; inside, the box hides it.
  wait_for 10 framed "$box"
  place "$box"
  frame_extents "$box"
  box_over_faces $((X - frame_left)) $((Y - frame_top)) $((X + WIDTH + frame_right - 1)) $((Y + HEIGHT + frame_bottom - 1))

  if under_wm; then
    if wait_for 5 has_focus "$box"; then
      pass "/S, missing picture: the box has the keyboard focus"
    else
      fail "/S, missing picture: the box has no keyboard focus (it is on \"$(focus_name)\")"
    fi
  else
    xdotool windowfocus --sync "$box" 2>/dev/null  # a bare server gives a new window no focus: a user clicks
  fi
  xdotool key Return
  if wait_for 10 eval '! says_image_not_found'; then pass "/S, missing picture: Enter presses OK"; else fail "/S, missing picture: Enter did not close the box"; fi
  local expected
  expected="$("$wine" winepath -w "$bin" 2>/dev/null | tr -d '\r')\\a.gif"
  if wait_for 20 stored_is PICTURE_PATH "$expected"; then
    pass "/S, missing picture: after OK the stored path is $expected"
  else
    fail "/S, missing picture: the stored path is \"$(stored PICTURE_PATH)\", not \"$expected\""
  fi
  if running "$saver" && [[ -n $(saver_window) ]]; then
    pass "/S, missing picture: after OK the saver runs on, covering the screen"
  else
    fail "/S, missing picture: after OK the saver no longer covers the screen"
  fi
  stop "$saver"
}

# ---------------------------------------------------------------- /C
dialog_title='dialsaver-Created by www.quillet.example'
open_dialog() {
  start "$bin/dialsaver.scr" /C
  dialog=$started
  wait_for 60 window_shown "^$dialog_title\$" || { fail "/C: the dialog did not appear"; stop "$dialog"; return 1; }
  dialog_win=$(shown_window "^$dialog_title\$")
  # Under a manager the dialog takes the keyboard as it opens (a busy openbox has been seen to take more
  # than 5 s to hand it over); a bare server gives a new window no focus.
  if under_wm; then
    wait_for 15 has_focus "$dialog_win" && return 0
    fail "/C: the dialog did not take the keyboard focus (it is on \"$(focus_name)\")"
    stop "$dialog"
    return 1
  fi
  xdotool windowfocus --sync "$dialog_win" 2>/dev/null
  return 0
}

# The dialog's frame offers moving and closing only (see moves_and_closes_only).
dialog_frame_test() {
  open_dialog || return
  wait_for 10 framed "$dialog_win"
  if moves_and_closes_only "$dialog_win"; then
    pass "/C: the dialog's frame moves and closes only ($frame_report)"
  else
    fail "/C: the dialog's frame offers more than moving and closing: $frame_report"
  fi
  import -window root "$work/dialog-frame-$wm.png" 2>/dev/null
  xdotool key Escape
  wait_for 20 gone "$dialog" || fail "/C: Escape did not close the dialog"
  stop "$dialog"
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
  if wait_for 20 gone "$dialog"; then pass "/C: Tab x3, Space, Enter closes the dialog"; else fail "/C: the dialog is still open after Enter"; fi
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
  if wait_for 20 gone "$dialog"; then pass "/C: $1 closes the dialog"; else fail "/C: $1 did not close the dialog"; fi
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
  wait_for 5 no_preview_left

  "${helper[@]}" host "$scr" abandon >"$work/abandon.log" 2>&1
  status=$?
  if [[ $status == 0 ]] && wait_for 2 no_preview_left; then
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

# ---------------------------------------------------------------- two monitors
# With RandR off, Wine reports one monitor per Xinerama head. Two layouts: Xvfb's two screens, which it
# puts both at 0,0 (the second over the first's top-left corner), and Xephyr's, side by side (-origin),
# inside a window on an Xvfb of its own. They run in the bare run only: their displays are their own.
# on_display DISPLAY: the Wine programs started from now on show on that display (each prefix's
# programs end first, since a Wine desktop belongs to the display it started on).
on_display() {
  local prefix
  for prefix in "$work"/prefix-*; do
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w 2>/dev/null
  done
  export DISPLAY=$1
}

titled() { "$wine" "$bin/wine_helper.exe" windows "$1" 2>/dev/null | tr -d '\r' | sed 's/ *$//'; }
titled_count() { titled "$1" | grep -c .; }
count_is() { [[ $(titled_count "$1") == "$2" ]]; }
rects_of() { cut -d'|' -f1 | sed 's/ *$//'; }

# two_monitor_tests LAYOUT "L T R B" "L T R B" X,Y X,Y X,Y X,Y: the monitors Wine should report, and four
# pointer positions: three over one monitor's window, the fourth over the other's only.
two_monitor_tests() {
  local layout=$1 expected moves=("${@:4}") reported windows saver
  expected=$(printf '%s\n' "$2" "$3" | sort)
  label="$arch, two monitors $layout: "
  reported=$("$wine" "$bin/wine_helper.exe" monitors 2>/dev/null | tr -d '\r' | sort)
  if [[ $reported == "$expected" ]]; then
    pass "Wine reports the two monitors ($(paste -sd';' <<<"$reported"))"
  else
    fail "Wine reports the monitors \"$(paste -sd';' <<<"$reported")\", not \"$(paste -sd';' <<<"$expected")\""
    return
  fi
  local centre=$(( (${2%% *} + $(cut -d' ' -f3 <<<"$2")) / 2 ))
  xdotool mousemove --sync "$centre" 200  # where the pointer rests when the saver starts

  # A picture smaller than both monitors: decoded as it is on both platforms (a larger one is first
  # resampled to fit the largest monitor, by WIC on Windows and by our own scaler for the reference).
  clear_settings
  store PICTURE_PATH "$small_picture" || fail "/S: the picture's path could not be stored"
  start "$bin/dialsaver.scr" /S
  saver=$started
  wait_for 60 count_is dialsaver 2
  sleep 1.5  # a tick or more since the windows showed, and time for a third window to show, were there one
  windows=$(titled dialsaver)
  if [[ $(rects_of <<<"$windows" | sort) == "$expected" ]]; then
    pass "/S: one saver window on each monitor, covering it exactly"
  else
    fail "/S: the saver's windows are \"$(paste -sd';' <<<"$windows")\""
  fi
  mapfile -t ref_monitors < <(rects_of <<<"$windows" | tac)
  ref_options=(--picture "$work/small.gif")
  if screen_is_reference 96; then
    pass "/S: each monitor shows the reference clock for its size, for $matched (0 differing pixels outside the hour numbers)"
  else
    fail "/S: the screen differs from the monitors' reference clocks: $(cat "$work/differing") pixels"
  fi
  ref_options=()
  xdotool key a
  if wait_for 10 gone "$saver" && count_is dialsaver 0; then
    pass "/S: one character key ends both windows and the program"
  else
    fail "/S: a character key left $(titled_count dialsaver) window(s)"
  fi
  stop "$saver"

  start "$bin/dialsaver.scr" /S
  saver=$started
  wait_for 60 count_is dialsaver 2
  sleep 1
  local move
  for move in "${moves[@]:0:3}"; do
    xdotool mousemove --sync "${move%,*}" "${move#*,}"
    sleep 1
  done
  if running "$saver"; then
    xdotool mousemove --sync "${moves[3]%,*}" "${moves[3]#*,}"
    if wait_for 10 gone "$saver" && count_is dialsaver 0; then
      pass "/S: three moves over one monitor and a fourth over the other end both windows"
    else
      fail "/S: the fourth move in all, over the other monitor, did not end the saver"
    fi
  else
    fail "/S: the saver ended within three mouse moves"
  fi
  stop "$saver"

  # "Image Not Found" comes once, over the saver's windows, which show the face without the picture.
  clear_settings
  "$wine" reg add "$settings_key" /v PICTURE_PATH /t REG_SZ /d 'C:\windows\missing.gif' /f >/dev/null 2>&1
  start "$bin/dialsaver.scr" /S
  saver=$started
  local box
  if wait_for 60 eval '[[ -n $(titled dialsaver | grep -F "|Image Not Found") ]]' && sleep 1.5; then
    local boxes
    boxes=$(titled dialsaver | grep -cF '|Image Not Found')
    if [[ $boxes == 1 ]]; then pass "/S, missing picture: one box, not one per monitor"; else fail "/S, missing picture: $boxes boxes"; fi
    windows=$(titled dialsaver)
    box=$(grep -F '|Image Not Found' <<<"$windows" | head -1 | rects_of)
    mapfile -t ref_monitors < <(grep -vF '|Image Not Found' <<<"$windows" | rects_of | tac)
    local x0 y0 x1 y1
    read -r x0 y0 x1 y1 <<<"$box"
    box_over_faces "$x0" "$y0" $((x1 - 1)) $((y1 - 1))
    # A bare server gives the box no focus: the user clicks it first.
    local w
    for w in $(xdotool search --onlyvisible --name '^dialsaver$' 2>/dev/null); do
      place "$w" && ((X == x0 && Y == y0)) && xdotool windowfocus --sync "$w"
    done
    xdotool key Return
    if wait_for 10 eval '[[ -z $(titled dialsaver | grep -F "|Image Not Found") ]]' && running "$saver" && count_is dialsaver 2; then
      pass "/S, missing picture: Enter presses OK, and the saver runs on on both monitors"
    else
      fail "/S, missing picture: after Enter: $(paste -sd';' <<<"$(titled dialsaver)")"
    fi
  else
    fail "/S, missing picture: no \"Image Not Found\" box"
  fi
  stop "$saver"
  ref_monitors=()

  # The dialog and the preview open one window each.
  clear_settings
  start "$bin/dialsaver.scr" /C
  local dialog=$started
  if wait_for 60 window_shown "^$dialog_title\$" && sleep 1 && count_is "$dialog_title" 1 && count_is dialsaver 0; then
    pass "/C: one dialog window"
  else
    fail "/C: windows: $(titled_count "$dialog_title") dialog(s), $(titled_count dialsaver) saver window(s)"
  fi
  stop "$dialog"
  "$wine" "$bin/wine_helper.exe" host "$bin/dialsaver.scr" destroy 3000 >"$work/host.log" 2>&1 &
  local host=$! shown=0
  wait_for 20 eval '[[ -n $(our_pids "dialsaver.scr /p") ]]'
  for _ in 1 2 3 4 5; do
    shown=$((shown + $(titled_count dialsaver)))
    sleep 0.4
  done
  wait "$host"
  local status=$?
  if [[ $status == 0 && $shown == 0 ]]; then
    pass "/P: one preview window, inside the host's"
  else
    fail "/P: host status $status ($(tr -d '\r' <"$work/host.log")), top-level saver windows seen $shown times"
  fi
  label=
}

two_monitor_suite() {
  local layout small_picture
  convert "$bin/a.gif" -resize 400x400 "$work/small.gif"
  for layout in overlapping side-by-side; do
    case $layout in
      overlapping)
        x_server "$layout" Xvfb -screen 0 800x600x24 -screen 1 640x480x24 +xinerama -extension RANDR
        ;;
      side-by-side)
        x_server host Xvfb -screen 0 1600x800x24 &&
          DISPLAY=$display x_server "$layout" Xephyr -screen 800x600x24 -origin 800,0 -screen 640x480x24 \
            +xinerama -extension RANDR
        ;;
    esac || { fail "two monitors $layout: the X server did not start"; continue; }
    on_display "$display"
    for arch in "${archs[@]}"; do
      [[ -n $arch ]] || continue
      use_build "$arch"
      small_picture=$(windows_path "$work/small.gif")
      case $layout in
        overlapping) two_monitor_tests "$layout" "0 0 800 600" "0 0 640 480" 100,100 200,150 300,200 720,560 ;;
        side-by-side) two_monitor_tests "$layout" "0 0 800 600" "800 0 1440 480" 100,100 200,150 300,200 1000,200 ;;
      esac
    done
  done
}

suite() {
  use_build "$1"
  clear_settings
  resources_test
  saver_screen_test 144
  saver_screen_test 96
  saver_key_test
  saver_sequence_test
  second_instance_test
  missing_picture_test
  dialog_ok_test
  under_wm && dialog_frame_test
  dialog_cancel_test Escape
  dialog_cancel_test close
  preview_tests
}

if [[ -z $monitors_only ]]; then
  for arch in "${archs[@]}"; do
    [[ -n $arch ]] && suite "$arch"
  done
fi
# 64-bit Windows runs 32-bit programs beside 64-bit ones, and a host of either bitness may start a
# preview of the other: the x64 prefix runs both.
if want x64 && want x86 && [[ -z $monitors_only ]]; then
  use_build x64
  label="x64 prefix: "
  host_preview_tests x64 x86
  host_preview_tests x86 x64
fi

[[ $wm == none ]] && two_monitor_suite
label=
finish wine.sh
