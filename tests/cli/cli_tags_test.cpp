// Tags carried through brindle-cli's encode and decode, read back by TagLib, by our reader
// and by our ID3v1 reader; the audio decoded with libmpg123.
#include "cli/CliRunner.h"
#include "core/tags/TagMedia.h"
#include "inspect/Id3v1.h"
#include "support/TestMedia.h"
#include "tags/TagSet.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <flacfile.h>
#include <id3v2header.h>
#include <mpegfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

#include <csignal>
#include <sndfile.h>
#include <sys/resource.h>

using namespace testmedia;
using namespace tagmedia;

namespace {

class CliTagsTest : public CliTest {
protected:
    // A FLAC file of a tone with every field, a Unicode title and a front cover.
    void TaggedFlac(const QString &Name, const QByteArray &Cover = JpegBytes()) {
        WriteSineSound(path(Name), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 2.0, 440);
        TagLib::FLAC::File file(QFile::encodeName(path(Name)).constData());
        TagLib::Ogg::XiphComment *c = file.xiphComment(true);
        const TTagSet s = FullSet();
        c->addField("TITLE", T(s.Title));
        c->addField("ARTIST", T(s.Artist));
        c->addField("ALBUM", T(s.Album));
        c->addField("DATE", T(s.Date));
        c->addField("GENRE", T(s.Genre));
        c->addField("COMMENT", T(s.Comment));
        c->addField("ALBUMARTIST", T(s.AlbumArtist));
        c->addField("COMPOSER", T(s.Composer));
        c->addField("TRACKNUMBER", "3");
        c->addField("TRACKTOTAL", "12");
        c->addField("DISCNUMBER", "1/2");
        file.addPicture(FlacPicture(Cover, "image/jpeg", TagLib::FLAC::Picture::FrontCover));
        ASSERT_TRUE(file.save());
    }

    Result RunLimited(const QStringList &Args, rlim_t Bytes) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configHome());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setChildProcessModifier([Bytes] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{Bytes, Bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        process.start(QStringLiteral(BRINDLE_CLI_PATH), Args);
        EXPECT_TRUE(process.waitForFinished(120000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
};

TMPEGInfo OwnID3v1(const QString &Path) {
    const QByteArray bytes = ReadFile(Path);
    uint8_t block[ID3v1Size]{};
    if (bytes.size() > ID3v1Size)
        std::memcpy(block, bytes.constData() + bytes.size() - ID3v1Size, ID3v1Size);
    TMPEGInfo info;
    ReadID3v1(block, info);
    return info;
}

TEST_F(CliTagsTest, EncodeCarriesFlacTagsAndCoverIntoTheMp3AndStaysGapless) {
    TaggedFlac("a.flac");
    Result r = Run({"encode", path("a.flac")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = Run({"encode", "--no-tags", "-o", path("plain"), path("a.flac")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_TRUE(QFileInfo::exists(path("plain/a.MP3")));

    {
        TagLib::MPEG::File file(QFile::encodeName(path("a.MP3")).constData());
        ASSERT_TRUE(file.hasID3v2Tag());
        EXPECT_EQ(file.ID3v2Tag()->header()->majorVersion(), 4u);
        EXPECT_EQ(file.ID3v2Tag()->frameList("TRCK").front()->toString(), "3/12");
        EXPECT_EQ(file.ID3v2Tag()->frameList("TPOS").front()->toString(), "1/2");
    }
    const TTagSet read = ReadTags(path("a.MP3")).Tags;
    EXPECT_EQ(read.Kinds, (QStringList{"ID3v2.4", "ID3v1"}));
    const TTagSet full = FullSet();
    EXPECT_EQ(read.Title, full.Title);
    EXPECT_EQ(read.Artist, full.Artist);
    EXPECT_EQ(read.Album, full.Album);
    EXPECT_EQ(read.Date, full.Date);
    EXPECT_EQ(read.Genre, full.Genre);
    EXPECT_EQ(read.Comment, full.Comment);
    EXPECT_EQ(read.AlbumArtist, full.AlbumArtist);
    EXPECT_EQ(read.Composer, full.Composer);
    EXPECT_EQ(read.Track, 3);
    EXPECT_EQ(read.TrackTotal, 12);
    EXPECT_EQ(read.Disc, 1);
    EXPECT_EQ(read.DiscTotal, 2);
    ASSERT_TRUE(read.FrontCover.has_value());
    EXPECT_EQ(read.FrontCover->Data, JpegBytes());

    const TMPEGInfo v1 = OwnID3v1(path("a.MP3"));
    EXPECT_EQ(v1.Header.Text(), "TAG");
    EXPECT_EQ(v1.Title.Text(), QStringLiteral("Zürich ? ?? Nights"));
    EXPECT_EQ(v1.Genre, 8);
    EXPECT_EQ(v1.Track, 3);

    EXPECT_TRUE(ReadTags(path("plain/a.MP3")).Tags.Kinds.isEmpty()) << "--no-tags";
    // The tags change nothing of the audio: the Info frame still trims delay and padding.
    const DecodedAudio tagged = DecodeMpeg(path("a.MP3"));
    const DecodedAudio plain = DecodeMpeg(path("plain/a.MP3"));
    ASSERT_TRUE(tagged.ok && plain.ok) << tagged.error.toStdString();
    EXPECT_EQ(tagged.frames(), 88200u);
    EXPECT_EQ(tagged.samples, plain.samples);
}

TEST_F(CliTagsTest, DecodeCarriesMp3TagsIntoInfoAndId3Chunks) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    ASSERT_EQ(Run({"encode", "--no-tags", path("a.wav")}).exitCode, 0);
    {
        TagLib::MPEG::File file(QFile::encodeName(path("a.MP3")).constData());
        TagLib::ID3v2::Tag &tag = *file.ID3v2Tag(true);
        AddText(tag, "TIT2", QStringLiteral("Ωmega title"));
        AddText(tag, "TPE1", QStringLiteral("Artist"));
        AddText(tag, "TRCK", QStringLiteral("7/9"));
        AddText(tag, "TCON", QStringLiteral("Rock"));
        AddPicture(tag, PngBytes(), "image/png", TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3));
    }
    Result r = Run({"decode", path("a.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = Run({"decode", "--no-tags", "-o", path("plain"), path("a.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const TTagSet read = ReadTags(path("a.WAV")).Tags;
    EXPECT_EQ(read.Kinds, (QStringList{"ID3v2.3 (id3 chunk)", "RIFF INFO"}));
    EXPECT_EQ(read.Title, QStringLiteral("Ωmega title"));
    EXPECT_EQ(read.Track, 7);
    EXPECT_EQ(read.TrackTotal, 9);
    ASSERT_TRUE(read.FrontCover.has_value());
    EXPECT_EQ(read.FrontCover->Data, PngBytes());
    TagLib::RIFF::WAV::File wav(QFile::encodeName(path("a.WAV")).constData());
    EXPECT_EQ(wav.InfoTag()->artist(), "Artist");
    EXPECT_EQ(wav.InfoTag()->genre(), "Rock");
    EXPECT_EQ(wav.InfoTag()->fieldText("ITRK"), TagLib::String("7"));
    TagLib::RIFF::WAV::File plain(QFile::encodeName(path("plain/a.WAV")).constData());
    EXPECT_FALSE(plain.hasInfoTag() || plain.hasID3v2Tag());
    EXPECT_EQ(wav.audioProperties()->sampleFrames(), plain.audioProperties()->sampleFrames());
    // The decoded samples stay where they were: the chunks come after them.
    const QByteArray plainBytes = ReadFile(path("plain/a.WAV"));
    EXPECT_EQ(ReadFile(path("a.WAV")).mid(8, plainBytes.size() - 8), plainBytes.mid(8));
}

TEST_F(CliTagsTest, TheStoredSettingOffCopiesNoTags) {
    WriteSettings("CopyTags=0\n");
    TaggedFlac("a.flac");
    Result r = Run({"encode", path("a.flac")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(ReadTags(path("a.MP3")).Tags.Kinds.isEmpty());
    {
        TagLib::MPEG::File file(QFile::encodeName(path("a.MP3")).constData());
        file.ID3v2Tag(true)->setTitle("mp3 title");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone));
    }
    r = Run({"decode", path("a.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(ReadTags(path("a.WAV")).Tags.Kinds.isEmpty());
}

TEST_F(CliTagsTest, ATagThatCannotBeWrittenFailsTheFileAndKeepsTheEarlierOutput) {
    // A cover far larger than the audio: the tag is what runs past the file size limit.
    TaggedFlac("a.flac", JpegBytes() + QByteArray(400 * 1024, 'c'));
    ASSERT_EQ(Run({"encode", "--no-tags", path("a.flac")}).exitCode, 0);
    const QByteArray before = ReadFile(path("a.MP3"));

    const Result r =
        RunLimited({"encode", "-y", path("a.flac")}, rlim_t(before.size()) + 64 * 1024);
    EXPECT_EQ(r.exitCode, 1) << "killed by SIGXFSZ?";
    EXPECT_TRUE(r.err.contains("The tags could not be written")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("File too large")) << r.err.toStdString();
    EXPECT_EQ(ReadFile(path("a.MP3")), before);
    EXPECT_TRUE(QDir(dir.path()).entryList({".brindle-*"}, QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace

TEST_F(CliTagsTest, InfoAddsATagsObjectAndKeepsTheId3v1Fields) {
    TaggedFlac("a.flac");
    ASSERT_EQ(Run({"encode", path("a.flac")}).exitCode, 0);
    WriteSineWav(path("bare.wav"), 1, 8000, 0.2, 440);
    const Result r = Run({"info", "--json", path("a.flac"), path("a.MP3"), path("bare.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 3);
    const QJsonObject flac = records[0].toObject()["Tags"].toObject();
    EXPECT_EQ(flac["Kinds"].toArray(), QJsonArray{"Vorbis comment"});
    EXPECT_EQ(flac["Title"].toString(), FullSet().Title);
    EXPECT_EQ(flac["TrackTotal"].toInt(), 12);
    EXPECT_EQ(flac["Picture"].toObject()["Bytes"].toInt(), JpegBytes().size());
    // The MPEG record keeps its ID3v1 fields beside what TagLib read.
    const QJsonObject mp3 = records[1].toObject();
    EXPECT_EQ(mp3["Tags"].toObject()["Title"].toString(), FullSet().Title);
    EXPECT_EQ(mp3["Title"].toString(), QStringLiteral("Zürich ? ?? Nights"));
    EXPECT_FALSE(records[2].toObject().contains("Tags")) << "an untagged file has none";

    const Result text = Run({"info", path("a.flac")});
    EXPECT_TRUE(text.out.contains("  Tags: Vorbis comment\n  Title: " + FullSet().Title))
        << text.out.toStdString();
}
