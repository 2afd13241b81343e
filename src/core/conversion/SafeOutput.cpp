#include "conversion/SafeOutput.h"

#include "platform/PartialFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

bool IsSameFile(const QString &A, const QString &B) {
    struct stat a {};
    struct stat b {};
    if (::stat(QFile::encodeName(A).constData(), &a) != 0 ||
        ::stat(QFile::encodeName(B).constData(), &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

TPartialFile::TPartialFile(TPartialFile &&Other) noexcept
    : FPath(std::exchange(Other.FPath, QString())),
      FNativePath(std::exchange(Other.FNativePath, QByteArray())),
      FHandle(std::exchange(Other.FHandle, -1)), FSlot(std::exchange(Other.FSlot, -1)) {}

TPartialFile &TPartialFile::operator=(TPartialFile &&Other) noexcept {
    if (this != &Other) {
        Remove();
        FPath = std::exchange(Other.FPath, QString());
        FNativePath = std::exchange(Other.FNativePath, QByteArray());
        FHandle = std::exchange(Other.FHandle, -1);
        FSlot = std::exchange(Other.FSlot, -1);
    }
    return *this;
}

TPartialFile::~TPartialFile() {
    Remove();
}

QString TPartialFile::ReadPath() const {
    static const bool proc = QFileInfo(QStringLiteral("/proc/self/fd")).isDir();
    if (FHandle < 0 || !proc)
        return FPath;
    return QStringLiteral("/proc/self/fd/%1").arg(FHandle);
}

void TPartialFile::Remove() {
    // Unlinked before the lock goes with the descriptor, so that a sweep never sees the
    // name unlocked; unregistered after, so that a signal in between still removes it.
    if (FHandle >= 0)
        ::unlink(FNativePath.constData());
    Release();
}

void TPartialFile::Release() {
    UnregisterPartialFile(FSlot);
    if (FHandle >= 0)
        ::close(FHandle);
    FSlot = -1;
    FHandle = -1;
    FPath.clear();
    FNativePath.clear();
}

bool IsPartialFileName(const QByteArray &Name) {
    static const QByteArray prefix(".brindle-");
    if (!Name.startsWith(prefix))
        return false;
    const QByteArray rest = Name.mid(prefix.size());
    if (rest.size() < 16)
        return false;
    for (int i = 0; i < 16; ++i) {
        const char c = rest[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    const QByteArray suffix = rest.mid(16);
    return suffix == ".part" || suffix == ".tmp";
}

int SweepStalePartialFiles(const QString &Folder) {
    const int dir =
        ::open(QFile::encodeName(Folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return 0;
    DIR *listing = ::fdopendir(::fcntl(dir, F_DUPFD_CLOEXEC, 0));
    if (!listing) {
        ::close(dir);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(listing)) {
        const char *name = entry->d_name;
        if (!IsPartialFileName(QByteArray(name)))
            continue;
        // Looked at without following a link, and opened only when it is a regular file,
        // so that no device or pipe is ever opened.
        struct stat before {};
        if (::fstatat(dir, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(before.st_mode))
            continue;
        const int fd =
            ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        // A lock that cannot be taken belongs to a live run writing the file.
        if (::fstat(fd, &opened) == 0 && opened.st_dev == before.st_dev &&
            opened.st_ino == before.st_ino && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat now {};
            if (::fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_dev == opened.st_dev && now.st_ino == opened.st_ino &&
                ::unlinkat(dir, name, 0) == 0)
                ++removed;
        }
        ::close(fd);
    }
    ::closedir(listing);
    ::close(dir);
    return removed;
}

namespace {

// Sweeps Folder unless that was done in the last minute, so that a batch of many files
// reads the folder once, while a window left open for days still cleans up after runs
// killed meanwhile.
void SweepOnce(const QString &Folder) {
    using Clock = std::chrono::steady_clock;
    static std::mutex mutex;
    static std::map<QString, Clock::time_point> swept;
    {
        const std::lock_guard lock(mutex);
        const auto now = Clock::now();
        const auto it = swept.find(Folder);
        if (it != swept.end() && now - it->second < std::chrono::minutes(1))
            return;
        swept[Folder] = now;
    }
    SweepStalePartialFiles(Folder);
}

} // namespace

TPartialFile CreateUniqueFile(const QString &Folder, const QString &Suffix, QString &Why) {
    // Absolute, since the signal handler may run after a change of folder.
    const QString folder = QDir(Folder).absolutePath();
    SweepOnce(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path =
            QStringLiteral("%1/.brindle-%2%3")
                .arg(folder)
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                .arg(Suffix);
        const QByteArray native = QFile::encodeName(path);
        // 0666 less the umask, as any new file of the user's gets.
        const int fd =
            ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            Why = QString::fromLocal8Bit(std::strerror(errno));
            return {};
        }
        // Another run's sweep may have opened the new file before it was locked: whoever
        // locks it first decides. Lost, the sweep removes it; won, it must still be there.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            continue;
        }
        // (A file system without locks leaves it unlocked; sweeps cannot lock it either.)
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) != 0 || ::lstat(native.constData(), &named) != 0 ||
            opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
            ::close(fd);
            continue;
        }
        TPartialFile file;
        file.FPath = path;
        file.FNativePath = native;
        file.FHandle = fd;
        file.FSlot = RegisterPartialFile(native.constData());
        return file;
    }
    Why = QStringLiteral("no free temporary name");
    return {};
}

TPartialFile CreatePartialOutput(const QString &Dest, QString &Why) {
    TPartialFile file =
        CreateUniqueFile(QFileInfo(Dest).absolutePath(), QStringLiteral(".part"), Why);
    if (!file)
        Why = QStringLiteral("Cannot create file \"%1\". %2").arg(Dest, Why);
    return file;
}

bool MakeFoldersBelow(const QString &Root, const QString &Folder, QString &Why) {
    const QString root = QDir::cleanPath(QFileInfo(Root).absoluteFilePath());
    const QString folder = QDir::cleanPath(QFileInfo(Folder).absoluteFilePath());
    if (QFileInfo(folder).isDir())
        return true;
    const QString prefix = root.endsWith(u'/') ? root : root + u'/';
    if (!folder.startsWith(prefix)) {
        Why = QStringLiteral("Cannot create folder \"%1\": it is not inside \"%2\"")
                  .arg(folder, root);
        return false;
    }
    // A vanished output folder (an unplugged card) is not made again on another drive.
    if (!QFileInfo(root).isDir()) {
        Why = QStringLiteral("Cannot create folder \"%1\": the output folder \"%2\" does not "
                             "exist")
                  .arg(folder, root);
        return false;
    }
    QString path = root;
    for (const QString &part : folder.mid(prefix.size()).split(u'/')) {
        path = path.endsWith(u'/') ? path + part : path + u'/' + part;
        // Another job may make the same folder at the same moment: one that is there will do.
        if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0 && errno != EEXIST) {
            Why = QStringLiteral("Cannot create folder \"%1\": %2")
                      .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (!QFileInfo(path).isDir()) {
            Why = QStringLiteral("Cannot create folder \"%1\": a file of that name is in the way")
                      .arg(path);
            return false;
        }
    }
    return true;
}

namespace {

bool RenameOnto(const TPartialFile &From, const QString &To, QString &Why) {
    const int error = !From ? ENOENT
                      : std::rename(QFile::encodeName(From.Path()).constData(),
                                    QFile::encodeName(To).constData()) == 0
                          ? 0
                          : errno;
    if (error != 0)
        Why = QStringLiteral("Cannot create file \"%1\". %2")
                  .arg(To, QString::fromLocal8Bit(std::strerror(error)));
    return error == 0;
}

} // namespace

bool ReplaceFile(TPartialFile &From, const QString &To, QString &Why) {
    if (!RenameOnto(From, To, Why))
        return false;
    From.Release();
    return true;
}

bool ReplaceFile(TPartialFile &From, TPartialFile &To, QString &Why) {
    if (!To) {
        Why = QStringLiteral("no file to replace");
        return false;
    }
    if (!RenameOnto(From, To.Path(), Why))
        return false;
    // To's hidden name now holds From's file, with From's descriptor and lock.
    ::close(To.FHandle);
    To.FHandle = std::exchange(From.FHandle, -1);
    From.Release();
    return true;
}

TFileStamp FileStampOf(const QString &Path) {
    struct stat s {};
    if (::stat(QFile::encodeName(Path).constData(), &s) != 0)
        return {};
    return {int64_t(s.st_size), int64_t(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec};
}

bool RenameNoReplace(const QString &From, const QString &To, QString &Why) {
    const QByteArray from = QFile::encodeName(From);
    const QByteArray to = QFile::encodeName(To);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system without the flag: a hard link never replaces either.
    if (errno == EINVAL && ::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    Why = QStringLiteral("Cannot create file \"%1\". %2")
              .arg(To, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}
