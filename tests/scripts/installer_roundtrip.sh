#!/bin/bash
# The installer's round trip under Wine, in a Wine prefix of its own (removed
# at the end, so the other tests' prefix is never touched): a silent install
# for the current user, the program starts and is ended, an upgrade in place
# keeps set.ini, ie.ini and the start-at-log-on choice, a silent uninstall
# keeps the settings and removes the files, the log-on value and the toolbar
# button's keys, an uninstall told to remove the settings leaves nothing,
# and an install for all users goes to Program Files and comes out clean.
# Also checks the portable zip and inkwarden-cli.exe --version.
set -u
IW_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$IW_ROOT/scripts/lib.sh"
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; fail=1; fi; }

command -v makensis >/dev/null || { echo "FAIL: makensis is missing (scripts/setup installs nsis)"; exit 1; }
[ -f "$IW_WIN/Inkwarden.exe" ] || { echo "SKIP: no Windows build"; exit 0; }
"$IW_ROOT/scripts/package" --no-build >/dev/null || { echo "FAIL: scripts/package"; exit 1; }
version=$(sed -n 's/^#define IW_VERSION_TEXT "\(.*\)"$/\1/p' "$IW_WIN/generated/iw_version.h")
setup=$IW_BUILD/package/Inkwarden-$version-setup.exe
zipfile=$IW_BUILD/package/Inkwarden-$version-portable.zip

ROOT=$(mktemp -d /tmp/iw-installer.XXXXXX)
export WINEPREFIX=$ROOT/prefix
iw_xvfb >/dev/null || { echo "FAIL: no X display"; exit 1; }
cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  [ -n "${IW_XVFB_PID:-}" ] && kill "$IW_XVFB_PID" 2>/dev/null
  rm -rf "$ROOT"
}
trap cleanup EXIT
trap "exit 1" INT TERM
w() { LANG=$IW_WINE_LANG LC_ALL=$IW_WINE_LANG timeout 300 wine "$@"; }
# Runs a Windows program to its end, and everything it started (the
# uninstaller hands over to a copy of itself).
wrun() { w "$@"; local rc=$?; wineserver -w; return $rc; }
LANG=$IW_WINE_LANG LC_ALL=$IW_WINE_LANG wineboot -i >/dev/null 2>&1
wineserver -w

check "the zip holds the four files in one folder" \
  '[ "$(unzip -Z1 "$zipfile" | sort | tr "\n" " ")" = "Inkwarden/ Inkwarden/IE1.ico Inkwarden/IE2.ico Inkwarden/Inkwarden.exe Inkwarden/inkwarden-cli.exe " ]'

cp "$setup" "$ROOT/setup.exe"
win_setup=$(winepath -w "$ROOT/setup.exe" 2>/dev/null)
RUN='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
UNINST='Software\Microsoft\Windows\CurrentVersion\Uninstall\Inkwarden'
EXT='Software\Microsoft\Internet Explorer\Extensions'
regval() { w reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
haskey() { w reg query "$1" >/dev/null 2>&1; }
# Whether Inkwarden.exe runs in this test's prefix (Wine 8's tasklist lists
# nothing, so the Linux process table is asked, by the process's prefix).
running() {
  local pid
  for pid in $(pgrep -f 'Inkwarden\.exe' 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

# ---- current user
dir='C:\Users\Public\IWTest\Inkwarden'
unix=$(winepath -u "$dir" 2>/dev/null)
wrun "$win_setup" /S /CurrentUser "/D=$dir"
check "silent install exits 0" '[ $? -eq 0 ]'
for f in Inkwarden.exe inkwarden-cli.exe IE1.ico IE2.ico uninstall.exe; do
  check "installed $f" '[ -f "$unix/$f" ]'
done
check "no settings written by the installer" '[ ! -e "$unix/set.ini" ] && [ ! -e "$unix/ie.ini" ]'
check "no log-on value added by the installer" '[ -z "$(regval "$RUN" Inkwarden)" ]'
check "listed for the current user" '[ "$(regval "HKCU\\$UNINST" DisplayVersion)" = "$version" ]'
check "install location recorded" '[ "$(regval "HKCU\\$UNINST" InstallLocation)" = "$dir" ]'
startmenu=$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Inkwarden.lnk' 2>/dev/null | head -1)
check "Start-menu entry" '[ -n "$startmenu" ]'
cli_version=$(w "$dir\\inkwarden-cli.exe" --version 2>/dev/null | tr -d '\r')
check "inkwarden-cli.exe --version says $version" '[ "$cli_version" = "inkwarden-cli $version" ]'

# The program starts (a first run: the settings dialog) and is ended.
w "$dir\\Inkwarden.exe" >/dev/null 2>&1 &
started=no
for _ in $(seq 120); do
  if running; then started=yes; break; fi
  sleep 1
done
check "the installed program starts" '[ $started = yes ]'
# Installing over a running program is refused (a silent run cannot ask the
# user to end it), and the program's file stays as it was.
before=$(md5sum <"$unix/Inkwarden.exe")
w "$win_setup" /S /CurrentUser >/dev/null 2>&1
check "a silent upgrade over the running program fails" '[ $? -ne 0 ]'
check "and leaves the program as it was" '[ "$(md5sum <"$unix/Inkwarden.exe")" = "$before" ]'
# Asked to close (WM_CLOSE to its windows) until it ends: on a first run
# closing the settings dialog ends the program, and the splash window that
# comes before it ignores the request.
ended=no
for _ in $(seq 30); do
  w taskkill /IM Inkwarden.exe >/dev/null 2>&1
  sleep 2
  if ! running; then ended=yes; break; fi
done
check "the program ends when asked to close" '[ $ended = yes ]'
wineserver -w

# The user's settings and choices, as the program writes them.
printf '[U]\r\nOption=111011000100\r\n[ShowIE]\r\nValue=-1\r\n' >"$unix/set.ini"
printf '[IeUrl]\r\nhttp://ads.example/=1\r\n' >"$unix/ie.ini"
cp "$unix/set.ini" "$ROOT/set.ini.before"; cp "$unix/ie.ini" "$ROOT/ie.ini.before"
w reg add "$RUN" /v Inkwarden /t REG_SZ /d "$dir\\Inkwarden.exe" /f >/dev/null 2>&1
for root in HKCU HKLM; do
  for g in '{11111111-2222-3333-4444-555555555555}' '{66666666-7777-8888-9999-AAAAAAAAAAAA}'; do
    w reg add "$root\\$EXT\\$g" /v Exec /t REG_SZ /d "$dir\\Inkwarden.exe" /f >/dev/null 2>&1
    w reg add "$root\\$EXT\\$g" /v ButtonText /t REG_SZ /d Inkwarden /f >/dev/null 2>&1
  done
done
other='{00000000-0000-0000-0000-000000000001}'
w reg add "HKCU\\$EXT\\$other" /v Exec /t REG_SZ /d 'C:\Other\tool.exe' /f >/dev/null 2>&1
w reg add 'HKCU\Software\Inkwarden' /v ShowIE /t REG_SZ /d '{66666666-7777-8888-9999-AAAAAAAAAAAA}' /f >/dev/null 2>&1

# ---- upgrade in place
wrun "$win_setup" /S /CurrentUser
check "upgrade exits 0" '[ $? -eq 0 ]'
check "upgrade keeps set.ini byte for byte" 'cmp -s "$unix/set.ini" "$ROOT/set.ini.before"'
check "upgrade keeps ie.ini byte for byte" 'cmp -s "$unix/ie.ini" "$ROOT/ie.ini.before"'
check "upgrade keeps the log-on value" '[ "$(regval "$RUN" Inkwarden)" = "$dir\\Inkwarden.exe" ]'
check "upgrade keeps the folder" '[ -f "$unix/Inkwarden.exe" ] && [ "$(regval "HKCU\\$UNINST" InstallLocation)" = "$dir" ]'

# ---- silent uninstall: settings kept
wrun "$dir\\uninstall.exe" /S
for f in Inkwarden.exe inkwarden-cli.exe IE1.ico IE2.ico uninstall.exe; do
  check "uninstall removes $f" '[ ! -e "$unix/$f" ]'
done
check "silent uninstall keeps set.ini and ie.ini" \
  'cmp -s "$unix/set.ini" "$ROOT/set.ini.before" && cmp -s "$unix/ie.ini" "$ROOT/ie.ini.before"'
check "uninstall removes the log-on value" '[ -z "$(regval "$RUN" Inkwarden)" ]'
for root in HKCU HKLM; do
  check "uninstall removes the button keys under $root" \
    '! haskey "$root\\$EXT\\{11111111-2222-3333-4444-555555555555}" && ! haskey "$root\\$EXT\\{66666666-7777-8888-9999-AAAAAAAAAAAA}"'
done
check "another program's button stays" 'haskey "HKCU\\$EXT\\$other"'
check "uninstall removes the Start-menu entry" '[ ! -e "$startmenu" ]'
check "uninstall removes the listing" '! haskey "HKCU\\$UNINST"'

# ---- reinstall over the kept settings, then uninstall with them
wrun "$win_setup" /S /CurrentUser "/D=$dir"
check "reinstall finds the kept settings" 'cmp -s "$unix/set.ini" "$ROOT/set.ini.before"'
wrun "$dir\\uninstall.exe" /S /REMOVESETTINGS
check "uninstall told to remove the settings leaves no folder" '[ ! -e "$unix" ]'
check "and no program key" '! haskey "HKCU\\Software\\Inkwarden"'

# ---- all users
wrun "$win_setup" /S /AllUsers
all=$(regval "HKLM\\$UNINST" InstallLocation)
allunix=$(winepath -u "$all" 2>/dev/null)
check "all-users install goes to Program Files" '[[ "$all" == "C:\\Program Files\\Inkwarden" ]] && [ -f "$allunix/Inkwarden.exe" ]'
check "not listed for the current user" '! haskey "HKCU\\$UNINST"'
w reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Inkwarden /t REG_SZ /d "$all\\Inkwarden.exe" /f >/dev/null 2>&1
wrun "$all\\uninstall.exe" /S
check "all-users uninstall removes the files" '[ ! -e "$allunix/Inkwarden.exe" ] && [ ! -e "$allunix" ]'
check "all-users uninstall removes the machine's log-on value" \
  '[ -z "$(regval "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run" Inkwarden)" ]'
check "all-users uninstall removes the listing" '! haskey "HKLM\\$UNINST"'

exit $fail
