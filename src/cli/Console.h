#pragma once

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

inline bool StderrIsTerminal() {
    return isatty(fileno(stderr)) != 0;
}

} // namespace cli
