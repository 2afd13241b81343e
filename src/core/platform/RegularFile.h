#pragma once

#include <QString>

class QFile;

// Opening an input only when it is a regular file. The kind is checked on the opened
// descriptor, which is opened non-blocking: a named pipe without a writer would otherwise
// stall the open, a device would feed endless bytes, and a check by name would race with
// the file being replaced.

// What the file at an open descriptor is, when it is not a regular file ("a named pipe
// (FIFO)", "a character device", ...); empty for a regular file.
QString NonRegularKind(int Fd);

// As NonRegularKind for the file at Path, following symbolic links, without opening it;
// empty when there is no such file. For files that another library opens by name.
QString NonRegularKindAt(const QString &Path);

// Opens Path read-only into File (which takes the descriptor). False with Reason set when
// it cannot be opened ("No such file or directory") or is not a regular file ("It is a
// named pipe (FIFO), not a regular file").
bool OpenRegularFile(const QString &Path, QFile &File, QString &Reason);

// As OpenRegularFile, throwing EFOpenError with the path and the reason.
void OpenRegularFileOrThrow(const QString &Path, QFile &File);

// Empty when Path can be opened as a regular file for reading, else the reason. The file
// is opened and closed again, so that the answer is the one an open would give.
QString RegularFileProblem(const QString &Path);
