#pragma once

#include "inspect/WaveReader.h"

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <memory>

class QIODevice;

// The sample values a source delivers without loss: 16-bit integers as stored, deeper
// integers left-justified to 32 bits, floating point (and lossy formats) as float.
enum TPcmSampleType { pstInt16, pstInt32, pstFloat };

// Interleaved PCM frames, read from the start in blocks: what the encoder and the
// normalisation read, whatever file the frames come from. Not thread-safe; one per worker.
class TPcmSource {
public:
    virtual ~TPcmSource() = default;

    virtual int Channels() const = 0;
    virtual qint64 Frames() const = 0;
    virtual qint64 Position() const = 0;
    qint64 Remaining() const { return Frames() - Position(); }
    // The type in which every sample arrives exactly as the file holds it.
    virtual TPcmSampleType SampleType() const = 0;

    // Each read takes up to MaxFrames frames (MaxFrames x Channels() values) and returns how
    // many it got: fewer only at the end, or when the file could not be read. Integers of
    // more than 16 bits lose their low bits as int16_t; floats as integers are scaled by
    // 2^15 or 2^31 and clamped.
    virtual qint64 Read(int16_t *Out, qint64 MaxFrames) = 0;
    virtual qint64 Read(int32_t *Out, qint64 MaxFrames) = 0;
    // Integers map to -1.0 .. 1.0 (s / 2^(bits-1)); floats are taken as they are.
    virtual qint64 Read(float *Out, qint64 MaxFrames) = 0;
    virtual qint64 Read(double *Out, qint64 MaxFrames) = 0;
};

// The frames of a WAV file's data chunk, through TWaveSampleReader: 16-bit samples are the
// bytes as stored.
class TWavePcmSource : public TPcmSource {
public:
    // Reads what Info (ReadWaveFile's result for the file in Device) describes; the caller
    // keeps Device open. Throws as TWaveSampleReader does.
    TWavePcmSource(QIODevice &Device, const TWaveFileInfo &Info);

    int Channels() const override { return FReader.Channels(); }
    qint64 Frames() const override { return FReader.Frames(); }
    qint64 Position() const override { return FReader.Position(); }
    TPcmSampleType SampleType() const override;

    qint64 Read(int16_t *Out, qint64 MaxFrames) override;
    qint64 Read(int32_t *Out, qint64 MaxFrames) override { return FReader.Read(Out, MaxFrames); }
    qint64 Read(float *Out, qint64 MaxFrames) override { return FReader.Read(Out, MaxFrames); }
    qint64 Read(double *Out, qint64 MaxFrames) override { return FReader.Read(Out, MaxFrames); }

private:
    TWaveSampleReader FReader;
    std::vector<int32_t> FWide;
};
