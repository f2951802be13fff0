# Shared by the end-to-end suites: counting checks, and waiting by polling for a condition.
#   source "$(dirname "$0")/lib.sh"; ... check "NAME" COMMAND...; ... finish SUITE
# Each suite ends with `finish`, which prints "SUITE: N passed, N failed, N skipped" and fails when any
# check failed.

passed=0
failed=0
skipped=0
pass() { passed=$((passed + 1)); printf 'ok    %s\n' "$1"; }
fail() { failed=$((failed + 1)); printf 'FAIL  %s\n' "$1"; }
skip() { skipped=$((skipped + 1)); printf 'skip  %s\n' "$1"; }
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
