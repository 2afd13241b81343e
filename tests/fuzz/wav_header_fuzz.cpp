// The WAV header reader on arbitrary bytes: it must never crash, and what it reports must
// agree with the bytes it was given.

#include "encoder/LameCoder.h"
#include "fuzz/FuzzFile.h"
#include "inspect/MP3WavComm.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzFile file(data, size);
    if (!file.ok())
        return 0;
    TWaveFileInfo info;
    const bool valid = ReadWaveFileInfo(file.path(), info);

    uint8_t header[TWaveHeader::Size] = {};
    std::memcpy(header, data, std::min<size_t>(size, sizeof header));
    const TWaveHeader expected = TWaveHeader::FromBytes(header);
    if (!(info.Header == expected) || valid != info.Valid)
        std::abort();
    if (valid && (info.FileSize != qint64(size) || info.Duration < 0 ||
                  info.Header.BytesPerSecond == 0 || !info.Header.IsRiffWave()))
        std::abort();
    if (!valid && (info.FileSize != 0 || info.Duration != 0))
        std::abort();
    // The encoder's format check reads the same header.
    (void)UnsupportedWaveFormat(info.Header);
    return 0;
}
