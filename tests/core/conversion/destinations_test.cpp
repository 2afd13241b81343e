#include "conversion/Destinations.h"
#include "conversion/SafeOutput.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace testmedia;

namespace {

class DestinationsTest : public ::testing::Test {
protected:
    QString path(const QString &Name) const { return dir.filePath(Name); }

    void Add(const QString &Source, const QString &Dest) {
        auto job = std::make_unique<TFileParam>();
        job->SourcePath = path(Source);
        job->DestPath = path(Dest);
        jobs << job.get();
        records.push_back(std::move(job));
    }

    QString Dest(int Job) const { return jobs.at(Job)->DestPath; }

    QTemporaryDir dir;
    QList<TFileParam *> jobs;
    std::vector<std::unique_ptr<TFileParam>> records;
};

} // namespace

TEST_F(DestinationsTest, SameNamedSourcesGetNumberedOutputsInListOrder) {
    Add("dA/Track01.wav", "out/Track01.MP3");
    Add("dB/Track01.wav", "out/Track01.MP3");
    Add("a.wav", "out/a.MP3");
    Add("a.WAV", "out/a.MP3");
    Add("dC/Track01.wav", "out/Track01.MP3");
    const auto moved = SeparateDestinations(jobs);
    EXPECT_EQ(Dest(0), path("out/Track01.MP3")) << "the first keeps its name";
    EXPECT_EQ(Dest(1), path("out/Track01 (2).MP3"));
    EXPECT_EQ(Dest(2), path("out/a.MP3"));
    EXPECT_EQ(Dest(3), path("out/a (2).MP3"));
    EXPECT_EQ(Dest(4), path("out/Track01 (3).MP3"));
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved[0].Job, 1);
    EXPECT_EQ(moved[0].Other, 0);
    EXPECT_FALSE(moved[0].Source);
    EXPECT_EQ(moved[0].Taken, path("out/Track01.MP3"));
    EXPECT_EQ(moved[2].Other, 0);
}

TEST_F(DestinationsTest, ANumberIsNeverOneThatAnotherJobWants) {
    Add("dA/x.wav", "out/x.MP3");
    Add("dB/x.wav", "out/x.MP3");
    Add("x (2).wav", "out/x (2).MP3");
    SeparateDestinations(jobs);
    EXPECT_EQ(Dest(1), path("out/x (3).MP3"));
    EXPECT_EQ(Dest(2), path("out/x (2).MP3"));
}

TEST_F(DestinationsTest, AnotherJobsSourceIsNeverADestination) {
    Add("a.wav", "b.wav");
    Add("b.wav", "b.MP3");
    const auto moved = SeparateDestinations(jobs);
    EXPECT_EQ(Dest(0), path("b (2).wav"));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(moved[0].Source);
    EXPECT_EQ(moved[0].Other, 1);
    EXPECT_EQ(Dest(1), path("b.MP3"));
}

TEST_F(DestinationsTest, FoldersAreComparedThroughTheirRealPath) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    ASSERT_TRUE(QFile::link(path("real"), path("link")));
    Add("a/x.wav", "real/x.MP3");
    Add("b/x.wav", "link/x.MP3");
    Add("c/x.wav", "real/../real/y.MP3");
    EXPECT_EQ(SeparateDestinations(jobs).size(), 1u);
    EXPECT_EQ(Dest(1), path("link/x (2).MP3"));
}

TEST_F(DestinationsTest, NamesThatDifferOnlyInCaseAreKeptApart) {
    // One file on a file system that ignores case, such as a memory card's.
    Add("Track01.wav", "out/Track01.MP3");
    Add("sub/track01.wav", "out/track01.MP3");
    Add("b.wav", "B.WAV");
    Add("B.wav", "B.MP3");
    SeparateDestinations(jobs);
    EXPECT_EQ(Dest(1), path("out/track01 (2).MP3"));
    EXPECT_EQ(Dest(2), path("B (2).WAV")) << "never over another job's source";
}

TEST_F(DestinationsTest, AJobsOwnSourceIsLeftForTheJobToRefuse) {
    Add("song.WAV", "song.WAV");
    EXPECT_TRUE(SeparateDestinations(jobs).empty());
    EXPECT_EQ(Dest(0), path("song.WAV"));
}

TEST_F(DestinationsTest, SiblingNamesAreFreeAndRenamesNeverReplace) {
    WriteFile(path("song (partial).MP3"), "an earlier part");
    EXPECT_EQ(FreeSiblingName(path("song.MP3"), "partial"), path("song (partial 2).MP3"));
    EXPECT_EQ(FreeSiblingName(path("noext"), "partial"), path("noext (partial)"));

    WriteFile(path("new"), "new");
    WriteFile(path("old"), "old");
    QString why;
    EXPECT_FALSE(RenameNoReplace(path("new"), path("old"), why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(ReadFile(path("old")), "old");
    EXPECT_TRUE(RenameNoReplace(path("new"), path("free"), why));
    EXPECT_EQ(ReadFile(path("free")), "new");
    EXPECT_FALSE(QFile::exists(path("new")));
}
