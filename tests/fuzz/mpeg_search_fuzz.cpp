// The MPEG frame search and header decoding on arbitrary bytes: no crash, no hang, and an
// accepted file must describe a frame that really is in it, and a file that another format
// marks as its own is never MPEG audio.

#include "fuzz/FuzzFile.h"
#include "inspect/MPGTools.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (size_t i = 0; i + 4 <= size; ++i) {
        TMPEGInfo info;
        const uint32_t h = uint32_t(data[i]) << 24 | uint32_t(data[i + 1]) << 16 |
                           uint32_t(data[i + 2]) << 8 | data[i + 3];
        if (DecodeFrameHeader(h, info) &&
            (info.Version < 1 || info.Version > 3 || info.Layer < 1 || info.Layer > 3 ||
             info.SampleRate <= 0 || info.BitRate <= 0 || info.FrameLength == 0))
            std::abort();
    }

    FuzzFile file(data, size);
    if (!file.ok())
        return 0;
    TMPEGAudio audio;
    audio.SetFileName(file.path());
    const TMPEGInfo &info = audio.Data();
    if (audio.IsValid()) {
        const qint64 at = audio.HeaderPosition();
        if (at < 0 || at + 4 > qint64(size) || data[at] != 0xFF || (data[at + 1] & 0xE0) != 0xE0)
            std::abort();
        if (info.Length != qint64(size) || info.Version > 3 || info.Layer > 3)
            std::abort();
    }
    if (audio.HasTag() != (info.Header == QStringLiteral("TAG")))
        std::abort();
    // Files that another format's magic number opens are never taken for MPEG audio.
    for (const char *magic : {"fLaC", "OggS", "FORM", "\177ELF", "PK\x03\x04"})
        if (size >= 6 && std::memcmp(data, magic, 4) == 0 &&
            (audio.IsValid() || audio.ProblemKind() != TMpegProblem::OtherFormat))
            std::abort();
    if (audio.IsValid() != audio.Problem().isEmpty())
        std::abort();
    return 0;
}
