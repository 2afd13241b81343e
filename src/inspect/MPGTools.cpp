#include "inspect/MPGTools.h"

#include "inspect/MP3WavComm.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

const std::array<QString, 4> MPEGVersionText = {QStringLiteral("Unknown"), QStringLiteral("1.0"),
                                                QStringLiteral("2.0"), QStringLiteral("2.5")};
const std::array<QString, 4> MPEGLayerText = {QStringLiteral("Unknown"), QStringLiteral("I"),
                                              QStringLiteral("II"), QStringLiteral("III")};
const std::array<QString, 4> MPEGModeText = {
    QStringLiteral("Stereo"), QStringLiteral("Joint Stereo"), QStringLiteral("Dual Channel"),
    QStringLiteral("Single Channel")};

namespace {

// clang-format off
const char *const Genres[GenreCount] = {
    "Blues",             "Classic Rock",      "Country",           "Dance",
    "Disco",             "Funk",              "Grunge",            "Hip-Hop",
    "Jazz",              "Metal",             "New Age",           "Oldies",
    "Other",             "Pop",               "R&B",               "Rap",
    "Reggae",            "Rock",              "Techno",            "Industrial",
    "Alternative",       "Ska",               "Death Metal",       "Pranks",
    "Soundtrack",        "Euro-Techno",       "Ambient",           "Trip-Hop",
    "Vocal",             "Jazz+Funk",         "Fusion",            "Trance",
    "Classical",         "Instrumental",      "Acid",              "House",
    "Game",              "Sound Clip",        "Gospel",            "Noise",
    "AlternRock",        "Bass",              "Soul",              "Punk",
    "Space",             "Meditative",        "Instrumental Pop",  "Instrumental Rock",
    "Ethnic",            "Gothic",            "Darkwave",          "Techno-Industrial",
    "Electronic",        "Pop-Folk",          "Eurodance",         "Dream",
    "Southern Rock",     "Comedy",            "Cult",              "Gangsta",
    "Top 40",            "Christian Rap",     "Pop/Funk",          "Jungle",
    "Native American",   "Cabaret",           "New Wave",          "Psychadelic",
    "Rave",              "Showtunes",         "Trailer",           "Lo-Fi",
    "Tribal",            "Acid Punk",         "Acid Jazz",         "Polka",
    "Retro",             "Musical",           "Rock & Roll",       "Hard Rock",
    "Folk",              "Folk-Rock",         "National Folk",     "Swing",
    "Fast Fusion",       "Bebob",             "Latin",             "Revival",
    "Celtic",            "Bluegrass",         "Avantgarde",        "Gothic Rock",
    "Progessive Rock",   "Psychedelic Rock",  "Symphonic Rock",    "Slow Rock",
    "Big Band",          "Chorus",            "Easy Listening",    "Acoustic",
    "Humour",            "Speech",            "Chanson",           "Opera",
    "Chamber Music",     "Sonata",            "Symphony",          "Booty Bass",
    "Primus",            "Porn Groove",       "Satire",            "Slow Jam",
    "Club",              "Tango",             "Samba",             "Folklore",
    "Ballad",            "Power Ballad",      "Rhythmic Soul",     "Freestyle",
    "Duet",              "Punk Rock",         "Drum Solo",         "A capella",
    "Euro-House",        "Dance Hall"};
// clang-format on

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

constexpr qint64 ReadBufferSize = 64 * 1024;

// The cheap part of header validity, on the raw bits: sync, and no reserved version, layer,
// bit-rate or sample-rate code. The search runs this on every byte offset.
inline bool MayBeHeader(uint32_t H) {
    return (H & 0xFFE00000u) == 0xFFE00000u && ((H >> 19) & 3) != 1 && ((H >> 17) & 3) != 0 &&
           ((H >> 12) & 15) != 0 && ((H >> 12) & 15) != 15 && ((H >> 10) & 3) != 3;
}

// A header whose bit-rate index is 0 ("free format"): the rest must be usable. Its frame
// length is not coded; it is the distance to the next header of the same stream.
inline bool MayBeFreeFormatHeader(uint32_t H) {
    return (H & 0xFFE00000u) == 0xFFE00000u && ((H >> 19) & 3) != 1 && ((H >> 17) & 3) != 0 &&
           ((H >> 12) & 15) == 0 && ((H >> 10) & 3) != 3;
}

// The bits that stay the same from frame to frame of one free-format stream: sync, version,
// layer, protection, bit-rate index and sample rate (padding and mode may change).
constexpr uint32_t FreeFormatSameBits = 0xFFFFFC00u;
// Free-format frames are at most 640 kbit/s at the lowest rate of their version (2,880
// bytes for MPEG 1 Layer III at 32 kHz); the search for the next one stops here.
constexpr qint64 MaxFreeFormatFrame = 4096;

uint32_t BigEndian32(const uint8_t *B) {
    return uint32_t(B[0]) << 24 | uint32_t(B[1]) << 16 | uint32_t(B[2]) << 8 | uint32_t(B[3]);
}

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

// The name after the last folder separator; paths written on Windows split too.
QString NameWithoutPath(const QString &Path) {
    return Path.mid(std::max(Path.lastIndexOf(u'/'), Path.lastIndexOf(u'\\')) + 1);
}

// Modification time in the packed DOS form the record has always held (local time, two-second
// steps). Times outside the form's years are clamped, so every real file gets a non-zero stamp.
int32_t PackedFileDate(time_t ModifiedSecs) {
    QDateTime Modified = QDateTime::fromSecsSinceEpoch(qint64(ModifiedSecs));
    if (!Modified.isValid())
        return 0;
    const QDateTime First(QDate(1980, 1, 1), QTime(0, 0));
    const QDateTime Last(QDate(2107, 12, 31), QTime(23, 59, 58));
    Modified = std::clamp(Modified, First, Last);
    const QDate D = Modified.date();
    const QTime T = Modified.time();
    const uint32_t Packed = uint32_t(D.year() - 1980) << 25 | uint32_t(D.month()) << 21 |
                            uint32_t(D.day()) << 16 | uint32_t(T.hour()) << 11 |
                            uint32_t(T.minute()) << 5 | uint32_t(T.second() / 2);
    return int32_t(Packed);
}

// Text of a tag field: up to the first zero byte, without trailing spaces.
QString TagText(const uint8_t *Bytes, int Size) {
    const auto *End = static_cast<const uint8_t *>(std::memchr(Bytes, 0, size_t(Size)));
    int Count = End ? int(End - Bytes) : Size;
    while (Count > 0 && Bytes[Count - 1] == ' ')
        --Count;
    return QString::fromLatin1(reinterpret_cast<const char *>(Bytes), Count);
}

void PutTagText(uint8_t *Out, int Size, const QString &Text) {
    const QByteArray Bytes = Text.toLatin1();
    std::memcpy(Out, Bytes.constData(), size_t(std::min<qsizetype>(Bytes.size(), Size)));
}

// A POSIX file descriptor, so that failed opens give the platform's error code.
class TFileHandle {
public:
    TFileHandle(const QString &Path, int Flags)
        : FFd(::open(QFile::encodeName(Path).constData(), Flags | O_CLOEXEC)) {}
    ~TFileHandle() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileHandle(const TFileHandle &) = delete;
    TFileHandle &operator=(const TFileHandle &) = delete;

    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }

    // Up to Count bytes at Offset, fewer only at the end of the file; -1 on error (errno).
    qint64 ReadAt(qint64 Offset, uint8_t *Out, qint64 Count) const {
        qint64 Done = 0;
        while (Done < Count) {
            const ssize_t Got =
                ::pread(FFd, Out + Done, size_t(Count - Done), off_t(Offset + Done));
            if (Got < 0 && errno == EINTR)
                continue;
            if (Got < 0)
                return -1;
            if (Got == 0)
                break;
            Done += Got;
        }
        return Done;
    }

    bool WriteAt(qint64 Offset, const uint8_t *Bytes, qint64 Count) const {
        qint64 Done = 0;
        while (Done < Count) {
            const ssize_t Put =
                ::pwrite(FFd, Bytes + Done, size_t(Count - Done), off_t(Offset + Done));
            if (Put < 0 && errno == EINTR)
                continue;
            if (Put <= 0) {
                if (Put == 0)
                    errno = EIO;
                return false;
            }
            Done += Put;
        }
        return true;
    }

private:
    int FFd;
};

// The frame search moves back by a few bytes after each false candidate; keeping one window
// of the file makes those moves free instead of a fresh read each.
class TBufferedReader {
public:
    explicit TBufferedReader(const TFileHandle &File) : FFile(File), FBuffer(ReadBufferSize) {}

    // Bytes from Offset to the end of the window, refilled when Offset lies outside it.
    // Count is 0 at the end of the file; false on a read error.
    bool Window(qint64 Offset, const uint8_t *&Bytes, qint64 &Count) {
        if (Offset < FStart || Offset >= FStart + FFilled) {
            const qint64 Got = FFile.ReadAt(Offset, FBuffer.data(), ReadBufferSize);
            if (Got < 0)
                return false;
            FStart = Offset;
            FFilled = Got;
        }
        Bytes = FBuffer.data() + (Offset - FStart);
        Count = FFilled - (Offset - FStart);
        return true;
    }

    // Up to Count bytes at Offset; fewer only at the end of the file, -1 on a read error.
    qint64 Read(qint64 Offset, uint8_t *Out, qint64 Count) {
        qint64 Done = 0;
        while (Done < Count) {
            const uint8_t *Bytes = nullptr;
            qint64 Available = 0;
            if (!Window(Offset + Done, Bytes, Available))
                return -1;
            if (Available == 0)
                break;
            const qint64 Take = std::min(Available, Count - Done);
            std::memcpy(Out + Done, Bytes, size_t(Take));
            Done += Take;
        }
        return Done;
    }

private:
    const TFileHandle &FFile;
    std::vector<uint8_t> FBuffer;
    qint64 FStart = 0;
    qint64 FFilled = 0;
};

// Where the frame search starts: behind a leading ID3v2 tag, whose picture or text could
// otherwise imitate frame headers. A tag claiming more than the file holds is not trusted.
qint64 AudioStart(TBufferedReader &Reader, qint64 Length) {
    uint8_t B[10];
    if (Reader.Read(0, B, 10) != 10 || std::memcmp(B, "ID3", 3) != 0 || B[3] == 0xFF ||
        B[4] == 0xFF || ((B[6] | B[7] | B[8] | B[9]) & 0x80) != 0)
        return 0;
    const qint64 Size = qint64(B[6]) << 21 | qint64(B[7]) << 14 | qint64(B[8]) << 7 | B[9];
    const qint64 End = 10 + Size + ((B[5] & 0x10) != 0 ? 10 : 0);
    return End + 4 <= Length ? End : 0;
}

uint32_t LittleEndian32(const uint8_t *B) {
    return uint32_t(B[0]) | uint32_t(B[1]) << 8 | uint32_t(B[2]) << 16 | uint32_t(B[3]) << 24;
}

// Where the audio ends: before an ID3v1 tag and an APEv2 tag at the end of the file (an APE
// tag sits in front of the ID3v1 tag when both are there). A tag claiming more than the file
// holds is not trusted. -1 on a read error.
qint64 AudioEnd(TBufferedReader &Reader, qint64 Length) {
    qint64 End = Length;
    uint8_t Tag[3];
    if (Length > ID3v1Size) {
        const qint64 Got = Reader.Read(Length - ID3v1Size, Tag, 3);
        if (Got < 0)
            return -1;
        if (Got == 3 && std::memcmp(Tag, "TAG", 3) == 0)
            End -= ID3v1Size;
    }
    constexpr qint64 ApeFooterSize = 32;
    uint8_t Footer[ApeFooterSize];
    if (End >= ApeFooterSize) {
        const qint64 Got = Reader.Read(End - ApeFooterSize, Footer, ApeFooterSize);
        if (Got < 0)
            return -1;
        if (Got == ApeFooterSize && std::memcmp(Footer, "APETAGEX", 8) == 0) {
            // The size counts the items and the footer; bit 31 of the flags: a header too.
            qint64 Size = LittleEndian32(Footer + 12);
            if ((LittleEndian32(Footer + 20) & 0x80000000u) != 0)
                Size += ApeFooterSize;
            if (Size >= ApeFooterSize && Size <= End)
                End -= Size;
        }
    }
    return End;
}

// Play time of constant-bit-rate audio bytes, in whole seconds.
uint32_t CbrDuration(qint64 AudioBytes, int BitRate) {
    return AudioBytes > 0 && BitRate > 0
               ? ClampToUInt32(uint64_t(AudioBytes) / (uint64_t(BitRate) * 125))
               : 0;
}

// Frame length without padding, of a frame Distance bytes long.
int FreeFormatBase(int Layer, bool Padding, qint64 Distance) {
    return int(Distance) - (Padding ? (Layer == 1 ? 4 : 1) : 0);
}

// Offset of the next header of the free-format stream whose header H lies at At, or -1 when
// there is none within the longest possible frame (or on a read error).
qint64 NextFreeFormatHeader(TBufferedReader &Reader, qint64 At, uint32_t H, qint64 Length) {
    const qint64 Last = std::min(Length - 4, At + MaxFreeFormatFrame);
    // The shortest sensible frame: a header, side information and a little data.
    for (qint64 Pos = At + 24; Pos <= Last;) {
        const uint8_t *Bytes = nullptr;
        qint64 Available = 0;
        if (!Reader.Window(Pos, Bytes, Available) || Available < 4) {
            uint8_t Word[4];
            if (Reader.Read(Pos, Word, 4) != 4)
                return -1;
            if ((BigEndian32(Word) & FreeFormatSameBits) == (H & FreeFormatSameBits))
                return Pos;
            ++Pos;
            continue;
        }
        const qint64 Span = std::min(Available - 3, Last - Pos + 1);
        for (qint64 I = 0; I < Span; ++I)
            if (Bytes[I] == 0xFF &&
                (BigEndian32(Bytes + I) & FreeFormatSameBits) == (H & FreeFormatSameBits))
                return Pos + I;
        Pos += Span;
    }
    return -1;
}

// Headers in a row, each where the frame before it ends, that the search wants to see
// before it believes in a stream. A pair of headers turns up by chance in other data (a FLAC
// or an executable); a run of this length practically never does (see bench/false_positive.sh).
constexpr int RunFrames = 8;
constexpr int FreeRunFrames = 32;

// The bits that every header of one stream shares: sync, version, layer, protection, sample
// rate and emphasis; encoders also keep the channel count. Not the copyright and original
// bits: some writers leave them clear in the VBR header frame only.
constexpr uint32_t StreamSameBits = 0xFFFF0C03u;
// A free-format stream keeps its bit-rate index (0) too.
constexpr uint32_t FreeStreamSameBits = StreamSameBits | 0xF000u;

bool SameStream(uint32_t A, uint32_t B, uint32_t SameBits) {
    const bool MonoA = ((A >> 6) & 3) == 3, MonoB = ((B >> 6) & 3) == 3;
    return (A & SameBits) == (B & SameBits) && MonoA == MonoB;
}

// How far past its start (behind a leading ID3v2 tag) a file may be searched for its first
// frame. Real files have at most a little junk there; past this it is some other data, and a
// huge file of it would hold the search for minutes.
constexpr qint64 MaxLeadingBytes = qint64(4) << 20;

enum class TRunCheck { Accepted, Rejected, ReadError };

// A Layer I frame starts with a 4-bit allocation per subband and channel, and 15 is forbidden
// there. Tables of 32-bit numbers (FF FF in every other pair of bytes) pass for Layer I
// headers every four bytes; their "allocations" are full of 15s.
TRunCheck LayerOneAllocationOk(TBufferedReader &Reader, qint64 At, uint32_t H, int FrameLength) {
    const int Mode = int(H >> 6) & 3;
    const int Bound = Mode == 1 ? 4 * ((int(H >> 4) & 3) + 1) : 32; // joint stereo shares above
    const int Nibbles = Mode == 3 ? 32 : 32 + Bound;
    const int Skip = 4 + ((H & 0x10000u) == 0 ? 2 : 0); // the CRC follows the header
    const int Size = std::min(Nibbles / 2, FrameLength - Skip);
    uint8_t Bytes[32];
    if (Size <= 0)
        return TRunCheck::Accepted;
    const qint64 Got = Reader.Read(At + Skip, Bytes, Size);
    if (Got < 0)
        return TRunCheck::ReadError;
    for (qint64 I = 0; I < Got; ++I)
        if ((Bytes[I] & 0xF0) == 0xF0 || (Bytes[I] & 0x0F) == 0x0F)
            return TRunCheck::Rejected;
    return TRunCheck::Accepted;
}

// Follows the frames of the stream whose header H lies at At: accepted when RunFrames headers
// of the same stream follow one another, or when a run of at least two frames ends exactly at
// End (a short file). FreeBase is the unpadded frame length of a free-format stream, 0 for
// one whose headers code their bit rate.
TRunCheck FollowRun(TBufferedReader &Reader, qint64 At, uint32_t H, int FreeBase, qint64 End) {
    const uint32_t SameBits = FreeBase > 0 ? FreeStreamSameBits : StreamSameBits;
    const bool LayerOne = ((H >> 17) & 3) == 3;
    const int PadBytes = LayerOne ? 4 : 1; // Layer I pads by a 4-byte slot
    if ((H & 3) == 2)                      // reserved emphasis
        return TRunCheck::Rejected;
    qint64 Pos = At;
    uint32_t Current = H;
    for (int Count = 1;; ++Count) {
        int FrameLength;
        if (FreeBase > 0) {
            FrameLength = FreeBase + ((Current & 0x200) != 0 ? PadBytes : 0);
        } else {
            TMPEGInfo Frame;
            DecodeFrameHeader(Current, Frame);
            FrameLength = Frame.FrameLength;
        }
        if (LayerOne) {
            const TRunCheck Allocation = LayerOneAllocationOk(Reader, Pos, Current, FrameLength);
            if (Allocation != TRunCheck::Accepted)
                return Allocation;
        }
        Pos += FrameLength;
        if (Count >= (FreeBase > 0 ? FreeRunFrames : RunFrames))
            return TRunCheck::Accepted;
        if (Pos == End)
            return Count >= 2 ? TRunCheck::Accepted : TRunCheck::Rejected;
        if (Pos + 4 > End)
            return TRunCheck::Rejected;
        uint8_t Word[4];
        const qint64 Got = Reader.Read(Pos, Word, 4);
        if (Got < 0)
            return TRunCheck::ReadError;
        Current = BigEndian32(Word);
        if (Got < 4 || !SameStream(Current, H, SameBits) ||
            (FreeBase == 0 && !MayBeHeader(Current)))
            return TRunCheck::Rejected;
    }
}

uint16_t LittleEndian16(const uint8_t *B) {
    return uint16_t(B[0] | B[1] << 8);
}

// What a file is whose bytes at At mark it as something other than MPEG audio, or null.
// A RIFF/WAVE file whose format chunk says MPEG audio (0x0050, 0x0055) holds frames and is
// searched like any other.
const char *OtherFormatAt(TBufferedReader &Reader, qint64 At) {
    uint8_t B[12];
    const qint64 Got = Reader.Read(At, B, sizeof B);
    if (Got < 4)
        return nullptr;
    static constexpr std::pair<const char *, const char *> Magics[] = {
        {"fLaC", "FLAC file"},
        {"OggS", "Ogg file"},
        {"FORM", "IFF file (AIFF or similar)"},
        {"\177ELF", "ELF executable"},
        {"PK\x03\x04", "ZIP archive"}};
    for (const auto &[Magic, Kind] : Magics)
        if (std::memcmp(B, Magic, 4) == 0)
            return Kind;
    if (std::memcmp(B, "RIFF", 4) != 0)
        return nullptr;
    if (Got < 12 || std::memcmp(B + 8, "WAVE", 4) != 0)
        return "RIFF file";
    // The fmt chunk comes first in practice; a few chunks in front of it are allowed for.
    qint64 Chunk = At + 12;
    for (int I = 0; I < 16; ++I) {
        uint8_t Header[10];
        if (Reader.Read(Chunk, Header, sizeof Header) != qint64(sizeof Header))
            break;
        const qint64 Size = LittleEndian32(Header + 4);
        if (std::memcmp(Header, "fmt ", 4) == 0) {
            const uint16_t FormatTag = LittleEndian16(Header + 8);
            return FormatTag == 0x0050 || FormatTag == 0x0055 ? nullptr
                                                              : "WAV file of another format";
        }
        Chunk += 8 + Size + (Size & 1);
    }
    return "WAV file without a format chunk";
}

// Cuts off the tag at the end of the file (NewTag null) or puts NewTag in its place (appended
// when there is none). A failed write puts back what was there, so the audio and an old tag
// survive. 0 or the errno of the failure.
int ReplaceTag(const TFileHandle &File, qint64 Size, const std::array<uint8_t, ID3v1Size> *NewTag) {
    uint8_t Old[ID3v1Size];
    bool Tagged = false;
    if (Size > ID3v1Size) {
        const qint64 Got = File.ReadAt(Size - ID3v1Size, Old, ID3v1Size);
        if (Got != ID3v1Size)
            return Got < 0 ? errno : EIO;
        Tagged = std::memcmp(Old, "TAG", 3) == 0;
    }
    const qint64 At = Tagged ? Size - ID3v1Size : Size;
    if (!NewTag)
        return Tagged && ::ftruncate(File.Fd(), off_t(At)) != 0 ? errno : 0;
    if (File.WriteAt(At, NewTag->data(), ID3v1Size))
        return 0;
    const int Error = errno;
    // Best effort: the write failure is what the caller reports either way.
    [[maybe_unused]] const bool Restored =
        Tagged ? File.WriteAt(At, Old, ID3v1Size) : ::ftruncate(File.Fd(), off_t(Size)) == 0;
    return Error;
}

} // namespace

QString GenreName(int Code) {
    return Code >= 0 && Code < GenreCount ? QString::fromLatin1(Genres[Code]) : QString();
}

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

bool ReadID3v1(const uint8_t (&Block)[ID3v1Size], TMPEGInfo &Info) {
    if (std::memcmp(Block, "TAG", 3) != 0)
        return false;
    Info.Header = QStringLiteral("TAG");
    Info.Title = TagText(Block + 3, 30);
    Info.Artist = TagText(Block + 33, 30);
    Info.Album = TagText(Block + 63, 30);
    Info.Year = QString::fromLatin1(reinterpret_cast<const char *>(Block + 93), 4);
    // ID3v1.1: byte 126 is a track number only behind a zero byte; otherwise it is the last
    // character of a 30-character ID3v1.0 comment.
    Info.Comment = TagText(Block + 97, 30);
    Info.Track = Block[125] == 0 ? Block[126] : 0;
    Info.Genre = Block[127];
    return true;
}

std::array<uint8_t, ID3v1Size> BuildID3v1(const TMPEGInfo &Info) {
    std::array<uint8_t, ID3v1Size> Block{};
    std::memcpy(Block.data(), "TAG", 3);
    PutTagText(Block.data() + 3, 30, Info.Title);
    PutTagText(Block.data() + 33, 30, Info.Artist);
    PutTagText(Block.data() + 63, 30, Info.Album);
    PutTagText(Block.data() + 93, 4, Info.Year);
    // With a track the comment keeps 28 characters and a zero byte, as ID3v1.1 readers
    // expect; without one it may use all 30.
    if (Info.Track != 0) {
        PutTagText(Block.data() + 97, 28, Info.Comment);
        Block[126] = Info.Track;
    } else {
        PutTagText(Block.data() + 97, 30, Info.Comment);
    }
    Block[127] = Info.Genre;
    return Block;
}

QString TagYearText(const QString &Year) {
    const qsizetype End = Year.indexOf(QChar(0));
    return End < 0 ? Year : Year.left(End);
}

TMPEGAudio::TMPEGAudio() : DefaultArtist("Unknown Artist"), DefaultTitle("Unknown Title") {}

void TMPEGAudio::ResetData() {
    FInfo = TMPEGInfo();
}

void TMPEGAudio::SetFileName(const QString &Value) {
    FInfo.FileName = Value;
    if (AutoLoad)
        LoadData();
}

bool TMPEGAudio::IsValid() const {
    return FInfo.Length > 5 && FInfo.Version > 0 && FInfo.Layer > 0 && FInfo.FileDate != 0 &&
           FInfo.BitRate != 0 && FInfo.BitRate >= -1 && FInfo.SampleRate > 0;
}

bool TMPEGAudio::HasTag() const {
    return FInfo.Header == QStringLiteral("TAG");
}

QString TMPEGAudio::DisplayTitle() const {
    return !HasTag() && !DefaultTitle.IsEmpty() ? DefaultTitle.Text() : FInfo.Title.Text();
}

QString TMPEGAudio::DisplayArtist() const {
    return !HasTag() && !DefaultArtist.IsEmpty() ? DefaultArtist.Text() : FInfo.Artist.Text();
}

QTime TMPEGAudio::DurationTime() const {
    return FInfo.Duration < 86400 ? SecondsToTime(int(FInfo.Duration)) : QTime();
}

void TMPEGAudio::LoadData() {
    const QString Requested = FInfo.FileName;
    ResetData();
    FHeaderPosition = -1;
    FOtherFormat.clear();
    FProblem = TMpegProblem::None;
    FInfo.FileName = Requested.isEmpty() ? Requested : QFileInfo(Requested).absoluteFilePath();
    if (Requested.isEmpty() || !QFileInfo::exists(FInfo.FileName)) {
        FInfo.Title = QStringLiteral("[not found: %1]").arg(NameWithoutPath(Requested));
        return SetProblem(TMpegProblem::Missing);
    }

    // Non-blocking, so that a named pipe cannot stall the open; only plain files are read.
    const TFileHandle File(FInfo.FileName, O_RDONLY | O_NONBLOCK);
    struct stat Status {};
    if (!File.IsOpen() || ::fstat(File.Fd(), &Status) != 0 || !S_ISREG(Status.st_mode))
        return SetProblem(TMpegProblem::Unreadable);
    if (Status.st_size <= 5)
        return SetProblem(TMpegProblem::TooShort);
    FInfo.FileDate = PackedFileDate(Status.st_mtime);
    FInfo.Length = Status.st_size;
    const qint64 Length = FInfo.Length;

    // A rejected candidate leaves only what is known of the file itself.
    auto ResetToFile = [this] {
        TMPEGInfo Kept;
        Kept.FileName = FInfo.FileName;
        Kept.FileDate = FInfo.FileDate;
        Kept.Length = FInfo.Length;
        FInfo = Kept;
        FHeaderPosition = -1;
    };
    auto HeaderIsValid = [this](uint32_t H) {
        return MayBeHeader(H) && DecodeFrameHeader(H, FInfo) && IsValid();
    };

    TBufferedReader Reader(File);

    // Tags before and after the audio are no part of it: no frame lies in them, and a run of
    // frames that ends where they begin ends with the audio.
    const qint64 Start = AudioStart(Reader, Length);
    const qint64 End = AudioEnd(Reader, Length);
    if (End < 0)
        return SetProblem(TMpegProblem::ReadError);
    for (const qint64 At : {qint64(0), Start}) {
        if (const char *Kind = OtherFormatAt(Reader, At)) {
            FOtherFormat = QString::fromLatin1(Kind);
            return SetProblem(TMpegProblem::OtherFormat);
        }
    }

    // The record holds the second header of an accepted run, the first one's position.
    auto AcceptRun = [&](uint32_t H, qint64 At) {
        const TRunCheck Run = FollowRun(Reader, At, H, 0, End);
        if (Run != TRunCheck::Accepted)
            return Run;
        uint8_t Word[4];
        if (Reader.Read(At + FInfo.FrameLength, Word, 4) != 4)
            return TRunCheck::ReadError;
        DecodeFrameHeader(BigEndian32(Word), FInfo);
        return TRunCheck::Accepted;
    };
    // A free-format header's frame length is the distance to the next header of its stream,
    // within the longest possible frame; it gives the bit rate.
    auto AcceptFreeFormat = [&](uint32_t H, qint64 At) {
        DecodeFrameHeader(H, FInfo);
        if (FInfo.Layer == 0 || FInfo.SampleRate <= 0)
            return TRunCheck::Rejected;
        const qint64 Next = NextFreeFormatHeader(Reader, At, H, End);
        if (Next < 0)
            return TRunCheck::Rejected;
        const int Base = FreeFormatBase(FInfo.Layer, FInfo.Padding, Next - At);
        // Bytes per frame = samples per frame / 8 × bit rate / sample rate.
        FInfo.BitRate = int(std::lround(double(Base) * 8 * FInfo.SampleRate /
                                        SamplesPerFrame(FInfo.Version, FInfo.Layer) / 1000));
        FInfo.FrameLength = uint16_t(Next - At);
        if (!IsValid())
            return TRunCheck::Rejected;
        return FollowRun(Reader, At, H, Base, End);
    };

    // Headers may start up to here; every byte offset before it is looked at in order.
    const qint64 SearchEnd = std::min(End, std::min(Length, Start + MaxLeadingBytes) + 4);
    qint64 Pos = Start; // position after the last byte taken into H
    uint8_t Word[4];
    for (;;) {
        if (Pos + 4 > SearchEnd)
            return SetProblem(SearchEnd < End ? TMpegProblem::NoFrameNearStart
                                              : TMpegProblem::NoFrameRun);
        if (Reader.Read(Pos, Word, 4) != 4)
            return SetProblem(TMpegProblem::ReadError);
        uint32_t H = BigEndian32(Word);
        Pos += 4;

        // Shift the file through H one byte at a time until it holds a valid header.
        while (!HeaderIsValid(H) && !MayBeFreeFormatHeader(H) && Pos < SearchEnd) {
            const uint8_t *Bytes = nullptr;
            qint64 Available = 0;
            if (!Reader.Window(Pos, Bytes, Available))
                return SetProblem(TMpegProblem::ReadError);
            if (Available == 0)
                break;
            // No event processing in here: a command run from it (a drop during an add)
            // would reuse this inspector and load a record under the wrong name.
            const qint64 Span = std::min(Available, SearchEnd - Pos);
            qint64 I = 0;
            while (I < Span) {
                H = H << 8 | Bytes[I++];
                if (MayBeHeader(H) || MayBeFreeFormatHeader(H))
                    break;
            }
            Pos += I;
        }

        const qint64 Candidate = Pos - 4;
        TRunCheck Run = TRunCheck::Rejected;
        if (HeaderIsValid(H))
            Run = AcceptRun(H, Candidate);
        else if (MayBeFreeFormatHeader(H))
            Run = AcceptFreeFormat(H, Candidate);
        if (Run == TRunCheck::ReadError)
            return SetProblem(TMpegProblem::ReadError);
        if (Run == TRunCheck::Accepted) {
            FHeaderPosition = Candidate;
            break;
        }
        ResetToFile();
        if (Pos >= SearchEnd)
            continue; // the loop's first test ends the search
        Pos = Candidate + 1;
    }

    FInfo.Duration = CbrDuration(End - FHeaderPosition, FInfo.BitRate);

    uint8_t XingBytes[120];
    const qint64 XingAt = FHeaderPosition + XingOffset(FInfo.Version, FInfo.Mode);
    qint64 Got = Reader.Read(XingAt, XingBytes, sizeof XingBytes);
    if (Got < 0)
        return;
    const TXingHeader Xing = ParseXingHeader(XingBytes, size_t(Got));
    if (Xing.Present) {
        FInfo.BitRate = -1;
        FInfo.Duration = ClampToUInt32(DivideRoundingHalfToEven(
            uint64_t(Xing.Frames) * uint64_t(SamplesPerFrame(FInfo.Version, FInfo.Layer)),
            uint64_t(FInfo.SampleRate)));
        if (Xing.Frames != 0)
            FInfo.FrameLength = uint16_t(std::min<qint64>(Length / Xing.Frames, 0xFFFF));
    }

    if (Length > ID3v1Size) {
        uint8_t Block[ID3v1Size];
        if (Reader.Read(Length - ID3v1Size, Block, ID3v1Size) != ID3v1Size)
            return;
        if (!ReadID3v1(Block, FInfo))
            FInfo.Title = NameWithoutPath(FInfo.FileName);
    }
}

void TMPEGAudio::SetProblem(TMpegProblem Problem) {
    FProblem = Problem;
}

QString TMPEGAudio::Problem() const {
    switch (FProblem) {
    case TMpegProblem::None:
        break;
    case TMpegProblem::Missing:
        return QStringLiteral("no such file");
    case TMpegProblem::Unreadable:
        return QStringLiteral("cannot be opened for reading as a plain file");
    case TMpegProblem::TooShort:
        return QStringLiteral("not MPEG audio: too short");
    case TMpegProblem::OtherFormat:
        return QStringLiteral("not MPEG audio: %1").arg(FOtherFormat);
    case TMpegProblem::NoFrameNearStart:
        return QStringLiteral("not MPEG audio: no run of frames within its first %1 MiB")
            .arg(MaxLeadingBytes >> 20);
    case TMpegProblem::NoFrameRun:
        return QStringLiteral("not MPEG audio: no run of frames");
    case TMpegProblem::ReadError:
        return QStringLiteral("read error");
    }
    return QString();
}

int TMPEGAudio::WriteTag() {
    const std::array<uint8_t, ID3v1Size> Block = BuildID3v1(FInfo);
    return ChangeTag(&Block);
}

int TMPEGAudio::RemoveTag() {
    return ChangeTag(nullptr);
}

int TMPEGAudio::ChangeTag(const std::array<uint8_t, ID3v1Size> *NewTag) {
    if (FInfo.FileName.isEmpty() || !QFileInfo::exists(FInfo.FileName))
        return -1;
    int OpenError = 0, IOError = 0;
    {
        const TFileHandle File(FInfo.FileName, O_RDWR | O_NONBLOCK);
        struct stat Status {};
        if (!File.IsOpen())
            OpenError = errno;
        else if (::fstat(File.Fd(), &Status) != 0)
            IOError = errno;
        else
            IOError = ReplaceTag(File, Status.st_size, NewTag);
    }
    LoadData();
    if (IOError != 0)
        throw EInOutError(QStringLiteral("Input/output error on file \"%1\". %2")
                              .arg(FInfo.FileName, qt_error_string(IOError)));
    return OpenError;
}
