#!/usr/bin/env bash
# Runs one Windows program under Wine in a fresh, private Wine prefix with its
# own Xvfb display, then ends everything it started and removes the prefix.
#   wine-run.sh [--arch win64|win32] [--template DIR] [--keep-prefix DIR] [--unix] PROGRAM [ARGS...]
# --arch win64 (the default) runs x86_64 programs under wine64; --arch win32
# runs i686 programs under 32-bit Wine in a win32 prefix (qemu user-mode
# emulation, see setup.sh), where every process of the system is 32-bit.
# With --unix, PROGRAM is a Linux command (a script) run inside that environment
# (WINEPREFIX, DISPLAY and QUENVAR_WINE, the loader to use, set) instead of a
# Windows program.
# The template prefix is made once per architecture (wineboot) and copied for
# every run.
set -u

arch=win64
template=""
keep=""
unix=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --template) template="$2"; shift 2 ;;
    --keep-prefix) keep="$2"; shift 2 ;;
    --unix) unix=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--arch win64|win32] [--template DIR] [--keep-prefix DIR] [--unix] PROGRAM [ARGS...]" >&2; exit 2; }

case "$arch" in
  win64) WINE=/usr/lib/wine/wine64 ;;
  win32) WINE=/usr/lib/wine/wine ;;
  *) echo "$0: --arch is win64 or win32" >&2; exit 2 ;;
esac
# A prefix is of one architecture: the two never share a template.
[ -n "$template" ] || template="${QUENVAR_WINE_TEMPLATE:-/tmp/quenvar-wine-template}-$arch"
# The script picks wineserver64, which serves 32-bit prefixes too; it is
# started before any program, so no 32-bit server runs under emulation.
WINESERVER=/usr/lib/wine/wineserver
export WINEARCH="$arch" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree=;mshtml=" QUENVAR_WINE="$WINE"

# Raised whenever make_template changes what a template holds.
template_version=2

make_template() {
  local dir="$1" tmp
  tmp="$(mktemp -d "${dir}.new.XXXXXX")"
  WINEPREFIX="$tmp" "$WINESERVER" -p5
  WINEPREFIX="$tmp" "$WINE" wineboot -i >/dev/null 2>&1
  # A program that crashes must end with its exception code, not wait in
  # Wine's crash dialog until a test's time-out (or be ended with code 0).
  WINEPREFIX="$tmp" "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1
  # No window manager runs on the test display: an unmanaged X11 driver shows
  # and hides top-level windows at once instead of waiting for one (about 2 s
  # for every window or box shown and closed).
  WINEPREFIX="$tmp" "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    >/dev/null 2>&1
  WINEPREFIX="$tmp" "$WINESERVER" -w
  touch "$tmp/.quenvar-template-$template_version"
  mv "$tmp" "$dir"
}

mkdir -p "$(dirname "$template")"
(
  flock 9
  # A template made by an older version of this script is made again.
  if [ -d "$template" ] && [ ! -f "$template/.quenvar-template-$template_version" ]; then
    rm -rf "$template"
  fi
  [ -d "$template" ] || make_template "$template"
) 9>"${template}.lock"

if [ -n "$keep" ]; then
  prefix="$keep"
  mkdir -p "$prefix"
else
  prefix="$(mktemp -d /tmp/quenvar-prefix.XXXXXX)"
fi
[ -f "$prefix/system.reg" ] || cp -a "$template/." "$prefix/"
export WINEPREFIX="$prefix"
# Persistent, so that services and drivers outlive the gaps between programs.
"$WINESERVER" -p

displayfile="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"

cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  [ -n "$keep" ] || rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "$unix" ]; then
  "$@"
else
  "$WINE" "$@"
fi
rc=$?
exit $rc
