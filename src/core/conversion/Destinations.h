#pragma once

#include "app/FileParam.h"

#include <QList>
#include <QString>

#include <vector>

// Destinations of a batch, decided before any job starts, so that no job's output can take
// the place of another job's output or source however the jobs overlap.

// A job whose destination was taken by another job of the batch, and the name it got.
struct TMovedDestination {
    int Job;       // the job that was given a new name
    int Other;     // the earlier job whose destination, or the job whose source, it was
    bool Source;   // the name was the other job's source, not its destination
    QString Taken; // the destination it would have had
};

// Gives every job of Jobs, in list order, a destination of its own: a job whose
// destination is that of an earlier job, or the source of another job, is given
// "name (2).ext" with the first number that no job uses, and is listed in the result.
// Folders are compared through their real path, names without regard to letter case (the
// output may go to a file system that ignores it).
// A destination that is the job's own source is left for the job to refuse.
std::vector<TMovedDestination> SeparateDestinations(const QList<TFileParam *> &Jobs);

// A sibling of Path that no file has yet: "song (Word).MP3", then "song (Word 2).MP3", ...
QString FreeSiblingName(const QString &Path, const QString &Word);
