// ID3v1 read, write, read: whatever a tag block holds, writing back what was read must
// read back the same, so that saving a file's tag unchanged never alters it.

#include "inspect/MPGTools.h"

#include <cstdlib>
#include <cstring>

namespace {

bool SameTag(const TMPEGInfo &a, const TMPEGInfo &b) {
    return a.Header == b.Header && a.Title == b.Title && a.Artist == b.Artist &&
           a.Album == b.Album && a.Year == b.Year && a.Comment == b.Comment && a.Genre == b.Genre &&
           a.Track == b.Track;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    uint8_t block[ID3v1Size] = {'T', 'A', 'G'};
    if (size > 0)
        std::memcpy(block + 3, data, std::min<size_t>(size, ID3v1Size - 3));
    TMPEGInfo first;
    if (!ReadID3v1(block, first))
        std::abort();

    const std::array<uint8_t, ID3v1Size> written = BuildID3v1(first);
    uint8_t again[ID3v1Size];
    std::memcpy(again, written.data(), ID3v1Size);
    TMPEGInfo second;
    if (!ReadID3v1(again, second) || !SameTag(first, second))
        std::abort();
    return 0;
}
