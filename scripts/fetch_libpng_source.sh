#!/usr/bin/env bash
# Unpacks Debian's libpng source package (with Debian's patches applied) into
# a fixed cache folder outside the repository, for the Windows build to
# cross-compile, and prints the unpacked path. The tree also holds the PNG
# suite images (contrib/pngsuite, contrib/testpngs).
# Idempotent and non-interactive; prints the path at once when already done.
# Needs the deb-src entry and the source lists that scripts/setup.sh provides.
set -euo pipefail

if [ "$(id -u)" -eq 0 ]; then
  cache=/var/cache/quindral/libpng-src
else
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/quindral/libpng-src"
fi
marker="$cache/unpacked-path"

print_if_done() {
  if [ -f "$marker" ]; then
    local path
    path=$(cat "$marker")
    if [ -f "$path/png.h" ] && [ -f "$path/CMakeLists.txt" ]; then
      echo "$path"
      exit 0
    fi
  fi
}

print_if_done
mkdir -p "$cache"
# One fetch at a time (several build folders may configure at once).
exec 9>"$cache/.lock"
flock 9
print_if_done

# Versions listed for the source package, newest first.
mapfile -t listed < <(apt-cache showsrc libpng1.6 </dev/null 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
if [ "${#listed[@]}" -eq 0 ]; then
  echo "fetch_libpng_source: no source version of libpng1.6 listed (run scripts/setup.sh first)" >&2
  exit 1
fi
versions=()
for v in "${listed[@]}"; do
  i=0
  while [ "$i" -lt "${#versions[@]}" ] && dpkg --compare-versions "${versions[$i]}" gt "$v"; do
    i=$((i + 1))
  done
  versions=("${versions[@]:0:$i}" "$v" "${versions[@]:$i}")
done

for v in "${versions[@]}"; do
  work=$(mktemp -d "$cache/fetch.XXXXXX")
  echo "fetch_libpng_source: trying libpng1.6=$v" >&2
  if (cd "$work" && apt-get source -q libpng1.6="$v" </dev/null >&2); then
    unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libpng1.6-*' | head -n 1)
    if [ -n "$unpacked" ] && [ -f "$unpacked/png.h" ] && [ -f "$unpacked/CMakeLists.txt" ]; then
      dest="$cache/libpng1.6-$v"
      rm -rf "$dest"
      mv "$unpacked" "$dest"
      rm -rf "$work"
      printf '%s\n' "$dest" >"$marker.tmp"
      mv "$marker.tmp" "$marker"
      echo "$dest"
      exit 0
    fi
  fi
  rm -rf "$work"
done

echo "fetch_libpng_source: no listed version of libpng1.6 could be downloaded and unpacked" >&2
exit 1
