#include "tageditor/TagUpdate.h"

#include <gtest/gtest.h>

TEST(TagFields, FileWithoutTagOffersNoTitleYearOrGenre) {
    TMPEGInfo info; // as loaded from an untagged file: the title holds the file name
    info.Title = QStringLiteral("song.mp3");
    const TTagFields fields = TagFieldsFromInfo(info);
    EXPECT_FALSE(fields.HasTag);
    EXPECT_TRUE(fields.Title.isEmpty());
    EXPECT_TRUE(fields.Year.isEmpty()) << "four spaces are no year";
    EXPECT_TRUE(fields.Track.isEmpty());
    EXPECT_EQ(fields.GenreEntry, 0);
}

TEST(TagFields, TaggedFileOffersItsFields) {
    TMPEGInfo info;
    info.Header = QStringLiteral("TAG");
    info.Title = QStringLiteral("Title");
    info.Year = QString(QChar(0)) + "99 ";
    info.Track = 7;
    info.Genre = 17;
    const TTagFields fields = TagFieldsFromInfo(info);
    EXPECT_TRUE(fields.HasTag);
    EXPECT_EQ(fields.Title, "Title");
    EXPECT_EQ(fields.Year, "99");
    EXPECT_EQ(fields.Track, "7");
    EXPECT_EQ(fields.GenreEntry, 18);
}

TEST(TagFields, GenresAreFoundByNameOrCode) {
    EXPECT_EQ(GenreEntryOfText("Rock"), 18);
    EXPECT_EQ(GenreEntryOfText("rock & roll"), 79);
    EXPECT_EQ(GenreEntryOfText("0"), 1);
    EXPECT_EQ(GenreEntryOfText("125"), 126);
    EXPECT_EQ(GenreEntryOfText("200"), 0) << "a code without a name means none";
    EXPECT_EQ(GenreEntryOfText("256"), -1);
    EXPECT_EQ(GenreEntryOfText("Polka Metal"), -1);
}
