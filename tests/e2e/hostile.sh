#!/usr/bin/env bash
# End-to-end tests of the Linux program against a hostile or unlucky environment, on an Xvfb display:
# another client's forged X events (a DestroyNotify for a live preview host, a ConfigureNotify of 32000 x
# 32000 for the hack's window), SIGTERM while a save waits for a settings lock that another program
# holds, and a picture on a file system whose reads never answer (a FUSE mount, where FUSE can run here).
#
# Uses what scripts/test built in build/linux (or the build folder in DIALSAVER_E2E_BUILD) and builds
# nothing. Every wait polls for its condition with a generous bound; a check that something does NOT
# happen watches for a fixed while. Xvfb, every program started here and the mount are ended on the way
# out. Exits non-zero on any failure; the last line is "hostile: N passed, N failed, N skipped".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/e2e/lib.sh"
build=${DIALSAVER_E2E_BUILD:-$root/build/linux}
bin=$build/bin
probe=$build/tests/e2e/x11_probe
stall_fs=$build/tests/e2e/stall_fs
program=$bin/dialsaver
width=1024
height=768

pids=()
mount_point=
work=$(mktemp -d /tmp/dialsaver-e2e-hostile.XXXXXX)

cleanup() {
  local pid
  {
    for pid in "${pids[@]}"; do kill -KILL "$pid"; done
    # A reader blocked on the stalled mount is freed only when the file system's process ends.
    [[ -n $mount_point ]] && umount -l "$mount_point"
    for pid in "${pids[@]}"; do wait "$pid"; done
  } >/dev/null 2>&1
  [[ -n ${KEEP_E2E:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

require hostile.sh "$program" "$probe" -- Xvfb xdotool xwininfo

# launch NAME ARGS...: starts the program with a private config and runtime folder per NAME; sets $pid.
# Variables to pass on go before it: XSCREENSAVER_WINDOW=... launch NAME ...
launch() {
  local name=$1
  shift
  mkdir -p "$work/$name/config" "$work/$name/run"
  chmod 700 "$work/$name/run"
  XDG_CONFIG_HOME=$work/$name/config XDG_RUNTIME_DIR=$work/$name/run GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
    "$program" "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  pids+=("$pid")
}
ini_file() { echo "$work/$1/config/Quillet/Settings.ini"; }
write_ini() {  # write_ini NAME PICTURE_PATH
  mkdir -p "$work/$1/config/Quillet"
  printf '[Settings]\nPICTURE_PATH=%s\nCOLOR1=255\n' "$2" >"$(ini_file "$1")"
  cp "$(ini_file "$1")" "$work/$1.before"
}
# The settings file as it was, and no other file beside it but a lock (which another program may have made).
unchanged() {
  cmp -s "$work/$1.before" "$(ini_file "$1")" &&
    [[ -z $(ls -A "$work/$1/config/Quillet" | grep -vx -e Settings.ini -e Settings.ini.lock) ]]
}

# Ended (or left only as a zombie) within SECONDS.
ends_within() { wait_for "$1" eval '! running '"$2"; }
stays_running() {  # stays_running SECONDS PID
  local until=$(($(now_ms) + $(to_ms "$1")))
  while (($(now_ms) < until)); do
    running "$2" || return 1
    sleep 0.1
  done
}
stop() { { kill -KILL "$1"; wait "$1"; } 2>/dev/null; }
saver_covers_screen() {
  [[ $(xdotool getwindowgeometry "$(shown_window '^dialsaver$')" 2>/dev/null) == *"Geometry: ${width}x${height}"* ]]
}

mkfifo "$work/displayfd"
exec {fd}<>"$work/displayfd"
Xvfb -displayfd "$fd" -screen 0 "${width}x${height}x24" -nolisten tcp -ac -noreset >"$work/xvfb.log" 2>&1 &
pids+=("$!")
display_number=""
read -r -t 20 -u "$fd" display_number || { echo "hostile.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display_number
unset XSCREENSAVER_WINDOW

# A 300 x 200 window of x11_probe's: a preview host, or the window XScreenSaver gives its hack. Sets $host
# and $host_pid; the host reads commands on fd $host_in.
start_host() {
  mkfifo "$work/host.in.$1"
  "$probe" host 300x200 <"$work/host.in.$1" >"$work/host.out.$1" 2>&1 &
  host_pid=$!
  pids+=("$host_pid")
  exec {host_in}>"$work/host.in.$1"
  wait_for 10 test -s "$work/host.out.$1"
  host=$(head -1 "$work/host.out.$1")
}
# The size of the host's first child window (the program's), as "WxH".
child_size() {
  local child
  child=$(xwininfo -children -id "$host" 2>/dev/null | awk '/^ +0x/ { print $1; exit }')
  [[ -n $child ]] && xwininfo -id "$child" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'
}
child_is() { [[ $(child_size) == "$1" ]]; }

# ---- Forged X events ----

start_host forged_destroy
launch forged_destroy /P "$host"
if wait_for 20 child_is 300x200; then
  "$probe" send "$host" destroy
  check "a forged DestroyNotify for a live host leaves the preview running" stays_running 2 "$pid"
  check "... and in its host" child_is 300x200
  echo destroy >&"$host_in"
  check "... while the real destruction still ends it" ends_within 5 "$pid"
else
  fail "/P did not become the host's child"
fi
exec {host_in}>&-
stop "$pid"
stop "$host_pid"

start_host forged_configure
XSCREENSAVER_WINDOW=$host launch forged_configure /S
if wait_for 20 child_is 300x200; then
  "$probe" send "$host" configure 32000x32000
  check "a forged ConfigureNotify of 32000 x 32000 does not resize the hack's window" \
    eval '! wait_for 2 eval "! child_is 300x200"'
  check "... nor end the hack" running "$pid"
else
  fail "the hack did not fill XScreenSaver's stand-in window ($(child_size))"
fi
exec {host_in}>&-
stop "$pid"
stop "$host_pid"

# ---- SIGTERM while a save waits for the settings lock ----
# The picture is missing, so OK on the message box stores the default path; another program holds the
# lock all the while.

write_ini lock_wait "$work/no-such-picture.jpg"
lock=$(ini_file lock_wait).lock
exec {lock_fd}>"$lock"
flock "$lock_fd"  # held by this script until it closes the descriptor
launch lock_wait /S
waiting_for_lock() { ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "Settings.ini.lock"; }
if wait_for 20 window_shown '^dialsaver$'; then
  xdotool windowfocus --sync "$(shown_window '^dialsaver$')" key Return
  if wait_for 10 waiting_for_lock; then
    kill -TERM "$pid"
    check "SIGTERM ends the saver within 1 s while its save waits for the lock" ends_within 1 "$pid"
    check "... and nothing is written" unchanged lock_wait
  else
    fail "the saver did not open the settings lock after OK"
  fi
else
  fail "the missing picture's message box did not show"
fi
stop "$pid"
exec {lock_fd}>&-

# ---- A picture on a file system whose reads never answer ----

# Mounts stall_fs on $work/mnt and sets $mount_point, or says in $problem why it cannot.
mount_stalled() {
  problem=
  [[ -x $stall_fs ]] || { problem="stall_fs was not built (libfuse3-dev is missing)"; return; }
  [[ -c /dev/fuse ]] || { problem="there is no /dev/fuse"; return; }
  [[ -r /dev/fuse && -w /dev/fuse ]] || { problem="/dev/fuse is not open to this user"; return; }
  mkdir -p "$work/mnt"
  "$stall_fs" "$work/mnt" >"$work/stall_fs.log" 2>&1 &
  pids+=("$!")
  if wait_for 10 grep -qs " $work/mnt " /proc/mounts; then
    mount_point=$work/mnt
  else
    problem="the FUSE mount failed: $(tr '\n' ' ' <"$work/stall_fs.log")"
  fi
}
mount_stalled
if [[ -z $problem ]]; then
  write_ini stalled "$mount_point/picture.gif"
  started=$(now_ms)
  launch stalled /S
  reading_stalled() { ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "$mount_point/picture.gif"; }
  check "the saver reads the stalled picture" wait_for 10 reading_stalled
  check "a stalled picture is given up with a reason" wait_for 20 grep -q "took longer than" "$work/stalled.log"
  check "... the face is shown without it, no message box" wait_for 10 saver_covers_screen
  check "... within the deadline ($(($(now_ms) - started)) ms from the start)" test $(($(now_ms) - started)) -lt 9000
  check "... nothing is written" unchanged stalled
  kill -TERM "$pid"
  check "SIGTERM then ends it within 1 s, its reader still stalled" ends_within 1 "$pid"
  check "... and its window goes with it" wait_for 1 eval '! window_shown "^dialsaver$"'
  check "... and still nothing is written" unchanged stalled

  write_ini stalled_key "$mount_point/picture.gif"
  launch stalled_key /S
  if wait_for 20 grep -q "took longer than" "$work/stalled_key.log" && wait_for 10 saver_covers_screen; then
    xdotool key a
    check "a key ends the saver whose picture read is stalled, and its window goes within 1 s" \
      wait_for 1 eval '! window_shown "^dialsaver$"'
    check "... nothing is written" unchanged stalled_key
  else
    fail "the saver did not show the face without the stalled picture"
  fi
else
  skip "a picture on a stalled file system: $problem"
fi

finish hostile
