// The conversion runner's batch: jobs taken up in list order on free slots, progress,
// questions, reports, abort and the outputs an abort leaves. The jobs themselves are in
// EncodeJob.cpp and DecodeJob.cpp.
#include "conversion/ConvRunner.h"

#include "conversion/ConvSlot.h"
#include "conversion/Destinations.h"
#include "platform/FilePaths.h"
#include "platform/ModalResults.h"
#include "settings/Config.h"

#include <QFile>
#include <QFileInfo>

QString PhaseCaption(int Phase) {
    switch (Phase) {
    case phScanPeak:
        return QStringLiteral("Scan peak level");
    case phNormalize:
        return QStringLiteral("Normalizing");
    case phEncode:
        return QStringLiteral("Encoding");
    case phDecode:
        return QStringLiteral("Decoding");
    case phDone:
        return QStringLiteral("Done");
    default:
        return QString();
    }
}

namespace {

// What the error list says of a destination that another job of the batch had. The new
// name lies in the same folder, so the names say it.
QString MovedDestinationText(const TMovedDestination &Moved, const QList<TFileParam *> &Jobs) {
    const TFileParam &other = *Jobs.at(Moved.Other);
    const QString whose = Moved.Source ? QStringLiteral("is the source file '%1' of this batch")
                                       : QStringLiteral("is also the output of '%1'");
    return QStringLiteral("'%1' %2; this one is written as '%3'.")
        .arg(ExtractFileName(Moved.Taken), whose.arg(other.SourcePath),
             ExtractFileName(Jobs.at(Moved.Job)->DestPath));
}

} // namespace

TConvRunner::TConvRunner(TConfig &Config, IConvQuestions &Questions, QObject *Parent)
    : QObject(Parent), FConfig(Config), FQuestions(Questions) {
    NewSlot();
}

TConvRunner::TSlot &TConvRunner::NewSlot() {
    FSlots.push_back(std::make_unique<TSlot>());
    TSlot &S = *FSlots.back();
    S.Coder = std::make_unique<TLameCoder>();
    S.Coder->SetDefaultExt(QStringLiteral(".mp3"));
    S.Coder->OnProgress = [this, &S](TLameCoder &Coder, uint16_t Percent) {
        // Called on the worker. An abort that came just before Encode reset the coder's
        // flag is passed on here.
        if (FStop)
            Coder.Abort();
        if (int(Percent) != S.LastPercent) {
            S.LastPercent = Percent;
            FMailbox.Post([this, &S, Percent] { SlotProgress(S, Percent); });
        }
    };

    WireDecoder(S);
    return S;
}
TConvRunner::~TConvRunner() {
    FStop = true;
    for (const auto &S : FSlots)
        S->Coder->Abort();
    for (const auto &S : FSlots) {
        if (S->Worker.joinable())
            S->Worker.join();
        S->Partial.Remove();
        S->Temp.Remove();
    }
    FInterrupted.clear();
}

bool TConvRunner::LoadLibrary() {
    try {
        for (const auto &S : FSlots)
            S->Player->Init();
        FLibraryError.clear();
        return true;
    } catch (const Exception &Error) {
        // Shown by the window; decode jobs then fail one by one with the reason.
        FLibraryError = Error.message();
        return false;
    }
}

QList<TConvRunner::TRunningJob> TConvRunner::RunningJobs() const {
    std::vector<const TSlot *> running;
    for (const auto &S : FSlots)
        if (S->Job)
            running.push_back(S.get());
    std::sort(running.begin(), running.end(),
              [](const TSlot *A, const TSlot *B) { return A->Order < B->Order; });
    QList<TRunningJob> result;
    for (const TSlot *S : running)
        result.append({S->Index, S->JobPercent()});
    return result;
}

void TConvRunner::SetPhase(TSlot &S, int Phase) {
    S.LastPercent = -1;
    S.Phase = Phase;
    if (Phase != phDone) {
        ++S.Step;
        S.Percent = 0;
    }
    if (&S != FShown)
        return;
    emit PhaseChanged(Phase);
    if (FSlotsInUse == 1)
        return;
    // Several jobs: the caption follows the work still going on, the bar the batch.
    if (Phase == phDone) {
        TSlot *latest = nullptr;
        for (const auto &Other : FSlots)
            if (Other->Job && Other.get() != &S && (!latest || Other->Order > latest->Order))
                latest = Other.get();
        if (latest) {
            FShown = latest;
            emit PhaseChanged(latest->Phase);
        }
    }
    EmitBatchProgress(true);
}

std::function<void(int)> TConvRunner::WorkerProgress(TSlot &S) {
    return [this, &S](int Percent) {
        FMailbox.Post([this, &S, Percent] { SlotProgress(S, Percent); });
    };
}

void TConvRunner::SlotProgress(TSlot &S, int Percent) {
    if (!S.Job)
        return;
    S.Percent = std::clamp(Percent, 0, 100);
    if (FSlotsInUse == 1)
        emit ProgressChanged(Percent);
    else
        EmitBatchProgress(false);
}

void TConvRunner::EmitBatchProgress(bool Always) {
    if (FTotal <= 0)
        return;
    int running = 0;
    int sum = 0;
    for (const auto &S : FSlots) {
        if (S->Job) {
            ++running;
            sum += S->JobPercent();
        }
    }
    // Jobs taken up or skipped that have ended count whole.
    const int percent = int((int64_t(FNext - running) * 100 + sum) / FTotal);
    // Never backwards: a job's phases are weighed evenly, not by their real length.
    if (percent > FBatchPercent || Always) {
        FBatchPercent = std::max(FBatchPercent, std::min(percent, 100));
        emit ProgressChanged(FBatchPercent);
    }
}

bool TConvRunner::Busy() const {
    return std::any_of(FSlots.begin(), FSlots.end(), [](const auto &S) { return S->Job; });
}

void TConvRunner::Start() {
    FTotal = int(FJobs.size());
    FFileIndex = 0;
    FLastStarted = -1;
    FLastAnswer = 0;
    FAborted = false;
    FFinished = false;
    FDeleteOnClose = false;
    FStartedCount = 0;
    FConvertedCount = 0;
    FAbortAnswered = false;
    FEnded = false;
    FCancelled = false;
    FStop = false;
    FNext = 0;
    FBatchPercent = 0;
    FShown = nullptr;
    FWritten.clear();
    FInterrupted.clear();
    FReports.Reset(FTotal);
    FSlotsInUse = std::clamp(FConfig.ConvertJobCount(), 1, std::max(FTotal, 1));
    while (int(FSlots.size()) < FSlotsInUse)
        NewSlot();
    FQuestions.ClearMessages();
    // Decided before any job starts, so that jobs running at once cannot take each other's
    // names, and a source never becomes another job's output.
    for (const TMovedDestination &moved : SeparateDestinations(FJobs))
        Report(moved.Job, TReportQueue::TReport::Warning, FJobs.at(moved.Job)->SourcePath,
               MovedDestinationText(moved, FJobs));
    emit ProgressChanged(0);
    if (FConfig.ConvertType != 0)
        LoadLibrary(); // without it each decode job fails at once with the reason
    Dispatch();
}

void TConvRunner::Abort() {
    FAborted = true;
    FStop = true;
    for (const auto &S : FSlots) {
        S->Coder->Abort();
        if (!S->Decoding)
            continue;
        try {
            S->Player->Stop();
            S->Player->InputClose();
        } catch (const Exception &) {
            // Without a library there is nothing to stop.
        }
        CloseDecodeOutput(*S);
    }
}

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

bool TConvRunner::MayOverwrite(int JobIndex, TFileParam &Job, bool &Cancelled) {
    Cancelled = false;
    if (!FConfig.OverwritePrompt || !QFileInfo::exists(Job.DestPath))
        return true;
    if (FLastAnswer != mrYesToAll && FLastAnswer != mrNoToAll)
        FLastAnswer = Ask(JobIndex, [&] { return FQuestions.ConfirmOverwrite(Job.DestPath); });
    switch (FLastAnswer) {
    case mrYes:
    case mrYesToAll:
        return true;
    case mrCancel:
        Cancelled = true;
        return false;
    default:
        return false;
    }
}

bool TConvRunner::CheckSameFile(TSlot &S, const QString &ErrorLine) {
    TFileParam &Job = S.J();
    if (!IsSameFile(Job.SourcePath, Job.DestPath))
        return true;
    Job.State = stError;
    Report(S.Index, TReportQueue::TReport::Message, ErrorLine);
    Report(
        S.Index, TReportQueue::TReport::Note,
        QStringLiteral("  '%1' is the source file itself; it is left as it is.").arg(Job.DestPath));
    return false;
}

void TConvRunner::Fail(TSlot &S, const QString &ErrorLine, const QString &Why) {
    S.J().State = stError;
    Report(S.Index, TReportQueue::TReport::Message, ErrorLine);
    Report(S.Index, TReportQueue::TReport::Note, QStringLiteral("  ") + Why);
}

void TConvRunner::Report(int JobIndex, TReportQueue::TReport::TKind Kind, const QString &Text,
                         const QString &Why) {
    FReports.Add(JobIndex, Kind, Text, Why);
}

void TConvRunner::DeliverReport(int JobIndex, const TReportQueue::TReport &R) {
    FQuestions.SetSubject(JobIndex);
    switch (R.Kind) {
    case TReportQueue::TReport::Message:
        FQuestions.AddMessage(R.Text);
        break;
    case TReportQueue::TReport::Note:
        FQuestions.AddNote(R.Text);
        break;
    case TReportQueue::TReport::Warning:
        FQuestions.Warn(R.Text, R.Why);
        break;
    case TReportQueue::TReport::Skip:
        FQuestions.Skipped(R.Text);
        break;
    }
}

void TConvRunner::MarkDone(TSlot &S) {
    // A source is deleted only when its output is whole and nothing was said about the job:
    // a warning means the output is not all the source holds, or not where it was expected.
    S.J().State =
        FConfig.DeleteOriginalFile && !FReports.Spoken(S.Index) ? stDoneRemoveSource : stDone;
    ++FConvertedCount;
}

int TConvRunner::FailedCount() const {
    return int(std::count_if(FJobs.begin(), FJobs.end(),
                             [](const TFileParam *Job) { return Job->State == stError; }));
}

void TConvRunner::Conclude() {
    FAborted = false;
    FFinished = true;
}

void TConvRunner::RunWorker(TSlot &S, std::function<void()> Work, std::function<void()> Then) {
    // The worker's last act is to post its end, so everything it did is handed over with it.
    S.Worker = std::thread([this, &S, Work = std::move(Work), Then = std::move(Then)]() mutable {
        Work();
        FMailbox.Post([this, &S, Then = std::move(Then)] {
            S.Worker.join();
            FGate.WhenNoQuestion(Then);
        });
    });
}

// --- The batch --------------------------------------------------------------------------

void TConvRunner::UpdateFileIndex() {
    const auto running = std::count_if(FSlots.begin(), FSlots.end(),
                                       [](const auto &S) { return S->Job != nullptr; });
    FFileIndex = FConfig.ConvertType == 0 ? FNext - int(running) : FNext;
}

void TConvRunner::Dispatch() {
    if (FDispatching) {
        FDispatchAgain = true;
        return;
    }
    FDispatching = true;
    const bool encoding = FConfig.ConvertType == 0;
    do {
        FDispatchAgain = false;
        while (!FAborted && !FCancelled && FNext < FTotal) {
            TSlot *slot = nullptr;
            for (int i = 0; i < FSlotsInUse && !slot; ++i)
                if (!FSlots[i]->Job)
                    slot = FSlots[i].get();
            if (!slot)
                break;
            const int index = FNext;
            TFileParam &Job = *FJobs.at(index);
            if (encoding) {
                ++FStartedCount;
            } else {
                emit JobStarted(index);
                ResetProgress();
            }
            bool cancelled = false;
            const bool convert = MayOverwrite(index, Job, cancelled);
            if (cancelled) {
                FCancelled = true;
                break;
            }
            ++FNext;
            if (!convert) {
                Report(index, TReportQueue::TReport::Skip, Job.DestPath);
                UpdateFileIndex();
                FReports.Ended(index);
                emit JobEnded(index, Job.State);
                continue;
            }
            slot->Job = &Job;
            slot->Index = index;
            slot->Order = ++FStartOrder;
            slot->Step = -1;
            slot->Steps = FConfig.FNormalizeVolume ? 3 : 1;
            slot->Percent = 0;
            slot->Partial.Remove();
            slot->Temp.Remove();
            UpdateFileIndex();
            if (encoding)
                StartEncodeJob(*slot);
            else
                StartDecodeJob(*slot);
        }
    } while (FDispatchAgain);
    FDispatching = false;

    if (Busy() || FEnded)
        return;
    FReports.ReleaseAll();
    if (FAborted) {
        WorkEnded();
        return;
    }
    FEnded = true;
    if (!encoding)
        FFinished = true;
    emit BatchEnded();
}

void TConvRunner::ResetProgress() {
    if (FSlotsInUse == 1)
        emit ProgressChanged(0);
    else
        EmitBatchProgress(true);
}

void TConvRunner::EndJob(TSlot &S) {
    // Left by an abort: the answer decides whether it replaces the destination.
    if (S.Partial)
        FInterrupted.emplace_back(S.Job, std::move(S.Partial));
    const int index = S.Index;
    S.Temp.Remove();
    S.Job = nullptr;
    S.Index = -1;
    S.Decoding = false;
    S.Closing = false;
    S.Stall->stop();
    UpdateFileIndex();
    FReports.Ended(index);
    emit JobEnded(index, FJobs.at(index)->State);
    Dispatch();
}

// --- Abort ------------------------------------------------------------------------------

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
