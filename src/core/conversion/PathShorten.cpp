#include "conversion/PathShorten.h"

#include <algorithm>

namespace {

bool IsSeparator(QChar C) {
    return C == u'/' || C == u'\\';
}

qsizetype RootLength(const QString &Path) {
    if (Path.size() >= 3 && Path[0].isLetter() && Path[1] == u':' && IsSeparator(Path[2]))
        return 3;
    return !Path.isEmpty() && IsSeparator(Path[0]) ? 1 : 0;
}

} // namespace

QString ShortenPath(const QString &Path, int Limit) {
    const qsizetype Length = Path.size();
    if (Limit >= Length || Limit <= 18)
        return Path;
    const qsizetype LastSeparator = std::max(Path.lastIndexOf(u'/'), Path.lastIndexOf(u'\\'));
    if (LastSeparator < 0)
        return Path;
    const qsizetype Root = RootLength(Path);
    const qsizetype NameLength = Length - LastSeparator - 1;

    // The tail takes what the limit leaves beside the root and "...", plus one; when that
    // is no more than the file name and its separator, the tail is just those.
    const qsizetype TailLength = Limit - Root - 2;
    qsizetype TailStart = TailLength > NameLength + 1 ? Length - TailLength : LastSeparator;
    // Start at a folder boundary rather than inside a folder's name.
    while (!IsSeparator(Path[TailStart]))
        ++TailStart;

    // A file name that fills the limit, or a root close to it, would give a form no
    // shorter than the path: the label then draws the path itself, clipped.
    QString Result = Path.left(Root) + QStringLiteral("...") + Path.mid(TailStart);
    return Result.size() < Length ? Result : Path;
}

bool ShortenPathOnce(QString &Path) {
    for (qsizetype Limit = Path.size() - 1; Limit >= 19; --Limit) {
        QString Shorter = ShortenPath(Path, int(Limit));
        if (Shorter.size() != Path.size()) {
            Path = std::move(Shorter);
            return true;
        }
    }
    return false;
}
