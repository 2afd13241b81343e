#include "platform/RegularFile.h"

#include "platform/Exception.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString KindOf(mode_t Mode) {
    if (S_ISREG(Mode))
        return QString();
    if (S_ISFIFO(Mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISCHR(Mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(Mode))
        return QStringLiteral("a block device");
    if (S_ISDIR(Mode))
        return QStringLiteral("a folder");
    if (S_ISSOCK(Mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

QString NotRegularText(const QString &Kind) {
    return QStringLiteral("It is %1, not a regular file").arg(Kind);
}

// A descriptor of a regular file opened for reading, in blocking mode again; -1 with
// Reason set otherwise.
int OpenRegularFd(const QString &Path, QString &Reason) {
    const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0) {
        Reason = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const QString Kind = NonRegularKind(Fd);
    int Flags = 0;
    if (!Kind.isEmpty()) {
        Reason = NotRegularText(Kind);
    } else if ((Flags = ::fcntl(Fd, F_GETFL)) < 0 ||
               ::fcntl(Fd, F_SETFL, Flags & ~O_NONBLOCK) != 0) {
        Reason = QString::fromLocal8Bit(std::strerror(errno));
    } else {
        return Fd;
    }
    ::close(Fd);
    return -1;
}

} // namespace

QString NonRegularKind(int Fd) {
    struct stat Status {};
    if (::fstat(Fd, &Status) != 0)
        return QStringLiteral("a file whose kind cannot be read");
    return KindOf(Status.st_mode);
}

QString NonRegularKindAt(const QString &Path) {
    struct stat Status {};
    if (::stat(QFile::encodeName(Path).constData(), &Status) != 0)
        return QString();
    return KindOf(Status.st_mode);
}

bool OpenRegularFile(const QString &Path, QFile &File, QString &Reason) {
    const int Fd = OpenRegularFd(Path, Reason);
    if (Fd < 0)
        return false;
    File.setFileName(Path);
    if (!File.open(Fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        Reason = File.errorString();
        ::close(Fd);
        return false;
    }
    return true;
}

void OpenRegularFileOrThrow(const QString &Path, QFile &File) {
    QString Reason;
    if (!OpenRegularFile(Path, File, Reason))
        throw EFOpenError(Path, Reason);
}

QString RegularFileProblem(const QString &Path) {
    QString Reason;
    const int Fd = OpenRegularFd(Path, Reason);
    if (Fd >= 0)
        ::close(Fd);
    return Reason;
}
