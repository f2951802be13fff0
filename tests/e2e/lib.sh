# Shared by the end-to-end suites: counting checks, and waiting by polling for a condition.
#   source "$(dirname "$0")/lib.sh"; ... check "NAME" COMMAND...; ... finish SUITE
# Each suite ends with `finish`, which prints "SUITE: N passed, N failed, N skipped" and fails when any
# check failed.

passed=0
failed=0
skipped=0
# A suite may set `label` to prefix what it prints (the build a check is about, say).
pass() { passed=$((passed + 1)); printf 'ok    %s%s\n' "${label:-}" "$1"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s%s\n' "${label:-}" "$1"; }
skip() { skipped=$((skipped + 1)); printf 'skip  %s%s\n' "${label:-}" "$1"; }
check() {  # check NAME COMMAND...: passes when the command succeeds
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}
finish() {  # finish SUITE: the closing line, and the suite's exit status
  echo "$1: $passed passed, $failed failed, $skipped skipped"
  ((failed == 0))
}

# Milliseconds since the epoch.
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
to_ms() { awk -v s="$1" 'BEGIN { printf "%d", s * 1000 }'; }

# wait_for SECONDS COMMAND...: polls every 50 ms until the command succeeds, for at most SECONDS (a whole
# number or a decimal fraction).
wait_for() {
  local deadline=$(($(now_ms) + $(to_ms "$1")))
  shift
  until "$@"; do
    (($(now_ms) < deadline)) || return 1
    sleep 0.05
  done
}

# Alive and not a zombie.
running() { [[ -r /proc/$1/stat ]] && ! grep -qs ') Z ' "/proc/$1/stat"; }

# The id of a shown window whose name matches the regular expression, or nothing.
shown_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
window_shown() { [[ -n $(shown_window "$1") ]]; }

# ---- Displays and window managers ----
# Each suite runs its checks on a bare Xvfb and under each window manager a user may have. With no
# DIALSAVER_E2E_WM set, a suite runs itself once per manager (run_under_each_wm) and sums the counts; with
# it set (none, openbox or xfwm4) it runs its checks once, on its own display under that manager.
# DIALSAVER_E2E_WMS names the managers to run under (default "none openbox xfwm4": all three; "none" runs
# on the bare server only).
read -r -a e2e_wms <<<"${DIALSAVER_E2E_WMS:-none openbox xfwm4}"
wm=${DIALSAVER_E2E_WM:-}
under_wm() { [[ -n $wm && $wm != none ]]; }

# run_under_each_wm SCRIPT [ARGS...]: runs SCRIPT once per manager, two at a time (each on its own display),
# prefixing its lines with the manager, and adds their counts to `passed`, `failed` and `skipped`.
# DIALSAVER_E2E_PARALLEL=1 runs them one after another. Each run starts its own Xvfb, so they share nothing.
run_under_each_wm() {
  local script=$1 name out status
  shift
  local -A pid_of=()
  local logs=${TMPDIR:-/tmp}/dialsaver-wm.$$
  mkdir -p "$logs"
  local limit=${DIALSAVER_E2E_PARALLEL:-2} running_now=()
  for name in "${e2e_wms[@]}"; do
    while ((${#running_now[@]} >= limit)); do
      wait "${running_now[0]}"
      running_now=("${running_now[@]:1}")
    done
    DIALSAVER_E2E_WM=$name bash "$script" "$@" >"$logs/$name.log" 2>&1 &
    pid_of[$name]=$!
    running_now+=("$!")
  done
  for name in "${e2e_wms[@]}"; do
    wait "${pid_of[$name]}"
    status=$?
    sed "s/^/[$name] /" "$logs/$name.log"
    out=$(tail -1 "$logs/$name.log")
    if [[ $out =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed,\ ([0-9]+)\ skipped ]]; then
      passed=$((passed + BASH_REMATCH[1]))
      failed=$((failed + BASH_REMATCH[2]))
      skipped=$((skipped + BASH_REMATCH[3]))
      ((status == 0)) || ((BASH_REMATCH[2] > 0)) || fail "[$name] the suite ended with status $status"
    else
      fail "[$name] the suite ended early (status $status)"
    fi
  done
  rm -rf "$logs"
}

# once_per_wm SUITE SCRIPT [ARGS...]: with no manager chosen, runs SCRIPT under each manager, prints the
# suite's closing line and exits; with one chosen, returns and the script runs its checks under it.
once_per_wm() {
  [[ -n $wm ]] && return 0
  local suite=$1
  shift
  run_under_each_wm "$@"
  finish "$suite"
  exit
}

wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# start_wm LOG: starts the manager named by $wm on $DISPLAY and waits until it has claimed the screen;
# sets $wm_pids (the manager, and for xfwm4 the session bus its settings daemon needs).
start_wm() {
  wm_pids=()
  under_wm || return 0
  case $wm in
    openbox)
      openbox --sm-disable >"$1" 2>&1 &
      wm_pids+=("$!")
      ;;
    xfwm4)
      local bus
      bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 2>>"$1") || return 1
      wm_pids+=("$(sed -n 2p <<<"$bus")")
      DBUS_SESSION_BUS_ADDRESS=$(head -1 <<<"$bus") NO_AT_BRIDGE=1 xfwm4 --compositor=off >"$1" 2>&1 &
      wm_pids+=("$!")
      ;;
    *)
      echo "unknown window manager: $wm" >&2
      return 1
      ;;
  esac
  wait_for 30 wm_ready
}

# ---- Windows on the screen ----
# place ID: sets X, Y (the window's top-left on the root window), WIDTH and HEIGHT. xdotool's position of a
# window a manager has framed is off by the frame's offset, so the root position is read from xwininfo.
place() {
  local info
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  X=$(awk '/Absolute upper-left X:/ {print $4}' <<<"$info")
  Y=$(awk '/Absolute upper-left Y:/ {print $4}' <<<"$info")
  WIDTH=$(awk '/^ +Width:/ {print $2}' <<<"$info")
  HEIGHT=$(awk '/^ +Height:/ {print $2}' <<<"$info")
  [[ -n $X && -n $Y && -n $WIDTH && -n $HEIGHT ]]
}

# frame_extents ID: sets frame_left, frame_right, frame_top and frame_bottom, the manager's frame around
# the window (_NET_FRAME_EXTENTS; all 0 on a bare server, which frames nothing).
frame_extents() {
  local e
  e=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -oE '[0-9]+, [0-9]+, [0-9]+, [0-9]+$' | tr -d ,)
  read -r frame_left frame_right frame_top frame_bottom <<<"${e:-0 0 0 0}"
}

# framed ID: the window shows, in a manager's frame if there is one: a manager maps the frame only once it
# has placed it, so the window's place is final after that.
framed() {
  xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable' &&
    { ! under_wm || xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -q '='; }
}

# moves_and_closes_only ID: the window asks for a frame that moves and closes only (Motif hints: the
# functions move and close; no decorations for resizing, minimising or maximising), and the manager allows
# it no resizing or maximising, nor minimising except under openbox, which keeps minimise for every window
# whatever the hints say. Sets frame_report to what the window and the manager say.
moves_and_closes_only() {
  local hints actions forbidden='RESIZE|MAXIMIZE'
  hints=$(xprop -id "$1" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/.*= //p')
  actions=$(xprop -id "$1" _NET_WM_ALLOWED_ACTIONS 2>/dev/null | sed -n 's/.*= //p')
  frame_report="hints $hints; $wm allows ${actions//_NET_WM_ACTION_/}"
  [[ $wm == openbox ]] || forbidden+='|MINIMIZE'
  # Flags 0x3: functions and decorations given; functions 0x24: move and close; decorations: not all (0x1),
  # no resize handles (0x4), no minimise (0x20) or maximise (0x40) box.
  [[ $hints =~ ^0x3,\ 0x24,\ (0x[0-9a-f]+) ]] && (((BASH_REMATCH[1] & 0x65) == 0)) &&
    [[ $actions == *_NET_WM_ACTION_CLOSE* && ! $actions =~ _NET_WM_ACTION_($forbidden) ]]
}

# Ends every process the suite started (their ids in the array `pids`) and reaps them, quietly.
end_started() {
  local pid
  {
    for pid in "${pids[@]}"; do kill -KILL "$pid"; done
    for pid in "${pids[@]}"; do wait "$pid"; done
  } >/dev/null 2>&1
}

# require SUITE PROGRAM... -- TOOL...: exits with a message when a built program or a tool is missing.
require() {
  local suite=$1 need
  shift
  while (($# > 0)) && [[ $1 != -- ]]; do
    [[ -x $1 ]] || { echo "$suite: $1 is missing: build the linux preset first" >&2; exit 1; }
    shift
  done
  (($# > 0)) && shift
  for need in "$@"; do
    command -v "$need" >/dev/null || { echo "$suite: $need is missing (scripts/setup installs it)" >&2; exit 1; }
  done
}
