#!/usr/bin/env bash
# Play time of a VBR file without a header frame: `brindle-cli info` counts its frames. Times
# it on a 100 MB stream of such frames, against a constant-bit-rate file of the same size,
# whose play time comes from its size and must cost no more than before.
#
#   bench/vbr_count.sh
#
# Environment: BUILD (default build-bench), SKIP_BUILD=1 (measure an existing tree).
# Timings only mean something on an otherwise idle machine: the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" vbr_count

if [ ! -f "$out/ready" ]; then
    rm -rf "$out" && mkdir -p "$out/config"
    "$build/bin/make_signal" "$out/s.wav" 5
    # Frames of one stream follow each other across the joins, so copies make one long file.
    lame --quiet -V5 -t "$out/s.wav" "$out/vbr1.mp3"
    lame --quiet -b 128 -t "$out/s.wav" "$out/cbr1.mp3"
    for kind in vbr cbr; do
        : >"$out/$kind.mp3"
        while [ "$(stat -c %s "$out/$kind.mp3")" -lt 100000000 ]; do
            cat "$out/${kind}1.mp3" "$out/${kind}1.mp3" "$out/${kind}1.mp3" "$out/${kind}1.mp3" \
                >>"$out/$kind.mp3"
        done
    done
    touch "$out/ready"
fi

# wall seconds of a command, best of 5 (file-cache warm after the first).
best_of_5() {
    local best="" t
    for _ in 1 2 3 4 5; do
        local start
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        t=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {print b - a}')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN {exit !(t < b)}'; then best=$t; fi
    done
    printf '%.3f' "$best"
}

echo "## VBR frame count benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "- load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| file | size MB | play time s | wall s (best of 5) |"
echo "|---|---:|---:|---:|"
for kind in vbr cbr; do
    f=$out/$kind.mp3
    t=$(best_of_5 "$cli" info --json "$f")
    secs=$("$cli" info --json "$f" | sed -n 's/.*"Duration": \([0-9]*\).*/\1/p')
    echo "| $kind | $(($(stat -c %s "$f") / 1000000)) | $secs | $t |"
done
