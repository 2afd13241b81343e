#include "inspect/Id3v1.h"
#include "inspect/MpegFrameSearch.h"
#include "inspect/MpegHeader.h"
#include "inspect/PositionalFile.h"
#include "support/TestMedia.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>

namespace {

constexpr uint32_t Mpeg1L3At128 = 0xFFFB9000; // 44100 Hz, stereo: 417 bytes, 418 padded

QByteArray Frames(uint32_t Header, int Count) {
    TMPEGInfo Info;
    DecodeFrameHeader(Header, Info);
    QByteArray Frame(Info.FrameLength, '\0');
    qToBigEndian(Header, Frame.data());
    return Frame.repeated(Count);
}

// Byte I of a pattern that does not repeat within a window.
char PatternByte(qint64 I) {
    return char((I * 7 + I / 251) & 0xFF);
}

class FileTest : public ::testing::Test {
protected:
    QString Write(const QByteArray &Bytes) {
        const QString Path = Dir.filePath(QStringLiteral("f%1").arg(++Count));
        testmedia::WriteFile(Path, Bytes);
        return Path;
    }
    // The search run on Bytes, with Info holding the facts a load puts there first.
    TFrameRun Search(const QByteArray &Bytes, TMPEGInfo &Info) {
        const QString Path = Write(Bytes);
        const TFileHandle File(Path, O_RDONLY);
        EXPECT_TRUE(File.IsOpen());
        Info.FileName = Path;
        Info.FileDate = 1;
        Info.Length = Bytes.size();
        TBufferedReader Reader(File);
        return FindFrameRun(Reader, Bytes.size(), Info);
    }
    QTemporaryDir Dir;
    int Count = 0;
};

} // namespace

TEST_F(FileTest, ReaderServesReadsAcrossWindowsAndBackwardSteps) {
    constexpr qint64 W = TBufferedReader::WindowSize;
    QByteArray Bytes(2 * W + 100, '\0');
    for (qint64 I = 0; I < Bytes.size(); ++I)
        Bytes[I] = PatternByte(I);
    const TFileHandle File(Write(Bytes), O_RDONLY);
    ASSERT_TRUE(File.IsOpen());
    TBufferedReader Reader(File);

    uint8_t Out[16];
    for (qint64 At : {qint64(0), W - 3, W - 5, qint64(1), 2 * W - 8, W + 2}) {
        ASSERT_EQ(Reader.Read(At, Out, 16), 16) << At;
        for (int I = 0; I < 16; ++I)
            ASSERT_EQ(char(Out[I]), PatternByte(At + I)) << At << " + " << I;
    }
    // Short only at the end of the file, empty past it.
    EXPECT_EQ(Reader.Read(Bytes.size() - 6, Out, 16), 6);
    EXPECT_EQ(char(Out[5]), PatternByte(Bytes.size() - 1));
    EXPECT_EQ(Reader.Read(Bytes.size() + 10, Out, 16), 0);

    const uint8_t *Window = nullptr;
    qint64 Available = -1;
    ASSERT_TRUE(Reader.Window(Bytes.size(), Window, Available));
    EXPECT_EQ(Available, 0);
    ASSERT_TRUE(Reader.Window(W + 7, Window, Available));
    EXPECT_EQ(Available, W); // a full window, though more of the file follows
    EXPECT_EQ(char(Window[0]), PatternByte(W + 7));
    // A step forward inside the window is served from it.
    const uint8_t *Later = nullptr;
    ASSERT_TRUE(Reader.Window(W + 10, Later, Available));
    EXPECT_EQ(Available, W - 3);
    EXPECT_EQ(Later, Window + 3);
}

TEST_F(FileTest, HandleWritesAndReadsAtOffsetsAndKeepsTheOpenError) {
    const QString Path = Write(QByteArray("0123456789"));
    {
        const TFileHandle File(Path, O_RDWR);
        ASSERT_TRUE(File.IsOpen());
        const uint8_t Patch[] = {'a', 'b'};
        ASSERT_TRUE(File.WriteAt(4, Patch, 2));
        ASSERT_TRUE(File.WriteAt(12, Patch, 2)); // past the end: a hole of zeros
        uint8_t Out[20];
        ASSERT_EQ(File.ReadAt(0, Out, 20), 14);
        EXPECT_EQ(QByteArray(reinterpret_cast<char *>(Out), 14),
                  QByteArray("0123ab6789\0\0ab", 14));
    }
    const TFileHandle Missing(Dir.filePath(QStringLiteral("none")), O_RDONLY);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(Missing.IsOpen());
}

TEST_F(FileTest, SearchFindsTheRunBetweenTheTagsAndEndsTheAudioBeforeThem) {
    QByteArray Id3v2("ID3\x03\x00\x00\x00\x00\x00\x14", 10);
    Id3v2 += QByteArray(20, '\xFF'); // sync bits inside the tag are never looked at
    const QByteArray Junk("\xFF\xFB\x90\x00junk", 8);
    QByteArray Tag(ID3v1Size, '\0');
    Tag.replace(0, 3, "TAG");
    const QByteArray Audio = Frames(Mpeg1L3At128, 12) + Frames(Mpeg1L3At128 | 0x200, 1);
    TMPEGInfo Info;
    const TFrameRun Run = Search(Id3v2 + Junk + Audio + Tag, Info);

    EXPECT_EQ(Run.Problem, TMpegProblem::None);
    EXPECT_EQ(Run.HeaderPosition, Id3v2.size() + Junk.size());
    EXPECT_EQ(Run.AudioEnd, Id3v2.size() + Junk.size() + Audio.size());
    EXPECT_EQ(Info.BitRate, 128);
    EXPECT_EQ(Info.FrameLength, 417);
    EXPECT_EQ(Info.FileDate, 1); // the file's facts stay
}

TEST_F(FileTest, SearchNamesWhatItFoundInstead) {
    TMPEGInfo Info;
    TFrameRun Run = Search(QByteArray("fLaC") + Frames(Mpeg1L3At128, 12), Info);
    EXPECT_EQ(Run.Problem, TMpegProblem::OtherFormat);
    EXPECT_EQ(Run.OtherFormat, QStringLiteral("FLAC file"));
    EXPECT_EQ(Run.HeaderPosition, -1);

    // Two frames are not enough when more audio follows: the candidate is dropped and only
    // the file's facts are left.
    Info = TMPEGInfo();
    Run = Search(Frames(Mpeg1L3At128, 2) + QByteArray(5000, 'x'), Info);
    EXPECT_EQ(Run.Problem, TMpegProblem::NoFrameRun);
    EXPECT_EQ(Run.HeaderPosition, -1);
    EXPECT_EQ(Info.Version, 0);
    EXPECT_EQ(Info.Length, 2 * 417 + 5000);
}

namespace {

// MPEG 1 Layer III frames at 44100 Hz, stereo, whose bit-rate codes go round Codes.
QByteArray VaryingFrames(const std::vector<int> &Codes, int Count) {
    QByteArray Bytes;
    for (int I = 0; I < Count; ++I)
        Bytes += Frames(0xFFFB0000u | uint32_t(Codes[size_t(I) % Codes.size()]) << 12, 1);
    return Bytes;
}

class FrameWalkTest : public FileTest {
protected:
    // CountFrames and CheckBitRates over Bytes, from At to End (the whole file when -1).
    std::pair<qint64, TBitRateCheck> Walk(const QByteArray &Bytes, qint64 At = 0, qint64 End = -1) {
        const TFileHandle File(Write(Bytes), O_RDONLY);
        EXPECT_TRUE(File.IsOpen());
        TBufferedReader Reader(File);
        const qint64 Stop = End < 0 ? Bytes.size() : End;
        return {CountFrames(Reader, At, Stop), CheckBitRates(Reader, At, Stop)};
    }
};

} // namespace

TEST_F(FrameWalkTest, CountsEveryFrameOfTheStreamAcrossReadWindows) {
    const QByteArray Stream = VaryingFrames({9, 11, 7, 13, 5, 1}, 1000); // about 450 KB
    auto [Count, Check] = Walk(Stream);
    EXPECT_EQ(Count, 1000);
    EXPECT_EQ(Check, TBitRateCheck::Variable);

    // From a later frame, and only up to the end given (a tag behind the audio).
    const QByteArray Tag = "TAG" + QByteArray(125, '\xFF');
    std::tie(Count, Check) = Walk(QByteArray(7, 'x') + Stream + Tag, 7, 7 + Stream.size());
    EXPECT_EQ(Count, 1000);

    // A last frame that the end cuts off is no frame.
    std::tie(Count, Check) = Walk(Stream.left(Stream.size() - 10));
    EXPECT_EQ(Count, 999);

    // Not a header where the walk is told to start: nothing to count.
    std::tie(Count, Check) = Walk(QByteArray(4000, '\0'));
    EXPECT_EQ(Count, 0);
    EXPECT_EQ(Check, TBitRateCheck::Constant);
}

TEST_F(FrameWalkTest, PicksUpTheStreamAgainBehindADamagedStretch) {
    const QByteArray Before = VaryingFrames({9, 11, 7}, 300);
    const QByteArray After = VaryingFrames({5, 13, 10}, 200);
    QByteArray Junk(7000, '\0');
    for (int I = 0; I < Junk.size(); ++I)
        Junk[I] = PatternByte(I);
    // Lone headers of the stream, one whose frame runs into the real ones, and headers of
    // another stream (mono, 48 kHz) that follow each other.
    Junk.replace(100, 4, QByteArray("\xFF\xFB\x90\x00", 4));
    Junk.replace(Junk.size() - 20, 4, QByteArray("\xFF\xFB\x90\x00", 4));
    const QByteArray Other = Frames(0xFFFB94C0u, 3);
    Junk.replace(2000, Other.size(), Other);
    const auto [Count, Check] = Walk(Before + Junk + After);
    EXPECT_EQ(Count, 500);

    // A header cut at the frame length of the one before: the count resumes one byte on.
    QByteArray Cut = Before + After;
    Cut.remove(Before.size() + 2, 1);
    EXPECT_EQ(Walk(Cut).first, 499);
}

TEST_F(FrameWalkTest, EndsOnFilesFullOfFalseHeaders) {
    // Every fourth byte starts a header, but no frame ends where another starts.
    const QByteArray Stream = VaryingFrames({9, 11}, 20);
    const QByteArray FalseHeaders = QByteArray("\xFF\xFB\x90\x00", 4).repeated(1 << 18);
    EXPECT_EQ(Walk(Stream + 'x' + FalseHeaders + Stream).first, 40);
    // Right where the last frame ends, a header is a frame: one more.
    EXPECT_EQ(Walk(Stream + FalseHeaders + Stream).first, 41);
    // Sync bits everywhere, as in a block of 0xFF.
    EXPECT_EQ(Walk(Stream + QByteArray(1 << 20, '\xFF') + Stream).first, 40);
}

TEST_F(FrameWalkTest, BitRateCheckLooksAtTheStartAndFurtherIn) {
    // One bit rate throughout, padding or not: constant.
    QByteArray Constant;
    for (int I = 0; I < 2000; ++I)
        Constant += Frames(0xFFFB9000u | (I % 3 == 0 ? 0x200u : 0u), 1);
    EXPECT_EQ(Walk(Constant).second, TBitRateCheck::Constant);
    // Only the first frame differs, as in a stream behind a header frame of its own.
    EXPECT_EQ(Walk(Frames(0xFFFBB000u, 1) + Constant).second, TBitRateCheck::Variable);
    // Seconds of silence at the lowest bit rate before the music.
    const QByteArray Silence = VaryingFrames({1}, 300);
    EXPECT_EQ(Walk(Silence + VaryingFrames({9, 11, 7}, 700)).second, TBitRateCheck::Variable);
    // A quiet passage, and a loud last quarter; the check finds the stream again wherever it
    // lands.
    EXPECT_EQ(Walk(Silence.repeated(5) + VaryingFrames({1, 1, 1, 2}, 200) + Silence).second,
              TBitRateCheck::Variable);
    EXPECT_EQ(Walk(Silence.repeated(3) + VaryingFrames({14}, 100)).second, TBitRateCheck::Variable);
    // Further in than the places looked at: taken as constant, the price of a quick check.
    EXPECT_EQ(Walk(Silence.repeated(8) + VaryingFrames({14}, 3)).second, TBitRateCheck::Constant);
}
