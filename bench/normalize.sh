#!/usr/bin/env bash
# Peak scan and normalisation of a 10-minute 44.1 kHz stereo 16-bit WAV file (make_signal's
# music-like signal), side by side with sox: `sox FILE -n stat` for the scan and
# `sox FILE OUT gain -n -0.17` (to 98% of full scale) for scan plus scaling.
#
#   bench/normalize.sh
#
# Environment: BUILD (default build-bench), ROUNDS (default 3), SKIP_BUILD=1.
# Timings only mean something on an otherwise idle machine: the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" normalize
rounds=${ROUNDS:-3}
mkdir -p "$out"
wav=$out/signal.wav
[ -f "$wav" ] || "$build/bin/make_signal" "$wav" 600

run() {
    local tf label=$1
    tf=$(mktemp)
    case $label in
    scan) set -- "$build/bin/normalize_bench" scan "$wav" ;;
    sox-stat) set -- sox "$wav" -n stat ;;
    gain) set -- "$build/bin/normalize_bench" gain "$wav" 98 ;;
    sox-gain) set -- sox "$wav" "$out/sox.wav" gain -n -0.17 ;;
    esac
    /usr/bin/time -f '%e %M' -o "$tf" "$@" >/dev/null 2>&1
    tail -n 1 "$tf" >>"$out/$label.txt"
    rm -f "$tf" "$out/sox.wav"
}
median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

echo "## Normalisation benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "- load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- input: 600 s, 44.1 kHz stereo 16-bit, $(stat -c %s "$wav") bytes; $(sox --version | head -n 1)"
echo
rm -f "$out"/*.txt
# A warm page cache for everyone: the first read of the file is not what is compared.
cat "$wav" >/dev/null
for ((r = 1; r <= rounds; r++)); do
    for label in scan sox-stat gain sox-gain; do run $label; done
done
echo "| work | ours wall s | sox wall s | ours / sox | ours peak RSS MiB | sox peak RSS MiB |"
echo "|---|---:|---:|---:|---:|---:|"
for pair in "scan sox-stat" "gain sox-gain"; do
    # shellcheck disable=SC2086 # the pair splits into its two labels
    set -- $pair
    a=$(median "$out/$1.txt" 1)
    b=$(median "$out/$2.txt" 1)
    echo "| $1 | $a | $b | $(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", a/b}') | $(median "$out/$1.txt" 2 | awk '{printf "%.1f", $1/1024}') | $(median "$out/$2.txt" 2 | awk '{printf "%.1f", $1/1024}') |"
done
