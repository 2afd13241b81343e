#include "core/conversion/RunnerFixture.h"

#include <map>
#include <set>

#include <sndfile.h>

using namespace runnertest;

TEST_P(ConvRunnerTest, EncodesEveryJobAndSkipsExistingOutputsAsAnswered) {
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        WriteSineWav(path(name), 2, 44100, 0.5, 440);
    WriteFile(path("b.MP3"), "keep me");
    AddJob("a.wav", ".MP3");
    AddJob("b.wav", ".MP3");
    AddJob("c.wav", ".MP3");
    questions.OverwriteAnswers = {mrNo};
    TConvRunner runner(config, questions);
    std::map<int, int> ended;
    QObject::connect(&runner, &TConvRunner::JobEnded,
                     [&](int Index, int State) { ended[Index] = State; });
    Run(runner);

    EXPECT_EQ(ended, (std::map<int, int>{{0, stDone}, {1, stQueued}, {2, stDone}}))
        << "each job tells how it ended";
    EXPECT_EQ(questions.Overwrites, QStringList{path("b.MP3")});
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[1]->State, stQueued) << "skipped";
    EXPECT_EQ(records[2]->State, stDone);
    EXPECT_EQ(runner.StartedCount(), 3) << "skipped jobs count when encoding";
    EXPECT_EQ(runner.ConvertedCount(), 2);
    EXPECT_EQ(ReadFile(path("b.MP3")), "keep me");
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("c.MP3")), 0), 440, 4.4);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, EveryJobReportsItsOwnProgressThroughAllItsPhases) {
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        WriteSineWav(path(name), 2, 44100, 1.5, 440);
    WriteFile(path("b.MP3"), "keep me");
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        AddJob(name, ".MP3");
    config.FNormalizeVolume = true;
    questions.OverwriteAnswers = {mrNo};
    TConvRunner runner(config, questions);
    std::map<int, std::vector<std::pair<int, int>>> reports; // job -> (phase, percent)
    bool backwards = false;
    QObject::connect(&runner, &TConvRunner::JobProgress, [&](int Index, int Phase, int Percent) {
        auto &list = reports[Index];
        backwards |= !list.empty() && (Percent < list.back().second || Phase < list.back().first);
        list.emplace_back(Phase, Percent);
    });
    Run(runner);

    ASSERT_EQ(reports.size(), 2u) << "the skipped job never ran";
    for (int index : {0, 2}) {
        const auto &list = reports[index];
        ASSERT_FALSE(list.empty());
        std::set<int> phases;
        for (const auto &report : list)
            phases.insert(report.first);
        EXPECT_EQ(phases, (std::set<int>{phScanPeak, phNormalize, phEncode, phDone})) << index;
        EXPECT_EQ(list.back(), std::make_pair(int(phDone), 100)) << index;
        // Three phases make up the job: its encoding starts two thirds in.
        const auto encode = std::find_if(list.begin(), list.end(),
                                         [](const auto &R) { return R.first == phEncode; });
        ASSERT_NE(encode, list.end());
        EXPECT_EQ(encode->second, 66) << index;
    }
    EXPECT_FALSE(backwards) << "a job's share done never goes back";
}

TEST_P(ConvRunnerTest, AFailedEncodeLeavesTheEarlierOutputAndReportsTheFile) {
    // Three channels: refused by the encoder once the job has started.
    WriteFile(path("bad.wav"), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
    WriteFile(path("bad.MP3"), "older output");
    WriteSineWav(path("good.wav"), 1, 44100, 0.2, 440);
    AddJob("bad.wav", ".MP3");
    AddJob("good.wav", ".MP3");
    questions.OverwriteAnswers = {mrYes};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(records[1]->State, stDone) << "the batch goes on";
    EXPECT_EQ(
        questions.Messages,
        QStringList{
            QStringLiteral("Source file '%1' can't be open, convert error.").arg(path("bad.wav"))});
    EXPECT_EQ(questions.Notes.size(), 1) << "with the reason";
    EXPECT_EQ(ReadFile(path("bad.MP3")), "older output");
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AHardLinkToTheSourceIsNeverWrittenOver) {
    WriteSineWav(path("a.wav"), 1, 44100, 0.2, 440);
    ASSERT_EQ(::link(QFile::encodeName(path("a.wav")), QFile::encodeName(path("a.MP3"))), 0);
    const QByteArray before = ReadFile(path("a.wav"));
    AddJob("a.wav", ".MP3");
    config.OverwritePrompt = false;
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(ReadFile(path("a.wav")), before);
    EXPECT_EQ(
        questions.Messages,
        QStringList{
            QStringLiteral("Source file '%1' can't be open, convert error.").arg(path("a.wav"))});
}

TEST_P(ConvRunnerTest, NormalisedEncodingUsesAHiddenTemporaryFileAndLeavesTheUsersAlone) {
    WriteSineWav(path("song.wav"), 2, 44100, 1.0, 440, 0, 0.25);
    WriteFile(path("song.tmp"), "the user's own file");
    AddJob("song.wav", ".MP3");
    config.FNormalizeVolume = true;
    config.NormalizeFactor = 98;
    std::vector<int> phases;
    TConvRunner runner(config, questions);
    QObject::connect(&runner, &TConvRunner::PhaseChanged, [&](int P) { phases.push_back(P); });
    Run(runner);
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(ReadFile(path("song.tmp")), "the user's own file");
    EXPECT_EQ(phases, (std::vector<int>{phScanPeak, phNormalize, phEncode, phDone}));
    // A quarter of full scale brought to 98%: four times the level.
    const DecodedAudio out = DecodeMpeg(path("song.MP3"));
    EXPECT_NEAR(Rms(out, 0), 0.98 * 0.7071, 0.05);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, OtherPcmSourcesAreEncodedAndNormalisedAsWavIs) {
    WriteSineSound(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 48000, 1.0, 440, 0.25);
    WriteSineSound(path("b.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, 1.0, 660, 0.25);
    WriteSineSound(path("c.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 22050, 1.0, 880, 0.25);
    for (const char *name : {"a.flac", "b.ogg", "c.aiff"})
        ASSERT_EQ(AddJob(name, ".MP3").Kind, fkAudio) << name;
    config.FNormalizeVolume = true;
    config.NormalizeFactor = 50;
    TConvRunner runner(config, questions);
    Run(runner);
    const std::pair<const char *, double> outputs[] = {
        {"a.MP3", 440}, {"b.MP3", 660}, {"c.MP3", 880}};
    for (const auto &[name, freq] : outputs) {
        const DecodedAudio out = DecodeMpeg(path(name));
        ASSERT_TRUE(out.ok) << name;
        EXPECT_NEAR(DominantFrequency(out, 0), freq, freq / 100) << name;
        // A quarter of full scale brought to half of it; Vorbis rings a little above the
        // tone's peak, which then sets the level.
        EXPECT_NEAR(Rms(out, 0), 0.5 * std::sqrt(0.5), 0.03) << name;
    }
    for (const auto &record : records)
        EXPECT_EQ(record->State, stDone) << record->FileName.toStdString();
    EXPECT_TRUE(questions.Messages.isEmpty()) << questions.Messages.join('\n').toStdString();
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, ASoundFileReplacedAfterItWasListedIsEncodedAsItIsNowOrRefused) {
    WriteSineSound(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, 0.5, 440);
    WriteSineSound(path("b.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 44100, 0.5, 440);
    AddJob("a.flac", ".MP3");
    AddJob("b.flac", ".MP3");
    WriteSineSound(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 22050, 1.0, 440);
    WriteFile(path("b.flac"), "no longer audio");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[0]->SoundData.SampleRate, 22050) << "the job took what it encoded";
    EXPECT_EQ(DecodeMpeg(path("a.MP3")).channels, 2);
    EXPECT_EQ(records[1]->State, stError);
    EXPECT_FALSE(QFile::exists(path("b.MP3")));
    ASSERT_EQ(questions.Messages.size(), 1);
}

TEST_P(ConvRunnerTest, SilenceIsNotNormalisedIntoNoise) {
    WriteFile(path("quiet.wav"), SamplesWav(std::vector<int16_t>(44100, -2)));
    AddJob("quiet.wav", ".MP3");
    config.FNormalizeVolume = true;
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_TRUE(questions.Errors.isEmpty());
    EXPECT_LT(Rms(DecodeMpeg(path("quiet.MP3")), 0), 0.001);
}

TEST_P(ConvRunnerTest, AbortAnsweredYesDeletesOnlyWhatTheBatchWrote) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.3, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 30, 440);
    WriteFile(path("b.MP3"), "older output");
    AddJob("a.wav", ".MP3");
    AddJob("b.wav", ".MP3");
    questions.OverwriteAnswers = {mrYes};
    TConvRunner runner(config, questions);
    questions.OnProgress = [&] {
        if (runner.FileIndex() == 1 && !runner.Aborted()) {
            runner.Abort();
            runner.AnswerAbort(true);
        }
    };
    Run(runner);
    EXPECT_TRUE(runner.Aborted());
    EXPECT_EQ(records[0]->State, stQueued);
    EXPECT_EQ(records[1]->State, stQueued);
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
    EXPECT_EQ(ReadFile(path("b.MP3")), "older output") << "the interrupted job never replaced it";
    EXPECT_EQ(runner.ConvertedCount(), 1);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AbortAnsweredNoKeepsThePartialOutputUnderItsName) {
    WriteSineWav(path("long.wav"), 2, 44100, 30, 440);
    AddJob("long.wav", ".MP3");
    TConvRunner runner(config, questions);
    AbortAtFirstProgress(runner, false);
    Run(runner);
    EXPECT_EQ(records[0]->State, stAborted);
    EXPECT_EQ(runner.ConvertedCount(), 0);
    ASSERT_TRUE(QFile::exists(path("long.MP3")));
    EXPECT_LT(QFileInfo(path("long.MP3")).size(), 30 * 128000 / 8 / 2);
}

TEST_P(ConvRunnerTest, RefusedSettingsFailTheJobAndCancelEndsTheBatch) {
    // Raw PCM listed without its sample rate: the encoder refuses a rate of 0.
    WriteSinePcm(path("odd.pcm"), 2, 44100, 0.3, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 0.3, 440);
    AddJob("odd.pcm", ".MP3").WaveData.Header.SampleRate = 0;
    AddJob("b.wav", ".MP3");
    questions.RefusalGoesOn = false;
    TConvRunner runner(config, questions);
    bool closeAsked = false;
    QObject::connect(&runner, &TConvRunner::CloseRequested, [&] {
        closeAsked = true;
        runner.AnswerAbort(false);
    });
    Run(runner);
    EXPECT_EQ(questions.Refusals, QStringList{path("odd.pcm")});
    EXPECT_TRUE(closeAsked);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(records[1]->State, stQueued);
    EXPECT_FALSE(QFile::exists(path("odd.MP3")));
}

TEST_P(ConvRunnerTest, AnOutputThatCannotBeCreatedFailsTheJobAtOnce) {
    WriteSineWav(path("a.wav"), 1, 44100, 0.2, 440);
    WriteSineWav(path("b.wav"), 1, 44100, 0.2, 440);
    AddJob("a.wav", ".MP3").DestPath = path("gone/a.MP3");
    AddJob("b.wav", ".MP3");
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(records[1]->State, stDone);
    ASSERT_EQ(questions.Notes.size(), 1);
    EXPECT_TRUE(questions.Notes[0].contains(path("gone/a.MP3")))
        << questions.Notes[0].toStdString();
}

TEST_P(ConvRunnerTest, DecodesToWavAndNormalisesTheResult) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440, 0, 0.25);
    AddJob("a.wav", ".MP3");
    TConvRunner encoder(config, questions);
    Run(encoder);
    ASSERT_EQ(records[0]->State, stDone);
    records.clear();

    WriteFile(path("a.WAV"), "older output");
    AddJob("a.MP3", ".WAV");
    WriteFile(path("noise.mp3"), QByteArray(20000, '\x5a'));
    AddJob("noise.mp3", ".WAV");
    config.ConvertType = 1;
    config.FNormalizeVolume = true;
    config.NormalizeFactor = 50;
    questions.OverwriteAnswers = {mrYesToAll};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_TRUE(runner.Finished());
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[1]->State, stError);
    EXPECT_EQ(questions.Messages, QStringList{"Conversion Error: " + path("noise.mp3")});
    EXPECT_FALSE(QFile::exists(path("noise.WAV")));
    EXPECT_EQ(runner.StartedCount(), 2);
    EXPECT_EQ(runner.ConvertedCount(), 1);
    const std::vector<int16_t> samples = WavSamples(path("a.WAV"));
    ASSERT_FALSE(samples.empty());
    const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    EXPECT_NEAR(std::max(-int(*low), int(*high)), 16384, 2) << "the larger half at the target";
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AFailedDecodeKeepsTheEarlierWav) {
    WriteFile(path("noise.mp3"), QByteArray(20000, '\x5a'));
    WriteFile(path("noise.WAV"), "a good older file");
    AddJob("noise.mp3", ".WAV");
    config.ConvertType = 1;
    questions.OverwriteAnswers = {mrYes};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(ReadFile(path("noise.WAV")), "a good older file");
}

TEST_P(ConvRunnerTest, DecodeAbortAnsweredYesRemovesDoneOutputs) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.3, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 20, 440);
    AddJob("a.wav", ".MP3");
    AddJob("b.wav", ".MP3");
    EncodeAndForget();

    AddJob("a.MP3", ".WAV");
    AddJob("b.MP3", ".WAV");
    config.ConvertType = 1;
    TConvRunner runner(config, questions);
    bool aborted = false;
    QObject::connect(&runner, &TConvRunner::ProgressChanged, [&](int Percent) {
        if (runner.LastStarted() == 1 && Percent > 0 && !aborted) {
            aborted = true;
            runner.Abort();
            runner.AnswerAbort(true);
        }
    });
    Run(runner);
    ASSERT_TRUE(aborted);
    EXPECT_EQ(records[0]->State, stQueued);
    EXPECT_EQ(records[1]->State, stQueued);
    EXPECT_FALSE(QFile::exists(path("a.WAV")));
    EXPECT_FALSE(QFile::exists(path("b.WAV")));
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AFullDiskFailsTheJobAndLeavesSourcesAndEarlierOutputs) {
    WriteSineWav(path("big.wav"), 2, 44100, 20, 440);
    WriteFile(path("big.MP3"), "older output");
    WriteSineWav(path("small.wav"), 1, 8000, 0.2, 440);
    AddJob("big.wav", ".MP3");
    AddJob("small.wav", ".MP3");
    const QByteArray source = ReadFile(path("big.wav"));
    questions.OverwriteAnswers = {mrYes};
    TConvRunner runner(config, questions);
    {
        FileSizeLimit limit(64 * 1024);
        Run(runner);
    }
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(records[1]->State, stDone);
    EXPECT_EQ(ReadFile(path("big.MP3")), "older output");
    EXPECT_EQ(ReadFile(path("big.wav")), source);
    ASSERT_EQ(questions.Notes.size(), 1);
    EXPECT_TRUE(questions.Notes[0].contains("rror")) << questions.Notes[0].toStdString();
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AFullDiskDuringDecodingKeepsTheEarlierWav) {
    WriteSineWav(path("a.wav"), 2, 44100, 10, 440);
    AddJob("a.wav", ".MP3");
    EncodeAndForget();
    WriteFile(path("a.WAV"), "older output");
    AddJob("a.MP3", ".WAV");
    config.ConvertType = 1;
    questions.OverwriteAnswers = {mrYes};
    TConvRunner runner(config, questions);
    {
        FileSizeLimit limit(256 * 1024);
        Run(runner);
    }
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(ReadFile(path("a.WAV")), "older output");
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AbortDuringThePeakScanStopsBeforeEncoding) {
    WriteSineWav(path("long.wav"), 2, 44100, 60, 440, 0, 0.25);
    AddJob("long.wav", ".MP3");
    config.FNormalizeVolume = true;
    TConvRunner runner(config, questions);
    std::vector<int> phases;
    QObject::connect(&runner, &TConvRunner::PhaseChanged, [&](int P) { phases.push_back(P); });
    questions.OnProgress = [&] {
        if (runner.Aborted() || phases.empty() || phases.back() != phScanPeak)
            return;
        runner.Abort();
        runner.AnswerAbort(false);
    };
    Run(runner);
    ASSERT_TRUE(runner.Aborted());
    EXPECT_EQ(records[0]->State, stAborted);
    EXPECT_EQ(std::count(phases.begin(), phases.end(), phEncode), 0) << "nothing encoded";
    EXPECT_FALSE(QFile::exists(path("long.MP3")));
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, AKeptFolderStructureIsMadeAsEachJobStarts) {
    ASSERT_TRUE(QDir().mkpath(path("in/Album A")) && QDir().mkpath(path("in/Album B/CD 2")) &&
                QDir().mkpath(path("in/Album C")) && QDir().mkpath(path("out")));
    WriteSineWav(path("in/Album A/01 Song.wav"), 1, 44100, 0.3, 440, 0, 0.25);
    WriteSineWav(path("in/Album B/CD 2/01 Song.wav"), 1, 44100, 0.3, 660, 0, 0.25);
    WriteSineWav(path("in/Album C/01 Song.wav"), 1, 44100, 0.3, 880, 0, 0.25);
    // Where Album C's folder must go, a file of the user's is in the way.
    WriteFile(path("out/Album C"), "the user's own file");
    for (const char *source :
         {"in/Album A/01 Song.wav", "in/Album B/CD 2/01 Song.wav", "in/Album C/01 Song.wav"}) {
        TFileParam &job = AddJob(source, ".MP3");
        job.FileName = "01 Song.wav";
        job.BaseFolder = path("in");
        job.DestPath = ConversionDestPath(job, true, path("out"), ".MP3", true);
        job.DestRoot = path("out");
    }
    // The scaled copy is made beside the output: the folder must be there before it.
    config.FNormalizeVolume = true;
    config.NormalizeFactor = 90;
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[1]->State, stDone);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/Album A/01 Song.MP3")), 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/Album B/CD 2/01 Song.MP3")), 0), 660, 6.6);
    EXPECT_EQ(records[2]->State, stError);
    EXPECT_EQ(questions.Messages,
              QStringList{QStringLiteral("Source file '%1' can't be open, convert error.")
                              .arg(path("in/Album C/01 Song.wav"))});
    ASSERT_EQ(questions.Notes.size(), 1);
    EXPECT_TRUE(questions.Notes[0].contains(
        QStringLiteral("Cannot create folder \"%1\"").arg(path("out/Album C"))))
        << questions.Notes[0].toStdString();
    EXPECT_EQ(ReadFile(path("out/Album C")), "the user's own file");
    EXPECT_EQ(HiddenFiles(path("out/Album A")), 0);
}

TEST_P(ConvRunnerTest, ADecodeIntoAVanishedOutputFolderFailsAndMakesNothing) {
    ASSERT_TRUE(QDir().mkpath(path("in/Album")));
    WriteSineWav(path("in/Album/a.wav"), 1, 44100, 0.3, 440);
    AddJob("in/Album/a.wav", ".MP3");
    EncodeAndForget();
    TFileParam &job = AddJob("in/Album/a.MP3", ".WAV");
    job.FileName = "a.MP3";
    job.BaseFolder = path("in");
    job.DestPath = ConversionDestPath(job, true, path("card/Music"), ".WAV", true);
    job.DestRoot = path("card/Music");
    config.ConvertType = 1;
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(questions.Messages, QStringList{"Conversion Error: " + path("in/Album/a.MP3")});
    ASSERT_EQ(questions.Notes.size(), 1);
    EXPECT_TRUE(questions.Notes[0].contains("does not exist")) << questions.Notes[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("card")));
}

INSTANTIATE_TEST_SUITE_P(Jobs, ConvRunnerTest, ::testing::Values(1, 3),
                         [](const auto &Info) { return "AtOnce" + std::to_string(Info.param); });

// --- Several files at once ------------------------------------------------------------------

namespace {

class ParallelRunnerTest : public ConvRunnerTest {
protected:
    // Runs the batch of records with Jobs at once, outputs into Folder; returns the states.
    std::vector<int> RunInto(const QString &Folder, int Jobs) {
        QDir(dir.path()).mkpath(Folder);
        for (auto &job : records)
            job->DestPath = path(Folder + (Unwritable.count(job.get()) ? "/missing/" : "/") +
                                 QFileInfo(job->DestPath).fileName());
        for (auto &job : records)
            job->State = stQueued;
        config.ConvertJobs = Jobs;
        questions.Messages.clear();
        questions.Notes.clear();
        TConvRunner runner(config, questions);
        Run(runner);
        std::vector<int> states;
        for (auto &job : records)
            states.push_back(job->State);
        return states;
    }

    // Jobs whose output folder does not exist.
    std::set<TFileParam *> Unwritable;

    int Partials() const { return HiddenFiles(dir.path()); }
};

} // namespace

TEST_P(ParallelRunnerTest, SeveralAtOnceGiveTheOutputsStatesAndErrorListOfOneAfterTheOther) {
    // Lengths that finish out of list order, a file the encoder refuses in the middle, and
    // normalisation on, so that every phase overlaps with other jobs.
    const double seconds[] = {20, 0.5, 3, 0.2, 4, 1};
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("%1.wav").arg(i);
        if (i == 1)
            WriteFile(path(name), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
        else
            WriteSineWav(path(name), 2, 44100, seconds[i], 300 + 100 * i, 0, 0.3);
        AddJob(name, ".MP3");
    }
    // The first file fails only once its long peak scan and normalisation are done, after
    // the refused one: the error list still reads in list order.
    Unwritable.insert(records[0].get());
    config.FNormalizeVolume = true;
    config.NormalizeFactor = 90;
    const std::vector<int> serial = RunInto("one", 1);
    const QStringList serialMessages = questions.Messages, serialNotes = questions.Notes;
    const std::vector<int> parallel = RunInto("many", GetParam());

    EXPECT_EQ(parallel, serial);
    EXPECT_EQ(serial[0], stError);
    EXPECT_EQ(serial[1], stError);
    // File after file the first job's failed normalisation was a box; with several at once
    // it heads the error list, which still reads in list order.
    ASSERT_EQ(questions.Errors.size(), 1);
    EXPECT_TRUE(questions.Errors[0].startsWith("Normalize wave file fail.\n" + path("0.wav")))
        << questions.Errors[0].toStdString();
    EXPECT_EQ(questions.Messages, QStringList{"Normalize wave file fail."} + serialMessages);
    EXPECT_EQ(questions.Notes.size(), serialNotes.size() + 1);
    for (int i = 0; i < 6; ++i) {
        if (i == 0 || i == 1)
            continue;
        const QString name = QStringLiteral("/%1.MP3").arg(i);
        const QByteArray one = ReadFile(path("one") + name);
        EXPECT_FALSE(one.isEmpty());
        EXPECT_TRUE(one == ReadFile(path("many") + name)) << name.toStdString();
    }
    EXPECT_EQ(Partials(), 0);
}

TEST_P(ParallelRunnerTest, DecodingSeveralAtOnceGivesTheSameWavFilesAndErrorList) {
    for (int i = 0; i < 4; ++i) {
        WriteSineWav(path(QStringLiteral("%1.wav").arg(i)), 2, 44100, 4 - i, 400 + 50 * i);
        AddJob(QStringLiteral("%1.wav").arg(i), ".MP3");
    }
    Run(*std::make_unique<TConvRunner>(config, questions));
    records.clear();
    for (int i = 0; i < 4; ++i) {
        if (i == 1) {
            WriteFile(path("noise.mp3"), QByteArray(20000, '\x5a'));
            AddJob("noise.mp3", ".WAV");
        }
        AddJob(QStringLiteral("%1.MP3").arg(i), ".WAV");
    }
    config.ConvertType = 1;
    const std::vector<int> serial = RunInto("one", 1);
    const QStringList serialMessages = questions.Messages;
    const std::vector<int> parallel = RunInto("many", GetParam());
    EXPECT_EQ(parallel, serial);
    EXPECT_EQ(serial[1], stError);
    EXPECT_EQ(questions.Messages, serialMessages);
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("/%1.WAV").arg(i);
        EXPECT_TRUE(ReadFile(path("one") + name) == ReadFile(path("many") + name))
            << name.toStdString();
    }
    EXPECT_EQ(Partials(), 0);
}

TEST_P(ParallelRunnerTest, AbortStopsEveryRunningJobAndTheAnswerCoversThemAll) {
    for (const bool deleteConverted : {false, true}) {
        records.clear();
        for (int i = 0; i < 5; ++i) {
            const QString name = QStringLiteral("%1.wav").arg(i);
            WriteSineWav(path(name), 2, 44100, i == 0 ? 0.2 : 30, 440);
            AddJob(name, ".MP3");
        }
        config.ConvertJobs = GetParam();
        TConvRunner runner(config, questions);
        int runningAtAbort = 0;
        QObject::connect(&runner, &TConvRunner::ProgressChanged, [&](int) {
            const auto running = runner.RunningJobs();
            const bool started = std::all_of(running.begin(), running.end(),
                                             [](const auto &J) { return J.Percent > 0; });
            if (runner.Aborted() || running.size() < GetParam() || !started)
                return;
            runningAtAbort = int(running.size());
            runner.Abort();
            runner.AnswerAbort(deleteConverted);
        });
        Run(runner);
        ASSERT_EQ(runningAtAbort, GetParam());
        EXPECT_FALSE(runner.Busy());
        int aborted = 0;
        for (auto &job : records) {
            if (job->State == stAborted) {
                ++aborted;
                EXPECT_GT(QFileInfo(job->DestPath).size(), 0) << "kept under its own name";
            } else if (job->State == stQueued) {
                EXPECT_TRUE(deleteConverted || job.get() != records[0].get());
            }
        }
        EXPECT_EQ(aborted, deleteConverted ? 0 : GetParam());
        if (deleteConverted) {
            for (auto &job : records)
                EXPECT_FALSE(QFile::exists(job->DestPath)) << job->DestPath.toStdString();
        }
        EXPECT_EQ(records.back()->State, stQueued) << "never taken up";
        EXPECT_EQ(Partials(), 0);
        for (auto &job : records)
            QFile::remove(job->DestPath);
    }
}

TEST_P(ParallelRunnerTest, CancelAtAnOverwriteQuestionLetsTheRunningJobsFinish) {
    WriteSineWav(path("a.wav"), 2, 44100, 5, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 5, 440);
    WriteSineWav(path("c.wav"), 2, 44100, 0.2, 440);
    WriteSineWav(path("d.wav"), 2, 44100, 0.2, 440);
    WriteFile(path("c.MP3"), "keep me");
    AddJob("a.wav", ".MP3");
    AddJob("b.wav", ".MP3");
    AddJob("c.wav", ".MP3");
    AddJob("d.wav", ".MP3");
    config.ConvertJobs = 2;
    questions.Modal = true;
    questions.OverwriteAnswers = {mrCancel};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_FALSE(runner.Busy());
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[1]->State, stDone);
    EXPECT_EQ(records[2]->State, stQueued);
    EXPECT_EQ(records[3]->State, stQueued) << "nothing after the cancelled question";
    EXPECT_EQ(ReadFile(path("c.MP3")), "keep me");
    EXPECT_FALSE(QFile::exists(path("d.MP3")));
    EXPECT_EQ(Partials(), 0);
}

TEST_P(ParallelRunnerTest, QuestionsComeOneAtATimeInListOrder) {
    QStringList expected;
    for (int i = 0; i < 6; ++i) {
        // Job 3 is raw PCM listed without its sample rate, which the encoder refuses.
        const QString name = QString::fromLatin1(i == 3 ? "%1.pcm" : "%1.wav").arg(i);
        if (i == 3)
            WriteSinePcm(path(name), 1, 44100, 0.3 + 0.4 * (i % 3), 440);
        else
            WriteSineWav(path(name), 1, 44100, 0.3 + 0.4 * (i % 3), 440);
        AddJob(name, ".MP3");
        if (i == 3)
            records.back()->WaveData.Header.SampleRate = 0;
        if (i % 2 == 0) {
            WriteFile(records.back()->DestPath, "older");
            expected << records.back()->DestPath;
        }
    }
    // The refusal box of job 3 too waits for the open question.
    questions.Modal = true;
    questions.OverwriteAnswers = {mrYes, mrNo, mrYes};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(questions.Overwrites, expected);
    EXPECT_EQ(questions.MaxDepth, 1) << "never a question on top of another";
    EXPECT_EQ(questions.Refusals, QStringList{path("3.pcm")});
    EXPECT_EQ(records[2]->State, stQueued);
    EXPECT_EQ(records[3]->State, stError);
    EXPECT_EQ(runner.ConvertedCount(), 4);
}

INSTANTIATE_TEST_SUITE_P(Jobs, ParallelRunnerTest, ::testing::Values(3),
                         [](const auto &Info) { return "AtOnce" + std::to_string(Info.param); });
