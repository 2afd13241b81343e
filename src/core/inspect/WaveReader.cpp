#include "inspect/WaveReader.h"

#include "platform/Exception.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace {

std::array<char, 4> FourCC(const uint8_t *bytes) {
    return {char(bytes[0]), char(bytes[1]), char(bytes[2]), char(bytes[3])};
}

bool IsFourCC(const std::array<char, 4> &Id, const char (&Text)[5]) {
    return std::equal(Id.begin(), Id.end(), Text);
}

qint64 ReadFully(QIODevice &Device, uint8_t *Out, qint64 Bytes) {
    qint64 count = 0;
    while (count < Bytes) {
        const qint64 got = Device.read(reinterpret_cast<char *>(Out) + count, Bytes - count);
        if (got <= 0)
            break; // end of file, or a read error: the caller sees the short count
        count += got;
    }
    return count;
}

// The fixed tail of the sub-format GUIDs of WAVE_FORMAT_EXTENSIBLE; the first two bytes
// hold the plain format tag.
constexpr uint8_t SubFormatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Takes the fields of a fmt chunk of Size bytes whose body starts at Body.
void ReadFormatChunk(QIODevice &File, qint64 Body, uint32_t Size, qint64 FileSize,
                     TWaveFileInfo &Info) {
    TWaveHeader &h = Info.Header;
    h.FmtId = {'f', 'm', 't', ' '};
    h.FmtSize = Size;
    uint8_t fmt[40] = {};
    const qint64 wanted = std::min<qint64>({qint64(Size), qint64(sizeof fmt), FileSize - Body});
    const qint64 got = File.seek(Body) ? ReadFully(File, fmt, wanted) : 0;
    uint16_t tag = qFromLittleEndian<quint16>(fmt);
    h.Channels = qFromLittleEndian<quint16>(fmt + 2);
    h.SampleRate = qFromLittleEndian<quint32>(fmt + 4);
    h.BytesPerSecond = qFromLittleEndian<quint32>(fmt + 8);
    h.BlockAlign = qFromLittleEndian<quint16>(fmt + 12);
    h.BitsPerSample = qFromLittleEndian<quint16>(fmt + 14);
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        Info.Extensible = true;
        if (got >= 40 && std::memcmp(fmt + 26, SubFormatGuidTail, sizeof SubFormatGuidTail) == 0)
            tag = qFromLittleEndian<quint16>(fmt + 24);
    }
    h.FormatTag = tag;
    Info.HasFormat = Size >= 16 && got >= 16;
}

uint64_t LittleEndian64(const uint8_t *Bytes) {
    return qFromLittleEndian<quint64>(Bytes);
}

// The sizes of a 64-bit file ("RF64", "BW64"), in its ds64 chunk right behind "WAVE": the
// RIFF size, the data size and the sample count (8 bytes each), then a table of the other
// chunks whose size does not fit 32 bits (id and 8-byte size each).
struct TDs64 {
    bool Present = false;
    qint64 DataSize = 0;
    std::vector<std::pair<std::array<char, 4>, qint64>> Table;

    // The table's size for a chunk Id, or Otherwise.
    qint64 SizeOf(const std::array<char, 4> &Id, qint64 Otherwise) const {
        for (const auto &[TableId, Size] : Table)
            if (TableId == Id)
                return Size;
        return Otherwise;
    }
};

// Sizes beyond qint64 claim more than any file holds; clamped, they still do.
qint64 ClampedSize(uint64_t Size) {
    return qint64(std::min<uint64_t>(Size, uint64_t(std::numeric_limits<qint64>::max())));
}

TDs64 ReadDs64(QIODevice &File) {
    TDs64 ds64;
    uint8_t head[8 + 28];
    if (!File.seek(12) || ReadFully(File, head, sizeof head) != qint64(sizeof head) ||
        !IsFourCC(FourCC(head), "ds64"))
        return ds64;
    const uint32_t size = qFromLittleEndian<quint32>(head + 4);
    if (size < 24)
        return ds64;
    ds64.Present = true;
    ds64.DataSize = ClampedSize(LittleEndian64(head + 8 + 8));
    if (size < 28)
        return ds64;
    // Real files list a chunk or two; the table cannot hold more than the chunk does.
    constexpr uint32_t MaxEntries = 64;
    const uint32_t entries =
        std::min({qFromLittleEndian<quint32>(head + 8 + 24), (size - 28) / 12, MaxEntries});
    uint8_t entry[12];
    for (uint32_t i = 0; i < entries; ++i) {
        if (ReadFully(File, entry, sizeof entry) != qint64(sizeof entry))
            break;
        ds64.Table.emplace_back(FourCC(entry), ClampedSize(LittleEndian64(entry + 4)));
    }
    return ds64;
}

TWaveSampleFormat SampleFormatOf(const TWaveHeader &h) {
    if (h.Channels == 0 || h.BlockAlign % h.Channels != 0)
        return {};
    const int bits = h.BlockAlign / h.Channels * 8;
    if (h.FormatTag == WAVE_FORMAT_PCM)
        return {wskInteger, bits};
    if (h.FormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return {wskFloat, bits};
    return {};
}

int32_t Le24(const uint8_t *p) {
    // Sign-extended through the top byte of a 32-bit value.
    return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
}

// One stored sample as a value of T (float, double or int32_t), scaled as documented.
template <typename T> T DecodeOne(const uint8_t *p, TWaveSampleFormat Format) {
    if constexpr (std::is_floating_point_v<T>) {
        switch (Format.Bits) {
        case 8:
            return T(int(p[0]) - 128) * T(1.0 / 128);
        case 16:
            return T(qFromLittleEndian<qint16>(p)) * T(1.0 / 32768);
        case 24:
            return T(Le24(p)) * T(1.0 / 8388608);
        case 32:
            if (Format.Kind == wskFloat)
                return T(qFromLittleEndian<float>(p));
            return T(qFromLittleEndian<qint32>(p)) * T(1.0 / 2147483648.0);
        default:
            return T(qFromLittleEndian<double>(p));
        }
    } else {
        if (Format.Kind == wskFloat) {
            const double v = Format.Bits == 32 ? double(qFromLittleEndian<float>(p))
                                               : qFromLittleEndian<double>(p);
            if (std::isnan(v))
                return 0;
            return int32_t(
                std::clamp(std::nearbyint(v * 2147483648.0), -2147483648.0, 2147483647.0));
        }
        switch (Format.Bits) {
        case 8:
            return int32_t(uint32_t(p[0] ^ 0x80) << 24);
        case 16:
            return int32_t(uint32_t(qFromLittleEndian<quint16>(p)) << 16);
        case 24:
            return Le24(p) * 256;
        default:
            return qFromLittleEndian<qint32>(p);
        }
    }
}

// An integer sample of Bits bits from a value already scaled to that range.
int64_t ClampToBits(double Value, int Bits) {
    if (std::isnan(Value))
        return 0;
    const double top = double(int64_t(1) << (Bits - 1));
    return int64_t(std::clamp(std::nearbyint(Value), -top, top - 1));
}

// The top Bits bits of a left-justified 32-bit value, rounded to the nearest, ties to even.
int64_t ShiftToBits(int32_t Value, int Bits) {
    const int shift = 32 - Bits;
    if (shift == 0)
        return Value;
    const int64_t v = Value;
    int64_t q = v >> shift; // floor
    const int64_t rest = v - (q << shift);
    const int64_t half = int64_t(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1)))
        ++q;
    return std::min(q, (int64_t(1) << (Bits - 1)) - 1);
}

void StoreInteger(int64_t Value, int Bits, uint8_t *p) {
    switch (Bits) {
    case 8:
        p[0] = uint8_t(Value + 128);
        break;
    case 16:
        qToLittleEndian<qint16>(qint16(Value), p);
        break;
    case 24:
        p[0] = uint8_t(Value);
        p[1] = uint8_t(Value >> 8);
        p[2] = uint8_t(Value >> 16);
        break;
    default:
        qToLittleEndian<qint32>(qint32(Value), p);
        break;
    }
}

template <typename T> void EncodeOne(T Value, TWaveSampleFormat Format, uint8_t *p) {
    if (Format.Kind == wskFloat) {
        double v;
        if constexpr (std::is_floating_point_v<T>)
            v = double(Value);
        else
            v = double(Value) / 2147483648.0;
        if (Format.Bits == 32)
            qToLittleEndian<float>(float(v), p);
        else
            qToLittleEndian<double>(v, p);
        return;
    }
    if constexpr (std::is_floating_point_v<T>)
        StoreInteger(
            ClampToBits(double(Value) * double(int64_t(1) << (Format.Bits - 1)), Format.Bits),
            Format.Bits, p);
    else
        StoreInteger(ShiftToBits(Value, Format.Bits), Format.Bits, p);
}

void RequireReadable(TWaveSampleFormat Format) {
    if (!Format.IsReadable())
        throw std::invalid_argument("WAV samples of a format the converters do not know");
}

template <typename T>
void DecodeAll(const uint8_t *In, size_t Count, TWaveSampleFormat Format, T *Out) {
    RequireReadable(Format);
    const int step = Format.Bytes();
    for (size_t i = 0; i < Count; ++i)
        Out[i] = DecodeOne<T>(In + i * size_t(step), Format);
}

template <typename T>
void EncodeAll(const T *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out) {
    RequireReadable(Format);
    const int step = Format.Bytes();
    for (size_t i = 0; i < Count; ++i)
        EncodeOne<T>(In[i], Format, Out + i * size_t(step));
}

} // namespace

TWaveHeader TWaveHeader::FromBytes(const uint8_t *bytes) {
    TWaveHeader H;
    H.RiffId = FourCC(bytes + 0);
    H.RiffSize = qFromLittleEndian<quint32>(bytes + 4);
    H.WaveId = FourCC(bytes + 8);
    H.FmtId = FourCC(bytes + 12);
    H.FmtSize = qFromLittleEndian<quint32>(bytes + 16);
    H.FormatTag = qFromLittleEndian<quint16>(bytes + 20);
    H.Channels = qFromLittleEndian<quint16>(bytes + 22);
    H.SampleRate = qFromLittleEndian<quint32>(bytes + 24);
    H.BytesPerSecond = qFromLittleEndian<quint32>(bytes + 28);
    H.BlockAlign = qFromLittleEndian<quint16>(bytes + 32);
    H.BitsPerSample = qFromLittleEndian<quint16>(bytes + 34);
    H.DataId = FourCC(bytes + 36);
    H.DataSize = qFromLittleEndian<quint32>(bytes + 40);
    return H;
}

bool TWaveHeader::IsRiffWave() const {
    return (IsFourCC(RiffId, "RIFF") || Is64Bit()) && IsFourCC(WaveId, "WAVE");
}

bool TWaveHeader::Is64Bit() const {
    return IsFourCC(RiffId, "RF64") || IsFourCC(RiffId, "BW64");
}

bool TWaveSampleFormat::IsReadable() const {
    if (Kind == wskInteger)
        return Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32;
    return Kind == wskFloat && (Bits == 32 || Bits == 64);
}

void ReadWaveFile(QIODevice &File, TWaveFileInfo &Info) {
    Info = TWaveFileInfo();
    const qint64 fileSize = File.size();
    std::array<uint8_t, TWaveHeader::Size> bytes{};
    if (File.seek(0))
        ReadFully(File, bytes.data(), TWaveHeader::Size);
    Info.Header = TWaveHeader::FromBytes(bytes.data());
    if (!Info.Header.IsRiffWave())
        return;

    // Chunks in any order; the first fmt and the first data chunk count. Each chunk body is
    // padded to an even length. The RIFF size is not trusted: writers get it wrong.
    const TDs64 ds64 = Info.Header.Is64Bit() ? ReadDs64(File) : TDs64();
    Info.HasDs64 = ds64.Present;
    bool formatSeen = false;
    qint64 dataPresent = 0;
    qint64 chunk = 12;
    while (chunk + 8 <= fileSize && !(Info.HasFormat && Info.HasData)) {
        uint8_t head[8];
        if (!File.seek(chunk) || ReadFully(File, head, 8) != 8)
            break;
        const uint32_t size32 = qFromLittleEndian<quint32>(head + 4);
        const qint64 body = chunk + 8;
        const std::array<char, 4> id = FourCC(head);
        qint64 size = size32;
        if (size32 == 0xFFFFFFFFu && ds64.Present)
            size = IsFourCC(id, "data") ? ds64.DataSize : ds64.SizeOf(id, size);
        if (IsFourCC(id, "fmt ") && !formatSeen) {
            formatSeen = true;
            ReadFormatChunk(File, body, uint32_t(std::min<qint64>(size, 0xFFFFFFFF)), fileSize,
                            Info);
        } else if (IsFourCC(id, "data") && !Info.HasData) {
            Info.HasData = true;
            Info.Header.DataId = id;
            Info.Header.DataSize = size32;
            Info.DataOffset = body;
            const qint64 available = fileSize - body;
            // A 64-bit writer that stopped early may leave the ds64 data size at 0.
            Info.Streamed = size32 == 0xFFFFFFFFu && (!ds64.Present || ds64.DataSize == 0);
            Info.ClaimedDataSize = size;
            Info.Truncated = !Info.Streamed && size > available;
            dataPresent = Info.Streamed || Info.Truncated ? available : size;
            // Nothing after data that runs to the end of the file can be a chunk.
            if (Info.Streamed || Info.Truncated)
                break;
        }
        // A chunk that runs past the end leaves nothing behind it.
        if (size > fileSize - body)
            break;
        chunk = body + size + (size & 1);
    }

    const TWaveHeader &h = Info.Header;
    if (Info.HasFormat)
        Info.SampleFormat = SampleFormatOf(h);
    // Half a frame at the end is no audio.
    Info.DataLength =
        Info.HasFormat && h.BlockAlign ? dataPresent - dataPresent % h.BlockAlign : dataPresent;
    Info.Valid = WaveFileProblem(Info).isEmpty();
    if (!Info.Valid)
        return;
    Info.FileSize = fileSize;
    // Capped so that a tiny byte rate in a huge file cannot wrap around.
    const qint64 seconds = (dataPresent + 1) / qint64(h.BytesPerSecond);
    Info.Duration = int32_t(std::min<qint64>(seconds, std::numeric_limits<int32_t>::max()));
}

QString WaveFileProblem(const TWaveFileInfo &Info) {
    const TWaveHeader &h = Info.Header;
    if (!h.IsRiffWave())
        return QStringLiteral("not a RIFF/WAVE file");
    if (!Info.HasFormat)
        return QStringLiteral("no complete fmt chunk (16 bytes or more)");
    if (h.Channels == 0)
        return QStringLiteral("Channels is 0");
    if (h.SampleRate < 1 || h.SampleRate > MaxWaveSampleRate)
        return QStringLiteral("SampleRate %1 Hz is outside 1 to %2 Hz")
            .arg(h.SampleRate)
            .arg(MaxWaveSampleRate);
    if (h.BytesPerSecond == 0)
        return QStringLiteral("BytesPerSecond is 0");
    // Compressed formats have block sizes and rates of their own; PCM and float must add up.
    if (h.FormatTag == WAVE_FORMAT_PCM || h.FormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        if (h.BitsPerSample == 0)
            return QStringLiteral("BitsPerSample is 0");
        const qint64 blockAlign = qint64(h.Channels) * ((h.BitsPerSample + 7) / 8);
        if (h.BlockAlign != blockAlign)
            return QStringLiteral("BlockAlign %1 does not match %2 channels of %3 bits (%4)")
                .arg(h.BlockAlign)
                .arg(h.Channels)
                .arg(h.BitsPerSample)
                .arg(blockAlign);
        const qint64 byteRate = qint64(h.SampleRate) * h.BlockAlign;
        if (h.BytesPerSecond != byteRate)
            return QStringLiteral("BytesPerSecond %1 does not match SampleRate %2 Hz x BlockAlign "
                                  "%3 (%4)")
                .arg(h.BytesPerSecond)
                .arg(h.SampleRate)
                .arg(h.BlockAlign)
                .arg(byteRate);
    }
    if (!Info.HasData)
        return QStringLiteral("no data chunk");
    return {};
}

void DecodeWaveSamples(const uint8_t *In, size_t Count, TWaveSampleFormat Format, float *Out) {
    DecodeAll(In, Count, Format, Out);
}
void DecodeWaveSamples(const uint8_t *In, size_t Count, TWaveSampleFormat Format, double *Out) {
    DecodeAll(In, Count, Format, Out);
}
void DecodeWaveSamples(const uint8_t *In, size_t Count, TWaveSampleFormat Format, int32_t *Out) {
    DecodeAll(In, Count, Format, Out);
}
void EncodeWaveSamples(const float *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out) {
    EncodeAll(In, Count, Format, Out);
}
void EncodeWaveSamples(const double *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out) {
    EncodeAll(In, Count, Format, Out);
}
void EncodeWaveSamples(const int32_t *In, size_t Count, TWaveSampleFormat Format, uint8_t *Out) {
    EncodeAll(In, Count, Format, Out);
}

TWaveSampleReader::TWaveSampleReader(const QString &FileName, const TWaveFileInfo &Info)
    : FOwnedFile(std::make_unique<QFile>(FileName)) {
    OpenRegularFileOrThrow(FileName, *FOwnedFile);
    FDevice = FOwnedFile.get();
    Open(Info);
    if (FFailed)
        throw EFOpenError(FileName, QStringLiteral("The audio data cannot be reached."));
}

TWaveSampleReader::TWaveSampleReader(QIODevice &Device, const TWaveFileInfo &Info)
    : FDevice(&Device) {
    Open(Info);
}

TWaveSampleReader::~TWaveSampleReader() = default;

void TWaveSampleReader::Open(const TWaveFileInfo &Info) {
    if (!Info.Valid || !Info.SampleFormat.IsReadable())
        throw std::invalid_argument(
            "TWaveSampleReader needs a valid WAV file of a readable format");
    FFormat = Info.SampleFormat;
    FChannels = Info.Header.Channels;
    FBlockAlign = Info.Header.BlockAlign;
    FDataOffset = Info.DataOffset;
    FFrames = Info.Frames();
    FFailed = !Seek(0);
}

bool TWaveSampleReader::Seek(qint64 Frame) {
    FPosition = std::clamp<qint64>(Frame, 0, FFrames);
    return FDevice->seek(FDataOffset + FPosition * FBlockAlign);
}

qint64 TWaveSampleReader::ReadBytes(uint8_t *Out, qint64 MaxFrames) {
    const qint64 frames = std::clamp<qint64>(MaxFrames, 0, Remaining());
    const qint64 got = ReadFully(*FDevice, Out, frames * FBlockAlign) / FBlockAlign;
    FPosition += got;
    if (got < frames) {
        FFailed = true;
        Seek(FPosition); // a part-read frame would shift every later one
    }
    return got;
}

template <typename T> qint64 TWaveSampleReader::ReadDecoded(T *Out, qint64 MaxFrames) {
    const qint64 frames = std::clamp<qint64>(MaxFrames, 0, Remaining());
    FBytes.resize(size_t(frames * FBlockAlign));
    const qint64 got = ReadBytes(FBytes.data(), frames);
    DecodeWaveSamples(FBytes.data(), size_t(got * FChannels), FFormat, Out);
    return got;
}

qint64 TWaveSampleReader::Read(float *Out, qint64 MaxFrames) {
    return ReadDecoded(Out, MaxFrames);
}
qint64 TWaveSampleReader::Read(double *Out, qint64 MaxFrames) {
    return ReadDecoded(Out, MaxFrames);
}
qint64 TWaveSampleReader::Read(int32_t *Out, qint64 MaxFrames) {
    return ReadDecoded(Out, MaxFrames);
}
