#!/usr/bin/env bash
# Several files at once: a batch of 8 music-like 40 s WAV files (44.1 kHz stereo) encoded
# with `brindle-cli encode -j 1` and `-j N` (N: the cores), then their MP3 files decoded the
# same way, each side's outputs compared byte for byte; then the same batches through the
# conversion window (offscreen) with "Convert up to N files at once" at 1 and at N.
#
#   bench/parallel.sh
#
# Environment: BUILD (default build-bench), ROUNDS (default 3), FILES (8), LENGTH (40 s),
# JOBS (the cores), SKIP_BUILD=1. Timings only mean something on an otherwise idle machine:
# the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" parallel
rounds=${ROUNDS:-3}
files=${FILES:-8}
seconds=${LENGTH:-40}
jobs=${JOBS:-$(nproc)}
mkdir -p "$out/config" "$out/src" "$out/one" "$out/many"

sources=()
for i in $(seq 1 "$files"); do
    f=$out/src/f$i.wav
    [ -f "$f" ] || "$build/bin/make_signal" "$f" "$seconds" >/dev/null
    sources+=("$f")
done

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
# timed DIR JOBS COMMAND ARGS...: wall seconds of one brindle-cli run writing into DIR
timed() {
    local dir=$1 n=$2 cmd=$3
    shift 3
    /usr/bin/time -f '%e %M' -o "$out/time.txt" "$cli" "$cmd" -y -j "$n" -o "$dir" "$@" >/dev/null
    cat "$out/time.txt"
}

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load: $(cut -d' ' -f1-3 /proc/loadavg)"
for cmd in encode decode; do
    if [ $cmd = encode ]; then
        inputs=("${sources[@]}")
    else
        inputs=("$out"/one/*.MP3)
    fi
    : >"$out/$cmd-1.txt"
    : >"$out/$cmd-n.txt"
    for _ in $(seq 1 "$rounds"); do
        timed "$out/one" 1 $cmd "${inputs[@]}" >>"$out/$cmd-1.txt"
        timed "$out/many" "$jobs" $cmd "${inputs[@]}" >>"$out/$cmd-n.txt"
    done
    one=$(cut -d' ' -f1 "$out/$cmd-1.txt" | median)
    many=$(cut -d' ' -f1 "$out/$cmd-n.txt" | median)
    rss1=$(cut -d' ' -f2 "$out/$cmd-1.txt" | median)
    rssn=$(cut -d' ' -f2 "$out/$cmd-n.txt" | median)
    ext=MP3
    [ $cmd = decode ] && ext=WAV
    same=identical
    for f in "$out"/one/*."$ext"; do
        cmp -s "$f" "$out/many/$(basename "$f")" || same="DIFFERENT: $(basename "$f")"
    done
    printf 'brindle-cli %s, %d files of %d s, median of %d interleaved rounds: -j 1 %.2f s (%d KiB), -j %d %.2f s (%d KiB), ratio %.3f; outputs %s\n' \
        $cmd "$files" "$seconds" "$rounds" "$one" "$rss1" "$jobs" "$many" "$rssn" \
        "$(echo "$many / $one" | bc -l)" "$same"
done

QT_QPA_PLATFORM=offscreen "$build/bin/parallel_bench" "$jobs" "$rounds" "${sources[@]}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
