#!/usr/bin/env bash
# Compares the first frame of Linux saver builds started alternately on one Xvfb, so that a drifting host
# load falls on all of them alike: for each program, over the starts, the milliseconds from its start
# until a bezel pixel shows its colour, and the CPU milliseconds its threads used until then (the program
# is killed at that moment).
#
#   bench/first_frame.sh [--starts N] [--size WxH] PROGRAM...   (default: 15 starts, 1920x1080)
#
# Uses build/linux (or DIALSAVER_BENCH_BUILD) for dialsaver-render and x11_probe; a PROGRAM is a
# dialsaver binary with its a.gif beside it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
build=${DIALSAVER_BENCH_BUILD:-$root/build/linux}
probe=$build/tests/e2e/x11_probe
starts=15
size=1920x1080
programs=()
while (($# > 0)); do
  case $1 in
    --starts) starts=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    -h | --help) sed -n '2,10p' "$0"; exit 0 ;;
    *) programs+=("$1"); shift ;;
  esac
done
((${#programs[@]} > 0)) || { echo "first_frame.sh: name the programs to compare (--help)" >&2; exit 2; }
work=$(mktemp -d /tmp/dialsaver-first-frame.XXXXXX)
xvfb=
trap '[[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
mkfifo "$work/fd"
exec {fd}<>"$work/fd"
Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp -ac -noreset -br >"$work/xvfb.log" 2>&1 &
xvfb=$!
read -r -t 20 -u "$fd" number
export DISPLAY=:$number
mkdir -p "$work/config" "$work/run"
chmod 700 "$work/run"
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
bezel_pixel "$size" "$build/bin/dialsaver-render" "$work"

declare -A frames cpus
for ((i = 1; i <= starts; i++)); do
  for p in "${programs[@]}"; do
    read -r ms cpu < <("$probe" first-frame-cpu "$x" "$y" "$colour" 30000 -- "$p" /S 2>/dev/null) ||
      { echo "first_frame.sh: $p showed no first frame" >&2; exit 1; }
    frames[$p]+=" $ms"
    cpus[$p]+=" $cpu"
    # The killed program's window goes before the next one starts.
    for _ in $(seq 500); do [[ $("$probe" pixel "$x" "$y") != "${colour^^}" ]] && break; sleep 0.01; done
  done
done
summary() { printf '%s\n' $1 | sort -n | awk '{ v[NR] = $1 } END { printf "min %s, median %s, max %s", v[1], v[int((NR + 1) / 2)], v[NR] }'; }
echo "$size, $starts starts each, alternately; $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for p in "${programs[@]}"; do
  echo "$p: first frame ms $(summary "${frames[$p]}"); CPU ms until it $(summary "${cpus[$p]}")"
done
