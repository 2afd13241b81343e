#!/usr/bin/env bash
# Encoding speed and memory: brindle-cli against the lame tool and lame_loop (the bare
# libmp3lame loop, the floor), all at 128 kbit/s CBR, stereo mode, CRC on, default quality,
# on a music-like signal made by make_signal. With the same settings, all three should write
# the same bytes; the report says whether they did.
#
#   bench/encode.sh
#
# Environment: BUILD (default build-bench), ROUNDS (default 3; the 60-minute run is always
# one round), JOBS (build parallelism), SKIP_BUILD=1 (measure an existing tree),
# SKIP_LONG=1 (leave out the 60-minute memory check), LAYOUT_ROUNDS (default 5: rounds of
# the allocation layout experiment on the 1-minute signal).
# Timings only mean something on an otherwise idle machine: the load average is printed
# before and after. Signals and outputs go to bench/out/; the report also to
# bench/out/results.md.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build-bench}
rounds=${ROUNDS:-3}
out=$root/bench/out

if [ "${SKIP_BUILD:-0}" != 1 ]; then
    "$root/scripts/install-deps" --bench
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DBRINDLE_BUILD_BENCH=ON -DBRINDLE_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --parallel "${JOBS:-$(nproc)}" >/dev/null
fi
bin=$build/bin
for tool in make_signal lame_loop; do
    [ -x "$bin/$tool" ] || { echo "encode.sh: $bin/$tool is missing" >&2; exit 1; }
done
cli=$bin/brindle-cli
if [ ! -x "$cli" ]; then
    echo "encode.sh: $cli is not built; measuring lame and lame_loop only" >&2
    cli=""
fi

mkdir -p "$out"
rm -rf "$out/mp3" "$out/config"
mkdir -p "$out/mp3/cli" "$out/mp3/lame" "$out/mp3/loop" "$out/config"
# brindle-cli takes its defaults from saved settings; an empty config folder makes the run
# independent of whoever runs it.
export XDG_CONFIG_HOME=$out/config
report=$out/results.md
: >"$report"
say() { printf '%s\n' "$*" | tee -a "$report"; }

# run LABEL SECONDS IN: one timed run; appends "wall_s rss_kib user_s sys_s" to
# $out/LABEL-SECONDS.txt.
# A failed run, or an output that is not 128 kbit/s worth of bytes, stops the benchmark:
# a tool that did not encode must not show up as a fast one.
run() {
    local label=$1 seconds=$2 in=$3 dest tf
    dest=$out/mp3/$label
    rm -f "$dest"/*
    case $label in
    cli) set -- "$cli" encode -b 128 -m stereo -q normal -y -o "$dest" "$in" ;;
    lame) set -- lame --quiet -b 128 --cbr -m s -p -o --noreplaygain -t "$in" "$dest/out.mp3" ;;
    loop) set -- "$bin/lame_loop" "$in" "$dest/out.mp3" ;;
    layout*)
        # shellcheck disable=SC2086 # the layout options are words
        set -- "$bin/lame_loop" ${layout[${label#layout}]} "$in" "$dest/out.mp3"
        ;;
    esac
    mkdir -p "$dest"
    tf=$(mktemp)
    if ! /usr/bin/time -f '%e %M %U %S' -o "$tf" "$@" >"$out/last.log" 2>&1; then
        echo "encode.sh: failed: $*" >&2
        cat "$out/last.log" "$tf" >&2
        exit 1
    fi
    local mp3 bytes expect
    mp3=$(find "$dest" -maxdepth 1 -type f -iname '*.mp3' | head -n 1)
    bytes=$(stat -c %s "${mp3:-/dev/null}")
    expect=$((seconds * 16000))
    if [ "$bytes" -lt $((expect * 98 / 100)) ] || [ "$bytes" -gt $((expect * 102 / 100)) ]; then
        echo "encode.sh: $label wrote $bytes bytes for $seconds s, expected about $expect" >&2
        exit 1
    fi
    tail -n 1 "$tf" >>"$out/$label-$seconds.txt"
    rm -f "$tf"
}

# Median wall seconds, median CPU seconds (user + system) and largest peak RSS (MiB) over
# the rounds in a results file. CPU time shows what other load on the machine adds to wall.
median() { sort -n | awk '{v[NR]=$1} END {m=int((NR+1)/2); printf "%.2f", (NR%2 ? v[m] : (v[m]+v[m+1])/2)}'; }
median_wall() { cut -d' ' -f1 "$1" | median; }
median_cpu() { awk '{print $3 + $4}' "$1" | median; }
peak_rss() { cut -d' ' -f2 "$1" | sort -n | tail -n 1 | awk '{printf "%.1f", $1/1024}'; }

signal() {
    local f=$out/signal-$1s.wav
    "$bin/make_signal" "$f" "$1"
    echo "$f"
}

tools=(lame loop)
[ -n "$cli" ] && tools=(cli "${tools[@]}")
declare -A name=([cli]="brindle-cli encode" [lame]="lame (tool)" [loop]="lame_loop (floor)")
rm -f "$out"/*.txt

say "## Encoding benchmark, $(date -u '+%Y-%m-%d %H:%M UTC')"
say ""
say "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo), $(uname -sr)"
say "- load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
say "- lame: $(lame --version | head -n 1)"
say "- lame_loop: $("$bin/lame_loop" --version), built $(grep -m1 CMAKE_BUILD_TYPE: "$build/CMakeCache.txt" | cut -d= -f2)"
say "- brindle-cli: ${cli:-not built}"
say "- compiler: $(c++ --version | head -n 1)"
say "- settings: 128 kbit/s CBR, stereo (not joint), CRC on, default quality, \"original\" bit clear, no ReplayGain analysis, no Info/VBR frame"
say ""

ten=$(signal 600)
for ((r = 1; r <= rounds; r++)); do
    for t in "${tools[@]}"; do run "$t" 600 "$ten"; done
done
if cmp -s "$out/mp3/lame/out.mp3" "$out/mp3/loop/out.mp3"; then same_lame=yes; else same_lame=no; fi
if [ -n "$cli" ]; then
    if cmp -s "$(find "$out/mp3/cli" -type f -iname '*.mp3' | head -n 1)" "$out/mp3/loop/out.mp3"; then
        same_cli=yes
    else
        same_cli=no
    fi
fi

floor=$(median_wall "$out/loop-600.txt")
say "### 10-minute signal (600 s of 44.1 kHz 16-bit stereo, 106 MB), rounds: $rounds, tools interleaved"
say ""
say "| tool | median wall s | median CPU s | peak RSS MiB | ratio to lame_loop (wall) | x realtime |"
say "|---|---:|---:|---:|---:|---:|"
for t in "${tools[@]}"; do
    w=$(median_wall "$out/$t-600.txt")
    say "| ${name[$t]} | $w | $(median_cpu "$out/$t-600.txt") | $(peak_rss "$out/$t-600.txt") | $(awk -v w="$w" -v f="$floor" 'BEGIN {printf "%.2f", w/f}') | $(awk -v w="$w" 'BEGIN {printf "%.0f", 600/w}') |"
done
say ""
say "- lame output byte-identical to lame_loop's: $same_lame"
[ -n "$cli" ] && say "- brindle-cli output byte-identical to lame_loop's: $same_cli"
say ""

# Where libmp3lame's arrays land can change its speed on some CPUs (reported: 1.4 times the
# time on an Intel Xeon) without changing a byte. lame_loop moves them: --pad keeps a heap
# block allocated before lame_init, --free frees a large block first (which moves the
# library's largest arrays from pages of their own into the heap), --pin holds glibc's mmap
# threshold as brindle's encoder does.
layout=("" "--pad 100000" "--pad 2048" "--free 300000" "--free 300000 --pad 2048" "--free 300000 --pin")
lay_rounds=${LAYOUT_ROUNDS:-5}
lay_tools=()
for i in "${!layout[@]}"; do lay_tools+=("layout$i"); done
[ -n "$cli" ] && lay_tools+=(cli)
one=$(signal 60)
rm -f "$out"/cli-60.txt
for ((r = 1; r <= lay_rounds; r++)); do
    for t in "${lay_tools[@]}"; do run "$t" 60 "$one"; done
done
lay_floor=$(median_cpu "$out/layout0-60.txt")
say "### Allocation layout, 1-minute signal, rounds: $lay_rounds, interleaved"
say ""
say "| lame_loop options | median wall s | median CPU s | fastest CPU s | CPU ratio to no options | output identical |"
say "|---|---:|---:|---:|---:|---|"
for t in "${lay_tools[@]}"; do
    f=$out/$t-60.txt
    c=$(median_cpu "$f")
    if [ "$t" = cli ]; then
        what="(brindle-cli encode)"
        mp3=$(find "$out/mp3/cli" -type f -iname '*.mp3' | head -n 1)
    else
        what=${layout[${t#layout}]:-none}
        mp3=$out/mp3/$t/out.mp3
    fi
    if cmp -s "$mp3" "$out/mp3/layout0/out.mp3"; then same=yes; else same=no; fi
    say "| $what | $(median_wall "$f") | $c | $(awk '{print $3 + $4}' "$f" | sort -n | head -n 1) | $(awk -v c="$c" -v f="$lay_floor" 'BEGIN {printf "%.2f", c/f}') | $same |"
done
say ""
rm -f "$out"/cli-60.txt "$one"

say "### Memory against input length (peak RSS MiB)"
say ""
say "| tool | 1 min (rounds: $rounds) | 60 min (1 round) |"
say "|---|---:|---:|"
one=$(signal 60)
mem_tools=(loop)
[ -n "$cli" ] && mem_tools=(cli loop)
for ((r = 1; r <= rounds; r++)); do
    for t in "${mem_tools[@]}"; do run "$t" 60 "$one"; done
done
rm -f "$one"
if [ "${SKIP_LONG:-0}" != 1 ]; then
    hour=$(signal 3600)
    for t in "${mem_tools[@]}"; do run "$t" 3600 "$hour"; done
    rm -f "$hour"
fi
for t in "${mem_tools[@]}"; do
    long="skipped"
    [ -f "$out/$t-3600.txt" ] && long="$(peak_rss "$out/$t-3600.txt") (wall $(median_wall "$out/$t-3600.txt") s)"
    say "| ${name[$t]} | $(peak_rss "$out/$t-60.txt") | $long |"
done
say ""
say "- load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
