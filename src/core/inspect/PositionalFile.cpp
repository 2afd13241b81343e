#include "inspect/PositionalFile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TFileHandle::TFileHandle(const QString &Path, int Flags)
    : FFd(::open(QFile::encodeName(Path).constData(), Flags | O_CLOEXEC)) {}

TFileHandle::~TFileHandle() {
    if (FFd >= 0)
        ::close(FFd);
}

qint64 TFileHandle::ReadAt(qint64 Offset, uint8_t *Out, qint64 Count) const {
    qint64 Done = 0;
    while (Done < Count) {
        const ssize_t Got = ::pread(FFd, Out + Done, size_t(Count - Done), off_t(Offset + Done));
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got < 0)
            return -1;
        if (Got == 0)
            break;
        Done += Got;
    }
    return Done;
}

bool TFileHandle::WriteAt(qint64 Offset, const uint8_t *Bytes, qint64 Count) const {
    qint64 Done = 0;
    while (Done < Count) {
        const ssize_t Put = ::pwrite(FFd, Bytes + Done, size_t(Count - Done), off_t(Offset + Done));
        if (Put < 0 && errno == EINTR)
            continue;
        if (Put <= 0) {
            if (Put == 0)
                errno = EIO;
            return false;
        }
        Done += Put;
    }
    return true;
}

TBufferedReader::TBufferedReader(const TFileHandle &File) : FFile(File), FBuffer(WindowSize) {}

bool TBufferedReader::Window(qint64 Offset, const uint8_t *&Bytes, qint64 &Count) {
    if (Offset < FStart || Offset >= FStart + FFilled) {
        const qint64 Got = FFile.ReadAt(Offset, FBuffer.data(), WindowSize);
        if (Got < 0)
            return false;
        FStart = Offset;
        FFilled = Got;
    }
    Bytes = FBuffer.data() + (Offset - FStart);
    Count = FFilled - (Offset - FStart);
    return true;
}

qint64 TBufferedReader::Read(qint64 Offset, uint8_t *Out, qint64 Count) {
    qint64 Done = 0;
    while (Done < Count) {
        const uint8_t *Bytes = nullptr;
        qint64 Available = 0;
        if (!Window(Offset + Done, Bytes, Available))
            return -1;
        if (Available == 0)
            break;
        const qint64 Take = std::min(Available, Count - Done);
        std::memcpy(Out + Done, Bytes, size_t(Take));
        Done += Take;
    }
    return Done;
}
