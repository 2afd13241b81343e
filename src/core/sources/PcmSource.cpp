#include "sources/PcmSource.h"

TWavePcmSource::TWavePcmSource(QIODevice &Device, const TWaveFileInfo &Info)
    : FReader(Device, Info) {}

TPcmSampleType TWavePcmSource::SampleType() const {
    const TWaveSampleFormat format = FReader.Format();
    if (format.Kind == wskFloat)
        return pstFloat;
    return format.Bits == 16 ? pstInt16 : pstInt32;
}

qint64 TWavePcmSource::Read(int16_t *Out, qint64 MaxFrames) {
    // 16-bit samples go out exactly as the file stores them (little-endian, as is the host).
    if (FReader.Format() == TWaveSampleFormat{wskInteger, 16})
        return FReader.ReadBytes(reinterpret_cast<uint8_t *>(Out), MaxFrames);
    FWide.resize(size_t(MaxFrames * FReader.Channels()));
    const qint64 got = FReader.Read(FWide.data(), MaxFrames);
    for (size_t i = 0; i < size_t(got * FReader.Channels()); ++i)
        Out[i] = int16_t(FWide[i] >> 16);
    return got;
}
