#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Makes a file read-only for the life of the guard. Permissions do not stop root, so root
// also gets the immutable flag; Works is false when the file system refuses it, and the
// test should then skip.
class UnwritableFile {
public:
    explicit UnwritableFile(const QString &Path) : FPath(Path) {
        QFile::setPermissions(Path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        Works = geteuid() != 0 || SetImmutable(true);
    }
    ~UnwritableFile() {
        if (geteuid() == 0)
            SetImmutable(false);
        QFile::setPermissions(FPath, QFile::ReadOwner | QFile::WriteOwner);
    }
    UnwritableFile(const UnwritableFile &) = delete;
    UnwritableFile &operator=(const UnwritableFile &) = delete;

    bool Works = false;

private:
    bool SetImmutable(bool On) const {
        const int Fd = ::open(QFile::encodeName(FPath).constData(), O_RDONLY);
        if (Fd < 0)
            return false;
        int Flags = 0;
        bool Done = ::ioctl(Fd, FS_IOC_GETFLAGS, &Flags) == 0;
        Flags = On ? Flags | FS_IMMUTABLE_FL : Flags & ~FS_IMMUTABLE_FL;
        Done = Done && ::ioctl(Fd, FS_IOC_SETFLAGS, &Flags) == 0;
        ::close(Fd);
        return Done;
    }
    QString FPath;
};
