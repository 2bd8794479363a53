#!/bin/sh
# Sets up the machine, builds the three targets (native with sanitizers,
# i386 through qemu-i386, and the Windows DLL) and runs every test.
set -eu
cd "$(dirname "$0")/.."

bash scripts/setup.sh

for preset in native i386 tsan mingw; do
    echo "== $preset: configure and build"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    echo "== $preset: tests"
    ctest --preset "$preset"
done

echo "== fuzz: a bounded run of every target"
sh fuzz/fuzz.sh 45

echo "== format"
sh scripts/format.sh --check
echo "all builds and tests passed"
