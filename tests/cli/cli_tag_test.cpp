#include "cli/CliRunner.h"
#include "support/TaggedMp3.h"
#include "support/TestMedia.h"
#include "tageditor/Id3v2Tag.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testmedia;

namespace {

QJsonObject InfoJson(CliTest::Result r) {
    return QJsonDocument::fromJson(r.out.toUtf8()).array().at(0).toObject();
}

} // namespace

TEST_F(CliTest, TagWritesKeepsUnsetFieldsAndRemoves) {
    WriteSineWav(path("a.wav"), 2, 44100, 2.0, 440);
    ASSERT_EQ(Run({"encode", "-m", "joint", path("a.wav")}).exitCode, 0);
    const qint64 audioSize = QFileInfo(path("a.MP3")).size();

    Result r =
        Run({"tag", path("a.MP3"), "--title", "A title that is longer than thirty characters",
             "--artist", "Someone", "--year", "19999", "--track", "300", "--genre", "trip-hop"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(path("a.MP3")).size(), audioSize + 128);

    r = Run({"tag", path("a.MP3"), "--album", "Later", "--genre", "255"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(path("a.MP3")).size(), audioSize + 128)
        << "a second tag replaces the first";

    QJsonObject info = InfoJson(Run({"info", "--json", path("a.MP3")}));
    EXPECT_EQ(info["Kind"].toString(), "mpeg");
    EXPECT_EQ(info["Header"].toString(), "TAG");
    EXPECT_EQ(info["Title"].toString(), "A title that is longer than th");
    EXPECT_EQ(info["Artist"].toString(), "Someone");
    EXPECT_EQ(info["Album"].toString(), "Later");
    EXPECT_EQ(info["Year"].toString(), "1999");
    EXPECT_EQ(info["Track"].toInt(), 44) << "track numbers are taken modulo 256";
    EXPECT_EQ(info["Genre"].toInt(), 255);
    EXPECT_EQ(info["Version"].toInt(), 1);
    EXPECT_EQ(info["Layer"].toInt(), 3);
    EXPECT_EQ(info["Mode"].toInt(), 1);
    EXPECT_EQ(info["BitRate"].toInt(), 128);
    EXPECT_EQ(info["Duration"].toInt(), 2);

    ASSERT_EQ(Run({"tag", "--remove", path("a.MP3")}).exitCode, 0);
    EXPECT_EQ(QFileInfo(path("a.MP3")).size(), audioSize);
    info = InfoJson(Run({"info", "--json", path("a.MP3")}));
    EXPECT_EQ(info["Header"].toString(), "BAD");
}

TEST_F(CliTest, TagKeepsUnnamedGenresAndWritesID3v11Tracks) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    ASSERT_EQ(Run({"tag", path("a.MP3"), "--genre", "147", "--year", "", "--track", "5",
                   "--comment", "123456789012345678901234567890"})
                  .exitCode,
              0);
    QByteArray tag = ReadFile(path("a.MP3")).right(128);
    EXPECT_EQ(uint8_t(tag[127]), 147);
    EXPECT_EQ(tag.mid(93, 4), QByteArray(4, '\0'));
    EXPECT_EQ(tag.mid(97, 30), "1234567890123456789012345678" + QByteArray(1, '\0') + '\5');

    // Another field changed: the code stays.
    ASSERT_EQ(Run({"tag", path("a.MP3"), "--title", "Other"}).exitCode, 0);
    tag = ReadFile(path("a.MP3")).right(128);
    EXPECT_EQ(uint8_t(tag[127]), 147);
    EXPECT_EQ(uint8_t(tag[126]), 5);

    const Result text = Run({"info", path("a.MP3")});
    EXPECT_FALSE(text.out.contains(QChar(0))) << "an empty year prints as nothing";
    EXPECT_TRUE(text.out.contains("Comment:      1234567890123456789012345678\n"));
    EXPECT_TRUE(text.out.contains("Track:        5\n"));
    EXPECT_EQ(InfoJson(Run({"info", "--json", path("a.MP3")}))["Year"].toString(), "");
}

TEST_F(CliTest, TagRefusesCharactersATagCannotHoldUnlessLossy) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    const QByteArray before = ReadFile(path("a.MP3"));
    Result r = Run({"tag", path("a.MP3"), "--title", QStringLiteral("\u03a9mega"), "--artist",
                    QStringLiteral("Caf\u00e9")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Title cannot be stored")) << r.err.toStdString();
    EXPECT_EQ(ReadFile(path("a.MP3")), before);

    r = Run({"tag", path("a.MP3"), "--lossy", "--title", QStringLiteral("\u03a9mega"), "--artist",
             QStringLiteral("Caf\u00e9")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray tag = ReadFile(path("a.MP3")).right(128);
    EXPECT_EQ(tag.mid(3, 6), QByteArray("?mega\0", 6));
    EXPECT_EQ(tag.mid(33, 4), "Caf\xe9");
}

TEST_F(CliTest, TagRefusesWhatItCannotTagWithoutTouchingIt) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    const QByteArray wav = ReadFile(path("a.wav"));
    Result r = Run({"tag", path("a.wav"), "--title", "x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("a.wav"));
    EXPECT_EQ(ReadFile(path("a.wav")), wav);

    EXPECT_EQ(Run({"tag", path("missing.mp3"), "--title", "x"}).exitCode, 1);
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    EXPECT_EQ(Run({"tag", path("a.MP3"), "--genre", "Polka Metal"}).exitCode, 2);
    EXPECT_EQ(Run({"tag", path("a.MP3"), "--track", "seven"}).exitCode, 2);
    EXPECT_EQ(Run({"tag", path("a.MP3"), "--remove", "--title", "x"}).exitCode, 2);
    EXPECT_EQ(Run({"tag"}).exitCode, 2);
}

TEST_F(CliTest, InfoTellsTheKindOfEveryFile) {
    WriteSineWav(path("a.wav"), 1, 22050, 1.0, 440);
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    WriteFile(path("junk.bin"), QByteArray(5000, 'x'));
    const Result r = Run({"info", "--json", path("a.wav"), path("a.MP3"), path("junk.bin")});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0].toObject()["Kind"].toString(), "wave");
    EXPECT_EQ(records[1].toObject()["Kind"].toString(), "mpeg");
    EXPECT_EQ(records[1].toObject()["Version"].toInt(), 2) << "22050 Hz is MPEG 2";
    EXPECT_EQ(records[2].toObject()["Kind"].toString(), "unreadable");
}

// A FLAC file holding what looks like MPEG frames, and other bytes holding a frame pair: tag
// refuses both and says why, info lists both as unreadable, and neither file changes.
TEST_F(CliTest, TagAndInfoLeaveFilesThatAreNotMpegAudioAlone) {
    QByteArray frame(417, '\0');
    frame.replace(0, 4, QByteArray("\xFF\xFB\x90\x00", 4));
    struct Case {
        const char *name;
        QByteArray bytes;
        QString tagProblem, infoProblem;
    };
    for (const Case &c :
         {Case{"a.flac", "fLaC" + QByteArray(30, '\x11') + frame.repeated(20),
               "not MPEG audio: FLAC file", "not MPEG audio: FLAC file"},
          Case{"b.bin", QByteArray(30, '\x11') + frame.repeated(2) + QByteArray(3000, '\x22'),
               "not MPEG audio: no run of frames", "neither a WAV file nor MPEG audio"}}) {
        SCOPED_TRACE(c.name);
        WriteFile(path(c.name), c.bytes);
        for (const QStringList &args : {QStringList{"tag", path(c.name), "--title", "x"},
                                        QStringList{"tag", "--remove", path(c.name)}}) {
            const Result r = Run(args);
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_TRUE(r.err.contains(c.tagProblem + "; nothing written")) << r.err.toStdString();
            EXPECT_EQ(ReadFile(path(c.name)), c.bytes);
        }
        const Result r = Run({"info", "--json", path(c.name)});
        EXPECT_EQ(r.exitCode, 1);
        const QJsonObject info = InfoJson(r);
        EXPECT_EQ(info["Kind"].toString(), "unreadable");
        EXPECT_EQ(info["Problem"].toString(), c.infoProblem);
        EXPECT_TRUE(Run({"info", path(c.name)}).err.contains(c.infoProblem));
    }
}

TEST_F(CliTest, TagWritesTheId3v2TagTooUnlessId3v1Only) {
    WriteEncodedMp3(path("a.mp3"));
    Id3v2TagFields fields;
    fields.title = "v2 Title";
    fields.artist = "v2 Artist";
    fields.genre = "Hip-Hop";
    fields.picture = QByteArray(1500, 'j');
    fields.withId3v1 = true;
    fields.v1Title = "v1 Title";
    TagWithTagLib(path("a.mp3"), fields);
    const QByteArray picture = Id3v2Frame(ReadFile(path("a.mp3")), "APIC");
    ASSERT_FALSE(picture.isEmpty());

    // Characters ID3v1 cannot hold are kept by the ID3v2 tag: a note, no refusal.
    Result r = Run({"tag", path("a.mp3"), "--title", QStringLiteral("\u65e5\u672c Title"),
                    "--genre", "rhythm and blues"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("the ID3v2 tag keeps every character")) << r.err.toStdString();
    QByteArray file = ReadFile(path("a.mp3"));
    EXPECT_EQ(Id3v2Version(file), 3);
    EXPECT_EQ(Id3v2Frame(file, "APIC"), picture);
    TId3v2Fields v2 = ReadId3v2Fields(path("a.mp3"));
    EXPECT_EQ(v2.Title, QStringLiteral("\u65e5\u672c Title"));
    EXPECT_EQ(v2.Artist, "v2 Artist");
    EXPECT_EQ(v2.GenreEntry, 15) << "R&B";
    EXPECT_EQ(file.right(128).mid(3, 9), QByteArray("?? Title\0", 9));
    EXPECT_EQ(file.right(128).mid(33, 9), "v2 Artist") << "ID3v1 gets the fields shown";
    EXPECT_EQ(uint8_t(file.right(128)[127]), 14);

    // --id3v1-only: the old way, starting from the ID3v1 tag and leaving the ID3v2 tag.
    const QByteArray before = file;
    r = Run({"tag", path("a.mp3"), "--id3v1-only", "--album", "Only v1"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    file = ReadFile(path("a.mp3"));
    EXPECT_EQ(file.left(file.size() - 128), before.left(before.size() - 128));
    EXPECT_EQ(file.right(128).mid(3, 9), QByteArray("?? Title\0", 9));
    EXPECT_EQ(file.right(128).mid(63, 7), "Only v1");
    EXPECT_EQ(ReadId3v2Fields(path("a.mp3")).Album, "");

    // --remove takes the ID3v1 tag only.
    ASSERT_EQ(Run({"tag", "--remove", path("a.mp3")}).exitCode, 0);
    EXPECT_EQ(ReadFile(path("a.mp3")), before.left(before.size() - 128));
}
