#!/usr/bin/env bash
# Measures the Linux saver beside xclock (-analog -update 1) on the same Xvfb server, one after the other,
# and prints a Markdown table with the ratios:
#   - the first full frame: the time from start until a pixel of the saver's bezel shows its colour, over
#     several starts (min, median, max). For xclock, until a pixel of its window shows the window's white:
#     the window is mapped and cleared, which is never later than its face, so xclock's figure is a bound
#     in its favour.
#   - CPU per second over a span, the program's own and the X server's, each the sum over all of the
#     process's threads of the nanoseconds /proc/<pid>/task/<tid>/schedstat counts (microsecond resolution
#     and better), so a loaded machine changes it little;
#   - wakeups per second: voluntary and involuntary context switches of all threads;
#   - peak resident memory (VmHWM) at the end of a span.
# Beside them, the floor: `x11_probe xor-rows` flips one pixel in each of as many rows a second as a
# saver's tick changes on average (dialsaver_bench's BM_tick_pen counts them), from a bare Xlib client
# that does nothing else. The X server's part of it is what touching those rows of its framebuffer costs
# on this host, which no client that shows these hands can avoid; it moves with the host's memory more
# than anything the saver does.
# The spans come in rounds, the two programs one after the other in each, each started afresh: the host's
# drift over the minutes then weighs on both alike. A span of whole minutes sees every position of the
# second hand, whose length on each row is most of what a tick sends. The table gives the median of the
# rounds (the largest peak), and the rounds are listed under it.
#
#   bench/xclock_compare.sh [--span SECONDS] [--starts N] [--rounds N] [WxH ...]
#   (default: 60 s spans, 7 starts, 3 rounds, 1920x1080 3840x2160)
#
# Uses build/linux (or DIALSAVER_BENCH_BUILD) as scripts/test built it; builds nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
build=${DIALSAVER_BENCH_BUILD:-$root/build/linux}
bin=$build/bin
probe=$build/tests/e2e/x11_probe
bench=$build/bench/dialsaver_bench
span=60
starts=7
rounds=3
sizes=()
while (($# > 0)); do
  case $1 in
    --span) span=$2; shift 2 ;;
    --starts) starts=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    -h | --help) sed -n '2,26p' "$0"; exit 0 ;;
    *x*) sizes+=("$1"); shift ;;
    *) echo "xclock_compare.sh: unknown argument $1 (--help says what it takes)" >&2; exit 2 ;;
  esac
done
((${#sizes[@]} > 0)) || sizes=(1920x1080 3840x2160)
for need in "$bin/dialsaver" "$bin/dialsaver-render" "$probe"; do
  [[ -x $need ]] || { echo "xclock_compare.sh: $need is missing: build the linux preset first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/dialsaver-bench.XXXXXX)
pids=()
cleanup() {
  { for p in "${pids[@]}"; do kill -KILL "$p"; done; for p in "${pids[@]}"; do wait "$p"; done; } >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# CPU nanoseconds and context switches of every thread of a process (threads that ended are not counted:
# the programs measured keep theirs).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ n += $1 } END { printf "%.0f", n }'; }
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { n += $2 } END { print n }'
}
peak_kib() { awk '/^VmHWM/ { print $2 }' "/proc/$1/status"; }
gone() { ! kill -0 "$1" 2>/dev/null; }
# end PID: kills a process that is not our child and waits, for at most 10 s, until it is gone.
end() {
  kill "$1" 2>/dev/null || true
  for _ in $(seq 200); do gone "$1" && return 0; sleep 0.05; done
  kill -KILL "$1" 2>/dev/null || true
}
# stats N...: "min median max" of the numbers, as they are written (the median of an even count is the
# lower middle one).
stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[1], v[int((NR + 1) / 2)], v[NR] }'; }
median() { stats "$@" | cut -d' ' -f2; }
largest() { stats "$@" | cut -d' ' -f3; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "n/a"; else printf "%.1f", a / b }'; }
sum() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'; }
# tick_rows W H: the rows a tick of the saver on a W x H screen changes, on average over the ticks the
# benchmark runs (hours of clock time); empty when the benchmarks were not built.
tick_rows() {
  [[ -x $bench ]] || return 0
  "$bench" --benchmark_filter="^BM_tick_pen/$1/$2\$" 2>/dev/null |
    awk 'match($0, /rows=[0-9.]+k?/) { v = substr($0, RSTART + 5, RLENGTH - 5); if (v ~ /k$/) v *= 1000; printf "%.0f", v }'
}

# sample PID: CPU of the process and of the X server, and wakeups, over the span; sets cpu server wakeups
# (per second, cpu in ms/s with three decimals) and peak (MiB).
sample() {
  local pid=$1 c0 x0 s0 c1 x1 s1
  c0=$(cpu_ns "$pid"); x0=$(cpu_ns "$xvfb"); s0=$(switches "$pid")
  sleep "$span"
  c1=$(cpu_ns "$pid"); x1=$(cpu_ns "$xvfb"); s1=$(switches "$pid")
  cpu=$(awk -v a="$c0" -v b="$c1" -v s="$span" 'BEGIN { printf "%.3f", (b - a) / 1e6 / s }')
  server=$(awk -v a="$x0" -v b="$x1" -v s="$span" 'BEGIN { printf "%.3f", (b - a) / 1e6 / s }')
  wakeups=$(awk -v a="$s0" -v b="$s1" -v s="$span" 'BEGIN { printf "%.2f", (b - a) / s }')
  peak=$(awk -v k="$(peak_kib "$pid")" 'BEGIN { printf "%.1f", k / 1024 }')
}

# start NAME X Y RRGGBB PROGRAM...: starts the program and waits for its first frame; sets running (the
# process) and ms (the first frame's time).
start() {
  local name=$1 x=$2 y=$3 colour=$4
  shift 4
  read -r ms running < <(XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
    "$probe" first-frame "$x" "$y" "$colour" 30000 -- "$@" 2>>"$work/$name.log") ||
    { echo "xclock_compare.sh: $name showed no first frame" >&2; exit 1; }
  pids+=("$running")
}

# first_frames NAME X Y RRGGBB PROGRAM...: the first frame over the starts, each start ended; the times in
# $frames.
first_frames() {
  local i
  frames=()
  for ((i = 1; i <= starts; i++)); do
    start "$@"
    frames+=("$ms")
    end "$running"
  done
}

# round NAME X Y RRGGBB PROGRAM...: one start sampled over the span; the figures appended to NAME's lists.
round() {
  local -n cpus=$1_cpu servers=$1_server wakes=$1_wakeups peaks=$1_peak
  start "$@"
  sleep 1  # past the start's own work
  sample "$running"
  end "$running"
  cpus+=("$cpu") servers+=("$server") wakes+=("$wakeups") peaks+=("$peak")
}

echo "Machine: $(nproc) cores, $(uname -r), load average $(cut -d' ' -f1-3 /proc/loadavg) at the start; $(date -u +%Y-%m-%d)"
for size in "${sizes[@]}"; do
  mkfifo "$work/fd.$size"
  exec {fd}<>"$work/fd.$size"
  # -br: a black root, so that no pixel of the root's weave can pass for a program's colour.
  Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp -ac -noreset -br >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  pids+=("$xvfb")
  read -r -t 20 -u "$fd" number
  export DISPLAY=:$number
  rm -rf "$work/config" "$work/run"
  mkdir -p "$work/config/Quillet" "$work/run"
  chmod 700 "$work/run"
  # The saver as its user has it from the second start on: the picture it falls back to is stored, so no
  # "Image Not Found" box stands over the clock (a box nobody dismisses would be there at every start).
  printf '[Settings]\nPICTURE_PATH=%s\n' "$bin/a.gif" >"$work/config/Quillet/Settings.ini"

  XDG_CONFIG_HOME=$work/config bezel_pixel "$size" "$bin/dialsaver-render" "$work"
  saver=("$bin/dialsaver" /S)
  clock=(xclock -analog -update 1 -geometry "${size}+0+0")
  first_frames dialsaver "$x" "$y" "$colour" "${saver[@]}"
  read -r d_min d_med d_max < <(stats "${frames[@]}")
  first_frames xclock 4 4 ffffff "${clock[@]}"
  read -r x_min x_med x_max < <(stats "${frames[@]}")

  rows=$(tick_rows "${size%x*}" "${size#*x}")
  dialsaver_cpu=() dialsaver_server=() dialsaver_wakeups=() dialsaver_peak=()
  xclock_cpu=() xclock_server=() xclock_wakeups=() xclock_peak=()
  # shellcheck disable=SC2034 # the floor's wakeups and peak are filled by round, and not shown
  floor_cpu=() floor_server=() floor_wakeups=() floor_peak=()
  for ((r = 1; r <= rounds; r++)); do
    round dialsaver "$x" "$y" "$colour" "${saver[@]}"
    round xclock 4 4 ffffff "${clock[@]}"
    [[ -z $rows ]] || round floor 4 4 ffffff "$probe" xor-rows "$rows"
  done
  d_cpu=$(median "${dialsaver_cpu[@]}") d_server=$(median "${dialsaver_server[@]}")
  d_wakeups=$(median "${dialsaver_wakeups[@]}") d_peak=$(largest "${dialsaver_peak[@]}")
  cpu=$(median "${xclock_cpu[@]}") server=$(median "${xclock_server[@]}")
  wakeups=$(median "${xclock_wakeups[@]}") peak=$(largest "${xclock_peak[@]}")

  d_sum=$(sum "$d_cpu" "$d_server")
  x_sum=$(sum "$cpu" "$server")
  echo
  echo "$size, first frame over $starts starts, CPU the median of $rounds rounds of $span s:"
  echo
  echo "| | dialsaver | xclock | xclock / dialsaver |"
  echo "|---|---|---|---|"
  echo "| first frame, ms (min / median / max) | $d_min / $d_med / $d_max | $x_min / $x_med / $x_max | $(ratio "$x_med" "$d_med") |"
  echo "| peak resident memory, MiB | $d_peak | $peak | $(ratio "$peak" "$d_peak") |"
  echo "| CPU, program, ms/s | $d_cpu | $cpu | $(ratio "$cpu" "$d_cpu") |"
  echo "| CPU, X server, ms/s | $d_server | $server | $(ratio "$server" "$d_server") |"
  echo "| CPU, program + X server, ms/s | $d_sum | $x_sum | $(ratio "$x_sum" "$d_sum") |"
  echo "| wakeups (context switches), /s | $d_wakeups | $wakeups | $(ratio "$wakeups" "$d_wakeups") |"
  echo
  if [[ -n $rows ]]; then
    f_cpu=$(median "${floor_cpu[@]}") f_server=$(median "${floor_server[@]}")
    f_sum=$(sum "$f_cpu" "$f_server")
    echo "Floor, a bare Xlib client flipping the $rows rows a tick changes: program $f_cpu, X server $f_server," \
      "together $f_sum ms/s ($(ratio "$x_sum" "$f_sum")x below xclock's program + X server)."
    echo
  fi
  echo "Rounds, program / X server ms/s: dialsaver ${dialsaver_cpu[*]} / ${dialsaver_server[*]};" \
    "xclock ${xclock_cpu[*]} / ${xclock_server[*]}${rows:+; floor ${floor_cpu[*]} / ${floor_server[*]}}"
  end "$xvfb"
  exec {fd}>&-
done
