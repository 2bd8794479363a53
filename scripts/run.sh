#!/bin/sh
# Sets up the machine, builds the 32-bit module and the runner, and runs the
# runner through qemu-i386: the module loaded into the simulated loader host
# and game over a loader folder (default: examples/loader). Arguments go to
# quindral-run (--loader DIR, --game-build N).
set -eu
cd "$(dirname "$0")/.."

bash scripts/setup.sh >&2
cmake --preset i386 >/dev/null
cmake --build --preset i386 --target quindral-run >&2
exec qemu-i386 build/i386/tools/quindral-run "$@"
