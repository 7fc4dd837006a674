#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine (as root, or
# with sudo available). Safe to run again: every step skips what is in place.
#
# Besides the cross compilers and 64-bit Wine, the 32-bit tier needs 32-bit
# Wine (wine32:i386) and a way to run 32-bit x86 code at all: this kernel
# refuses it, so qemu's user-mode emulator is registered with binfmt_misc.
# bookworm's own qemu is far too slow for Wine; the one from the backports
# suite of the same Debian mirror is used.
set -eu
packages=(
  cmake make python3
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-x86-64-dev mingw-w64-i686-dev binutils-mingw-w64
  googletest
  wine wine64 wine32:i386
  xvfb xauth imagemagick
  nsis fp-utils
  util-linux coreutils
)
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
update="${QUENVAR_APT_UPDATE:-}"

# 32-bit packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  update=1
fi

# The backports suite, on the mirror the machine's own Debian source names.
codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
backports="${codename}-backports"
backports_file=/etc/apt/sources.list.d/quenvar-backports.list
if [ -n "$codename" ] && ! grep -rqs -- "$backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # The URI of the first stanza that serves the release itself.
    uri="$(awk -v suite="$codename" '
      /^[[:space:]]*$/ { if (u != "" && s) { print u; exit } u = ""; s = 0; next }
      /^URIs:/ { u = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) s = 1 }
      END { if (u != "" && s) print u }' /etc/apt/sources.list.d/debian.sources | head -n1)"
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri="$(awk -v suite="$codename" '$1 == "deb" { for (i = 2; i < NF; i++) if ($(i + 1) == suite && $i !~ /^\[/) { print $i; exit } }' \
      /etc/apt/sources.list)"
  fi
  if [ -z "$uri" ]; then
    echo "setup.sh: no Debian source for $codename found to add $backports from" >&2
    exit 1
  fi
  echo "deb $uri $backports main" | $sudo tee "$backports_file" >/dev/null
  update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# qemu 7 (bookworm's) takes minutes per Wine process; 8 and later are fine.
qemu_version="$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)"
need_qemu=""
if [ -z "$qemu_version" ] || dpkg --compare-versions "$qemu_version" lt 1:8; then
  need_qemu=1
fi

if [ "${#missing[@]}" -gt 0 ] || [ -n "$need_qemu" ] || [ "$update" = 1 ]; then
  $sudo apt-get update -qq
  [ "${#missing[@]}" -eq 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  [ -z "$need_qemu" ] || $sudo apt-get install -y -qq --no-install-recommends -t "$backports" qemu-user-static
fi

# Hand every i386 ELF program to qemu. F opens the interpreter now, so the
# registration works in any mount namespace; C and P as qemu's own files use.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/register" ]; then
  $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:FPC" | $sudo tee "$binfmt/register" >/dev/null
elif ! head -n1 "$binfmt/qemu-i386" | grep -qx enabled; then
  echo 1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
fi
