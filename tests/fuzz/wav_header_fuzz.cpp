// The WAV reader on arbitrary bytes: it must never crash, what it reports must agree with
// the bytes it was given, and the sample reader must yield exactly the frames it counted.

#include "encoder/LameCoder.h"
#include "fuzz/FuzzFile.h"
#include "inspect/MP3WavComm.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzFile file(data, size);
    if (!file.ok())
        return 0;
    TWaveFileInfo info;
    const bool valid = ReadWaveFileInfo(file.path(), info);

    uint8_t header[TWaveHeader::Size] = {};
    std::memcpy(header, data, std::min<size_t>(size, sizeof header));
    const TWaveHeader raw = TWaveHeader::FromBytes(header);
    // The RIFF fields are always the bytes as read; the rest only until a chunk replaces them.
    if (raw.RiffId != info.Header.RiffId || raw.RiffSize != info.Header.RiffSize ||
        raw.WaveId != info.Header.WaveId || valid != info.Valid ||
        valid != WaveFileProblem(info).isEmpty())
        std::abort();
    if (!info.Header.IsRiffWave() && !(info.Header == raw))
        std::abort();
    if (!valid) {
        if (info.FileSize != 0 || info.Duration != 0)
            std::abort();
        return 0;
    }
    const TWaveHeader &h = info.Header;
    if (info.FileSize != qint64(size) || info.Duration < 0 || h.BytesPerSecond == 0 ||
        info.DataOffset < 12 || info.DataLength < 0 ||
        info.DataOffset + info.DataLength > info.FileSize ||
        (h.BlockAlign != 0 && info.DataLength % h.BlockAlign != 0))
        std::abort();

    // What the encoder accepts, the sample reader can read.
    if (UnsupportedWaveFormat(info).isEmpty() && !info.SampleFormat.IsReadable())
        std::abort();
    if (info.SampleFormat.IsReadable()) {
        TWaveSampleReader reader(file.path(), info);
        std::vector<float> samples(size_t(256 * h.Channels));
        qint64 frames = 0;
        for (qint64 got; (got = reader.Read(samples.data(), 256)) > 0;)
            frames += got;
        if (frames != info.Frames() || reader.Failed())
            std::abort();
    }
    return 0;
}
