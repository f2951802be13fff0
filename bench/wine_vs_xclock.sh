#!/usr/bin/env bash
# Runs the Windows saver under wine64 and `xclock -analog -update 1` side by side on one private Xvfb screen
# (1920 x 1080 unless given), each for the same number of seconds (60 unless given), and prints each one's
# CPU seconds (user + system, its own process; Wine's server is shown apart) and peak resident memory, with
# the saver-to-xclock ratios. Needs what scripts/test builds; builds nothing.
#   bench/wine_vs_xclock.sh [SECONDS] [WxH]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
size=${2:-1920x1080}
scr=$(pwd)/build/windows-x64/bin/dialsaver.scr
[[ -e $scr ]] || { echo "build the windows-x64 preset first" >&2; exit 1; }

work=$(mktemp -d /tmp/dialsaver-bench.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1

ticks=$(getconf CLK_TCK)
cpu_seconds() { awk -v t="$ticks" '{ printf "%.2f", ($14 + $15) / t }' "/proc/$1/stat"; }
peak_mib() { awk '/VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
server_pid() { pgrep -f wineserver | while read -r p; do
  tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$p"; done | head -1; }

measure() {  # name pid -> "cpu peak" after $seconds
  local start_cpu
  start_cpu=$(cpu_seconds "$2")
  sleep "$seconds"
  echo "$(awk -v a="$(cpu_seconds "$2")" -v b="$start_cpu" 'BEGIN { printf "%.2f", a - b }') $(peak_mib "$2")"
}

/usr/lib/wine/wine64 "$scr" /S >/dev/null 2>&1 &
saver=$!
for _ in $(seq 600); do xdotool search --onlyvisible --name '^dialsaver$' >/dev/null 2>&1 && break; sleep 0.1; done
sleep 2  # past the start-up's one-off work
server=$(server_pid)
server_start=$(cpu_seconds "$server")
read -r saver_cpu saver_peak < <(measure dialsaver "$saver")
server_cpu=$(awk -v a="$(cpu_seconds "$server")" -v b="$server_start" 'BEGIN { printf "%.2f", a - b }')
kill "$saver"

xclock -analog -update 1 -geometry "$size+0+0" &
xclock=$!
sleep 2
read -r xclock_cpu xclock_peak < <(measure xclock "$xclock")
kill "$xclock"

printf '%-28s %12s %14s\n' "over $seconds s at $size" "CPU seconds" "peak RSS (MiB)"
printf '%-28s %12s %14s\n' "dialsaver.scr under wine64" "$saver_cpu" "$saver_peak"
printf '%-28s %12s %14s\n' "  (wineserver meanwhile)" "$server_cpu" "-"
printf '%-28s %12s %14s\n' "xclock -analog -update 1" "$xclock_cpu" "$xclock_peak"
awk -v a="$saver_cpu" -v b="$xclock_cpu" -v c="$saver_peak" -v d="$xclock_peak" \
  'BEGIN { printf "ratio dialsaver / xclock: CPU %s, peak memory %.1f\n", (b > 0 ? sprintf("%.1f", a / b) : "n/a (xclock used < 0.01 s)"), c / d }'
