#include "conversion/Destinations.h"

#include "platform/FilePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <map>
#include <set>

namespace {

// One key for names that may be one file: the folder through its real path (a link to a
// folder leads to the same files), the name without regard to letter case. Linux names are
// case-sensitive, but an output folder on a memory card or a shared drive may not be, and
// a needless " (2)" costs less than an overwritten output or source.
// A folder not made yet (below an output folder that keeps the added folders' structure)
// goes through the real path of its nearest existing parent, so that it meets the same
// folder reached through a link.
QString DestinationKey(const QString &Path) {
    const QFileInfo info(Path);
    QString missing;
    QString folder = QDir::cleanPath(info.absolutePath());
    for (QString existing = folder;;) {
        const QString real = QFileInfo(existing).canonicalFilePath();
        if (!real.isEmpty()) {
            folder = real + missing;
            break;
        }
        const qsizetype slash = existing.lastIndexOf(u'/');
        if (slash <= 0)
            break;
        missing.prepend(existing.mid(slash));
        existing.truncate(slash);
    }
    return folder + u'/' + info.fileName().toCaseFolded();
}

// "folder/name (Word).ext", or "(Word N)" from 2 on; a bare number when Word is empty.
QString NumberedName(const QString &Path, const QString &Word, int N) {
    const QString folder = ExtractFilePath(Path);
    const QString name = ExtractFileName(Path);
    const qsizetype dot = FileExtPos(name);
    const QString base = dot < 0 ? name : name.left(dot);
    const QString ext = dot < 0 ? QString() : name.mid(dot);
    QString mark;
    if (Word.isEmpty())
        mark = QString::number(N);
    else
        mark = N < 2 ? Word : QStringLiteral("%1 %2").arg(Word).arg(N);
    return QStringLiteral("%1%2 (%3)%4").arg(folder, base, mark, ext);
}

} // namespace

std::vector<TMovedDestination> SeparateDestinations(const QList<TFileParam *> &Jobs) {
    // The first job to want a name keeps it; a later one takes a number no job wants.
    std::multimap<QString, int> sources;
    std::set<QString> wanted;
    for (int i = 0; i < Jobs.size(); ++i) {
        sources.emplace(DestinationKey(Jobs[i]->SourcePath), i);
        wanted.insert(DestinationKey(Jobs[i]->DestPath));
    }
    std::map<QString, int> given;
    std::vector<TMovedDestination> moved;
    for (int i = 0; i < Jobs.size(); ++i) {
        TFileParam &job = *Jobs[i];
        const QString key = DestinationKey(job.DestPath);
        const auto earlier = given.find(key);
        // Another job's source: its own source is left for the job to refuse.
        int sourceJob = -1;
        for (auto [it, end] = sources.equal_range(key); it != end && sourceJob < 0; ++it)
            if (it->second != i)
                sourceJob = it->second;
        const bool isSource = sourceJob >= 0;
        if (earlier == given.end() && !isSource) {
            given.emplace(key, i);
            continue;
        }
        QString candidate;
        for (int n = 2;; ++n) {
            candidate = NumberedName(job.DestPath, QString(), n);
            const QString candidateKey = DestinationKey(candidate);
            if (!given.count(candidateKey) && !wanted.count(candidateKey) &&
                !sources.count(candidateKey))
                break;
        }
        moved.push_back({i, isSource ? sourceJob : earlier->second, isSource, job.DestPath});
        job.DestPath = candidate;
        given.emplace(DestinationKey(candidate), i);
    }
    return moved;
}

QString FreeSiblingName(const QString &Path, const QString &Word) {
    for (int n = 1;; ++n) {
        const QString candidate = NumberedName(Path, Word, n);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}
