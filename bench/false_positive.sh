#!/usr/bin/env bash
# How often the MPEG frame search takes other data for MPEG audio: `brindle-cli info` on
# random files, FLAC and Ogg files, and executables, counting the files it reports as MPEG.
# Each kind of file is also tried with its first four bytes cut off, so that its magic number
# does not decide and the frame search alone has to turn it down.
#
#   bench/false_positive.sh
#
# Environment: BUILD (default build-bench), SKIP_BUILD=1 (measure an existing tree),
# RANDOM_FILES (default 10000, of 64 KiB each), BASE_CLI (another brindle-cli, e.g. one built
# from an older commit, counted on the same files for contrast). FLAC and Ogg files are made
# with sox, flac and oggenc when those are installed; their sets are skipped otherwise.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" false_positive

count=${RANDOM_FILES:-10000}
mkdir -p "$out"

# Random files, the same ones every run (seeded).
if [ ! -f "$out/random/ready-$count" ]; then
    rm -rf "$out/random" && mkdir -p "$out/random"
    python3 - "$out/random" "$count" <<'EOF'
import random, sys
folder, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240611)
for i in range(count):
    with open(f"{folder}/r{i:05d}.bin", "wb") as f:
        f.write(rng.randbytes(65536))
EOF
    touch "$out/random/ready-$count"
fi

# FLAC files of several rates, depths and signals; Ogg Vorbis files of the same signals.
if [ ! -f "$out/codec/ready" ] && command -v sox >/dev/null; then
    rm -rf "$out/codec" && mkdir -p "$out/codec"
    signals=("sine 440" "pinknoise" "whitenoise" "brownnoise" "sine 100-8000" "square 220")
    n=0
    for rate in 8000 22050 44100 48000 96000; do
        for bits in 16 24; do
            for channels in 1 2; do
                for signal in "${signals[@]}"; do
                    n=$((n + 1))
                    wav=$out/codec/tmp.wav
                    # shellcheck disable=SC2086
                    sox -q -n -r $rate -b $bits -c $channels "$wav" synth $((1 + n % 4)) $signal vol 0.5
                    if command -v flac >/dev/null; then
                        flac -s -f --compression-level-$((n % 9)) -o "$out/codec/f$n.flac" "$wav"
                    fi
                    if command -v oggenc >/dev/null && [ $bits = 16 ] && [ $rate -le 48000 ]; then
                        oggenc -Q -q $((n % 10)) -o "$out/codec/o$n.ogg" "$wav"
                    fi
                done
            done
        done
    done
    rm -f "$out/codec/tmp.wav"
    touch "$out/codec/ready"
fi

# Executables: the ELF files in /usr/bin.
mapfile -t elves < <(for f in /usr/bin/*; do
    [ -f "$f" ] && [ "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ] && echo "$f"
done)

# The same bytes less their first four, once per set.
headless() { # folder files...
    local folder=$1 f
    shift
    if [ ! -f "$folder/ready" ]; then
        rm -rf "$folder" && mkdir -p "$folder"
        for f in "$@"; do tail -c +5 "$f" >"$folder/$(basename "$f").cut"; done
        touch "$folder/ready"
    fi
    find "$folder" -name '*.cut' | sort
}

# Files the given brindle-cli reports as MPEG audio, of the files named on standard input.
accepted() { # cli
    xargs -d '\n' -r -n 2000 "$1" info --json 2>/dev/null | grep -c '"Kind": "mpeg"' || true
}

report() { # name files...
    local name=$1
    shift
    [ $# -gt 0 ] || return 0
    local now base="-"
    now=$(printf '%s\n' "$@" | accepted "$cli")
    [ -n "${BASE_CLI:-}" ] && base=$(printf '%s\n' "$@" | accepted "$BASE_CLI")
    echo "| $name | $# | $now | $base |"
}

mapfile -t randoms < <(find "$out/random" -name 'r*.bin' | sort)
mapfile -t flacs < <(find "$out/codec" -name '*.flac' 2>/dev/null | sort)
mapfile -t oggs < <(find "$out/codec" -name '*.ogg' 2>/dev/null | sort)

echo "## False MPEG audio, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- brindle-cli: $cli"
echo "- for contrast: ${BASE_CLI:-none}"
echo
echo "| files | count | taken for MPEG audio | by the contrast |"
echo "|---|---:|---:|---:|"
report "random, 64 KiB each" "${randoms[@]}"
report "FLAC (sox + flac)" "${flacs[@]}"
report "Ogg Vorbis (sox + oggenc)" "${oggs[@]}"
report "ELF executables in /usr/bin" "${elves[@]}"
for set in flac ogg elf; do
    case $set in
    flac) name="FLAC less its first 4 bytes" files=("${flacs[@]}") ;;
    ogg) name="Ogg less its first 4 bytes" files=("${oggs[@]}") ;;
    elf) name="ELF less its first 4 bytes" files=("${elves[@]}") ;;
    esac
    [ ${#files[@]} -gt 0 ] || continue
    mapfile -t cut < <(headless "$out/$set-cut" "${files[@]}")
    report "$name" "${cut[@]}"
done
