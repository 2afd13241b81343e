#!/usr/bin/env bash
# Loudness measurement (integrated loudness, loudness range and true peak) of a 10-minute
# 44.1 kHz stereo 16-bit WAV file (make_signal's music-like signal): `brindle-cli info
# --loudness` beside ffmpeg's ebur128 filter with and without its true-peak meter, timed by
# farm-bench, which runs the pairs in turn and prints min, median and max. Then what the
# true-peak check of loudness-normalised MP3s adds to an encode of a 3-minute file.
#
#   bench/loudness.sh
#
# Environment: BUILD (default build-bench), RUNS (default 5), SKIP_BUILD=1.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" loudness
runs=${RUNS:-5}
mkdir -p "$out"
wav=$out/signal.wav
[ -f "$wav" ] || "$build/bin/make_signal" "$wav" 600

echo "## Loudness benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "- load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- input: 600 s, 44.1 kHz stereo 16-bit, $(stat -c %s "$wav") bytes; $(ffmpeg -version | head -n 1)"
echo
echo "### The figures each gives"
echo
"$cli" info --loudness "$wav" | grep Loudness
ffmpeg -nostats -hide_banner -i "$wav" -af ebur128=peak=true -f null - 2>&1 |
    sed -n '/Summary:/,$p' | grep -E 'I:|LRA:|Peak:'
echo
cat "$wav" >/dev/null
echo "### brindle-cli info --loudness vs ffmpeg ebur128=peak=true"
echo
farm-bench -n "$runs" --timeout 600 \
    --vs "ffmpeg -nostats -i $wav -af ebur128=peak=true -f null -" \
    -- "$cli" info --loudness "$wav"
echo
echo "### brindle-cli info --loudness vs ffmpeg ebur128 without true peak"
echo
farm-bench -n "$runs" --timeout 600 \
    --vs "ffmpeg -nostats -i $wav -af ebur128 -f null -" \
    -- "$cli" info --loudness "$wav"
echo
# Loudness-normalised MP3s are decoded again to check their true peak, and scaled and encoded
# again when they overshoot the ceiling: what that adds to an encode of a 3-minute file.
# normalize_bench truepeak is the check alone; the square bursts overshoot at -16 LUFS and
# -1 dBTP and so take at least one more round of scaling, encoding and checking.
short=$out/signal180.wav
square=$out/square180.wav
[ -f "$short" ] || "$build/bin/make_signal" "$short" 180
[ -f "$square" ] || "$build/bin/make_signal" "$square" 180 bursts
mkdir -p "$out/mp3"
echo "### brindle-cli encode --loudness -16 (3 minutes) vs the true-peak check of its output"
echo
for src in "$short" "$square"; do
    mp3=$out/mp3/$(basename "${src%.wav}").MP3
    "$cli" encode -y -j 1 --loudness -16 -o "$out/mp3" "$src" >/dev/null
    echo "- $(basename "$src"): output $("$build/bin/normalize_bench" truepeak "$mp3")"
    farm-bench -n "$runs" --timeout 600 \
        --vs "$build/bin/normalize_bench truepeak $mp3" \
        -- "$cli" encode -y -j 1 --loudness -16 -o "$out/mp3" "$src"
    echo
done
