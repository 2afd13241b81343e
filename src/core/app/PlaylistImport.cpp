#include "app/PlaylistImport.h"

#include "app/RawNames.h"
#include "platform/FilePaths.h"
#include "platform/RegularFile.h"
#include "sources/SoundFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <optional>

static bool IsM3UFile(const QString &Path) {
    const QString ext = UpperFileExt(Path);
    return ext == u".M3U" || ext == u".M3U8";
}

bool IsPlaylistFile(const QString &Path) {
    return IsM3UFile(Path) || UpperFileExt(Path) == u".PLS";
}

bool IsUrlEntry(const QString &Entry) {
    const qsizetype colon = Entry.indexOf(QStringLiteral("://"));
    if (colon < 2)
        return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const char16_t c = Entry[i].unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        const bool other = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
        if (!letter && !(i > 0 && other))
            return false;
    }
    return true;
}

QString LocalPathOfUrl(const QString &Entry) {
    const QUrl url(Entry, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().compare(u"file", Qt::CaseInsensitive) != 0)
        return QString();
    if (!url.host().isEmpty() && url.host().compare(u"localhost", Qt::CaseInsensitive) != 0)
        return QString();
    // Decoded by hand: QUrl would turn escaped bytes that are not UTF-8 into U+FFFD, which
    // could name another file.
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8());
    QString path = DecodeRawName(bytes);
    // "file:///C:/Music/a.mp3", written on Windows: the drive starts the path.
    if (path.startsWith(u'/') && HasDrive(path.mid(1)))
        path.remove(0, 1);
    return path;
}

QString NotLocalReason() {
    return QStringLiteral("not a local file");
}

QByteArray PlaylistTextAsUtf8(const QByteArray &Text) {
    std::optional<QStringConverter::Encoding> utf16;
    if (Text.startsWith("\xFF\xFE"))
        utf16 = QStringConverter::Utf16LE;
    else if (Text.startsWith("\xFE\xFF"))
        utf16 = QStringConverter::Utf16BE;
    if (!utf16)
        return Text;
    QStringDecoder decoder(*utf16);
    const QString text = decoder.decode(Text.mid(2));
    return text.toUtf8();
}

bool SuitsList(const QString &Path, TListKind Kind) {
    // The WAV list takes every PCM source: WAV and what libsndfile reads.
    return Kind == lkWave ? IsWaveFile(Path) || IsSoundFileName(Path) : IsMPEGAudioFile(Path);
}

bool SuitsListOrPlaylist(const QString &Path, TListKind Kind) {
    return SuitsList(Path, Kind) || IsPlaylistFile(Path);
}

static QList<QByteArray> SplitLines(const QByteArray &Text) {
    QByteArray body = Text;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    QList<QByteArray> lines = body.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

QStringList ParseM3U(const QByteArray &Text) {
    QStringList entries;
    for (const QByteArray &line : SplitLines(PlaylistTextAsUtf8(Text))) {
        if (!line.isEmpty() && !line.startsWith('#'))
            entries << DecodeRawName(line);
    }
    return entries;
}

// GetPrivateProfileInt: leading digits with an optional sign, 0 when there are none.
static int ProfileInt(const QString &Value) {
    qsizetype i = 0;
    bool negative = false;
    if (i < Value.size() && (Value[i] == u'-' || Value[i] == u'+'))
        negative = Value[i++] == u'-';
    long long n = 0;
    for (; i < Value.size() && Value[i].isDigit() && Value[i].unicode() < 128; ++i) {
        n = n * 10 + (Value[i].unicode() - '0');
        if (n > 1000000)
            break; // more entries than any playlist holds; keeps the count in range
    }
    return int(negative ? -n : n);
}

QStringList ParsePLS(const QByteArray &Text) {
    QHash<QString, QString> values; // upper-cased key -> first value in [playlist]
    bool inPlaylist = false;
    for (const QByteArray &raw : SplitLines(PlaylistTextAsUtf8(Text))) {
        const QString line = DecodeRawName(raw).trimmed();
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inPlaylist = name.compare(u"playlist", Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inPlaylist || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed().toUpper();
        if (!values.contains(key))
            values.insert(key, line.mid(eq + 1).trimmed());
    }
    QStringList entries;
    const int count = ProfileInt(values.value(QStringLiteral("NUMBEROFENTRIES")));
    for (int i = 1; i <= count; ++i) {
        const QString value = values.value(QStringLiteral("FILE%1").arg(i));
        if (!value.isEmpty())
            entries << value;
    }
    return entries;
}

QString ResolvePlaylistEntry(const QString &Entry, const QString &PlaylistPath) {
    const QString folder = ExtractFilePath(PlaylistPath);
    QString full;
    if (HasDrive(Entry) || Entry.startsWith(u'/'))
        full = Entry;
    else if (Entry.startsWith(u'\\'))
        full = (HasDrive(folder) ? folder.left(2) : QString()) + Entry;
    else
        full = folder + Entry;
#ifndef Q_OS_WIN
    // Listed as the file system names it: "sub/../a.mp3" is "a.mp3".
    if (!HasDrive(full))
        full = QDir::cleanPath(full.replace(u'\\', u'/'));
#endif
    return full;
}

void ExpandPlaylist(const QString &PlaylistPath, QStringList &Paths, TListKind Kind) {
    QFile file;
    QString why;
    const bool isM3U = IsM3UFile(PlaylistPath);
    if (!OpenRegularFile(PlaylistPath, file, why)) {
        if (isM3U)
            throw EPlaylistError(PlaylistPath, why);
        return;
    }
    const QByteArray text = file.readAll();
    const QStringList entries = isM3U ? ParseM3U(text) : ParsePLS(text);
    for (QString entry : entries) {
        if (IsUrlEntry(entry)) {
            const QString local = LocalPathOfUrl(entry);
            // A stream or a file on another machine: the add names it as not local, where
            // dropping it would leave the user wondering why the playlist came out short.
            if (local.isEmpty()) {
                Paths << entry;
                continue;
            }
            entry = local;
        }
        const QString full = ResolvePlaylistEntry(entry, PlaylistPath);
        if (!SuitsList(full, Kind))
            continue;
        // A name with bytes that are not UTF-8 keeps them (see RawNames): the add refuses
        // it and names it, escaped, in its error list.
        if (HasRawBytes(full)) {
            Paths << full;
            continue;
        }
        // A folder named like a song is not a file to add. A missing entry is kept, so that
        // the add names it in its error list instead of dropping it without a word.
        if (!QFileInfo(full).isDir())
            Paths << full;
    }
}

QStringList CollectChosenFiles(const QStringList &Files, TListKind Kind) {
    QStringList paths;
    for (const QString &file : Files) {
        if (IsPlaylistFile(file))
            ExpandPlaylist(file, paths, Kind);
        else
            paths << file;
    }
    return paths;
}

QStringList CollectDroppedFiles(const QList<QUrl> &Urls, TListKind Kind) {
    QStringList paths;
    for (const QUrl &url : Urls) {
        if (!url.isLocalFile())
            continue;
        const QString name = url.toLocalFile();
        if (!SuitsListOrPlaylist(name, Kind))
            continue;
        if (IsPlaylistFile(name))
            ExpandPlaylist(name, paths, Kind);
        else
            paths << name;
    }
    return paths;
}
