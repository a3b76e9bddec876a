# The windows at 150%: runs the filter window, tray menu and settings dialog GUI tests in a
# Wine prefix of its own whose screen DPI is 144 (the project's shared prefix
# stays at 96), so the layout, text-fit and overlap checks run at that scale,
# and converts their pictures to build/screenshots/*_150.png for looking at.
set -euo pipefail
export IW_WINEPREFIX=$(cd "$(dirname "$0")/../.." && pwd)/build/wineprefix-150
. "$(dirname "$0")/../../scripts/lib.sh"
exe=$IW_WIN/tests/gui_tests.exe
[ -f "$exe" ] || { echo "no $exe (Windows build missing)"; exit 1; }
# The display first: a Wine session started without one breaks the prefix
# for the runs after it.
iw_xvfb
"$IW_ROOT/scripts/wine-prefix" >/dev/null
stamp=$WINEPREFIX/.inkwarden-dpi144
if [ ! -f "$stamp" ]; then
  LANG=$IW_WINE_LANG LC_ALL=$IW_WINE_LANG wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
  wineserver -w
  touch "$stamp"
fi
mkdir -p "$IW_BUILD/screenshots"
export IW_ROOT IW_SHOT_SUFFIX=_150
status=0
iw_wine "$exe" --gtest_brief=1 \
  --gtest_filter='FilterWindowOnScreen.*:MasterWindowTest.RightButtonUpOpensTheOwnerDrawnMenuWithItsMarks:SettingsDialogsOnScreen.*:MailsetOnScreen.PagesShowTheirControlsAndStoredState:MailsetOnScreen.LockedWebPageUntilThePasswordIsGiven' || status=$?
wineserver -k 2>/dev/null || true
for f in "$IW_BUILD"/screenshots/*_150.bmp; do
  [ -f "$f" ] && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
ls "$IW_BUILD"/screenshots/*_150.png 2>/dev/null || true
exit $status
