#pragma once

// Tagged test files: audio the tests make, tagged by TagLib itself (or by bytes where TagLib
// cannot write the kind, as ID3v2.2), so that our reader meets tags another writer made.

#include "support/TestMedia.h"
#include "tags/TagSet.h"

#include <QByteArray>
#include <QString>

#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <textidentificationframe.h>
#include <tstring.h>

namespace tagmedia {

inline TagLib::String T(const QString &Text) {
    return TagLib::String(Text.toUtf8().constData(), TagLib::String::UTF8);
}

inline TagLib::ByteVector Bytes(const QByteArray &Data) {
    return TagLib::ByteVector(Data.constData(), unsigned(Data.size()));
}

// A small "JPEG" and "PNG": their magic numbers are what a reader looks at.
inline QByteArray JpegBytes(char Fill = 'j') {
    return QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(300, Fill);
}
inline QByteArray PngBytes() {
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + QByteArray(200, 'p');
}

// MPEG-1 Layer III frames at 128 kbit/s, 44100 Hz, of silence: enough for a reader to find
// audio behind a tag.
inline QByteArray SilentMpegFrames(int Count) {
    QByteArray frame(417, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFB);
    frame[2] = char(0x90);
    frame[3] = char(0x00);
    QByteArray out;
    for (int i = 0; i < Count; ++i)
        out += frame;
    return out;
}

inline void AddText(TagLib::ID3v2::Tag &Tag, const char *Id, const QString &Text) {
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(Id, TagLib::String::UTF8);
    frame->setText(T(Text));
    Tag.addFrame(frame);
}

inline void AddPicture(TagLib::ID3v2::Tag &Tag, const QByteArray &Data, const char *Mime,
                       TagLib::ID3v2::AttachedPictureFrame::Type Type,
                       const QString &Description = {}) {
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setMimeType(Mime);
    frame->setType(Type);
    frame->setDescription(T(Description));
    frame->setPicture(Bytes(Data));
    Tag.addFrame(frame);
}

inline TagLib::FLAC::Picture *FlacPicture(const QByteArray &Data, const char *Mime,
                                          TagLib::FLAC::Picture::Type Type) {
    auto *picture = new TagLib::FLAC::Picture;
    picture->setMimeType(Mime);
    picture->setType(Type);
    picture->setData(Bytes(Data));
    return picture;
}

// A complete set as the carrying tests use it: every field, a Unicode title, a cover.
inline TTagSet FullSet() {
    TTagSet tags;
    tags.Title = QStringLiteral("Zürich — 東京 Nights");
    tags.Artist = QStringLiteral("The Testers");
    tags.Album = QStringLiteral("Generated Album");
    tags.Date = QStringLiteral("2021");
    tags.Genre = QStringLiteral("Jazz");
    tags.Comment = QStringLiteral("made by a test");
    tags.AlbumArtist = QStringLiteral("Various");
    tags.Composer = QStringLiteral("A. Composer");
    tags.Track = 3;
    tags.TrackTotal = 12;
    tags.Disc = 1;
    tags.DiscTotal = 2;
    tags.FrontCover =
        TTagPicture{JpegBytes(), QStringLiteral("image/jpeg"), QStringLiteral("cover"), 3};
    return tags;
}

} // namespace tagmedia
