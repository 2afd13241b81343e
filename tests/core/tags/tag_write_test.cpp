#include "conversion/ConvJob.h"
#include "core/tags/TagMedia.h"
#include "inspect/Id3v1.h"
#include "support/FileSizeLimit.h"
#include "support/TestMedia.h"
#include "tags/TagSet.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <id3v2frame.h>
#include <id3v2header.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <wavfile.h>

#include <limits>

#include <gtest/gtest.h>

using namespace testmedia;
using namespace tagmedia;

namespace {

QString FrameText(TagLib::ID3v2::Tag &Tag, const char *Id) {
    const TagLib::ID3v2::FrameList frames = Tag.frameList(Id);
    return frames.isEmpty() ? QString()
                            : QString::fromUtf8(frames.front()->toString().toCString(true));
}

TMPEGInfo OwnID3v1(const QString &Path) {
    const QByteArray bytes = ReadFile(Path);
    uint8_t block[ID3v1Size];
    std::memcpy(block, bytes.constData() + bytes.size() - ID3v1Size, ID3v1Size);
    TMPEGInfo info;
    EXPECT_TRUE(ReadID3v1(block, info)) << "no ID3v1 tag";
    return info;
}

class TagWriteTest : public ::testing::Test {
protected:
    QString Path(const QString &Name) const { return Dir.filePath(Name); }
    QTemporaryDir Dir;
};

TEST_F(TagWriteTest, Mp3GetsAnId3v24TagInFrontAndTheEditorsId3v1AtTheEnd) {
    const QString path = Path("a.mp3");
    const QByteArray audio = SilentMpegFrames(50);
    WriteFile(path, audio);
    QString why;
    ASSERT_TRUE(WriteMp3Tags(path, FullSet(), why)) << why.toStdString();

    const QByteArray written = ReadFile(path);
    {
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        ASSERT_TRUE(file.hasID3v2Tag());
        TagLib::ID3v2::Tag &tag = *file.ID3v2Tag();
        EXPECT_EQ(tag.header()->majorVersion(), 4u);
        EXPECT_EQ(FrameText(tag, "TIT2"), FullSet().Title);
        EXPECT_EQ(FrameText(tag, "TRCK"), "3/12");
        EXPECT_EQ(FrameText(tag, "TPOS"), "1/2");
        EXPECT_EQ(FrameText(tag, "TPE2"), "Various");
        EXPECT_EQ(FrameText(tag, "TCOM"), "A. Composer");
        EXPECT_EQ(FrameText(tag, "TDRC"), "2021");
        EXPECT_EQ(FrameText(tag, "COMM"), "made by a test");
        // The audio follows the tag unchanged, the ID3v1 tag follows the audio.
        const qsizetype tagSize = qsizetype(tag.header()->completeTagSize());
        EXPECT_EQ(written.mid(tagSize, audio.size()), audio);
        EXPECT_EQ(written.size(), tagSize + audio.size() + ID3v1Size);
    }
    const TMPEGInfo v1 = OwnID3v1(path);
    // Latin-1 keeps the ü; the dash and the Japanese characters become '?'.
    EXPECT_EQ(v1.Title.Text(), QStringLiteral("Zürich ? ?? Nights"));
    EXPECT_EQ(v1.Genre, 8); // Jazz
    EXPECT_EQ(v1.Track, 3);
    EXPECT_EQ(v1.Year.Text(), "2021");

    // Our reader gets everything back, the picture included.
    const TTagSet read = ReadTags(path).Tags;
    EXPECT_EQ(read.Kinds, (QStringList{"ID3v2.4", "ID3v1"}));
    EXPECT_EQ(read.Title, FullSet().Title);
    EXPECT_EQ(read.TrackTotal, 12);
    EXPECT_EQ(read.DiscTotal, 2);
    ASSERT_TRUE(read.FrontCover.has_value());
    EXPECT_EQ(read.FrontCover->Data, FullSet().FrontCover->Data);
}

TEST_F(TagWriteTest, WritingAgainReplacesBothTagsInsteadOfAddingNewOnes) {
    const QString path = Path("a.mp3");
    const QByteArray audio = SilentMpegFrames(30);
    WriteFile(path, audio);
    QString why;
    ASSERT_TRUE(WriteMp3Tags(path, FullSet(), why));
    TTagSet second;
    second.Title = QStringLiteral("A title longer than thirty characters, cut");
    second.Genre = QStringLiteral("no such genre");
    ASSERT_TRUE(WriteMp3Tags(path, second, why)) << why.toStdString();
    const TTagSet read = ReadTags(path).Tags;
    EXPECT_EQ(read.Title, second.Title);
    EXPECT_TRUE(read.Artist.isEmpty()) << "the first tag's fields are gone from both tags";
    EXPECT_FALSE(read.FrontCover.has_value());
    const TMPEGInfo v1 = OwnID3v1(path);
    EXPECT_EQ(v1.Title.Text(), second.Title.left(30));
    EXPECT_EQ(v1.Genre, 255);
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    const qsizetype tagSize = qsizetype(file.ID3v2Tag()->header()->completeTagSize());
    EXPECT_EQ(ReadFile(path).size(), tagSize + audio.size() + ID3v1Size);
}

TEST_F(TagWriteTest, WavGetsInfoAndId3ChunksAndKeepsItsAudio) {
    const QString path = Path("a.wav");
    // An odd-sized chunk after the data, as other writers leave, stays with its pad byte.
    const QByteArray samples = ToneSamples(1, 16, 8000, 0.1, {{440, 0.5}});
    const QByteArray chunks = WavFmtChunk(16, 1, 1, 8000, 16) + WavChunk("data", samples) +
                              WavChunk("junk", QByteArray(3, 'j')) +
                              WavChunk("id3 ", QByteArray(20, 'x'));
    WriteFile(path, RiffWave(chunks));
    QString why;
    ASSERT_TRUE(WriteWavTags(path, FullSet(), why)) << why.toStdString();
    TTagSet second;
    second.Title = QStringLiteral("second");
    ASSERT_TRUE(WriteWavTags(path, second, why)) << why.toStdString();

    const QByteArray written = ReadFile(path);
    EXPECT_TRUE(written.contains(WavChunk("data", samples)));
    EXPECT_TRUE(written.contains(WavChunk("junk", QByteArray(3, 'j'))));
    EXPECT_FALSE(written.contains(QByteArray(20, 'x'))) << "the old id3 chunk is replaced";
    EXPECT_EQ(written.count("INFO"), 1);
    const quint32 riffSize = qFromLittleEndian<quint32>(written.constData() + 4);
    EXPECT_EQ(qsizetype(riffSize) + 8, written.size());

    TagLib::RIFF::WAV::File file(QFile::encodeName(path).constData());
    ASSERT_TRUE(file.isValid());
    EXPECT_EQ(file.audioProperties()->sampleFrames(), 800u);
    EXPECT_EQ(file.InfoTag()->title(), "second");
    EXPECT_EQ(file.ID3v2Tag()->title(), "second");
    EXPECT_EQ(file.ID3v2Tag()->header()->majorVersion(), 3u);

    // The full set through our reader: ID3v2 keeps the Unicode title and the cover.
    ASSERT_TRUE(WriteWavTags(path, FullSet(), why));
    const TTagSet read = ReadTags(path).Tags;
    EXPECT_EQ(read.Kinds, (QStringList{"ID3v2.3 (id3 chunk)", "RIFF INFO"}));
    EXPECT_EQ(read.Title, FullSet().Title);
    EXPECT_EQ(read.Composer, "A. Composer");
    EXPECT_EQ(read.Disc, 1);
    ASSERT_TRUE(read.FrontCover.has_value());
    EXPECT_EQ(read.FrontCover->Data, FullSet().FrontCover->Data);
}

TEST_F(TagWriteTest, WritesThatFailSayWhyAndReportIt) {
    const QString mp3 = Path("a.mp3");
    const QByteArray audio = SilentMpegFrames(30);
    WriteFile(mp3, audio);
    const QString wav = Path("a.wav");
    WriteSineWav(wav, 1, 8000, 0.2, 440);
    const qint64 wavSize = QFileInfo(wav).size();
    QString why;
    {
        const FileSizeLimit limit(audio.size() + 1000); // the ID3v1 fits, the picture not
        ASSERT_TRUE(limit.Works);
        EXPECT_FALSE(WriteMp3Tags(mp3, FullSet(), why));
        EXPECT_TRUE(why.contains("File too large")) << why.toStdString();
        why.clear();
        const FileSizeLimit wavLimit(wavSize + 100);
        EXPECT_FALSE(WriteWavTags(wav, FullSet(), why));
        EXPECT_TRUE(why.contains("File too large")) << why.toStdString();
    }
    why.clear();
    WriteFile(Path("not.wav"), QByteArray(100, 'n'));
    EXPECT_FALSE(WriteWavTags(Path("not.wav"), FullSet(), why));
    EXPECT_FALSE(why.isEmpty());
    why.clear();
    EXPECT_FALSE(WriteMp3Tags(Path("missing.mp3"), FullSet(), why));
    EXPECT_FALSE(why.isEmpty());
}

TEST_F(TagWriteTest, ReplayGainGoesIntoTxxxFramesAloneWithoutAnId3v1Tag) {
    EXPECT_FALSE(ReplayGainOf(-std::numeric_limits<double>::infinity(), -20).has_value())
        << "silence has no gain";
    const std::optional<TReplayGain> gain = ReplayGainOf(-23, -23);
    ASSERT_TRUE(gain.has_value());
    EXPECT_DOUBLE_EQ(gain->TrackGain, 5.0);
    EXPECT_NEAR(gain->TrackPeak, 0.070795, 1e-6);

    const QString path = Path("a.mp3");
    const QByteArray audio = SilentMpegFrames(20);
    WriteFile(path, audio);
    TTagSet only;
    only.ReplayGain = TReplayGain{-3.214, 0.98765432};
    QString why;
    ASSERT_TRUE(WriteMp3Tags(path, only, why)) << why.toStdString();
    const QByteArray written = ReadFile(path);
    EXPECT_TRUE(written.endsWith(audio)) << "no ID3v1 tag for gain values alone";
    TagLib::MPEG::File file(QFile::encodeName(path).constData());
    ASSERT_TRUE(file.hasID3v2Tag());
    TagLib::ID3v2::Tag &tag = *file.ID3v2Tag();
    const auto text = [&tag](const char *Description) {
        auto *frame = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, Description);
        return frame ? QString::fromUtf8(frame->fieldList().back().toCString(true)) : QString();
    };
    EXPECT_EQ(text("REPLAYGAIN_TRACK_GAIN"), "-3.21 dB");
    EXPECT_EQ(text("REPLAYGAIN_TRACK_PEAK"), "0.987654");
    EXPECT_EQ(tag.frameList().size(), 2u);

    // Beside copied fields, in a WAV file's id3 chunk.
    const QString wav = Path("a.wav");
    WriteSineWav(wav, 1, 8000, 0.1, 440);
    TTagSet full = FullSet();
    full.ReplayGain = TReplayGain{5.0, 0.5};
    ASSERT_TRUE(WriteWavTags(wav, full, why)) << why.toStdString();
    TagLib::RIFF::WAV::File wavFile(QFile::encodeName(wav).constData());
    ASSERT_TRUE(wavFile.hasID3v2Tag());
    auto *wavGain = TagLib::ID3v2::UserTextIdentificationFrame::find(wavFile.ID3v2Tag(),
                                                                     "REPLAYGAIN_TRACK_GAIN");
    ASSERT_NE(wavGain, nullptr);
    EXPECT_EQ(QString::fromUtf8(wavGain->fieldList().back().toCString(true)), "+5.00 dB");
    EXPECT_EQ(QString::fromUtf8(wavFile.ID3v2Tag()->title().toCString(true)), FullSet().Title);
}

// The conversion jobs' step: what is read decides what is written, or said.
TEST_F(TagWriteTest, CarryingNotesUnreadableTagsAndFailsOnAFailedWrite) {
    static int calls;
    calls = 0;
    const TTagWriter counting = [](const QString &, const TTagSet &, QString &) {
        ++calls;
        return true;
    };
    const std::atomic<bool> never{false};
    TTagCarry carry = CarryTags(Path("missing.flac"), Path("out.mp3"), counting, true, {}, never);
    EXPECT_TRUE(carry.Warning.startsWith("The tags were not copied: "))
        << carry.Warning.toStdString();
    EXPECT_TRUE(carry.Failure.isEmpty());
    EXPECT_EQ(calls, 0);

    const QString plain = Path("plain.wav");
    WriteSineWav(plain, 1, 8000, 0.1, 440);
    carry = CarryTags(plain, Path("out.mp3"), counting, true, {}, never);
    EXPECT_TRUE(carry.Warning.isEmpty() && carry.Failure.isEmpty());
    EXPECT_EQ(calls, 0) << "no tags, nothing written";

    const QString tagged = Path("tagged.wav");
    WriteSineWav(tagged, 1, 8000, 0.1, 440);
    QString why;
    ASSERT_TRUE(WriteWavTags(tagged, FullSet(), why));
    carry = CarryTags(tagged, Path("out.mp3"), counting, true, {}, never);
    EXPECT_EQ(calls, 1);
    carry = CarryTags(
        tagged, Path("out.mp3"),
        [](const QString &, const TTagSet &, QString &Why) {
            Why = QStringLiteral("disk full");
            return false;
        },
        true, {}, never);
    EXPECT_EQ(carry.Failure, "disk full");
}

} // namespace
