#pragma once

#include <QByteArray>
#include <QString>

// MP3 files made by our encoder and tagged by TagLib, as other tools tag them: an ID3v2 tag
// (with a picture) at the start and an ID3v1 tag at the end.
namespace testmedia {

// A one-second sine encoded by the program's encoder into Path.
void WriteEncodedMp3(const QString &Path);

struct Id3v2TagFields {
    int version = 3; // 3 or 4
    QString title, artist, album, comment, genre;
    unsigned year = 0, track = 0;
    QByteArray picture; // an APIC front cover when not empty
    bool withId3v1 = false;
    // The ID3v1 tag's own values, written after the ID3v2 tag.
    QString v1Title, v1Artist;
};
// Gives the file at Path the tags of Fields through TagLib; throws std::runtime_error on
// failure.
void TagWithTagLib(const QString &Path, const Id3v2TagFields &Fields);

// The ID3v2 tag's major version at the start of Bytes; 0 without one.
int Id3v2Version(const QByteArray &Bytes);
// The whole frame (header and body) with Id in the ID3v2 tag (2.3 or 2.4) at the start of
// Bytes, as stored; empty when there is none.
QByteArray Id3v2Frame(const QByteArray &Bytes, const char *Id);

} // namespace testmedia
