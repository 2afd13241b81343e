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

    int ConfirmOverwrite(const QString &Dest) override {
        Overwrites << Dest;
        if (OverwriteAnswers.empty())
            return mrCancel;
        const int answer = OverwriteAnswers.front();
        OverwriteAnswers.pop_front();
        return answer;
    }
    bool ConfirmRefusal(const QString &Source) override {
        Refusals << Source;
        return RefusalGoesOn;
    }
    void ShowError(const QString &Text) override { Errors << Text; }
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

class ConvRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        config.OverwritePrompt = true;
        config.FNormalizeVolume = false;
        config.DeleteOriginalFile = false;
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

    QString temp;
    ASSERT_TRUE(NormalizeWave(file, info, 1.5, dir.path(), temp, abort));
    EXPECT_EQ(QFileInfo(temp).path(), dir.path());
    EXPECT_TRUE(QFileInfo(temp).fileName().startsWith(".brindle-"));
    const QByteArray out = ReadFile(temp);
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
    QString temp;
    ASSERT_TRUE(NormalizeWave(file, info, 1.5, dir.path(), temp, abort));
    // 0x600000 and -0x180001.5 -> -0x180002 (ties to even).
    EXPECT_EQ(ReadFile(temp).mid(44), QByteArray("\x00\x00\x60\xfe\xff\xe7", 6));
}

TEST_F(ConvRunnerTest, EncodesEveryJobAndSkipsExistingOutputsAsAnswered) {
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

TEST_F(ConvRunnerTest, AFailedEncodeLeavesTheEarlierOutputAndReportsTheFile) {
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

TEST_F(ConvRunnerTest, AHardLinkToTheSourceIsNeverWrittenOver) {
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

TEST_F(ConvRunnerTest, NormalisedEncodingUsesAHiddenTemporaryFileAndLeavesTheUsersAlone) {
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

TEST_F(ConvRunnerTest, SilenceIsNotNormalisedIntoNoise) {
    WriteFile(path("quiet.wav"), SamplesWav(std::vector<int16_t>(44100, -2)));
    AddJob("quiet.wav", ".MP3");
    config.FNormalizeVolume = true;
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stDone);
    EXPECT_TRUE(questions.Errors.isEmpty());
    EXPECT_LT(Rms(DecodeMpeg(path("quiet.MP3")), 0), 0.001);
}

TEST_F(ConvRunnerTest, AbortAnsweredYesDeletesOnlyWhatTheBatchWrote) {
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

TEST_F(ConvRunnerTest, AbortAnsweredNoKeepsThePartialOutputUnderItsName) {
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

TEST_F(ConvRunnerTest, RefusedSettingsFailTheJobAndCancelEndsTheBatch) {
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

TEST_F(ConvRunnerTest, AnOutputThatCannotBeCreatedFailsTheJobAtOnce) {
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

TEST_F(ConvRunnerTest, DecodesToWavAndNormalisesTheResult) {
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

TEST_F(ConvRunnerTest, AFailedDecodeKeepsTheEarlierWav) {
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

TEST_F(ConvRunnerTest, DecodeAbortAnsweredYesRemovesDoneOutputs) {
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

TEST_F(ConvRunnerTest, AFullDiskFailsTheJobAndLeavesSourcesAndEarlierOutputs) {
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

TEST_F(ConvRunnerTest, AFullDiskDuringDecodingKeepsTheEarlierWav) {
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

TEST_F(ConvRunnerTest, AbortDuringThePeakScanStopsBeforeEncoding) {
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
