#!/usr/bin/env bash
# Measures the Linux saver beside xclock (-analog -update 1) on the same Xvfb server, one after the other:
# the time from start to the saver's first full frame, then for each program over the same span CPU
# seconds (its own and the X server's), wakeups (context switches) and peak resident memory.
#   bench/xclock_compare.sh [SECONDS] [WxH ...]      (default: 60 1920x1080 3840x2160)
# Uses build/linux as scripts/test built it; builds nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/linux/bin
probe=$root/build/linux/tests/e2e/x11_probe
span=${1:-60}
shift || true
sizes=("$@")
((${#sizes[@]} > 0)) || sizes=(1920x1080 3840x2160)
work=$(mktemp -d /tmp/dialsaver-bench.XXXXXX)
pids=()
cleanup() {
  { for p in "${pids[@]}"; do kill -KILL "$p"; done; for p in "${pids[@]}"; do wait "$p"; done; } >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
switches() { awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { n += $2 } END { print n }' "/proc/$1/status"; }
peak_kib() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status"; }

# measure NAME PID: samples the process and the X server over the span; prints one row, keeps the numbers.
measure() {
  local name=$1 pid=$2
  local c0 s0 x0 c1 s1 x1
  c0=$(cpu_ticks "$pid"); s0=$(switches "$pid"); x0=$(cpu_ticks "$xvfb")
  sleep "$span"
  c1=$(cpu_ticks "$pid"); s1=$(switches "$pid"); x1=$(cpu_ticks "$xvfb")
  cpu=$(awk -v a="$c0" -v b="$c1" -v t="$ticks" 'BEGIN { printf "%.2f", (b - a) / t }')
  server=$(awk -v a="$x0" -v b="$x1" -v t="$ticks" 'BEGIN { printf "%.2f", (b - a) / t }')
  wakeups=$((s1 - s0))
  peak=$(peak_kib "$pid")
  printf '  %-10s cpu %6s s   X server cpu %6s s   wakeups %6d   peak %7d KiB\n' "$name" "$cpu" "$server" "$wakeups" "$peak"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "n/a"; else printf "%.2f", a / b }'; }

for size in "${sizes[@]}"; do
  width=${size%x*}
  height=${size#*x}
  mkfifo "$work/fd.$size"
  exec {fd}<>"$work/fd.$size"
  Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp -ac -noreset >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  read -r -t 20 -u "$fd" number
  export DISPLAY=:$number
  mkdir -p "$work/$size/config" "$work/$size/run"
  chmod 700 "$work/$size/run"

  # A pixel of the bezel (no hand reaches it) in the colour the first frame gives it.
  radius=$(((${width} < ${height} ? ${width} : ${height}) * 15 / 2 - 900))
  x=$((width / 2 + (radius + 475) / 15))
  y=$((height / 2))
  XDG_CONFIG_HOME=$work/$size/config "$bin/dialsaver-render" --size "$size" --ticks 0 --out "$work/face.png"
  colour=$(convert "$work/face.png[1x1+$x+$y]" -format '%[hex:p{0,0}]' info:)

  echo "$size ($span s each):"
  read -r first pid < <(XDG_CONFIG_HOME=$work/$size/config XDG_RUNTIME_DIR=$work/$size/run \
    "$probe" first-frame "$x" "$y" "${colour:0:6}" 30000 -- "$bin/dialsaver" /S)
  pids+=("$pid")
  echo "  dialsaver  first full frame after $first ms"
  measure dialsaver "$pid"
  read -r d_cpu d_server d_wakeups d_peak <<<"$cpu $server $wakeups $peak"
  kill "$pid"

  xclock -analog -update 1 -geometry "${size}+0+0" &
  clock=$!
  pids+=("$clock")
  sleep 2
  measure xclock "$clock"
  echo "  ratios dialsaver/xclock: cpu $(ratio "$d_cpu" "$cpu"), X server cpu $(ratio "$d_server" "$server")," \
    "wakeups $(ratio "$d_wakeups" "$wakeups"), peak memory $(ratio "$d_peak" "$peak")"
  kill "$clock" "$xvfb"
  exec {fd}>&-
done
