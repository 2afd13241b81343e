#!/usr/bin/env bash
# Inspection speed: `brindle-cli info` against ffprobe on 1,000 generated MP3 files of a few
# seconds each (CBR and VBR, every channel mode, a spread of bitrates, some with ID3v1
# tags), and the frame search through 100 MB and 5 GB of bytes that hold no frame.
#
#   bench/inspect.sh
#
# Environment: BUILD (default build-bench), SKIP_BUILD=1 (measure an existing tree).
# Timings only mean something on an otherwise idle machine: the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" inspect

# Media, made once and kept between runs.
if [ ! -f "$out/mp3/ready" ]; then
    rm -rf "$out" && mkdir -p "$out/wav" "$out/mp3" "$out/config"
    for s in 2 3 4 5; do "$build/bin/make_signal" "$out/wav/s$s.wav" $s; done
    rates=(32 64 96 128 160 192 256 320)
    modes=(stereo joint dual mono)
    for ((i = 0; i < 1000; i++)); do
        wav=$out/wav/s$((2 + i % 4)).wav
        args=(-b "${rates[i % 8]}" -m "${modes[(i / 8) % 4]}")
        ((i % 5 == 0)) && args+=(--vbr $((i % 10)))
        "$cli" encode -y "${args[@]}" -o "$out/tmp" "$wav" >/dev/null
        mv "$out/tmp/s$((2 + i % 4)).MP3" "$out/mp3/f$i.mp3"
        ((i % 3 == 0)) && "$cli" tag "$out/mp3/f$i.mp3" --title "Track $i" --artist Bench --genre $((i % 126))
    done
    touch "$out/mp3/ready"
fi
mapfile -t files < <(find "$out/mp3" -name 'f*.mp3' | sort -V)

# wall seconds of a command, best of 3 (file-cache warm after the first).
best_of_3() {
    local best="" t
    for _ in 1 2 3; do
        local start
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        t=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {print b - a}')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN {exit !(t < b)}'; then best=$t; fi
    done
    printf '%.2f' "$best"
}
cli_one_call() { "$cli" info --json "${files[@]}"; }
cli_per_file() { for f in "${files[@]}"; do "$cli" info --json "$f"; done; }
ffprobe_per_file() {
    for f in "${files[@]}"; do
        ffprobe -v error -show_format -show_streams -of json "$f"
    done
}

echo "## Inspection benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "- load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- ffprobe: $(ffprobe -version | head -n 1 | cut -d' ' -f1-3)"
echo "- files: ${#files[@]} MP3 files, $(du -sh "$out/mp3" | cut -f1) in all"
echo
echo "| what | wall s (best of 3) | per file ms |"
echo "|---|---:|---:|"
for what in cli_one_call cli_per_file ffprobe_per_file; do
    t=$(best_of_3 $what)
    echo "| $what | $t | $(awk -v t="$t" -v n="${#files[@]}" 'BEGIN {printf "%.2f", t * 1000 / n}') |"
done

# Files that hold no frame: 100 MB without a single 0xFF byte (no frame sync anywhere), and
# 5 GB of zeros (sparse, so it costs no disk). The search gives up 4 MiB past the start.
big=$out/noframes.bin
[ -f "$big" ] || head -c 100000000 /dev/urandom | tr '\377' '\376' >"$big"
zeros=$out/zeros.bin
[ -f "$zeros" ] || truncate -s 5G "$zeros"
for f in "$big" "$zeros"; do
    tf=$(mktemp)
    /usr/bin/time -f '%e %M' -o "$tf" "$cli" info "$f" >/dev/null 2>&1 || true
    # time(1) puts "Command exited with non-zero status" first: the file holds no audio.
    read -r wall rss < <(tail -n 1 "$tf")
    rm -f "$tf"
    echo
    echo "- frame search through $(du -h --apparent-size "$f" | cut -f1) without a frame: $wall s wall, peak RSS $((rss / 1024)) MiB"
done
echo "- load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
