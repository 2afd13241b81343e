#include "conversion/ConvRunner.h"
#include "conversion/Normalize.h"
#include "inspect/MP3WavComm.h"
#include "platform/UserDialogs.h"
#include "settings/Config.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

using namespace testmedia;

namespace {

// Answers the runner's questions from queues and records what it was told.
class Questions : public IConvQuestions {
public:
    std::deque<int> OverwriteAnswers;
    bool RefusalGoesOn = true;
    QStringList Overwrites, Refusals, Errors, Messages, Notes, Warnings;
    // Called at every progress report above 0, to act in the middle of a job.
    std::function<void()> OnProgress;

    // Questions shown as a modal window would be: their own event loop runs meanwhile.
    bool Modal = false;
    int Depth = 0, MaxDepth = 0;

    void Showing() {
        MaxDepth = std::max(MaxDepth, ++Depth);
        if (Modal) {
            QEventLoop loop;
            QTimer::singleShot(30, &loop, &QEventLoop::quit);
            loop.exec();
        }
        --Depth;
    }

    int ConfirmOverwrite(const QString &Dest) override {
        Overwrites << Dest;
        Showing();
        if (OverwriteAnswers.empty())
            return mrCancel;
        const int answer = OverwriteAnswers.front();
        OverwriteAnswers.pop_front();
        return answer;
    }
    bool ConfirmRefusal(const QString &Source) override {
        Refusals << Source;
        Showing();
        return RefusalGoesOn;
    }
    void ShowError(const QString &Text) override {
        Errors << Text;
        Showing();
    }
    void AddMessage(const QString &Text) override { Messages << Text; }
    void AddNote(const QString &Text) override { Notes << Text; }
    void ClearMessages() override { Messages.clear(); }
    void Warn(const QString &Source, const QString &Why) override {
        Warnings << Source + ": " + Why;
    }
};

std::vector<int16_t> WavSamples(const QString &Path) {
    TWaveFileInfo info;
    if (!ReadWaveFileInfo(Path, info))
        return {};
    const QByteArray bytes = ReadFile(Path).mid(int(info.DataOffset), int(info.DataLength));
    std::vector<int16_t> samples(size_t(bytes.size() / 2));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

QByteArray SamplesWav(const std::vector<int16_t> &Samples, int Channels = 1) {
    QByteArray data(reinterpret_cast<const char *>(Samples.data()), int(Samples.size() * 2));
    return WavHeader(Channels, 44100, 16, quint32(data.size())) + data;
}

// Every batch test runs file after file and with several files at once: the results must
// be the same.
class ConvRunnerTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        config.OverwritePrompt = true;
        config.FNormalizeVolume = false;
        config.DeleteOriginalFile = false;
        config.ConvertJobs = GetParam();
    }

    QString path(const QString &Name) const { return dir.filePath(Name); }

    // A job for Source with its output in the same folder.
    TFileParam &AddJob(const QString &Source, const QString &Ext) {
        auto job = std::make_unique<TFileParam>();
        job->SourcePath = path(Source);
        job->FileName = Source;
        job->DestPath =
            QFileInfo(job->SourcePath).path() + '/' + QFileInfo(Source).completeBaseName() + Ext;
        if (Ext == QLatin1String(".MP3")) {
            ReadWaveFileInfo(job->SourcePath, job->WaveData);
            job->Kind = fkWave;
        } else {
            job->Kind = fkMpeg;
        }
        records.push_back(std::move(job));
        return *records.back();
    }

    // Runs the batch to its end (or until the runner is idle after an abort).
    void Run(TConvRunner &Runner) {
        Runner.Jobs.clear();
        for (auto &job : records)
            Runner.Jobs << job.get();
        QEventLoop loop;
        QObject::connect(&Runner, &TConvRunner::BatchEnded, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        QObject::connect(&Runner, &TConvRunner::Idle, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        QObject::connect(&Runner, &TConvRunner::ProgressChanged, [&](int Percent) {
            if (Percent > 0 && questions.OnProgress)
                questions.OnProgress();
        });
        QTimer::singleShot(60000, &loop, [&] {
            ADD_FAILURE() << "the batch did not end";
            loop.quit();
        });
        QTimer::singleShot(0, &Runner, [&] { Runner.Start(); });
        loop.exec();
    }

    QTemporaryDir dir;
    TConfig config;
    Questions questions;
    std::vector<std::unique_ptr<TFileParam>> records;
};

} // namespace

TEST(Normalize, LevelAndFactorFollowThePeak) {
    EXPECT_DOUBLE_EQ(PeakLevel(32767), 100.0);
    EXPECT_DOUBLE_EQ(PeakLevel(16384), 50.0);
    EXPECT_NEAR(98 / PeakLevel(16384), 1.96, 1e-12);
    EXPECT_EQ(PeakLevel(1), 0.0);
    EXPECT_LT(PeakLevel(0), 0.0) << "no positive sample: nothing to scale";
}

TEST(Normalize, ScanFindsTheLargestPositiveSampleAndScalingRoundsAndClamps) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a.wav");
    // Negative samples never raise the peak; the tail chunk after the data is copied.
    WriteFile(file, SamplesWav({-32768, 30000, 5, -3, 1, 2}) + QByteArray("LIST\4\0\0\0abcd", 12));
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(file, info));
    ASSERT_EQ(info.DataLength, 12);
    std::atomic<bool> abort{false};
    double peak = 0;
    std::vector<int> progress;
    ASSERT_TRUE(ScanPeak(file, info, peak, abort, [&](int p) { progress.push_back(p); }));
    EXPECT_EQ(peak, 30000);
    EXPECT_EQ(progress.back(), 100);

    TPartialFile temp;
    ASSERT_TRUE(NormalizeWave(file, info, 1.5, dir.path(), temp, abort));
    EXPECT_EQ(QFileInfo(temp.Path()).path(), dir.path());
    EXPECT_TRUE(QFileInfo(temp.Path()).fileName().startsWith(".brindle-"));
    const QByteArray out = ReadFile(temp.Path());
    EXPECT_EQ(out.left(44), ReadFile(file).left(44));
    EXPECT_EQ(out.right(12), QByteArray("LIST\4\0\0\0abcd", 12));
    std::vector<int16_t> samples(6);
    std::memcpy(samples.data(), out.constData() + 44, 12);
    // -49152 and 45000 clamp; 7.5 -> 8, -4.5 -> -4, 1.5 -> 2, 3 (ties to even).
    EXPECT_EQ(samples, (std::vector<int16_t>{-32768, 32767, 8, -4, 2, 3}));
}

TEST(Normalize, AFileWithoutDataFailsTheScan) {
    QTemporaryDir dir;
    const QString file = dir.filePath("empty.wav");
    WriteFile(file, WavHeader(2, 44100, 16, 0));
    TWaveFileInfo info;
    ReadWaveFileInfo(file, info);
    std::atomic<bool> abort{false};
    double peak = 1;
    EXPECT_FALSE(ScanPeak(file, info, peak, abort));
}

TEST(Normalize, WiderFormatsAreScaledAtTheirOwnPrecision) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a24.wav");
    // Two 24-bit samples: 0x400000 (half scale) and -0x100001.
    const QByteArray data("\x00\x00\x40\xff\xff\xef", 6);
    WriteFile(file, WavHeader(1, 44100, 24, 6) + data);
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(file, info));
    std::atomic<bool> abort{false};
    double peak = 0;
    ASSERT_TRUE(ScanPeak(file, info, peak, abort));
    EXPECT_DOUBLE_EQ(peak, 16384.0);
    TPartialFile temp;
    ASSERT_TRUE(NormalizeWave(file, info, 1.5, dir.path(), temp, abort));
    // 0x600000 and -0x180001.5 -> -0x180002 (ties to even).
    EXPECT_EQ(ReadFile(temp.Path()).mid(44), QByteArray("\x00\x00\x60\xfe\xff\xe7", 6));
}

TEST_P(ConvRunnerTest, EncodesEveryJobAndSkipsExistingOutputsAsAnswered) {
    for (const char *name : {"a.wav", "b.wav", "c.wav"})
        WriteSineWav(path(name), 2, 44100, 0.5, 440);
    WriteFile(path("b.MP3"), "keep me");
    AddJob("a.wav", ".MP3");
    AddJob("b.wav", ".MP3");
    AddJob("c.wav", ".MP3");
    questions.OverwriteAnswers = {mrNo};
    TConvRunner runner(config, questions);
    Run(runner);

    EXPECT_EQ(questions.Overwrites, QStringList{path("b.MP3")});
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[1]->State, stQueued) << "skipped";
    EXPECT_EQ(records[2]->State, stDone);
    EXPECT_EQ(runner.StartedCount, 3) << "skipped jobs count when encoding";
    EXPECT_EQ(runner.ConvertedCount, 2);
    EXPECT_EQ(ReadFile(path("b.MP3")), "keep me");
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("c.MP3")), 0), 440, 4.4);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
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
        if (runner.FileIndex == 1 && !runner.Aborted) {
            runner.Abort();
            runner.AnswerAbort(true);
        }
    };
    Run(runner);
    EXPECT_TRUE(runner.Aborted);
    EXPECT_EQ(records[0]->State, stQueued);
    EXPECT_EQ(records[1]->State, stQueued);
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
    EXPECT_EQ(ReadFile(path("b.MP3")), "older output") << "the interrupted job never replaced it";
    EXPECT_EQ(runner.ConvertedCount, 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
}

TEST_P(ConvRunnerTest, AbortAnsweredNoKeepsThePartialOutputUnderItsName) {
    WriteSineWav(path("long.wav"), 2, 44100, 30, 440);
    AddJob("long.wav", ".MP3");
    TConvRunner runner(config, questions);
    questions.OnProgress = [&] {
        if (runner.Aborted)
            return;
        runner.Abort();
        runner.AnswerAbort(false);
    };
    Run(runner);
    EXPECT_EQ(records[0]->State, stAborted);
    EXPECT_EQ(runner.ConvertedCount, 0);
    ASSERT_TRUE(QFile::exists(path("long.MP3")));
    EXPECT_LT(QFileInfo(path("long.MP3")).size(), 30 * 128000 / 8 / 2);
}

TEST_P(ConvRunnerTest, RefusedSettingsFailTheJobAndCancelEndsTheBatch) {
    WriteSineWav(path("odd.wav"), 2, 44100, 0.3, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 0.3, 440);
    AddJob("odd.wav", ".MP3").WaveData.Header.SampleRate = 0; // a rate the encoder refuses
    AddJob("b.wav", ".MP3");
    questions.RefusalGoesOn = false;
    TConvRunner runner(config, questions);
    bool closeAsked = false;
    QObject::connect(&runner, &TConvRunner::CloseRequested, [&] {
        closeAsked = true;
        runner.AnswerAbort(false);
    });
    Run(runner);
    EXPECT_EQ(questions.Refusals, QStringList{path("odd.wav")});
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
    EXPECT_TRUE(runner.Finished);
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_EQ(records[1]->State, stError);
    EXPECT_EQ(questions.Messages, QStringList{"Conversion Error: " + path("noise.mp3")});
    EXPECT_FALSE(QFile::exists(path("noise.WAV")));
    EXPECT_EQ(runner.StartedCount, 2);
    EXPECT_EQ(runner.ConvertedCount, 1);
    const std::vector<int16_t> samples = WavSamples(path("a.WAV"));
    ASSERT_FALSE(samples.empty());
    EXPECT_NEAR(*std::max_element(samples.begin(), samples.end()), 16384, 2);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
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
    TConvRunner encoder(config, questions);
    Run(encoder);
    records.clear();

    AddJob("a.MP3", ".WAV");
    AddJob("b.MP3", ".WAV");
    config.ConvertType = 1;
    TConvRunner runner(config, questions);
    bool aborted = false;
    QObject::connect(&runner, &TConvRunner::ProgressChanged, [&](int Percent) {
        if (runner.LastStarted == 1 && Percent > 0 && !aborted) {
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
}

namespace {

// A file-size limit for the process with SIGXFSZ ignored: writes past it fail with EFBIG,
// as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t Bytes) {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = Bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};

} // namespace

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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
}

TEST_P(ConvRunnerTest, AFullDiskDuringDecodingKeepsTheEarlierWav) {
    WriteSineWav(path("a.wav"), 2, 44100, 10, 440);
    AddJob("a.wav", ".MP3");
    TConvRunner encoder(config, questions);
    Run(encoder);
    records.clear();
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
}

TEST_P(ConvRunnerTest, AbortDuringThePeakScanStopsBeforeEncoding) {
    WriteSineWav(path("long.wav"), 2, 44100, 60, 440, 0, 0.25);
    AddJob("long.wav", ".MP3");
    config.FNormalizeVolume = true;
    TConvRunner runner(config, questions);
    std::vector<int> phases;
    QObject::connect(&runner, &TConvRunner::PhaseChanged, [&](int P) { phases.push_back(P); });
    questions.OnProgress = [&] {
        if (runner.Aborted || phases.empty() || phases.back() != phScanPeak)
            return;
        runner.Abort();
        runner.AnswerAbort(false);
    };
    Run(runner);
    ASSERT_TRUE(runner.Aborted);
    EXPECT_EQ(records[0]->State, stAborted);
    EXPECT_EQ(std::count(phases.begin(), phases.end(), phEncode), 0) << "nothing encoded";
    EXPECT_FALSE(QFile::exists(path("long.MP3")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
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

    int Partials() const {
        return int(
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size());
    }
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
    EXPECT_EQ(questions.Messages, serialMessages);
    EXPECT_EQ(questions.Notes.size(), serialNotes.size());
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
            if (runner.Aborted || running.size() < GetParam() || !started)
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
        const QString name = QStringLiteral("%1.wav").arg(i);
        WriteSineWav(path(name), 1, 44100, 0.3 + 0.4 * (i % 3), 440);
        AddJob(name, ".MP3");
        if (i % 2 == 0) {
            WriteFile(records.back()->DestPath, "older");
            expected << records.back()->DestPath;
        }
    }
    // A rate the encoder refuses: its box too waits for the open question.
    records[3]->WaveData.Header.SampleRate = 0;
    questions.Modal = true;
    questions.OverwriteAnswers = {mrYes, mrNo, mrYes};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(questions.Overwrites, expected);
    EXPECT_EQ(questions.MaxDepth, 1) << "never a question on top of another";
    EXPECT_EQ(questions.Refusals, QStringList{path("3.wav")});
    EXPECT_EQ(records[2]->State, stQueued);
    EXPECT_EQ(records[3]->State, stError);
    EXPECT_EQ(runner.ConvertedCount, 4);
}

INSTANTIATE_TEST_SUITE_P(Jobs, ParallelRunnerTest, ::testing::Values(3),
                         [](const auto &Info) { return "AtOnce" + std::to_string(Info.param); });
