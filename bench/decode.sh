#!/usr/bin/env bash
# Decoding speed: `brindle-cli decode` against `mpg123 -w` and ffmpeg on the same 10-minute
# 128 kbit/s MP3 (made from make_signal's music-like signal by brindle-cli itself), and a
# check that our samples are mpg123's (the decoding library uses the same decoder), on that
# file and on short mono, MPEG 2, MPEG 2.5, VBR and cut-short ones.
#
#   bench/decode.sh
#
# Environment: BUILD (default build-bench), ROUNDS (default 7), SKIP_BUILD=1.
# Timings only mean something on an otherwise idle machine: the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" decode
rounds=${ROUNDS:-7}
mkdir -p "$out/config" "$out/cli" "$out/mpg123" "$out/ffmpeg"

mp3=$out/signal.MP3
if [ ! -f "$mp3" ]; then
    "$build/bin/make_signal" "$out/signal.wav" 600
    "$cli" encode -y -b 128 -m joint "$out/signal.wav"
    rm -f "$out/signal.wav"
fi

# run LABEL: one timed run, "wall rss_kib" appended to $out/LABEL.txt
run() {
    local tf
    tf=$(mktemp)
    case $1 in
    cli) set -- "$cli" decode -y -o "$out/cli" "$mp3" ;;
    mpg123) set -- mpg123 -q -w "$out/mpg123/signal.wav" "$mp3" ;;
    ffmpeg) set -- ffmpeg -v error -y -i "$mp3" -c:a pcm_s16le "$out/ffmpeg/signal.wav" ;;
    esac
    /usr/bin/time -f '%e %M' -o "$tf" "$@"
    tail -n 1 "$tf" >>"$out/$label.txt"
    rm -f "$tf"
}
median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# The PCM of a WAV file, from the byte after its "data" chunk header.
pcm_offset() { grep -obUa data "$1" | head -n 1 | cut -d: -f1; }

echo "## Decoding benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "- load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- input: 600 s, 128 kbit/s joint stereo, 44.1 kHz, $(stat -c %s "$mp3") bytes"
echo "- mpg123: $(mpg123 --version | head -n 1); $(ffmpeg -version | head -n 1 | cut -d' ' -f1-3)"
echo
rm -f "$out"/*.txt "$out"/*.ratio
# Each tool writes about 100 MB, which the kernel is still writing back when the next one
# starts: the order turns every round so that no tool always runs behind the same one.
tools=(cli mpg123 ffmpeg)
for ((r = 1; r <= rounds; r++)); do
    for ((i = 0; i < ${#tools[@]}; i++)); do
        label=${tools[$(((r + i) % ${#tools[@]}))]}
        run "$label"
    done
done
floor=$(median "$out/mpg123.txt" 1)
# The ratio of each round's pair, whose runs were close together in time, then the median.
paired() { paste -d' ' "$out/$1.txt" "$out/mpg123.txt" | awk '{print $1/$3}' >"$out/$1.ratio"; median "$out/$1.ratio" 1; }
echo "| tool | median wall s | peak RSS MiB | ratio to mpg123 -w | median of round ratios |"
echo "|---|---:|---:|---:|---:|"
for label in cli mpg123 ffmpeg; do
    w=$(median "$out/$label.txt" 1)
    echo "| $label | $w | $(median "$out/$label.txt" 2 | awk '{printf "%.1f", $1/1024}') | $(awk -v w="$w" -v f="$floor" 'BEGIN {printf "%.2f", w/f}') | $(paired "$label" | awk '{printf "%.2f", $1}') |"
done
ours=$out/cli/signal.WAV
theirs=$out/mpg123/signal.wav
a=$(($(pcm_offset "$ours") + 9))
b=$(($(pcm_offset "$theirs") + 9))
if cmp -s <(tail -c +"$a" "$ours") <(tail -c +"$b" "$theirs"); then same=yes; else same=no; fi
echo
echo "- PCM identical to mpg123's: $same ($(stat -c %s "$ours") and $(stat -c %s "$theirs") bytes with headers)"

# The same check on short streams of every other shape: mono, MPEG 2 and 2.5 (brindle-cli
# encodes them at the WAV's own rate), VBR, and a VBR file cut short in the middle.
shapes=$out/shapes
rm -rf "$shapes"
mkdir -p "$shapes"
"$build/bin/make_signal" "$shapes/s44.wav" 20
ffmpeg -v error -y -i "$shapes/s44.wav" -ac 1 "$shapes/mono.wav"
ffmpeg -v error -y -i "$shapes/s44.wav" -ar 22050 "$shapes/mpeg2.wav"
ffmpeg -v error -y -i "$shapes/s44.wav" -ar 11025 -ac 1 "$shapes/mpeg25.wav"
cp "$shapes/s44.wav" "$shapes/vbr.wav"
"$cli" encode -y -b 64 -m mono "$shapes/mono.wav" >/dev/null
"$cli" encode -y -b 32 -m mono "$shapes/mpeg25.wav" >/dev/null
"$cli" encode -y -b 64 "$shapes/mpeg2.wav" >/dev/null
"$cli" encode -y --vbr 2 "$shapes/vbr.wav" >/dev/null
head -c "$(($(stat -c %s "$shapes/vbr.MP3") / 2))" "$shapes/vbr.MP3" >"$shapes/cut.MP3"
echo
echo "| stream | PCM identical to mpg123's |"
echo "|---|---|"
for shape in mono mpeg2 mpeg25 vbr cut; do
    "$cli" decode -y "$shapes/$shape.MP3" 2>/dev/null
    mpg123 -q -w "$shapes/$shape.ref.wav" "$shapes/$shape.MP3"
    a=$(($(pcm_offset "$shapes/$shape.WAV") + 9))
    b=$(($(pcm_offset "$shapes/$shape.ref.wav") + 9))
    if cmp -s <(tail -c +"$a" "$shapes/$shape.WAV") <(tail -c +"$b" "$shapes/$shape.ref.wav"); then
        same=yes
    else
        same=no
    fi
    echo "| $shape | $same |"
done
echo
echo "- load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
