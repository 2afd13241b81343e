#include "core/tags/TagMedia.h"
#include "inspect/Id3v1.h"
#include "support/TestMedia.h"
#include "tags/TagSet.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <aifffile.h>
#include <apetag.h>
#include <flacfile.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

#include <gtest/gtest.h>
#include <sndfile.h>

using namespace testmedia;
using namespace tagmedia;

namespace {

class TagReadTest : public ::testing::Test {
protected:
    QString Path(const QString &Name) const { return Dir.filePath(Name); }

    // Silent MPEG audio behind an ID3v2 tag of the given version, made by TagLib.
    QString TaggedMp3(const QString &Name, TagLib::ID3v2::Version Version,
                      const std::function<void(TagLib::ID3v2::Tag &)> &Fill) {
        const QString path = Path(Name);
        WriteFile(path, SilentMpegFrames(40));
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        Fill(*file.ID3v2Tag(true));
        EXPECT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, Version));
        return path;
    }

    QTemporaryDir Dir;
};

QByteArray ID3v1Block(const char *Title, const char *Artist, const char *Comment, uint8_t Track,
                      uint8_t Genre) {
    TMPEGInfo info;
    info.Title = QString::fromLatin1(Title);
    info.Artist = QString::fromLatin1(Artist);
    info.Album = QStringLiteral("V1 Album");
    info.Year = QStringLiteral("1999");
    info.Comment = QString::fromLatin1(Comment);
    info.Track = Track;
    info.Genre = Genre;
    const auto block = BuildID3v1(info);
    return QByteArray(reinterpret_cast<const char *>(block.data()), ID3v1Size);
}

TEST_F(TagReadTest, Id3v23FieldsAndFrontCoverAreRead) {
    const QString path = TaggedMp3("a.mp3", TagLib::ID3v2::v3, [](TagLib::ID3v2::Tag &Tag) {
        AddText(Tag, "TIT2", QStringLiteral("Grüße aus 東京"));
        AddText(Tag, "TPE1", QStringLiteral("Artist"));
        AddText(Tag, "TALB", QStringLiteral("Album"));
        AddText(Tag, "TYER", QStringLiteral("2003"));
        AddText(Tag, "TRCK", QStringLiteral("4/9"));
        AddText(Tag, "TPOS", QStringLiteral("2/3"));
        AddText(Tag, "TCON", QStringLiteral("(8)"));
        AddText(Tag, "TPE2", QStringLiteral("Album Artist"));
        AddText(Tag, "TCOM", QStringLiteral("Composer"));
        auto *comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        comment->setText("a comment");
        Tag.addFrame(comment);
        // The front cover wins over a picture before it.
        AddPicture(Tag, PngBytes(), "image/png", TagLib::ID3v2::AttachedPictureFrame::BackCover);
        AddPicture(Tag, JpegBytes(), "image/jpeg", TagLib::ID3v2::AttachedPictureFrame::FrontCover,
                   QStringLiteral("front"));
    });
    const TTagReadResult read = ReadTags(path);
    EXPECT_TRUE(read.Problem.isEmpty()) << read.Problem.toStdString();
    const TTagSet &tags = read.Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"ID3v2.3"});
    EXPECT_EQ(tags.Title, QStringLiteral("Grüße aus 東京"));
    EXPECT_EQ(tags.Artist, "Artist");
    EXPECT_EQ(tags.Album, "Album");
    EXPECT_EQ(tags.Date, "2003");
    EXPECT_EQ(tags.Track, 4);
    EXPECT_EQ(tags.TrackTotal, 9);
    EXPECT_EQ(tags.Disc, 2);
    EXPECT_EQ(tags.DiscTotal, 3);
    EXPECT_EQ(tags.Genre, "Jazz");
    EXPECT_EQ(tags.Comment, "a comment");
    EXPECT_EQ(tags.AlbumArtist, "Album Artist");
    EXPECT_EQ(tags.Composer, "Composer");
    ASSERT_TRUE(tags.FrontCover.has_value());
    EXPECT_EQ(tags.FrontCover->Data, JpegBytes());
    EXPECT_EQ(tags.FrontCover->MimeType, "image/jpeg");
    EXPECT_EQ(tags.FrontCover->Description, "front");
    EXPECT_EQ(tags.FrontCover->Type, 3);
}

TEST_F(TagReadTest, Id3v24WinsOverId3v1FieldByFieldAndId3v1FillsTheRest) {
    const QString path = TaggedMp3("b.mp3", TagLib::ID3v2::v4, [](TagLib::ID3v2::Tag &Tag) {
        AddText(Tag, "TIT2", QStringLiteral("Long title that ID3v1 could never hold in full"));
        AddText(Tag, "TDRC", QStringLiteral("2019-05-04"));
        // The only picture, not marked as front cover, is taken all the same.
        AddPicture(Tag, PngBytes(), "", TagLib::ID3v2::AttachedPictureFrame::Other);
    });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(ID3v1Block("Short title", "V1 Artist", "v1 comment", 7, 17));
    file.close();

    const TTagSet tags = ReadTags(path).Tags;
    EXPECT_EQ(tags.Kinds, (QStringList{"ID3v2.4", "ID3v1"}));
    EXPECT_EQ(tags.Title, "Long title that ID3v1 could never hold in full");
    EXPECT_EQ(tags.Date, "2019-05-04");
    EXPECT_EQ(tags.Artist, "V1 Artist");
    EXPECT_EQ(tags.Album, "V1 Album");
    EXPECT_EQ(tags.Comment, "v1 comment");
    EXPECT_EQ(tags.Track, 7);
    EXPECT_EQ(tags.Genre, "Rock");
    ASSERT_TRUE(tags.FrontCover.has_value());
    EXPECT_EQ(tags.FrontCover->Type, 0);
    EXPECT_EQ(tags.FrontCover->MimeType, "image/png"); // told by its bytes
}

TEST_F(TagReadTest, Id3v1AloneAndId3v22ByBytesAreRead) {
    const QString v1 = Path("v1.mp3");
    WriteFile(v1, SilentMpegFrames(20) + ID3v1Block("Only V1", "Someone", "", 0, 255));
    TTagSet tags = ReadTags(v1).Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"ID3v1"});
    EXPECT_EQ(tags.Title, "Only V1");
    EXPECT_EQ(tags.Date, "1999");
    EXPECT_TRUE(tags.Genre.isEmpty()); // 255 = none
    EXPECT_EQ(tags.Track, 0);

    // ID3v2.2: three-letter frame ids and sizes, which TagLib reads but cannot write.
    QByteArray frame =
        QByteArray("TT2") + QByteArray("\0\0\x0A", 3) + QByteArray("\0Old title", 10);
    QByteArray v22 = QByteArray("ID3\x02\x00\x00\x00\x00\x00", 9) + char(frame.size()) + frame;
    const QString path = Path("v22.mp2");
    WriteFile(path, v22 + SilentMpegFrames(20));
    tags = ReadTags(path).Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"ID3v2.2"});
    EXPECT_EQ(tags.Title, "Old title");
}

TEST_F(TagReadTest, MpegAudioUnderAnyExtensionIsRead) {
    const QString path = TaggedMp3("c.MP2", TagLib::ID3v2::v4, [](TagLib::ID3v2::Tag &Tag) {
        AddText(Tag, "TIT2", QStringLiteral("layer two"));
    });
    EXPECT_EQ(ReadTags(path).Tags.Title, "layer two");
    // Without a tag in front, the extension says MPEG audio.
    const QString plain = Path("d.MP2");
    WriteFile(plain, SilentMpegFrames(20) + ID3v1Block("v1 of mp2", "", "", 1, 0));
    EXPECT_EQ(ReadTags(plain).Tags.Title, "v1 of mp2");
}

TEST_F(TagReadTest, ApeTagFillsBetweenId3v2AndId3v1) {
    const QString path = TaggedMp3("ape.mp3", TagLib::ID3v2::v4, [](TagLib::ID3v2::Tag &Tag) {
        AddText(Tag, "TIT2", QStringLiteral("v2 title"));
    });
    {
        TagLib::MPEG::File file(QFile::encodeName(path).constData());
        file.APETag(true)->setArtist("ape artist");
        file.APETag(true)->setTitle("ape title");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::APE, TagLib::File::StripNone));
    }
    const TTagSet tags = ReadTags(path).Tags;
    EXPECT_EQ(tags.Kinds, (QStringList{"ID3v2.4", "APEv2"}));
    EXPECT_EQ(tags.Title, "v2 title");
    EXPECT_EQ(tags.Artist, "ape artist");
}

TEST_F(TagReadTest, FlacVorbisCommentAndPictureBlocksAreRead) {
    const QString path = Path("a.flac");
    WriteSineSound(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 0.2, 440);
    {
        TagLib::FLAC::File file(QFile::encodeName(path).constData());
        TagLib::Ogg::XiphComment *comment = file.xiphComment(true);
        comment->addField("TITLE", T(QStringLiteral("Ελληνικά")));
        comment->addField("ARTIST", "One");
        comment->addField("ARTIST", "Two", false);
        comment->addField("ALBUM", "Flac Album");
        comment->addField("DATE", "2011");
        comment->addField("TRACKNUMBER", "5");
        comment->addField("TRACKTOTAL", "10");
        comment->addField("DISCNUMBER", "1");
        comment->addField("DISCTOTAL", "2");
        comment->addField("GENRE", "Ambient");
        comment->addField("COMMENT", "flac comment");
        comment->addField("ALBUMARTIST", "Flac AA");
        comment->addField("COMPOSER", "Flac Composer");
        file.addPicture(FlacPicture(PngBytes(), "image/png", TagLib::FLAC::Picture::Artist));
        file.addPicture(FlacPicture(JpegBytes(), "image/jpeg", TagLib::FLAC::Picture::FrontCover));
        ASSERT_TRUE(file.save());
    }
    const TTagReadResult read = ReadTags(path);
    EXPECT_TRUE(read.Problem.isEmpty());
    const TTagSet &tags = read.Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"Vorbis comment"});
    EXPECT_EQ(tags.Title, QStringLiteral("Ελληνικά"));
    EXPECT_EQ(tags.Artist, "One; Two");
    EXPECT_EQ(tags.Album, "Flac Album");
    EXPECT_EQ(tags.Date, "2011");
    EXPECT_EQ(tags.Track, 5);
    EXPECT_EQ(tags.TrackTotal, 10);
    EXPECT_EQ(tags.Disc, 1);
    EXPECT_EQ(tags.DiscTotal, 2);
    EXPECT_EQ(tags.Genre, "Ambient");
    EXPECT_EQ(tags.Comment, "flac comment");
    EXPECT_EQ(tags.AlbumArtist, "Flac AA");
    EXPECT_EQ(tags.Composer, "Flac Composer");
    ASSERT_TRUE(tags.FrontCover.has_value());
    EXPECT_EQ(tags.FrontCover->Data, JpegBytes());
    EXPECT_EQ(tags.FrontCover->MimeType, "image/jpeg");
}

TEST_F(TagReadTest, OggVorbisAndOpusCommentsWithPicturesAreRead) {
    const QString vorbis = Path("a.ogg");
    WriteSineSound(vorbis, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, 0.3, 440);
    {
        TagLib::Ogg::Vorbis::File file(QFile::encodeName(vorbis).constData());
        file.tag()->addField("TITLE", "ogg title");
        file.tag()->addField("TRACKNUMBER", "2/8");
        file.tag()->addPicture(
            FlacPicture(JpegBytes('o'), "image/jpeg", TagLib::FLAC::Picture::FrontCover));
        ASSERT_TRUE(file.save());
    }
    TTagSet tags = ReadTags(vorbis).Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"Vorbis comment"});
    EXPECT_EQ(tags.Title, "ogg title");
    EXPECT_EQ(tags.Track, 2);
    EXPECT_EQ(tags.TrackTotal, 8);
    ASSERT_TRUE(tags.FrontCover.has_value());
    EXPECT_EQ(tags.FrontCover->Data, JpegBytes('o'));

    const QString opus = Path("a.opus");
    try {
        WriteSineSound(opus, SF_FORMAT_OGG | SF_FORMAT_OPUS, 2, 48000, 0.3, 440);
    } catch (const std::exception &) {
        GTEST_SKIP() << "this libsndfile writes no Opus";
    }
    {
        TagLib::Ogg::Opus::File file(QFile::encodeName(opus).constData());
        file.tag()->addField("ARTIST", "opus artist");
        ASSERT_TRUE(file.save());
    }
    tags = ReadTags(opus).Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"Vorbis comment"});
    EXPECT_EQ(tags.Artist, "opus artist");
}

TEST_F(TagReadTest, WavInfoAndId3ChunkAreMergedId3First) {
    const QString path = Path("a.wav");
    WriteSineWav(path, 2, 44100, 0.2, 440);
    {
        TagLib::RIFF::WAV::File file(QFile::encodeName(path).constData());
        TagLib::RIFF::Info::Tag *info = file.InfoTag();
        info->setFieldText("INAM", "info title");
        info->setFieldText("IART", "info artist");
        info->setFieldText("IPRD", "info album");
        info->setFieldText("ICRD", "2001");
        info->setFieldText("ITRK", "6");
        info->setFieldText("IGNR", "Blues");
        info->setFieldText("ICMT", "info comment");
        AddText(*file.ID3v2Tag(), "TIT2", QStringLiteral("id3 title"));
        AddText(*file.ID3v2Tag(), "TPE2", QStringLiteral("id3 album artist"));
        ASSERT_TRUE(file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone,
                              TagLib::ID3v2::v3));
    }
    const TTagSet tags = ReadTags(path).Tags;
    EXPECT_EQ(tags.Kinds, (QStringList{"ID3v2.3 (id3 chunk)", "RIFF INFO"}));
    EXPECT_EQ(tags.Title, "id3 title");
    EXPECT_EQ(tags.AlbumArtist, "id3 album artist");
    EXPECT_EQ(tags.Artist, "info artist");
    EXPECT_EQ(tags.Album, "info album");
    EXPECT_EQ(tags.Date, "2001");
    EXPECT_EQ(tags.Track, 6);
    EXPECT_EQ(tags.Genre, "Blues");
    EXPECT_EQ(tags.Comment, "info comment");
}

TEST_F(TagReadTest, AiffId3ChunkIsRead) {
    const QString path = Path("a.aiff");
    WriteSineSound(path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 22050, 0.1, 440);
    {
        TagLib::RIFF::AIFF::File file(QFile::encodeName(path).constData());
        file.tag()->setTitle("aiff title");
        file.tag()->setTrack(9);
        ASSERT_TRUE(file.save());
    }
    const TTagSet tags = ReadTags(path).Tags;
    EXPECT_EQ(tags.Kinds, QStringList{"ID3v2.4 (ID3 chunk)"});
    EXPECT_EQ(tags.Title, "aiff title");
    EXPECT_EQ(tags.Track, 9);
}

TEST_F(TagReadTest, UntaggedFilesAndOtherFormatsHaveNoTagsAndNoProblem) {
    const QString wav = Path("plain.wav");
    WriteSineWav(wav, 1, 8000, 0.1, 440);
    const QString au = Path("plain.au");
    WriteSineSound(au, SF_FORMAT_AU | SF_FORMAT_PCM_16, 1, 8000, 0.1, 440);
    const QString flac = Path("plain.flac");
    WriteSineSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 8000, 0.1, 440);
    const QString mp3 = Path("plain.mp3");
    WriteFile(mp3, SilentMpegFrames(10));
    for (const QString &path : {wav, au, flac, mp3}) {
        const TTagReadResult read = ReadTags(path);
        EXPECT_TRUE(read.Problem.isEmpty())
            << path.toStdString() << ": " << read.Problem.toStdString();
        EXPECT_TRUE(read.Tags.IsEmpty()) << path.toStdString();
        EXPECT_TRUE(read.Tags.Kinds.isEmpty()) << path.toStdString();
    }
}

TEST_F(TagReadTest, FilesThatCannotBeReadReportAProblem) {
    EXPECT_FALSE(ReadTags(Path("missing.mp3")).Problem.isEmpty());
    // A tag that claims more than the file holds.
    const QString cut = Path("cut.mp3");
    WriteFile(cut, QByteArray("ID3\x04\x00\x00\x00\x00\x7F\x7F", 10) + QByteArray(100, 'T'));
    const TTagReadResult read = ReadTags(cut);
    EXPECT_TRUE(read.Tags.IsEmpty());
}

TEST(TagSetTest, IsEmptyLooksAtEveryFieldButNotTheKinds) {
    TTagSet tags;
    tags.Kinds << "ID3v1";
    EXPECT_TRUE(tags.IsEmpty());
    TTagSet withDisc;
    withDisc.DiscTotal = 2;
    EXPECT_FALSE(withDisc.IsEmpty());
    TTagSet withCover;
    withCover.FrontCover = TTagPicture{};
    EXPECT_FALSE(withCover.IsEmpty());
    TTagSet withComposer;
    withComposer.Composer = "x";
    EXPECT_FALSE(withComposer.IsEmpty());
}

// Truncations and random damage of tagged files of every kind: reading never crashes or
// throws, whatever it finds.
TEST_F(TagReadTest, DamagedFilesNeverCrashTheReader) {
    const QString mp3 = TaggedMp3("f.mp3", TagLib::ID3v2::v4, [](TagLib::ID3v2::Tag &Tag) {
        AddText(Tag, "TIT2", QStringLiteral("fuzz"));
        AddPicture(Tag, JpegBytes(), "image/jpeg", TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    });
    const QString flac = Path("f.flac");
    WriteSineSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 8000, 0.1, 440);
    {
        TagLib::FLAC::File file(QFile::encodeName(flac).constData());
        file.xiphComment(true)->addField("TITLE", "fuzz");
        file.addPicture(FlacPicture(PngBytes(), "image/png", TagLib::FLAC::Picture::FrontCover));
        file.save();
    }
    const QString ogg = Path("f.ogg");
    WriteSineSound(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 8000, 0.2, 440);
    const QString wav = Path("f.wav");
    WriteSineWav(wav, 1, 8000, 0.05, 440);
    {
        TagLib::RIFF::WAV::File file(QFile::encodeName(wav).constData());
        file.InfoTag()->setTitle("fuzz");
        file.ID3v2Tag()->setArtist("fuzz");
        file.save();
    }
    QRandomGenerator random(20240611);
    const QString target = Path("damaged");
    int runs = 0;
    for (const QString &source : {mp3, flac, ogg, wav}) {
        const QByteArray original = ReadFile(source);
        const QString suffix = QFileInfo(source).suffix();
        for (int i = 0; i < 60; ++i) {
            QByteArray bytes = original;
            if (i % 3 == 0) {
                bytes.truncate(qsizetype(random.bounded(quint32(bytes.size()))));
            } else {
                // Damage lands in the first kilobytes, where the tags and headers are.
                const int hits = 1 + int(random.bounded(20));
                for (int h = 0; h < hits; ++h)
                    bytes[qsizetype(
                        random.bounded(quint32(std::min<qsizetype>(bytes.size(), 4096))))] =
                        char(random.bounded(256));
            }
            WriteFile(target + "." + suffix, bytes);
            const TTagReadResult read = ReadTags(target + "." + suffix);
            (void)read;
            ++runs;
        }
    }
    EXPECT_EQ(runs, 240);
}

} // namespace

TEST(TagInfoLinesTest, NameTheTagsThenEveryFieldThatHoldsSomething) {
    EXPECT_TRUE(TagInfoLines(TTagSet()).isEmpty());
    TTagSet tags;
    tags.Kinds = QStringList{"ID3v2.4", "ID3v1"};
    tags.Title = "Tide";
    tags.Track = 4;
    tags.Disc = 1;
    tags.DiscTotal = 2;
    tags.Comment = "late";
    tags.FrontCover = TTagPicture{QByteArray(300, 'x'), "image/jpeg", {}, 3};
    EXPECT_EQ(TagInfoLines(tags),
              (QStringList{"Tags: ID3v2.4, ID3v1", "Title: Tide", "Track: 4", "Disc: 1/2",
                           "Comment: late", "Picture: image/jpeg, 300 bytes"}));
}
