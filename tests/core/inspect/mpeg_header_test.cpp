#include "encoder/LameCoder.h"
#include "inspect/MPGTools.h"
#include "support/TestMedia.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <tuple>

namespace {

constexpr uint32_t Mpeg1L3At128 = 0xFFFB9000; // 44100 Hz, stereo, no CRC: 417 bytes
constexpr uint32_t Mpeg1L3At64 = 0xFFFB5000;  // 44100 Hz: 208 bytes
constexpr uint32_t Mpeg1L2 = 0xFFFDA400;      // 192 kbit/s, 48000 Hz: 576 bytes
constexpr uint32_t Mpeg1L1 = 0xFFFFC400;      // 384 kbit/s, 48000 Hz: 384 bytes

QByteArray Be32(uint32_t Value) {
    QByteArray B(4, '\0');
    qToBigEndian(Value, B.data());
    return B;
}

QByteArray Frames(uint32_t Header, int Count) {
    TMPEGInfo Info;
    DecodeFrameHeader(Header, Info);
    return (Be32(Header) + QByteArray(Info.FrameLength - 4, '\0')).repeated(Count);
}

QByteArray Id3v2(const QByteArray &Body, uint32_t DeclaredSize, uint8_t Flags = 0) {
    QByteArray Tag("ID3\x03\x00", 5);
    Tag += char(Flags);
    for (int Shift : {21, 14, 7, 0})
        Tag += char((DeclaredSize >> Shift) & 0x7F);
    return Tag + Body +
           ((Flags & 0x10) != 0 ? QByteArray("3DI\x03\x00\x10\x00\x00\x00\x00", 10) : QByteArray());
}

class MpegFileTest : public ::testing::Test {
protected:
    TMPEGAudio Load(const QByteArray &Bytes, const QString &Name = QStringLiteral("a.mp3")) {
        testmedia::WriteFile(Dir.filePath(Name), Bytes);
        TMPEGAudio Audio;
        Audio.SetFileName(Dir.filePath(Name));
        return Audio;
    }
    QTemporaryDir Dir;
};

} // namespace

TEST(FrameHeaderTest, DecodesRatesAndFrameLengthsOfEveryVersionAndLayer) {
    struct Case {
        uint32_t H;
        int Version, Layer, BitRate, SampleRate, FrameLength;
    };
    for (const Case &C :
         {Case{Mpeg1L3At128, 1, 3, 128, 44100, 417},
          Case{Mpeg1L3At128 | 0x200, 1, 3, 128, 44100, 418}, Case{Mpeg1L2, 1, 2, 192, 48000, 576},
          Case{Mpeg1L1, 1, 1, 384, 48000, 384}, Case{Mpeg1L1 | 0x200, 1, 1, 384, 48000, 388},
          Case{0xFFF38000, 2, 3, 64, 22050, 208}, // half the samples of MPEG 1
          Case{0xFFF5B400, 2, 2, 112, 24000, 672}, Case{0xFFE34800, 3, 3, 32, 8000, 288}}) {
        TMPEGInfo Info;
        ASSERT_TRUE(DecodeFrameHeader(C.H, Info)) << std::hex << C.H;
        EXPECT_EQ(Info.Version, C.Version);
        EXPECT_EQ(Info.Layer, C.Layer);
        EXPECT_EQ(Info.BitRate, C.BitRate);
        EXPECT_EQ(Info.SampleRate, C.SampleRate);
        EXPECT_EQ(Info.FrameLength, C.FrameLength) << std::hex << C.H;
    }
    TMPEGInfo Info;
    ASSERT_TRUE(DecodeFrameHeader(0xFFFA92CC, Info));
    EXPECT_TRUE(Info.ErrorProt && Info.Padding && Info.Copyright && Info.Original);
    EXPECT_EQ(MPEGModeText[Info.Mode], QStringLiteral("Single Channel"));
}

TEST(FrameHeaderTest, RejectsFreeBadAndReservedCodes) {
    // bit rate 0 and 15, sample rate 3, version 01, layer 00, broken sync
    for (uint32_t H :
         {0xFFFB0000u, 0xFFFBF000u, 0xFFFB9C00u, 0xFFEB9000u, 0xFFF99000u, 0xFF7B9000u}) {
        TMPEGInfo Info;
        EXPECT_FALSE(DecodeFrameHeader(H, Info)) << std::hex << H;
    }
}

TEST_F(MpegFileTest, ConstantBitRateDurationComesFromTheFileSize) {
    const TMPEGAudio A = Load(Frames(Mpeg1L3At128, 9600).left(4000000));
    ASSERT_TRUE(A.IsValid());
    EXPECT_EQ(A.Data().Duration, 250u);
    EXPECT_EQ(A.DurationTime(), QTime(0, 4, 10));
    EXPECT_EQ(A.HeaderPosition(), 0);
    EXPECT_EQ(A.Data().Title, QStringLiteral("a.mp3"));

    for (auto [H, Layer, Seconds] : {std::tuple{Mpeg1L2, 2, 24u}, std::tuple{Mpeg1L1, 1, 8u}}) {
        const TMPEGAudio B = Load(Frames(H, 1000));
        EXPECT_TRUE(B.IsValid());
        EXPECT_EQ(B.Data().Layer, Layer);
        EXPECT_EQ(B.Data().Duration, Seconds);
    }
}

TEST_F(MpegFileTest, XingHeaderGivesFrameCountDurationAndAverageFrameLength) {
    struct Case {
        uint32_t H;
        int XingAt;
        uint32_t Flags, Count;
        uint32_t Duration;
        int FrameLength;
    };
    for (const Case &C : {
             Case{Mpeg1L3At128, 36, 1, 10000, 261, 200},    // 261.2 s
             Case{Mpeg1L3At128, 36, 6, 10000, 0, 417},      // no frame count: decoded length stays
             Case{0xFFFB98C0, 21, 1, 125, 4, 16000},        // 32000 Hz mono: 4.5 s, half to even
             Case{0xFFFB98C0, 21, 1, 375, 14, 5333},        // 13.5 s
             Case{0xFFF380C0, 13, 1, 1000, 26, 2000},       // MPEG 2 Layer III: 576 samples
             Case{Mpeg1L3At128, 36, 1, 3000000, 78367, 0},  // over 18 hours
             Case{Mpeg1L3At128, 36, 1, 4000000, 104490, 0}, // more than a day
         }) {
        // The Xing frame leads a stream of frames up to the tag.
        QByteArray Bytes = Frames(C.H, 10000).left(2000000 - 128);
        const QByteArray Xing = "Xing" + Be32(C.Flags) + Be32(C.Count);
        Bytes.replace(C.XingAt, Xing.size(), Xing);
        Bytes += "TAG" + QByteArray(125, '\0');
        const TMPEGAudio A = Load(Bytes);
        ASSERT_TRUE(A.IsValid()) << C.Count;
        EXPECT_EQ(A.Data().BitRate, -1);
        EXPECT_EQ(A.Data().Duration, C.Duration) << C.Count;
        EXPECT_EQ(A.Data().FrameLength, C.FrameLength) << C.Count;
        EXPECT_TRUE(A.HasTag());
        EXPECT_EQ(A.DurationTime().isValid(), C.Duration < 86400);
    }
}

TEST_F(MpegFileTest, FalseSyncIsSkippedAndTheSearchResumesOneByteLater) {
    // FF FB 90 FF at offset 7 decodes, but 417 bytes on there is no header; the real
    // stream starts three bytes into that false header.
    const TMPEGAudio A = Load(QByteArray(7, '\0') + "\xFF\xFB\x90" + Frames(Mpeg1L3At128, 5));
    EXPECT_TRUE(A.IsValid());
    EXPECT_EQ(A.HeaderPosition(), 10);
}

TEST_F(MpegFileTest, LeadingId3v2TagIsSkippedUnlessItsSizeIsImpossible) {
    // A "picture" inside the tag imitates a run of frames at 64 kbit/s.
    const QByteArray Picture = QByteArray(100, 'p') + Frames(Mpeg1L3At64, 8) + QByteArray(50, 'p');
    const uint32_t Size = uint32_t(Picture.size());
    struct Case {
        uint32_t Declared;
        uint8_t Flags;
        int BitRate;
        qint64 Position;
    };
    // Searched from the start, the picture's frames and the real ones make one stream of two
    // bit rates: VBR.
    for (const Case &C : {Case{Size, 0, 128, 10 + Size}, Case{Size, 0x10, 128, 20 + Size},
                          Case{0x0FFFFFFF, 0, -1, 110}}) {
        const TMPEGAudio A = Load(Id3v2(Picture, C.Declared, C.Flags) + Frames(Mpeg1L3At128, 10));
        EXPECT_EQ(A.Data().BitRate, C.BitRate) << C.Flags;
        EXPECT_EQ(A.HeaderPosition(), C.Position) << C.Flags;
    }
}

// An APEv2 tag as tag editors write it: header, items, footer; the size counts items and footer.
QByteArray Apev2(int ItemBytes) {
    auto Block = [&](uint32_t Flags) {
        QByteArray B("APETAGEX");
        for (uint32_t V : {2000u, uint32_t(ItemBytes + 32), 1u, Flags})
            B += QByteArray(reinterpret_cast<const char *>(&V), 4); // little-endian host
        return B + QByteArray(8, '\0');
    };
    return Block(0xA0000000u) + QByteArray(ItemBytes, 'i') + Block(0x80000000u);
}

TEST_F(MpegFileTest, TagsBeforeAndAfterTheAudioAreNoPartOfTheConstantBitRatePlayTime) {
    // 230 frames of 417 bytes at 128 kbit/s: 5.99 s; 128 bytes more would make it 6.
    const QByteArray Audio = Frames(Mpeg1L3At128, 230);
    const QByteArray Id3v1 = "TAG" + QByteArray(125, ' ');
    struct Case {
        QByteArray Before, After;
    };
    for (const Case &C : {Case{{}, {}}, Case{{}, Id3v1}, Case{Id3v2({}, 0), Id3v1},
                          Case{Id3v2(QByteArray(1000, 'p'), 1000), Apev2(3000)},
                          Case{Id3v2(QByteArray(1 << 20, 'p'), 1 << 20), Apev2(50000) + Id3v1}}) {
        const TMPEGAudio A = Load(C.Before + Audio + C.After);
        ASSERT_TRUE(A.IsValid()) << C.Before.size() << " " << C.After.size();
        EXPECT_EQ(A.Data().Duration, 5u) << C.Before.size() << " " << C.After.size();
        EXPECT_EQ(A.Data().Length, C.Before.size() + Audio.size() + C.After.size());
        EXPECT_EQ(A.HeaderPosition(), C.Before.size());
        EXPECT_EQ(A.HasTag(), C.After.endsWith(Id3v1));
    }
    // An APE footer claiming more than the file holds is not trusted: 6.00 s with it.
    QByteArray Claim = Apev2(100);
    for (int At : {12, 13, 14})
        Claim[Claim.size() - 32 + At] = char(0xFF);
    EXPECT_EQ(Load(Audio + Claim).Data().Duration, 6u);
}

// Free-format frames: bit-rate index 0, every frame as long as the encoder chose.
QByteArray FreeFrames(uint32_t Header, int Base, int Count, int PadEvery = 0) {
    QByteArray Bytes;
    for (int I = 0; I < Count; ++I) {
        const bool Padded = PadEvery > 0 && I % PadEvery == PadEvery - 1;
        const int PadBytes = ((Header >> 17) & 3) == 3 ? 4 : 1;
        Bytes += Be32(Header | (Padded ? 0x200 : 0)) +
                 QByteArray(Base + (Padded ? PadBytes : 0) - 4, '\0');
    }
    return Bytes;
}

TEST_F(MpegFileTest, FreeFormatStreamsAreFoundByTheDistanceToTheNextFrame) {
    struct Case {
        uint32_t Header;
        int Base, Count, PadEvery;
        int Version, Layer, BitRate;
        uint32_t Duration;
    };
    for (const Case &C : {
             // 400 kbit/s at 44100 Hz, as a free-format encoder writes it: 1306 bytes and an
             // occasional padded frame; 200 frames are 5.2 s.
             Case{0xFFFB0000, 1306, 200, 9, 1, 3, 400, 5},
             Case{0xFFFB0000, 1306, 2, 0, 1, 3, 400, 0},   // just a pair
             Case{0xFFFF0400, 416, 1000, 0, 1, 1, 416, 8}, // Layer I, 48 kHz: 384 samples
             Case{0xFFF30000, 1306, 200, 0, 2, 3, 400, 5}, // MPEG 2 Layer III: 576 samples
         }) {
        const QByteArray Stream = FreeFrames(C.Header, C.Base, C.Count, C.PadEvery);
        const TMPEGAudio A = Load(Id3v2(QByteArray(300, 'p'), 300) + Stream);
        ASSERT_TRUE(A.IsValid()) << std::hex << C.Header << std::dec << " " << C.Count;
        EXPECT_EQ(A.HeaderPosition(), 310);
        EXPECT_EQ(A.Data().Version, C.Version);
        EXPECT_EQ(A.Data().Layer, C.Layer);
        EXPECT_EQ(A.Data().BitRate, C.BitRate);
        EXPECT_EQ(A.Data().FrameLength, C.Base);
        EXPECT_EQ(A.Data().Duration, C.Duration);
    }

    // A free-format header with nothing of its stream after it, or whose third frame is
    // missing where the second one's length says, is no audio.
    EXPECT_FALSE(Load(Be32(0xFFFB0000) + QByteArray(5000, '\0')).IsValid());
    QByteArray Broken = FreeFrames(0xFFFB0000, 1306, 3);
    Broken.remove(1306 + 100, 1);
    Broken += QByteArray(3000, '\0');
    EXPECT_FALSE(Load(Broken).IsValid());
    // A false free-format header in front of a CBR stream is passed over.
    const TMPEGAudio B = Load(Be32(0xFFFB0000) + QByteArray(60, '\0') + Frames(Mpeg1L3At128, 5));
    EXPECT_EQ(B.HeaderPosition(), 64);
    EXPECT_EQ(B.Data().BitRate, 128);
}

TEST_F(MpegFileTest, FilesWithoutAFramePairAreInvalidButKeepTheirFacts) {
    // A header closer to the end than its own frame length.
    TMPEGAudio A = Load(QByteArray(1000, 'x') + Be32(Mpeg1L3At128) + QByteArray(100, '\0'));
    EXPECT_FALSE(A.IsValid());
    EXPECT_EQ(A.Data().Length, 1104);
    EXPECT_NE(A.Data().FileDate, 0);
    EXPECT_TRUE(A.Data().Title.IsEmpty()) << "no tag is read";
    EXPECT_EQ(A.HeaderPosition(), -1);

    A = Load("plain text");
    EXPECT_FALSE(A.IsValid());
    EXPECT_TRUE(A.Data().Title.IsEmpty());

    A.SetFileName(Dir.filePath(QStringLiteral("song.mp3")));
    EXPECT_EQ(A.Data().Title, QStringLiteral("[not found: song.mp3]"));
    A.SetFileName(Dir.filePath(QStringLiteral("a rather long song name.mp3")));
    EXPECT_EQ(A.Data().Title, QStringLiteral("[not found: a rather long song"));
}

// A command run from inside the search would reuse the inspector under another name.
TEST_F(MpegFileTest, SearchRunsNoPendingEvents) {
    bool Ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { Ran = true; }, Qt::QueuedConnection);
    Load(QByteArray(1 << 20, '\0'));
    EXPECT_FALSE(Ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Ran);
}

struct EncodedCase {
    int SampleRate, Kbps;
    TLameMode Mode;
    bool Vbr;
    int Version;
};

class EncodedMpegTest : public MpegFileTest, public ::testing::WithParamInterface<EncodedCase> {};

TEST_P(EncodedMpegTest, ReportsTheEncodedStream) {
    const EncodedCase C = GetParam();
    const double Seconds = 5;
    testmedia::WriteSineWav(Dir.filePath("in.wav"), 2, C.SampleRate, Seconds, 440);
    TLameCoder Coder;
    Coder.SetSampleRate(uint32_t(C.SampleRate));
    Coder.SetBitrate(uint32_t(C.Kbps));
    Coder.SetMaxBitrate(C.SampleRate < 16000 ? 64 : C.SampleRate < 32000 ? 160 : 320);
    Coder.SetMode(C.Mode);
    Coder.SetEnableVBR(C.Vbr);
    Coder.SetInputFiles({Dir.filePath("in.wav")});
    Coder.Encode();

    TMPEGAudio A;
    A.SetFileName(Dir.filePath("in.mp3"));
    ASSERT_TRUE(A.IsValid());
    const TMPEGInfo &D = A.Data();
    EXPECT_EQ(D.Version, C.Version);
    EXPECT_EQ(D.Layer, 3);
    EXPECT_EQ(D.SampleRate, C.SampleRate);
    EXPECT_EQ(D.Mode, int(C.Mode));
    EXPECT_EQ(D.BitRate, C.Vbr ? -1 : C.Kbps);
    EXPECT_NEAR(double(D.Duration), Seconds, 1.0);
}

INSTANTIATE_TEST_SUITE_P(RatesAndModes, EncodedMpegTest,
                         ::testing::Values(EncodedCase{44100, 128, JSTEREO, false, 1},
                                           EncodedCase{44100, 128, MONO, true, 1},
                                           EncodedCase{22050, 64, STEREO, false, 2},
                                           EncodedCase{22050, 64, JSTEREO, true, 2},
                                           EncodedCase{24000, 64, MONO, false, 2},
                                           EncodedCase{16000, 48, MONO, true, 2},
                                           EncodedCase{11025, 32, MONO, false, 3},
                                           EncodedCase{11025, 32, STEREO, true, 3},
                                           EncodedCase{8000, 24, STEREO, false, 3},
                                           EncodedCase{8000, 24, MONO, true, 3}));

TEST(FrameHeaderTest, CopyrightAndOriginalAreTheirOwnBits) {
    TMPEGInfo Info;
    ASSERT_TRUE(DecodeFrameHeader(Mpeg1L3At128 | 0x08, Info));
    EXPECT_TRUE(Info.Copyright);
    EXPECT_FALSE(Info.Original);
    ASSERT_TRUE(DecodeFrameHeader(Mpeg1L3At128 | 0x04, Info));
    EXPECT_FALSE(Info.Copyright);
    EXPECT_TRUE(Info.Original);
}

TEST_F(MpegFileTest, FileDateIsTheModificationTimePackedTheDosWay) {
    const QString Name = Dir.filePath("dated.mp3");
    testmedia::WriteFile(Name, Frames(Mpeg1L3At128, 10));
    QFile File(Name);
    ASSERT_TRUE(File.open(QIODevice::ReadWrite));
    ASSERT_TRUE(File.setFileTime(QDateTime(QDate(2021, 3, 15), QTime(10, 20, 31)),
                                 QFileDevice::FileModificationTime));
    File.close();
    TMPEGAudio A;
    A.SetFileName(Name);
    ASSERT_TRUE(A.IsValid());
    const uint32_t D = uint32_t(A.Data().FileDate);
    EXPECT_EQ((D >> 25) + 1980, 2021u);
    EXPECT_EQ((D >> 21) & 15, 3u) << "month";
    EXPECT_EQ((D >> 16) & 31, 15u) << "day";
    EXPECT_EQ((D >> 11) & 31, 10u) << "hour";
    EXPECT_EQ((D >> 5) & 63, 20u) << "minute";
    EXPECT_EQ((D & 31) * 2, 30u) << "seconds in two-second steps";
}

// Bytes that hold no frame sync: 'x' is 0x78.
QByteArray Junk(int Size) {
    return QByteArray(Size, 'x');
}

TEST_F(MpegFileTest, AFewHeadersInOtherDataAreNoStream) {
    // Two, and seven, frames where their lengths say, then other data: chance, not audio.
    for (int Count : {2, 7}) {
        const TMPEGAudio A = Load(Junk(500) + Frames(Mpeg1L3At128, Count) + Junk(5000));
        EXPECT_FALSE(A.IsValid()) << Count;
        EXPECT_EQ(A.ProblemKind(), TMpegProblem::NoFrameRun) << Count;
        EXPECT_EQ(A.Problem(), QStringLiteral("not MPEG audio: no run of frames"));
        EXPECT_EQ(A.HeaderPosition(), -1);
    }
    // Eight make a stream; the record holds the second header, as with any stream.
    TMPEGAudio A =
        Load(Junk(500) + Frames(Mpeg1L3At128, 7) + Frames(Mpeg1L3At128 | 0x0C, 1) + Junk(5000));
    ASSERT_TRUE(A.IsValid());
    EXPECT_EQ(A.HeaderPosition(), 500);
    EXPECT_EQ(A.ProblemKind(), TMpegProblem::None);
    EXPECT_TRUE(A.Problem().isEmpty());

    // A run must keep its version, layer, sample rate, protection and channel count.
    for (uint32_t Other : {0xFFFB9400u, 0xFFF39000u, 0xFFFD9000u, 0xFFFA9000u, 0xFFFB90C0u}) {
        A = Load(Frames(Mpeg1L3At128, 4) + Frames(Other, 4) + Junk(5000));
        EXPECT_FALSE(A.IsValid()) << std::hex << Other;
    }
    // The bit rate, the padding and stereo against joint stereo change from frame to frame.
    A = Load(Frames(Mpeg1L3At128, 2) + Frames(Mpeg1L3At64 | 0x40, 2) + Frames(Mpeg1L3At128, 4) +
             Junk(5000));
    EXPECT_TRUE(A.IsValid());
    EXPECT_EQ(A.HeaderPosition(), 0);
}

TEST_F(MpegFileTest, ShortFileCountsWhenItsFramesEndWithTheAudio) {
    const QByteArray Id3v1 = "TAG" + QByteArray(125, ' ');
    struct Case {
        QByteArray Before;
        int Count;
        int Chop; // bytes cut off the last frame
        QByteArray After;
        bool Valid;
    };
    for (const Case &C : {Case{{}, 2, 0, {}, true}, Case{{}, 3, 0, {}, true},
                          Case{Id3v2(QByteArray(300, 'p'), 300), 2, 0, Id3v1, true},
                          Case{{}, 3, 0, Apev2(100) + Id3v1, true}, Case{Junk(20), 5, 0, {}, true},
                          Case{{}, 1, 0, {}, false},        // a lone frame
                          Case{{}, 3, 0, Junk(1), false},   // a byte more than the frames
                          Case{{}, 3, 1, {}, false},        // the last frame cut short
                          Case{{}, 4, 0, Junk(300), false}, // other data after them
                          Case{{}, 2, 0, Junk(100) + Id3v1, false}}) {
        QByteArray Audio = Frames(Mpeg1L3At128, C.Count);
        Audio.chop(C.Chop);
        const TMPEGAudio A = Load(C.Before + Audio + C.After);
        EXPECT_EQ(A.IsValid(), C.Valid) << C.Count << " " << C.After.size();
        if (C.Valid) {
            EXPECT_EQ(A.HeaderPosition(), C.Before.size());
            EXPECT_EQ(A.Data().BitRate, 128);
            EXPECT_EQ(A.HasTag(), C.After.endsWith(Id3v1));
        }
    }
}

TEST_F(MpegFileTest, OtherFormatsAreKnownByTheirFirstBytes) {
    // Each holds a stream of frames that would pass for MPEG audio otherwise.
    const QByteArray Stream = Frames(Mpeg1L3At128, 20);
    struct Case {
        QByteArray Start;
        QString Kind;
    };
    for (const Case &C :
         {Case{"fLaC", "FLAC file"}, Case{"OggS", "Ogg file"},
          Case{"FORM\x01\x02\x03\x04"
               "AIFF",
               "IFF file (AIFF or similar)"},
          Case{"\177ELF\x02\x01\x01", "ELF executable"}, Case{"PK\x03\x04\x14", "ZIP archive"},
          Case{"RIFF\x01\x02\x03\x04"
               "AVI LIST",
               "RIFF file"}}) {
        for (const QByteArray &Before : {QByteArray(), Id3v2(QByteArray(100, 'p'), 100)}) {
            const TMPEGAudio A = Load(Before + C.Start + Junk(30) + Stream);
            EXPECT_FALSE(A.IsValid()) << C.Kind.toStdString();
            EXPECT_EQ(A.ProblemKind(), TMpegProblem::OtherFormat);
            EXPECT_EQ(A.Problem(), "not MPEG audio: " + C.Kind);
            EXPECT_NE(A.Data().FileDate, 0) << "the file's own facts stay";
            EXPECT_EQ(A.Data().Length, Before.size() + C.Start.size() + 30 + Stream.size());
        }
    }
    // Magic numbers further in are no sign: a stream may well hold those bytes.
    EXPECT_TRUE(Load(Stream + "fLaC" + Stream).IsValid());

    // A WAV file holding MPEG audio is searched; one holding PCM is not.
    using testmedia::RiffWave;
    using testmedia::WavChunk;
    for (quint16 Tag : {0x0050, 0x0055}) {
        const QByteArray Wav =
            RiffWave(testmedia::WavFmtChunk(16, Tag, 2, 44100, 0) + WavChunk("data", Stream));
        const TMPEGAudio A = Load(Wav);
        EXPECT_TRUE(A.IsValid()) << Tag;
        EXPECT_EQ(A.HeaderPosition(), Wav.size() - Stream.size());
    }
    const TMPEGAudio Pcm =
        Load(RiffWave(testmedia::WavFmtChunk(16, 1, 2, 44100, 16) + WavChunk("data", Stream)));
    EXPECT_FALSE(Pcm.IsValid());
    EXPECT_EQ(Pcm.Problem(), QStringLiteral("not MPEG audio: WAV file of another format"));
}

TEST_F(MpegFileTest, TablesOfNumbersAreNoLayerOneStream) {
    // 32-bit numbers just below zero, little-endian: FF FF D0 80 every four bytes is a Layer I
    // header whose 452-byte frames land on the next one, but whose allocations are all 15s.
    QByteArray Table;
    for (int I = 0; I < 3000; ++I)
        Table += QByteArray("\xD0\x80\xFF\xFF", 4);
    TMPEGAudio A = Load(Table);
    EXPECT_FALSE(A.IsValid());
    // Real Layer I frames (allocations of zero) are found.
    A = Load(Table.left(1000) + Frames(Mpeg1L1, 20));
    ASSERT_TRUE(A.IsValid());
    EXPECT_EQ(A.HeaderPosition(), 1000);
    EXPECT_EQ(A.Data().Layer, 1);
}

TEST_F(MpegFileTest, FreeFormatNeedsALongerRun) {
    // Records of a fixed size that start like a free-format header are common in other data.
    for (auto [Count, Valid] : {std::pair{20, false}, std::pair{31, false}, std::pair{32, true}}) {
        const TMPEGAudio A = Load(FreeFrames(0xFFFB0000, 1306, Count, 9) + Junk(5000));
        EXPECT_EQ(A.IsValid(), Valid) << Count;
    }
    // A short free-format file still counts when its frames end with the audio.
    EXPECT_TRUE(Load(FreeFrames(0xFFFB0000, 1306, 20, 9)).IsValid());
}

TEST_F(MpegFileTest, SearchGivesUpWhereRealAudioWouldLongHaveStarted) {
    // A huge file of zeros, made sparse so that it costs nothing: turned down after 4 MiB.
    const QString Name = Dir.filePath("zeros.mp3");
    {
        QFile File(Name);
        ASSERT_TRUE(File.open(QIODevice::WriteOnly));
        ASSERT_TRUE(File.resize(qint64(5) << 30));
    }
    TMPEGAudio A;
    A.SetFileName(Name);
    EXPECT_FALSE(A.IsValid());
    EXPECT_EQ(A.ProblemKind(), TMpegProblem::NoFrameNearStart);
    EXPECT_EQ(A.Problem(),
              QStringLiteral("not MPEG audio: no run of frames within its first 4 MiB"));
    EXPECT_EQ(A.Data().Length, qint64(5) << 30);

    const QByteArray Stream = Frames(Mpeg1L3At128, 20);
    const int Limit = 4 << 20;
    // A stream may start anywhere up to 4 MiB past the start, and past a leading ID3v2 tag of
    // any size; not later.
    A = Load(Junk(Limit) + Stream);
    EXPECT_TRUE(A.IsValid());
    EXPECT_EQ(A.HeaderPosition(), Limit);
    A = Load(Junk(Limit + 1) + Stream);
    EXPECT_FALSE(A.IsValid());
    EXPECT_EQ(A.ProblemKind(), TMpegProblem::NoFrameNearStart);
    A = Load(Id3v2(Junk(6 << 20), 6 << 20) + Junk(1000) + Stream);
    EXPECT_TRUE(A.IsValid());
    EXPECT_EQ(A.HeaderPosition(), 10 + (6 << 20) + 1000);
}

namespace {

// Frames of one stream whose bit-rate codes go round Codes; Base holds the other bits.
QByteArray VaryingFrames(uint32_t Base, const std::vector<int> &Codes, int Count) {
    QByteArray Bytes;
    for (int I = 0; I < Count; ++I)
        Bytes += Frames(Base | uint32_t(Codes[size_t(I) % Codes.size()]) << 12, 1);
    return Bytes;
}

QByteArray Be16(uint16_t Value) {
    QByteArray B(2, '\0');
    qToBigEndian(Value, B.data());
    return B;
}

// A first frame carrying a VBRI header (version, frames) 32 bytes after its header.
QByteArray VbriFrame(uint32_t H, uint16_t Version, uint32_t FrameCount) {
    QByteArray Frame = Frames(H, 1);
    const QByteArray Vbri = "VBRI" + Be16(Version) + Be16(576) + Be16(80) + Be32(123456) +
                            Be32(FrameCount) + Be16(0) + Be16(1) + Be16(4) + Be16(1);
    Frame.replace(36, Vbri.size(), Vbri);
    return Frame;
}

} // namespace

TEST_F(MpegFileTest, VbrFilesWithoutAHeaderHaveTheirFramesCounted) {
    struct Case {
        uint32_t Base; // stream bits: version, layer, rate, mode
        std::vector<int> Codes;
        int Count, SamplesPerFrame, SampleRate;
    };
    for (const Case &C : {
             Case{0xFFFB0000, {9, 11, 7, 13, 5}, 1000, 1152, 44100}, // 26.1 s
             Case{0xFFFB00C0, {5, 3, 9}, 1301, 1152, 44100},         // mono: 33.98 s
             Case{0xFFF300C0, {8, 4, 10, 6}, 2000, 576, 22050},      // MPEG 2 mono: 52.2 s
             Case{0xFFE30800, {2, 6, 4}, 700, 576, 8000},            // MPEG 2.5: 50.4 s
             Case{0xFFFD0400, {10, 12, 8}, 500, 1152, 48000},        // Layer II: 12 s
         }) {
        const QByteArray Stream = VaryingFrames(C.Base, C.Codes, C.Count);
        const TMPEGAudio A =
            Load(Id3v2(QByteArray(500, 'p'), 500) + Stream + "TAG" + QByteArray(125, '\0'));
        ASSERT_TRUE(A.IsValid()) << std::hex << C.Base;
        const double Seconds = double(C.Count) * C.SamplesPerFrame / C.SampleRate;
        EXPECT_EQ(A.Data().Duration, uint32_t(std::lround(Seconds))) << std::hex << C.Base;
        EXPECT_EQ(A.Data().BitRate, -1);
        EXPECT_EQ(A.Data().FrameLength, A.Data().Length / C.Count);
        EXPECT_EQ(A.Data().SampleRate, C.SampleRate);
        EXPECT_TRUE(A.HasTag());
    }

    // Three seconds of silence at the lowest bit rate in front of the music.
    const QByteArray Silence = VaryingFrames(0xFFFB0000, {1}, 115);
    const TMPEGAudio B = Load(Silence + VaryingFrames(0xFFFB0000, {9, 11, 7}, 1150));
    EXPECT_EQ(B.Data().Duration, 33u); // 33.05 s
    EXPECT_EQ(B.Data().BitRate, -1);
}

TEST_F(MpegFileTest, ConstantBitRateFilesAreNotCounted) {
    // 5.98 s of frames and a tail of junk: by the bytes, 7 s.
    const QByteArray Audio = Frames(Mpeg1L3At128, 229) + QByteArray(20000, '\0');
    TMPEGAudio A = Load(Audio);
    EXPECT_EQ(A.Data().BitRate, 128);
    EXPECT_EQ(A.Data().Duration, 7u);
    // The header frame that encoders put in front of a constant-bit-rate stream may have
    // a bit rate of its own.
    QByteArray Info = Frames(0xFFFBB000, 1);
    Info.replace(36, 4, "Info");
    A = Load(Info + Audio);
    EXPECT_EQ(A.Data().BitRate, 128);
    EXPECT_EQ(A.Data().FrameLength, 417);
    EXPECT_EQ(A.Data().Duration, 7u);
}

TEST_F(MpegFileTest, VbriHeaderGivesFrameCountDurationAndAverageFrameLength) {
    struct Case {
        uint32_t H;
        uint32_t Count;
        uint32_t Duration;
    };
    for (const Case &C :
         {Case{Mpeg1L3At128, 10000, 261},         // 261.2 s
          Case{Mpeg1L3At128 | 0xC0, 375, 10},     // mono: the header is at the same place
          Case{0xFFF380C0, 1000, 26},             // MPEG 2 Layer III: 576 samples
          Case{Mpeg1L3At128, 4000000, 104490}}) { // more than a day
        // The frames behind it keep one bit rate: the count can only come from the header.
        const QByteArray Bytes = VbriFrame(C.H, 1, C.Count) + Frames(C.H, 30);
        const TMPEGAudio A = Load(Bytes);
        ASSERT_TRUE(A.IsValid()) << C.Count;
        EXPECT_EQ(A.Data().BitRate, -1);
        EXPECT_EQ(A.Data().Duration, C.Duration) << C.Count;
        EXPECT_EQ(A.Data().FrameLength, std::min<qint64>(Bytes.size() / C.Count, 0xFFFF));
    }

    // A count of 0 leaves the frames to be counted; an unknown version is no header.
    const QByteArray Stream = VaryingFrames(0xFFFB0000, {9, 11, 7}, 1148);
    TMPEGAudio A = Load(VbriFrame(Mpeg1L3At128, 1, 0) + Stream);
    EXPECT_EQ(A.Data().BitRate, -1);
    EXPECT_EQ(A.Data().Duration, 30u); // 1149 frames: 30.01 s
    EXPECT_EQ(A.Data().FrameLength, A.Data().Length / 1149);
    A = Load(VbriFrame(Mpeg1L3At128, 2, 10000) + Frames(Mpeg1L3At128, 240));
    EXPECT_EQ(A.Data().BitRate, 128);
    EXPECT_EQ(A.Data().Duration, 6u);
}

// The encoder as the program runs it, with its VBR header frame turned off, over a signal
// that starts with silence: the first frames' bit rate says nothing of the rest.
TEST_F(MpegFileTest, EncodedVbrWithoutHeaderLastsAsLongAsItDecodes) {
    for (const int Rate : {44100, 22050, 8000}) {
        const int Channels = Rate == 22050 ? 1 : 2;
        QByteArray Samples = testmedia::ToneSamples(1, 16, Rate, 1.5, {{}, {}});
        Samples += testmedia::ToneSamples(1, 16, Rate, 6.3, {{440, 0.5}, {660, 0.3}});
        if (Channels == 1) { // keep the left channel
            QByteArray Mono;
            for (qsizetype I = 0; I < Samples.size(); I += 4)
                Mono += Samples.mid(I, 2);
            Samples = Mono;
        }
        const QString Wav = Dir.filePath(QStringLiteral("v%1.wav").arg(Rate));
        testmedia::WriteFile(
            Wav, testmedia::WavHeader(Channels, Rate, 16, quint32(Samples.size())) + Samples);
        TLameCoder Coder;
        Coder.SetSampleRate(uint32_t(Rate));
        Coder.SetBitrate(Rate < 16000 ? 8 : 32);
        Coder.SetMaxBitrate(Rate < 16000 ? 64 : Rate < 32000 ? 160 : 320);
        Coder.SetMode(Channels == 1 ? MONO : JSTEREO);
        Coder.SetEnableVBR(true);
        Coder.SetWriteVBRHeader(false);
        Coder.SetInputFiles({Wav});
        Coder.Encode();
        const QString Mp3 = Coder.OutputFiles().front();

        TMPEGAudio A;
        A.SetFileName(Mp3);
        ASSERT_TRUE(A.IsValid()) << Rate;
        EXPECT_EQ(A.Data().BitRate, -1) << Rate;
        const testmedia::DecodedAudio Decoded = testmedia::DecodeMpeg(Mp3);
        ASSERT_TRUE(Decoded.ok) << Decoded.error.toStdString();
        // Without a header frame the decoder plays every frame: the count is the same.
        EXPECT_EQ(A.Data().Duration, uint32_t(std::lround(Decoded.seconds()))) << Rate;
    }
}
