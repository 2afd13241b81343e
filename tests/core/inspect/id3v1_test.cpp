#include "inspect/MPGTools.h"
#include "support/FileSizeLimit.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

using testmedia::ReadFile;
using testmedia::WriteFile;

namespace {

// Twenty MPEG 1 Layer III frames, 128 kbit/s at 44100 Hz, with a marker in each payload.
QByteArray Audio() {
    return (QByteArray("\xFF\xFB\x90\x00", 4) + QByteArray(413, 'a')).repeated(20);
}

std::array<uint8_t, ID3v1Size> Block(const QByteArray &Bytes) {
    std::array<uint8_t, ID3v1Size> B{};
    std::memcpy(B.data(), Bytes.constData(), size_t(std::min<qsizetype>(Bytes.size(), ID3v1Size)));
    return B;
}

bool Read(const std::array<uint8_t, ID3v1Size> &B, TMPEGInfo &Info) {
    return ReadID3v1(reinterpret_cast<const uint8_t(&)[ID3v1Size]>(*B.data()), Info);
}

QByteArray Field(const std::array<uint8_t, ID3v1Size> &B, int At, int Size) {
    return QByteArray(reinterpret_cast<const char *>(B.data()) + At, Size);
}

class TagFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        Path = Dir.filePath(QStringLiteral("song.mp3"));
        WriteFile(Path, Audio());
        Mp3.SetFileName(Path);
        ASSERT_TRUE(Mp3.IsValid());
    }
    QTemporaryDir Dir;
    QString Path;
    TMPEGAudio Mp3;
};

} // namespace

TEST(ID3v1BlockTest, BuildPlacesEveryFieldCutToItsCapacity) {
    TMPEGInfo Info;
    Info.Title = QString(31, u'T');
    Info.Artist = QStringLiteral("Caf\u00e9 \u03a9"); // é is Latin-1, Ω is not
    Info.Year = QStringLiteral("19999");
    Info.Comment = QStringLiteral("note");
    Info.Track = 7;
    Info.Genre = 17;
    const auto B = BuildID3v1(Info);
    EXPECT_EQ(Field(B, 0, 3), "TAG");
    EXPECT_EQ(Field(B, 3, 30), QByteArray(30, 'T'));
    EXPECT_EQ(Field(B, 33, 6), "Caf\xe9 ?");
    EXPECT_EQ(Field(B, 39, 24), QByteArray(24, '\0'));
    EXPECT_EQ(Field(B, 93, 4), "1999");
    EXPECT_EQ(Field(B, 97, 5), QByteArray("note\0", 5));
    EXPECT_EQ(B[125], 0);
    EXPECT_EQ(B[126], 7);
    EXPECT_EQ(B[127], 17);
}

TEST(ID3v1BlockTest, ReadTrimsTextsButTakesTheYearAsItIs) {
    QByteArray Bytes = "TAG" + QByteArray("  Lead  \0junk", 13);
    Bytes = Bytes.leftJustified(33, '\0') + QByteArray(30, 'x') + QByteArray(30, ' ') +
            QByteArray(4, '\0') + QByteArray(29, 'c') + "C" + "\xFF";
    TMPEGInfo Info;
    ASSERT_TRUE(Read(Block(Bytes), Info));
    EXPECT_EQ(Info.Header, QStringLiteral("TAG"));
    EXPECT_EQ(Info.Title, QStringLiteral("  Lead"));
    EXPECT_EQ(Info.Artist, QString(30, u'x'));
    EXPECT_TRUE(Info.Album.IsEmpty());
    EXPECT_EQ(Info.Year, QString(4, QChar(0)));
    EXPECT_TRUE(TagYearText(Info.Year).isEmpty()) << "a year written empty shows empty";
    EXPECT_EQ(Info.Comment, QString(29, u'c') + u'C') << "an ID3v1.0 comment of 30 characters";
    EXPECT_EQ(Info.Track, 0) << "its last letter is no track number";
    EXPECT_EQ(Info.Genre, 255);

    TMPEGInfo Untouched;
    EXPECT_FALSE(Read(Block("tag" + Bytes.mid(3)), Untouched));
    EXPECT_EQ(Untouched.Header, QStringLiteral("BAD"));
}

TEST(ID3v1BlockTest, TrackIsWrittenAndReadTheID3v11Way) {
    TMPEGInfo Info;
    Info.Comment = QString(29, u'c') + u'C';
    Info.Track = 5;
    auto B = BuildID3v1(Info);
    EXPECT_EQ(Field(B, 97, 28), QByteArray(28, 'c'));
    EXPECT_EQ(B[125], 0) << "readers take byte 126 as a track only behind a zero byte";
    EXPECT_EQ(B[126], 5);
    TMPEGInfo Back;
    ASSERT_TRUE(Read(B, Back));
    EXPECT_EQ(Back.Comment, QString(28, u'c'));
    EXPECT_EQ(Back.Track, 5);

    // Without a track the comment keeps all 30 characters and reads back whole.
    Info.Track = 0;
    B = BuildID3v1(Info);
    EXPECT_EQ(Field(B, 97, 30), QByteArray(29, 'c') + 'C');
    ASSERT_TRUE(Read(B, Back));
    EXPECT_EQ(Back.Comment, Info.Comment);
    EXPECT_EQ(Back.Track, 0);

    // A short comment leaves the zero byte in place by itself.
    Info.Comment = QStringLiteral("short");
    Info.Track = 255;
    B = BuildID3v1(Info);
    ASSERT_TRUE(Read(B, Back));
    EXPECT_EQ(Back.Comment, QStringLiteral("short"));
    EXPECT_EQ(Back.Track, 255);
}

TEST(ID3v1BlockTest, YearTextStopsAtTheFirstZeroByte) {
    EXPECT_EQ(TagYearText(QStringLiteral("1999")), QStringLiteral("1999"));
    EXPECT_EQ(TagYearText(QStringLiteral("    ")), QStringLiteral("    ")) << "no tag: spaces";
    EXPECT_EQ(TagYearText(QStringLiteral("99") + QString(2, QChar(0))), QStringLiteral("99"));
}

TEST(ID3v1BlockTest, GenreTableHasNamesUpTo125Only) {
    EXPECT_EQ(GenreName(0), QStringLiteral("Blues"));
    EXPECT_EQ(GenreName(67), QStringLiteral("Psychadelic"));
    EXPECT_EQ(GenreName(85), QStringLiteral("Bebob"));
    EXPECT_EQ(GenreName(92), QStringLiteral("Progessive Rock"));
    EXPECT_EQ(GenreName(GenreCount - 1), QStringLiteral("Dance Hall"));
    for (int Code : {-1, 126, 255})
        EXPECT_TRUE(GenreName(Code).isEmpty()) << Code;
}

TEST_F(TagFileTest, WriteAppendsOnceReplacesAfterwardsAndRemoveRestoresTheAudio) {
    EXPECT_FALSE(Mp3.HasTag());
    EXPECT_EQ(Mp3.Data().Title, QStringLiteral("song.mp3"));
    EXPECT_EQ(Mp3.DisplayArtist(), QStringLiteral("Unknown Artist"));

    Mp3.SetTitle(QStringLiteral("First"));
    Mp3.SetArtist(QStringLiteral("Band"));
    Mp3.SetYear(QStringLiteral("2001"));
    Mp3.SetGenre(13);
    ASSERT_EQ(Mp3.WriteTag(), 0);
    EXPECT_EQ(ReadFile(Path).size(), Audio().size() + 128);
    EXPECT_TRUE(Mp3.HasTag());
    EXPECT_EQ(Mp3.DisplayTitle(), QStringLiteral("First"));
    EXPECT_EQ(Mp3.DisplayArtist(), QStringLiteral("Band"));
    EXPECT_EQ(Mp3.Data().Year, QStringLiteral("2001"));
    EXPECT_EQ(Mp3.Data().Genre, 13);
    EXPECT_TRUE(Mp3.IsValid());

    Mp3.SetTitle(QStringLiteral("Second"));
    ASSERT_EQ(Mp3.WriteTag(), 0);
    const QByteArray Tagged = ReadFile(Path);
    EXPECT_EQ(Tagged.size(), Audio().size() + 128);
    EXPECT_TRUE(Tagged.startsWith(Audio()));
    EXPECT_EQ(Mp3.Data().Title, QStringLiteral("Second"));
    EXPECT_EQ(Mp3.Data().Artist, QStringLiteral("Band"));

    ASSERT_EQ(Mp3.RemoveTag(), 0);
    EXPECT_EQ(ReadFile(Path), Audio());
    EXPECT_FALSE(Mp3.HasTag());
    EXPECT_EQ(Mp3.RemoveTag(), 0);
    EXPECT_EQ(ReadFile(Path), Audio());
}

TEST_F(TagFileTest, CommentAndTrackSurviveAWriteAsOtherReadersSeeThem) {
    Mp3.SetComment(QString(30, u'c'));
    Mp3.SetTrack(0);
    Mp3.SetYear(QString());
    ASSERT_EQ(Mp3.WriteTag(), 0);
    EXPECT_EQ(Mp3.Data().Comment, QString(30, u'c'));
    EXPECT_EQ(Mp3.Data().Year, QString(4, QChar(0)));
    EXPECT_EQ(Field(Block(ReadFile(Path).right(128)), 93, 4), QByteArray(4, '\0'));

    Mp3.SetComment(QString(29, u'c'));
    Mp3.SetTrack(5);
    ASSERT_EQ(Mp3.WriteTag(), 0);
    EXPECT_EQ(Mp3.Data().Track, 5);
    EXPECT_EQ(Mp3.Data().Comment, QString(28, u'c')) << "no stray track character";
}

TEST_F(TagFileTest, FileOfOnlyATagIsNeverCut) {
    const QByteArray TagOnly = QByteArray("TAGtitle").leftJustified(128, '\0');
    WriteFile(Path, TagOnly);
    Mp3.SetFileName(Path);
    EXPECT_FALSE(Mp3.HasTag());
    EXPECT_TRUE(Mp3.Data().Title.IsEmpty());
    EXPECT_EQ(Mp3.RemoveTag(), 0);
    EXPECT_EQ(ReadFile(Path), TagOnly);
}

TEST_F(TagFileTest, UnopenableFilesAreLeftAloneWithTheErrorCode) {
    TMPEGAudio Other;
    Other.SetFileName(Dir.filePath(QStringLiteral("missing.mp3")));
    EXPECT_EQ(Other.WriteTag(), -1);
    EXPECT_EQ(Other.RemoveTag(), -1);

    ASSERT_TRUE(QDir(Dir.path()).mkdir(QStringLiteral("folder.mp3")));
    Other.SetFileName(Dir.filePath(QStringLiteral("folder.mp3")));
    EXPECT_EQ(Other.WriteTag(), EISDIR);

    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop root from writing";
    ASSERT_TRUE(QFile::setPermissions(Path, QFile::ReadOwner));
    Mp3.SetTitle(QStringLiteral("Lost"));
    EXPECT_EQ(Mp3.WriteTag(), EACCES);
    EXPECT_EQ(ReadFile(Path), Audio());
    EXPECT_FALSE(Mp3.HasTag());
}

TEST_F(TagFileTest, FailedAppendPutsTheFileBackAndThrows) {
    {
        const FileSizeLimit Limit(Audio().size() + 10); // the append fails part-way
        ASSERT_TRUE(Limit.Works);
        Mp3.SetTitle(QStringLiteral("Too big"));
        EXPECT_THROW(Mp3.WriteTag(), EInOutError);
    }
    EXPECT_EQ(ReadFile(Path), Audio());
    EXPECT_FALSE(Mp3.HasTag());
}

TEST_F(TagFileTest, PathsLongerThan255CharactersAreKeptWhole) {
    QString Folder = Dir.path();
    for (int i = 0; i < 3; ++i) {
        Folder += QLatin1Char('/') + QString(100, QChar(u'a' + i));
        ASSERT_TRUE(QDir().mkdir(Folder));
    }
    const QString Long = Folder + QStringLiteral("/deep.mp3");
    WriteFile(Long, Audio());
    Mp3.SetFileName(Long);
    EXPECT_EQ(Mp3.FileName(), Long);
    Mp3.SetTitle(QStringLiteral("Deep"));
    ASSERT_EQ(Mp3.WriteTag(), 0);
    EXPECT_EQ(Mp3.Data().Title, QStringLiteral("Deep"));
    EXPECT_EQ(ReadFile(Long).size(), Audio().size() + 128);
}
