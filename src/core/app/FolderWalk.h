#pragma once

#include "app/FileParam.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>
#include <vector>

// Adding a folder: every audio file below it, in an order a person reading the folder
// expects, each with the folder it was added through (its base) so that an output can keep
// the folder structure.

// Which list a file goes to by its extension: WAV and the other PCM sources
// (SuitsList(Path, lkWave)) -> lkWave, MPEG audio (.mp3 .mp2 .mp1) -> lkMpeg; nothing for
// other files.
std::optional<TListKind> ListKindOfFile(const QString &Path);

// Natural order of names: digit runs compare by value ("2" before "10"), the rest
// case-insensitively then exactly; negative, 0, positive. 0 only for equal strings.
int NaturalCompare(const QString &A, const QString &B);

struct TWalkedFile {
    QString Path; // Base, then the names of the folders and links walked through
    QString Base; // the folder that was added, cleaned and absolute
    TListKind Kind;
};

struct TWalkResult {
    std::vector<TWalkedFile> Files;
    // Folders that could not be read and folders skipped as reached twice, one line each:
    // "Cannot read folder X: reason", "Skipped folder X: ...".
    QStringList Problems;
    bool Aborted = false; // Files then holds what was found up to the abort
};

// Walks Folder recursively and lists every audio file (ListKindOfFile):
// - in each folder its files first, then its sub-folders, both in NaturalCompare order;
// - symbolic links to files are followed; links to folders are followed once: a folder met
//   a second time (a link loop, a link to a folder walked by its own name or through another
//   link) is skipped with a Problem line. A folder's own name wins over a link to it, so the
//   structure below Base is the one on disk;
// - hidden entries (names starting with '.') are skipped, as a file manager hides them:
//   they are mostly leftovers of other systems ("._song.mp3") rather than music;
// - other files are skipped silently; a dangling link with an audio name is a Problem.
// Names that are not valid UTF-8 keep their bytes (DecodeRawName), so that the add names
// them. Abort (may be null) is checked between entries. Never throws.
TWalkResult WalkFolder(const QString &Folder, const std::atomic<bool> *Abort = nullptr);
