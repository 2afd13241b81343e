#include "tageditor/Id3v2Tag.h"

#include "conversion/SafeOutput.h"
#include "inspect/MPGTools.h"
#include "inspect/PositionalFile.h"

#include <QFileInfo>

#include <taglib/id3v1genres.h>
#include <taglib/id3v2frame.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString FromTagLib(const TagLib::String &Text) {
    return QString::fromStdString(Text.to8Bit(true));
}

TagLib::String ToTagLib(const QString &Text) {
    return TagLib::String(Text.toStdString(), TagLib::String::UTF8);
}

// The size of the ID3v2 tag whose header starts Bytes, header and footer included; 0 when
// Bytes hold no such header.
qint64 Id3v2SizeAt(const uint8_t (&Bytes)[10], int &Version) {
    if (std::memcmp(Bytes, "ID3", 3) != 0 || Bytes[3] < 2 || Bytes[3] > 4 || Bytes[4] == 0xFF)
        return 0;
    qint64 Size = 0;
    for (int i = 6; i < 10; ++i) {
        if (Bytes[i] & 0x80)
            return 0;
        Size = Size << 7 | Bytes[i];
    }
    Version = Bytes[3];
    const bool Footer = Version == 4 && (Bytes[5] & 0x10);
    return 10 + Size + (Footer ? 10 : 0);
}

// The tag at the start of the file as TagLib reads it, with the stream it reads from.
struct TParsedTag {
    std::unique_ptr<TagLib::FileStream> Stream;
    std::unique_ptr<TagLib::MPEG::File> File;
    TagLib::ID3v2::Tag *Tag = nullptr;
    int Version = 0;
    qint64 Size = 0; // in the file, header and footer included
};

// Null Tag unless the file is a plain file that starts with an ID3v2 tag TagLib can read.
TParsedTag ParseLeadingTag(const QString &FileName) {
    TParsedTag Parsed;
    struct stat Status {};
    const QByteArray Native = QFile::encodeName(FileName);
    if (::stat(Native.constData(), &Status) != 0 || !S_ISREG(Status.st_mode))
        return Parsed;
    {
        const TFileHandle Handle(FileName, O_RDONLY | O_NONBLOCK);
        uint8_t Header[10];
        if (!Handle.IsOpen() || Handle.ReadAt(0, Header, 10) != 10)
            return Parsed;
        Parsed.Size = Id3v2SizeAt(Header, Parsed.Version);
        if (Parsed.Size == 0)
            return Parsed;
    }
    Parsed.Stream = std::make_unique<TagLib::FileStream>(Native.constData(), true);
    if (!Parsed.Stream->isOpen())
        return Parsed;
    Parsed.File = std::make_unique<TagLib::MPEG::File>(
        Parsed.Stream.get(), TagLib::ID3v2::FrameFactory::instance(), false);
    TagLib::ID3v2::Tag *Tag = Parsed.File->isValid() ? Parsed.File->ID3v2Tag() : nullptr;
    // Only the tag at the very start counts: the one our reader skips before the audio.
    if (Tag && Parsed.File->hasID3v2Tag() &&
        qint64(Tag->header()->completeTagSize()) == Parsed.Size)
        Parsed.Tag = Tag;
    return Parsed;
}

// The name the tag gets for a genre code: the spelling most taggers use, so that players
// show it as they show their own; the code itself for one that has no name.
TagLib::String GenreText(int Code) {
    TagLib::String Name = TagLib::ID3v1::genre(Code);
    if (Name.isEmpty())
        Name = ToTagLib(GenreName(Code));
    return Name.isEmpty() ? TagLib::String::number(Code) : Name;
}

void ApplyChange(TagLib::ID3v2::Tag &Tag, const TId3v2Change &Change) {
    const TId3v2Fields &V = Change.Values;
    if (Change.Which & v2Title)
        Tag.setTitle(ToTagLib(V.Title));
    if (Change.Which & v2Artist)
        Tag.setArtist(ToTagLib(V.Artist));
    if (Change.Which & v2Album)
        Tag.setAlbum(ToTagLib(V.Album));
    if (Change.Which & v2Comment)
        Tag.setComment(ToTagLib(V.Comment));
    if (Change.Which & v2Year) {
        // The text as typed, not only a number; rendering as 2.3 turns it into TYER.
        Tag.removeFrames("TDRC");
        Tag.removeFrames("TYER");
        if (!V.Year.isEmpty()) {
            auto *Frame =
                new TagLib::ID3v2::TextIdentificationFrame("TDRC", TagLib::String::Latin1);
            Frame->setText(ToTagLib(V.Year));
            Tag.addFrame(Frame);
        }
    }
    if (Change.Which & v2Track) {
        bool IsNumber = false;
        const uint Track = V.Track.toUInt(&IsNumber);
        Tag.setTrack(IsNumber ? Track : 0); // 0 removes the frame
    }
    if (Change.Which & v2Genre) {
        const int Code = V.GenreEntry - 1;
        Tag.setGenre(Code >= 0 && Code < 255 ? GenreText(Code) : TagLib::String());
    }
}

[[noreturn]] void FailOn(const QString &FileName, int Error) {
    throw EInOutError(QStringLiteral("Input/output error on file \"%1\". %2")
                          .arg(FileName, qt_error_string(Error)));
}

void WriteAll(int Fd, qint64 At, const uint8_t *Bytes, qint64 Count, const QString &Name) {
    while (Count > 0) {
        const ssize_t Done = ::pwrite(Fd, Bytes, size_t(Count), off_t(At));
        if (Done < 0 && errno == EINTR)
            continue;
        if (Done <= 0)
            FailOn(Name, Done < 0 ? errno : EIO);
        Bytes += Done;
        At += Done;
        Count -= Done;
    }
}

} // namespace

TId3v2Fields ReadId3v2Fields(const QString &FileName) {
    TId3v2Fields Fields;
    const TParsedTag Parsed = ParseLeadingTag(FileName);
    if (!Parsed.Tag)
        return Fields;
    const TagLib::ID3v2::Tag &Tag = *Parsed.Tag;
    Fields.Version = Parsed.Version;
    Fields.Title = FromTagLib(Tag.title());
    Fields.Artist = FromTagLib(Tag.artist());
    Fields.Album = FromTagLib(Tag.album());
    Fields.Comment = FromTagLib(Tag.comment());
    if (Tag.year() != 0)
        Fields.Year = QString::number(Tag.year());
    if (Tag.track() != 0)
        Fields.Track = QString::number(Tag.track());
    const QString Genre = FromTagLib(Tag.genre());
    if (!Genre.isEmpty()) {
        bool IsNumber = false;
        const int Code = Genre.toInt(&IsNumber);
        if (IsNumber)
            Fields.GenreEntry = Code >= 0 && Code < 255 ? Code + 1 : -1;
        else if (const int Named = GenreCodeOfName(Genre); Named >= 0)
            Fields.GenreEntry = Named + 1;
    }
    return Fields;
}

int RewriteWithId3v2(const QString &FileName, const TId3v2Change &Change,
                     const std::array<uint8_t, ID3v1Size> *V1) {
    // The copy replaces the file a symbolic link names, not the link.
    const QString Target = QFileInfo(FileName).canonicalFilePath();
    if (Target.isEmpty())
        return -1;
    // A file we may not write stays as it is, although its folder would take a new one.
    const TFileHandle Original(Target, O_RDWR | O_NONBLOCK);
    if (!Original.IsOpen())
        return errno;
    struct stat Status {};
    if (::fstat(Original.Fd(), &Status) != 0)
        FailOn(Target, errno);
    const TFileStamp Before = FileStampOf(Target);

    TParsedTag Parsed = ParseLeadingTag(Target);
    if (!Parsed.Tag)
        throw EInOutError(
            QStringLiteral("The ID3v2 tag of \"%1\" cannot be read; nothing written.").arg(Target));
    ApplyChange(*Parsed.Tag, Change);
    const TagLib::ByteVector NewTag =
        Parsed.Tag->render(Parsed.Version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3);
    const qint64 AudioStart = Parsed.Size;
    Parsed.Tag = nullptr;
    Parsed.File.reset(); // before the stream it reads from
    Parsed.Stream.reset();

    qint64 AudioEnd = Status.st_size;
    if (AudioEnd > AudioStart + ID3v1Size) {
        uint8_t Last[ID3v1Size];
        if (Original.ReadAt(AudioEnd - ID3v1Size, Last, ID3v1Size) != ID3v1Size)
            FailOn(Target, errno ? errno : EIO);
        if (std::memcmp(Last, "TAG", 3) == 0)
            AudioEnd -= ID3v1Size;
    }

    QString Why;
    TPartialFile Copy =
        CreateUniqueFile(QFileInfo(Target).absolutePath(), QStringLiteral(".tmp"), Why);
    if (!Copy)
        throw EInOutError(QStringLiteral("Cannot write a copy beside \"%1\": %2; nothing written.")
                              .arg(Target, Why));
    const int Out = Copy.Handle();
    WriteAll(Out, 0, reinterpret_cast<const uint8_t *>(NewTag.data()), NewTag.size(), Target);
    qint64 At = NewTag.size();
    std::vector<uint8_t> Chunk(1 << 20);
    for (qint64 From = AudioStart; From < AudioEnd;) {
        const qint64 Got = Original.ReadAt(From, Chunk.data(),
                                           std::min<qint64>(qint64(Chunk.size()), AudioEnd - From));
        if (Got <= 0)
            FailOn(Target, Got < 0 ? errno : EIO);
        WriteAll(Out, At, Chunk.data(), Got, Target);
        From += Got;
        At += Got;
    }
    if (V1)
        WriteAll(Out, At, V1->data(), ID3v1Size, Target);
    // The copy takes the file's permissions (and owner, where we may give it).
    if (::fchmod(Out, Status.st_mode & 07777) != 0 || ::fsync(Out) != 0)
        FailOn(Target, errno);
    [[maybe_unused]] const int Owned = ::fchown(Out, Status.st_uid, Status.st_gid);
    if (FileStampOf(Target) != Before)
        throw EInOutError(
            QStringLiteral("\"%1\" changed while its tag was written; nothing written.")
                .arg(Target));
    if (!ReplaceFile(Copy, Target, Why))
        throw EInOutError(
            QStringLiteral("Cannot replace \"%1\": %2; nothing written.").arg(Target, Why));
    return 0;
}
