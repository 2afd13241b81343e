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
    EXPECT_EQ(GenreEntryOfText("200"), 201) << "a code without a name is kept";
    EXPECT_EQ(GenreEntryOfText("255"), 0);
    EXPECT_EQ(GenreEntryOfText("256"), -1);
    EXPECT_EQ(GenreEntryOfText("Polka Metal"), -1);
}

TEST(TagFields, UnnamedGenreCodeIsOfferedAsItself) {
    TMPEGInfo info;
    info.Header = QStringLiteral("TAG");
    info.Genre = 147;
    EXPECT_EQ(TagFieldsFromInfo(info).GenreEntry, 148);
    info.Genre = 255;
    EXPECT_EQ(TagFieldsFromInfo(info).GenreEntry, 0);
}

TEST(TagFields, TrackTextIsTakenModulo256) {
    EXPECT_EQ(TrackOfText("7"), 7);
    EXPECT_EQ(TrackOfText("300"), 44);
    EXPECT_EQ(TrackOfText("256"), 0);
    EXPECT_EQ(TrackOfText(""), 0);
    EXPECT_EQ(TrackOfText("x7"), 0);
}

TEST(TagFields, FieldsOutsideLatin1AreNamedWhereTheyAreStored) {
    TTagFields fields;
    fields.Title = QStringLiteral("Caf\u00e9"); // Latin-1
    fields.Artist = QStringLiteral("\u65e5\u672c");
    fields.Year = QStringLiteral("199\u2153");
    EXPECT_EQ(UnstorableFields(fields), QStringList({"Artist", "Year"}));

    // Characters beyond a field's capacity are cut, not stored.
    fields = {};
    fields.Album = QString(30, u'a') + QStringLiteral("\u03a9");
    fields.Comment = QString(28, u'c') + QStringLiteral("\u03a9");
    fields.Track = QStringLiteral("3");
    EXPECT_TRUE(UnstorableFields(fields).isEmpty()) << "with a track the comment keeps 28";
    fields.Track.clear();
    EXPECT_EQ(UnstorableFields(fields), QStringList({"Comment"})) << "without one it keeps 30";
}
