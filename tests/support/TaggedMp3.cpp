#include "support/TaggedMp3.h"

#include "encoder/LameCoder.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QFileInfo>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstring>
#include <stdexcept>

namespace testmedia {
namespace {

TagLib::String ToTagLib(const QString &Text) {
    return TagLib::String(Text.toStdString(), TagLib::String::UTF8);
}

} // namespace

void WriteEncodedMp3(const QString &Path) {
    const QString Wav = Path + ".wav";
    WriteSineWav(Wav, 2, 44100, 1.0, 440);
    TLameCoder Coder;
    Coder.SetInputFiles({Wav});
    Coder.SetOutputFiles({Path});
    Coder.Encode();
    QFile::remove(Wav);
    if (QFileInfo(Path).size() < 1000)
        throw std::runtime_error("the encoder wrote no MP3 file");
}

void TagWithTagLib(const QString &Path, const Id3v2TagFields &Fields) {
    TagLib::MPEG::File File(QFile::encodeName(Path).constData(), false);
    if (!File.isValid())
        throw std::runtime_error("TagLib cannot open " + Path.toStdString());
    TagLib::ID3v2::Tag *Tag = File.ID3v2Tag(true);
    Tag->setTitle(ToTagLib(Fields.title));
    Tag->setArtist(ToTagLib(Fields.artist));
    Tag->setAlbum(ToTagLib(Fields.album));
    Tag->setComment(ToTagLib(Fields.comment));
    Tag->setGenre(ToTagLib(Fields.genre));
    Tag->setYear(Fields.year);
    Tag->setTrack(Fields.track);
    if (!Fields.picture.isEmpty()) {
        auto *Picture = new TagLib::ID3v2::AttachedPictureFrame;
        Picture->setMimeType("image/jpeg");
        Picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        Picture->setDescription("cover");
        Picture->setPicture(
            TagLib::ByteVector(Fields.picture.constData(), uint(Fields.picture.size())));
        Tag->addFrame(Picture);
    }
    int Tags = TagLib::MPEG::File::ID3v2;
    if (Fields.withId3v1) {
        TagLib::ID3v1::Tag *V1 = File.ID3v1Tag(true);
        V1->setTitle(ToTagLib(Fields.v1Title));
        V1->setArtist(ToTagLib(Fields.v1Artist));
        V1->setYear(1999);
        Tags |= TagLib::MPEG::File::ID3v1;
    }
    if (!File.save(Tags, TagLib::File::StripOthers,
                   Fields.version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3,
                   TagLib::File::DoNotDuplicate))
        throw std::runtime_error("TagLib cannot save " + Path.toStdString());
}

int Id3v2Version(const QByteArray &Bytes) {
    return Bytes.startsWith("ID3") && Bytes.size() > 3 ? Bytes[3] : 0;
}

QByteArray Id3v2Frame(const QByteArray &Bytes, const char *Id) {
    const int Version = Id3v2Version(Bytes);
    if (Version < 3 || Bytes.size() < 10)
        return {};
    const auto Byte = [&](qsizetype At) { return uint32_t(uint8_t(Bytes[At])); };
    const qsizetype End = 10 + (Byte(6) << 21 | Byte(7) << 14 | Byte(8) << 7 | Byte(9));
    for (qsizetype At = 10; At + 10 <= End && Bytes[At] != '\0';) {
        const uint32_t Size =
            Version == 4
                ? Byte(At + 4) << 21 | Byte(At + 5) << 14 | Byte(At + 6) << 7 | Byte(At + 7)
                : Byte(At + 4) << 24 | Byte(At + 5) << 16 | Byte(At + 6) << 8 | Byte(At + 7);
        if (std::memcmp(Bytes.constData() + At, Id, 4) == 0)
            return Bytes.mid(At, 10 + Size);
        At += 10 + Size;
    }
    return {};
}

} // namespace testmedia
