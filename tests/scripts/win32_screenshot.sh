# Shows a small window with Chinese labels in the dialog font under Wine and
# Xvfb and captures the screen into build/screenshots/chinese_text.png, to be
# looked at: the labels must render as Chinese, not as boxes.
set -euo pipefail
. "$(dirname "$0")/../../scripts/lib.sh"
exe=$IW_WIN/tests/text_window.exe
[ -f "$exe" ] || { echo "no $exe (Windows build missing)"; exit 1; }
iw_xvfb
mkdir -p "$IW_BUILD/screenshots"
out=$IW_BUILD/screenshots/chinese_text.png
rm -f "$out"
iw_wine "$exe" 8 &
pid=$!
# Wait until the window is there, then give it a moment to paint.
for _ in $(seq 60); do
  if xwininfo -root -tree 2>/dev/null | grep -q 'Inkwarden'; then break; fi
  sleep 0.25
done
sleep 1.5
import -window root "$out"
wait "$pid" || true
[ -s "$out" ] && echo "screenshot: $out"
