#include "inspect/MpegHeader.h"

#include <algorithm>
#include <cstring>
#include <limits>

const std::array<QString, 4> MPEGVersionText = {QStringLiteral("Unknown"), QStringLiteral("1.0"),
                                                QStringLiteral("2.0"), QStringLiteral("2.5")};
const std::array<QString, 4> MPEGLayerText = {QStringLiteral("Unknown"), QStringLiteral("I"),
                                              QStringLiteral("II"), QStringLiteral("III")};
const std::array<QString, 4> MPEGModeText = {
    QStringLiteral("Stereo"), QStringLiteral("Joint Stereo"), QStringLiteral("Dual Channel"),
    QStringLiteral("Single Channel")};

namespace {

// kbit/s by [MPEG 1 | MPEG 2 and 2.5][layer - 1][bit-rate index]; indexes 0 (free) and 15
// (bad) give 0.
constexpr int16_t BitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};

// Hz by [version - 1][sample-rate index]; index 3 is reserved.
constexpr int32_t SampleRates[3][4] = {
    {44100, 48000, 32000, 0}, {22050, 24000, 16000, 0}, {11025, 12000, 8000, 0}};

// Num / Den rounded to the nearest integer, halves to the even one.
uint64_t DivideRoundingHalfToEven(uint64_t Num, uint64_t Den) {
    const uint64_t Quotient = Num / Den, Twice = 2 * (Num % Den);
    if (Twice > Den || (Twice == Den && (Quotient & 1) != 0))
        return Quotient + 1;
    return Quotient;
}

uint32_t ClampToUInt32(uint64_t Value) {
    return uint32_t(std::min<uint64_t>(Value, std::numeric_limits<uint32_t>::max()));
}

} // namespace

int SamplesPerFrame(int Version, int Layer) {
    if (Layer == 1)
        return 384;
    return Layer == 3 && Version != 1 ? 576 : 1152;
}

int XingOffset(int Version, int Mode) {
    const bool Mono = Mode == 3;
    if (Version == 1)
        return Mono ? 21 : 36;
    return Mono ? 13 : 21;
}

bool DecodeFrameHeader(uint32_t H, TMPEGInfo &Info) {
    Info.Version = Info.Layer = Info.Mode = 0;
    Info.SampleRate = Info.BitRate = 0;
    Info.Copyright = Info.Original = Info.ErrorProt = Info.Padding = false;
    Info.FrameLength = 0;
    Info.Duration = 0;

    if ((H & 0xFFE00000u) != 0xFFE00000u)
        return false;
    static constexpr uint8_t Versions[4] = {3, 0, 2, 1};
    Info.Version = Versions[(H >> 19) & 3];
    if (Info.Version == 0)
        return false;
    Info.Layer = uint8_t((4 - ((H >> 17) & 3)) & 3);
    Info.ErrorProt = ((H >> 16) & 1) == 0;
    Info.SampleRate = SampleRates[Info.Version - 1][(H >> 10) & 3];
    Info.Padding = ((H >> 9) & 1) != 0;
    Info.Mode = uint8_t((H >> 6) & 3);
    Info.Copyright = ((H >> 3) & 1) != 0;
    Info.Original = ((H >> 2) & 1) != 0;
    if (Info.Layer != 0)
        Info.BitRate = BitRates[Info.Version == 1 ? 0 : 1][Info.Layer - 1][(H >> 12) & 15];

    // Length × 8 ÷ (BitRate × 1000) without forming the product.
    if (Info.BitRate > 0 && Info.Length > 0)
        Info.Duration = ClampToUInt32(uint64_t(Info.Length) / (uint64_t(Info.BitRate) * 125));

    if (Info.SampleRate > 0 && Info.Layer != 0) {
        const int Padding = Info.Padding ? 1 : 0;
        int Bytes;
        if (Info.Layer == 1)
            Bytes = 4 * (12000 * Info.BitRate / Info.SampleRate + Padding);
        else
            // Bytes per frame = samples per frame / 8 × bit rate / sample rate.
            Bytes =
                SamplesPerFrame(Info.Version, Info.Layer) * 125 * Info.BitRate / Info.SampleRate +
                Padding;
        Info.FrameLength = uint16_t(Bytes);
    }
    return Info.Layer != 0 && Info.BitRate > 0 && Info.SampleRate > 0;
}

int FrameBytes(uint32_t H) {
    if (!MayBeHeader(H))
        return 0;
    static constexpr uint8_t Versions[4] = {3, 0, 2, 1};
    const int Version = Versions[(H >> 19) & 3];
    const int Layer = 4 - int((H >> 17) & 3);
    const int BitRate = BitRates[Version == 1 ? 0 : 1][Layer - 1][BitRateIndex(H)];
    const int SampleRate = SampleRates[Version - 1][(H >> 10) & 3];
    const int Padding = int(H >> 9) & 1;
    if (Layer == 1)
        return 4 * (12000 * BitRate / SampleRate + Padding);
    return SamplesPerFrame(Version, Layer) * 125 * BitRate / SampleRate + Padding;
}

TXingHeader ParseXingHeader(const uint8_t *Bytes, size_t Size) {
    TXingHeader X;
    if (Size < 4 || std::memcmp(Bytes, "Xing", 4) != 0)
        return X;
    X.Present = true;
    size_t At = 4;
    auto Next = [&](uint32_t &Out) {
        if (At + 4 > Size)
            return false;
        Out = BigEndian32(Bytes + At);
        At += 4;
        return true;
    };
    if (!Next(X.Flags))
        return X;
    if ((X.Flags & 1) != 0 && !Next(X.Frames))
        return X;
    if ((X.Flags & 2) != 0 && !Next(X.Bytes))
        return X;
    if ((X.Flags & 4) != 0)
        At += 100;
    if ((X.Flags & 8) != 0)
        Next(X.Quality);
    return X;
}

bool IsInfoHeader(const uint8_t *Bytes, size_t Size) {
    return Size >= 4 && std::memcmp(Bytes, "Info", 4) == 0;
}

TVbriHeader ParseVbriHeader(const uint8_t *Bytes, size_t Size) {
    TVbriHeader V;
    if (Size < VbriFixedSize || std::memcmp(Bytes, "VBRI", 4) != 0)
        return V;
    auto Be16 = [Bytes](size_t At) { return uint16_t(Bytes[At] << 8 | Bytes[At + 1]); };
    V.Version = Be16(4);
    if (V.Version != 1)
        return V;
    V.Present = true;
    V.Delay = Be16(6);
    V.Quality = Be16(8);
    V.Bytes = BigEndian32(Bytes + 10);
    V.Frames = BigEndian32(Bytes + 14);
    V.TableEntries = Be16(18);
    V.TableScale = Be16(20);
    V.EntryBytes = Be16(22);
    V.FramesPerEntry = Be16(24);
    return V;
}

uint32_t CbrDuration(qint64 AudioBytes, int BitRate) {
    return AudioBytes > 0 && BitRate > 0
               ? ClampToUInt32(uint64_t(AudioBytes) / (uint64_t(BitRate) * 125))
               : 0;
}

uint32_t VbrDuration(uint32_t Frames, int Version, int Layer, int SampleRate) {
    return ClampToUInt32(DivideRoundingHalfToEven(
        uint64_t(Frames) * uint64_t(SamplesPerFrame(Version, Layer)), uint64_t(SampleRate)));
}
