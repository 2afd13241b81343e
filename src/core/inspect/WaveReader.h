#pragma once

#include <QString>
#include <QtGlobal>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class QFile;
class QIODevice;

// The WAV reader every part of the program uses: a walk over the RIFF chunks that finds the
// format and the audio wherever they lie, the checks that a header can describe real audio,
// and a reader of the data chunk's samples as frames.

// The 44-byte canonical RIFF/WAVE header, decoded little-endian from raw bytes. This is the
// record the program shows; ReadWaveFile fills its fmt and data fields from the real chunks.
struct TWaveHeader {
    std::array<char, 4> RiffId{};
    uint32_t RiffSize = 0;
    std::array<char, 4> WaveId{};
    std::array<char, 4> FmtId{};
    uint32_t FmtSize = 0;
    uint16_t FormatTag = 0;
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;
    uint32_t BytesPerSecond = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    std::array<char, 4> DataId{};
    uint32_t DataSize = 0;

    static constexpr int Size = 44;

    // Decodes exactly Size bytes.
    static TWaveHeader FromBytes(const uint8_t *bytes);
    // "RIFF", or "RF64" or "BW64" (the 64-bit forms), at offset 0 and "WAVE" at offset 8.
    bool IsRiffWave() const;
    // "RF64" or "BW64" at offset 0: the real sizes are in a ds64 chunk.
    bool Is64Bit() const;

    bool operator==(const TWaveHeader &) const = default;
};

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
inline constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// The highest sample rate a header may state and still count as audio.
inline constexpr uint32_t MaxWaveSampleRate = 768000;

enum TWaveSampleKind { wskNone, wskInteger, wskFloat };

// How one sample of one channel is stored in the data chunk. Bits is the container size:
// 8 (unsigned, 128 is silence), 16, 24 or 32 (signed) for integers, 32 or 64 for IEEE float.
// Fewer valid bits than the container holds sit in its top bits, so reading the whole
// container gives the right level.
struct TWaveSampleFormat {
    TWaveSampleKind Kind = wskNone;
    int Bits = 0;

    int Bytes() const { return Bits / 8; }
    // One of the forms above, which the converters and TWaveSampleReader handle.
    bool IsReadable() const;

    bool operator==(const TWaveSampleFormat &) const = default;
};

// What the WAV reader found. FileSize and Duration are set only when Valid. Header holds the
// first 44 bytes as read, with the fmt fields (FmtId to BitsPerSample) and the data fields
// (DataId, DataSize) replaced by those of the real chunks where the walk found them; for an
// extensible header FormatTag is the tag of its sub-format (PCM or IEEE float).
struct TWaveFileInfo {
    bool Valid = false;
    qint64 FileSize = 0; // 64-bit: WAV files over 2 GiB are legal
    int32_t Duration = 0;
    TWaveHeader Header;

    bool HasFormat = false;  // a complete fmt chunk of at least 16 bytes
    bool HasData = false;    // a data chunk
    bool Extensible = false; // the fmt chunk is WAVE_FORMAT_EXTENSIBLE
    bool Truncated = false;  // the data chunk claims more bytes than the file holds (cut copy)
    bool Streamed = false;   // data size 0xFFFFFFFF: never filled in, the data runs to the end
    bool HasDs64 = false;    // a 64-bit file whose ds64 chunk was read
    // The data chunk's size as the file states it: its own 32-bit field, or, where that is
    // 0xFFFFFFFF in a 64-bit file, the ds64 chunk's (clamped to the largest qint64).
    qint64 ClaimedDataSize = 0;
    qint64 DataOffset = 0; // where the data chunk's audio starts
    qint64 DataLength = 0; // audio bytes present in the file, whole frames
    TWaveSampleFormat SampleFormat;

    // Sample frames in the data chunk.
    qint64 Frames() const { return Header.BlockAlign ? DataLength / Header.BlockAlign : 0; }
};

// Walks the chunks of File (open for reading, any position) and fills Info: Info is
// cleared first, Valid says whether WaveFileProblem found nothing, FileSize and Duration are
// set when valid. A 64-bit file ("RF64" or "BW64") takes the sizes its fields cannot hold,
// marked 0xFFFFFFFF, from the ds64 chunk right behind "WAVE": the data size, and others from
// its table. Duration counts one byte more than the data holds, as the program always
// has: a canonical file of 44 + n bytes plays (n + 1) / BytesPerSecond seconds.
void ReadWaveFile(QIODevice &File, TWaveFileInfo &Info);

// Why the header of a walked file cannot describe real audio, naming the field, or empty
// when it can: not RIFF/WAVE, no complete fmt chunk, no channels, a sample rate outside
// 1..MaxWaveSampleRate Hz, a zero byte rate, for PCM and float a block alignment or byte
// rate that disagrees with channels, bits and rate, no data chunk. Compressed formats keep
// block sizes and rates of their own, so only the first checks apply to them.
QString WaveFileProblem(const TWaveFileInfo &Info);

// Conversions between the stored little-endian bytes of Count samples of Format (which must
// be readable) and sample values, interleaved as stored.
// - floating point: integers map to -1.0 .. 1.0 (a sample s of b bits gives s / 2^(b-1));
//   float samples are taken as they are, so they may exceed 1.0.
// - int32: integers are left-justified to the full 32-bit range (16-bit s gives s << 16);
//   float samples are scaled by 2^31, rounded to the nearest and clamped.
// Back to bytes, integer formats take the value scaled to their range, rounded to the
// nearest (ties to even) and clamped; float formats store floating-point values as they are.
void DecodeWaveSamples(const uint8_t *In, size_t Count, TWaveSampleFormat Format, float *Out);
void DecodeWaveSamples(const uint8_t *In, size_t Count, TWaveSampleFormat Format, double *Out);
void DecodeWaveSamples(const uint8_t *In, size_t Count, TWaveSampleFormat Format, int32_t *Out);
void EncodeWaveSamples(const float *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out);
void EncodeWaveSamples(const double *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out);
void EncodeWaveSamples(const int32_t *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out);

// Reads the data chunk of a WAV file block by block as interleaved frames, raw or decoded
// (see DecodeWaveSamples). It reads exactly the Frames() that ReadWaveFile counted, from
// DataOffset on, and never anything after them. Not thread-safe; one reader per worker.
class TWaveSampleReader {
public:
    // Opens FileName and reads the data that Info (ReadWaveFile's result for that file)
    // describes. Throws EFOpenError when the file cannot be opened or positioned, and
    // std::invalid_argument when Info is not valid or its sample format is not readable.
    TWaveSampleReader(const QString &FileName, const TWaveFileInfo &Info);
    // The same over a device the caller keeps open for the reader's lifetime.
    TWaveSampleReader(QIODevice &Device, const TWaveFileInfo &Info);
    ~TWaveSampleReader();
    TWaveSampleReader(const TWaveSampleReader &) = delete;
    TWaveSampleReader &operator=(const TWaveSampleReader &) = delete;

    int Channels() const { return FChannels; }
    TWaveSampleFormat Format() const { return FFormat; }
    int BlockAlign() const { return FBlockAlign; }
    qint64 Frames() const { return FFrames; }
    qint64 Position() const { return FPosition; }
    qint64 Remaining() const { return FFrames - FPosition; }
    // The file ended early or could not be read: a read returned fewer frames than it could.
    bool Failed() const { return FFailed; }

    // Each read takes up to MaxFrames frames (MaxFrames x Channels() values, or
    // MaxFrames x BlockAlign() bytes) and returns how many it got: fewer only at the end of
    // the data, or when the file could not be read (then Failed() is set).
    qint64 ReadBytes(uint8_t *Out, qint64 MaxFrames);
    qint64 Read(float *Out, qint64 MaxFrames);
    qint64 Read(double *Out, qint64 MaxFrames);
    qint64 Read(int32_t *Out, qint64 MaxFrames);
    // Goes to a frame (clamped to 0..Frames()); false when the device cannot seek there.
    bool Seek(qint64 Frame);

private:
    void Open(const TWaveFileInfo &Info);
    template <typename T> qint64 ReadDecoded(T *Out, qint64 MaxFrames);

    std::unique_ptr<QFile> FOwnedFile;
    QIODevice *FDevice = nullptr;
    TWaveSampleFormat FFormat;
    int FChannels = 0;
    int FBlockAlign = 0;
    qint64 FDataOffset = 0;
    qint64 FFrames = 0;
    qint64 FPosition = 0;
    bool FFailed = false;
    std::vector<uint8_t> FBytes;
};
