#pragma once

#include "app/FileParam.h"
#include "platform/Exception.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// Playlist import: the add command and drops take the audio files an M3U or PLS playlist
// names, not the playlist itself. Playlists are only read. Entries written on Windows
// (drive letters, '\' separators) resolve against the playlist's own folder.

// An M3U playlist that cannot be opened; ends the add or drop that asked for it.
class EPlaylistError : public Exception {
public:
    explicit EPlaylistError(const QString &Path)
        : Exception(QStringLiteral("Cannot open file %1").arg(Path)) {}
};

// ".M3U" or ".PLS", without regard to case.
bool IsPlaylistFile(const QString &Path);
// Whether a path's extension suits the list: .WAV and the other PCM sources (IsSoundFileName)
// for the WAV list, .MP3 .MP2 .MP1 for the MPEG list.
bool SuitsList(const QString &Path, TListKind Kind);
// What a drop keeps for the list: its audio extensions and playlists.
bool SuitsListOrPlaylist(const QString &Path, TListKind Kind);

// The raw entries of an M3U text: every line that is neither empty nor starts with '#',
// unchanged (no trimming). Lines end with LF or CR LF; a leading UTF-8 byte order mark is
// dropped. Bytes that are not UTF-8 are kept as DecodeRawName keeps them.
QStringList ParseM3U(const QByteArray &Text);
// The raw entries of a PLS text: File1 .. FileN of the section [playlist], N from
// NumberOfEntries (0 when missing or not a number); missing or empty values are skipped.
// Section and key names ignore case and values are trimmed, as INI readers do. Bytes that
// are not UTF-8 are kept as DecodeRawName keeps them.
QStringList ParsePLS(const QByteArray &Text);

// The full path of an entry, before any existence test:
// - an entry starting with a drive ("C:") or with '/' is already full;
// - one starting with '\' gets the drive of the playlist's folder (a Windows folder), or
//   stands for the root of a POSIX folder;
// - any other is put behind the playlist's folder.
// On Linux '\' inside a non-drive result becomes '/', since playlists written on Windows use
// it as the separator, and the result is cleaned of "." and ".." parts.
QString ResolvePlaylistEntry(const QString &Entry, const QString &PlaylistPath);

// Appends to Paths every entry of the playlist that suits the list and is not a folder, in
// playlist order; missing ones too, so that the add reports them. An entry whose name is not
// valid UTF-8 is handed on escaped ("bad\xffname.mp3") and ending in '/', so that the add
// reports it and never opens another file in its place. The format follows the extension:
// .M3U is read line by line, anything else as PLS. Throws EPlaylistError when an M3U file cannot be
// opened; a missing PLS file has no entries.
void ExpandPlaylist(const QString &PlaylistPath, QStringList &Paths, TListKind Kind);

// The paths the add command hands on for files chosen in the open dialog: playlists are
// expanded in place, any other file is taken whatever its extension. Throws EPlaylistError
// before anything is added.
QStringList CollectChosenFiles(const QStringList &Files, TListKind Kind);
// The paths a drop hands on: local file URLs whose extension suits the list (others are
// ignored), playlists expanded in place. Names are taken whole. Throws EPlaylistError.
QStringList CollectDroppedFiles(const QList<QUrl> &Urls, TListKind Kind);
