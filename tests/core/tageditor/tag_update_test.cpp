#include "support/FileSizeLimit.h"
#include "support/TaggedMp3.h"
#include "support/TestMedia.h"
#include "tageditor/TagUpdate.h"

#include <QDir>
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

TEST(GenreAliases, OtherTaggersSpellingsNameTheListsCodes) {
    EXPECT_EQ(GenreEntryOfText("Psychedelic"), 68) << "the list spells it Psychadelic";
    EXPECT_EQ(GenreEntryOfText("Psychadelic"), 68);
    EXPECT_EQ(GenreEntryOfText("Alt. Rock"), 41);
    EXPECT_EQ(GenreEntryOfText("alternative rock"), 41);
    EXPECT_EQ(GenreEntryOfText("Alternative"), 21);
    EXPECT_EQ(GenreEntryOfText("Hip Hop"), 8);
    EXPECT_EQ(GenreEntryOfText("hiphop"), 8);
    EXPECT_EQ(GenreEntryOfText("Rhythm and Blues"), 15);
    EXPECT_EQ(GenreEntryOfText("R & B"), 15);
    EXPECT_EQ(GenreEntryOfText("Rock and Roll"), 79);
    EXPECT_EQ(GenreEntryOfText("Progressive Rock"), 93);
    EXPECT_EQ(GenreEntryOfText("Dancehall"), 126);
    EXPECT_EQ(GenreEntryOfText("Jazz-Funk"), 30);
    EXPECT_EQ(GenreEntryOfText("Rock Hop"), -1);
    EXPECT_EQ(GenreEntryOfText("--"), -1) << "punctuation alone is no name";
    // Ignoring punctuation never makes two of the list's names one.
    for (int code = 0; code < GenreCount; ++code)
        EXPECT_EQ(GenreCodeOfName(GenreName(code)), code) << GenreName(code).toStdString();
}

namespace {

using testmedia::Id3v2Frame;
using testmedia::Id3v2Version;
using testmedia::ReadFile;

// A picture's bytes: any bytes will do, TagLib does not look into them.
QByteArray Picture() {
    QByteArray bytes("\xFF\xD8\xFF\xE0", 4);
    for (int i = 0; i < 3000; ++i)
        bytes += char(i * 7 % 251);
    return bytes;
}

class Id3v2UpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("song.mp3");
        testmedia::WriteEncodedMp3(path);
    }
    void Tag(int version = 3) {
        testmedia::Id3v2TagFields fields;
        fields.version = version;
        fields.title = "v2 Title";
        fields.artist = "v2 Artist";
        fields.album = "v2 Album";
        fields.comment = "v2 Comment";
        fields.genre = "Psychedelic";
        fields.year = 2021;
        fields.track = 5;
        fields.picture = Picture();
        fields.withId3v1 = true;
        fields.v1Title = "v1 Title";
        fields.v1Artist = "v1 Artist";
        testmedia::TagWithTagLib(path, fields);
    }
    TTagFields Shown() const {
        TMPEGAudio audio;
        audio.SetFileName(path);
        return TagFieldsFromTags(audio.Data(), ReadId3v2Fields(path));
    }
    TMPEGInfo V1() const {
        TMPEGAudio audio;
        audio.SetFileName(path);
        return audio.Data();
    }
    // The bytes between the ID3v2 tag and the ID3v1 tag.
    static QByteArray Audio(const QByteArray &file) {
        const QByteArray head = file.left(10);
        const auto b = [&](int i) { return int(uint8_t(head[i])); };
        const int tagSize = 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9));
        return file.mid(tagSize, file.size() - tagSize - 128);
    }

    QTemporaryDir dir;
    QString path;
};

} // namespace

TEST_F(Id3v2UpdateTest, FieldsComeFromTheId3v2TagAndUpdateWritesBothTags) {
    Tag(3);
    const QByteArray before = ReadFile(path);
    const QByteArray picture = Id3v2Frame(before, "APIC");
    ASSERT_FALSE(picture.isEmpty());

    const TId3v2Fields v2 = ReadId3v2Fields(path);
    EXPECT_EQ(v2.Version, 3);
    EXPECT_EQ(TagKindsText(true, v2.Version), "ID3v1, ID3v2.3");
    TTagFields fields = Shown();
    EXPECT_TRUE(fields.HasTag);
    EXPECT_EQ(fields.Title, "v2 Title");
    EXPECT_EQ(fields.Artist, "v2 Artist");
    EXPECT_EQ(fields.Album, "v2 Album");
    EXPECT_EQ(fields.Year, "2021");
    EXPECT_EQ(fields.Comment, "v2 Comment");
    EXPECT_EQ(fields.Track, "5");
    EXPECT_EQ(fields.GenreEntry, 68) << "an alias of the list's Psychadelic";

    fields.Title = QStringLiteral("Nouveau \u00e9t\u00e9 \u65e5\u672c");
    fields.Artist = "New Artist";
    fields.GenreEntry = 18; // Rock
    fields.Track = "7";
    ASSERT_EQ(UpdateTag(path, fields).Result, TTagUpdateResult::Written);

    const QByteArray after = ReadFile(path);
    EXPECT_EQ(Id3v2Version(after), 3) << "a 2.3 tag stays 2.3";
    EXPECT_EQ(Id3v2Frame(after, "APIC"), picture) << "the picture byte for byte";
    EXPECT_FALSE(Id3v2Frame(after, "TYER").isEmpty()) << "2.3 keeps its year in TYER";
    EXPECT_TRUE(Id3v2Frame(after, "TDRC").isEmpty());
    EXPECT_EQ(Audio(after), Audio(before));
    const TTagFields shown = Shown();
    EXPECT_EQ(shown.Title, fields.Title) << "the ID3v2 tag keeps every character";
    EXPECT_EQ(shown.Artist, "New Artist");
    EXPECT_EQ(shown.Album, "v2 Album");
    EXPECT_EQ(shown.Year, "2021");
    EXPECT_EQ(shown.Track, "7");
    EXPECT_EQ(shown.GenreEntry, 18);
    const TMPEGInfo v1 = V1();
    EXPECT_EQ(v1.Header, QStringLiteral("TAG"));
    EXPECT_EQ(v1.Title.Text(), QStringLiteral("Nouveau \u00e9t\u00e9 ??")) << "ID3v1 is Latin-1";
    EXPECT_EQ(v1.Artist.Text(), "New Artist");
    EXPECT_EQ(v1.Album.Text(), "v2 Album") << "the ID3v1 tag gets every field shown";
    EXPECT_EQ(v1.Track, 7);
    EXPECT_EQ(v1.Genre, 17);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files), QStringList{"song.mp3"})
        << "no copy is left behind";
}

TEST_F(Id3v2UpdateTest, Version24StaysAndUneditedFramesAreKept) {
    Tag(4);
    const QByteArray before = ReadFile(path);
    TTagFields fields = Shown();
    fields.Album = "Other Album";
    ASSERT_EQ(UpdateTag(path, fields).Result, TTagUpdateResult::Written);
    const QByteArray after = ReadFile(path);
    EXPECT_EQ(Id3v2Version(after), 4);
    for (const char *id : {"APIC", "TDRC", "TIT2", "TPE1", "TRCK", "TCON", "COMM"})
        EXPECT_EQ(Id3v2Frame(after, id), Id3v2Frame(before, id)) << id;
    EXPECT_NE(Id3v2Frame(after, "TALB"), Id3v2Frame(before, "TALB"));
}

TEST_F(Id3v2UpdateTest, RemovingTheId3v1TagLeavesTheId3v2Tag) {
    Tag(3);
    const QByteArray before = ReadFile(path);
    TTagFields fields = Shown();
    fields.HasTag = false;
    ASSERT_EQ(UpdateTag(path, fields).Result, TTagUpdateResult::Written);
    EXPECT_EQ(ReadFile(path), before.left(before.size() - 128));
    const TTagFields shown = Shown();
    EXPECT_FALSE(shown.HasTag);
    EXPECT_EQ(shown.Title, "v2 Title");
    EXPECT_EQ(TagKindsText(shown.HasTag, ReadId3v2Fields(path).Version), "ID3v2.3");

    // Editing a field of a file with only an ID3v2 tag writes that tag and adds no other.
    fields.Title = "Only v2";
    ASSERT_EQ(UpdateTag(path, fields).Result, TTagUpdateResult::Written);
    EXPECT_EQ(Shown().Title, "Only v2");
    EXPECT_NE(V1().Header, QStringLiteral("TAG"));
}

TEST_F(Id3v2UpdateTest, Id3v1OnlyLeavesTheId3v2Tag) {
    Tag(3);
    const QByteArray before = ReadFile(path);
    TTagFields fields = TagFieldsFromInfo(V1());
    EXPECT_EQ(fields.Title, "v1 Title");
    fields.Title = "Changed";
    ASSERT_EQ(UpdateTag(path, fields, TTagTargets::ID3v1Only).Result, TTagUpdateResult::Written);
    const QByteArray after = ReadFile(path);
    EXPECT_EQ(after.left(before.size() - 128), before.left(before.size() - 128));
    EXPECT_EQ(V1().Title.Text(), "Changed");
    EXPECT_EQ(ReadId3v2Fields(path).Title, "v2 Title");
}

TEST_F(Id3v2UpdateTest, InterruptedWriteLeavesTheFileAsItWas) {
    Tag(3);
    const QByteArray before = ReadFile(path);
    TTagFields fields = Shown();
    fields.Title = "Never written";
    {
        const FileSizeLimit limit(before.size() / 2); // the copy stops half-way
        ASSERT_TRUE(limit.Works);
        EXPECT_THROW(UpdateTag(path, fields), EInOutError);
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files), QStringList{"song.mp3"})
        << "the partial copy is gone";
}
