// Album gain: a folder's blocks gated together, and the album values the batch adds to the
// outputs of a folder once its last job has ended.
#include "conversion/AlbumGain.h"
#include "core/conversion/RunnerFixture.h"

#include <ebur128.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <wavfile.h>

#include <cmath>
#include <numbers>

using namespace runnertest;

namespace {

// A stereo 1 kHz sine at Db dBFS (-23 dBFS measures -23 LUFS) with a quieter second half at
// Db - Drop, so that the relative gate has blocks to judge.
std::vector<int16_t> AlbumTone(double Seconds, double Db, double Drop = 0,
                               double Frequency = 1000) {
    const size_t frames = size_t(std::lround(Seconds * 44100));
    std::vector<int16_t> samples;
    samples.reserve(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double level = std::pow(10.0, (i < frames / 2 ? Db : Db - Drop) / 20);
        const double v = level * std::sin(2 * std::numbers::pi * Frequency * double(i) / 44100);
        samples.push_back(int16_t(std::lround(v * 32767)));
        samples.push_back(int16_t(std::lround(v * 32767)));
    }
    return samples;
}

struct TMeasured {
    TLoudness Loudness;
    TLoudnessBlocks Blocks;
};

TMeasured MeasureWithBlocks(const QString &Path) {
    std::atomic<bool> abort{false};
    TMeasured m;
    EXPECT_TRUE(MeasureLoudness(Path, false, m.Loudness, abort, {}, &m.Blocks));
    return m;
}

// The library's own album loudness of the 16-bit samples of each file.
double LibraryAlbumLoudness(const std::vector<std::vector<int16_t>> &Tracks) {
    std::vector<ebur128_state *> states;
    for (const auto &samples : Tracks) {
        states.push_back(ebur128_init(2, 44100, EBUR128_MODE_I));
        ebur128_add_frames_short(states.back(), samples.data(), samples.size() / 2);
    }
    double loudness = 0;
    ebur128_loudness_global_multiple(states.data(), states.size(), &loudness);
    for (ebur128_state *state : states)
        ebur128_destroy(&state);
    return loudness;
}

QString UserText(TagLib::ID3v2::Tag *Tag, const char *Description) {
    auto *frame =
        Tag ? TagLib::ID3v2::UserTextIdentificationFrame::find(Tag, Description) : nullptr;
    if (!frame || frame->fieldList().size() < 2)
        return {};
    return QString::fromUtf8(frame->fieldList()[1].toCString(true));
}

struct TGains {
    QString Track, Album, AlbumPeak;
};

TGains Mp3Gains(const QString &Path) {
    TagLib::MPEG::File file(QFile::encodeName(Path).constData());
    TagLib::ID3v2::Tag *tag = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
    return {UserText(tag, "REPLAYGAIN_TRACK_GAIN"), UserText(tag, "REPLAYGAIN_ALBUM_GAIN"),
            UserText(tag, "REPLAYGAIN_ALBUM_PEAK")};
}

TGains WavGains(const QString &Path) {
    TagLib::RIFF::WAV::File file(QFile::encodeName(Path).constData());
    TagLib::ID3v2::Tag *tag = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
    return {UserText(tag, "REPLAYGAIN_TRACK_GAIN"), UserText(tag, "REPLAYGAIN_ALBUM_GAIN"),
            UserText(tag, "REPLAYGAIN_ALBUM_PEAK")};
}

double Db(const QString &GainText) {
    return GainText.endsWith(" dB") ? GainText.chopped(3).toDouble() : std::nan("");
}

} // namespace

TEST(AlbumLoudness, BlocksGatedTogetherMatchTheLibrarysAlbumLoudness) {
    QTemporaryDir dir;
    const std::vector<int16_t> loud = AlbumTone(6, -12, 6);
    const std::vector<int16_t> quiet = AlbumTone(5, -30, 20, 440);
    WriteFile(dir.filePath("loud.wav"), SamplesWav(loud, 2));
    WriteFile(dir.filePath("quiet.wav"), SamplesWav(quiet, 2));
    const TMeasured a = MeasureWithBlocks(dir.filePath("loud.wav"));
    const TMeasured b = MeasureWithBlocks(dir.filePath("quiet.wav"));

    // One track alone is its own album.
    EXPECT_NEAR(a.Blocks.Integrated(), a.Loudness.Integrated, 0.01);
    EXPECT_NEAR(b.Blocks.Integrated(), b.Loudness.Integrated, 0.01);

    TLoudnessBlocks album;
    album.Merge(a.Blocks);
    album.Merge(b.Blocks);
    EXPECT_EQ(album.Count(), a.Blocks.Count() + b.Blocks.Count());
    EXPECT_NEAR(album.Integrated(), LibraryAlbumLoudness({loud, quiet}), 0.01);
    // Not the mean of the tracks: the quiet track's blocks fall under the album's gate.
    EXPECT_GT(album.Integrated(), (a.Loudness.Integrated + b.Loudness.Integrated) / 2 + 3);

    EXPECT_FALSE(std::isfinite(TLoudnessBlocks().Integrated())) << "no blocks, no loudness";
}

class AlbumGainTest : public ConvRunnerTest {
protected:
    void SetUp() override {
        ConvRunnerTest::SetUp();
        config.WriteReplayGain = true;
        config.AlbumGainPerFolder = true;
        config.CopyTags = false;
        ASSERT_TRUE(QDir(dir.path()).mkpath("a") && QDir(dir.path()).mkpath("b"));
    }
};

INSTANTIATE_TEST_SUITE_P(Jobs, AlbumGainTest, ::testing::Values(1, 3));

TEST_P(AlbumGainTest, EachFolderOfTheBatchGetsItsOwnAlbumValuesAndTheAudioStaysPut) {
    const std::vector<int16_t> loud = AlbumTone(4, -12, 6);
    const std::vector<int16_t> quiet = AlbumTone(4, -28, 6, 440);
    WriteFile(path("a/1.wav"), SamplesWav(loud, 2));
    WriteFile(path("a/2.wav"), SamplesWav(quiet, 2));
    WriteFile(path("b/1.wav"), SamplesWav(quiet, 2));
    AddJob("a/1.wav", ".MP3");
    AddJob("b/1.wav", ".MP3");
    AddJob("a/2.wav", ".MP3");

    // The same batch with track values only, for the audio the album pass must not move.
    config.AlbumGainPerFolder = false;
    {
        TConvRunner runner(config, questions);
        Run(runner);
    }
    const QByteArray trackOnly = ReadFile(path("a/2.MP3"));
    ASSERT_FALSE(trackOnly.isEmpty());
    EXPECT_TRUE(Mp3Gains(path("a/2.MP3")).Album.isEmpty());

    config.AlbumGainPerFolder = true;
    questions.OverwriteAnswers = {mrYesToAll};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Warnings.isEmpty()) << questions.Warnings.join('\n').toStdString();
    EXPECT_EQ(runner.ConvertedCount(), 3);

    const TGains a1 = Mp3Gains(path("a/1.MP3"));
    const TGains a2 = Mp3Gains(path("a/2.MP3"));
    const TGains b1 = Mp3Gains(path("b/1.MP3"));
    const double albumA = -18 - LibraryAlbumLoudness({loud, quiet});
    EXPECT_NEAR(Db(a1.Album), albumA, 0.02) << a1.Album.toStdString();
    EXPECT_EQ(a1.Album, a2.Album);
    EXPECT_EQ(a1.AlbumPeak, a2.AlbumPeak);
    EXPECT_NE(a1.Track, a2.Track) << "the track values stay each track's own";
    // The album peak is the loudest track's.
    EXPECT_NEAR(a1.AlbumPeak.toDouble(), std::pow(10.0, -12 / 20.0), 0.01);
    // A folder of one track: its album is the track.
    EXPECT_NEAR(Db(b1.Album), Db(b1.Track), 0.02) << b1.Album.toStdString();
    EXPECT_NE(b1.Album, a2.Album);

    // Added inside the tag's room: same size, the audio byte for byte where it was.
    const QByteArray withAlbum = ReadFile(path("a/2.MP3"));
    ASSERT_EQ(withAlbum.size(), trackOnly.size());
    ASSERT_TRUE(withAlbum.startsWith("ID3"));
    qsizetype audio = 10;
    for (int i = 6; i < 10; ++i)
        audio += qsizetype(uint8_t(withAlbum[i])) << (7 * (9 - i));
    EXPECT_EQ(withAlbum.mid(audio), trackOnly.mid(audio));
}

TEST_P(AlbumGainTest, AFolderWithAFailedFileGetsNoAlbumValuesAndAWarning) {
    WriteFile(path("a/1.wav"), SamplesWav(AlbumTone(3, -14), 2));
    WriteFile(path("a/2.wav"), "not audio at all");
    WriteFile(path("b/1.wav"), SamplesWav(AlbumTone(3, -20), 2));
    AddJob("a/1.wav", ".MP3");
    AddJob("a/2.wav", ".MP3");
    AddJob("b/1.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(runner.FailedCount(), 1);
    EXPECT_FALSE(Mp3Gains(path("a/1.MP3")).Track.isEmpty());
    EXPECT_TRUE(Mp3Gains(path("a/1.MP3")).Album.isEmpty());
    EXPECT_FALSE(Mp3Gains(path("b/1.MP3")).Album.isEmpty()) << "the other folder is whole";
    ASSERT_EQ(questions.Warnings.size(), 1) << questions.Warnings.join('\n').toStdString();
    EXPECT_TRUE(questions.Warnings[0].startsWith(QFileInfo(path("a/1.wav")).absolutePath() +
                                                 ": No album gain"))
        << questions.Warnings[0].toStdString();
}

TEST_P(AlbumGainTest, ASilentTrackTakesNoAlbumValuesAndCostsItsAlbumNothing) {
    WriteFile(path("a/1.wav"), SamplesWav(AlbumTone(3, -14), 2));
    WriteFile(path("a/2.wav"), SamplesWav(std::vector<int16_t>(44100 * 2 * 2), 2));
    AddJob("a/1.wav", ".MP3");
    AddJob("a/2.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Warnings.isEmpty()) << questions.Warnings.join('\n').toStdString();
    const TGains tone = Mp3Gains(path("a/1.MP3"));
    EXPECT_NEAR(Db(tone.Album), Db(tone.Track), 0.02) << "the silence adds no blocks";
    EXPECT_TRUE(Mp3Gains(path("a/2.MP3")).Album.isEmpty());
}

TEST_P(AlbumGainTest, DecodedWavFilesGetTheAlbumValuesInTheirId3Chunk) {
    WriteFile(path("a/1.wav"), SamplesWav(AlbumTone(3, -14), 2));
    WriteFile(path("a/2.wav"), SamplesWav(AlbumTone(3, -26), 2));
    config.WriteReplayGain = false;
    AddJob("a/1.wav", ".MP3");
    AddJob("a/2.wav", ".MP3");
    EncodeAndForget();

    config.WriteReplayGain = true;
    config.ConvertType = 1;
    AddJob("a/1.MP3", ".WAV");
    AddJob("a/2.MP3", ".WAV");
    questions.OverwriteAnswers = {mrYesToAll};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Warnings.isEmpty()) << questions.Warnings.join('\n').toStdString();
    const TGains one = WavGains(path("a/1.WAV"));
    const TGains two = WavGains(path("a/2.WAV"));
    EXPECT_FALSE(one.Album.isEmpty());
    EXPECT_EQ(one.Album, two.Album);
    EXPECT_LT(Db(one.Album), Db(two.Track))
        << "the quiet track is raised less as part of its album";
}

TEST_P(AlbumGainTest, NothingWithoutTheReplayGainTagsThemselves) {
    config.WriteReplayGain = false; // the album box alone does nothing: it is greyed out then
    WriteFile(path("a/1.wav"), SamplesWav(AlbumTone(2, -14), 2));
    AddJob("a/1.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    TagLib::MPEG::File file(QFile::encodeName(path("a/1.MP3")).constData());
    EXPECT_FALSE(file.hasID3v2Tag());
}
