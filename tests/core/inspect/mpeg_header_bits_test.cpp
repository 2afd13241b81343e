#include "inspect/MpegHeader.h"

#include <QByteArray>
#include <QtEndian>
#include <gtest/gtest.h>
#include <limits>

namespace {

QByteArray Be32(uint32_t Value) {
    QByteArray B(4, '\0');
    qToBigEndian(Value, B.data());
    return B;
}

TXingHeader Parse(const QByteArray &Bytes) {
    return ParseXingHeader(reinterpret_cast<const uint8_t *>(Bytes.constData()),
                           size_t(Bytes.size()));
}

QByteArray Be16(uint16_t Value) {
    QByteArray B(2, '\0');
    qToBigEndian(Value, B.data());
    return B;
}

// A VBRI header as its writer lays it out, up to the seek table (and two table entries).
QByteArray Vbri(uint16_t Version, uint32_t Bytes, uint32_t Frames) {
    return "VBRI" + Be16(Version) + Be16(1105) + Be16(75) + Be32(Bytes) + Be32(Frames) + Be16(2) +
           Be16(1) + Be16(2) + Be16(500) + Be16(0x1234) + Be16(0x5678);
}

TVbriHeader ParseVbri(const QByteArray &Bytes) {
    return ParseVbriHeader(reinterpret_cast<const uint8_t *>(Bytes.constData()),
                           size_t(Bytes.size()));
}

} // namespace

// The frame walks take each frame's length from its bits alone: it must be the length the
// full decoding gives, padding included, and 0 where the decoding finds no usable header.
TEST(HeaderBitsTest, FrameBytesAgreeWithTheFullDecodingOnEveryCode) {
    // Version, layer, protection, bit-rate, sample-rate and padding codes: bits 9 to 20.
    for (uint32_t Codes = 0; Codes < (1u << 12); ++Codes) {
        for (uint32_t Rest : {0x000u, 0x1FFu}) {
            const uint32_t H = 0xFFE00000u | Codes << 9 | Rest;
            TMPEGInfo Info;
            const bool Decoded = DecodeFrameHeader(H, Info);
            EXPECT_EQ(FrameBytes(H), Decoded ? Info.FrameLength : 0) << std::hex << H;
        }
    }
    EXPECT_EQ(FrameBytes(0xFFFB9000u), 417);
    EXPECT_EQ(FrameBytes(0xFFFB9200u), 418);
    EXPECT_EQ(FrameBytes(0x7FFB9000u), 0); // no sync
    EXPECT_EQ(BitRateIndex(0xFFFB9000u), 9);
}

TEST(VbriHeaderTest, ReadsEveryFieldBigEndian) {
    const TVbriHeader V = ParseVbri(Vbri(1, 2000000, 76543));
    ASSERT_TRUE(V.Present);
    EXPECT_EQ(V.Version, 1);
    EXPECT_EQ(V.Delay, 1105);
    EXPECT_EQ(V.Quality, 75);
    EXPECT_EQ(V.Bytes, 2000000u);
    EXPECT_EQ(V.Frames, 76543u);
    EXPECT_EQ(V.TableEntries, 2);
    EXPECT_EQ(V.TableScale, 1);
    EXPECT_EQ(V.EntryBytes, 2);
    EXPECT_EQ(V.FramesPerEntry, 500);
    // The table itself is not needed: the fixed part alone is enough.
    EXPECT_TRUE(ParseVbri(Vbri(1, 1, 2).left(int(VbriFixedSize))).Present);
}

TEST(VbriHeaderTest, NeedsItsIdTheWholeFixedPartAndVersionOne) {
    EXPECT_FALSE(ParseVbri(Vbri(1, 1, 2).left(int(VbriFixedSize) - 1)).Present);
    EXPECT_FALSE(ParseVbri(Vbri(2, 1, 2)).Present);
    EXPECT_FALSE(ParseVbri(Vbri(0, 1, 2)).Present);
    QByteArray Other = Vbri(1, 1, 2);
    Other.replace(0, 4, "Xing");
    EXPECT_FALSE(ParseVbri(Other).Present);
    EXPECT_FALSE(ParseVbri(QByteArray()).Present);
}

TEST(XingHeaderTest, InfoIsTheConstantBitRateFormOnly) {
    const QByteArray Info = "Info" + Be32(1) + Be32(100);
    const auto *Bytes = reinterpret_cast<const uint8_t *>(Info.constData());
    EXPECT_TRUE(IsInfoHeader(Bytes, 4));
    EXPECT_FALSE(IsInfoHeader(Bytes, 3));
    EXPECT_FALSE(Parse(Info).Present);
    EXPECT_FALSE(IsInfoHeader(reinterpret_cast<const uint8_t *>("Xing"), 4));
}

// The search screens every byte offset with the quick checks and decodes only what passes:
// a header the quick check turns away must not be one the decoding would take, and the other
// way round.
TEST(HeaderBitsTest, QuickChecksAgreeWithTheFullDecodingOnEveryCode) {
    int Usable = 0, Free = 0;
    // Version, layer, protection, bit-rate and sample-rate codes: bits 10 to 20.
    for (uint32_t Codes = 0; Codes < (1u << 11); ++Codes) {
        for (uint32_t Rest : {0x000u, 0x3FFu}) {
            const uint32_t H = 0xFFE00000u | Codes << 10 | Rest;
            TMPEGInfo Info;
            const bool Decoded = DecodeFrameHeader(H, Info);
            EXPECT_EQ(MayBeHeader(H), Decoded) << std::hex << H;
            const bool FreeFormat = ((H >> 12) & 15) == 0 && ((H >> 19) & 3) != 1 &&
                                    ((H >> 17) & 3) != 0 && ((H >> 10) & 3) != 3;
            EXPECT_EQ(MayBeFreeFormatHeader(H), FreeFormat) << std::hex << H;
            EXPECT_FALSE(MayBeHeader(H) && MayBeFreeFormatHeader(H)) << std::hex << H;
            Usable += Decoded;
            Free += FreeFormat;
        }
    }
    // 3 versions × 3 layers × 2 protections × 14 bit rates × 3 sample rates, times 2 for Rest.
    EXPECT_EQ(Usable, 3 * 3 * 2 * 14 * 3 * 2);
    EXPECT_EQ(Free, 3 * 3 * 2 * 3 * 2);
    // Without the full sync nothing passes.
    for (uint32_t H : {0xFFDB9000u, 0x7FFB9000u, 0xFEFB9000u}) {
        EXPECT_FALSE(MayBeHeader(H)) << std::hex << H;
        EXPECT_FALSE(MayBeFreeFormatHeader(H & ~0xF000u)) << std::hex << H;
    }
}

TEST(HeaderBitsTest, BigEndianTakesTheFirstByteAsTheHighest) {
    const uint8_t Bytes[] = {0xFF, 0xFB, 0x90, 0x64, 0x01};
    EXPECT_EQ(BigEndian32(Bytes), 0xFFFB9064u);
    EXPECT_EQ(BigEndian32(Bytes + 1), 0xFB906401u);
}

TEST(HeaderBitsTest, SamplesPerFrameAndXingOffsetFollowVersionLayerAndMode) {
    EXPECT_EQ(SamplesPerFrame(1, 1), 384);
    EXPECT_EQ(SamplesPerFrame(3, 1), 384);
    EXPECT_EQ(SamplesPerFrame(1, 2), 1152);
    EXPECT_EQ(SamplesPerFrame(2, 2), 1152);
    EXPECT_EQ(SamplesPerFrame(1, 3), 1152);
    EXPECT_EQ(SamplesPerFrame(2, 3), 576);
    EXPECT_EQ(SamplesPerFrame(3, 3), 576);

    // Mode 3 is a single channel, whose side information is shorter.
    EXPECT_EQ(XingOffset(1, 3), 21);
    EXPECT_EQ(XingOffset(1, 0), 36);
    EXPECT_EQ(XingOffset(1, 1), 36);
    EXPECT_EQ(XingOffset(2, 3), 13);
    EXPECT_EQ(XingOffset(3, 3), 13);
    EXPECT_EQ(XingOffset(2, 2), 21);
}

TEST(DurationTest, ConstantBitRateCountsWholeSecondsOfTheAudioBytes) {
    EXPECT_EQ(CbrDuration(16000 * 10, 128), 10u);
    EXPECT_EQ(CbrDuration(16000 * 10 - 1, 128), 9u); // never rounded up
    EXPECT_EQ(CbrDuration(0, 128), 0u);
    EXPECT_EQ(CbrDuration(-417, 128), 0u);
    EXPECT_EQ(CbrDuration(1000000, 0), 0u);
    EXPECT_EQ(CbrDuration(1000000, -1), 0u); // the VBR mark is no bit rate
    // Over 136 years of audio at 8 kbit/s saturates instead of wrapping.
    EXPECT_EQ(CbrDuration(std::numeric_limits<qint64>::max(), 8),
              std::numeric_limits<uint32_t>::max());
}

TEST(DurationTest, FrameCountRoundsToTheNearestSecondHalvesToEven) {
    EXPECT_EQ(VbrDuration(38, 1, 3, 44100), 1u);    // 0.993 s
    EXPECT_EQ(VbrDuration(1000, 2, 3, 22050), 26u); // 26.12 s
    EXPECT_EQ(VbrDuration(0, 1, 3, 44100), 0u);
    // 384 samples at 768 Hz are half a second a frame: 2.5 s and 3.5 s go to the even second.
    EXPECT_EQ(VbrDuration(5, 1, 1, 768), 2u);
    EXPECT_EQ(VbrDuration(7, 1, 1, 768), 4u);
    EXPECT_EQ(VbrDuration(std::numeric_limits<uint32_t>::max(), 1, 1, 1),
              std::numeric_limits<uint32_t>::max());
}

TEST(XingHeaderTest, ReadsOnlyTheFieldsItsFlagsAnnounce) {
    const QByteArray Toc(100, '\x7F');
    TXingHeader X = Parse("Xing" + Be32(0xF) + Be32(1234) + Be32(567890) + Toc + Be32(57));
    EXPECT_TRUE(X.Present);
    EXPECT_EQ(X.Flags, 0xFu);
    EXPECT_EQ(X.Frames, 1234u);
    EXPECT_EQ(X.Bytes, 567890u);
    EXPECT_EQ(X.Quality, 57u);

    // Without a table of contents the quality follows the frame count directly.
    X = Parse("Xing" + Be32(0x9) + Be32(1234) + Be32(57));
    EXPECT_EQ(X.Frames, 1234u);
    EXPECT_EQ(X.Bytes, 0u);
    EXPECT_EQ(X.Quality, 57u);

    X = Parse("Xing" + Be32(0x2) + Be32(567890));
    EXPECT_EQ(X.Frames, 0u);
    EXPECT_EQ(X.Bytes, 567890u);
}

TEST(XingHeaderTest, StopsWhereTheBytesEnd) {
    TXingHeader X = Parse("Xing" + Be32(0xF) + Be32(1234) + Be32(567890) + QByteArray(100, 0) +
                          QByteArray("\0\0", 2));
    EXPECT_TRUE(X.Present);
    EXPECT_EQ(X.Bytes, 567890u);
    EXPECT_EQ(X.Quality, 0u); // two of its four bytes only

    X = Parse("Xing" + Be32(0x3) + QByteArray("\0\0\x04", 3));
    EXPECT_TRUE(X.Present);
    EXPECT_EQ(X.Flags, 3u);
    EXPECT_EQ(X.Frames, 0u);

    X = Parse(QByteArray("Xing", 4));
    EXPECT_TRUE(X.Present);
    EXPECT_EQ(X.Flags, 0u);

    for (const QByteArray &Other : {QByteArray("Xin", 3), QByteArray("Info") + Be32(1) + Be32(9),
                                    QByteArray("xing") + Be32(1) + Be32(9)}) {
        X = Parse(Other);
        EXPECT_FALSE(X.Present) << Other.constData();
        EXPECT_EQ(X.Frames, 0u);
    }
}

TEST(RecordTest, MpegAudioNeedsUsableValuesAndTheFactsOfARealFile) {
    TMPEGInfo Info;
    ASSERT_TRUE(DecodeFrameHeader(0xFFFB9000u, Info));
    Info.Length = 6;
    Info.FileDate = 1;
    EXPECT_TRUE(DescribesMpegAudio(Info));

    TMPEGInfo Vbr = Info;
    Vbr.BitRate = -1;
    EXPECT_TRUE(DescribesMpegAudio(Vbr));
    Vbr.BitRate = -2;
    EXPECT_FALSE(DescribesMpegAudio(Vbr));

    for (auto Spoil :
         {+[](TMPEGInfo &I) { I.Length = 5; }, +[](TMPEGInfo &I) { I.FileDate = 0; },
          +[](TMPEGInfo &I) { I.BitRate = 0; }, +[](TMPEGInfo &I) { I.Version = 0; },
          +[](TMPEGInfo &I) { I.Layer = 0; }, +[](TMPEGInfo &I) { I.SampleRate = 0; }}) {
        TMPEGInfo Spoilt = Info;
        Spoil(Spoilt);
        EXPECT_FALSE(DescribesMpegAudio(Spoilt));
    }
}
