#include "app/FileParam.h"
#include "conversion/BatchTimes.h"
#include "inspect/MP3WavComm.h"
#include "support/TestMedia.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(BatchTimes, RemainingTimeComesFromAudioSecondsNotTheFileCount) {
    TBatchTimes times;
    times.Start({10, 100, 10});
    times.Progress(0, 100);
    times.Ended(0, true);
    // A third of the files but a twelfth of the audio in 5 s: 2x real time, 110 s of audio
    // left, so 55 s to go (by the file count it would be 10 s).
    EXPECT_DOUBLE_EQ(times.TotalSeconds(), 120);
    EXPECT_DOUBLE_EQ(times.DoneSeconds(), 10);
    EXPECT_DOUBLE_EQ(times.Speed(5), 2);
    EXPECT_DOUBLE_EQ(times.Remaining(5), 55);
    EXPECT_NEAR(times.Fraction(), 10.0 / 120, 1e-9);
    EXPECT_EQ(times.Line(5), "Elapsed 0:05   Remaining 0:55   Speed 2.0x real time");

    // Half of the long job under way counts as 50 s of audio done.
    times.Progress(1, 50);
    EXPECT_DOUBLE_EQ(times.DoneSeconds(), 60);
    EXPECT_DOUBLE_EQ(times.LeftSeconds(), 60);
    EXPECT_DOUBLE_EQ(times.Remaining(30), 30);
}

TEST(BatchTimes, JobsRunningAtOnceAddUpTheirParts) {
    TBatchTimes times;
    times.Start({60, 60, 60});
    times.Progress(0, 50);
    times.Progress(1, 50);
    times.Progress(2, 50);
    // 90 s of audio in 10 s with three jobs at once.
    EXPECT_DOUBLE_EQ(times.Speed(10), 9);
    EXPECT_DOUBLE_EQ(times.Remaining(10), 10);
}

TEST(BatchTimes, JobsEndingUnconvertedLeaveTheRemainingTime) {
    TBatchTimes times;
    times.Start({30, 30, 60});
    times.Progress(0, 100);
    times.Ended(0, true);
    times.Progress(1, 20);
    times.Ended(1, false); // failed after 6 s of audio
    times.Ended(2, false); // skipped
    EXPECT_DOUBLE_EQ(times.LeftSeconds(), 0);
    EXPECT_DOUBLE_EQ(times.Remaining(10), 0);
    EXPECT_DOUBLE_EQ(times.Fraction(), 1);
    EXPECT_DOUBLE_EQ(times.DoneSeconds(), 36);
}

TEST(BatchTimes, ProgressNeverGoesBackAndIsIgnoredAfterTheEnd) {
    TBatchTimes times;
    times.Start({10, 10});
    times.Progress(0, 60);
    times.Progress(0, 30); // the next phase starts its own count
    EXPECT_DOUBLE_EQ(times.DoneSeconds(), 6);
    times.Ended(1, false);
    times.Progress(1, 80);
    times.Progress(7, 50); // no such job
    times.Progress(-1, 50);
    EXPECT_DOUBLE_EQ(times.DoneSeconds(), 6);
}

TEST(BatchTimes, UnknownLengthsWeighEveryJobTheSame) {
    TBatchTimes times;
    times.Start({0, 0, 0, 0});
    times.Ended(0, true);
    EXPECT_DOUBLE_EQ(times.Fraction(), 0.25);
}

TEST(BatchTimes, NothingKnownBeforeTheFirstProgress) {
    TBatchTimes times;
    times.Start({10});
    EXPECT_LT(times.Remaining(3), 0);
    EXPECT_EQ(times.Line(3), "Elapsed 0:03   Remaining --   Speed --");
    EXPECT_EQ(times.Line(0), "Elapsed 0:00   Remaining --   Speed --");
    TBatchTimes empty;
    empty.Start({});
    EXPECT_DOUBLE_EQ(empty.Fraction(), 0);
}

TEST(BatchTimes, TimesAreMinutesAndSecondsThenHours) {
    EXPECT_EQ(TBatchTimes::TimeText(0), "0:00");
    EXPECT_EQ(TBatchTimes::TimeText(59.4), "0:59");
    EXPECT_EQ(TBatchTimes::TimeText(65), "1:05");
    EXPECT_EQ(TBatchTimes::TimeText(3599), "59:59");
    EXPECT_EQ(TBatchTimes::TimeText(3661), "1:01:01");
    EXPECT_EQ(TBatchTimes::TimeText(-4), "0:00");
}

TEST(BatchTimes, AJobsSecondsComeFromItsWaveFramesBelowAWholeSecond) {
    QTemporaryDir dir;
    const QString path = dir.filePath("half.wav");
    testmedia::WriteSineWav(path, 2, 22050, 0.5, 440);
    TFileParam job;
    job.Kind = fkWave;
    ASSERT_TRUE(ReadWaveFileInfo(path, job.WaveData));
    EXPECT_DOUBLE_EQ(JobSeconds(job), 0.5);

    TFileParam mpeg;
    mpeg.Kind = fkMpeg;
    mpeg.Duration = 42;
    EXPECT_DOUBLE_EQ(JobSeconds(mpeg), 42);
    TFileParam unreadable;
    EXPECT_DOUBLE_EQ(JobSeconds(unreadable), 0);
}

} // namespace
