#pragma once

// The tags of an audio file as one set of fields, read from whatever tags the file holds
// (through TagLib, ID3v1 through our own reader), and written into conversion outputs.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct TTagPicture {
    QByteArray Data;
    QString MimeType;
    QString Description;
    int Type = 3; // the ID3v2/FLAC picture type; 3 = front cover
};

// ReplayGain 2.0 track values: the gain in dB that brings the track to -18 LUFS, and its
// peak as a linear ratio of full scale.
struct TReplayGain {
    double TrackGain = 0;
    double TrackPeak = 0;
};

struct TTagSet {
    QString Title, Artist, Album, Date, Genre, Comment, AlbumArtist, Composer;
    int Track = 0, TrackTotal = 0, Disc = 0, DiscTotal = 0;
    std::optional<TTagPicture> FrontCover;
    // The tags found, in the order they were merged: "ID3v2.4", "ID3v2.3", "ID3v2.2",
    // "APEv2", "ID3v1", "Vorbis comment", "RIFF INFO", "ID3v2.3 (id3 chunk)",
    // "ID3v2.4 (ID3 chunk)" (AIFF).
    QStringList Kinds;
    // Written as TXXX frames REPLAYGAIN_TRACK_GAIN ("-3.21 dB") and REPLAYGAIN_TRACK_PEAK
    // ("0.987654") when set; never read from a file.
    std::optional<TReplayGain> ReplayGain;

    // No field and no picture (Kinds and ReplayGain are not looked at).
    bool IsEmpty() const;
};

// The lines the info texts show of a tag set: "Tags: ID3v2.4, ID3v1", then one line for each
// field that holds something ("Title: ...", "Track: 3/11", ...) and the picture's type and
// size. Empty for a set without tags.
QStringList TagInfoLines(const TTagSet &Tags);

struct TTagReadResult {
    TTagSet Tags;
    QString Problem; // empty when read or when the file simply has no tag
};

// Reads the tags of MPEG audio (ID3v2, APEv2, ID3v1; earlier kinds win field by field),
// FLAC, Ogg Vorbis, Opus, WAV and AIFF. The kind of file is told by its content, then by its
// extension for MPEG audio; any other file has no tags. Never throws.
TTagReadResult ReadTags(const QString &Path);

// Writes Tags into the MPEG audio file at Path: an ID3v2.4 tag in front, replacing any
// there, and an ID3v1 tag at the end as the tag editor writes it (none when the set holds
// only ReplayGain values, which ID3v1 cannot hold). False with the reason in
// Why; the file may then be damaged, so callers write only into files of their own.
bool WriteMp3Tags(const QString &Path, const TTagSet &Tags, QString &Why);
// Writes Tags into the WAV file at Path: a LIST/INFO chunk and an "id3 " chunk with an
// ID3v2.4 tag, replacing such chunks already there. False with the reason in Why.
bool WriteWavTags(const QString &Path, const TTagSet &Tags, QString &Why);

// Adds the ReplayGain album values (TXXX REPLAYGAIN_ALBUM_GAIN and REPLAYGAIN_ALBUM_PEAK) to
// the tags an output got from WriteMp3Tags or WriteWavTags, keeping everything else. An MP3's
// tag is rewritten in place within its room, never moving the audio. False with the reason.
bool AddMp3AlbumGain(const QString &Path, double Gain, double Peak, QString &Why);
bool AddWavAlbumGain(const QString &Path, double Gain, double Peak, QString &Why);
