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
// "Cannot open file <path> (<reason>)".
class EPlaylistError : public Exception {
public:
    EPlaylistError(const QString &Path, const QString &Why)
        : Exception(Why.isEmpty() ? QStringLiteral("Cannot open file %1").arg(Path)
                                  : QStringLiteral("Cannot open file %1 (%2)").arg(Path, Why)) {}
};

// ".M3U", ".M3U8" (the same format, always UTF-8) or ".PLS", without regard to case.
bool IsPlaylistFile(const QString &Path);

// Whether a playlist entry is a URL ("scheme://..."), which is not a path. A one-letter
// scheme is a drive ("C://x" is no URL).
bool IsUrlEntry(const QString &Entry);
// The local path of a file:// URL entry: percent escapes decoded (bytes that are not UTF-8
// kept as DecodeRawName keeps them), "file://localhost/" taken as "file:///". Empty for a
// URL of another scheme or of another host, which names no local file.
QString LocalPathOfUrl(const QString &Entry);
// Why a URL entry is not added.
QString NotLocalReason();
// Whether a path's extension suits the list: .WAV and the other PCM sources (IsSoundFileName)
// for the WAV list, .MP3 .MP2 .MP1 for the MPEG list.
bool SuitsList(const QString &Path, TListKind Kind);
// What a drop keeps for the list: its audio extensions and playlists.
bool SuitsListOrPlaylist(const QString &Path, TListKind Kind);

// Playlist text as UTF-8: a text starting with a UTF-16 byte order mark (LE or BE) is
// decoded from UTF-16; any other is returned as it is.
QByteArray PlaylistTextAsUtf8(const QByteArray &Text);

// The raw entries of an M3U text: every line that is neither empty nor starts with '#',
// unchanged (no trimming). Lines end with LF or CR LF; a leading UTF-8 byte order mark is
// dropped, one of UTF-16 decodes the text. Bytes that are not UTF-8 are kept as
// DecodeRawName keeps them.
QStringList ParseM3U(const QByteArray &Text);
// The raw entries of a PLS text: File1 .. FileN of the section [playlist], N from
// NumberOfEntries (0 when missing or not a number); missing or empty values are skipped.
// Section and key names ignore case and values are trimmed, as INI readers do. Bytes that
// are not UTF-8 are kept as DecodeRawName keeps them. UTF-16 with a byte order mark is read.
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
// reports it and never opens another file in its place. A file:// URL entry is taken as its
// local path; any other URL entry is handed on as it is, so that the add names it as not a
// local file. The format follows the extension: .M3U and .M3U8 are read line by line, anything
// else as PLS. Throws EPlaylistError, with the reason, when an M3U file cannot be opened; a
// missing PLS file has no entries.
void ExpandPlaylist(const QString &PlaylistPath, QStringList &Paths, TListKind Kind);

// The paths the add command hands on for files chosen in the open dialog: playlists are
// expanded in place, any other file is taken whatever its extension. Throws EPlaylistError
// before anything is added.
QStringList CollectChosenFiles(const QStringList &Files, TListKind Kind);
// The paths a drop hands on: local file URLs whose extension suits the list (others are
// ignored), playlists expanded in place. Names are taken whole. Throws EPlaylistError.
QStringList CollectDroppedFiles(const QList<QUrl> &Urls, TListKind Kind);
