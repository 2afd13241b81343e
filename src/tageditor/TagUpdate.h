#pragma once

#include "inspect/MPGTools.h"

#include <QString>

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
    int GenreEntry = 0; // 0 = none, n + 1 = genre code n
};

// The fields as the editor shows them for a file's record.
TTagFields TagFieldsFromInfo(const TMPEGInfo &Info);

// The genre entry of a genre code: codes without a name have the empty entry.
int GenreEntryOfCode(int Code);

// The genre entry for a name (letter case ignored) or a code 0..255 given as text; -1 when
// the text is neither.
int GenreEntryOfText(const QString &Text);

enum class TTagUpdateResult { Written, NotMpeg, NoSuchFile, Refused };

struct TTagUpdate {
    TTagUpdateResult Result = TTagUpdateResult::Written;
    int ErrorCode = 0; // the error of opening the file for writing, when Refused
};

// Reloads the file as it is on disk and, when it is still valid MPEG audio, writes the
// fields as its tag or removes the tag. Throws EInOutError when a read or write fails after
// the file was opened.
TTagUpdate UpdateTag(const QString &FileName, const TTagFields &Fields);
