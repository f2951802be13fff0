#!/usr/bin/env bash
# The Linux settings file under faults: saving processes killed at random, two processes saving at once
# while a third reads, loading while another process saves, a read-only folder, a full disk and a file
# that is a folder. Each save goes through
# the program's own SaveSettings (tests/hardening/settings_stress.cpp). The mounts need root; without it
# those cases are skipped with a message.
set -uo pipefail
cd "$(dirname "$0")/../.."
source tests/e2e/lib.sh
stress=build/linux/bin/settings_stress
[[ -x $stress ]] || { echo "settings_crash: $stress is not built" >&2; exit 1; }

work=$(mktemp -d /tmp/dialsaver-settings.XXXXXX)
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

holds() { "$stress" check "$1"; }  # prints "<a|b|none|mixed> <temporary files>"
# save_refused CASE ROOT: a save of set b must fail with a message and leave set a as it was.
save_refused() {
  local message
  if message=$("$stress" save "$2" b 2>&1); then
    fail "$1: the save reported success"
  elif [[ $(holds "$2") == "a 0" && -n $message ]]; then
    pass "$1: \"$message\"; the old file is intact, no temporary file left"
  else
    fail "$1: the file now holds $(holds "$2")"
  fi
}

# 1. Kills at random moments during 1,000 alternating saves.
root=$work/kill
if "$stress" kill "$root" 1000; then pass "kills during saves"; else fail "kills during saves"; fi
touch "$root/Quillet/Settings.ini.tmp"  # what a kill at the worst moment leaves
"$stress" save "$root" a
[[ $(holds "$root") == "a 0" ]] && pass "the next save removes a stray temporary file" \
  || fail "a stray temporary file outlives the next save: $(holds "$root")"

# 2. Two processes saving different keys while a third reads.
if "$stress" race "$work/race" 1000; then pass "concurrent saves"; else fail "concurrent saves"; fi

# 3. Loading while another process saves: each load gives one whole set.
if "$stress" load "$work/load" 1000 2>/dev/null; then pass "loads during saves"; else fail "loads during saves"; fi

# 4. A folder of the settings that is read-only (a read-only bind mount: root writes anywhere else).
root=$work/readonly
"$stress" save "$root" a
if mount --bind "$root/Quillet" "$root/Quillet" 2>/dev/null; then
  mounts+=("$root/Quillet")
  if mount -o remount,bind,ro "$root/Quillet" 2>/dev/null; then
    save_refused "read-only folder" "$root"
  else
    skip "cannot remount read-only"
  fi
else
  skip "read-only folder: cannot mount (needs root)"
fi

# 5. A full disk: a small tmpfs, filled up after the first save.
root=$work/full
mkdir -p "$root/Quillet"
if mount -t tmpfs -o size=64k tmpfs "$root/Quillet" 2>/dev/null; then
  mounts+=("$root/Quillet")
  "$stress" save "$root" a
  dd if=/dev/zero of="$root/Quillet/filler" bs=4k 2>/dev/null
  save_refused "full disk" "$root"
else
  skip "full disk: cannot mount a tmpfs (needs root)"
fi

# 6. The settings file's path is a folder.
root=$work/folder
mkdir -p "$root/Quillet/Settings.ini"
echo keep >"$root/Quillet/Settings.ini/inside"
if message=$("$stress" save "$root" a 2>&1); then
  fail "a save onto a folder reported success"
elif [[ -d $root/Quillet/Settings.ini && $(cat "$root/Quillet/Settings.ini/inside") == keep && -n $message ]]; then
  pass "path is a folder: \"$message\"; the folder is untouched"
else
  fail "path is a folder: the folder was changed"
fi

finish settings_crash.sh
