#!/usr/bin/env bash
# The demonstration's steps inside a prepared Wine prefix (see demo.sh): install
# with the setup program, feed access events through the stand-in driver, answer
# the prompts as a user would, take screenshots and print what the driver got.
set -eu
bin="$1"
scenario="$2"
shots="$3"
# wine-run.sh names the loader of the prefix: wine64, or 32-bit Wine at i686.
wine="${QUENVAR_WINE:-/usr/lib/wine/wine64}"
control() { "$wine" "$bin/QuenvarDriverControl.exe" "$@"; }
ui() { "$wine" "$bin/QuenvarUiDriver.exe" "$@"; }
shot() { import -window root "$shots/$1.png" && echo "   screenshot $shots/$1.png"; }
dos() { echo "$1" | sed 's|^\\Device\\HarddiskVolume1|C:|'; }

echo "== running the setup program silently (stand-in driver)"
"$wine" "$bin/QuenvarSetup.exe" /S || { echo "setup failed ($?)"; exit 1; }
"$wine" sc query QuenvarSvc | grep STATE
sleep 3  # QuenvarUI, started by the setup program, connects to the service
control journal

echo "== program files the events name"
grep -v '^#' "$scenario" | sed 's/^[^\\]*//' | tr '|' '\n' | sed 's/^ *//; s/ *$//' | sort -u | while read -r path; do
  [ -n "$path" ] || continue
  file="$WINEPREFIX/drive_c/$(dos "$path" | sed 's|^C:\\||' | tr '\\' '/')"
  mkdir -p "$(dirname "$file")"
  cp "$bin/QuenvarDriverControl.exe" "$file"
  echo "   $(dos "$path")"
done

echo "== access events"
session_pid="$(ui pid explorer.exe | tr -d '\r')"
first=1
id=100
while read -r answer kind pid tid rest; do
  case "$answer" in ''|'#'*) continue ;; esac
  process="${rest%% | *}"
  module="$process"
  case "$rest" in *' | '*) module="${rest#* | }" ;; esac
  [ "$pid" != - ] || pid="$session_pid"
  id=$((id + 1))
  control inject "$kind" "$pid" "$process" "$module" "$tid" "$id" >/dev/null
  echo "-- event $id: kind $kind of $(dos "$process")"
  if [ "$answer" != - ]; then
    sleep 2
    if [ "$first" = 1 ]; then shot prompt; first=0; fi
    ui answer "$answer" 10000
  fi
  control journal 1 15000 | sed 's/^/   driver got: /'
done < "$scenario"

echo "== the tray window"
ui show
sleep 2
shot log
ui tab 1
sleep 2
shot access-control
echo "== the activity log"
ui log | sed 's/^/   /'
echo "== driver state"
control state
