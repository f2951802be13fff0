#!/usr/bin/env bash
# End-to-end tests of the Linux program on an Xvfb display: the saver against dialsaver-render's image of
# the same screen, its key and mouse rules, the missing-picture message, the settings dialog, the preview
# inside an X window of a test host, the single-instance guard, SIGTERM, and a real XScreenSaver daemon
# running the program as its hack.
#
# Uses what scripts/test built in build/linux (or the build folder in DIALSAVER_E2E_BUILD, such as
# build/linux-asan) and builds nothing. Every wait polls for its condition with a
# generous bound. Xvfb and every program started here are ended on the way out. Exits non-zero on any
# failure; the last line is "N passed, N failed, N skipped".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/e2e/lib.sh"
once_per_wm xvfb.sh "$0" "$@"
build=${DIALSAVER_E2E_BUILD:-$root/build/linux}
bin=$build/bin
probe=$build/tests/e2e/x11_probe
program=$bin/dialsaver
render=$bin/dialsaver-render
width=1024
height=768

pids=()
work=$(mktemp -d /tmp/dialsaver-e2e.XXXXXX)
chmod 755 "$work"

cleanup() {
  {
    if [[ -n ${xss_user:-} ]]; then
      runuser -u "$xss_user" -- env DISPLAY="$DISPLAY" HOME="$xss_home" xscreensaver-command -exit
    fi
    end_started
  } >/dev/null 2>&1
  [[ -n ${KEEP_E2E:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

require xvfb.sh "$program" "$probe" -- Xvfb xdotool import compare convert

# ---- Helpers ----

# The exit status of a program started with launch, once it has ended (within SECONDS), or 124.
ended_within() {
  local seconds=$1 pid=$2
  wait_for "$seconds" eval '! running '"$pid" || return 124
  wait "$pid"
}

stays_running() {  # stays_running SECONDS PID
  local until=$(($(now_ms) + $(to_ms "$1")))
  while (($(now_ms) < until)); do
    running "$2" || return 1
    sleep 0.1
  done
}

# launch NAME ARGS...: starts the program with a private config and runtime folder per NAME; sets $pid.
launch() {
  local name=$1
  shift
  mkdir -p "$work/$name/config" "$work/$name/run"
  chmod 700 "$work/$name/run"
  XDG_CONFIG_HOME=$work/$name/config XDG_RUNTIME_DIR=${runtime_dir:-$work/$name/run} GSETTINGS_BACKEND=memory \
    NO_AT_BRIDGE=1 G_DEBUG=fatal-criticals "$program" "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  pids+=("$pid")
}

ini() { cat "$work/$1/config/Quillet/Settings.ini" 2>/dev/null; }

pixel() { "$probe" pixel "$1" "$2"; }
pixel_is() { [[ $(pixel "$1" "$2") == "$3" ]]; }

stop() { { kill -KILL "$1"; wait "$1"; } 2>/dev/null; }

# ---- The display ----
# -noreset: a server that resets when its last client leaves refuses the next one for a moment.

mkfifo "$work/displayfd"
exec {fd}<>"$work/displayfd"
Xvfb -displayfd "$fd" -screen 0 "${width}x${height}x24" -nolisten tcp -ac -noreset >"$work/xvfb.log" 2>&1 &
xvfb=$!
pids+=("$xvfb")
display_number=""
read -r -t 20 -u "$fd" display_number || { echo "xvfb.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$display_number
unset XSCREENSAVER_WINDOW
start_wm "$work/wm.log" || { echo "xvfb.sh: $wm did not start" >&2; cat "$work/wm.log" >&2; exit 1; }
pids+=("${wm_pids[@]}")

# ---- Screens against dialsaver-render ----
# What the program shows must equal the renderer's image of the same window at the second the screenshot
# shows, pixel for pixel: the tolerance is 0 differing pixels, text and all (both draw through the same
# engine and the same Pango). The capture starts just after a second begins; if the second changed before
# it ended, it is taken again. The tick that draws a second may come just after the capture starts, so the
# screen may also show the second before: either must match.
#
# matches_render NAME CONFIG_HOME GEOMETRY RENDER_OPTIONS...: GEOMETRY is WxH+X+Y on the root window. With
# crop=1 the renderer draws the whole screen and only GEOMETRY of it is compared.
matches_render() {
  local name=$1 config=$2 geometry=$3
  shift 3
  local shot=$work/$name-screen.ppm try before after ae t
  # The first tick may not have come yet: the screen is taken again until it matches, for 10 tries.
  for try in 1 2 3 4 5 6 7 8 9 10; do
    wait_for 3 eval '(( 10#$(date +%N) / 1000000 >= 30 && 10#$(date +%N) / 1000000 < 200 ))'
    before=$(date +%s)
    "$probe" capture "$geometry" "$shot"
    after=$(date +%s)
    if [[ $before != "$after" ]]; then
      echo "  $name: the capture took longer than the rest of its second"
      continue
    fi
    for t in "$before" $((before - 1)); do
      XDG_CONFIG_HOME=$config "$render" "$@" --time "$(date -d "@$t" +%H:%M:%S)" --out "$work/$name-$t.png" \
        >"$work/render.log" 2>&1 || { echo "  dialsaver-render failed:"; cat "$work/render.log"; return 1; }
      [[ -z ${crop:-} ]] || convert "$work/$name-$t.png" -crop "$geometry" +repage "$work/$name-$t.png"
      ae=$(compare -metric AE "$shot" "$work/$name-$t.png" "$work/$name-diff-$t.png" 2>&1 >/dev/null)
      echo "  $name at $(date -d "@$t" +%H:%M:%S): $ae pixels differ"
      [[ $ae == 0 ]] && return 0
    done
  done
  return 1
}

have_render() {
  [[ -x $render ]] && return 0
  echo "  $render is missing"
  return 1
}

launch saver /S
if wait_for 20 window_shown '^dialsaver$'; then
  pass "/S shows the saver window named after the program"
  geometry=$(xdotool getwindowgeometry "$(shown_window '^dialsaver$')" | tr '\n' ' ')
  check "/S covers the screen ($geometry)" grep -q "Geometry: ${width}x${height}" <<<"$geometry"
  # The saver window is no GtkWindow, yet carries what GTK gives a window: window managers match rules
  # against its class, and it asks to stay where the program put it.
  properties=$(xprop -id "$(shown_window '^dialsaver$')" WM_CLASS WM_NORMAL_HINTS 2>&1)
  check "/S has the class and size hints of the program's GTK windows" eval \
    'grep -q "WM_CLASS(STRING) = \"dialsaver\", \"Dialsaver\"" <<<"$properties" &&
     grep -q "program specified location: 0, 0" <<<"$properties"'
  check "/S shows what dialsaver-render draws for the same second" eval \
    'have_render && matches_render saver "$work/saver/config" "${width}x${height}+0+0" --size "${width}x${height}"'
else
  fail "/S shows the saver window named after the program"
fi
stop "$pid"

# ---- Keys and the mouse ----

launch keys /S
if wait_for 20 window_shown '^dialsaver$'; then
  xdotool key shift Left F1 ctrl Delete
  xdotool click 1
  check "keys that type nothing, and a click, leave the saver running" stays_running 2 "$pid"
  xdotool key a
  ended_within 5 "$pid"
  check "a character key ends the saver" test $? -eq 0
else
  fail "the saver for the key test did not show"
fi
stop "$pid"

xdotool mousemove 3 3
launch mouse /S
if wait_for 20 window_shown '^dialsaver$'; then
  for at in "100 100" "200 150" "300 200"; do
    xdotool mousemove $at
    sleep 0.1
  done
  check "three mouse moves leave the saver running" stays_running 2 "$pid"
  xdotool mousemove 400 250
  ended_within 5 "$pid"
  check "the fourth mouse move ends the saver" test $? -eq 0
else
  fail "the saver for the mouse test did not show"
fi
stop "$pid"

# ---- A picture that is not there ----

mkdir -p "$work/missing/config/Quillet"
printf '[Settings]\nPICTURE_PATH=%s\n' "$work/no-such-picture.jpg" >"$work/missing/config/Quillet/Settings.ini"
launch missing /S
# The box and the saver share the program's name; the box is the one that does not cover the screen.
message_box() {
  local w
  for w in $(xdotool search --onlyvisible --name '^dialsaver$' 2>/dev/null); do
    [[ $(xdotool getwindowgeometry "$w" 2>/dev/null) == *"Geometry: ${width}x${height}"* ]] || { echo "$w"; return; }
  done
  return 1
}
saver_covers() {
  [[ $(xdotool getwindowgeometry "$(shown_window '^dialsaver$')" 2>/dev/null) == *"Geometry: ${width}x${height}"* ]] ||
    xdotool search --onlyvisible --name '^dialsaver$' 2>/dev/null | while read -r w; do
      xdotool getwindowgeometry "$w"
    done | grep -q "Geometry: ${width}x${height}"
}
if wait_for 20 message_box; then
  box=$(message_box)
  wait_for 10 framed "$box"
  place "$box"
  frame_extents "$box"
  check "with a missing picture the saver covers the screen while the box is up" saver_covers
  # Outside the box and its frame the screen is the face with no picture.
  top=$((Y - frame_top))
  bottom=$((Y + HEIGHT + frame_bottom))
  check "around the box the screen is the face without its picture (above it)" eval \
    'have_render && crop=1 matches_render missing-above "$work/missing/config" "${width}x${top}+0+0" --size "${width}x${height}" --picture "$work/no-such-picture.jpg"'
  check "around the box the screen is the face without its picture (below it)" eval \
    'have_render && crop=1 matches_render missing-below "$work/missing/config" "${width}x$((height - bottom))+0+${bottom}" --size "${width}x${height}" --picture "$work/no-such-picture.jpg"'
  import -window root "$work/missing-box.png" 2>/dev/null
  if under_wm; then
    check "the box has the keyboard focus" wait_for 5 eval '[[ $(xdotool getwindowfocus 2>/dev/null) == "$box" ]]'
  else
    xdotool windowfocus --sync "$box"  # a bare server gives a new window no focus
  fi
  xdotool key Return
  check "Enter presses OK and the box goes" wait_for 10 eval '! message_box'
  check "after OK the store holds the default picture's path" \
    wait_for 10 eval 'ini missing | grep -qx "PICTURE_PATH=$bin/a.gif"'
  check "after OK the saver runs on, covering the screen" eval 'running "$pid" && saver_covers'
else
  fail "a missing picture shows a message box over the saver"
fi
stop "$pid"

# ---- The settings dialog ----
# Positions inside the dialog at 96 dpi: the frame lies 5 pixels in; a swatch's 17-pixel square starts at
# the frame's (152, 16), (152, 48) and (152, 80); the thumbnail fills (8, 16)-(129, 129).
dialog_name='^dialsaver-Created by '

open_dialog() {  # open_dialog NAME: starts /C and sets $dialog, $dx, $dy (the dialog's position)
  launch "$1" /C
  wait_for 20 window_shown "$dialog_name" || return 1
  dialog=$(shown_window "$dialog_name")
  wait_for 10 framed "$dialog"
  place "$dialog" || return 1
  dx=$X
  dy=$Y
  # Under a manager the dialog takes the keyboard as it opens; a bare server gives a new window no focus.
  wait_for 5 eval '[[ $(xdotool getwindowfocus 2>/dev/null) == "$dialog" ]]' && return 0
  under_wm && return 1
  xdotool windowfocus --sync "$dialog"
}

if open_dialog dialog_ok; then
  pass "/C shows the settings dialog"
  check "the dialog is 321 x 213 pixels (${WIDTH}x${HEIGHT})" test "$WIDTH" = 321 -a "$HEIGHT" = 213
  if under_wm; then
    moves_and_closes_only "$dialog"
    check "the dialog's frame moves and closes only ($frame_report)" test $? -eq 0
  fi
  check "the Back Color swatch shows white inside a black outline" \
    eval 'pixel_is $((dx + 157)) $((dy + 16)) 000000 && pixel_is $((dx + 165)) $((dy + 24)) FFFFFF'
  check "the thumbnail shows the default picture" eval '! pixel_is $((dx + 70)) $((dy + 75)) "$(pixel $((dx + 2)) $((dy + 200)))"'
  # The focus starts on Change Picture; Tab goes to Cancel, then to OK.
  xdotool key Tab Tab Return
  ended_within 5 "$pid"
  check "Tab, Tab, Enter presses OK and ends the program" test $? -eq 0
  check "OK writes the five keys" eval '[[ $(ini dialog_ok | grep -cE "^(PICTURE_PATH|BACK_COLOR|COLOR1|COLOR2|STRETCH_PIc)=") == 5 ]]'
else
  fail "/C shows the settings dialog"
fi
stop "$pid"

if open_dialog dialog_cancel; then
  xdotool key Tab Return
  ended_within 5 "$pid"
  check "Tab, Enter presses Cancel and ends the program" test $? -eq 0
  check "Cancel writes nothing" test -z "$(ini dialog_cancel)"
else
  fail "/C shows the settings dialog (for Cancel)"
fi
stop "$pid"

if open_dialog dialog_escape; then
  # A click on the Color1 swatch reaches its label, which opens the colour dialog.
  xdotool mousemove $((dx + 165)) $((dy + 56)) click 1
  if wait_for 10 window_shown '^Color$'; then
    pass "a click on a swatch opens the colour dialog"
    if under_wm; then
      check "the colour dialog has the keyboard focus" \
        wait_for 5 eval '[[ $(xdotool getwindowfocus 2>/dev/null) == "$(shown_window "^Color\$")" ]]'
    else
      xdotool windowfocus --sync "$(shown_window '^Color$')"  # a bare server gives a new window no focus
    fi
    xdotool key Escape
    wait_for 10 eval '! window_shown "^Color\$"'
  else
    fail "a click on a swatch opens the colour dialog"
  fi
  # A manager gives the focus back to the dialog when the colour dialog goes; a bare server does not.
  under_wm || xdotool windowfocus --sync "$dialog"
  xdotool key Escape
  ended_within 5 "$pid"
  check "Esc ends the dialog" test $? -eq 0
  check "Esc writes nothing" test -z "$(ini dialog_escape)"
else
  fail "/C shows the settings dialog (for Esc)"
fi
stop "$pid"

if open_dialog dialog_close; then
  "$probe" close "$dialog"
  ended_within 5 "$pid"
  check "the close box ends the dialog" test $? -eq 0
  check "the close box writes nothing" test -z "$(ini dialog_close)"
else
  fail "/C shows the settings dialog (for the close box)"
fi
stop "$pid"

# ---- The preview inside a test host's window ----

start_host() {  # sets $host_pid, $host (the window id) and the host's command stream on fd $host_in
  mkfifo "$work/host.in.$1"
  "$probe" host 300x200 <"$work/host.in.$1" >"$work/host.out.$1" 2>&1 &
  host_pid=$!
  pids+=("$host_pid")
  exec {host_in}>"$work/host.in.$1"
  wait_for 10 test -s "$work/host.out.$1"
  host=$(head -1 "$work/host.out.$1")
  wait_for 10 framed "$host"
  place "$host"
  hx=$X
  hy=$Y
}

preview_drawn() {  # the preview's surface (white corner at its top-left) inside, black beyond it
  [[ -n $(xwininfo -children -id "$host" 2>/dev/null | grep -E '^ +0x') ]] && pixel_is $((hx + 2)) $((hy + 2)) FFFFFF &&
    pixel_is $((hx + 250)) $((hy + 150)) 000000
}

# The renderer takes the host's size for the screen's, and a picture is decoded to fit the screen: a
# picture smaller than both is decoded alike by both.
convert -size 120x90 gradient:orange-navy "$work/small.png"
mkdir -p "$work/preview_destroyed/config/Quillet"
printf '[Settings]\nPICTURE_PATH=%s\n' "$work/small.png" >"$work/preview_destroyed/config/Quillet/Settings.ini"
start_host destroyed
launch preview_destroyed /P "$host"
check "/P becomes the host window's child and draws the clock" wait_for 20 preview_drawn
check "the preview shows what dialsaver-render draws for the same second" eval \
  'have_render && matches_render preview "$work/preview_destroyed/config" "300x200+$hx+$hy" --preview --size 300x200'
echo destroy >&"$host_in"
ended_within 2 "$pid"
check "the preview ends within 2 s of its host window's destruction" test $? -eq 0
exec {host_in}>&-
stop "$pid"
stop "$host_pid"

start_host killed
launch preview_killed /P "$host"
if wait_for 20 preview_drawn; then
  stop "$host_pid"
  ended_within 2 "$pid"
  check "the preview ends within 2 s of its host's death" test $? -eq 0
else
  fail "the preview for the host's death did not draw"
fi
exec {host_in}>&-
stop "$pid"

launch preview_nowhere /P 2147483647
ended_within 5 "$pid"
check "a preview whose host window does not exist ends" test $? -eq 0

# ---- The single-instance guard and SIGTERM ----

runtime_dir=$work/guard-run
mkdir -p "$runtime_dir"
chmod 700 "$runtime_dir"
launch guard_first /S
first=$pid
if wait_for 20 window_shown '^dialsaver$'; then
  launch guard_second /S
  ended_within 3 "$pid"
  check "a second /S ends at once while one runs" test $? -eq 0
  launch guard_config /C
  config=$pid
  check "/C is not refused while /S runs" wait_for 20 window_shown "$dialog_name"
  start_host guard
  launch guard_preview /P "$host"
  preview=$pid
  # A manager keeps the saver above the host, so the preview shows only once the saver has ended.
  check "/P is not refused while /S runs: it becomes the host window's child" wait_for 20 eval \
    '[[ -n $(xwininfo -children -id "$host" 2>/dev/null | grep -E "^ +0x") ]] && stays_running 1 "$preview"'
  kill -TERM "$first"
  ended_within 1 "$first"
  check "SIGTERM ends a running instance within 1 s, cleanly" test $? -eq 0
  check "... and the preview started while /S ran draws the clock" wait_for 20 preview_drawn
  for p in "$preview" "$config"; do
    kill -TERM "$p"
    ended_within 1 "$p"
    check "SIGTERM ends a running instance within 1 s, cleanly" test $? -eq 0
  done
  exec {host_in}>&-
  stop "$host_pid"
else
  fail "the first saver of the guard test did not show"
fi
unset runtime_dir

# ---- A hostile environment ----

# A GIF within every cap whose frame holds nothing but 60 MB of LZW clear codes, the most work a GIF of
# the largest size a picture may have gives the decoder: about a second here, some of it while the saver
# is told to end.
python3 - "$work/slow.gif" <<'PY'
import struct, sys
codes = bytes([0x24, 0x49, 0x92])  # eight 3-bit clear codes
with open(sys.argv[1], "wb") as f:
    f.write(b"GIF89a" + struct.pack("<HHBBB", 4096, 4096, 0x80, 0, 0) + b"\x00\x00\x00\xff\xff\xff")
    f.write(b"\x2c" + struct.pack("<HHHHB", 0, 0, 4096, 4096, 0) + b"\x02")
    f.write((b"\xff" + codes * 85) * 234375 + b"\x00\x3b")
PY
slow_ini() { mkdir -p "$work/$1/config/Quillet"; printf '[Settings]\nPICTURE_PATH=%s\nCOLOR1=255\n' "$work/slow.gif" >"$work/$1/config/Quillet/Settings.ini"; }
reading_slow_gif() { ls -l "/proc/$1/fd" 2>/dev/null | grep -q "$work/slow.gif"; }

slow_ini slow_term
launch slow_term /S
if wait_for 20 reading_slow_gif "$pid"; then
  kill -TERM "$pid"
  ended_within 1 "$pid"
  check "SIGTERM ends the saver within 1 s while it decodes a picture" test $? -eq 0
  check "... and nothing is written after it" grep -qx "PICTURE_PATH=$work/slow.gif" "$work/slow_term/config/Quillet/Settings.ini"
else
  fail "the saver did not start reading the slow picture"
fi
stop "$pid"

# The saver's frame is made ready in shared memory while its picture loads; the memory goes with the
# program, even one killed outright before the server has attached it.
segments_of() { ipcs -m -p | awk -v creator="$1" '$3 == creator' | wc -l; }
slow_ini slow_kill
launch slow_kill /S
if wait_for 20 reading_slow_gif "$pid"; then
  check "while its picture loads, the saver's frame is made ready in shared memory" \
    wait_for 5 eval '(($(segments_of "$pid") > 0))'
  killed=$pid
  stop "$pid"
  check "a saver killed while its picture loads leaves no shared memory behind" test "$(segments_of "$killed")" -eq 0
else
  fail "the saver to be killed did not start reading the slow picture"
fi

# Decoded whole, it holds no pixels. (A picture past its deadline, a stalled read, is in hostile.sh.)
slow_ini slow_deadline
launch slow_deadline /S
check "the GIF of clear codes is decoded within the deadline: the face is shown without it, no message box" \
  wait_for 10 eval '[[ $(xdotool getwindowgeometry "$(shown_window "^dialsaver$")" 2>/dev/null) == *"Geometry: ${width}x${height}"* ]]'
check "... the saver stays up" stays_running 1 "$pid"
check "... nothing says it took too long" eval '! grep -q "took longer than" "$work/slow_deadline.log"'
check "... and the stored picture path is unchanged" grep -qx "PICTURE_PATH=$work/slow.gif" "$work/slow_deadline/config/Quillet/Settings.ini"
stop "$pid"

# Another user prepares the instance lock's folder in a shared temporary folder before this one comes.
other=65534
shared=$work/shared-tmp
mkdir -p "$shared"
chmod 1777 "$shared"
setpriv --reuid=$other --regid=$other --clear-groups mkdir -m 777 "$shared/dialsaver-$(id -u)"
runtime_dir=$work/not-private
mkdir -p "$runtime_dir"
chmod 755 "$runtime_dir"  # open to others: not used for the lock
TMPDIR=$shared launch shared_lock /S
check "a lock folder of another user's is reported, not taken for no other instance" \
  wait_for 10 grep -q "cannot tell whether another instance runs: .*dialsaver-$(id -u) belongs to user $other" "$work/shared_lock.log"
check "... and the saver still shows" wait_for 20 window_shown '^dialsaver$'
stop "$pid"
unset runtime_dir

# Root with another user's environment: that user's folder holds a Settings.ini that is a link to a file of
# root's; the saver's fallback must not write there, and says why.
if [[ $(id -u) == 0 ]]; then
  mkdir -p "$work/as_root/config/Quillet" "$work/as_root/target"
  printf '[Settings]\nPICTURE_PATH=%s\n' "$work/no-such-picture.jpg" >"$work/as_root/target/file"
  cp "$work/as_root/target/file" "$work/as_root/before"
  ln -s "$work/as_root/target/file" "$work/as_root/config/Quillet/Settings.ini"
  chown -h $other:$other "$work/as_root/config" "$work/as_root/config/Quillet" "$work/as_root/config/Quillet/Settings.ini"
  XDG_CONFIG_HOME=$work/as_root/config XDG_RUNTIME_DIR=$work/as_root/run GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
    "$program" /S >"$work/as_root.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  if wait_for 20 window_shown '^dialsaver$'; then
    box=$(shown_window '^dialsaver$')
    xdotool windowfocus --sync "$box" key Return
    check "root refuses to save in another user's folder and says why" \
      wait_for 10 grep -q "not saving the settings in .*: it belongs to user $other" "$work/as_root.log"
    check "... the link's target is untouched" cmp -s "$work/as_root/before" "$work/as_root/target/file"
    check "... and nothing new is left in that folder" test "$(ls -A "$work/as_root/config/Quillet")" == "Settings.ini"
  else
    fail "root's saver did not show"
  fi
  stop "$pid"
else
  skip "root with another user's environment (needs root)"
fi

# ---- A real XScreenSaver ----
# The daemon does not run hacks as root: it runs as a user made for the test, with a configuration whose
# only program is this one, copied where that user may run it.

xscreensaver_shows_clock() {
  import -window root "$work/xscreensaver.png" 2>/dev/null || return 1
  # Across the middle row the bezel's grey and the dial's white both show.
  local row
  row=$(convert "$work/xscreensaver.png" -crop "${width}x1+0+$((height / 2))" +repage txt:- 2>/dev/null)
  [[ $(grep -c '#B4B4B4' <<<"$row") -ge 20 && $(grep -c '#FFFFFF' <<<"$row") -ge 100 ]]
}

xss() { runuser -u "$xss_user" -- env DISPLAY="$DISPLAY" HOME="$xss_home" xscreensaver-command "-$1" >/dev/null 2>&1; }

# Starts the daemon and waits until it answers; one that does not answer within 30 s is shown and ended.
start_xscreensaver() {
  runuser -u "$xss_user" -- env DISPLAY="$DISPLAY" HOME="$xss_home" xscreensaver -no-splash >"$work/xss.log" 2>&1 &
  local daemon=$!
  pids+=("$daemon")
  wait_for 30 xss time && return 0
  echo "  the XScreenSaver daemon did not answer; its log and the test user's processes:"
  cat "$work/xss.log"
  ps -u "$xss_user" -o pid,stat,etime,cmd
  stop "$daemon"
  return 1
}

if ((EUID != 0)) || ! command -v xscreensaver >/dev/null; then
  skip "XScreenSaver runs the program as its hack (needs root and xscreensaver)"
else
  xss_user=dialsaver-e2e
  id "$xss_user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$xss_user"
  xss_home=$(getent passwd "$xss_user" | cut -d: -f6)
  mkdir -p "$work/hack"
  cp "$program" "$bin/a.gif" "$work/hack/"
  chmod -R a+rX "$work/hack"
  printf '%s\n' 'timeout: 0:30:00' 'cycle: 0:00:00' 'lock: False' 'fade: False' 'unfade: False' 'splash: False' \
    'dpmsEnabled: False' 'mode: one' 'selected: 0' "programs: \"dialsaver\" $work/hack/dialsaver /S \\n" \
    >"$xss_home/.xscreensaver"
  chown "$xss_user" "$xss_home/.xscreensaver"
  rm -rf "$xss_home/.config/Quillet"
  if start_xscreensaver; then
    xss activate
    check "XScreenSaver runs the program as its hack, and the clock shows" wait_for 30 xscreensaver_shows_clock
    check "the hack shows what dialsaver-render draws for the same second" eval \
      'have_render && matches_render xscreensaver "$xss_home/.config" "${width}x${height}+0+0" --size "${width}x${height}"'
  else
    fail "the XScreenSaver daemon did not start"
  fi
fi

finish xvfb.sh
