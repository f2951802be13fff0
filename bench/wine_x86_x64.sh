#!/usr/bin/env bash
# The x86 and x64 Windows builds side by side under Wine, each in a warm prefix of its own (booted before
# anything is timed) on a private Xvfb display:
#   start-up     /S started to the first frame on the screen (the first drawn pixel in a column through the
#                dial), the median of 3 runs, polled every ~0.1 s
#   saver peak   peak resident memory of the saver at 1920 x 1080 after 5 s
#   preview peak peak resident memory of a preview in a 152 x 112 host on a 7680 x 4320 screen after 5 s
#                (the preview process also holds the hidden full-screen saver form)
# Memory is the Linux process's VmHWM, Wine's own libraries included. Needs what scripts/test builds.
#   bench/wine_x86_x64.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
declare -A loader_of=([x64]=/usr/lib/wine/wine64 [x86]=/usr/lib/wine/wine)
declare -A winearch_of=([x64]=win64 [x86]=win32)
for arch in x64 x86; do
  [[ -e build/windows-$arch/bin/wine_helper.exe ]] || { echo "build the windows-$arch preset first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/dialsaver-bench.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
stop_xvfb() {
  local prefix
  for prefix in "$work"/prefix-*; do [[ -d $prefix ]] && WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null; done
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
}
trap 'stop_xvfb; rm -rf "$work"' EXIT
start_xvfb() {  # WxH
  stop_xvfb
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
  export DISPLAY=:$(head -1 "$work/display")
}
use() {
  arch=$1 wine=${loader_of[$1]} bin=$root/build/windows-$1/bin
  export WINEPREFIX=$work/prefix-$1 WINEARCH=${winearch_of[$1]}
  [[ -d $WINEPREFIX ]] || "$wine" wineboot -i >/dev/null 2>&1
  "$wine" reg delete 'HKCU\Software\VB and VBA Program Settings\Quillet\Settings' /f >/dev/null 2>&1
}
peak_mib() { awk '/VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
# The root is made black first; the saver's window is black until its first frame shows the face.
frame_shown() {
  [[ $(convert x:root -crop 1x1080+900+0 -format '%[fx:maxima > 0]' info: 2>/dev/null) == 1 ]]
}
now_ms() { date +%s%3N; }

declare -A startup saver preview
start_xvfb 1920x1080
for arch in x64 x86; do
  use "$arch"
  times=()
  for _ in 1 2 3; do
    xsetroot -solid black 2>/dev/null
    begin=$(now_ms)
    "$wine" "$bin/dialsaver.scr" /S >/dev/null 2>&1 &
    pid=$!
    while ! frame_shown && ((($(now_ms) - begin) < 60000)); do sleep 0.02; done
    times+=($(($(now_ms) - begin)))
    sleep 5
    peak=$(peak_mib "$pid")
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  startup[$arch]=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
  saver[$arch]=$peak
done

start_xvfb 7680x4320
for arch in x64 x86; do
  use "$arch"
  "$wine" "$bin/wine_helper.exe" host "$bin/dialsaver.scr" destroy 6000 >"$work/host.log" 2>&1 &
  host=$!
  sleep 5.5
  pid=
  for p in $(pgrep -f 'dialsaver.scr /p'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && pid=$p
  done
  preview[$arch]=$([[ -n $pid ]] && peak_mib "$pid" || echo "n/a")
  wait "$host" || preview[$arch]="failed: $(tr -d '\r' <"$work/host.log")"
done

printf '%-6s %22s %26s %30s\n' build "start-up to frame (ms)" "saver peak 1920x1080 (MiB)" "preview peak 7680x4320 (MiB)"
for arch in x64 x86; do
  printf '%-6s %22s %26s %30s\n' "$arch" "${startup[$arch]}" "${saver[$arch]}" "${preview[$arch]}"
done
