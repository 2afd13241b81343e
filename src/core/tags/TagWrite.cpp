// Writing a tag set into a conversion output. TagLib renders the tags; the bytes are placed
// by our own checked writes, because TagLib's file stream reports no failed write
// (FileStream::writeBlock returns nothing), so a full disk would leave a damaged file that
// looked tagged.
#include "tags/TagSet.h"

#include "inspect/MPGTools.h"
#include "inspect/PositionalFile.h"
#include "tageditor/TagUpdate.h"

#include <QFile>

#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <tfilestream.h>
#include <wavfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

TagLib::String ToTagLib(const QString &Text) {
    return TagLib::String(Text.toUtf8().constData(), TagLib::String::UTF8);
}

// Sets the TXXX frame of Description to Value, replacing one there.
void SetUserText(TagLib::ID3v2::Tag &Tag, const char *Description, const QString &Value) {
    while (auto *old = TagLib::ID3v2::UserTextIdentificationFrame::find(&Tag, Description))
        Tag.removeFrame(old);
    Tag.addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(
        Description, TagLib::StringList(ToTagLib(Value)), TagLib::String::Latin1));
}

// QString::asprintf formats in the C locale: always a decimal point.
QString GainText(double Gain) {
    return QString::asprintf("%+.2f dB", Gain);
}

QString PeakText(double Peak) {
    return QString::asprintf("%.6f", Peak);
}

void AddText(TagLib::ID3v2::Tag &Tag, const char *Id, const QString &Text) {
    if (Text.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(Id, TagLib::String::UTF8);
    frame->setText(ToTagLib(Text));
    Tag.addFrame(frame);
}

QString CountText(int Number, int Total) {
    if (Number <= 0)
        return {};
    return Total > 0 ? QStringLiteral("%1/%2").arg(Number).arg(Total) : QString::number(Number);
}

// The ID3v2 tag of the set; frames written as UTF-8, which TagLib turns into UTF-16 for
// version 2.3.
TagLib::ByteVector RenderID3v2(const TTagSet &Tags, TagLib::ID3v2::Version Version) {
    TagLib::ID3v2::Tag tag;
    AddText(tag, "TIT2", Tags.Title);
    AddText(tag, "TPE1", Tags.Artist);
    AddText(tag, "TALB", Tags.Album);
    AddText(tag, "TDRC", Tags.Date);
    AddText(tag, "TCON", Tags.Genre);
    AddText(tag, "TRCK", CountText(Tags.Track, Tags.TrackTotal));
    AddText(tag, "TPOS", CountText(Tags.Disc, Tags.DiscTotal));
    AddText(tag, "TPE2", Tags.AlbumArtist);
    AddText(tag, "TCOM", Tags.Composer);
    if (!Tags.Comment.isEmpty()) {
        auto *comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        comment->setLanguage("eng");
        comment->setText(ToTagLib(Tags.Comment));
        tag.addFrame(comment);
    }
    if (Tags.FrontCover && !Tags.FrontCover->Data.isEmpty()) {
        const TTagPicture &cover = *Tags.FrontCover;
        auto *picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setTextEncoding(TagLib::String::UTF8);
        picture->setMimeType(ToTagLib(cover.MimeType));
        picture->setType(TagLib::ID3v2::AttachedPictureFrame::Type(cover.Type & 0xFF));
        picture->setDescription(ToTagLib(cover.Description));
        picture->setPicture(
            TagLib::ByteVector(cover.Data.constData(), unsigned(cover.Data.size())));
        tag.addFrame(picture);
    }
    if (Tags.ReplayGain) {
        SetUserText(tag, "REPLAYGAIN_TRACK_GAIN", GainText(Tags.ReplayGain->TrackGain));
        SetUserText(tag, "REPLAYGAIN_TRACK_PEAK", PeakText(Tags.ReplayGain->TrackPeak));
    }
    return tag.render(Version);
}

QString ErrnoText(int Error) {
    return QString::fromLocal8Bit(std::strerror(Error));
}

bool WriteBytes(const TFileHandle &File, qint64 Offset, const char *Data, qint64 Count,
                QString &Why) {
    if (File.WriteAt(Offset, reinterpret_cast<const uint8_t *>(Data), Count))
        return true;
    Why = ErrnoText(errno);
    return false;
}

// Moves Count bytes from From to To within the file, overlapping or not.
bool MoveBytes(const TFileHandle &File, qint64 From, qint64 To, qint64 Count, QString &Why) {
    if (From == To || Count <= 0)
        return true;
    constexpr qint64 Block = 1 << 20;
    std::vector<uint8_t> buffer(size_t(std::min(Block, Count)));
    // Upwards from the end, downwards from the start, so that nothing is overwritten before
    // it has been read.
    const bool up = To > From;
    for (qint64 done = 0; done < Count;) {
        const qint64 n = std::min(Block, Count - done);
        const qint64 offset = up ? Count - done - n : done;
        if (File.ReadAt(From + offset, buffer.data(), n) != n) {
            Why = errno != 0 ? ErrnoText(errno) : QStringLiteral("the file ended early");
            return false;
        }
        if (!File.WriteAt(To + offset, buffer.data(), n)) {
            Why = ErrnoText(errno);
            return false;
        }
        done += n;
    }
    return true;
}

bool Truncate(const TFileHandle &File, qint64 Size, QString &Why) {
    if (::ftruncate(File.Fd(), off_t(Size)) == 0)
        return true;
    Why = ErrnoText(errno);
    return false;
}

qint64 FileSize(const TFileHandle &File) {
    struct stat status {};
    return ::fstat(File.Fd(), &status) == 0 ? qint64(status.st_size) : -1;
}

// Size of the ID3v2 tag at the start of Head (header, body and footer), 0 when none.
qint64 LeadingID3v2Size(const uint8_t *Head, qint64 Count) {
    if (Count < 10 || std::memcmp(Head, "ID3", 3) != 0 || Head[3] == 0xFF || Head[4] == 0xFF)
        return 0;
    for (int i = 6; i < 10; ++i) {
        if (Head[i] & 0x80)
            return 0;
    }
    const qint64 body =
        (qint64(Head[6]) << 21) | (qint64(Head[7]) << 14) | (qint64(Head[8]) << 7) | Head[9];
    return 10 + body + ((Head[5] & 0x10) ? 10 : 0);
}

// The ID3v1 tag as the tag editor writes it, so that both agree on how a title is cut and
// how a genre becomes a code.
bool WriteID3v1(const QString &Path, const TTagSet &Tags, QString &Why) {
    TTagFields fields;
    fields.HasTag = true;
    fields.Track = Tags.Track > 0 ? QString::number(Tags.Track) : QString();
    fields.Title = Tags.Title;
    fields.Artist = Tags.Artist;
    fields.Album = Tags.Album;
    fields.Year = Tags.Date;
    fields.Comment = Tags.Comment;
    fields.GenreEntry = Tags.Genre.isEmpty() ? 0 : std::max(0, GenreEntryOfText(Tags.Genre));
    try {
        const TTagUpdate update = UpdateTag(Path, fields);
        switch (update.Result) {
        case TTagUpdateResult::Written:
            return true;
        case TTagUpdateResult::NotMpeg:
            Why = QStringLiteral("the ID3v1 tag was not written: %1").arg(update.Problem);
            return false;
        case TTagUpdateResult::NoSuchFile:
            Why = QStringLiteral("the file is gone");
            return false;
        case TTagUpdateResult::Refused:
            Why = ErrnoText(update.ErrorCode);
            return false;
        }
    } catch (const EInOutError &Error) {
        Why = Error.message();
    }
    return false;
}

struct TChunk {
    QByteArray Id;
    qint64 Offset = 0; // of its header
    qint64 Size = 0;   // of its body
    qint64 Total() const { return 8 + Size + (Size & 1); }
};

QByteArray ChunkBytes(const char *Id, const QByteArray &Body) {
    QByteArray chunk(Id, 4);
    const quint32 size = quint32(Body.size());
    for (int i = 0; i < 4; ++i)
        chunk += char((size >> (8 * i)) & 0xFF);
    chunk += Body;
    if (Body.size() & 1)
        chunk += '\0';
    return chunk;
}

QByteArray FromByteVector(const TagLib::ByteVector &Bytes) {
    return QByteArray(Bytes.data(), qsizetype(Bytes.size()));
}

// Replaces the tag chunks of the WAV file (LIST/INFO and "id3 ") by InfoBody, when not empty,
// and Id3, at its end; the other chunks keep their order.
bool WriteWavTagChunks(const TFileHandle &File, const QByteArray &InfoBody, const QByteArray &Id3,
                       QString &Why) {
    const qint64 size = FileSize(File);
    uint8_t head[12];
    if (size < 12 || File.ReadAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        Why = QStringLiteral("the output is no RIFF WAVE file");
        return false;
    }
    std::vector<TChunk> kept;
    for (qint64 offset = 12; offset + 8 <= size;) {
        uint8_t header[12];
        const qint64 got = File.ReadAt(offset, header, 12);
        if (got < 8) {
            Why = QStringLiteral("the output's chunks cannot be read");
            return false;
        }
        TChunk chunk;
        chunk.Id = QByteArray(reinterpret_cast<const char *>(header), 4);
        chunk.Offset = offset;
        chunk.Size = qint64(header[4]) | (qint64(header[5]) << 8) | (qint64(header[6]) << 16) |
                     (qint64(header[7]) << 24);
        if (offset + 8 + chunk.Size > size) {
            Why = QStringLiteral("the output's chunk \"%1\" runs past its end")
                      .arg(QString::fromLatin1(chunk.Id));
            return false;
        }
        // Tags already there are replaced, not doubled.
        const bool infoList =
            chunk.Id == "LIST" && got >= 12 && std::memcmp(header + 8, "INFO", 4) == 0;
        const bool id3 = chunk.Id == "id3 " || chunk.Id == "ID3 ";
        if (!infoList && !id3)
            kept.push_back(chunk);
        offset += chunk.Total();
    }
    qint64 end = 12;
    for (const TChunk &chunk : kept) {
        const qint64 present = std::min(chunk.Total(), size - chunk.Offset);
        if (!MoveBytes(File, chunk.Offset, end, present, Why))
            return false;
        // A last chunk of odd size may lack its pad byte.
        if (present < chunk.Total() && !WriteBytes(File, end + present, "\0", 1, Why))
            return false;
        end += chunk.Total();
    }

    QByteArray added;
    if (!InfoBody.isEmpty())
        added += ChunkBytes("LIST", InfoBody);
    added += ChunkBytes("id3 ", Id3);

    const qint64 newSize = end + added.size();
    if (newSize - 8 > qint64(0xFFFFFFFF)) {
        Why = QStringLiteral("the WAV file would grow beyond 4 GiB");
        return false;
    }
    uint8_t riffSize[4];
    for (int i = 0; i < 4; ++i)
        riffSize[i] = uint8_t(((newSize - 8) >> (8 * i)) & 0xFF);
    return WriteBytes(File, end, added.constData(), added.size(), Why) &&
           Truncate(File, newSize, Why) &&
           WriteBytes(File, 4, reinterpret_cast<const char *>(riffSize), 4, Why);
}

bool WriteWavTagsTo(const TFileHandle &File, const TTagSet &Tags, QString &Why) {
    TagLib::RIFF::Info::Tag info;
    info.setTitle(ToTagLib(Tags.Title));
    info.setArtist(ToTagLib(Tags.Artist));
    info.setAlbum(ToTagLib(Tags.Album));
    info.setFieldText("ICRD", ToTagLib(Tags.Date));
    // TagLib's setTrack writes IPRT; ITRK is the field other readers know.
    if (Tags.Track > 0)
        info.setFieldText("ITRK", TagLib::String::number(Tags.Track));
    info.setGenre(ToTagLib(Tags.Genre));
    info.setComment(ToTagLib(Tags.Comment));
    return WriteWavTagChunks(File, FromByteVector(info.render()),
                             FromByteVector(RenderID3v2(Tags, TagLib::ID3v2::v3)), Why);
}

// The ID3v2.4 tag in front of the audio, replacing one that is there; what follows it (the
// encoder's Info frame first) moves along unchanged.
bool WriteLeadingID3v2(const TFileHandle &File, const TTagSet &Tags, QString &Why) {
    const qint64 size = FileSize(File);
    if (size < 0) {
        Why = ErrnoText(errno);
        return false;
    }
    uint8_t head[10];
    const qint64 got = File.ReadAt(0, head, 10);
    if (got < 0) {
        Why = ErrnoText(errno);
        return false;
    }
    const qint64 oldTag = std::min(LeadingID3v2Size(head, got), size);
    const QByteArray tag = FromByteVector(RenderID3v2(Tags, TagLib::ID3v2::v4));
    const qint64 rest = size - oldTag;
    if (!MoveBytes(File, oldTag, tag.size(), rest, Why))
        return false;
    if (tag.size() < oldTag && !Truncate(File, tag.size() + rest, Why))
        return false;
    return WriteBytes(File, 0, tag.constData(), tag.size(), Why);
}

bool Opened(const TFileHandle &File, QString &Why) {
    if (!File.IsOpen())
        Why = ErrnoText(errno);
    return File.IsOpen();
}

} // namespace

bool WriteMp3Tags(const QString &Path, const TTagSet &Tags, QString &Why) {
    try {
        // The ID3v1 tag first: the editor's writer checks the file for MPEG audio, which it
        // finds without a long tag in front to search through.
        const bool onlyReplayGain = Tags.IsEmpty() && Tags.ReplayGain;
        if (!onlyReplayGain && !WriteID3v1(Path, Tags, Why))
            return false;
        const TFileHandle file(Path, O_RDWR);
        return Opened(file, Why) && WriteLeadingID3v2(file, Tags, Why);
    } catch (const std::exception &Error) {
        Why = QString::fromLocal8Bit(Error.what());
        return false;
    }
}

bool WriteWavTags(const QString &Path, const TTagSet &Tags, QString &Why) {
    try {
        const TFileHandle file(Path, O_RDWR);
        return Opened(file, Why) && WriteWavTagsTo(file, Tags, Why);
    } catch (const std::exception &Error) {
        Why = QString::fromLocal8Bit(Error.what());
        return false;
    }
}

bool AddMp3AlbumGain(const QString &Path, double Gain, double Peak, QString &Why) {
    try {
        const TFileHandle file(Path, O_RDWR);
        if (!Opened(file, Why))
            return false;
        uint8_t head[10];
        const qint64 room = LeadingID3v2Size(head, file.ReadAt(0, head, 10));
        if (room == 0) {
            Why = QStringLiteral("the file has no ID3v2 tag in front");
            return false;
        }
        QByteArray tag;
        {
            TagLib::FileStream stream(QFile::encodeName(Path).constData(), true);
            TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
            TagLib::ID3v2::Tag *id3 = mpeg.isValid() ? mpeg.ID3v2Tag() : nullptr;
            if (!id3 || id3->header()->majorVersion() != 4) {
                Why = QStringLiteral("its ID3v2 tag cannot be read");
                return false;
            }
            SetUserText(*id3, "REPLAYGAIN_ALBUM_GAIN", GainText(Gain));
            SetUserText(*id3, "REPLAYGAIN_ALBUM_PEAK", PeakText(Peak));
            tag = FromByteVector(id3->render(TagLib::ID3v2::v4));
        }
        // Written in place, over the old tag and its padding: the audio is never moved, so a
        // failure cannot cost the file its audio.
        if (tag.size() > room) {
            Why = QStringLiteral("its ID3v2 tag has no room for them");
            return false;
        }
        const qint64 body = room - 10;
        tag.append(QByteArray(room - tag.size(), '\0'));
        for (int i = 0; i < 4; ++i)
            tag[6 + i] = char((body >> (7 * (3 - i))) & 0x7F);
        tag[5] = char(tag[5] & ~0x10); // no footer: padding takes its place
        return WriteBytes(file, 0, tag.constData(), tag.size(), Why);
    } catch (const std::exception &Error) {
        Why = QString::fromLocal8Bit(Error.what());
        return false;
    }
}

bool AddWavAlbumGain(const QString &Path, double Gain, double Peak, QString &Why) {
    try {
        QByteArray info, id3;
        {
            TagLib::FileStream stream(QFile::encodeName(Path).constData(), true);
            TagLib::RIFF::WAV::File wav(&stream, false);
            if (!wav.isValid() || !wav.hasID3v2Tag()) {
                Why = QStringLiteral("its tags cannot be read");
                return false;
            }
            TagLib::ID3v2::Tag &tag = *wav.ID3v2Tag();
            SetUserText(tag, "REPLAYGAIN_ALBUM_GAIN", GainText(Gain));
            SetUserText(tag, "REPLAYGAIN_ALBUM_PEAK", PeakText(Peak));
            if (wav.hasInfoTag())
                info = FromByteVector(wav.InfoTag()->render());
            id3 = FromByteVector(tag.render(TagLib::ID3v2::v3));
        }
        const TFileHandle file(Path, O_RDWR);
        return Opened(file, Why) && WriteWavTagChunks(file, info, id3, Why);
    } catch (const std::exception &Error) {
        Why = QString::fromLocal8Bit(Error.what());
        return false;
    }
}
