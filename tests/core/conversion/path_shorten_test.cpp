#include "conversion/PathShorten.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <ostream>

static void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// Every form ShortenPathOnce gives, starting with Path itself.
QStringList ShorteningSteps(QString Path) {
    QStringList Steps{Path};
    while (ShortenPathOnce(Path))
        Steps << Path;
    return Steps;
}

TEST(PathShortenTest, DrivePathDropsOneFolderAtATimeDownToTheFileName) {
    const QStringList Expected = {
        "C:\\Music\\Albums\\Live 1999\\track01.wav",
        "C:\\...\\Albums\\Live 1999\\track01.wav",
        "C:\\...\\Live 1999\\track01.wav",
        "C:\\...\\track01.wav",
    };
    ASSERT_EQ(Expected[0].size(), 37);
    EXPECT_EQ(ShorteningSteps(Expected[0]), Expected);
    EXPECT_EQ(Expected.last().size(), 18);
}

TEST(PathShortenTest, PosixPathKeepsItsRootSlash) {
    const QStringList Expected = {
        "/home/ann/Music/Albums/Live 1999/track01.wav",
        "/.../ann/Music/Albums/Live 1999/track01.wav",
        "/.../Music/Albums/Live 1999/track01.wav",
        "/.../Albums/Live 1999/track01.wav",
        "/.../Live 1999/track01.wav",
        "/.../track01.wav",
    };
    EXPECT_EQ(ShorteningSteps(Expected[0]), Expected);
}

TEST(PathShortenTest, EitherSeparatorSplitsFolders) {
    EXPECT_EQ(ShorteningSteps("C:/Music\\Albums/Live 1999\\track01.wav"),
              QStringList({"C:/Music\\Albums/Live 1999\\track01.wav",
                           "C:/...\\Albums/Live 1999\\track01.wav", "C:/.../Live 1999\\track01.wav",
                           "C:/...\\track01.wav"}));
    // A relative path has no root to keep.
    EXPECT_EQ(ShortenPath("Music/Albums/Live 1999/track01.wav", 33),
              ".../Albums/Live 1999/track01.wav");
}

TEST(PathShortenTest, LimitDecidesHowMuchOfTheTailStays) {
    const QString Path = "C:\\Music\\Albums\\Live 1999\\track01.wav";
    EXPECT_EQ(ShortenPath(Path, 36), "C:\\...\\Albums\\Live 1999\\track01.wav");
    EXPECT_EQ(ShortenPath(Path, 30), "C:\\...\\Live 1999\\track01.wav");
    // Room for little more than the file name: the file name alone.
    EXPECT_EQ(ShortenPath(Path, 19), "C:\\...\\track01.wav");
    // At or above the length, and at or below 18, nothing changes.
    EXPECT_EQ(ShortenPath(Path, 37), Path);
    EXPECT_EQ(ShortenPath(Path, 100), Path);
    EXPECT_EQ(ShortenPath(Path, 18), Path);
    EXPECT_EQ(ShortenPath(Path, -1), Path);
}

TEST(PathShortenTest, ShortPathsAreNeverShortened) {
    for (QString Path :
         {QString("C:\\a\\b\\c\\d\\e\\f.wav"), QString("/a/b/c/d/e/f/gg.wav"), QString()}) {
        ASSERT_LE(Path.size(), 19);
        const QString Before = Path;
        EXPECT_FALSE(ShortenPathOnce(Path));
        EXPECT_EQ(Path, Before);
    }
}

TEST(PathShortenTest, WithoutAShorterFormThePathStaysWhole) {
    // No folder to drop: the root and "..." would only be added in front.
    QString Name = "a_recording_without_any_folder.wav";
    EXPECT_FALSE(ShortenPathOnce(Name));
    EXPECT_EQ(Name, "a_recording_without_any_folder.wav");
    // A folder shorter than "..." is not worth replacing by it.
    QString Short = "C:\\ab\\a_rather_long_recording_name.wav";
    EXPECT_FALSE(ShortenPathOnce(Short));
    EXPECT_EQ(Short, "C:\\ab\\a_rather_long_recording_name.wav");
}

TEST(PathShortenTest, LongTailsAndFileNamesAreKeptWhole) {
    const QString Name = QString(300, u'n') + ".wav";
    const QString Path = "/srv/" + QString(400, u'd') + "/" + QString(200, u'e') + "/" + Name;
    QString Shortened = Path;
    ASSERT_TRUE(ShortenPathOnce(Shortened));
    EXPECT_EQ(Shortened, "/.../" + QString(200, u'e') + "/" + Name);
    ASSERT_TRUE(ShortenPathOnce(Shortened));
    EXPECT_EQ(Shortened, "/.../" + Name);
    EXPECT_FALSE(ShortenPathOnce(Shortened));
}

} // namespace
