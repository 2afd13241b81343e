#include "conversion/ConvRunner.h"
#include "conversion/Normalize.h"
#include "inspect/MP3WavComm.h"
#include "platform/ModalResults.h"
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

    std::function<void(const QString &)> OnOverwrite;
    std::function<void()> OnRefusal;

    int ConfirmOverwrite(const QString &Dest) override {
        Overwrites << Dest;
        if (OnOverwrite)
            OnOverwrite(Dest);
        Showing();
        if (OverwriteAnswers.empty())
            return mrCancel;
        const int answer = OverwriteAnswers.front();
        OverwriteAnswers.pop_front();
        return answer;
    }
    bool ConfirmRefusal(const QString &Source) override {
        Refusals << Source;
        if (OnRefusal)
            OnRefusal();
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

    // Aborts the batch at its first progress report and answers the abort question.
    void AbortAtFirstProgress(TConvRunner &Runner, bool DeleteConverted) {
        questions.OnProgress = [&Runner, DeleteConverted] {
            if (Runner.Aborted())
                return;
            Runner.Abort();
            Runner.AnswerAbort(DeleteConverted);
        };
    }

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
        QList<TFileParam *> jobs;
        for (auto &job : records)
            jobs << job.get();
        Runner.SetJobs(jobs);
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

TEST(Normalize, ScanFindsTheLargestMagnitudeAndScalingRoundsAndClamps) {
    QTemporaryDir dir;
    const QString file = dir.filePath("a.wav");
    // The negative full scale counts as 32767; the tail chunk after the data is copied.
    WriteFile(file, SamplesWav({-32768, 30000, 5, -3, 1, 2}) + QByteArray("LIST\4\0\0\0abcd", 12));
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(file, info));
    ASSERT_EQ(info.DataLength, 12);
    std::atomic<bool> abort{false};
    double peak = 0;
    std::vector<int> progress;
    ASSERT_TRUE(ScanPeak(file, info, peak, abort, [&](int p) { progress.push_back(p); }));
    EXPECT_EQ(peak, 32767);
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
    EXPECT_EQ(runner.StartedCount(), 3) << "skipped jobs count when encoding";
    EXPECT_EQ(runner.ConvertedCount(), 2);
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
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
    WriteSineWav(path("odd.wav"), 2, 44100, 0.3, 440);
    WriteSineWav(path("b.wav"), 2, 44100, 0.3, 440);
    AddJob("odd.wav", ".MP3");
    AddJob("b.wav", ".MP3");
    // A VBR range whose minimum lies above its maximum: refused for every file.
    config.VBR = true;
    config.BitRate = 13;
    config.MaxBitRate = 0;
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
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size(), 0);
}

// --- Nothing is lost ---------------------------------------------------------------------

namespace {

std::vector<int16_t> CopySamples(const QString &Path) {
    return WavSamples(Path);
}

int HiddenFiles(const QString &Folder) {
    return int(QDir(Folder).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size());
}

} // namespace

TEST(Normalize, ALopsidedWaveIsScaledByItsLargerHalfAndNeverClips) {
    QTemporaryDir dir;
    const QString file = dir.filePath("voice.wav");
    // Peaks of +0.33 and -0.65 of full scale, as speech often has.
    WriteFile(file, SamplesWav({10813, -21299, 5000, -100}));
    std::atomic<bool> abort{false};
    int scaling = 0;
    const TNormalizeResult result =
        NormalizeToPeak(file, 98, dir.path(), abort, [&] { ++scaling; });
    ASSERT_TRUE(result.Error.isEmpty()) << result.Error.toStdString();
    ASSERT_TRUE(result.Temp);
    EXPECT_EQ(scaling, 1);
    const double factor = 98 / PeakLevel(21299);
    EXPECT_NEAR(factor, 1.5077, 1e-4);
    const std::vector<int16_t> out = CopySamples(result.Temp.Path());
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], int16_t(std::lrint(10813 * factor)));
    EXPECT_EQ(out[1], int16_t(std::lrint(-21299 * factor)));
    EXPECT_GT(out[1], -32768) << "not clipped";
    EXPECT_EQ(out[3], int16_t(std::lrint(-100 * factor)));
}

TEST(Normalize, AFullScaleFileKeepsTheFactorOfItsPositiveFullScale) {
    QTemporaryDir dir;
    for (const std::vector<int16_t> &samples :
         {std::vector<int16_t>{-32768, 16384}, std::vector<int16_t>{32767, -16384}}) {
        const QString file = dir.filePath("full.wav");
        WriteFile(file, SamplesWav(samples));
        std::atomic<bool> abort{false};
        const TNormalizeResult result = NormalizeToPeak(file, 98, dir.path(), abort);
        ASSERT_TRUE(result.Temp);
        const std::vector<int16_t> out = CopySamples(result.Temp.Path());
        // Factor 0.98: -32112.64 and 16056.32; 32111.66 and -16056.32.
        EXPECT_EQ(out[0], samples[0] < 0 ? -32113 : 32112);
        EXPECT_EQ(out[1], samples[1] < 0 ? -16056 : 16056);
    }
}

TEST(Normalize, SilenceAndItsDitherAreLeftAlone) {
    QTemporaryDir dir;
    const QString file = dir.filePath("dither.wav");
    WriteFile(file, SamplesWav({2, -2, 1, 0, -1}));
    std::atomic<bool> abort{false};
    const TNormalizeResult result = NormalizeToPeak(file, 98, dir.path(), abort);
    EXPECT_TRUE(result.Error.isEmpty());
    EXPECT_FALSE(result.Temp);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, SameNamedSourcesGetOutputsOfTheirOwnAndKeepTheirSources) {
    QDir(dir.path()).mkpath("dA");
    QDir(dir.path()).mkpath("dB");
    QDir(dir.path()).mkpath("out");
    WriteSineWav(path("dA/Track01.wav"), 1, 44100, 0.5, 440);
    WriteSineWav(path("dB/Track01.wav"), 1, 44100, 0.5, 880);
    WriteSineWav(path("a.wav"), 1, 44100, 0.3, 440);
    WriteSineWav(path("a.WAV"), 1, 44100, 0.3, 660);
    for (const char *source : {"dA/Track01.wav", "dB/Track01.wav", "a.wav", "a.WAV"})
        AddJob(source, ".MP3").DestPath =
            path("out/" + QFileInfo(source).completeBaseName() + ".MP3");
    config.DeleteOriginalFile = true;
    TConvRunner runner(config, questions);
    Run(runner);

    EXPECT_TRUE(questions.Overwrites.isEmpty()) << "no job met another's output";
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/Track01.MP3")), 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/Track01 (2).MP3")), 0), 880, 8.8);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/a.MP3")), 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/a (2).MP3")), 0), 660, 6.6);
    // The renamed jobs are named in the error list, so their sources stay.
    EXPECT_EQ(records[0]->State, stDoneRemoveSource);
    EXPECT_EQ(records[1]->State, stDone);
    EXPECT_EQ(records[2]->State, stDoneRemoveSource);
    EXPECT_EQ(records[3]->State, stDone);
    ASSERT_EQ(questions.Warnings.size(), 2);
    EXPECT_TRUE(questions.Warnings[0].startsWith(path("dB/Track01.wav")));
    EXPECT_TRUE(questions.Warnings[0].endsWith("'Track01.MP3' is also the output of '" +
                                               path("dA/Track01.wav") +
                                               "'; this one is written as 'Track01 (2).MP3'."))
        << questions.Warnings[0].toStdString();
    EXPECT_EQ(runner.ConvertedCount(), 4);
}

TEST_P(ConvRunnerTest, YesToAllAndSkipAllCarryOverToTheLaterJobsOfTheBatch) {
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        WriteSineWav(path(name), 1, 44100, 0.3, 440);
    for (const char *name : {"a.MP3", "b.MP3", "d.MP3"})
        WriteFile(path(name), "older output");
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        AddJob(name, ".MP3");

    questions.OverwriteAnswers = {mrNoToAll};
    TConvRunner skipping(config, questions);
    Run(skipping);
    EXPECT_EQ(questions.Overwrites, QStringList{path("a.MP3")}) << "asked once";
    for (const char *name : {"a.MP3", "b.MP3", "d.MP3"})
        EXPECT_EQ(ReadFile(path(name)), "older output") << name;
    EXPECT_TRUE(DecodeMpeg(path("c.MP3")).ok) << "a job without an output still runs";
    EXPECT_EQ(records[3]->State, stQueued);

    QFile::remove(path("c.MP3"));
    questions.Overwrites.clear();
    questions.OverwriteAnswers = {mrYesToAll};
    TConvRunner overwriting(config, questions);
    Run(overwriting);
    EXPECT_EQ(questions.Overwrites, QStringList{path("a.MP3")}) << "a new batch asks again";
    for (const char *name : {"a.MP3", "b.MP3", "c.MP3", "d.MP3"})
        EXPECT_TRUE(DecodeMpeg(path(name)).ok) << name;
    for (const auto &record : records)
        EXPECT_EQ(record->State, stDone);
}

TEST_P(ConvRunnerTest, OnlySourcesWithAWholeOutputAreMarkedForDeletion) {
    WriteSineWav(path("good.wav"), 1, 44100, 0.3, 440);
    WriteFile(path("three.wav"), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
    WriteSineWav(path("skip.wav"), 1, 44100, 0.3, 440);
    WriteFile(path("skip.MP3"), "older output");
    AddJob("good.wav", ".MP3");
    AddJob("three.wav", ".MP3");
    AddJob("skip.wav", ".MP3");
    config.DeleteOriginalFile = true;
    questions.OverwriteAnswers = {mrNo};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(records[0]->State, stDoneRemoveSource);
    EXPECT_EQ(records[1]->State, stError);
    EXPECT_EQ(records[2]->State, stQueued);
}

TEST_P(ConvRunnerTest, ADecodedStreamThatEndsEarlyKeepsItsSource) {
    WriteSineWav(path("high.wav"), 2, 44100, 1.0, 440);
    WriteSineWav(path("low.wav"), 2, 22050, 0.5, 440);
    AddJob("high.wav", ".MP3");
    AddJob("low.wav", ".MP3");
    TConvRunner encoder(config, questions);
    Run(encoder);
    records.clear();
    WriteFile(path("joined.mp3"), ReadFile(path("high.MP3")) + ReadFile(path("low.MP3")));
    AddJob("joined.mp3", ".WAV");
    config.ConvertType = 1;
    config.DeleteOriginalFile = true;
    TConvRunner runner(config, questions);
    Run(runner);
    ASSERT_EQ(questions.Warnings.size(), 1);
    EXPECT_EQ(records[0]->State, stDone) << "the second half lives only in the source";
    EXPECT_EQ(runner.ConvertedCount(), 1);
}

TEST_P(ConvRunnerTest, AnAbortedBatchMarksNoSourceForDeletion) {
    for (const bool deleteConverted : {false, true}) {
        records.clear();
        WriteSineWav(path("a.wav"), 1, 44100, 0.2, 440);
        WriteSineWav(path("long.wav"), 2, 44100, 30, 440);
        QFile::remove(path("a.MP3"));
        QFile::remove(path("long.MP3"));
        AddJob("a.wav", ".MP3");
        AddJob("long.wav", ".MP3");
        config.DeleteOriginalFile = true;
        TConvRunner runner(config, questions);
        questions.OnProgress = [&] {
            if (runner.Aborted() || records[0]->State != stDoneRemoveSource)
                return;
            runner.Abort();
            runner.AnswerAbort(deleteConverted);
        };
        Run(runner);
        ASSERT_TRUE(runner.Aborted());
        if (deleteConverted) {
            // Yes takes back every output of the batch; the sources are all there is.
            EXPECT_EQ(records[0]->State, stQueued);
            EXPECT_FALSE(QFile::exists(path("a.MP3")));
        } else {
            EXPECT_EQ(records[0]->State, stDone);
            EXPECT_TRUE(DecodeMpeg(path("a.MP3")).ok);
        }
        EXPECT_NE(records[1]->State, stDoneRemoveSource);
    }
}

TEST_P(ConvRunnerTest, AbortAnsweredNoNeverReplacesAnEarlierOutputWithAPart) {
    WriteSineWav(path("long.wav"), 2, 44100, 30, 440);
    WriteFile(path("long.MP3"), "the complete earlier output");
    AddJob("long.wav", ".MP3");
    questions.OverwriteAnswers = {mrYes};
    TConvRunner runner(config, questions);
    AbortAtFirstProgress(runner, false);
    Run(runner);
    EXPECT_EQ(records[0]->State, stAborted);
    EXPECT_EQ(ReadFile(path("long.MP3")), "the complete earlier output");
    ASSERT_TRUE(QFile::exists(path("long (partial).MP3")));
    EXPECT_TRUE(DecodeMpeg(path("long (partial).MP3")).ok);
    ASSERT_EQ(questions.Warnings.size(), 1);
    EXPECT_TRUE(questions.Warnings[0].contains(path("long (partial).MP3")));
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, EncodingNormalisesToTheTargetLevel) {
    WriteSineWav(path("quarter.wav"), 1, 44100, 1.0, 440, 0, 0.25);
    AddJob("quarter.wav", ".MP3");
    config.FNormalizeVolume = true;
    config.NormalizeFactor = 50;
    config.BitRate = 13;
    TConvRunner runner(config, questions);
    Run(runner);
    ASSERT_EQ(records[0]->State, stDone);
    // A sine brought to half of full scale; the encoder keeps a pure tone's level closely.
    EXPECT_NEAR(Rms(DecodeMpeg(path("quarter.MP3")), 0), 0.5 * std::sqrt(0.5), 0.0015);
}

TEST_P(ConvRunnerTest, ANormalisationThatFailsFailsTheJobAndSaysWhy) {
    WriteSineWav(path("big.wav"), 2, 44100, 20, 440, 0, 0.25);
    WriteSineWav(path("small.wav"), 1, 8000, 0.2, 440, 0, 0.25);
    AddJob("big.wav", ".MP3");
    AddJob("small.wav", ".MP3");
    config.FNormalizeVolume = true;
    TConvRunner runner(config, questions);
    {
        // Room for an MP3 of the file but not for its scaled copy.
        FileSizeLimit limit(1024 * 1024);
        Run(runner);
    }
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_EQ(records[1]->State, stDone);
    EXPECT_FALSE(QFile::exists(path("big.MP3"))) << "never kept as if it were normalised";
    EXPECT_EQ(questions.Messages.size(), 1);
    ASSERT_EQ(questions.Notes.size(), 1);
    EXPECT_TRUE(questions.Notes[0].contains("Normalize wave file fail."))
        << questions.Notes[0].toStdString();
    EXPECT_TRUE(questions.Notes[0].contains("File too large")) << questions.Notes[0].toStdString();
    EXPECT_FALSE(questions.Notes[0].contains(".brindle-")) << "the hidden name means nothing";
    EXPECT_TRUE(questions.Errors.isEmpty()) << "one line in the list, no box per file";
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(ConvRunnerTest, ASourceReplacedAfterItWasListedIsEncodedAsItIsNow) {
    WriteSineWav(path("a.wav"), 1, 44100, 0.5, 440);
    AddJob("a.wav", ".MP3");
    ASSERT_EQ(records[0]->WaveData.Header.SampleRate, 44100u);
    WriteSineWav(path("a.wav"), 1, 22050, 1.0, 440);
    TConvRunner runner(config, questions);
    Run(runner);
    ASSERT_EQ(records[0]->State, stDone);
    const DecodedAudio out = DecodeMpeg(path("a.MP3"));
    EXPECT_EQ(out.sampleRate, 22050);
    EXPECT_NEAR(out.seconds(), 1.0, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 0), 440, 4.4);
}

TEST_P(ConvRunnerTest, ASourceThatChangesWhileItIsEncodedFailsTheJob) {
    WriteSineWav(path("long.wav"), 2, 44100, 20, 440);
    AddJob("long.wav", ".MP3");
    bool changed = false;
    questions.OnProgress = [&] {
        if (changed)
            return;
        changed = true;
        QFile file(path("long.wav"));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(QByteArray(4, '\0'));
    };
    TConvRunner runner(config, questions);
    Run(runner);
    ASSERT_TRUE(changed);
    EXPECT_EQ(records[0]->State, stError);
    EXPECT_FALSE(QFile::exists(path("long.MP3")));
    ASSERT_EQ(questions.Notes.size(), 1);
    EXPECT_TRUE(questions.Notes[0].contains("changed"));
}

// Same-named sources of three folders into one, over earlier outputs, answered and aborted
// in every way, with "Delete original files" on: afterwards every source's audio is still
// in its source or in an output of its own.
TEST_P(ConvRunnerTest, SameNamedSourcesSurviveEveryAnswerAndAbort) {
    enum TAbort { NoAbort, AbortYes, AbortNo };
    const std::vector<std::deque<int>> answerings = {
        {mrYesToAll}, {mrNo, mrYes}, {mrNoToAll}, {mrYes, mrCancel}};
    const double frequencies[] = {330, 550, 770};
    int run = 0;
    for (const std::deque<int> &answers : answerings) {
        for (const TAbort abort : {NoAbort, AbortYes, AbortNo}) {
            const QString base = QStringLiteral("run%1/").arg(run++);
            records.clear();
            QDir(dir.path()).mkpath(base + "out");
            for (int i = 0; i < 3; ++i) {
                const QString source = QStringLiteral("%1d%2/Track01.wav").arg(base).arg(i);
                QDir(dir.path()).mkpath(QFileInfo(path(source)).path());
                WriteSineWav(path(source), 1, 44100, i == 2 ? 6.0 : 0.3, frequencies[i]);
                AddJob(source, ".MP3").DestPath = path(base + "out/Track01.MP3");
            }
            WriteFile(path(base + "out/Track01.MP3"), "earlier output");
            WriteFile(path(base + "out/Track01 (2).MP3"), "earlier output");
            config.DeleteOriginalFile = true;
            questions.OverwriteAnswers = answers;
            TConvRunner runner(config, questions);
            questions.OnProgress = [&] {
                if (abort == NoAbort || runner.Aborted() || records[2]->State != stProcessing)
                    return;
                runner.Abort();
                runner.AnswerAbort(abort == AbortYes);
            };
            Run(runner);
            // What the main window then does with the sources.
            if (!runner.Aborted())
                for (const auto &job : records)
                    if (job->State == stDoneRemoveSource && QFileInfo(job->DestPath).isFile())
                        QFile::remove(job->SourcePath);

            const QStringList outputs = QDir(path(base + "out")).entryList(QDir::Files);
            for (int i = 0; i < 3; ++i) {
                const bool inSource = QFile::exists(records[i]->SourcePath);
                bool inOutput = false;
                for (const QString &name : outputs) {
                    const DecodedAudio audio = DecodeMpeg(path(base + "out/" + name));
                    if (audio.ok && audio.seconds() > 0.2 &&
                        std::abs(DominantFrequency(audio, 0) - frequencies[i]) < 10)
                        inOutput = true;
                }
                EXPECT_TRUE(inSource || inOutput)
                    << "source " << i << " lost in " << base.toStdString();
            }
            EXPECT_EQ(HiddenFiles(path(base + "out")), 0) << base.toStdString();
        }
    }
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
        const QString name = QStringLiteral("%1.wav").arg(i);
        WriteSineWav(path(name), 1, 44100, 0.3 + 0.4 * (i % 3), 440);
        AddJob(name, ".MP3");
        if (i % 2 == 0) {
            WriteFile(records.back()->DestPath, "older");
            expected << records.back()->DestPath;
        }
    }
    // Settings the encoder refuses for job 3 alone: its box too waits for the open question.
    questions.OnOverwrite = [&](const QString &Dest) {
        if (Dest == path("2.MP3")) {
            config.VBR = true;
            config.MaxBitRate = 0;
            config.BitRate = 13;
        }
    };
    questions.OnRefusal = [&] { config.VBR = false; };
    questions.Modal = true;
    questions.OverwriteAnswers = {mrYes, mrNo, mrYes};
    TConvRunner runner(config, questions);
    Run(runner);
    EXPECT_EQ(questions.Overwrites, expected);
    EXPECT_EQ(questions.MaxDepth, 1) << "never a question on top of another";
    EXPECT_EQ(questions.Refusals, QStringList{path("3.wav")});
    EXPECT_EQ(records[2]->State, stQueued);
    EXPECT_EQ(records[3]->State, stError);
    EXPECT_EQ(runner.ConvertedCount(), 4);
}

INSTANTIATE_TEST_SUITE_P(Jobs, ParallelRunnerTest, ::testing::Values(3),
                         [](const auto &Info) { return "AtOnce" + std::to_string(Info.param); });
