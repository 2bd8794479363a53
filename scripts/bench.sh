#!/bin/sh
# Builds the bench preset (x86-64 Release, no sanitizers) and runs the
# benchmark over generated catalogues of 10, 64 and 254 balls. It ends with
# one line per goal: "goal NAME: X (limit Y) ok|missed". Arguments go to the
# benchmark (Google Benchmark's options, --dump-served=DIR).
set -eu
cd "$(dirname "$0")/.."

bash scripts/setup.sh >/dev/null
cmake --preset bench >/dev/null
cmake --build --preset bench --target quindral_bench
exec build/bench/bench/quindral_bench "$@"
