#!/usr/bin/env bash
# End-to-end tests of the packages, used as a user would use them. scripts/package builds dist/; the .deb
# is installed with apt-get, and a user made for the test adds "dialsaver /S" to ~/.xscreensaver as the
# README says. On an Xvfb display: the XScreenSaver daemon runs it as its hack and the screen must be what
# dialsaver-render draws for the same second; xscreensaver-settings must show the clock in its preview
# pane; the menu entry's command line must show the settings dialog, whose OK saves the user's settings.
# Then the package is removed: none of its files may be left, and the user's settings file stays. Each
# Windows zip must hold the four files; its dialsaver.scr /S, unzipped, must show the clock under Wine
# (x64 with wine64; x86 when the 32-bit Wine is installed).
#
# Needs root (apt-get, a test user); without it only the zips are tested. The package is purged on the
# way out and before installing, so a run that stopped half way does not spoil the next. Uses
# dialsaver-render and x11_probe from build/linux. Every wait polls for its condition with a generous
# bound. Exits non-zero on any failure; the last line is "N passed, N failed, N skipped".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/e2e/lib.sh"
cd "$root"
build=$root/build/linux
render=$build/bin/dialsaver-render
probe=$build/tests/e2e/x11_probe
width=1024
height=768
user=dialsaver-pkg
apt=(apt-get -o DPkg::Lock::Timeout=600 -y -q)

pids=()
installed=
work=$(mktemp -d /tmp/dialsaver-e2e-package.XXXXXX)
chmod 755 "$work"


as_user() { runuser -u "$user" -- env DISPLAY="$DISPLAY" HOME="$home" NO_AT_BRIDGE=1 "$@"; }

purge() { DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge dialsaver >"$work/purge.log" 2>&1; }

cleanup() {
  {
    [[ -n ${home:-} ]] && as_user xscreensaver-command -exit
    [[ -n ${WINEPREFIX:-} ]] && /usr/lib/wine/wineserver -k
    end_started
    [[ -n $installed ]] && purge
  } >/dev/null 2>&1
  [[ -n ${KEEP_E2E:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

require package.sh "$render" "$probe"

# ---- Helpers ----


# The clock shows across the middle row of GEOMETRY (WxH+X+Y): the bezel's grey and the dial's white.
clock_in() {
  local geometry=$1 w=${1%%x*} rest=${1#*x} row
  local h=${rest%%+*}
  "$probe" capture "$geometry" "$work/area.ppm" 2>/dev/null || return 1
  row=$(convert "$work/area.ppm" -crop "${w}x1+0+$((h / 2))" +repage txt:- 2>/dev/null)
  [[ $(grep -c '#B4B4B4' <<<"$row") -ge $((w / 50)) && $(grep -c '#FFFFFF' <<<"$row") -ge $((w / 10)) ]]
}

# matches_render NAME CONFIG_HOME GEOMETRY RENDER_OPTIONS...: the screen inside GEOMETRY (WxH+X+Y) is,
# pixel for pixel, what dialsaver-render draws with the user's settings for the second of the capture or
# the one before it (the tick drawing a second may come just after the capture starts). The capture
# starts just after a second begins and is taken again if that second ended before it did, and again
# while the first tick may not have come, for 10 tries.
matches_render() {
  local name=$1 config=$2 geometry=$3
  shift 3
  local shot=$work/$name-screen.ppm try before after ae t
  for try in 1 2 3 4 5 6 7 8 9 10; do
    wait_for 3 eval '(( 10#$(date +%N) / 1000000 >= 30 && 10#$(date +%N) / 1000000 < 200 ))'
    before=$(date +%s)
    "$probe" capture "$geometry" "$shot"
    after=$(date +%s)
    [[ $before == "$after" ]] || continue
    for t in "$before" $((before - 1)); do
      XDG_CONFIG_HOME=$config "$render" "$@" --time "$(date -d "@$t" +%H:%M:%S)" --out "$work/$name-$t.png" \
        >"$work/render.log" 2>&1 || { echo "  dialsaver-render failed:"; cat "$work/render.log"; return 1; }
      ae=$(compare -metric AE "$shot" "$work/$name-$t.png" "$work/$name-diff-$t.png" 2>&1 >/dev/null)
      echo "  $name at $(date -d "@$t" +%H:%M:%S): $ae pixels differ"
      [[ $ae == 0 ]] && return 0
    done
  done
  return 1
}

# ---- The packages ----

echo "package.sh: building the packages"
if ! scripts/package >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  fail "scripts/package builds the packages"
  finish package.sh
  exit 1
fi
pass "scripts/package builds the packages"
version=$(sed -n 's/^Version: //p' "$build/packaging/deb/control")
deb=dist/dialsaver_${version}_amd64.deb
check "lintian reports no errors on $deb" eval '! grep -q "lintian: E:" "$work/package.log"'

# ---- cmake --install under another prefix, staged under DESTDIR ----

prefix=$work/opt
DESTDIR=$work/stage cmake --install "$build" --prefix "$prefix" >"$work/install-prefix.log" 2>&1
staged=$work/stage$prefix
check "cmake --install --prefix puts the program and a.gif together" \
  test -x "$staged/lib/dialsaver/dialsaver" -a -f "$staged/lib/dialsaver/a.gif"
check "the hack and PATH links lead to the program" eval \
  '[[ $staged/libexec/xscreensaver/dialsaver -ef $staged/lib/dialsaver/dialsaver &&
     $staged/bin/dialsaver -ef $staged/lib/dialsaver/dialsaver ]]'
check "the menu entry and the manual page name the program under that prefix" eval \
  'grep -qx "Exec=$prefix/lib/dialsaver/dialsaver /C" "$staged/share/applications/dialsaver-settings.desktop" &&
   grep -q "^.IR $prefix/lib/dialsaver/dialsaver ,\$" "$staged/share/man/man6/dialsaver.6"'

# ---- The display ----

mkfifo "$work/displayfd"
exec {fd}<>"$work/displayfd"
Xvfb -displayfd "$fd" -screen 0 "${width}x${height}x24" -nolisten tcp -ac -noreset >"$work/xvfb.log" 2>&1 &
pids+=("$!")
display_number=""
read -r -t 20 -u "$fd" display_number || { echo "package.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display_number
unset XSCREENSAVER_WINDOW

# ---- The .deb, installed and used ----

deb_test() {
  purge
  if ! DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "./$deb" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "apt-get install ./$deb"
    return
  fi
  installed=yes
  pass "apt-get install ./$deb"
  dpkg-query -L dialsaver | sort >"$work/files"
  check "the hack lies where XScreenSaver looks for hacks" test -x /usr/libexec/xscreensaver/dialsaver
  check "its description lies where xscreensaver-settings reads them" test -f /usr/share/xscreensaver/config/dialsaver.xml
  check "the manual page is found as dialsaver(6)" eval '[[ $(man -w 6 dialsaver 2>/dev/null) == /usr/share/man/man6/dialsaver.6.gz ]]'
  local desktop=/usr/share/applications/dialsaver-settings.desktop
  check "the menu entry is a valid desktop entry named Dialsaver settings" \
    eval 'desktop-file-validate "$desktop" && grep -qx "Name=Dialsaver settings" "$desktop"'
  check "the menu entry's icon is in the icon theme" test -f /usr/share/icons/hicolor/48x48/apps/dialsaver.png

  # The user, with the one line the README gives in ~/.xscreensaver and no settings of its own.
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/sh "$user"
  home=$(getent passwd "$user" | cut -d: -f6)
  rm -rf "$home/.config" "$home/.xscreensaver"
  printf '%s\n' 'timeout: 0:30:00' 'cycle: 0:00:00' 'lock: False' 'fade: False' 'unfade: False' 'splash: False' \
    'dpmsEnabled: False' 'mode: one' 'selected: 0' 'programs: \' \
    "$(sed -n 's/^ *\(".*dialsaver \/S.*\)$/\1/p' README.md | head -1)" '' >"$home/.xscreensaver"
  chown "$user:" "$home/.xscreensaver"
  check "the README gives the ~/.xscreensaver line ($(tail -2 "$home/.xscreensaver" | head -1))" \
    grep -q 'dialsaver /S' "$home/.xscreensaver"

  as_user xscreensaver -no-splash >"$work/xss.log" 2>&1 &
  pids+=("$!")
  if wait_for 30 eval 'as_user xscreensaver-command -time >/dev/null 2>&1'; then
    as_user xscreensaver-command -activate >/dev/null 2>&1
    check "XScreenSaver runs the installed hack, and the clock shows" wait_for 30 clock_in "${width}x${height}+0+0"
    check "the hack shows what dialsaver-render draws for the same second" \
      matches_render xscreensaver "$home/.config" "${width}x${height}+0+0" --size "${width}x${height}"
    as_user xscreensaver-command -deactivate >/dev/null 2>&1
    check "deactivating XScreenSaver ends the hack" wait_for 10 eval '[[ -z $(hack_pids) ]]'
    settings_pane_test
  else
    cat "$work/xss.log"
    fail "the XScreenSaver daemon answers"
  fi
  menu_entry_test "$desktop"

  remove_test
}

hack_pids() { pgrep -u "$user" -f '^dialsaver /S'; }

# The window in the hack's XSCREENSAVER_WINDOW: xscreensaver-settings' preview pane once the daemon's
# own hack has ended.
pane_window() {
  local pid
  for pid in $(hack_pids); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | sed -n 's/^XSCREENSAVER_WINDOW=//p'
  done | head -1
}

settings_pane_test() {
  as_user xscreensaver-settings >"$work/settings.log" 2>&1 &
  pids+=("$!")
  if ! wait_for 30 eval '[[ -n $(pane_window) ]]'; then
    fail "xscreensaver-settings runs dialsaver in its preview pane"
    import -window root "$work/settings-screen.png"
    return
  fi
  pass "xscreensaver-settings runs dialsaver in its preview pane"
  local pane=$(($(pane_window))) x y w h
  eval "$(xwininfo -id "$pane" | awk '/Absolute upper-left X/ { print "x=" $NF } /Absolute upper-left Y/ { print "y=" $NF }
    /Width:/ { print "w=" $NF } /Height:/ { print "h=" $NF }')"
  check "the preview pane (${w}x${h}) shows the small clock" wait_for 30 clock_in "${w}x${h}+$x+$y"
  check "the pane shows what dialsaver-render draws at its size" \
    matches_render pane "$home/.config" "${w}x${h}+$x+$y" --size "${w}x${h}"
  import -window root "$work/settings-screen.png"
  local pid
  for pid in $(pgrep -u "$user" -f '^xscreensaver-settings'); do kill "$pid"; done
  check "closing xscreensaver-settings ends the hack in its pane" wait_for 10 eval '[[ -z $(hack_pids) ]]'
}

menu_entry_test() {
  local command
  command=$(sed -n 's/^Exec=//p' "$1")
  as_user sh -c "$command" >"$work/menu.log" 2>&1 &
  local dialog_pid=$!
  pids+=("$dialog_pid")
  if ! wait_for 20 window_shown '^dialsaver-Created by '; then
    fail "the menu entry ($command) shows the settings dialog"
    return
  fi
  pass "the menu entry ($command) shows the settings dialog"
  import -window root "$work/dialog-screen.png"
  # The focus starts on Change Picture; Tab goes to Cancel, then to OK.
  xdotool windowfocus --sync "$(shown_window '^dialsaver-Created by ')" key Tab Tab Return
  check "its OK saves the user's settings" wait_for 10 grep -q '^STRETCH_PIc=' "$home/.config/Quillet/Settings.ini"
  wait_for 10 eval '! running $dialog_pid'
}

remove_test() {
  as_user xscreensaver-command -exit >/dev/null 2>&1
  local settings=$home/.config/Quillet/Settings.ini had_settings=
  [[ -s $settings ]] && had_settings=yes
  if ! DEBIAN_FRONTEND=noninteractive "${apt[@]}" remove dialsaver >"$work/remove.log" 2>&1; then
    cat "$work/remove.log"
    fail "apt-get remove dialsaver"
    return
  fi
  installed=
  pass "apt-get remove dialsaver"
  local left=() path
  while read -r path; do
    [[ -d $path && ! -L $path ]] && continue
    [[ -e $path || -L $path ]] && left+=("$path")
  done <"$work/files"
  for path in /usr/lib/dialsaver /usr/share/doc/dialsaver; do
    [[ -e $path ]] && left+=("$path")
  done
  check "no file of the package is left (${left[*]:-none})" test ${#left[@]} -eq 0
  if [[ -n $had_settings ]]; then
    check "the user's settings file stays" test -s "$settings"
  else
    skip "the user's settings file stays (the dialog saved none)"
  fi
}

if ((EUID != 0)); then
  skip "the .deb installed with apt-get and used (needs root)"
elif ! command -v xscreensaver >/dev/null; then
  skip "the .deb installed with apt-get and used (needs xscreensaver)"
else
  deb_test
fi

# ---- The Windows zips ----

zip_test() {  # zip_test ARCH LOADER
  local arch=$1 loader=$2 zip=dist/dialsaver-${version}-windows-$1.zip dir=$work/windows-$1
  local listing
  listing=$(unzip -Z1 "$zip" 2>/dev/null | sort | tr '\n' ' ')
  check "the $arch zip holds a.gif, dialsaver.exe, dialsaver.scr and README.txt" \
    test "$listing" = "README.txt a.gif dialsaver.exe dialsaver.scr "
  mkdir -p "$dir"
  unzip -q "$zip" -d "$dir"
  check "its README.txt tells how to install the .scr" grep -q 'Right-click dialsaver.scr and choose Install' "$dir/README.txt"
  # The record's text form is major.minor with two digits of minor: 1.00 for 1.0.0.
  local major=${version%%.*} minor=${version#*.}
  minor=${minor%%.*}
  local version_text=$major.$(printf '%02d' "$minor")
  check "its programs' version records say $version_text" eval \
    '[[ $(strings -el "$dir/dialsaver.scr" | grep -A1 -x FileVersion | tail -1) == "$version_text" &&
       $(strings -el "$dir/dialsaver.exe" | grep -A1 -x ProductVersion | tail -1) == "$version_text" ]]'
  if [[ -z $loader ]]; then
    skip "the $arch dialsaver.scr /S under Wine (the 32-bit Wine is not installed)"
    return
  fi
  (cd "$dir" && exec "$loader" dialsaver.scr /S) >"$work/wine-$arch.log" 2>&1 &
  local saver=$!
  pids+=("$saver")
  if wait_for 90 window_shown '^dialsaver$'; then
    check "the unzipped $arch dialsaver.scr /S shows the clock full screen under Wine" \
      wait_for 30 clock_in "${width}x${height}+0+0"
    "$probe" capture "${width}x${height}+0+0" "$work/wine-$arch-first.ppm"
    check "its clock ticks" wait_for 10 eval \
      '"$probe" capture "${width}x${height}+0+0" "$work/wine-$arch-screen.ppm" &&
       ! cmp -s "$work/wine-$arch-first.ppm" "$work/wine-$arch-screen.ppm"'
    xdotool key a
    check "a key ends it" wait_for 10 eval '! running $saver'
  else
    fail "the unzipped $arch dialsaver.scr /S shows a window under Wine"
  fi
  /usr/lib/wine/wineserver -k 2>/dev/null
  /usr/lib/wine/wineserver -w 2>/dev/null
}

export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" XDG_CONFIG_HOME=$work/wine-config
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
zip_test x64 /usr/lib/wine/wine64
if [[ -x /usr/lib/wine/wine ]] && dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
  zip_test x86 /usr/lib/wine/wine
else
  zip_test x86 ""
fi

finish package.sh
