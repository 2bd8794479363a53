#!/bin/sh
# Sets up the machine, builds the 32-bit module and the runner, and runs the
# runner through qemu-i386: the real module loaded into the simulated loader
# host and game over a loader folder (default: examples/loader), playing a
# whole game session. Arguments go to quindral-run (--loader DIR,
# --game-build N, --select N, --load N, --out DIR); without --out the files the
# game received go to out/.
set -eu
cd "$(dirname "$0")/.."

bash scripts/setup.sh >&2
cmake --preset i386 >/dev/null
cmake --build --preset i386 --target quindral-run >&2

case " $* " in
*" --out "*) exec qemu-i386 build/i386/tools/quindral-run "$@" ;;
esac
qemu-i386 build/i386/tools/quindral-run --out out "$@"
echo "The files the game received, the logs and the contact sheet previews.png are in out/."
