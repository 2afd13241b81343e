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

namespace {

// Bursts of 10 ms of a band-limited 100 Hz square wave (harmonics to 8 kHz) every half second
// over a quiet tone: once normalised to -16 LUFS the ceiling binds, and the MP3 of the
// scaled copy decodes over it.
std::vector<int16_t> SquareBursts(double Seconds) {
    const size_t frames = size_t(std::lround(Seconds * 44100));
    std::vector<double> wave(frames);
    for (int k = 1; k * 100 < 8000; k += 2)
        for (size_t i = 0; i < frames; ++i)
            wave[i] += std::sin(2 * std::numbers::pi * 100 * k * double(i) / 44100) / k;
    double peak = 0;
    for (double v : wave)
        peak = std::max(peak, std::abs(v));
    std::vector<int16_t> samples;
    samples.reserve(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double v = i % 22050 <= 441
                             ? wave[i] / peak * 0.5
                             : 0.005 * std::sin(2 * std::numbers::pi * 300 * double(i) / 44100);
        samples.insert(samples.end(), 2, int16_t(std::lround(v * 32767)));
    }
    return samples;
}

// True peak (dBTP) of decoded MPEG audio, measured in the test itself.
double DecodedTruePeak(const QString &Mp3) {
    const DecodedAudio audio = DecodeMpeg(Mp3);
    EXPECT_TRUE(audio.ok) << audio.error.toStdString();
    ebur128_state *state =
        ebur128_init(unsigned(audio.channels), static_cast<unsigned long>(audio.sampleRate),
                     EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_short(state, audio.samples.data(), audio.frames());
    double peak = 0;
    for (int c = 0; c < audio.channels; ++c) {
        double p = 0;
        ebur128_true_peak(state, unsigned(c), &p);
        peak = std::max(peak, p);
    }
    ebur128_destroy(&state);
    return 20 * std::log10(peak);
}

int Count(const std::vector<int> &Phases, int Phase) {
    return int(std::count(Phases.begin(), Phases.end(), Phase));
}

} // namespace

TEST_P(ConvRunnerTest, AnMp3OverTheTruePeakCeilingIsScaledAndEncodedAgain) {
    if (!SoundFileDecodesMpeg())
        GTEST_SKIP() << "libsndfile does not decode MPEG audio here";
    WriteFile(path("square.wav"), SamplesWav(SquareBursts(6), 2));
    // The scaled copy encoded as it is overshoots: that is what is to be redone.
    double firstPeak = 0, firstLoudness = 0;
    {
        std::atomic<bool> abort{false};
        TNormalizeResult scaled =
            NormalizeToLoudness(path("square.wav"), -16, -1.0, dir.path(), abort);
        ASSERT_TRUE(scaled.Temp) << scaled.Error.toStdString();
        ASSERT_TRUE(QFile::copy(scaled.Temp.Path(), path("scaled.wav")));
        AddJob("scaled.wav", ".MP3");
        EncodeAndForget();
        firstPeak = DecodedTruePeak(path("scaled.MP3"));
        firstLoudness = DecodedLoudness(path("scaled.MP3"));
        ASSERT_GT(firstPeak, -1.0 + 0.05);
    }
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    config.LoudnessTarget = -16;
    config.TruePeakCeiling = -10;
    AddJob("square.wav", ".MP3");
    TConvRunner runner(config, questions);
    std::vector<int> phases;
    QObject::connect(&runner, &TConvRunner::PhaseChanged,
                     [&](int Phase) { phases.push_back(Phase); });
    // The job's own bar: well under 100% while it scales again, full at its end.
    std::vector<int> encodingAgain;
    int last = -1;
    QObject::connect(&runner, &TConvRunner::JobProgress, [&](int, int Phase, int Percent) {
        if (Phase == phNormalize && Count(phases, phEncode) >= 1)
            encodingAgain.push_back(Percent);
        last = Percent;
    });
    Run(runner);
    EXPECT_TRUE(questions.Errors.isEmpty()) << questions.Errors.join('\n').toStdString();
    EXPECT_TRUE(questions.Warnings.isEmpty()) << questions.Warnings.join('\n').toStdString();
    ASSERT_FALSE(encodingAgain.empty());
    EXPECT_LE(*std::max_element(encodingAgain.begin(), encodingAgain.end()), 80);
    EXPECT_EQ(last, 100);
    EXPECT_LE(DecodedTruePeak(path("square.MP3")), -1.0 + 0.05);
    const double loudness = DecodedLoudness(path("square.MP3"));
    EXPECT_LE(loudness, -16 + 0.5);
    EXPECT_GT(loudness, firstLoudness - (firstPeak + 1.0) - 1.0) << "lowered by the overshoot only";
    // Scan, scale and encode; then scale and encode again.
    EXPECT_GE(Count(phases, phEncode), 2);
    EXPECT_LE(Count(phases, phEncode), 1 + OvershootRetries);
    EXPECT_EQ(Count(phases, phNormalize), Count(phases, phEncode));
    EXPECT_EQ(Count(phases, phScanPeak), 1) << "the source is measured once";
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AnMp3UnderTheCeilingIsEncodedOnce) {
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    config.LoudnessTarget = -16;
    WriteFile(path("tone.wav"), SamplesWav(Sine(4, 1000, Dbfs(-30)), 2));
    AddJob("tone.wav", ".MP3");
    TConvRunner runner(config, questions);
    std::vector<int> phases;
    QObject::connect(&runner, &TConvRunner::PhaseChanged,
                     [&](int Phase) { phases.push_back(Phase); });
    std::vector<int> percents;
    QObject::connect(&runner, &TConvRunner::JobProgress,
                     [&](int, int, int Percent) { percents.push_back(Percent); });
    Run(runner);
    EXPECT_TRUE(questions.Warnings.isEmpty()) << questions.Warnings.join('\n').toStdString();
    EXPECT_EQ(phases, (std::vector<int>{phScanPeak, phNormalize, phEncode, phDone}));
    EXPECT_TRUE(QFileInfo::exists(path("tone.MP3")));
    // The check is part of the encoding: the job's share done only goes forward.
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
}

// Both would overshoot -1 dBTP and be made again if they were checked.
TEST_P(ConvRunnerTest, TheMp3IsNotCheckedInPeakModeOrWhenLeftUnscaled) {
    config.FNormalizeVolume = true;
    config.NormalizeMode = 0;
    WriteFile(path("square.wav"), SamplesWav(SquareBursts(2), 2));
    AddJob("square.wav", ".MP3");
    TConvRunner runner(config, questions);
    std::vector<int> phases;
    QObject::connect(&runner, &TConvRunner::PhaseChanged,
                     [&](int Phase) { phases.push_back(Phase); });
    Run(runner);
    EXPECT_EQ(phases, (std::vector<int>{phScanPeak, phNormalize, phEncode, phDone}));

    // Too short to measure: converted as it is, and not lowered either.
    records.clear();
    phases.clear();
    config.NormalizeMode = 1;
    WriteFile(path("short.wav"), SamplesWav(Sine(0.2, 1000, 0.99), 2));
    AddJob("short.wav", ".MP3");
    TConvRunner again(config, questions);
    QObject::connect(&again, &TConvRunner::PhaseChanged,
                     [&](int Phase) { phases.push_back(Phase); });
    Run(again);
    EXPECT_EQ(phases, (std::vector<int>{phScanPeak, phNormalize, phEncode, phDone}));
}

TEST_P(ConvRunnerTest, AnAbortWhileEncodingAgainLeavesNothingBehind) {
    if (!SoundFileDecodesMpeg())
        GTEST_SKIP() << "libsndfile does not decode MPEG audio here";
    config.FNormalizeVolume = true;
    config.NormalizeMode = 1;
    config.LoudnessTarget = -16;
    WriteFile(path("square.wav"), SamplesWav(SquareBursts(6), 2));
    AddJob("square.wav", ".MP3");
    TConvRunner runner(config, questions);
    int scalings = 0;
    QObject::connect(&runner, &TConvRunner::PhaseChanged, [&](int Phase) {
        if (Phase == phNormalize && ++scalings == 2)
            QTimer::singleShot(0, &runner, [&] {
                runner.Abort();
                runner.AnswerAbort(true);
            });
    });
    Run(runner);
    ASSERT_EQ(scalings, 2);
    EXPECT_FALSE(QFileInfo::exists(path("square.MP3")));
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("square.wav")});
}

TEST(Loudness, TheDecodedPeakOfAnMp3IsMeasuredAndOtherFilesAreRefused) {
    if (!SoundFileDecodesMpeg())
        GTEST_SKIP() << "libsndfile does not decode MPEG audio here";
    QTemporaryDir dir;
    const QString wav = dir.filePath("tone.wav");
    WriteFile(wav, SamplesWav(SquareBursts(3), 2));
    std::atomic<bool> abort{false};
    const TDecodedPeak refused = MeasureDecodedPeak(wav, abort);
    EXPECT_FALSE(refused.Checked);
    EXPECT_FALSE(refused.Problem.isEmpty());

    TConfig config;
    Questions questions;
    auto job = std::make_unique<TFileParam>();
    job->SourcePath = wav;
    job->DestPath = dir.filePath("tone.mp3");
    ReadWaveFileInfo(wav, job->WaveData);
    job->Kind = fkWave;
    TConvRunner runner(config, questions);
    runner.SetJobs({job.get()});
    QEventLoop loop;
    QObject::connect(&runner, &TConvRunner::BatchEnded, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(0, &runner, [&] { runner.Start(); });
    loop.exec();
    const TDecodedPeak peak = MeasureDecodedPeak(job->DestPath, abort);
    ASSERT_TRUE(peak.Checked) << peak.Problem.toStdString();
    EXPECT_NEAR(peak.TruePeak, DecodedTruePeak(job->DestPath), 0.1);
    EXPECT_GT(peak.TruePeak, -7.0);
}

TEST(Loudness, AScaledCopyAtAGivenGainIsThatMuchLouder) {
    QTemporaryDir dir;
    const QString wav = dir.filePath("tone.wav");
    WriteFile(wav, SamplesWav(Sine(3, 1000, Dbfs(-30)), 2));
    std::atomic<bool> abort{false};
    TNormalizeResult r = ScaleByGain(wav, 7.5, dir.path(), abort);
    ASSERT_TRUE(r.Temp) << r.Error.toStdString();
    EXPECT_NEAR(Measure(r.Temp.Path()).Integrated, Measure(wav).Integrated + 7.5, 0.05);
    // Never no copy without a reason: the job would encode the source unscaled.
    for (const QString &name : {QStringLiteral("missing.wav"), QStringLiteral("empty.wav")}) {
        if (name == u"empty.wav")
            WriteFile(dir.filePath(name), SamplesWav({}, 2));
        r = ScaleByGain(dir.filePath(name), 1, dir.path(), abort);
        EXPECT_FALSE(r.Temp) << name.toStdString();
        EXPECT_FALSE(r.Error.isEmpty()) << name.toStdString();
    }
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}
