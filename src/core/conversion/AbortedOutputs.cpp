// The end of an aborted batch: the answer whether converted outputs are deleted, and what
// becomes of the outputs that the interrupted jobs left.
#include "conversion/ConvRunner.h"

#include "conversion/Destinations.h"

#include <QFile>
#include <QFileInfo>

void TConvRunner::AnswerAbort(bool DeleteConverted) {
    FDeleteOnClose = DeleteConverted;
    for (TFileParam *Job : FJobs) {
        // An aborted batch deletes no source: Yes takes back what the batch converted, the
        // outputs of sources marked for deletion among them; No keeps every source too.
        if (DeleteConverted && (Job->State == stProcessing || Job->State == stDone ||
                                Job->State == stDoneRemoveSource))
            Job->State = stAbortedRemoved;
        else if (!DeleteConverted && Job->State == stProcessing)
            Job->State = stAborted;
        else if (Job->State == stDoneRemoveSource)
            Job->State = stDone;
    }
    FAbortAnswered = true;
    if (!Busy())
        WorkEnded();
}

void TConvRunner::WorkEnded() {
    if (Busy())
        return;
    if (FAborted && !FAbortAnswered)
        return; // the answer decides about the interrupted outputs
    FReports.ReleaseAll();
    for (auto &[job, partial] : FInterrupted) {
        if (job->State == stAborted)
            KeepInterrupted(*job, partial);
        else
            partial.Remove();
    }
    FInterrupted.clear();
    DeleteAbortedOutputs();
    emit Idle();
}

void TConvRunner::KeepInterrupted(TFileParam &Job, TPartialFile &Partial) {
    // Answered No: what was converted is kept under the destination's name when that is
    // free. An earlier file there is never replaced by a fragment: the part goes beside it.
    QString why;
    if (!QFileInfo::exists(Job.DestPath) && !QFileInfo(Job.DestPath).isSymLink() &&
        RenameNoReplace(Partial.Path(), Job.DestPath, why)) {
        Partial.Release();
        FWritten.insert(&Job);
        return;
    }
    const QString kept = FreeSiblingName(Job.DestPath, QStringLiteral("partial"));
    QString what;
    if (RenameNoReplace(Partial.Path(), kept, why)) {
        Partial.Release();
        what = QStringLiteral("'%1' was there before and is kept; the part converted before "
                              "the abort is '%2'.")
                   .arg(Job.DestPath, kept);
    } else {
        Partial.Remove();
        what = QStringLiteral("'%1' was there before and is kept; the part converted before "
                              "the abort is not: %2")
                   .arg(Job.DestPath, why);
    }
    FQuestions.SetSubject(int(FJobs.indexOf(&Job)));
    FQuestions.Warn(Job.SourcePath, what);
}

void TConvRunner::DeleteAbortedOutputs() {
    if (!FDeleteOnClose)
        return;
    for (TFileParam *Job : FJobs) {
        if (Job->State != stAbortedRemoved)
            continue;
        Job->State = stQueued;
        // Only what this batch wrote: a destination the interrupted job had not replaced
        // yet is still the user's earlier file.
        if (FWritten.count(Job) && QFileInfo::exists(Job->DestPath) &&
            !QFile::remove(Job->DestPath))
            FQuestions.AddMessage(
                QStringLiteral("Can't delete the converted wave files: %1").arg(Job->DestPath));
    }
    FDeleteOnClose = false;
}
