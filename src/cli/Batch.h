#pragma once

#include "app/FileParam.h"
#include "cli/FileList.h"

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

#include <memory>
#include <vector>

class QCommandLineParser;
class TConfig;

namespace cli {

class TJsonLines;

// Runs one batch through the conversion engine the window uses, with the window's
// questions answered for a script: an existing output is overwritten with Overwrite and
// skipped with a line otherwise, a refusal of the encoder's settings fails that file and
// the batch goes on. Each failed file gives one line on standard error. Returns the number
// of failed files.
int RunBatch(TConfig &Config, const QList<TFileParam *> &Jobs, bool Overwrite, TJsonLines &Lines);

// With --json, one JSON object a line on standard output for each file of a run, written
// as its job ends: source, destination, state ("done", "error", "skipped" for an existing
// output left alone, "aborted"), seconds (the job's wall time), error and warning (the
// lines standard error has for the file, without the program's name; empty when none).
class TJsonLines {
public:
    explicit TJsonLines(bool Enabled) : FEnabled(Enabled) {}
    bool Enabled() const { return FEnabled; }

    void Write(const QString &Source, const QString &Dest, const QString &State, double Seconds,
               const QStringList &Errors, const QStringList &Warnings);
    // A file refused before the batch: its line on standard error, and its record.
    void Refused(const QString &Source, const QString &Why);

private:
    const bool FEnabled;
};

// The sources the arguments of encode or decode name, in order: folders walked with
// Recursive for the files of the list of Kind. What cannot be taken (a missing file, a name
// that is not valid text, a folder that cannot be read) is refused through Lines and counted
// in Failed; a note (a loop skipped) goes to standard error only.
std::vector<TSourceFile> BatchSources(const QStringList &Arguments, bool Recursive, TListKind Kind,
                                      TJsonLines &Lines, int &Failed);

// The records of a batch named on the command line, in order.
class TCliJobs {
public:
    // A job for Source whose output goes beside it, or into Folder when one is given: below
    // it at the place the source has below a walked folder (Relative), a sub-folder that is
    // created here. Null, once said why, when that folder cannot be created.
    TFileParam *Add(const QString &Source, const QString &Relative, const QString &Folder,
                    const QString &Ext, TJsonLines &Lines);
    const QList<TFileParam *> &Jobs() const { return FJobs; }

private:
    std::vector<std::unique_ptr<TFileParam>> FRecords;
    QList<TFileParam *> FJobs;
};

// The destination of Source: beside it, or in Folder when one is given (with its trailing
// separator) and there in the sub-folder Relative has, with the extension replaced by Ext.
QString DestinationOf(const QString &Source, const QString &Relative, const QString &Folder,
                      const QString &Ext);

// The options encode and decode share.
struct TBatchOptions {
    QCommandLineOption OutputDir{QStringList{"o", "output-dir"}, {}, "DIR"};
    QCommandLineOption Overwrite{QStringList{"y", "overwrite"}};
    QCommandLineOption Normalize{QStringList{"normalize"}, {}, "PERCENT"};
    QCommandLineOption Loudness{QStringList{"loudness"}, {}, "LUFS"};
    QCommandLineOption TruePeak{QStringList{"true-peak"}, {}, "DBTP"};
    QCommandLineOption Jobs{QStringList{"j", "jobs"}, {}, "N"};
    QCommandLineOption NoTags{QStringList{"no-tags"}};
    QCommandLineOption ReplayGain{QStringList{"replaygain"}};
    QCommandLineOption AlbumGain{QStringList{"album-gain"}};
    QCommandLineOption FilesFrom{QStringList{"files-from"}, {}, "FILE"};
    QCommandLineOption Nul{QStringList{"0", "null"}};
    QCommandLineOption Json{QStringList{"json"}};
    QCommandLineOption Recursive{QStringList{"r", "recursive"}};

    QList<QCommandLineOption> All() const;
    // Applies to Config for this run: --normalize PERCENT (normalisation on, to a peak of
    // 1..100 percent of full scale; off without it), or --loudness LUFS (normalisation to an
    // integrated loudness of -31..-5 LUFS) with --true-peak DBTP (its ceiling, -9.0..0.0,
    // default -1.0), -j N (up to N files at once, 1..64; one per core without it), --no-tags
    // (the source's tags are not copied, whatever the stored setting says), --replaygain
    // (each output is tagged with its ReplayGain track gain and peak; never without it,
    // whatever the stored setting says) and --album-gain (also the album values of the files
    // of each folder; implies --replaygain). Returns the usage error, or nothing.
    QString Apply(const QCommandLineParser &Parser, TConfig &Config) const;
};

} // namespace cli
