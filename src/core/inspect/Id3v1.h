#pragma once

// The 128-byte ID3v1 tag block at the end of an MPEG audio file, and the genre names.

#include "inspect/MpegInfo.h"

#include <QString>
#include <array>
#include <cstdint>

inline constexpr int GenreCount = 126;
// The genre's name, or empty for codes without one (above 125, 255 among them).
QString GenreName(int Code);
// The code of a genre name: the list's own names and the spellings other taggers use for the
// same genres ("Psychedelic", "Alt. Rock", "Rhythm and Blues"), with letter case, spaces and
// punctuation ignored and "&" read as "and". -1 for a name that is none of them.
int GenreCodeOfName(const QString &Name);

inline constexpr int ID3v1Size = 128;
// Fills the tag fields of Info from a block that begins with "TAG" and returns true; leaves
// Info untouched and returns false otherwise.
bool ReadID3v1(const uint8_t (&Block)[ID3v1Size], TMPEGInfo &Info);
// The tag block of Info's tag fields, texts as ISO-8859-1 ('?' for other characters). A
// non-zero track is written the ID3v1.1 way: comment cut to 28 characters, a zero byte, the
// track.
std::array<uint8_t, ID3v1Size> BuildID3v1(const TMPEGInfo &Info);
// A tag's year as shown: the stored four characters up to the first zero byte, so that a
// year written empty shows empty.
QString TagYearText(const QString &Year);
