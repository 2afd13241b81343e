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

TEST_F(DestinationsTest, SameNamesInDifferentAlbumsClashOnlyWhenFlat) {
    const QString out = path("out");
    ASSERT_TRUE(QDir().mkpath(out));
    for (const bool keep : {true, false}) {
        jobs.clear();
        records.clear();
        for (const char *album : {"in/Album A/01 Song.wav", "in/Album B/01 Song.wav"}) {
            auto job = std::make_unique<TFileParam>();
            job->SourcePath = path(album);
            job->FileName = "01 Song.wav";
            job->BaseFolder = path("in");
            job->DestPath = ConversionDestPath(*job, true, out, ".MP3", keep);
            jobs << job.get();
            records.push_back(std::move(job));
        }
        const auto moved = SeparateDestinations(jobs);
        if (keep) {
            EXPECT_TRUE(moved.empty());
            EXPECT_EQ(Dest(0), out + "/Album A/01 Song.MP3");
            EXPECT_EQ(Dest(1), out + "/Album B/01 Song.MP3");
        } else {
            EXPECT_EQ(moved.size(), 1u);
            EXPECT_EQ(Dest(0), out + "/01 Song.MP3");
            EXPECT_EQ(Dest(1), out + "/01 Song (2).MP3");
        }
    }
}

TEST_F(DestinationsTest, FoldersNotMadeYetAreComparedThroughTheirParentsRealPath) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    ASSERT_TRUE(QFile::link(path("real"), path("link")));
    Add("a/x.wav", "real/new/deeper/x.MP3");
    Add("b/x.wav", "link/new/deeper/x.MP3");
    Add("c/x.wav", "link/other/x.MP3");
    EXPECT_EQ(SeparateDestinations(jobs).size(), 1u);
    EXPECT_EQ(Dest(1), path("link/new/deeper/x (2).MP3"));
    EXPECT_EQ(Dest(2), path("link/other/x.MP3"));
}

TEST_F(DestinationsTest, MissingFoldersAreMadeOnlyBelowAnExistingRoot) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("out"));
    QString why;
    EXPECT_TRUE(MakeFoldersBelow(path("out"), path("out/Album: A/CD 1"), why)) << why.toStdString();
    EXPECT_TRUE(QFileInfo(path("out/Album: A/CD 1")).isDir());
    EXPECT_TRUE(MakeFoldersBelow(path("out"), path("out/Album: A/CD 1"), why)) << "already there";
    EXPECT_TRUE(MakeFoldersBelow(path("out"), path("out"), why));

    // An output folder that vanished (an unplugged card) is not made again.
    EXPECT_FALSE(MakeFoldersBelow(path("gone"), path("gone/Album"), why));
    EXPECT_EQ(why, QStringLiteral("Cannot create folder \"%1\": the output folder \"%2\" does "
                                  "not exist")
                       .arg(path("gone/Album"), path("gone")));
    EXPECT_FALSE(QFileInfo::exists(path("gone")));

    // A file where a folder must go.
    WriteFile(path("out/Album B"), "a file");
    EXPECT_FALSE(MakeFoldersBelow(path("out"), path("out/Album B/CD 2"), why));
    EXPECT_TRUE(
        why.startsWith(QStringLiteral("Cannot create folder \"%1\"").arg(path("out/Album B"))))
        << why.toStdString();
    EXPECT_EQ(ReadFile(path("out/Album B")), "a file");

    EXPECT_FALSE(MakeFoldersBelow(path("out"), path("elsewhere/x"), why));
    EXPECT_FALSE(QFileInfo::exists(path("elsewhere")));
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
