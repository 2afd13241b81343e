#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// File steps of the conversion engine that never put a user's file at risk: outputs are
// written under a name of their own beside the destination and renamed into place once
// complete.

// True when both paths exist and are one file (the same device and inode), so that a hard
// link or a symbolic link to the source is never written over.
bool IsSameFile(const QString &A, const QString &B);

// A hidden file of ours being written: ".brindle-" and 16 hex digits, ".part" for an output,
// ".tmp" for a normalised copy. Created new (never through a symbolic link), it is written
// only through Handle(), never opened again by name. While it exists it holds an exclusive
// flock, which tells a later run that a live process owns it, and a signal-cleanup
// registration, so that SIGINT, SIGTERM and SIGHUP remove it. Destroying it removes the
// file unless Release() said it has been renamed into place.
class TPartialFile {
public:
    TPartialFile() = default;
    TPartialFile(TPartialFile &&Other) noexcept;
    TPartialFile &operator=(TPartialFile &&Other) noexcept;
    TPartialFile(const TPartialFile &) = delete;
    TPartialFile &operator=(const TPartialFile &) = delete;
    ~TPartialFile();

    explicit operator bool() const { return FHandle >= 0; }
    const QString &Path() const { return FPath; }
    // A name that opens the file behind Handle() for reading, whatever has become of its
    // hidden name meanwhile ("/proc/self/fd/N"); Path() where there is no /proc.
    QString ReadPath() const;
    // Open for reading and writing; the writers take duplicates of it.
    int Handle() const { return FHandle; }

    // Removes the file now, if there is one.
    void Remove();
    // The file has been renamed away from its hidden name: closes it, removes nothing.
    void Release();

private:
    friend TPartialFile CreateUniqueFile(const QString &, const QString &, QString &);
    friend bool ReplaceFile(TPartialFile &, TPartialFile &, QString &);

    QString FPath;
    QByteArray FNativePath;
    int FHandle = -1;
    int FSlot = -1; // in the signal-cleanup registry
};

// Creates a new empty file in Folder under a hidden name ending in Suffix (".part" or
// ".tmp") that no file of the user's can have; empty, with the reason in Why, on failure.
// The first file made in a folder (and again after a minute) sweeps the folder's hidden
// files that a killed run left (see SweepStalePartialFiles).
TPartialFile CreateUniqueFile(const QString &Folder, const QString &Suffix, QString &Why);

// The partial file for the output of Dest, in Dest's folder; empty, with the reason in Why,
// when the folder does not take it.
TPartialFile CreatePartialOutput(const QString &Dest, QString &Why);

// Makes the missing folders of Folder below Root, which must exist already; true when
// Folder is then there. False with the reason in Why ("Cannot create folder ...").
bool MakeFoldersBelow(const QString &Root, const QString &Folder, QString &Why);

// Renames From onto To in one step, replacing To, and releases From; false with the reason
// in Why (From is then kept).
bool ReplaceFile(TPartialFile &From, const QString &To, QString &Why);
// Renames From to To unless To exists, in one step; false with the reason in Why.
bool RenameNoReplace(const QString &From, const QString &To, QString &Why);
// Renames From onto To's hidden name: To then holds From's file, From is empty.
bool ReplaceFile(TPartialFile &From, TPartialFile &To, QString &Why);

// True for exactly the names TPartialFile gives: ".brindle-", 16 lower-case hex digits,
// ".part" or ".tmp".
bool IsPartialFileName(const QByteArray &Name);

// Removes the hidden files of Folder that no running process owns: regular files with a
// partial file's name whose lock can be taken. Files locked by another process, other
// names, symbolic links and anything not a regular file are left alone. Returns how many
// were removed.
int SweepStalePartialFiles(const QString &Folder);

// Size and modification time of a file, to notice a file that changes while it is read.
struct TFileStamp {
    int64_t Size = -1;
    int64_t ModifiedNs = 0;
    bool operator==(const TFileStamp &) const = default;
};
TFileStamp FileStampOf(const QString &Path);
