#!/usr/bin/env bash
# Real MPEG audio files written by lame, ffmpeg and sox (mono and stereo, MPEG 1, 2 and 2.5,
# Layers II and III, CBR and VBR, ID3v2, ID3v1 and APE tags, free format, a few frames only)
# through `brindle-cli info --json`, and the records compared with those of another
# brindle-cli (BASE_CLI): a change to the frame search must keep accepting all of them with
# the same values.
#
#   BASE_CLI=/path/to/older/brindle-cli bench/mpeg_accept.sh
#
# Environment: BUILD (default build-bench), SKIP_BUILD=1 (use an existing tree). Needs lame,
# ffmpeg and sox; the files are made once and kept in bench/out/mpeg_accept/.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" mpeg_accept

media=$out/media
if [ ! -f "$media/ready" ]; then
    rm -rf "$media" && mkdir -p "$media"
    tmp=$out/tmp && mkdir -p "$tmp"
    for rate in 8000 11025 12000 16000 22050 24000 32000 44100 48000; do
        for ch in 1 2; do
            sox -q -n -r $rate -c $ch -b 16 "$tmp/s$rate-$ch.wav" synth 3 sine 440 sine 660 vol 0.5
        done
    done
    sox -q -n -r 44100 -c 2 -b 16 "$tmp/short.wav" synth 0.05 sine 440 vol 0.5
    n=0
    for rate in 8000 11025 12000 16000 22050 24000 32000 44100 48000; do
        for ch in 1 2; do
            wav=$tmp/s$rate-$ch.wav
            n=$((n + 1))
            lame --quiet -b 32 "$wav" "$media/lame-cbr-$rate-$ch.mp3"
            lame --quiet -V 4 "$wav" "$media/lame-vbr-$rate-$ch.mp3"
            lame --quiet --abr 64 --add-id3v2 --tt "Title $n" --ta Artist "$wav" "$media/lame-abr-id3-$rate-$ch.mp3"
            lame --quiet -b 32 -t "$wav" "$media/lame-noinfo-$rate-$ch.mp3"
            lame --quiet -b 32 -p "$wav" "$media/lame-crc-$rate-$ch.mp3"
            ffmpeg -v error -y -i "$wav" -c:a libmp3lame -b:a 64k "$media/ffmpeg-cbr-$rate-$ch.mp3"
            ffmpeg -v error -y -i "$wav" -c:a libmp3lame -q:a 5 -id3v2_version 3 -write_id3v1 1 \
                -metadata title="Song $n" "$media/ffmpeg-vbr-id3-$rate-$ch.mp3"
            sox -q "$wav" -C 48 "$media/sox-$rate-$ch.mp3"
            if [ $rate -ge 16000 ] && [ $rate -ne 11025 ] && [ $rate -ne 12000 ]; then
                ffmpeg -v error -y -i "$wav" -c:a mp2 -b:a 64k "$media/ffmpeg-$rate-$ch.mp2"
                sox -q "$wav" "$media/sox-$rate-$ch.mp2"
            fi
        done
    done
    # Free format, tags at the end, and files of a few frames.
    lame --quiet --freeformat -b 400 "$tmp/s44100-2.wav" "$media/lame-free-400.mp3"
    lame --quiet --freeformat -b 200 "$tmp/s22050-1.wav" "$media/lame-free-mpeg2.mp3"
    cp "$media/lame-cbr-44100-2.mp3" "$media/lame-apev2-id3v1.mp3"
    {
        printf 'APETAGEX\320\007\0\0\100\0\0\0\001\0\0\0\0\0\0\240\0\0\0\0\0\0\0\0'
        head -c 32 /dev/zero
        printf 'APETAGEX\320\007\0\0\100\0\0\0\001\0\0\0\0\0\0\200\0\0\0\0\0\0\0\0'
        printf 'TAG%125s' ""
    } >>"$media/lame-apev2-id3v1.mp3"
    lame --quiet -b 128 -t "$tmp/short.wav" "$media/lame-short.mp3"
    lame --quiet -b 128 -t --id3v1-only --tt Short "$tmp/short.wav" "$media/lame-short-id3v1.mp3"
    rm -rf "$tmp"
    touch "$media/ready"
fi

mapfile -t files < <(find "$media" -name '*.mp[23]' | sort)
"$cli" info --json "${files[@]}" >"$out/now.json" 2>/dev/null || true
echo "## MPEG audio accepted, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo
echo "- files: ${#files[@]} (lame $(lame --version | head -n 1 | awk '{print $4}'), $(ffmpeg -version | head -n 1 | cut -d' ' -f1-3), $(sox --version | awk '{print $NF}'))"
echo "- accepted as MPEG audio: $(grep -c '"Kind": "mpeg"' "$out/now.json" || true)"
if [ -n "${BASE_CLI:-}" ]; then
    "$BASE_CLI" info --json "${files[@]}" >"$out/base.json" 2>/dev/null || true
    echo "- accepted by $BASE_CLI: $(grep -c '"Kind": "mpeg"' "$out/base.json" || true)"
    if cmp -s "$out/base.json" "$out/now.json"; then
        echo "- records: identical"
    else
        echo "- records differ:"
        diff "$out/base.json" "$out/now.json" | head -n 40
    fi
fi
