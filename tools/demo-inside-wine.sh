#!/usr/bin/env bash
# The demonstration's steps inside a prepared Wine prefix (see demo.sh).
set -eu
bin="$1"
scenario="$2"
wine=/usr/lib/wine/wine64
sys32="$WINEPREFIX/drive_c/windows/system32"
control() { "$wine" "$bin/QuenvarDriverControl.exe" "$@"; }
winpath() { echo "Z:$(echo "$1" | tr '/' '\\')"; }

echo "== installing the stand-in driver and QuenvarSvc"
cp "$bin/QuenvarStandInDriver.sys" "$sys32/drivers/quenvr.sys"
cp "$bin/QuenvarSvc.exe" "$sys32/QuenvarSvc.exe"
"$wine" sc create Quenvar type= kernel start= demand binPath= 'C:\windows\system32\drivers\quenvr.sys' >/dev/null
"$wine" sc start Quenvar >/dev/null
"$wine" sc create QuenvarSvc type= own start= demand binPath= 'C:\windows\system32\QuenvarSvc.exe' >/dev/null
"$wine" sc start QuenvarSvc | grep STATE
sleep 1
control journal

if [ -f "$bin/QuenvarUI.exe" ]; then
  echo "== starting QuenvarUI"
  "$wine" "$bin/QuenvarUI.exe" &
  sleep 3
else
  echo "== no QuenvarUI.exe in this build: the service answers alone"
fi

echo "== injecting $(grep -vc '^#' "$scenario") access events from $(basename "$scenario")"
control scenario "$(winpath "$scenario")"
sleep 3
echo "== what the driver received"
control journal
control state
