#!/bin/sh
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and fuzzes each for SECONDS
# (default 45), two targets at a time. New inputs go to
# build/fuzz/corpus/<target>, crash files to build/fuzz/artifacts/<target>/,
# the fuzzer's output to build/fuzz/logs/<target>.log. Any finding fails.
#
# Usage: sh fuzz/fuzz.sh [SECONDS [TARGET...]]
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-45}
[ $# -gt 0 ] && shift
targets=${*:-balls_txt map_txt preview_png pngdib}

libpng=$(bash scripts/fetch_libpng_source.sh 2>/dev/null || true)
cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQUINDRAL_LIBPNG_SOURCE_DIR="$libpng" >/dev/null
cmake --build build/fuzz
mkdir -p build/fuzz/logs

# A fixed seed makes a run repeatable: the same inputs in the same order, as
# far as the time allows. -malloc_limit_mb: one allocation beyond what the module allows itself (a
# preview bitmap of 256 MiB) is a finding, not a slow success.
fuzz_one() {
    target=$1
    rm -rf "build/fuzz/artifacts/$target"
    mkdir -p "build/fuzz/corpus/$target" "build/fuzz/artifacts/$target"
    status=0
    "build/fuzz/fuzz_$target" -seed=1337 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=320 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target/" \
        "build/fuzz/corpus/$target" "build/fuzz/seeds/$target" "fuzz/regressions/$target" \
        >"build/fuzz/logs/$target.log" 2>&1 || status=$?
    echo "$status" >"build/fuzz/logs/$target.status"
}

set -- $targets
while [ $# -gt 0 ]; do
    echo "== fuzz $*: ${seconds}s each, two at a time"
    fuzz_one "$1" &
    first=$!
    if [ $# -gt 1 ]; then
        fuzz_one "$2" &
        wait $!
        shift
    fi
    wait $first
    shift
done

failed=0
for target in $targets; do
    log=build/fuzz/logs/$target.log
    echo "== $target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)"
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
    if [ "$(cat "build/fuzz/logs/$target.status")" != 0 ] || ls "build/fuzz/artifacts/$target/" | grep -q .; then
        grep -E '==[0-9]+==ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" || true
        echo "fuzz $target: a finding, see $log and build/fuzz/artifacts/$target/" >&2
        failed=1
    fi
done
exit $failed
