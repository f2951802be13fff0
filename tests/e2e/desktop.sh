#!/usr/bin/env bash
# End-to-end tests of the Linux program on a desktop: under openbox and under xfwm4, each on its own Xvfb,
# at 640x480 and 1280x800. The file and colour choosers and the message box fit the work area, frame and
# all; the saver stays above a window that maps while it runs; Alt+F4 ends the saver; the process ends
# within 0.2 s of its window closing; and the program writes no GTK critical or warning (it runs with
# G_DEBUG=fatal-criticals, so a critical also ends it).
#
# Uses what scripts/test built in build/linux (or DIALSAVER_E2E_BUILD) and builds nothing. Every wait
# polls for its condition with a generous bound; every program started here is ended on the way out.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/e2e/lib.sh"
build=${DIALSAVER_E2E_BUILD:-$root/build/linux}
program=$build/bin/dialsaver
probe=$build/tests/e2e/x11_probe

pids=()
work=$(mktemp -d /tmp/dialsaver-desktop.XXXXXX)
chmod 755 "$work"
cleanup() {
  end_started
  [[ -n ${KEEP_E2E:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

require desktop.sh "$program" "$probe" -- Xvfb xdotool xprop xwininfo import openbox xfwm4 dbus-daemon

# ---- Displays and managers ----

# start_desktop MANAGER WxH: a fresh Xvfb of that size under the manager; sets DISPLAY.
start_desktop() {
  local manager=$1 size=$2 number="" bus
  mkfifo "$work/displayfd.$manager.$size"
  exec {fd}<>"$work/displayfd.$manager.$size"
  Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp -ac -noreset >"$work/xvfb.log" 2>&1 &
  pids+=("$!")
  read -r -t 20 -u "$fd" number || { echo "  Xvfb did not start"; return 1; }
  exec {fd}>&-
  export DISPLAY=:$number
  case $manager in
    openbox)
      openbox --sm-disable >"$work/$manager.log" 2>&1 &
      pids+=("$!")
      ;;
    xfwm4)
      # xfwm4 reads its settings through a session bus.
      bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || return 1
      pids+=("$(sed -n 2p <<<"$bus")")
      DBUS_SESSION_BUS_ADDRESS=$(head -1 <<<"$bus") xfwm4 --compositor=off >"$work/$manager.log" 2>&1 &
      pids+=("$!")
      ;;
  esac
  wait_for 30 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
}

# launch NAME ARGS...: the program with a private home; sets $pid. GTK's criticals end it.
launch() {
  local name=$1
  shift
  mkdir -p "$work/$name/home" "$work/$name/run"
  chmod 700 "$work/$name/run"
  HOME=$work/$name/home XDG_CONFIG_HOME=$work/$name/config XDG_RUNTIME_DIR=$work/$name/run GSETTINGS_BACKEND=memory \
    NO_AT_BRIDGE=1 G_DEBUG=fatal-criticals "$program" "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  pids+=("$pid")
}

# No line from GTK, GDK or GLib saying something went wrong.
quiet_log() {
  ! grep -E '(Gtk|Gdk|GLib|GLib-GObject|GLib-GIO|Pango)-(CRITICAL|WARNING)' "$work/$1.log" && return 0
  return 1
}

# Whether WINDOW's frame (the window and the manager's decoration around it) lies within the work area.
# Prints the two rectangles.
within_work_area() {
  local info x y w h extents l r t b area
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  w=$(sed -n 's/.*Width: *//p' <<<"$info")
  h=$(sed -n 's/.*Height: *//p' <<<"$info")
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
  IFS=, read -r l r t b <<<"${extents:-0,0,0,0}"
  area=$(xprop -root _NET_WORKAREA | sed -n 's/.*= //p' | tr -d ' ' | cut -d, -f1-4)
  local ax ay aw ah
  IFS=, read -r ax ay aw ah <<<"$area"
  local fx=$((x - l)) fy=$((y - t)) fw=$((w + l + r)) fh=$((h + t + b))
  echo "  frame ${fw}x${fh}+${fx}+${fy}, work area ${aw}x${ah}+${ax}+${ay}"
  ((fx >= ax && fy >= ay && fx + fw <= ax + aw && fy + fh <= ay + ah))
}

# The frame settles once the manager has placed the window: poll, then report the last state.
fits() { wait_for 5 within_quietly "$1" || true; within_work_area "$1"; }
within_quietly() { within_work_area "$1" >/dev/null; }
window_gone() { ! window_shown "$1"; }
ended() { ! running "$1"; }

# focus WINDOW: asks the manager to activate it and waits until it is the active window.
focus() {
  xdotool windowactivate "$1" 2>/dev/null
  wait_for 5 eval '[[ $(xdotool getactivewindow 2>/dev/null) == '"$1"' ]]'
}

# gone_promptly WINDOW_REGEX PID: the window closes within 5 s and the process ends within 0.2 s of it.
gone_promptly() {
  wait_for 5 window_gone "$1" || { echo "  the window stayed"; return 1; }
  local closed
  closed=$(now_ms)
  wait_for 3 ended "$2" || { echo "  the process outlived its window by 3 s"; return 1; }
  local late=$(($(now_ms) - closed))
  echo "  the process ended ${late} ms after its window closed"
  ((late <= 200))
}

shot() { import -window root "$work/$1.png" 2>/dev/null; }

# ---- The settings dialog's choosers, and OK ----

dialog_name='^dialsaver-Created by '

choosers() {  # choosers TAG
  local tag=$1 dialog chooser
  launch "dialog-$tag" /C
  wait_for 20 window_shown "$dialog_name" || { fail "[$tag] /C shows the settings dialog"; return; }
  dialog=$(shown_window "$dialog_name")
  focus "$dialog"
  xdotool key Return
  if wait_for 10 window_shown '^Open$'; then
    chooser=$(shown_window '^Open$')
    check "[$tag] the file chooser fits the work area" fits "$chooser"
    shot "chooser-$tag"
    focus "$chooser"
    xdotool key Escape
    wait_for 10 window_gone '^Open$'
  else
    fail "[$tag] Change Picture opens the file chooser"
  fi
  # The Color1 swatch, at 96 dpi: a click on it reaches its label, which opens the colour chooser.
  local at
  focus "$dialog"
  at=$(xwininfo -id "$dialog")
  xdotool mousemove $(($(sed -n 's/.*Absolute upper-left X: *//p' <<<"$at") + 165)) \
    $(($(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$at") + 56)) click 1
  if wait_for 10 window_shown '^Color$'; then
    chooser=$(shown_window '^Color$')
    check "[$tag] the colour chooser fits the work area" fits "$chooser"
    focus "$chooser"
    xdotool key Escape
    wait_for 10 window_gone '^Color$'
  else
    fail "[$tag] a swatch opens the colour chooser"
    shot "no-colour-$tag"
  fi
  # The focus is on Change Picture; Tab goes to Cancel, then to OK.
  focus "$dialog"
  xdotool key Tab Tab Return
  check "[$tag] OK closes the dialog and the process ends with it" gone_promptly "$dialog_name" "$pid"
  check "[$tag] the dialog and its choosers write no GTK critical or warning" quiet_log "dialog-$tag"
}

# ---- The missing-picture message box ----

message_box() {  # message_box TAG
  local tag=$1
  mkdir -p "$work/missing-$tag/config/Quillet"
  printf '[Settings]\nPICTURE_PATH=%s\n' "$work/no-such-picture.jpg" >"$work/missing-$tag/config/Quillet/Settings.ini"
  launch "missing-$tag" /S
  if wait_for 20 eval '[[ -n $(message_box_window) ]]'; then
    check "[$tag] the missing-picture message box fits the work area" fits "$(message_box_window)"
  else
    fail "[$tag] the missing-picture message box shows"
  fi
  kill -TERM "$pid"
  wait_for 5 ended "$pid"
  check "[$tag] the message box writes no GTK critical or warning" quiet_log "missing-$tag"
}

# The program's shown window that does not cover the screen: the message box.
message_box_window() {
  local w size
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    size=$(xdotool getwindowgeometry "$w" 2>/dev/null | sed -n 's/.*Geometry: //p')
    [[ -n $size && $size != "$screen_size" && $size != 1x1 ]] && { echo "$w"; return; }
  done
}

# ---- The saver ----

saver() {  # saver TAG
  local tag=$1 host_pid saver_window
  launch "saver-$tag" /S
  wait_for 20 window_shown '^dialsaver$' || { fail "[$tag] /S shows the saver"; return; }
  saver_window=$(shown_window '^dialsaver$')
  # A window of another program maps over the middle of the screen while the saver runs.
  mkfifo "$work/host-$tag.in"
  "$probe" host 300x200 <"$work/host-$tag.in" >"$work/host-$tag.out" 2>&1 &
  host_pid=$!
  pids+=("$host_pid")
  exec {host_in}>"$work/host-$tag.in"
  wait_for 10 test -s "$work/host-$tag.out"
  local host
  host=$(head -1 "$work/host-$tag.out")
  wait_for 10 eval 'xwininfo -id "$host" 2>/dev/null | grep -q IsViewable'
  check "[$tag] a window that maps while the saver runs stays under it" eval \
    'wait_for 5 saver_on_top "$host" && stays 1 saver_on_top "$host"'
  shot "saver-$tag"
  echo quit >&"$host_in"
  exec {host_in}>&-
  xdotool key alt+F4
  check "[$tag] Alt+F4 ends the saver, and the process ends with its window" gone_promptly '^dialsaver$' "$pid"
  check "[$tag] the saver writes no GTK critical or warning" quiet_log "saver-$tag"
  # A saver Alt+F4 left running would hold the single-instance lock against the next one.
  { kill -KILL "$pid" && wait "$pid"; } 2>/dev/null

  launch "saver-key-$tag" /S
  if wait_for 20 window_shown '^dialsaver$'; then
    xdotool key a
    check "[$tag] a key ends the saver, and the process ends with its window" gone_promptly '^dialsaver$' "$pid"
    check "[$tag] the saver ended by a key writes no GTK critical or warning" quiet_log "saver-key-$tag"
  else
    fail "[$tag] /S shows the saver (for a key)"
  fi
}

# The middle of the host window shows the saver, not the host's grey.
saver_on_top() {
  local info x y w h
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  x=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  [[ $("$probe" pixel $((x + 150)) $((y + 100))) != 808080 ]]
}

stays() {  # stays SECONDS COMMAND...: the command keeps succeeding for that long
  local until=$(($(now_ms) + $(to_ms "$1")))
  shift
  while (($(now_ms) < until)); do
    "$@" || return 1
    sleep 0.1
  done
}

# ---- Each manager, each size ----

for manager in openbox xfwm4; do
  for size in 640x480 1280x800; do
    tag=$manager-$size
    if ! start_desktop "$manager" "$size"; then
      fail "[$tag] the manager claims the screen"
      continue
    fi
    screen_size=$size
    choosers "$tag"
    if [[ $size == 640x480 ]]; then
      message_box "$tag"
    else
      saver "$tag"
    fi
    for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    pids=()
  done
done

finish desktop.sh
