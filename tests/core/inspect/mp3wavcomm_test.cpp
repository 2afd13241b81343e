#include "inspect/MP3WavComm.h"
#include "platform/Exception.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <vector>

// Readable failure output for QString values.
static void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// A canonical header of 16-bit PCM with the given format; every other field is distinct
// so that a field read from the wrong offset or in the wrong byte order shows.
std::vector<uint8_t> PcmHeader(uint16_t Channels, uint32_t SampleRate, uint32_t BytesPerSecond,
                               const char *WaveId = "WAVE") {
    std::vector<uint8_t> B(TWaveHeader::Size);
    auto Put32 = [&](int Offset, uint32_t V) { qToLittleEndian<quint32>(V, B.data() + Offset); };
    auto Put16 = [&](int Offset, uint16_t V) { qToLittleEndian<quint16>(V, B.data() + Offset); };
    std::memcpy(B.data() + 0, "RIFF", 4);
    Put32(4, 0x04030201);
    std::memcpy(B.data() + 8, WaveId, 4);
    std::memcpy(B.data() + 12, "fmt ", 4);
    Put32(16, 16);
    Put16(20, 1);
    Put16(22, Channels);
    Put32(24, SampleRate);
    Put32(28, BytesPerSecond);
    Put16(32, uint16_t(Channels * 2));
    Put16(34, 16);
    std::memcpy(B.data() + 36, "data", 4);
    Put32(40, 0x0A0B0C0D);
    return B;
}

class WaveFileTest : public ::testing::Test {
protected:
    // Writes Bytes, then extends the file with zeros (sparse where the file system can)
    // to Size bytes when Size is larger.
    QString MakeFile(const QString &Name, const std::vector<uint8_t> &Bytes, qint64 Size = 0) {
        const QString Path = Dir.filePath(Name);
        QFile File(Path);
        EXPECT_TRUE(File.open(QIODevice::WriteOnly));
        File.write(reinterpret_cast<const char *>(Bytes.data()), qint64(Bytes.size()));
        if (Size > qint64(Bytes.size())) {
            EXPECT_TRUE(File.resize(Size));
        }
        return Path;
    }

    QTemporaryDir Dir;
};

} // namespace

TEST(WaveHeaderTest, DecodesEveryFieldLittleEndian) {
    const std::vector<uint8_t> Bytes = PcmHeader(2, 44100, 176400);
    const TWaveHeader H = TWaveHeader::FromBytes(Bytes.data());
    EXPECT_EQ(QByteArray(H.RiffId.data(), 4), "RIFF");
    EXPECT_EQ(H.RiffSize, 0x04030201u);
    EXPECT_EQ(QByteArray(H.WaveId.data(), 4), "WAVE");
    EXPECT_EQ(QByteArray(H.FmtId.data(), 4), "fmt ");
    EXPECT_EQ(H.FmtSize, 16u);
    EXPECT_EQ(H.FormatTag, 1);
    EXPECT_EQ(H.Channels, 2);
    EXPECT_EQ(H.SampleRate, 44100u);
    EXPECT_EQ(H.BytesPerSecond, 176400u);
    EXPECT_EQ(H.BlockAlign, 4);
    EXPECT_EQ(H.BitsPerSample, 16);
    EXPECT_EQ(QByteArray(H.DataId.data(), 4), "data");
    EXPECT_EQ(H.DataSize, 0x0A0B0C0Du);
    EXPECT_TRUE(H.IsRiffWave());
}

TEST_F(WaveFileTest, DurationCountsFromByte43AndTruncates) {
    TWaveFileInfo Info;
    ASSERT_TRUE(ReadWaveFileInfo(MakeFile("ten.wav", PcmHeader(2, 44100, 176400), 1764043), Info));
    EXPECT_TRUE(Info.Valid);
    EXPECT_EQ(Info.FileSize, 1764043);
    EXPECT_EQ(Info.Duration, 10);
    EXPECT_EQ(Info.Header.SampleRate, 44100u);

    ASSERT_TRUE(ReadWaveFileInfo(MakeFile("nine.wav", PcmHeader(2, 44100, 176400), 1764042), Info));
    EXPECT_EQ(Info.Duration, 9);
}

TEST_F(WaveFileTest, RiffWithoutWaveIsNotValidButKeepsTheHeaderBytes) {
    TWaveFileInfo Info;
    EXPECT_FALSE(
        ReadWaveFileInfo(MakeFile("avi.wav", PcmHeader(2, 44100, 176400, "AVI "), 1000), Info));
    EXPECT_FALSE(Info.Valid);
    EXPECT_EQ(Info.FileSize, 0);
    EXPECT_EQ(Info.Duration, 0);
    EXPECT_EQ(QByteArray(Info.Header.RiffId.data(), 4), "RIFF");
    EXPECT_EQ(Info.Header.SampleRate, 44100u);
}

TEST_F(WaveFileTest, ZeroByteRateIsNotValid) {
    TWaveFileInfo Info;
    EXPECT_FALSE(ReadWaveFileInfo(MakeFile("zero.wav", PcmHeader(2, 44100, 0), 1000), Info));
    EXPECT_FALSE(Info.Valid);
    EXPECT_EQ(Info.FileSize, 0);
}

TEST_F(WaveFileTest, ReadClearsAnEarlierResult) {
    TWaveFileInfo Info;
    ASSERT_TRUE(ReadWaveFileInfo(MakeFile("ok.wav", PcmHeader(2, 44100, 176400), 1764043), Info));
    EXPECT_FALSE(ReadWaveFileInfo(MakeFile("empty.wav", {}), Info));
    EXPECT_FALSE(Info.Valid);
    EXPECT_EQ(Info.FileSize, 0);
    EXPECT_EQ(Info.Duration, 0);
    EXPECT_EQ(Info.Header, TWaveHeader());
}

TEST_F(WaveFileTest, ShortFileLeavesTheRestOfTheHeaderZero) {
    std::vector<uint8_t> Bytes = PcmHeader(2, 44100, 176400);
    Bytes.resize(10);
    TWaveFileInfo Info;
    EXPECT_FALSE(ReadWaveFileInfo(MakeFile("short.wav", Bytes), Info));
    EXPECT_EQ(QByteArray(Info.Header.RiffId.data(), 4), "RIFF");
    EXPECT_EQ(QByteArray(Info.Header.WaveId.data(), 2), "WA");
    EXPECT_EQ(Info.Header.WaveId[2], 0);
    EXPECT_EQ(Info.Header.BytesPerSecond, 0u);
}

TEST_F(WaveFileTest, FileCutInsideTheHeaderHasNoDataAndIsRefused) {
    std::vector<uint8_t> Bytes = PcmHeader(1, 8000, 16000);
    Bytes.resize(36); // ends right after the fmt chunk
    TWaveFileInfo Info;
    EXPECT_FALSE(ReadWaveFileInfo(MakeFile("cut.wav", Bytes), Info));
    EXPECT_EQ(Info.Duration, 0);
    EXPECT_EQ(WaveFileProblem(Info), QStringLiteral("no data chunk"));
}

TEST_F(WaveFileTest, FileOver2GiBHasItsTrueSize) {
    const qint64 Size = 3LL * 1024 * 1024 * 1024;
    std::vector<uint8_t> Bytes = PcmHeader(2, 44100, 176400);
    qToLittleEndian<quint32>(0xFFFFFFFF, Bytes.data() + 40); // data to the end of the file
    TWaveFileInfo Info;
    ASSERT_TRUE(ReadWaveFileInfo(MakeFile("big.wav", Bytes, Size), Info));
    EXPECT_EQ(Info.FileSize, Size);
    EXPECT_EQ(Info.Duration, (Size - 43) / 176400);
    EXPECT_EQ(Info.DataLength, Size - 44);
}

TEST_F(WaveFileTest, DurationBeyond32BitsIsCapped) {
    const qint64 Size = 3LL * 1024 * 1024 * 1024;
    std::vector<uint8_t> Bytes = PcmHeader(1, 1, 1);
    qToLittleEndian<quint16>(1, Bytes.data() + 32); // 8-bit mono at 1 Hz: one byte a second
    qToLittleEndian<quint16>(8, Bytes.data() + 34);
    qToLittleEndian<quint32>(0xFFFFFFFF, Bytes.data() + 40);
    TWaveFileInfo Info;
    ASSERT_TRUE(ReadWaveFileInfo(MakeFile("slow.wav", Bytes, Size), Info));
    EXPECT_EQ(Info.Duration, std::numeric_limits<int32_t>::max());
}

TEST_F(WaveFileTest, MissingFileRaisesOpenErrorNamingThePath) {
    TWaveFileInfo Info;
    const QString Path = Dir.filePath("missing.wav");
    try {
        ReadWaveFileInfo(Path, Info);
        FAIL() << "no exception";
    } catch (const EFOpenError &E) {
        EXPECT_TRUE(E.message().contains(Path)) << E.what();
    }
}

TEST_F(WaveFileTest, FolderRaisesOpenError) {
    TWaveFileInfo Info;
    EXPECT_THROW(ReadWaveFileInfo(Dir.path(), Info), EFOpenError);
}

TEST_F(WaveFileTest, PathIsOpenedExactlyAsGiven) {
    MakeFile("Song.wav", PcmHeader(2, 44100, 176400), 1000);
    TWaveFileInfo Info;
    EXPECT_TRUE(ReadWaveFileInfo(Dir.filePath("Song.wav"), Info));
    EXPECT_THROW(ReadWaveFileInfo(Dir.filePath("song.wav"), Info), EFOpenError);
}

TEST(FileKindTest, WaveExtensionInAnyLetterCase) {
    EXPECT_TRUE(IsWaveFile("song.wav"));
    EXPECT_TRUE(IsWaveFile("SONG.Wav"));
    EXPECT_TRUE(IsWaveFile("a.b\\song.WAV"));
    EXPECT_TRUE(IsWaveFile("/home/u/a.b/song.wav"));
    EXPECT_FALSE(IsWaveFile("song.wave"));
    EXPECT_FALSE(IsWaveFile("song"));
    EXPECT_FALSE(IsWaveFile("song.mp3"));
}

TEST(FileKindTest, DotBeforeTheLastSeparatorIsNoExtension) {
    EXPECT_FALSE(IsWaveFile("music.wav/song"));
    EXPECT_FALSE(IsWaveFile("music.wav\\song"));
    EXPECT_FALSE(IsWaveFile("C.wav:song"));
    EXPECT_TRUE(IsMPEGAudioFile("C:song.mp3"));
}

TEST(FileKindTest, MpegExtensions) {
    EXPECT_TRUE(IsMPEGAudioFile("a.mp3"));
    EXPECT_TRUE(IsMPEGAudioFile("a.MP2"));
    EXPECT_TRUE(IsMPEGAudioFile("a.Mp1"));
    EXPECT_FALSE(IsMPEGAudioFile("a.mp4"));
    EXPECT_FALSE(IsMPEGAudioFile("a.wav"));
    EXPECT_TRUE(IsMPEGAudioOrPlaylist("a.mp2"));
    EXPECT_FALSE(IsMPEGAudioOrPlaylist("a.wav"));
}

TEST(FileKindTest, PlaylistsCountOnlyForTheOrPlaylistTests) {
    for (const char *Name : {"list.m3u", "LIST.PLS"}) {
        EXPECT_TRUE(IsMPEGAudioOrPlaylist(Name)) << Name;
        EXPECT_TRUE(IsWaveOrPlaylist(Name)) << Name;
        EXPECT_FALSE(IsMPEGAudioFile(Name)) << Name;
        EXPECT_FALSE(IsWaveFile(Name)) << Name;
    }
}

TEST(FileKindTest, OnlyAsciiLettersAreUpperCased) {
    // U+017F LATIN SMALL LETTER LONG S upper-cases to 'S' in Unicode.
    EXPECT_FALSE(IsWaveOrPlaylist(QStringLiteral("list.pl") + QChar(0x017F)));
}

TEST(TimeTextTest, SecondsToTimeSplitsHoursMinutesSeconds) {
    EXPECT_EQ(SecondsToTime(0), QTime(0, 0, 0));
    EXPECT_EQ(SecondsToTime(3723), QTime(1, 2, 3));
    EXPECT_EQ(SecondsToTime(86399), QTime(23, 59, 59));
}

TEST(TimeTextTest, SecondsToTextHasTwoDigitsEach) {
    EXPECT_EQ(SecondsToText(59), "00:00:59");
    EXPECT_EQ(SecondsToText(3723), "01:02:03");
    EXPECT_EQ(SecondsToText(86399), "23:59:59");
}

TEST(TimeTextTest, ADayOrMoreIsAConversionError) {
    for (int Seconds : {86400, 100000, -1}) {
        try {
            SecondsToText(Seconds);
            ADD_FAILURE() << Seconds << " gave no exception";
        } catch (const EConvertError &E) {
            EXPECT_EQ(E.message(), "Invalid argument to time encode");
        }
        EXPECT_THROW(SecondsToTime(Seconds), EConvertError);
    }
}

TEST(TextHelperTest, YesNo) {
    EXPECT_EQ(YesNoText(true), "Yes");
    EXPECT_EQ(YesNoText(false), "No");
}

TEST(TextHelperTest, TrailingSeparatorIsAddedOnce) {
    EXPECT_EQ(WithTrailingSeparator("C:\\Music"), QStringLiteral("C:\\Music") + QDir::separator());
    EXPECT_EQ(WithTrailingSeparator("C:\\Music\\"), "C:\\Music\\");
    EXPECT_EQ(WithTrailingSeparator("/home/u/Music"),
              QStringLiteral("/home/u/Music") + QDir::separator());
    EXPECT_EQ(WithTrailingSeparator("/home/u/Music/"), "/home/u/Music/");
    EXPECT_EQ(WithTrailingSeparator(""), "");
}
