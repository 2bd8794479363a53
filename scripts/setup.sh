#!/usr/bin/env bash
# Installs everything the three builds and the tests need on a Debian 12 machine.
# Idempotent and non-interactive; quick when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build git pkg-config clang-format
  g++-multilib qemu-user
  g++-mingw-w64-i686 libz-mingw-w64-dev binutils-mingw-w64-i686
  libpng-dev:amd64 zlib1g-dev:amd64 libpng-dev:i386 zlib1g-dev:i386
  libsimpleini-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-pefile dpkg-dev
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

changed=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  changed=1
fi

# Source entries, for the libpng source package cross-built for the Windows target.
src_list=/etc/apt/sources.list.d/quindral-src.sources
if [ ! -f "$src_list" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
    "${sudo_cmd[@]}" tee "$src_list" >/dev/null
  changed=1
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done

have_sources=0
compgen -G '/var/lib/apt/lists/*_Sources*' >/dev/null && have_sources=1
if [ "$changed" -eq 1 ] || [ "${#missing[@]}" -gt 0 ] || [ "$have_sources" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q </dev/null
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi
echo "setup: all packages present"
bash "$(dirname "$0")/fetch_libpng_source.sh" | sed "s/^/setup: libpng source in /"
