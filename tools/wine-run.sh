#!/usr/bin/env bash
# Runs one Windows program under wine64 in a fresh, private Wine prefix with its
# own Xvfb display, then ends everything it started and removes the prefix.
#   wine-run.sh [--template DIR] [--keep-prefix DIR] [--unix] PROGRAM [ARGS...]
# With --unix, PROGRAM is a Linux command (a script) run inside that environment
# (WINEPREFIX and DISPLAY set) instead of a Windows program.
# The template prefix is made once (wineboot) and copied for every run.
set -u

template="${QUENVAR_WINE_TEMPLATE:-/tmp/quenvar-wine-template}"
keep=""
unix=""
while [ $# -gt 0 ]; do
  case "$1" in
    --template) template="$2"; shift 2 ;;
    --keep-prefix) keep="$2"; shift 2 ;;
    --unix) unix=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--template DIR] PROGRAM [ARGS...]" >&2; exit 2; }

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree=;mshtml="

make_template() {
  local dir="$1" tmp
  tmp="$(mktemp -d "${dir}.new.XXXXXX")"
  WINEPREFIX="$tmp" "$WINE" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$tmp" "$WINESERVER" -w
  mv "$tmp" "$dir"
}

mkdir -p "$(dirname "$template")"
(
  flock 9
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
