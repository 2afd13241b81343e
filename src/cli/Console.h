#pragma once

#include "inspect/MP3WavComm.h"

#include <QDir>
#include <QString>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

// Standard output and error of the command-line program, and its exit statuses.
namespace cli {

enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

inline QTextStream &out() {
    static QTextStream stream(stdout);
    return stream;
}

inline QTextStream &err() {
    static QTextStream stream(stderr);
    return stream;
}

// One line on standard error naming what failed and why.
inline void Fail(const QString &what, const QString &why) {
    err() << "brindle-cli: " << what << ": " << why << Qt::endl;
}

// The folder of -o, created when missing, as a prefix for file names. False, once said why,
// when it cannot be created.
inline bool MakeOutputFolder(const QString &Dir, QString &Folder) {
    if (!QDir().mkpath(Dir)) {
        Fail(Dir, QStringLiteral("cannot create the output folder"));
        return false;
    }
    Folder = WithTrailingSeparator(Dir);
    return true;
}

inline bool StderrIsTerminal() {
    return isatty(fileno(stderr)) != 0;
}

} // namespace cli
