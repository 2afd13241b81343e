#include "core/conversion/RunnerFixture.h"

using namespace runnertest;

namespace {

// Batches in which a source, an output or an earlier file could be lost.
class NothingLostTest : public ConvRunnerTest {};

} // namespace

TEST_P(NothingLostTest, SameNamedSourcesGetOutputsOfTheirOwnAndKeepTheirSources) {
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

TEST_P(NothingLostTest, YesToAllAndSkipAllCarryOverToTheLaterJobsOfTheBatch) {
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

TEST_P(NothingLostTest, OnlySourcesWithAWholeOutputAreMarkedForDeletion) {
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

TEST_P(NothingLostTest, ADecodedStreamThatEndsEarlyKeepsItsSource) {
    WriteSineWav(path("high.wav"), 2, 44100, 1.0, 440);
    WriteSineWav(path("low.wav"), 2, 22050, 0.5, 440);
    AddJob("high.wav", ".MP3");
    AddJob("low.wav", ".MP3");
    EncodeAndForget();
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

TEST_P(NothingLostTest, AnAbortedBatchMarksNoSourceForDeletion) {
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

TEST_P(NothingLostTest, AbortAnsweredNoNeverReplacesAnEarlierOutputWithAPart) {
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

TEST_P(NothingLostTest, EncodingNormalisesToTheTargetLevel) {
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

TEST_P(NothingLostTest, ANormalisationThatFailsFailsTheJobAndSaysWhy) {
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
    QString told;
    if (GetParam() > 1) {
        // Several jobs at once: a box would hold every other job; the error list says it.
        EXPECT_TRUE(questions.Errors.isEmpty()) << "no box with several jobs running";
        EXPECT_EQ(questions.Messages, QStringList{"Normalize wave file fail."});
        ASSERT_EQ(questions.Notes.size(), 1);
        told = questions.Notes[0];
        EXPECT_TRUE(told.startsWith("  " + path("big.wav") + ": ")) << told.toStdString();
    } else {
        // File after file nothing else waits: the box says it at once, naming the file.
        EXPECT_TRUE(questions.Messages.isEmpty());
        ASSERT_EQ(questions.Errors.size(), 1);
        told = questions.Errors[0];
        EXPECT_TRUE(told.startsWith("Normalize wave file fail.\n" + path("big.wav") + ": "))
            << told.toStdString();
    }
    EXPECT_TRUE(told.contains("File too large")) << told.toStdString();
    EXPECT_FALSE(told.contains(".brindle-")) << "the hidden name means nothing";
    EXPECT_EQ(HiddenFiles(dir.path()), 0);
}

TEST_P(NothingLostTest, ASourceReplacedAfterItWasListedIsEncodedAsItIsNow) {
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

TEST_P(NothingLostTest, ASourceThatChangesWhileItIsEncodedFailsTheJob) {
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
TEST_P(NothingLostTest, SameNamedSourcesSurviveEveryAnswerAndAbort) {
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

INSTANTIATE_TEST_SUITE_P(Jobs, NothingLostTest, ::testing::Values(1, 3),
                         [](const auto &Info) { return "AtOnce" + std::to_string(Info.param); });
