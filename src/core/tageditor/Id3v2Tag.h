#pragma once

#include "inspect/Id3v1.h"

#include <QString>

#include <array>
#include <cstdint>

// The ID3v2 tag at the start of an MPEG file, as far as the tag editor shows and writes it:
// the seven fields that an ID3v1 tag also holds. TagLib parses and renders the tag; the
// file itself is only ever written by us, as a new copy renamed into place.

struct TId3v2Fields {
    int Version = 0; // the tag's major version (2, 3 or 4); 0 when the file starts without one
    // Each empty when the tag does not hold it.
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Comment;
    QString Track;
    int GenreEntry = -1; // as TTagFields::GenreEntry; -1 when absent or not in the genre list
};

// The fields of the ID3v2 tag at the start of FileName; Version 0 when there is none or the
// file cannot be read.
TId3v2Fields ReadId3v2Fields(const QString &FileName);

// Which fields an update puts into the ID3v2 tag.
enum TId3v2Field : unsigned {
    v2Title = 1,
    v2Artist = 2,
    v2Album = 4,
    v2Year = 8,
    v2Comment = 16,
    v2Track = 32,
    v2Genre = 64,
};

// What goes into the ID3v2 tag: the fields named in Which (an empty text removes the frame;
// GenreEntry 0 removes the genre).
struct TId3v2Change {
    unsigned Which = 0;
    TId3v2Fields Values;
};

// Writes FileName anew beside itself and renames the copy over it: its ID3v2 tag with Change
// applied (every other frame kept, the version kept; a 2.2 tag becomes 2.3, the oldest
// version TagLib writes), the audio as it is, and at the end V1 in place of any ID3v1 tag
// (no ID3v1 tag when V1 is null). Returns 0, or the errno of opening the file for writing,
// when nothing was changed. Throws EInOutError, with the file left as it was, when any later
// step fails.
int RewriteWithId3v2(const QString &FileName, const TId3v2Change &Change,
                     const std::array<uint8_t, ID3v1Size> *V1);
