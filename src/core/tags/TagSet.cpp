#include "tags/TagSet.h"

#include "inspect/Id3v1.h"

#include <QFile>
#include <QFileInfo>

#include <aifffile.h>
#include <apetag.h>
#include <attachedpictureframe.h>
#include <flacfile.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <tfilestream.h>
#include <tpropertymap.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

#include <memory>

namespace {

enum class TTagFileKind { None, Mpeg, Flac, OggVorbis, Opus, Wav, Aiff };

// The kind of tagged file by its first bytes (behind an ID3v2 tag, which both MPEG audio and
// FLAC may begin with), then MPEG audio by its extension. Why tells when it cannot be read.
TTagFileKind TagFileKindOf(const QString &Path, QString &Why) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) {
        Why = QStringLiteral("The file cannot be opened to read its tags: %1")
                  .arg(file.errorString());
        return TTagFileKind::None;
    }
    QByteArray head = file.read(512);
    bool hadID3v2 = false;
    if (head.size() >= 10 && head.startsWith("ID3")) {
        const auto *b = reinterpret_cast<const uint8_t *>(head.constData());
        const qint64 size = 10 +
                            ((qint64(b[6] & 0x7F) << 21) | ((b[7] & 0x7F) << 14) |
                             ((b[8] & 0x7F) << 7) | (b[9] & 0x7F)) +
                            ((b[5] & 0x10) ? 10 : 0);
        hadID3v2 = true;
        head = file.seek(size) ? file.read(512) : QByteArray();
    }
    if (head.startsWith("fLaC"))
        return TTagFileKind::Flac;
    if (hadID3v2)
        return TTagFileKind::Mpeg;
    if (head.startsWith("OggS")) {
        if (head.contains("OpusHead"))
            return TTagFileKind::Opus;
        if (head.contains("\x01vorbis"))
            return TTagFileKind::OggVorbis;
        return TTagFileKind::None;
    }
    if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        return TTagFileKind::Wav;
    if (head.size() >= 12 && head.startsWith("FORM") &&
        (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC"))
        return TTagFileKind::Aiff;
    const QString suffix = QFileInfo(Path).suffix().toLower();
    static const QStringList mpegSuffixes = {"mp3", "mp2", "mp1", "mpa", "mpga"};
    const bool frameSync =
        head.size() >= 2 && uint8_t(head[0]) == 0xFF && (uint8_t(head[1]) & 0xE0) == 0xE0;
    if (mpegSuffixes.contains(suffix) || frameSync)
        return TTagFileKind::Mpeg;
    return TTagFileKind::None;
}

QString FromTagLib(const TagLib::String &Text) {
    return QString::fromUtf8(Text.toCString(true)).trimmed();
}

QString FirstOf(const TagLib::PropertyMap &Map, std::initializer_list<const char *> Keys) {
    for (const char *key : Keys) {
        const auto it = Map.find(key);
        if (it == Map.end())
            continue;
        // Several values of one field (two artists of a Vorbis comment) are kept together.
        QStringList values;
        for (const TagLib::String &value : it->second) {
            const QString text = FromTagLib(value);
            if (!text.isEmpty())
                values << text;
        }
        if (!values.isEmpty())
            return values.join(QStringLiteral("; "));
    }
    return {};
}

// "3/12" and "3" give the number and, after a slash, the total; anything else 0.
void SplitCount(const QString &Text, int &Number, int &Total) {
    const qsizetype slash = Text.indexOf(u'/');
    bool ok = false;
    const int number = (slash < 0 ? Text : Text.left(slash)).trimmed().toInt(&ok);
    if (ok && number > 0)
        Number = number;
    if (slash >= 0) {
        const int total = Text.mid(slash + 1).trimmed().toInt(&ok);
        if (ok && total > 0)
            Total = total;
    }
}

int CountOf(const QString &Text) {
    bool ok = false;
    const int number = Text.trimmed().toInt(&ok);
    return ok && number > 0 ? number : 0;
}

// Fills the fields Into lacks from From: the tag merged first wins.
void Fill(TTagSet &Into, const TTagSet &From) {
    for (auto field :
         {&TTagSet::Title, &TTagSet::Artist, &TTagSet::Album, &TTagSet::Date, &TTagSet::Genre,
          &TTagSet::Comment, &TTagSet::AlbumArtist, &TTagSet::Composer}) {
        if ((Into.*field).isEmpty())
            Into.*field = From.*field;
    }
    for (auto field :
         {&TTagSet::Track, &TTagSet::TrackTotal, &TTagSet::Disc, &TTagSet::DiscTotal}) {
        if (Into.*field == 0)
            Into.*field = From.*field;
    }
    if (!Into.FrontCover)
        Into.FrontCover = From.FrontCover;
}

TTagSet FromProperties(const TagLib::PropertyMap &Map) {
    TTagSet tags;
    tags.Title = FirstOf(Map, {"TITLE"});
    tags.Artist = FirstOf(Map, {"ARTIST"});
    tags.Album = FirstOf(Map, {"ALBUM"});
    tags.Date = FirstOf(Map, {"DATE", "YEAR", "ORIGINALDATE"});
    tags.Genre = FirstOf(Map, {"GENRE"});
    tags.Comment = FirstOf(Map, {"COMMENT", "DESCRIPTION"});
    tags.AlbumArtist = FirstOf(Map, {"ALBUMARTIST", "ALBUM ARTIST"});
    tags.Composer = FirstOf(Map, {"COMPOSER"});
    SplitCount(FirstOf(Map, {"TRACKNUMBER", "TRACK"}), tags.Track, tags.TrackTotal);
    SplitCount(FirstOf(Map, {"DISCNUMBER", "DISC"}), tags.Disc, tags.DiscTotal);
    if (const int total = CountOf(FirstOf(Map, {"TRACKTOTAL", "TOTALTRACKS"})); total > 0)
        tags.TrackTotal = total;
    if (const int total = CountOf(FirstOf(Map, {"DISCTOTAL", "TOTALDISCS"})); total > 0)
        tags.DiscTotal = total;
    return tags;
}

QString SniffedMimeType(const QByteArray &Data) {
    if (Data.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("image/jpeg");
    if (Data.startsWith("\x89PNG"))
        return QStringLiteral("image/png");
    if (Data.startsWith("GIF8"))
        return QStringLiteral("image/gif");
    return {};
}

TTagPicture MakePicture(const TagLib::ByteVector &Data, const TagLib::String &Mime,
                        const TagLib::String &Description, int Type) {
    TTagPicture picture;
    picture.Data = QByteArray(Data.data(), qsizetype(Data.size()));
    picture.MimeType = FromTagLib(Mime);
    // "-->" marks a link instead of the image itself, which travels no further.
    if (picture.MimeType.isEmpty() || picture.MimeType == QLatin1String("image/"))
        picture.MimeType = SniffedMimeType(picture.Data);
    picture.Description = FromTagLib(Description);
    picture.Type = Type;
    return picture;
}

// The front cover, or the first picture when none is marked so.
template <typename TPictures, typename TMake>
std::optional<TTagPicture> ChooseCover(const TPictures &Pictures, TMake Make) {
    std::optional<TTagPicture> first;
    for (const auto &picture : Pictures) {
        std::optional<TTagPicture> made = Make(picture);
        if (!made || made->Data.isEmpty() || made->MimeType == QLatin1String("-->"))
            continue;
        if (made->Type == 3)
            return made;
        if (!first)
            first = std::move(made);
    }
    return first;
}

TTagSet FromID3v2(TagLib::ID3v2::Tag &Tag) {
    TTagSet tags = FromProperties(Tag.properties());
    tags.FrontCover = ChooseCover(
        Tag.frameList("APIC"), [](TagLib::ID3v2::Frame *Frame) -> std::optional<TTagPicture> {
            const auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(Frame);
            if (!apic)
                return std::nullopt;
            return MakePicture(apic->picture(), apic->mimeType(), apic->description(),
                               int(apic->type()));
        });
    return tags;
}

QString ID3v2Kind(TagLib::ID3v2::Tag &Tag) {
    return QStringLiteral("ID3v2.%1").arg(Tag.header()->majorVersion());
}

TTagSet FromXiph(TagLib::Ogg::XiphComment &Comment) {
    TTagSet tags = FromProperties(Comment.properties());
    tags.FrontCover = ChooseCover(Comment.pictureList(), [](TagLib::FLAC::Picture *Picture) {
        return std::optional(MakePicture(Picture->data(), Picture->mimeType(),
                                         Picture->description(), int(Picture->type())));
    });
    return tags;
}

bool HasXiphFields(TagLib::Ogg::XiphComment *Comment) {
    return Comment && (Comment->fieldCount() > 0 || !Comment->pictureList().isEmpty());
}

TTagSet FromInfo(TagLib::RIFF::Info::Tag &Info) {
    const TagLib::RIFF::Info::FieldListMap fields = Info.fieldListMap();
    auto field = [&](const char *Id) {
        const auto it = fields.find(Id);
        return it == fields.end() ? QString() : FromTagLib(it->second);
    };
    TTagSet tags;
    tags.Title = field("INAM");
    tags.Artist = field("IART");
    tags.Album = field("IPRD");
    tags.Date = field("ICRD");
    tags.Genre = field("IGNR");
    tags.Comment = field("ICMT");
    tags.Composer = field("IMUS");
    SplitCount(field("ITRK"), tags.Track, tags.TrackTotal);
    if (tags.Track == 0)
        SplitCount(field("IPRT"), tags.Track, tags.TrackTotal);
    return tags;
}

// Our own reader for the ID3v1 tag at the end of the file, if there is one.
std::optional<TTagSet> ReadOwnID3v1(const QString &Path) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= ID3v1Size)
        return std::nullopt;
    uint8_t block[ID3v1Size];
    if (!file.seek(file.size() - ID3v1Size) ||
        file.read(reinterpret_cast<char *>(block), ID3v1Size) != ID3v1Size)
        return std::nullopt;
    TMPEGInfo info;
    if (!ReadID3v1(block, info))
        return std::nullopt;
    TTagSet tags;
    tags.Title = info.Title.Text();
    tags.Artist = info.Artist.Text();
    tags.Album = info.Album.Text();
    tags.Date = TagYearText(info.Year).trimmed();
    tags.Comment = info.Comment.Text();
    tags.Genre = GenreName(info.Genre);
    tags.Track = info.Track;
    return tags;
}

void Merge(TTagSet &Into, const TTagSet &From, const QString &Kind) {
    Fill(Into, From);
    Into.Kinds << Kind;
}

TTagReadResult ReadMpeg(TagLib::IOStream &Stream, const QString &Path) {
    TagLib::MPEG::File file(&Stream, TagLib::ID3v2::FrameFactory::instance(), false);
    TTagReadResult result;
    if (!file.isValid()) {
        result.Problem = QStringLiteral("The tags of the MPEG audio file cannot be read.");
        return result;
    }
    if (file.hasID3v2Tag())
        Merge(result.Tags, FromID3v2(*file.ID3v2Tag()), ID3v2Kind(*file.ID3v2Tag()));
    if (file.hasAPETag())
        Merge(result.Tags, FromProperties(file.APETag()->properties()), QStringLiteral("APEv2"));
    if (const std::optional<TTagSet> v1 = ReadOwnID3v1(Path))
        Merge(result.Tags, *v1, QStringLiteral("ID3v1"));
    return result;
}

TTagReadResult ReadFlac(TagLib::IOStream &Stream, const QString &Path) {
    TagLib::FLAC::File file(&Stream, TagLib::ID3v2::FrameFactory::instance(), false);
    TTagReadResult result;
    if (!file.isValid()) {
        result.Problem = QStringLiteral("The FLAC metadata cannot be read.");
        return result;
    }
    if (HasXiphFields(file.xiphComment())) {
        TTagSet tags = FromXiph(*file.xiphComment());
        Merge(result.Tags, tags, QStringLiteral("Vorbis comment"));
    }
    // Picture blocks are the FLAC way to hold a cover; they come before one of a comment.
    const std::optional<TTagPicture> cover =
        ChooseCover(file.pictureList(), [](TagLib::FLAC::Picture *Picture) {
            return std::optional(MakePicture(Picture->data(), Picture->mimeType(),
                                             Picture->description(), int(Picture->type())));
        });
    if (cover && (!result.Tags.FrontCover || result.Tags.FrontCover->Type != 3))
        result.Tags.FrontCover = cover;
    if (file.hasID3v2Tag())
        Merge(result.Tags, FromID3v2(*file.ID3v2Tag()), ID3v2Kind(*file.ID3v2Tag()));
    if (file.hasID3v1Tag()) {
        if (const std::optional<TTagSet> v1 = ReadOwnID3v1(Path))
            Merge(result.Tags, *v1, QStringLiteral("ID3v1"));
    }
    return result;
}

template <typename TOggFile> TTagReadResult ReadOgg(TagLib::IOStream &Stream, const char *Kind) {
    TOggFile file(&Stream, false);
    TTagReadResult result;
    if (!file.isValid()) {
        result.Problem =
            QStringLiteral("The %1 comment header cannot be read.").arg(QLatin1String(Kind));
        return result;
    }
    if (HasXiphFields(file.tag()))
        Merge(result.Tags, FromXiph(*file.tag()), QStringLiteral("Vorbis comment"));
    return result;
}

TTagReadResult ReadWav(TagLib::IOStream &Stream) {
    TagLib::RIFF::WAV::File file(&Stream, false);
    TTagReadResult result;
    if (!file.isValid()) {
        result.Problem = QStringLiteral("The RIFF chunks cannot be read.");
        return result;
    }
    if (file.hasID3v2Tag())
        Merge(result.Tags, FromID3v2(*file.ID3v2Tag()),
              ID3v2Kind(*file.ID3v2Tag()) + QStringLiteral(" (id3 chunk)"));
    if (file.hasInfoTag())
        Merge(result.Tags, FromInfo(*file.InfoTag()), QStringLiteral("RIFF INFO"));
    return result;
}

TTagReadResult ReadAiff(TagLib::IOStream &Stream) {
    TagLib::RIFF::AIFF::File file(&Stream, false);
    TTagReadResult result;
    if (!file.isValid()) {
        result.Problem = QStringLiteral("The AIFF chunks cannot be read.");
        return result;
    }
    if (file.hasID3v2Tag())
        Merge(result.Tags, FromID3v2(*file.tag()),
              ID3v2Kind(*file.tag()) + QStringLiteral(" (ID3 chunk)"));
    return result;
}

} // namespace

bool TTagSet::IsEmpty() const {
    return Title.isEmpty() && Artist.isEmpty() && Album.isEmpty() && Date.isEmpty() &&
           Genre.isEmpty() && Comment.isEmpty() && AlbumArtist.isEmpty() && Composer.isEmpty() &&
           Track == 0 && TrackTotal == 0 && Disc == 0 && DiscTotal == 0 && !FrontCover;
}

TTagReadResult ReadTags(const QString &Path) {
    try {
        QString why;
        const TTagFileKind kind = TagFileKindOf(Path, why);
        if (!why.isEmpty())
            return {{}, why};
        if (kind == TTagFileKind::None)
            return {};
        TagLib::FileStream stream(QFile::encodeName(Path).constData(), true);
        if (!stream.isOpen())
            return {{}, QStringLiteral("The file cannot be opened to read its tags.")};
        switch (kind) {
        case TTagFileKind::Mpeg:
            return ReadMpeg(stream, Path);
        case TTagFileKind::Flac:
            return ReadFlac(stream, Path);
        case TTagFileKind::OggVorbis:
            return ReadOgg<TagLib::Ogg::Vorbis::File>(stream, "Vorbis");
        case TTagFileKind::Opus:
            return ReadOgg<TagLib::Ogg::Opus::File>(stream, "Opus");
        case TTagFileKind::Wav:
            return ReadWav(stream);
        case TTagFileKind::Aiff:
            return ReadAiff(stream);
        case TTagFileKind::None:
            break;
        }
        return {};
    } catch (const std::exception &e) {
        return {
            {},
            QStringLiteral("The tags cannot be read: %1").arg(QString::fromLocal8Bit(e.what()))};
    } catch (...) {
        return {{}, QStringLiteral("The tags cannot be read.")};
    }
}

QStringList TagInfoLines(const TTagSet &Tags) {
    if (Tags.Kinds.isEmpty())
        return {};
    QStringList lines{QStringLiteral("Tags: ") + Tags.Kinds.join(QStringLiteral(", "))};
    const auto add = [&](const char *Name, const QString &Value) {
        if (!Value.isEmpty())
            lines << QLatin1String(Name) + QStringLiteral(": ") + Value;
    };
    const auto numbered = [](int Number, int Total) {
        if (Number <= 0)
            return QString();
        return Total > 0 ? QStringLiteral("%1/%2").arg(Number).arg(Total) : QString::number(Number);
    };
    add("Title", Tags.Title);
    add("Artist", Tags.Artist);
    add("Album", Tags.Album);
    add("Album artist", Tags.AlbumArtist);
    add("Composer", Tags.Composer);
    add("Date", Tags.Date);
    add("Track", numbered(Tags.Track, Tags.TrackTotal));
    add("Disc", numbered(Tags.Disc, Tags.DiscTotal));
    add("Genre", Tags.Genre);
    add("Comment", Tags.Comment);
    if (Tags.FrontCover)
        add("Picture", QStringLiteral("%1, %2 bytes")
                           .arg(Tags.FrontCover->MimeType)
                           .arg(Tags.FrontCover->Data.size()));
    return lines;
}
