#include "core/conversion/RunnerFixture.h"
#include "encoder/LameCoder.h"

#include <ebur128.h>

#include <cmath>
#include <numbers>

using namespace runnertest;

namespace {

// A sine of Amplitude (full scale 1.0) at Frequency, Phase radians at the first frame, the
// same in every channel, as 16-bit samples at 44.1 kHz.
std::vector<int16_t> Sine(double Seconds, double Frequency, double Amplitude, int Channels = 2,
                          double Phase = 0) {
    const size_t frames = size_t(std::lround(Seconds * 44100));
    std::vector<int16_t> samples;
    samples.reserve(frames * size_t(Channels));
    for (size_t i = 0; i < frames; ++i) {
        const double v =
            Amplitude * std::sin(2 * std::numbers::pi * Frequency * double(i) / 44100 + Phase);
        for (int c = 0; c < Channels; ++c)
            samples.push_back(int16_t(std::lround(v * 32767)));
    }
    return samples;
}

double Dbfs(double Db) {
    return std::pow(10.0, Db / 20);
}

TLoudness Measure(const QString &Path) {
    std::atomic<bool> abort{false};
    TLoudness loudness;
    EXPECT_TRUE(MeasureLoudness(Path, true, loudness, abort));
    return loudness;
}

// Integrated loudness of decoded MPEG audio, measured in the test itself.
double DecodedLoudness(const QString &Mp3) {
    const DecodedAudio audio = DecodeMpeg(Mp3);
    EXPECT_TRUE(audio.ok) << audio.error.toStdString();
    ebur128_state *state = ebur128_init(
        unsigned(audio.channels), static_cast<unsigned long>(audio.sampleRate), EBUR128_MODE_I);
    ebur128_add_frames_short(state, audio.samples.data(), audio.frames());
    double loudness = 0;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
}

} // namespace

TEST(Loudness, ReferenceSinesMeasureAsTheStandardSays) {
    QTemporaryDir dir;
    // A stereo 1 kHz sine at -23 dBFS in each channel is -23 LUFS.
    const QString stereo = dir.filePath("stereo.wav");
    WriteFile(stereo, SamplesWav(Sine(20, 1000, Dbfs(-23)), 2));
    const TLoudness s = Measure(stereo);
    EXPECT_NEAR(s.Integrated, -23.0, 0.1);
    EXPECT_NEAR(s.TruePeak, -23.0, 0.1);
    EXPECT_NEAR(s.Range, 0.0, 0.1) << "a steady tone has no loudness range";
    // One channel counts once: a mono sine at -20 dBFS is -23 LUFS, not twice as loud.
    const QString mono = dir.filePath("mono.wav");
    WriteFile(mono, SamplesWav(Sine(20, 1000, Dbfs(-20), 1), 1));
    EXPECT_NEAR(Measure(mono).Integrated, -23.0, 0.1);
}

TEST(Loudness, TheGainStopsAtTheTruePeakCeiling) {
    TLoudness m;
    m.Integrated = -30;
    m.TruePeak = -20;
    EXPECT_DOUBLE_EQ(LoudnessGain(m, -16, -1), 14);
    m.TruePeak = -6;
    EXPECT_DOUBLE_EQ(LoudnessGain(m, -16, -1), 5) << "the ceiling wins";
    m.Integrated = -10;
    EXPECT_DOUBLE_EQ(LoudnessGain(m, -16, -1), -6) << "lowering is never held back";
}

TEST(Loudness, ATruePeakBetweenSamplesIsKeptUnderTheCeiling) {
    QTemporaryDir dir;
    const QString file = dir.filePath("crest.wav");
    // A quiet 1 kHz tone with a burst near a quarter of the rate whose samples fall 45 degrees
    // off the crest: the samples stay under the ceiling, the wave between them does not
    // once the file is raised towards the target.
    std::vector<int16_t> samples = Sine(3, 1000, 0.02, 1);
    const std::vector<int16_t> burst = Sine(0.004, 11025, 0.8, 1, std::numbers::pi / 4);
    std::copy(burst.begin(), burst.end(), samples.begin() + 44100);
    WriteFile(file, SamplesWav(samples, 1));
    const TLoudness before = Measure(file);
    const int samplePeak = std::abs(*std::max_element(
        samples.begin(), samples.end(), [](int a, int b) { return std::abs(a) < std::abs(b); }));
    ASSERT_LT(20 * std::log10(samplePeak / 32768.0), -1.0);
    ASSERT_GT(before.TruePeak + (-16 - before.Integrated), -1.0) << "the ceiling must bind";

    std::atomic<bool> abort{false};
    TNormalizeResult r = NormalizeToLoudness(file, -16, -1.0, dir.path(), abort);
    ASSERT_TRUE(r.Error.isEmpty()) << r.Error.toStdString();
    EXPECT_TRUE(r.Note.isEmpty());
    ASSERT_TRUE(r.Temp);
    const TLoudness after = Measure(r.Temp.Path());
    EXPECT_LE(after.TruePeak, -1.0 + 0.05);
    EXPECT_GT(after.TruePeak, -1.5) << "raised up to the ceiling";
    EXPECT_LT(after.Integrated, -16.5) << "short of the target: no limiter";
}

TEST(Loudness, SilenceAndAShortFileAreLeftUnscaledWithANote) {
    QTemporaryDir dir;
    std::atomic<bool> abort{false};
    const QString silent = dir.filePath("silent.wav");
    WriteFile(silent, SamplesWav(std::vector<int16_t>(2 * 44100 * 2), 2));
    TNormalizeResult r = NormalizeToLoudness(silent, -16, -1, dir.path(), abort);
    EXPECT_TRUE(r.Error.isEmpty());
    EXPECT_FALSE(r.Temp);
    EXPECT_TRUE(r.Note.contains("silent")) << r.Note.toStdString();

    const QString shortFile = dir.filePath("short.wav");
    WriteFile(shortFile, SamplesWav(Sine(0.2, 1000, 0.1), 2));
    r = NormalizeToLoudness(shortFile, -16, -1, dir.path(), abort);
    EXPECT_TRUE(r.Error.isEmpty());
    EXPECT_FALSE(r.Temp);
    EXPECT_TRUE(r.Note.contains("400 ms")) << r.Note.toStdString();
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, LoudnessNormalisationRaisesAndLowersEncodedFilesToTheTarget) {
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    config.LoudnessTarget = -16;
    WriteFile(path("quiet.wav"), SamplesWav(Sine(4, 1000, Dbfs(-40)), 2));
    WriteFile(path("loud.wav"), SamplesWav(Sine(4, 1000, Dbfs(-3)), 2));
    AddJob("quiet.wav", ".MP3");
    AddJob("loud.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Errors.isEmpty()) << questions.Errors.join('\n').toStdString();
    EXPECT_TRUE(questions.Warnings.isEmpty());
    EXPECT_NEAR(DecodedLoudness(path("quiet.MP3")), -16, 0.5);
    EXPECT_NEAR(DecodedLoudness(path("loud.MP3")), -16, 0.5);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, LoudnessNormalisationBringsADecodedFileToTheTarget) {
    WriteFile(path("quiet.wav"), SamplesWav(Sine(4, 1000, Dbfs(-35)), 2));
    AddJob("quiet.wav", ".MP3");
    EncodeAndForget();
    ASSERT_TRUE(QFile::remove(path("quiet.wav")));
    config.ConvertType = 1;
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    config.LoudnessTarget = -23;
    AddJob("quiet.MP3", ".WAV");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Errors.isEmpty()) << questions.Errors.join('\n').toStdString();
    ASSERT_TRUE(QFileInfo::exists(path("quiet.WAV")))
        << (questions.Messages + questions.Notes +
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
               .join('\n')
               .toStdString();
    EXPECT_NEAR(Measure(path("quiet.WAV")).Integrated, -23, 0.5);
}

TEST_P(ConvRunnerTest, ASilentSourceIsConvertedUnscaledWithAWarning) {
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    WriteFile(path("silent.wav"), SamplesWav(std::vector<int16_t>(44100 * 2), 2));
    AddJob("silent.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Errors.isEmpty());
    ASSERT_EQ(questions.Warnings.size(), 1);
    EXPECT_TRUE(questions.Warnings[0].startsWith(path("silent.wav") + ": Not normalised"))
        << questions.Warnings[0].toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("silent.MP3")));
}

TEST_P(ConvRunnerTest, LoudnessIsThatOfTheChannelsTheMp3Holds) {
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    config.LoudnessTarget = -18;
    config.WriteReplayGain = true;
    // A mono source becomes a stereo MP3 (dual mono, 3 LU louder than the mono file); a
    // stereo source whose channels differ becomes a mono MP3 of their mean.
    WriteFile(path("mono.wav"), SamplesWav(Sine(4, 1000, Dbfs(-30), 1), 1));
    std::vector<int16_t> wide = Sine(4, 1000, Dbfs(-20));
    for (size_t i = 1; i < wide.size(); i += 2)
        wide[i] = 0; // only the left channel sounds
    WriteFile(path("wide.wav"), SamplesWav(wide, 2));
    config.Mode = 0;
    AddJob("mono.wav", ".MP3");
    {
        TConvRunner runner(config, questions);
        Run(runner);
    }
    records.clear();
    config.Mode = MONO;
    AddJob("wide.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(questions.Errors.isEmpty()) << questions.Errors.join('\n').toStdString();
    EXPECT_EQ(DecodeMpeg(path("mono.MP3")).channels, 2);
    EXPECT_EQ(DecodeMpeg(path("wide.MP3")).channels, 1);
    EXPECT_NEAR(DecodedLoudness(path("mono.MP3")), -18, 0.5);
    EXPECT_NEAR(DecodedLoudness(path("wide.MP3")), -18, 0.5);
}
