#pragma once

#include "app/FileParam.h"

#include <QList>

#include <memory>
#include <vector>

class TConfig;

namespace cli {

// Runs one batch through the conversion engine the window uses, with the window's
// questions answered for a script: an existing output is overwritten with Overwrite and
// skipped with a line otherwise, a refusal of the encoder's settings fails that file and
// the batch goes on. Each failed file gives one line on standard error. Returns the number
// of failed files.
int RunBatch(TConfig &Config, const QList<TFileParam *> &Jobs, bool Overwrite);

// The records of a batch named on the command line, in order.
class TCliJobs {
public:
    // A job for Source whose output goes beside it, or into Folder when one is given.
    TFileParam &Add(const QString &Source, const QString &Folder, const QString &Ext);
    const QList<TFileParam *> &Jobs() const { return FJobs; }

private:
    std::vector<std::unique_ptr<TFileParam>> FRecords;
    QList<TFileParam *> FJobs;
};

// The destination of Source: beside it, or in Folder when one is given (with its trailing
// separator), with the extension replaced by Ext.
QString DestinationOf(const QString &Source, const QString &Folder, const QString &Ext);

// --normalize PERCENT: normalisation on, to a peak of PERCENT (1..100) of full scale. False
// for any other text.
bool ApplyNormalizeOption(const QString &Text, TConfig &Config);

// -j N: up to N files converted at once (1..64). False for any other text.
bool ApplyJobsOption(const QString &Text, TConfig &Config);

} // namespace cli
