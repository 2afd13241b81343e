#pragma once

#include <QString>

#include <algorithm>

// Path pieces as the program sees them: both '/' and '\' separate folders (playlists
// written on Windows still resolve), and a drive colon ends the folder part too.

// Index of the extension's dot, or -1 when the name has no extension.
inline qsizetype FileExtPos(const QString &FileName) {
    const qsizetype dot = FileName.lastIndexOf(u'.');
    const qsizetype folderEnd = std::max(
        {FileName.lastIndexOf(u'/'), FileName.lastIndexOf(u'\\'), FileName.lastIndexOf(u':')});
    return dot > folderEnd ? dot : -1;
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
