#!/usr/bin/env bash
# Valgrind's memcheck over an hour of the saver at 3840 x 2160 (3,600 ticks on the headless back end):
# no invalid access, no use of uninitialised memory, no leak. tests/e2e/valgrind.supp holds the only
# suppressions: memory that system libraries (fontconfig, pango) keep for the process.
set -uo pipefail
cd "$(dirname "$0")/../.."
bin=build/linux/bin
work=$(mktemp -d /tmp/dialsaver-valgrind.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config

"$bin/dialsaver-render" --size 3840x2160 --time 10:10:30 --ticks 1 --out "$work/fresh.png" || exit 1
nice -n 10 valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
  --suppressions=tests/e2e/valgrind.supp --log-file="$work/memcheck.log" \
  "$bin/soak" --size 3840x2160 --ticks 3600 --time 10:10:30 --compare "$work/fresh.png"
status=$?
grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost" "$work/memcheck.log" | sed 's/^==[0-9]*== */valgrind: /'
if ((status != 0)); then
  cat "$work/memcheck.log"
  exit 1
fi
