#include "app/FolderWalk.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

using testmedia::WriteFile;

namespace {

class FolderWalkTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return QDir::cleanPath(dir.filePath(name)); }
    // The walk goes by names only: empty files do.
    void touch(const QString &name) const {
        const QString p = path(name);
        QDir().mkpath(QFileInfo(p).absolutePath());
        WriteFile(p, QByteArray());
    }
    void folder(const QString &name) const { ASSERT_TRUE(QDir().mkpath(path(name))); }
    void link(const QString &target, const QString &name) const {
        ASSERT_TRUE(QFile::link(target, path(name))) << name.toStdString();
    }

    // "relative path: kind" of every file found below Base, in walk order.
    static QStringList listing(const TWalkResult &result, const QString &base) {
        QStringList lines;
        for (const TWalkedFile &file : result.Files) {
            EXPECT_EQ(file.Base, base);
            lines << QDir(base).relativeFilePath(file.Path) + (file.Kind == lkWave
                                                                   ? QStringLiteral(": wave")
                                                                   : QStringLiteral(": mpeg"));
        }
        return lines;
    }

    QTemporaryDir dir;
};

bool AnyLine(const QStringList &lines, const QString &start, const QString &needle) {
    for (const QString &line : lines) {
        if (line.startsWith(start) && line.contains(needle))
            return true;
    }
    return false;
}

} // namespace

TEST(ListKindOfFile, AudioExtensionsPickTheirListAndOthersNone) {
    EXPECT_EQ(ListKindOfFile("/m/a.wav"), lkWave);
    EXPECT_EQ(ListKindOfFile("/m/a.WAV"), lkWave);
    EXPECT_EQ(ListKindOfFile("/m/a.flac"), lkWave);
    EXPECT_EQ(ListKindOfFile("/m/a.Aiff"), lkWave);
    EXPECT_EQ(ListKindOfFile("/m/a.mp3"), lkMpeg);
    EXPECT_EQ(ListKindOfFile("/m/a.MP2"), lkMpeg);
    EXPECT_EQ(ListKindOfFile("/m/a.mp1"), lkMpeg);
    EXPECT_EQ(ListKindOfFile("/m/a.m3u"), std::nullopt);
    EXPECT_EQ(ListKindOfFile("/m/cover.jpg"), std::nullopt);
    EXPECT_EQ(ListKindOfFile("/m/mp3"), std::nullopt);
    EXPECT_EQ(ListKindOfFile("/m/x.mp3/readme"), std::nullopt);
}

TEST(NaturalCompare, DigitRunsCompareByValue) {
    EXPECT_LT(NaturalCompare("2", "10"), 0);
    EXPECT_GT(NaturalCompare("10", "2"), 0);
    EXPECT_LT(NaturalCompare("Track 9.mp3", "Track 10.mp3"), 0);
    EXPECT_LT(NaturalCompare("disc1 track20", "disc2 track3"), 0);
    // Longer than any integer type: still by value.
    EXPECT_LT(NaturalCompare("a99999999999999999999", "a100000000000000000000"), 0);
    EXPECT_LT(NaturalCompare("x", "x1"), 0);
}

TEST(NaturalCompare, CaseFirstIgnoredThenDecidesOnlyTies) {
    EXPECT_LT(NaturalCompare("apple", "Banana"), 0);
    EXPECT_LT(NaturalCompare("Apple", "banana"), 0);
    EXPECT_LT(NaturalCompare("a2", "A10"), 0);
    // Equal but for case or leading zeros: never 0, and antisymmetric.
    EXPECT_NE(NaturalCompare("Song", "song"), 0);
    EXPECT_EQ(NaturalCompare("Song", "song"), -NaturalCompare("song", "Song"));
    EXPECT_NE(NaturalCompare("01", "1"), 0);
    EXPECT_EQ(NaturalCompare("01", "1"), -NaturalCompare("1", "01"));
    EXPECT_EQ(NaturalCompare("Émigré 3", "Émigré 3"), 0);
    EXPECT_LT(NaturalCompare("émigré", "ÉMIGRÉZ"), 0);
}

TEST_F(FolderWalkTest, ListsAudioInNaturalOrderFilesBeforeSubFoldersFollowingLinksOnce) {
    touch("root/10 Last.wav");
    touch("root/2 Second.mp3");
    touch("root/1 first.WAV");
    touch("root/notes.txt");
    touch("root/cover.jpg");
    touch("root/.hidden.mp3");
    touch("root/.trash/old.mp3");
    touch("root/Album A/02 Song.mp3");
    touch("root/Album A/01 Song.mp3");
    touch("root/Album A/Track: one.flac");
    touch("root/Album B/01 Song.mp3");
    touch("root/Album B/Émigré été.wav");
    touch("root/Album B/Disc 10/a.mp2");
    touch("root/Album B/Disc 2/b.mp1");
    folder("root/Empty");
    touch("outside/x.mp3");
    touch("outside/inner/y.wav");
    // A loop back to the top, a second way into a folder walked by its own name, a folder
    // outside the tree, a file outside it, a link to nothing.
    link("..", "root/Album B/loop");
    link("Album A", "root/Link to A");
    link(path("outside"), "root/zz outside");
    link("../outside/x.mp3", "root/song link.mp3");
    link("missing.mp3", "root/dangling.mp3");
    // A folder named like a song is a folder.
    touch("root/fake.mp3/z.wav");

    const TWalkResult result = WalkFolder(path("root") + "/./");
    EXPECT_FALSE(result.Aborted);
    EXPECT_EQ(listing(result, path("root")), QStringList({
                                                 "1 first.WAV: wave",
                                                 "2 Second.mp3: mpeg",
                                                 "10 Last.wav: wave",
                                                 "song link.mp3: mpeg",
                                                 "Album A/01 Song.mp3: mpeg",
                                                 "Album A/02 Song.mp3: mpeg",
                                                 "Album A/Track: one.flac: wave",
                                                 "Album B/01 Song.mp3: mpeg",
                                                 "Album B/Émigré été.wav: wave",
                                                 "Album B/Disc 2/b.mp1: mpeg",
                                                 "Album B/Disc 10/a.mp2: mpeg",
                                                 "fake.mp3/z.wav: wave",
                                                 "zz outside/x.mp3: mpeg",
                                                 "zz outside/inner/y.wav: wave",
                                             }));
    EXPECT_EQ(result.Problems.size(), 3) << result.Problems.join('\n').toStdString();
    EXPECT_TRUE(AnyLine(result.Problems, "Skipped folder ", path("root/Album B/loop")));
    EXPECT_TRUE(AnyLine(result.Problems, "Skipped folder ", path("root/Link to A")));
    EXPECT_TRUE(AnyLine(result.Problems, "Cannot read file ", path("root/dangling.mp3")));
}

TEST_F(FolderWalkTest, AFolderReachedThroughTwoLinksIsWalkedOnceUnderTheFirst) {
    touch("outside/x.mp3");
    touch("root/a/keep.mp3");
    link(path("outside"), "root/a/one");
    link(path("outside"), "root/b");

    const TWalkResult result = WalkFolder(path("root"));
    EXPECT_EQ(listing(result, path("root")),
              QStringList({"a/keep.mp3: mpeg", "a/one/x.mp3: mpeg"}));
    ASSERT_EQ(result.Problems.size(), 1);
    EXPECT_TRUE(result.Problems[0].startsWith("Skipped folder " + path("root/b") + ":"));
}

TEST_F(FolderWalkTest, BaseIsTheCleanAbsoluteFolderEvenFromARelativeName) {
    touch("root/sub/a.wav");
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path("root")));
    const TWalkResult result = WalkFolder("sub/../sub");
    QDir::setCurrent(saved);
    ASSERT_EQ(result.Files.size(), 1u);
    EXPECT_EQ(result.Files[0].Base, path("root/sub"));
    EXPECT_EQ(result.Files[0].Path, path("root/sub/a.wav"));
}

TEST_F(FolderWalkTest, AMissingFolderOrAFileIsAProblemNotAThrow) {
    touch("song.mp3");
    const TWalkResult missing = WalkFolder(path("nowhere"));
    EXPECT_TRUE(missing.Files.empty());
    EXPECT_EQ(missing.Problems,
              QStringList("Cannot read folder " + path("nowhere") + ": No such file or directory"));
    const TWalkResult file = WalkFolder(path("song.mp3"));
    EXPECT_TRUE(file.Files.empty());
    EXPECT_EQ(file.Problems,
              QStringList("Cannot read folder " + path("song.mp3") + ": Not a directory"));
}

TEST_F(FolderWalkTest, AnUnreadableSubFolderIsNamedAndTheRestWalked) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    touch("root/a/1.mp3");
    touch("root/b/2.mp3");
    touch("root/c/3.mp3");
    ASSERT_TRUE(QFile::setPermissions(path("root/b"), QFileDevice::Permissions()));
    const TWalkResult result = WalkFolder(path("root"));
    QFile::setPermissions(path("root/b"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(listing(result, path("root")), QStringList({"a/1.mp3: mpeg", "c/3.mp3: mpeg"}));
    EXPECT_EQ(result.Problems,
              QStringList("Cannot read folder " + path("root/b") + ": Permission denied"));
}

TEST_F(FolderWalkTest, AnAbortBeforeTheFirstEntryFindsNothing) {
    touch("root/a.mp3");
    touch("root/sub/b.mp3");
    const std::atomic<bool> abort{true};
    const TWalkResult result = WalkFolder(path("root"), &abort);
    EXPECT_TRUE(result.Aborted);
    EXPECT_TRUE(result.Files.empty());
    const std::atomic<bool> goOn{false};
    EXPECT_EQ(WalkFolder(path("root"), &goOn).Files.size(), 2u);
}

TEST_F(FolderWalkTest, NamesThatAreNotUtf8KeepTheirBytes) {
    folder("root");
    const QByteArray name = QFile::encodeName(path("root")) + "/bad\xff.mp3";
    // Made through the bytes: a QString cannot name this file.
    FILE *raw = std::fopen(name.constData(), "wb");
    ASSERT_NE(raw, nullptr);
    std::fclose(raw);
    const TWalkResult result = WalkFolder(path("root"));
    // Neither can the temporary folder's clean-up.
    std::remove(name.constData());
    ASSERT_EQ(result.Files.size(), 1u);
    EXPECT_TRUE(result.Files[0].Path.endsWith(QChar(0xDCFF) + QStringLiteral(".mp3")));
}
