#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "app/FileParam.h"

#include <functional>
#include <optional>
#include <vector>

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

// A file of a run, and where it sits below the folder it was found in: Relative is empty for
// a file named itself, else its path below that folder ("disc 1/01.wav").
struct TSourceFile {
    QString Path;
    QString Relative;
};

// What could not be walked: Failure false for what is only said (a folder reached twice).
using TProblemSink = std::function<void(const QString &What, const QString &Why, bool Failure)>;

// The files an argument stands for: the argument itself, or with Recursive and a folder,
// the files of Kind below it (every audio file without Kind) in natural order, named from
// the argument as it was given. Without Recursive a folder is refused.
std::vector<TSourceFile> ExpandArgument(const QString &Arg, bool Recursive,
                                        std::optional<TListKind> Kind, const TProblemSink &Problem);

} // namespace cli
