#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

// Fuzz input as a file that the file-based readers can open by name, kept in memory so
// that a run does not wear the disk.
class FuzzFile {
public:
    FuzzFile(const uint8_t *data, size_t size) : fd_(memfd_create("fuzz", 0)) {
        size_t done = 0;
        while (fd_ >= 0 && done < size) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
    }
    ~FuzzFile() {
        if (fd_ >= 0)
            close(fd_);
    }
    FuzzFile(const FuzzFile &) = delete;
    FuzzFile &operator=(const FuzzFile &) = delete;

    bool ok() const { return fd_ >= 0; }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd_); }

private:
    int fd_;
};
