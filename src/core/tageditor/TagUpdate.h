#pragma once

#include "inspect/MPGTools.h"
#include "tageditor/Id3v2Tag.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// The tag editor's rules without its window: how a file's record becomes the editable
// fields, and how edited fields are written back. The editor window and brindle-cli's tag
// command both go through here, so that a tag written from either is the same.
struct TTagFields {
    bool HasTag = false; // the "ID3v1 Tag" box: write a tag, or remove it
    QString Track;       // decimal, empty for none
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Comment;
    // 0 = none (code 255), n + 1 = genre code n. Codes 126..254 have no name but are kept:
    // other taggers write them.
    int GenreEntry = 0;
};

// The fields as the editor shows them for a file's record.
TTagFields TagFieldsFromInfo(const TMPEGInfo &Info);
// The same with the file's ID3v2 tag: each field the ID3v2 tag holds is taken from it, the
// others from the record. V2 without a version leaves the record's fields.
TTagFields TagFieldsFromTags(const TMPEGInfo &Info, const TId3v2Fields &V2);

// The tags a file has, for the editor to say: "ID3v1", "ID3v2.3", "ID3v1, ID3v2.4", or
// "no tag".
QString TagKindsText(bool HasID3v1, int Id3v2Version);

// The genre entry of a genre code: 255 (none) and codes outside a byte have the empty entry.
int GenreEntryOfCode(int Code);

// The genre entry for a name (letter case ignored) or a code 0..255 given as text; -1 when
// the text is neither.
int GenreEntryOfText(const QString &Text);

// The track byte a track text stands for: its number modulo 256, 0 for an empty text or one
// that is not a number.
uint8_t TrackOfText(const QString &Track);

// The labels ("Title", "Artist", "Album", "Year", "Comment") of the fields whose stored part
// holds characters outside ISO-8859-1, which a tag cannot hold and would store as '?'.
QStringList UnstorableFields(const TTagFields &Fields);

enum class TTagUpdateResult { Written, NotMpeg, NoSuchFile, Refused };

struct TTagUpdate {
    TTagUpdateResult Result = TTagUpdateResult::Written;
    int ErrorCode = 0; // the error of opening the file for writing, when Refused
    QString Problem;   // why the file is not MPEG audio, when NotMpeg
};

// Which tags an update writes: the ID3v1 tag and, when the file has one, its ID3v2 tag; or
// the ID3v1 tag alone.
enum class TTagTargets { All, ID3v1Only };

// Reloads the file as it is on disk and, when it is still valid MPEG audio, writes the
// fields as its ID3v1 tag or removes that tag; any other file is left as it is. With
// TTagTargets::All, a file with an ID3v2 tag also gets into that tag each field that differs
// from what the file shows now (TagFieldsFromTags), the file being written anew and renamed
// into place; removing the ID3v1 tag alone leaves the ID3v2 tag as it is. Throws EInOutError
// when a read or write fails after the file was opened; the file is then as it was.
TTagUpdate UpdateTag(const QString &FileName, const TTagFields &Fields,
                     TTagTargets Targets = TTagTargets::All);
