#include "inspect/MpegFrameSearch.h"

#include "inspect/Id3v1.h"
#include "inspect/MpegHeader.h"
#include "inspect/PositionalFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

// The bits that stay the same from frame to frame of one free-format stream: sync, version,
// layer, protection, bit-rate index and sample rate (padding and mode may change).
constexpr uint32_t FreeFormatSameBits = 0xFFFFFC00u;
// Free-format frames are at most 640 kbit/s at the lowest rate of their version (2,880
// bytes for MPEG 1 Layer III at 32 kHz); the search for the next one stops here.
constexpr qint64 MaxFreeFormatFrame = 4096;

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
    if (std::memcmp(B, "RIFF", 4) != 0 && std::memcmp(B, "RF64", 4) != 0 &&
        std::memcmp(B, "BW64", 4) != 0)
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

} // namespace

TFrameRun FindFrameRun(TBufferedReader &Reader, qint64 Length, TMPEGInfo &Info) {
    // A rejected candidate leaves only what is known of the file itself.
    auto ResetToFile = [&Info] {
        TMPEGInfo Kept;
        Kept.FileName = Info.FileName;
        Kept.FileDate = Info.FileDate;
        Kept.Length = Info.Length;
        Info = Kept;
    };
    auto HeaderIsValid = [&Info](uint32_t H) {
        return MayBeHeader(H) && DecodeFrameHeader(H, Info) && DescribesMpegAudio(Info);
    };
    TFrameRun Result;
    auto Fail = [&Result](TMpegProblem Problem) {
        Result.Problem = Problem;
        return Result;
    };

    // Tags before and after the audio are no part of it: no frame lies in them, and a run of
    // frames that ends where they begin ends with the audio.
    const qint64 Start = AudioStart(Reader, Length);
    const qint64 End = AudioEnd(Reader, Length);
    if (End < 0)
        return Fail(TMpegProblem::ReadError);
    Result.AudioEnd = End;
    for (const qint64 At : {qint64(0), Start}) {
        if (const char *Kind = OtherFormatAt(Reader, At)) {
            Result.OtherFormat = QString::fromLatin1(Kind);
            return Fail(TMpegProblem::OtherFormat);
        }
    }

    // The record holds the second header of an accepted run, the first one's position.
    auto AcceptRun = [&](uint32_t H, qint64 At) {
        const TRunCheck Run = FollowRun(Reader, At, H, 0, End);
        if (Run != TRunCheck::Accepted)
            return Run;
        uint8_t Word[4];
        if (Reader.Read(At + Info.FrameLength, Word, 4) != 4)
            return TRunCheck::ReadError;
        DecodeFrameHeader(BigEndian32(Word), Info);
        return TRunCheck::Accepted;
    };
    // A free-format header's frame length is the distance to the next header of its stream,
    // within the longest possible frame; it gives the bit rate.
    auto AcceptFreeFormat = [&](uint32_t H, qint64 At) {
        DecodeFrameHeader(H, Info);
        if (Info.Layer == 0 || Info.SampleRate <= 0)
            return TRunCheck::Rejected;
        const qint64 Next = NextFreeFormatHeader(Reader, At, H, End);
        if (Next < 0)
            return TRunCheck::Rejected;
        const int Base = FreeFormatBase(Info.Layer, Info.Padding, Next - At);
        // Bytes per frame = samples per frame / 8 × bit rate / sample rate.
        Info.BitRate = int(std::lround(double(Base) * 8 * Info.SampleRate /
                                       SamplesPerFrame(Info.Version, Info.Layer) / 1000));
        Info.FrameLength = uint16_t(Next - At);
        if (!DescribesMpegAudio(Info))
            return TRunCheck::Rejected;
        return FollowRun(Reader, At, H, Base, End);
    };

    // Headers may start up to here; every byte offset before it is looked at in order.
    const qint64 SearchEnd = std::min(End, std::min(Length, Start + MaxLeadingBytes) + 4);
    qint64 Pos = Start; // position after the last byte taken into H
    uint8_t Word[4];
    for (;;) {
        if (Pos + 4 > SearchEnd)
            return Fail(SearchEnd < End ? TMpegProblem::NoFrameNearStart
                                        : TMpegProblem::NoFrameRun);
        if (Reader.Read(Pos, Word, 4) != 4)
            return Fail(TMpegProblem::ReadError);
        uint32_t H = BigEndian32(Word);
        Pos += 4;

        // Shift the file through H one byte at a time until it holds a valid header.
        while (!HeaderIsValid(H) && !MayBeFreeFormatHeader(H) && Pos < SearchEnd) {
            const uint8_t *Bytes = nullptr;
            qint64 Available = 0;
            if (!Reader.Window(Pos, Bytes, Available))
                return Fail(TMpegProblem::ReadError);
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
            return Fail(TMpegProblem::ReadError);
        if (Run == TRunCheck::Accepted) {
            Result.HeaderPosition = Candidate;
            return Result;
        }
        ResetToFile();
        if (Pos >= SearchEnd)
            continue; // the loop's first test ends the search
        Pos = Candidate + 1;
    }
}

namespace {

constexpr qint64 ReadFailed = -2;

// The header at Pos, when it belongs to the stream whose first header is First and its frame
// ends by End: that frame's length; 0 when it does not; ReadFailed on a read error.
qint64 StreamFrameAt(TBufferedReader &Reader, qint64 Pos, uint32_t First, qint64 End,
                     uint32_t *Header = nullptr) {
    if (Pos + 4 > End)
        return 0;
    uint8_t Word[4];
    const qint64 Got = Reader.Read(Pos, Word, 4);
    if (Got < 0)
        return ReadFailed;
    if (Got < 4)
        return 0;
    const uint32_t H = BigEndian32(Word);
    const int Length = SameStream(H, First, StreamSameBits) ? FrameBytes(H) : 0;
    if (Length <= 0 || Pos + Length > End)
        return 0;
    if (Header)
        *Header = H;
    return Length;
}

// The first offset from From on, before Limit, where a header of the stream of First starts
// whose frame another one follows, or whose frame ends exactly at End. -1 when there is none,
// ReadFailed on a read error.
qint64 NextStreamHeader(TBufferedReader &Reader, qint64 From, qint64 Limit, uint32_t First,
                        qint64 End) {
    Limit = std::min(Limit, End - 4);
    for (qint64 Pos = From; Pos <= Limit;) {
        const uint8_t *Bytes = nullptr;
        qint64 Available = 0;
        if (!Reader.Window(Pos, Bytes, Available))
            return ReadFailed;
        if (Available == 0)
            return -1;
        // Only a 0xFF can start a header; the checks below read through the window again.
        const qint64 Span = std::min(Available, Limit - Pos + 1);
        const void *Sync = std::memchr(Bytes, 0xFF, size_t(Span));
        if (!Sync) {
            Pos += Span;
            continue;
        }
        Pos += static_cast<const uint8_t *>(Sync) - Bytes;
        const qint64 Length = StreamFrameAt(Reader, Pos, First, End);
        if (Length == ReadFailed)
            return ReadFailed;
        if (Length > 0) {
            if (Pos + Length == End)
                return Pos;
            const qint64 Next = StreamFrameAt(Reader, Pos + Length, First, End);
            if (Next == ReadFailed)
                return ReadFailed;
            if (Next > 0)
                return Pos;
        }
        ++Pos;
    }
    return -1;
}

// Follows up to Count frames from the header at Pos. Variable when one of them has another
// bit-rate code than First; Constant when the chain ends or Count frames were seen.
TBitRateCheck SameBitRates(TBufferedReader &Reader, qint64 Pos, int Count, uint32_t First,
                           qint64 End, qint64 &Reached) {
    for (int I = 0; I < Count; ++I) {
        uint32_t H = 0;
        const qint64 Length = StreamFrameAt(Reader, Pos, First, End, &H);
        if (Length == ReadFailed)
            return TBitRateCheck::ReadError;
        if (Length == 0)
            break;
        if (BitRateIndex(H) != BitRateIndex(First))
            return TBitRateCheck::Variable;
        Pos += Length;
    }
    Reached = Pos;
    return TBitRateCheck::Constant;
}

bool FirstHeader(TBufferedReader &Reader, qint64 At, uint32_t &H, bool &Failed) {
    uint8_t Word[4];
    const qint64 Got = Reader.Read(At, Word, 4);
    Failed = Got < 0;
    H = Got == 4 ? BigEndian32(Word) : 0;
    return Got == 4 && FrameBytes(H) > 0;
}

} // namespace

TBitRateCheck CheckBitRates(TBufferedReader &Reader, qint64 At, qint64 End) {
    uint32_t First = 0;
    bool Failed = false;
    if (!FirstHeader(Reader, At, First, Failed))
        return Failed ? TBitRateCheck::ReadError : TBitRateCheck::Constant;
    qint64 Reached = At;
    const TBitRateCheck Start = SameBitRates(Reader, At, BitRateCheckFrames, First, End, Reached);
    if (Start != TBitRateCheck::Constant)
        return Start;
    for (int Quarter = 1; Quarter <= 3; ++Quarter) {
        const qint64 From = At + (End - At) / 4 * Quarter;
        if (From <= Reached)
            continue;
        // A stretch of the longest frames is enough to find the stream again.
        constexpr qint64 SearchSpan = 4 * 2048;
        const qint64 Pos = NextStreamHeader(Reader, From, From + SearchSpan, First, End);
        if (Pos == ReadFailed)
            return TBitRateCheck::ReadError;
        if (Pos < 0)
            continue;
        const TBitRateCheck Later =
            SameBitRates(Reader, Pos, BitRateCheckLaterFrames, First, End, Reached);
        if (Later != TBitRateCheck::Constant)
            return Later;
    }
    return TBitRateCheck::Constant;
}

qint64 CountFrames(TBufferedReader &Reader, qint64 At, qint64 End) {
    uint32_t First = 0;
    bool Failed = false;
    if (!FirstHeader(Reader, At, First, Failed))
        return Failed ? -1 : 0;
    qint64 Count = 0;
    qint64 Pos = At;
    while (Pos + 4 <= End) {
        const qint64 Length = StreamFrameAt(Reader, Pos, First, End);
        if (Length == ReadFailed)
            return -1;
        if (Length > 0) {
            ++Count;
            Pos += Length;
            continue;
        }
        const qint64 Next = NextStreamHeader(Reader, Pos + 1, End, First, End);
        if (Next == ReadFailed)
            return -1;
        if (Next < 0)
            break;
        Pos = Next;
    }
    return Count;
}
