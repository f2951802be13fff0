#!/usr/bin/env bash
# A day of the saver: 86,400 one-second ticks of the headless back end's fake clock at 1920 x 1080.
# Resident memory must stay flat after the first minute, and the picture after the last tick must equal a
# fresh render of the same moment (the hands are drawn and erased with the reversible pen 86,400 times).
set -uo pipefail
cd "$(dirname "$0")/../.."
bin=build/linux/bin
work=$(mktemp -d /tmp/dialsaver-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config  # the default settings, for both programs

"$bin/dialsaver-render" --size 1920x1080 --time 10:10:30 --ticks 1 --out "$work/fresh.png" || exit 1
nice -n 10 "$bin/soak" --size 1920x1080 --ticks 86400 --time 10:10:30 --compare "$work/fresh.png"
