#include "inspect/InfoTexts.h"
#include "support/TestMedia.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

using testmedia::WavHeader;
using testmedia::WriteFile;

inline void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// MPEG 1 Layer III, 128 kbit/s, 48000 Hz, stereo, no CRC: 384-byte frames, never padded.
QByteArray CbrFrames(int Count) {
    return (QByteArray("\xFF\xFB\x94\x00", 4) + QByteArray(380, 'a')).repeated(Count);
}

TMPEGFileInfo Inspect(const QString &Path) {
    TMPEGAudio Mp3;
    Mp3.SetFileName(Path);
    return {Mp3.IsValid(), Mp3.Data()};
}

} // namespace

TEST(MPEGInfoLinesTest, DescribeAReadFileLineByLine) {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath("song.mp3");
    const QByteArray Tag = QByteArray("TAGTitle").leftJustified(128, '\0');
    WriteFile(Path, CbrFrames(300) + Tag);
    const TMPEGFileInfo Pair = Inspect(Path);
    ASSERT_TRUE(Pair.Valid);
    EXPECT_EQ(MPEGInfoLines(Pair),
              QStringList({"Size: 115328 bytes", "Length: 7 seconds", "MPEG: 1.0 layer III",
                           "128kbit, 300 frames", "Sample rate: 48000Hz, Stereo", "CRCs: No",
                           "Copyrighted: No", "Original: No", "Padding: 0"}));
}

TEST(MPEGInfoLinesTest, InvalidItemSaysUnknowAndStillListsTheNineLines) {
    const QStringList Lines = MPEGInfoLines(TMPEGFileInfo{});
    ASSERT_EQ(Lines.size(), 10);
    EXPECT_EQ(Lines[0], "Unknow");
    EXPECT_EQ(Lines[3], "MPEG: Unknown layer Unknown");
    EXPECT_EQ(Lines[4], "0kbit, 0 frames");
}

TEST(MPEGInfoLinesTest, FrameCountFollowsTheMeanFrameLength) {
    TMPEGInfo Info;
    Info.Version = 1;
    Info.Layer = 3;
    Info.SampleRate = 44100;
    Info.BitRate = 128;
    Info.Padding = true; // the first frame's 418 bytes would undercount
    Info.FrameLength = 418;
    Info.Length = 1000 * 417 + 960; // 1000 frames of 417.96 bytes on average
    EXPECT_EQ(MPEGFrameCount(Info), 1000u);
    Info.Header = QStringLiteral("TAG");
    Info.Length += 128;
    EXPECT_EQ(MPEGFrameCount(Info), 1000u) << "the tag is no audio";

    Info.BitRate = -1; // VBR: the mean frame length came from the Xing header's count
    Info.Length = 250000;
    Info.FrameLength = uint16_t(250000 / 640);
    EXPECT_EQ(MPEGFrameCount(Info), 641u);
    Info.FrameLength = 0;
    EXPECT_EQ(MPEGFrameCount(Info), 0u);
}

TEST(WaveInfoLinesTest, EightLinesOfAMonoEightBitFile) {
    QTemporaryDir Dir;
    const QString Path = Dir.filePath("voice.wav");
    WriteFile(Path, WavHeader(1, 22050, 8, 44100) + QByteArray(44100, '\x80'));
    TWaveFileInfo Wave;
    ASSERT_TRUE(ReadWaveFileInfo(Path, Wave));
    EXPECT_EQ(WaveInfoLines(Wave, Wave.Duration),
              QStringList({"Format: PCM", "Bits/Sample: 8", "File size: 44144", "Length: 2",
                           "Channels: 1", "Samplerate: 22050", "Bytes/Second: 22050",
                           "Bytes/Sample: 1"}));
}

TEST(WaveInfoLinesTest, FormatLineNamesWhatIsNotPcm) {
    TWaveFileInfo Wave;
    Wave.Header.FormatTag = 3;
    EXPECT_EQ(WaveInfoLines(Wave, 0).first(), "Format: IEEE float");
    Wave.Header.FormatTag = 0x55;
    EXPECT_EQ(WaveInfoLines(Wave, 0).first(), "Format: MPEG Layer III");
    Wave.Header.FormatTag = 0x1234;
    EXPECT_EQ(WaveInfoLines(Wave, 0).first(), "Format: tag 4660");
}

TEST(WaveInfoLinesTest, FormatLineNamesTheSixtyFourBitForms) {
    TWaveFileInfo Wave;
    Wave.Header.FormatTag = 1;
    for (const char *Id : {"RF64", "BW64"}) {
        std::copy_n(Id, 4, Wave.Header.RiffId.begin());
        EXPECT_EQ(WaveInfoLines(Wave, 0).first(), QStringLiteral("Format: PCM (%1)").arg(Id));
    }
    Wave.Header.RiffId = {'R', 'I', 'F', 'F'};
    EXPECT_EQ(WaveInfoLines(Wave, 0).first(), "Format: PCM");
}
