#pragma once

// A file read and written at given offsets, and a window of it kept for searches that step back.

#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <vector>

// A POSIX file descriptor, so that failed opens give the platform's error code.
class TFileHandle {
public:
    // Flags as for open(2); the descriptor is never inherited by child processes.
    TFileHandle(const QString &Path, int Flags);
    ~TFileHandle();
    TFileHandle(const TFileHandle &) = delete;
    TFileHandle &operator=(const TFileHandle &) = delete;

    bool IsOpen() const { return FFd >= 0; }
    int Fd() const { return FFd; }

    // Up to Count bytes at Offset, fewer only at the end of the file; -1 on error (errno).
    qint64 ReadAt(qint64 Offset, uint8_t *Out, qint64 Count) const;
    // False on error (errno).
    bool WriteAt(qint64 Offset, const uint8_t *Bytes, qint64 Count) const;

private:
    int FFd;
};

// The frame search moves back by a few bytes after each false candidate; keeping one window
// of the file makes those moves free instead of a fresh read each.
class TBufferedReader {
public:
    static constexpr qint64 WindowSize = 64 * 1024;

    explicit TBufferedReader(const TFileHandle &File);

    // Bytes from Offset to the end of the window, refilled when Offset lies outside it.
    // Count is 0 at the end of the file; false on a read error.
    bool Window(qint64 Offset, const uint8_t *&Bytes, qint64 &Count);
    // Up to Count bytes at Offset; fewer only at the end of the file, -1 on a read error.
    qint64 Read(qint64 Offset, uint8_t *Out, qint64 Count);

private:
    const TFileHandle &FFile;
    std::vector<uint8_t> FBuffer;
    qint64 FStart = 0;
    qint64 FFilled = 0;
};
