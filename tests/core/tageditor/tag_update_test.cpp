#include "support/TestMedia.h"
#include "tageditor/TagUpdate.h"

#include <QTemporaryDir>
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

// Bytes of another format that hold a stream of MPEG frames, and bytes that hold only a pair:
// neither gets a tag, nor loses one.
TEST(TagUpdate, FilesThatAreNotMpegAudioAreLeftAsTheyWere) {
    QTemporaryDir dir;
    QByteArray frame(417, '\0');
    frame.replace(0, 4, QByteArray("\xFF\xFB\x90\x00", 4)); // MPEG 1 Layer III, 128 kbit/s
    const QByteArray tag = "TAG" + QByteArray(125, 'a');
    struct Case {
        const char *name;
        QByteArray bytes;
        QString problem;
    };
    for (const Case &c :
         {Case{"flac.mp3", "fLaC" + frame.repeated(20) + tag, "not MPEG audio: FLAC file"},
          Case{"pair.mp3", QByteArray(100, 'x') + frame.repeated(2) + QByteArray(3000, 'x') + tag,
               "not MPEG audio: no run of frames"}}) {
        SCOPED_TRACE(c.name);
        const QString name = dir.filePath(c.name);
        testmedia::WriteFile(name, c.bytes);
        TTagFields fields;
        fields.Title = "New";
        for (bool hasTag : {true, false}) {
            fields.HasTag = hasTag;
            const TTagUpdate update = UpdateTag(name, fields);
            EXPECT_EQ(update.Result, TTagUpdateResult::NotMpeg);
            EXPECT_EQ(update.Problem, c.problem);
            EXPECT_EQ(testmedia::ReadFile(name), c.bytes);
        }
    }
    // The same stream without the other format's mark is tagged.
    const QString name = dir.filePath("mpeg.mp3");
    testmedia::WriteFile(name, frame.repeated(20));
    TTagFields fields;
    fields.HasTag = true;
    fields.Title = "New";
    EXPECT_EQ(UpdateTag(name, fields).Result, TTagUpdateResult::Written);
    EXPECT_EQ(testmedia::ReadFile(name).size(), 20 * 417 + 128);
}
