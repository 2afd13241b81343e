#pragma once

#include <QString>

#include <cstdint>

// File steps of the conversion engine that never put a user's file at risk: outputs are
// written under a name of their own beside the destination and renamed into place once
// complete.

// True when both paths exist and are one file (the same device and inode), so that a hard
// link or a symbolic link to the source is never written over.
bool IsSameFile(const QString &A, const QString &B);

// Creates an empty file for the output of Dest in Dest's folder, under a hidden name no
// file of the user's can have, and returns its path; empty, with the reason in Why, when
// the folder does not take it.
QString CreatePartialOutput(const QString &Dest, QString &Why);

// Creates a new empty file in Folder under a hidden name ending in Suffix that no file of
// the user's can have, and returns its path; empty, with the reason in Why, on failure.
QString CreateUniqueFile(const QString &Folder, const QString &Suffix, QString &Why);

// Renames From onto To in one step, replacing To; false with the reason in Why.
bool ReplaceFile(const QString &From, const QString &To, QString &Why);

// Size and modification time of a file, to notice a file that changes while it is read.
struct TFileStamp {
    int64_t Size = -1;
    int64_t ModifiedNs = 0;
    bool operator==(const TFileStamp &) const = default;
};
TFileStamp FileStampOf(const QString &Path);
