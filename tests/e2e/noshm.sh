#!/usr/bin/env bash
# End-to-end tests of how the Linux program's pixels reach the X server: on a server without MIT-SHM
# (as a remote display is) the frames go over the connection; on one with it they are shared. On each,
# the saver must show what dialsaver-render draws for the same second, pixel for pixel, at start, after
# another window covered part of it and went away, and as an XScreenSaver-style hack inside a window,
# before and after that window grows.
#
# Uses what scripts/test built in build/linux (or DIALSAVER_E2E_BUILD) and builds nothing. Every wait
# polls for its condition with a generous bound. Exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/e2e/lib.sh"
build=${DIALSAVER_E2E_BUILD:-$root/build/linux}
bin=$build/bin
probe=$build/tests/e2e/x11_probe
width=640
height=480

pids=()
work=$(mktemp -d /tmp/dialsaver-noshm.XXXXXX)
cleanup() {
  end_started
  [[ -n ${KEEP_E2E:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

require noshm.sh "$bin/dialsaver" "$bin/dialsaver-render" "$probe" -- Xvfb xdotool xdpyinfo compare convert

# A picture smaller than every window here, so that the program and the renderer decode it alike.
convert -size 120x90 gradient:orange-navy "$work/small.png"
mkdir -p "$work/config/Quillet" "$work/run"
chmod 700 "$work/run"
printf '[Settings]\nPICTURE_PATH=%s\n' "$work/small.png" >"$work/config/Quillet/Settings.ini"

# start_server NAME XVFB_OPTIONS...: an Xvfb of its own; sets DISPLAY.
start_server() {
  local name=$1 number=""
  shift
  mkfifo "$work/displayfd.$name"
  exec {fd}<>"$work/displayfd.$name"
  Xvfb -displayfd "$fd" -screen 0 "${width}x${height}x24" -nolisten tcp -ac -noreset "$@" >"$work/xvfb.$name.log" 2>&1 &
  pids+=("$!")
  read -r -t 20 -u "$fd" number || { echo "noshm.sh: Xvfb did not start" >&2; cat "$work/xvfb.$name.log" >&2; exit 1; }
  exec {fd}>&-
  export DISPLAY=:$number
}

# launch ARGS...: the program with the settings above; sets $pid.
launch() {
  XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
    "$bin/dialsaver" "$@" >>"$work/program.log" 2>&1 &
  pid=$!
  pids+=("$pid")
}

stop() { { kill -KILL "$1"; wait "$1"; } 2>/dev/null; }

# shows_render NAME GEOMETRY SIZE: the root's GEOMETRY (WxH+X+Y) equals dialsaver-render's image of a
# screen of SIZE at the second the capture was taken, or the one before (the tick may come just after
# the capture starts). Retried for a while: the first tick, or a redraw, may not have come yet.
shows_render() {
  local name=$1 geometry=$2 size=$3 shot=$work/$1.ppm try before after t ae
  for try in $(seq 20); do
    before=$(date +%s)
    "$probe" capture "$geometry" "$shot"
    after=$(date +%s)
    if [[ $before == "$after" ]]; then
      for t in "$before" $((before - 1)); do
        XDG_CONFIG_HOME=$work/config "$bin/dialsaver-render" --size "$size" --time "$(date -d "@$t" +%H:%M:%S)" \
          --out "$work/$name-$t.png" >/dev/null 2>&1 || return 1
        ae=$(compare -metric AE "$shot" "$work/$name-$t.png" "$work/$name-diff-$t.png" 2>&1 >/dev/null)
        [[ $ae == 0 ]] && return 0
      done
      echo "  $name, try $try: $ae pixels differ ($work/$name-diff-$t.png)"
    fi
    sleep 0.2
  done
  return 1
}

# checks KIND: the saver full screen, covered and uncovered, then inside a window that is resized.
checks() {
  local kind=$1 cover host_in host
  launch /S
  check "$kind: /S shows what dialsaver-render draws" wait_for 20 shows_render "$kind-saver" "${width}x${height}+0+0" "${width}x${height}"

  # A window over part of the saver, the dial's centre included, for two ticks of the hands (the server
  # drops what is drawn under it), then gone: the exposed part is drawn again, hands and all.
  mkfifo "$work/cover.$kind"
  "$probe" host 300x200 <"$work/cover.$kind" >"$work/cover.$kind.out" 2>&1 &
  cover=$!
  pids+=("$cover")
  exec {host_in}>"$work/cover.$kind"
  wait_for 10 test -s "$work/cover.$kind.out"
  xdotool windowmove "$(head -1 "$work/cover.$kind.out")" 200 150 windowraise 2>/dev/null
  check "$kind: a window covers the middle of the saver" \
    wait_for 10 eval '[[ $("$probe" pixel 320 240) == 808080 && $("$probe" pixel 480 330) == 808080 ]]'
  local covered_at=$SECONDS
  wait_for 10 eval '(( SECONDS >= covered_at + 3 ))'
  echo destroy >&"$host_in"
  exec {host_in}>&-
  check "$kind: once it is gone, the saver shows what dialsaver-render draws again" \
    wait_for 20 shows_render "$kind-exposed" "${width}x${height}+0+0" "${width}x${height}"
  stop "$pid"

  # The hack inside a window of another program, which then grows.
  mkfifo "$work/host.$kind"
  "$probe" host 320x240 <"$work/host.$kind" >"$work/host.$kind.out" 2>&1 &
  pids+=("$!")
  exec {host_in}>"$work/host.$kind"
  wait_for 10 test -s "$work/host.$kind.out"
  host=$(head -1 "$work/host.$kind.out")
  XSCREENSAVER_WINDOW=$host launch /S
  check "$kind: the hack shows what dialsaver-render draws for its window" \
    wait_for 20 shows_render "$kind-hack" "320x240+10+10" 320x240
  # The clock keeps the face it drew at the start, and the form's black fills what the window gained.
  xdotool windowsize "$host" 480 360
  check "$kind: after its window grows, the new part shows the form's black" \
    wait_for 10 eval '[[ $("$probe" pixel $((10 + 400)) $((10 + 300))) == 000000 ]]'
  check "$kind: after its window grows, the hack still shows the face dialsaver-render draws" \
    wait_for 20 shows_render "$kind-grown" "320x240+10+10" 320x240
  stop "$pid"
  echo quit >&"$host_in"
  exec {host_in}>&-
}

start_server plain -extension MIT-SHM
if [[ $(xdpyinfo -queryExtensions) == *MIT-SHM* ]]; then
  fail "the server started without MIT-SHM has it"
else
  checks "without MIT-SHM"
fi
start_server shared
if [[ $(xdpyinfo -queryExtensions) == *MIT-SHM* ]]; then
  checks "with MIT-SHM"
else
  skip "this Xvfb has no MIT-SHM"
fi

finish noshm.sh
