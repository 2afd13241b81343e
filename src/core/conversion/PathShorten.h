#pragma once

#include <QString>

// Shorter forms of a path for a one-line label: the root ("C:\" of a drive path, "/" of an
// absolute POSIX path, nothing for a relative one), "...", then the rest from a folder
// boundary on, so that the file name stays visible. '/' and '\' both separate folders.

// Path shortened for about Limit characters (the result may be one longer). Path itself when
// Limit is at least its length or at most 18, when it has no folder to drop, or when no
// shorter form exists.
QString ShortenPath(const QString &Path, int Limit);

// Replaces Path with its first shorter form, trying limits from its length down to 19.
// Returns false, leaving Path as it is, when there is none.
bool ShortenPathOnce(QString &Path);
