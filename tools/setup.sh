#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine (as root, or
# with sudo available). Safe to run again.
set -eu
packages=(
  cmake make python3
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-x86-64-dev mingw-w64-i686-dev binutils-mingw-w64
  googletest
  wine wine64
  xvfb xauth imagemagick
  nsis fp-utils
  util-linux coreutils
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${QUENVAR_APT_UPDATE:-}" = 1 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  [ "${#missing[@]}" -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
