#!/usr/bin/env bash
# Loudness measurement (integrated loudness, loudness range and true peak) of a 10-minute
# 44.1 kHz stereo 16-bit WAV file (make_signal's music-like signal): `brindle-cli info
# --loudness` beside ffmpeg's ebur128 filter with and without its true-peak meter, timed by
# farm-bench, which runs the pairs in turn and prints min, median and max.
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
