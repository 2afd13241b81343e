# shellcheck shell=bash
# Sourced by the benchmark scripts: builds the Release tree unless SKIP_BUILD=1, and sets
# root, build, cli and out (bench/out/NAME). brindle-cli reads its settings from an empty
# folder of the benchmark's own, so whoever runs it gets the same defaults.
#   source bench/common.sh NAME
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build-bench}
out=$root/bench/out/$1
if [ "${SKIP_BUILD:-0}" != 1 ]; then
    "$root/scripts/install-deps" --bench
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DBRINDLE_BUILD_BENCH=ON -DBRINDLE_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" >/dev/null
fi
# shellcheck disable=SC2034 # read by the scripts that source this file
cli=$build/bin/brindle-cli
export XDG_CONFIG_HOME=$out/config
