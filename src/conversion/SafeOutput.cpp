#include "conversion/SafeOutput.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsSameFile(const QString &A, const QString &B) {
    struct stat a {};
    struct stat b {};
    if (::stat(QFile::encodeName(A).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(B).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

QString CreateUniqueFile(const QString &Folder, const QString &Suffix, QString &Why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path =
            QStringLiteral("%1/.brindle-%2%3")
                .arg(Folder)
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                .arg(Suffix);
        // 0666 less the umask, as any new file of the user's gets.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            Why = QString::fromLocal8Bit(std::strerror(errno));
            return QString();
        }
    }
    Why = QStringLiteral("no free temporary name");
    return QString();
}

QString CreatePartialOutput(const QString &Dest, QString &Why) {
    const QString path =
        CreateUniqueFile(QFileInfo(Dest).absolutePath(), QStringLiteral(".part"), Why);
    if (path.isEmpty())
        Why = QStringLiteral("Cannot create file \"%1\". %2").arg(Dest, Why);
    return path;
}

bool ReplaceFile(const QString &From, const QString &To, QString &Why) {
    if (std::rename(QFile::encodeName(From).constData(), QFile::encodeName(To).constData()) == 0)
        return true;
    Why = QStringLiteral("Cannot create file \"%1\". %2")
              .arg(To, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

TFileStamp FileStampOf(const QString &Path) {
    struct stat s {};
    if (::stat(QFile::encodeName(Path).constData(), &s) != 0)
        return {};
    return {int64_t(s.st_size), int64_t(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec};
}
