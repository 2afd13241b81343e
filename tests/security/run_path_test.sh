#!/bin/sh
# The programs and libraries must never search the folder they are started in for the
# libraries they load: no run path entry may be empty (the loader reads it as the current
# folder) or relative. Checks every ELF file of the build's bin folder and of an install
# into a scratch prefix, then starts brindle-cli, built and installed, in a folder holding a
# planted copy of the libraries it needs.
#
# run_path_test.sh READELF CMAKE BUILD_DIR PLANTED_LIBRARY
set -u
READELF=$1 CMAKE=$2 BUILD=$3 PLANTED=$4

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Every RPATH and RUNPATH entry of the ELF files in folder $1 must be absolute or start
# with $ORIGIN.
check_folder() {
    checked=0
    for file in "$1"/*; do
        [ -f "$file" ] && [ ! -L "$file" ] || continue
        "$READELF" -h "$file" >/dev/null 2>&1 || continue
        checked=$((checked + 1))
        paths=$("$READELF" -d "$file" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]$/\2/p')
        # One line per entry; an entry of ":" splitting gives an empty line.
        echo "$paths" | while IFS= read -r line; do
            [ -n "$line" ] || continue
            echo "$line:" | tr ':' '\n' | sed '$d'
        done | while IFS= read -r entry; do
            case $entry in
            /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
            *) echo "$file: run path entry '$entry' in [$paths]" ;;
            esac
        done >"$scratch/bad"
        if [ -s "$scratch/bad" ]; then
            fail "$(cat "$scratch/bad")"
        fi
    done
    [ "$checked" -gt 0 ] || fail "no ELF files in $1"
    echo "checked $checked ELF files in $1"
}

# Starts brindle-cli ($1) in a folder that holds the planted library under the name of the
# encoding library it needs; the run must work and leave no mark.
check_planted() {
    room=$scratch/room-$2
    mkdir -p "$room"
    "$READELF" -d "$1" | grep -q '(NEEDED).*\[libmp3lame\.so\.0\]' ||
        fail "$1 does not need libmp3lame.so.0; the planted copy proves nothing"
    cp "$PLANTED" "$room/libmp3lame.so.0"
    # A 44-byte WAV header with one frame of 16-bit stereo silence.
    printf 'RIFF\050\000\000\000WAVEfmt \020\000\000\000\001\000\002\000\104\254\000\000\020\261\002\000\004\000\020\000data\004\000\000\000\000\000\000\000' \
        >"$room/one.wav"
    (cd "$room" && "$1" info one.wav >"$scratch/info-$2.txt" 2>&1) ||
        fail "$1 info in the planted folder: $(cat "$scratch/info-$2.txt")"
    [ ! -e "$room/planted-library-was-loaded" ] ||
        fail "$1 loaded a library from the folder it was started in"
}

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT

check_folder "$BUILD/bin"
check_planted "$BUILD/bin/brindle-cli" build

if "$CMAKE" --install "$BUILD" --prefix "$scratch/prefix" >"$scratch/install.txt" 2>&1; then
    check_folder "$scratch/prefix/bin"
    # The decoding library's private folder, below lib/ or lib/<multiarch>/.
    library=$(find "$scratch/prefix" -name 'libxaudio.so.*' -type f | head -n 1)
    [ -n "$library" ] || fail "the install holds no decoding library"
    check_folder "$(dirname "${library:-$scratch/prefix/lib/none}")"
    check_planted "$scratch/prefix/bin/brindle-cli" installed
else
    fail "install into a scratch prefix: $(cat "$scratch/install.txt")"
fi

[ "$failures" -eq 0 ] || exit 1
echo "no empty or relative run path entries; nothing planted was loaded"
