// The jobs of a conversion batch on their own, against a recording host: how each ends,
// what it hands back, and that a job object serves one file after another.
#include "conversion/DecodeJob.h"
#include "conversion/EncodeJob.h"
#include "core/conversion/RunnerFixture.h"
#include "platform/Mailbox.h"

#include <map>

using namespace runnertest;

namespace {

// Records what a job tells its batch; Ended stops the event loop the test waits in.
class RecordingHost : public IJobHost {
public:
    TConfig Settings;
    runnertest::Questions Asked;
    QObject Context;
    TQuestionGate QuestionGate{Context};
    TMailbox Posts;
    std::atomic<bool> Stopping{false};
    bool IsAborted = false;
    std::function<void(TConvJob &)> OnProgress;

    std::vector<int> Phases;
    QStringList Failures, Warnings, Captions;
    int Progresses = 0;
    int DoneCount = 0;
    int EndCount = 0;
    TPartialFile Left;

    const TConfig &Config() const override { return Settings; }
    TQuestionGate &Gate() override { return QuestionGate; }
    IConvQuestions &Questions() override { return Asked; }
    TMailbox &Mailbox() override { return Posts; }
    const std::atomic<bool> &Stop() const override { return Stopping; }
    bool Aborted() const override { return IsAborted; }
    bool Finished() const override { return false; }
    int DecodeStallSeconds() const override { return 30; }
    int JobSlots() const override { return 1; }

    void SetPhase(TConvJob &, int Phase) override { Phases.push_back(Phase); }
    void Progress(TConvJob &Job, int) override {
        ++Progresses;
        if (OnProgress)
            OnProgress(Job);
    }
    void StateCaption(TConvJob &, const QString &Caption) override { Captions << Caption; }
    void Fail(TConvJob &, const QString &ErrorLine, const QString &Why) override {
        Failures << ErrorLine + " | " + Why;
    }
    void Warn(TConvJob &, const QString &Why) override { Warnings << Why; }
    void Done(TConvJob &, TTrackLoudness) override { ++DoneCount; }
    void RequestClose() override { ADD_FAILURE() << "no refusal in these tests"; }
    void Ended(TConvJob &, TPartialFile Partial) override {
        ++EndCount;
        Left = std::move(Partial);
        if (Waiting)
            Waiting->quit();
    }

    // Starts Job on Worker and waits until it has ended.
    void Run(TConvJob &Worker, TFileParam &Job) {
        const int ends = EndCount;
        QEventLoop loop;
        Waiting = &loop;
        Worker.Start(Job, 0);
        if (EndCount == ends) {
            QTimer::singleShot(30000, &loop, [&] {
                ADD_FAILURE() << "the job did not end";
                loop.quit();
            });
            loop.exec();
        }
        Waiting = nullptr;
        // Anything the job would still say after its end is said now.
        QEventLoop settle;
        QTimer::singleShot(50, &settle, &QEventLoop::quit);
        settle.exec();
    }

private:
    QEventLoop *Waiting = nullptr;
};

class ConvJobTest : public ::testing::Test {
protected:
    QString path(const QString &Name) const { return dir.filePath(Name); }

    TFileParam WaveJob(const QString &Source, const QString &Dest) {
        TFileParam job;
        job.SourcePath = path(Source);
        job.DestPath = path(Dest);
        job.Kind = fkWave;
        ReadWaveFileInfo(job.SourcePath, job.WaveData);
        job.State = stProcessing;
        return job;
    }

    QTemporaryDir dir;
    RecordingHost host;
};

} // namespace

TEST_F(ConvJobTest, AnEncodeJobEndsOnceOnEveryPathAndServesTheNextFile) {
    WriteSineWav(path("a.wav"), 1, 44100, 0.3, 440);
    ASSERT_EQ(::link(QFile::encodeName(path("a.wav")), QFile::encodeName(path("same.MP3"))), 0);
    TEncodeJob encoder(host);

    TFileParam same = WaveJob("a.wav", "same.MP3");
    host.Run(encoder, same);
    EXPECT_EQ(host.EndCount, 1);
    ASSERT_EQ(host.Failures.size(), 1);
    EXPECT_TRUE(host.Failures[0].contains("is the source file itself"));

    TFileParam gone = WaveJob("a.wav", "a.MP3");
    gone.SourcePath = path("gone.wav");
    host.Run(encoder, gone);
    EXPECT_EQ(host.EndCount, 2);
    EXPECT_EQ(host.Failures.size(), 2);

    TFileParam nowhere = WaveJob("a.wav", "missing/a.MP3");
    host.Run(encoder, nowhere);
    EXPECT_EQ(host.EndCount, 3);
    EXPECT_EQ(host.Failures.size(), 3);
    EXPECT_EQ(host.DoneCount, 0);
    EXPECT_EQ(std::count(host.Phases.begin(), host.Phases.end(), phEncode), 1)
        << "only the file whose output could not be made got as far as encoding";

    // The same job object, after three failures, encodes the next file whole.
    host.Phases.clear();
    TFileParam good = WaveJob("a.wav", "a.MP3");
    host.Run(encoder, good);
    EXPECT_EQ(host.EndCount, 4);
    EXPECT_EQ(host.Failures.size(), 3);
    EXPECT_EQ(host.DoneCount, 1);
    EXPECT_FALSE(host.Left) << "a finished output is in place, nothing is left over";
    EXPECT_EQ(host.Phases, (std::vector<int>{phEncode, phDone}));
    EXPECT_GT(host.Progresses, 0);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("a.MP3")), 0), 440, 4.4);
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_F(ConvJobTest, AnAbortedEncodeHandsItsPartialOutputToTheBatch) {
    WriteSineWav(path("long.wav"), 2, 44100, 30, 440);
    WriteFile(path("long.MP3"), "older output");
    TEncodeJob encoder(host);
    host.OnProgress = [&](TConvJob &Job) {
        if (host.IsAborted)
            return;
        host.IsAborted = true;
        host.Stopping = true;
        Job.Abort();
    };
    TFileParam job = WaveJob("long.wav", "long.MP3");
    host.Run(encoder, job);
    EXPECT_EQ(host.EndCount, 1);
    EXPECT_EQ(host.DoneCount, 0);
    EXPECT_TRUE(host.Failures.isEmpty()) << "an abort is no failure";
    ASSERT_TRUE(host.Left) << "the batch decides about the interrupted output";
    EXPECT_GT(QFileInfo(host.Left.Path()).size(), 0);
    EXPECT_EQ(ReadFile(path("long.MP3")), "older output");
    host.Left.Remove();
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_F(ConvJobTest, ADecodeJobEndsOnceThroughItsOutputsClose) {
    WriteSineWav(path("a.wav"), 2, 44100, 1, 440);
    {
        TEncodeJob encoder(host);
        TFileParam make = WaveJob("a.wav", "a.MP3");
        host.Run(encoder, make);
        ASSERT_EQ(host.DoneCount, 1);
    }
    host.Phases.clear();
    TDecodeJob decoder(host);
    decoder.LoadLibrary();

    TFileParam noise;
    WriteFile(path("noise.mp3"), QByteArray(20000, '\x5a'));
    noise.SourcePath = path("noise.mp3");
    noise.DestPath = path("noise.WAV");
    host.Run(decoder, noise);
    EXPECT_EQ(host.EndCount, 2);
    ASSERT_EQ(host.Failures.size(), 1);
    EXPECT_TRUE(host.Failures[0].startsWith("Conversion Error: " + path("noise.mp3")));
    EXPECT_FALSE(QFile::exists(path("noise.WAV")));

    host.Phases.clear();
    TFileParam good;
    good.SourcePath = path("a.MP3");
    good.DestPath = path("a.WAV");
    host.Run(decoder, good);
    EXPECT_EQ(host.EndCount, 3) << "the library's late notifications end nothing twice";
    EXPECT_EQ(host.Failures.size(), 1);
    EXPECT_EQ(host.DoneCount, 2);
    EXPECT_EQ(host.Phases, (std::vector<int>{phDecode, phDone}));
    EXPECT_TRUE(host.Captions.contains("EOF"));
    EXPECT_TRUE(host.Warnings.isEmpty());
    EXPECT_FALSE(WavSamples(path("a.WAV")).empty());
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

// --- The batch over its jobs -----------------------------------------------------------------

namespace {

class JobEndTest : public ConvRunnerTest {};

} // namespace

TEST_P(JobEndTest, EveryJobEndsOnceAndEveryFailureIsCounted) {
    WriteSineWav(path("same.wav"), 1, 44100, 0.2, 440);
    ASSERT_EQ(::link(QFile::encodeName(path("same.wav")), QFile::encodeName(path("same.MP3"))), 0);
    WriteSineWav(path("gone.wav"), 1, 44100, 0.2, 440);
    WriteSineWav(path("nowhere.wav"), 1, 44100, 0.2, 440);
    WriteFile(path("three.wav"), WavHeader(3, 44100, 16, 6000) + QByteArray(6000, '\x11'));
    WriteSineWav(path("good.wav"), 1, 44100, 0.2, 440);
    AddJob("same.wav", ".MP3");
    AddJob("gone.wav", ".MP3");
    AddJob("nowhere.wav", ".MP3").DestPath = path("missing/nowhere.MP3");
    AddJob("three.wav", ".MP3");
    AddJob("good.wav", ".MP3");
    QFile::remove(path("gone.wav")); // after it was listed
    config.OverwritePrompt = false;
    TConvRunner runner(config, questions);
    std::map<int, int> ends;
    QObject::connect(&runner, &TConvRunner::JobEnded, [&](int Index, int) { ++ends[Index]; });
    Run(runner);

    EXPECT_EQ(ends, (std::map<int, int>{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}}));
    EXPECT_EQ(runner.FailedCount(), 4);
    EXPECT_EQ(runner.ConvertedCount(), 1);
    EXPECT_EQ(records[4]->State, stDone);
    QStringList expected;
    for (const char *name : {"same.wav", "gone.wav", "nowhere.wav", "three.wav"})
        expected
            << QStringLiteral("Source file '%1' can't be open, convert error.").arg(path(name));
    EXPECT_EQ(questions.Messages, expected) << "in list order, one line each";
    EXPECT_EQ(questions.Notes.size(), 4);
    EXPECT_FALSE(runner.Busy());
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

INSTANTIATE_TEST_SUITE_P(Jobs, JobEndTest, ::testing::Values(1, 3),
                         [](const auto &Info) { return "AtOnce" + std::to_string(Info.param); });
