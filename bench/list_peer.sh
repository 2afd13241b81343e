#!/usr/bin/env bash
# Listing a music tree: every file of a tree of 10,000 WAV files (100 albums) inspected and
# described, by `brindle-cli info -r --json` and by SoundConverter's tag listing
# (`soundconverter -t -r`, which finds and reads each file without its window), side by
# side with farm-bench. The window's own figure (Add Folder on the same shape of tree, with
# the longest event-loop gap) is printed by list_bench, built with the tests.
#
#   bench/list_peer.sh [FILES]
#
# Environment: BUILD (default build-bench), SKIP_BUILD=1 (measure an existing tree).
# Timings only mean something on an otherwise idle machine: the load average is printed.
set -euo pipefail

# shellcheck source-path=SCRIPTDIR source=common.sh
source "$(dirname "$0")/common.sh" list_peer
files=${1:-10000}
command -v soundconverter >/dev/null || "$root/scripts/install-deps" --bench

if [ ! -f "$out/ready-$files" ]; then
    rm -rf "$out/tree" && mkdir -p "$out/config" "$out/tree"
    python3 - "$out/tree" "$files" <<'PY'
import os, struct, sys
root, count = sys.argv[1], int(sys.argv[2])
data = b'\0\0' * 8000
header = (b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVEfmt ' +
          struct.pack('<IHHIIHH', 16, 1, 1, 8000, 16000, 2, 16) + b'data' +
          struct.pack('<I', len(data)))
for i in range(count):
    folder = os.path.join(root, f'artist{i // 1000}', f'album{i // 100 % 10}')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f'{i % 100} track.wav'), 'wb') as f:
        f.write(header + data)
PY
    touch "$out/ready-$files"
fi
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
# SoundConverter keeps its settings under HOME; it needs no display for -t.
mkdir -p "$out/home"
HOME=$out/home farm-bench -n 5 --timeout 1800 \
    --vs "sh -c 'exec soundconverter -t -r $out/tree >/dev/null 2>&1'" \
    -- sh -c "exec $cli info -r --json $out/tree >/dev/null 2>&1"
