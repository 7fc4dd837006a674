#!/usr/bin/env bash
# Shows one window of QuenvarUI under Wine (tools/wine-run.sh, own Xvfb) and
# saves a PNG of it, cut to the window, taken with ImageMagick's import.
#   tools/screenshot.sh [--build DIR] [--bare] WINDOW OUTPUT.png
# WINDOW is one that QuenvarWindowShot.exe knows (e.g. "log"). The window runs
# inside Wine's virtual desktop, which draws caption bars; --bare shows it on
# the bare Xvfb instead, where top-level windows have none.
# QUENVAR_SHOT_KEEP_SCREEN=1 also keeps the whole screen as OUTPUT-screen.png.
# Needs the x86_64 build with tests on (build/console by default, target
# QuenvarWindowShot) and the imagemagick package.
set -eu

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/console"
desktop=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    --bare) desktop=""; shift ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { echo "usage: $0 [--build DIR] [--bare] WINDOW OUTPUT.png" >&2; exit 2; }
window="$1"
output="$(realpath -m "$2")"

exe="$build/bin/QuenvarWindowShot.exe"
[ -f "$exe" ] || { echo "missing $exe: build target QuenvarWindowShot first" >&2; exit 1; }
command -v import >/dev/null || { echo "ImageMagick's import is missing (apt-get install imagemagick)" >&2; exit 1; }

work="$(mktemp -d /tmp/quenvar-shot.XXXXXX)"
ready="$work/ready"
done_file="$work/done"
runner=""
finish() {
  touch "$done_file"
  [ -z "$runner" ] || wait "$runner" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# Wine sees the Unix file system as drive Z:.
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"; }

if [ -n "$desktop" ]; then
  set -- explorer "/desktop=QuenvarShot,1024x768" "$(winpath "$exe")"
else
  set -- "$exe"
fi
"$root/tools/wine-run.sh" --template "$build/wine-template" "$@" "$window" "$(winpath "$ready")" \
  "$(winpath "$done_file")" &
runner=$!

for _ in $(seq 1200); do
  [ -s "$ready" ] && break
  kill -0 "$runner" 2>/dev/null || { echo "QuenvarWindowShot ended before its window was shown" >&2; exit 1; }
  sleep 0.1
done
[ -s "$ready" ] || { echo "timed out waiting for the window" >&2; exit 1; }

display="$(sed -n 's/^DISPLAY=//p' "$ready")"
read -r x y w h < <(sed -n 's/^RECT=//p' "$ready")
DISPLAY="$display" import -window root "$work/screen.png"
# Inside the virtual desktop the coordinates are the desktop's, and the bare
# Xvfb shows the desktop at 0,0, so the same cut applies.
convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage "$output"
[ -z "${QUENVAR_SHOT_KEEP_SCREEN:-}" ] || cp "$work/screen.png" "${output%.png}-screen.png"
echo "$output (${w}x${h} at ${x},${y} on ${display})"
