#!/usr/bin/env bash
# A large library: a tree of FILES short WAV files (44.1 kHz stereo, LENGTH s each, in
# folders of 20) encoded with `brindle-cli encode -r -j JOBS -o` in one call, against GNU
# parallel starting one brindle-cli per file (the README's recipe), ROUNDS rounds
# interleaved, medians of the wall time. Both runs' outputs are compared byte for byte.
#
#   bench/tree.sh
#
# Environment: BUILD (default build-bench), ROUNDS (3), FILES (200), LENGTH (2 s), JOBS (the
# cores), SKIP_BUILD=1. Needs GNU parallel. Timings only mean something on an otherwise idle
# machine: the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" tree
rounds=${ROUNDS:-3}
files=${FILES:-200}
seconds=${LENGTH:-2}
jobs=${JOBS:-$(nproc)}
command -v parallel >/dev/null || { echo "GNU parallel is needed (apt-get install parallel)"; exit 1; }
mkdir -p "$out/config" "$out/music"

for i in $(seq 1 "$files"); do
    d=$out/music/album$((i / 20))
    f=$d/track$i.wav
    mkdir -p "$d"
    [ -f "$f" ] || "$build/bin/make_signal" "$f" "$seconds" >/dev/null
done

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# wall seconds of one shell command line
timed() {
    /usr/bin/time -f '%e' -o "$out/time.txt" bash -c "$1" >/dev/null 2>&1
    cat "$out/time.txt"
}

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$files files of $seconds s, $jobs at once, $rounds rounds"
one=() many=()
for _ in $(seq 1 "$rounds"); do
    rm -rf "$out/one" "$out/many"
    one+=("$(timed "'$cli' encode -r -j $jobs --json -o '$out/one' '$out/music' > '$out/one.jsonl'")")
    many+=("$(timed "cd '$out/music' && find . -name '*.wav' -print0 |
        parallel -0 -j $jobs '$cli' encode --json -o '$out/many/{//}' {} > '$out/many.jsonl'")")
done
printf 'encode -r, one call:       %s s\n' "$(printf '%s\n' "${one[@]}" | median)"
printf 'parallel, a call per file: %s s\n' "$(printf '%s\n' "${many[@]}" | median)"
diff -r "$out/one" "$out/many" >/dev/null && echo "outputs: identical" || echo "outputs: DIFFER"
