#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace cli {

// The names of a --files-from list, read as they arrive: "-" is standard input, and each
// name is a line or, with Nul, ends at a NUL byte (names that hold line breaks). Names are
// taken as the bytes they are, as command-line arguments are; empty entries are skipped.
class TNameReader {
public:
    TNameReader() = default;
    TNameReader(const TNameReader &) = delete;
    TNameReader &operator=(const TNameReader &) = delete;
    ~TNameReader();

    // False, with the reason in Error, when the list cannot be opened.
    bool Open(const QString &Path, bool Nul, QString &Error);
    // The next name; false at the end of the list, or with the reason in Error when it
    // cannot be read on.
    bool Next(QString &Name, QString &Error);

private:
    int FFd = -1;
    bool FOwned = false;
    bool FEnded = false;
    char FSeparator = '\n';
    QByteArray FBuffer;
};

// Every name of the lists in Lists (in order), appended to Names. False, once said why on
// standard error, when a list cannot be read.
bool ReadFileLists(const QStringList &Lists, bool Nul, QStringList &Names);

} // namespace cli
