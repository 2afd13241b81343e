#pragma once

#include <QFile>
#include <QString>

#include <cstdint>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Makes a file unreadable (mode 000) for the life of the guard. Permissions do not stop
// root, so root's calling thread also sets aside its power to override them (kept in its
// permitted set and taken back at the end); Works is false when that fails or the file can
// still be read, and the test should then skip. Only the calling thread is affected.
class UnreadableFile {
public:
    explicit UnreadableFile(const QString &Path) : FPath(Path) {
        QFile::setPermissions(Path, QFileDevice::Permissions());
        if (::geteuid() == 0)
            FDropped = SetOverride(false);
        const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY);
        Works = Fd < 0;
        if (Fd >= 0)
            ::close(Fd);
    }
    ~UnreadableFile() {
        if (FDropped)
            SetOverride(true);
        QFile::setPermissions(FPath, QFile::ReadOwner | QFile::WriteOwner);
    }
    UnreadableFile(const UnreadableFile &) = delete;
    UnreadableFile &operator=(const UnreadableFile &) = delete;

    bool Works = false;

private:
    static bool SetOverride(bool On) {
        __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct Data[2]{};
        if (::syscall(SYS_capget, &Header, Data) != 0)
            return false;
        const uint32_t Override = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        Data[0].effective =
            On ? Data[0].effective | (Data[0].permitted & Override) : Data[0].effective & ~Override;
        return ::syscall(SYS_capset, &Header, Data) == 0;
    }

    QString FPath;
    bool FDropped = false;
};
