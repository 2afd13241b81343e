#include "cli/FileList.h"

#include "app/FolderWalk.h"
#include "app/RawNames.h"
#include "cli/Console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

TNameReader::~TNameReader() {
    if (FOwned && FFd >= 0)
        ::close(FFd);
}

bool TNameReader::Open(const QString &Path, bool Nul, QString &Error) {
    FSeparator = Nul ? '\0' : '\n';
    if (Path == u"-") {
        FFd = STDIN_FILENO;
        return true;
    }
    if (HasRawBytes(Path)) {
        Error = RawNameReason();
        return false;
    }
    // A pipe is a list too (a shell's <(find ...)), so no regular-file test here.
    FFd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0) {
        Error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    FOwned = true;
    return true;
}

bool TNameReader::Next(QString &Name, QString &Error) {
    for (;;) {
        // Whole entries first; a last one without its separator counts at the end.
        qsizetype end;
        while ((end = FBuffer.indexOf(FSeparator)) >= 0) {
            const QByteArray entry = FBuffer.left(end);
            FBuffer.remove(0, end + 1);
            if (!entry.isEmpty()) {
                Name = DecodeRawName(entry);
                return true;
            }
        }
        if (FEnded) {
            if (FBuffer.isEmpty())
                return false;
            Name = DecodeRawName(FBuffer);
            FBuffer.clear();
            return true;
        }
        // What the pipe has now, not a full buffer: a name is taken as soon as it is there.
        char chunk[65536];
        const ssize_t got = ::read(FFd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (got == 0)
            FEnded = true;
        else
            FBuffer.append(chunk, got);
    }
}

bool ReadFileLists(const QStringList &Lists, bool Nul, QStringList &Names) {
    for (const QString &list : Lists) {
        TNameReader reader;
        QString error;
        if (!reader.Open(list, Nul, error)) {
            Fail(EscapedName(list), QStringLiteral("cannot read the file list: ") + error);
            return false;
        }
        QString name;
        while (reader.Next(name, error))
            Names << name;
        if (!error.isEmpty()) {
            Fail(EscapedName(list), QStringLiteral("cannot read the file list: ") + error);
            return false;
        }
    }
    return true;
}

std::vector<TSourceFile> ExpandArgument(const QString &Arg, bool Recursive,
                                        std::optional<TListKind> Kind,
                                        const TProblemSink &Problem) {
    if (HasRawBytes(Arg) || !QFileInfo(Arg).isDir())
        return {{Arg, QString()}};
    if (!Recursive) {
        Problem(Arg, QStringLiteral("is a folder; use -r to take the files below it"), true);
        return {};
    }
    const TWalkResult walk = WalkFolder(Arg);
    for (const QString &line : walk.Problems)
        Problem(Arg, line, !line.startsWith(QLatin1String("Skipped ")));
    // The walker names files from the folder's absolute path; they are named here from the
    // argument, as a file argument would be.
    const QString prefix = WithTrailingSeparator(QDir::cleanPath(Arg));
    std::vector<TSourceFile> files;
    for (const TWalkedFile &file : walk.Files) {
        if (Kind && file.Kind != *Kind)
            continue;
        const QString base = WithTrailingSeparator(file.Base);
        const QString relative = file.Path.startsWith(base) ? file.Path.mid(base.size())
                                                            : QFileInfo(file.Path).fileName();
        files.push_back({prefix + relative, relative});
    }
    if (files.empty() && walk.Problems.isEmpty())
        Problem(Arg, QStringLiteral("no files to take below this folder"), false);
    return files;
}

} // namespace cli
