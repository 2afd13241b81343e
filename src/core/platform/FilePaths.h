#pragma once

#include <QString>

#include <algorithm>

// Path pieces as the program sees them: both '/' and '\' separate folders (playlists
// written on Windows still resolve). A colon is an ordinary character of a Linux name
// ("Live: 1999.wav"); only a leading drive ("C:") is special.

// Whether the path starts with a drive letter and its colon, as "C:" or "c:\music".
inline bool HasDrive(const QString &Path) {
    return Path.size() >= 2 && Path[1] == u':' && Path[0].unicode() < 128 && Path[0].isLetter();
}

// Index of the last character of the folder part ('/', '\' or a drive's colon), or -1.
inline qsizetype FolderEnd(const QString &Path) {
    const qsizetype separator = std::max(Path.lastIndexOf(u'/'), Path.lastIndexOf(u'\\'));
    return separator < 0 && HasDrive(Path) ? 1 : separator;
}

// The name after the folder part.
inline QString ExtractFileName(const QString &Path) {
    return Path.mid(FolderEnd(Path) + 1);
}

// The folder part with its trailing separator ("" when there is none).
inline QString ExtractFilePath(const QString &Path) {
    return Path.left(FolderEnd(Path) + 1);
}

// Index of the extension's dot, or -1 when the name has no extension.
inline qsizetype FileExtPos(const QString &FileName) {
    const qsizetype dot = FileName.lastIndexOf(u'.');
    return dot > FolderEnd(FileName) ? dot : -1;
}

// The extension with its dot ("" when there is none), as written.
inline QString ExtractFileExt(const QString &FileName) {
    const qsizetype pos = FileExtPos(FileName);
    return pos < 0 ? QString() : FileName.mid(pos);
}

// The extension upper-cased in ASCII only, as file kinds are decided: full Unicode case
// mapping would turn e.g. ".plſ" into ".PLS".
inline QString UpperFileExt(const QString &FileName) {
    QString ext = ExtractFileExt(FileName);
    for (QChar &c : ext) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return ext;
}

// The name with its extension replaced by Ext (which brings its own dot), or Ext appended.
inline QString ChangeFileExt(const QString &FileName, const QString &Ext) {
    const qsizetype pos = FileExtPos(FileName);
    return (pos < 0 ? FileName : FileName.left(pos)) + Ext;
}
