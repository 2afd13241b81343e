#!/bin/sh
# What an installed Brindle shows of itself: its version, its manual pages, its desktop entry
# and AppStream data, and an install into a scratch prefix that converts both ways.
#
# packaging_test.sh CHECK VERSION BUILD_DIR SOURCE_DIR METAINFO
# CHECK: version, manual, desktop, metainfo or install. Exit 77: a validator is missing.
set -u
CHECK=$1 VERSION=$2 BUILD=$3 SOURCE=$4 METAINFO=$5

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
skip_without() {
    command -v "$1" >/dev/null 2>&1 || {
        echo "SKIP: $1 is not installed"
        exit 77
    }
}

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT

# Both programs print the project's version, and both version options work.
check_version() {
    for option in --version -V; do
        out=$("$BUILD/bin/brindle-cli" "$option" 2>&1) || fail "brindle-cli $option failed: $out"
        [ "$out" = "brindle-cli $VERSION" ] || fail "brindle-cli $option printed '$out'"
    done
    out=$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$scratch "$BUILD/bin/brindle" --version 2>&1) ||
        fail "brindle --version failed: $out"
    [ "$out" = "Brindle $VERSION" ] || fail "brindle --version printed '$out'"
    # The package's changelog and the AppStream entry name the same version as their newest.
    changelog=$(sed -n '1s/^brindle (\([^)]*\)).*/\1/p' "$SOURCE/resources/debian/changelog")
    [ "$changelog" = "$VERSION" ] || fail "the changelog's newest entry is '$changelog'"
    release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$METAINFO" | head -n 1)
    [ "$release" = "$VERSION" ] || fail "the AppStream release is '$release'"
}

# Every option that brindle-cli --help names is in its manual page, which carries the
# version; both pages render without warnings.
check_manual() {
    page=$BUILD/man/brindle-cli.1
    "$BUILD/bin/brindle-cli" --help >"$scratch/help.txt" || fail "brindle-cli --help failed"
    options=$(grep -o -- '--[a-z][a-z0-9-]*' "$scratch/help.txt" | sort -u)
    [ -n "$options" ] || fail "brindle-cli --help names no option"
    for option in $options; do
        escaped=$(printf '%s' "$option" | sed 's/-/\\\\-/g')
        grep -q -- "$escaped" "$page" || fail "brindle-cli.1 does not document $option"
    done
    for name in brindle brindle-cli; do
        grep -q "^\.TH .*\"Brindle $VERSION\"" "$BUILD/man/$name.1" ||
            fail "$name.1 does not carry version $VERSION"
        gzip -dc "$BUILD/man/$name.1.gz" | cmp -s - "$BUILD/man/$name.1" ||
            fail "$name.1.gz is not $name.1 compressed"
    done
    skip_without groff
    for name in brindle brindle-cli; do
        warnings=$(groff -man -ww -z -Tutf8 "$BUILD/man/$name.1" 2>&1)
        [ -z "$warnings" ] || fail "$name.1: $warnings"
    done
}

# The desktop entry opens the files it is given and names every format the program reads.
check_desktop() {
    desktop=$SOURCE/resources/brindle.desktop
    grep -qx 'Exec=brindle %F' "$desktop" || fail "the desktop entry's Exec is not 'brindle %F'"
    mime=$(sed -n 's/^MimeType=//p' "$desktop")
    for type in audio/x-wav audio/mpeg audio/mp2 audio/flac audio/x-aiff audio/x-vorbis+ogg \
        audio/x-opus+ogg audio/x-w64 audio/x-caf audio/x-rf64 audio/x-mpegurl audio/x-scpls; do
        case ";$mime" in
        *";$type;"*) ;;
        *) fail "the desktop entry lacks $type" ;;
        esac
    done
    # The types the shared MIME database lacks are defined by the program's own file.
    for type in audio/x-w64 audio/x-caf audio/x-rf64; do
        grep -q "mime-type type=\"$type\"" "$SOURCE/resources/metainfo/brindle-mime.xml" ||
            fail "brindle-mime.xml does not define $type"
    done
    skip_without desktop-file-validate
    desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the desktop entry"
}

check_metainfo() {
    grep -q '<binary>brindle-cli</binary>' "$METAINFO" || fail "the AppStream entry lacks brindle-cli"
    skip_without appstreamcli
    appstreamcli validate --no-net "$METAINFO" || fail "appstreamcli refuses the AppStream entry"
}

# Installed into a scratch prefix, brindle-cli encodes and then decodes, which loads the
# decoding library from the install's private folder (the build's copy is not on its path).
check_install() {
    "${CMAKE:-cmake}" --install "$BUILD" --prefix "$scratch/prefix" >"$scratch/install.txt" 2>&1 ||
        fail "install: $(cat "$scratch/install.txt")"
    cli=$scratch/prefix/bin/brindle-cli
    for file in bin/brindle share/brindle/done.snd share/brindle/help/index.html \
        share/man/man1/brindle.1.gz share/man/man1/brindle-cli.1.gz \
        share/applications/brindle.desktop share/icons/hicolor/scalable/apps/brindle.svg \
        share/icons/hicolor/48x48/apps/brindle.png share/icons/hicolor/256x256/apps/brindle.png \
        share/mime/packages/brindle.xml share/doc/brindle/copyright share/doc/brindle/changelog.gz; do
        [ -s "$scratch/prefix/$file" ] || fail "the install lacks $file"
    done
    [ -z "$(find "$scratch/prefix/lib" -maxdepth 1 -name 'libxaudio*')" ] ||
        fail "the decoding library is on the loader's global path"
    # A 44-byte WAV header and 9000 samples of a 16-bit mono square wave at 44100 Hz.
    printf 'RIFF\164\106\000\000WAVEfmt \020\000\000\000\001\000\001\000\104\254\000\000\210\130\001\000\002\000\020\000data\120\106\000\000' \
        >"$scratch/square.wav"
    i=0
    while [ $i -lt 450 ]; do
        printf '\000\040\000\040\000\040\000\040\000\040\000\040\000\040\000\040\000\040\000\040'
        printf '\000\340\000\340\000\340\000\340\000\340\000\340\000\340\000\340\000\340\000\340'
        i=$((i + 1))
    done >>"$scratch/square.wav"
    XDG_CONFIG_HOME=$scratch/config "$cli" encode "$scratch/square.wav" >"$scratch/encode.txt" 2>&1 ||
        fail "installed brindle-cli encode: $(cat "$scratch/encode.txt")"
    mkdir -p "$scratch/out"
    XDG_CONFIG_HOME=$scratch/config "$cli" decode -o "$scratch/out" "$scratch/square.MP3" \
        >"$scratch/decode.txt" 2>&1 || fail "installed brindle-cli decode: $(cat "$scratch/decode.txt")"
    [ -s "$scratch/out/square.WAV" ] || fail "installed brindle-cli decode wrote no WAV"
}

case $CHECK in
version) check_version ;;
manual) check_manual ;;
desktop) check_desktop ;;
metainfo) check_metainfo ;;
install) check_install ;;
*)
    echo "unknown check $CHECK" >&2
    exit 2
    ;;
esac
[ "$failures" -eq 0 ] || exit 1
echo "$CHECK: ok"
