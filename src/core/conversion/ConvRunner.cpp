// The conversion runner's batch: jobs taken up in list order on free lanes, progress,
// questions, reports and abort; the jobs talk to it through its host. The jobs themselves
// are TEncodeJob and TDecodeJob, the end of an aborted batch is in AbortedOutputs.cpp.
#include "conversion/ConvRunner.h"

#include "conversion/ConvJob.h"
#include "conversion/DecodeJob.h"
#include "conversion/Destinations.h"
#include "conversion/EncodeJob.h"
#include "platform/FilePaths.h"
#include "platform/ModalResults.h"
#include "settings/Config.h"
#include "tags/TagSet.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

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

// A place for one running job. Its jobs are kept from batch to batch, one for each
// direction, so that their encoder and player are made once.
struct TConvRunner::TLane {
    std::unique_ptr<TEncodeJob> Encoder;
    std::unique_ptr<TDecodeJob> Decoder;
    TConvJob *Running = nullptr; // none: the lane is free
    int Index = -1;
    uint64_t Order = 0; // when it was taken up

    int Phase = 0;
    int Step = -1; // phases of the job taken so far, less one
    int Steps = 1;
    int Percent = 0;
    std::array<int, phDone + 1> LastStep{}; // where each phase was last taken, -1: not yet

    TFileParam &J(const QList<TFileParam *> &Jobs) const { return *Jobs.at(Index); }
    int JobPercent() const {
        return std::min(100, (std::max(Step, 0) * 100 + Percent) / std::max(Steps, 1));
    }
};

class TConvRunner::THost final : public IJobHost {
public:
    explicit THost(TConvRunner &Runner) : R(Runner) {}

    const TConfig &Config() const override { return R.FConfig; }
    TQuestionGate &Gate() override { return R.FGate; }
    IConvQuestions &Questions() override { return R.FQuestions; }
    TMailbox &Mailbox() override { return R.FMailbox; }
    const std::atomic<bool> &Stop() const override { return R.FStop; }
    bool Aborted() const override { return R.FAborted; }
    bool Finished() const override { return R.FFinished; }
    int DecodeStallSeconds() const override { return R.FDecodeStallSeconds; }
    int JobSlots() const override { return R.FSlotsInUse; }

    void SetPhase(TConvJob &Job, int Phase) override { R.SetPhase(R.LaneOf(Job), Phase); }
    void Progress(TConvJob &Job, int Percent) override {
        // A report posted before its job ended is no longer news.
        if (Job.Running())
            R.LaneProgress(R.LaneOf(Job), Percent);
    }
    void StateCaption(TConvJob &Job, const QString &Caption) override {
        if (&R.LaneOf(Job) == R.FShown)
            emit R.StateCaption(Caption);
    }
    void Fail(TConvJob &Job, const QString &ErrorLine, const QString &Why) override {
        R.Fail(R.LaneOf(Job), ErrorLine, Why);
    }
    void Warn(TConvJob &Job, const QString &Why) override {
        const TLane &lane = R.LaneOf(Job);
        R.Report(lane.Index, TReportQueue::TReport::Warning, lane.J(R.FJobs).SourcePath, Why);
    }
    void Done(TConvJob &Job, TTrackLoudness Track) override {
        R.MarkDone(R.LaneOf(Job), std::move(Track));
    }
    void RequestClose() override {
        R.Abort();
        emit R.CloseRequested();
    }
    void Ended(TConvJob &Job, TPartialFile Left) override {
        R.LaneEnded(R.LaneOf(Job), std::move(Left));
    }

private:
    TConvRunner &R;
};

TConvRunner::TConvRunner(TConfig &Config, IConvQuestions &Questions, QObject *Parent)
    : QObject(Parent), FConfig(Config), FQuestions(Questions),
      FHost(std::make_unique<THost>(*this)) {
    NewLane();
}

TConvRunner::TLane &TConvRunner::NewLane() {
    FLanes.push_back(std::make_unique<TLane>());
    return *FLanes.back();
}

TConvJob &TConvRunner::JobFor(TLane &L, bool Encoding) {
    if (Encoding) {
        if (!L.Encoder)
            L.Encoder = std::make_unique<TEncodeJob>(*FHost);
        return *L.Encoder;
    }
    if (!L.Decoder)
        L.Decoder = std::make_unique<TDecodeJob>(*FHost);
    return *L.Decoder;
}

TConvRunner::TLane &TConvRunner::LaneOf(const TConvJob &Job) {
    for (const auto &L : FLanes)
        if (L->Encoder.get() == &Job || L->Decoder.get() == &Job)
            return *L;
    Q_UNREACHABLE();
}

TConvRunner::~TConvRunner() {
    FStop = true;
    // Each job stops and joins its worker; what is left of its files goes with it.
    FLanes.clear();
    FInterrupted.clear();
}

bool TConvRunner::LoadLibrary() {
    try {
        for (const auto &L : FLanes)
            static_cast<TDecodeJob &>(JobFor(*L, false)).LoadLibrary();
        FLibraryError.clear();
        return true;
    } catch (const Exception &Error) {
        // Shown by the window; decode jobs then fail one by one with the reason.
        FLibraryError = Error.message();
        return false;
    }
}

QList<TConvRunner::TRunningJob> TConvRunner::RunningJobs() const {
    std::vector<const TLane *> running;
    for (const auto &L : FLanes)
        if (L->Running)
            running.push_back(L.get());
    std::sort(running.begin(), running.end(),
              [](const TLane *A, const TLane *B) { return A->Order < B->Order; });
    QList<TRunningJob> result;
    for (const TLane *L : running)
        result.append({L->Index, L->JobPercent()});
    return result;
}

void TConvRunner::SetPhase(TLane &S, int Phase) {
    S.Phase = Phase;
    if (Phase != phDone) {
        ++S.Step;
        S.Percent = 0;
        // A job past its phases that takes one again (an MP3 scaled and encoded anew under its
        // true-peak ceiling) has that phase and those after it to do once more: its bar goes
        // back rather than stand at 100% meanwhile.
        if (const int last = S.LastStep[size_t(Phase)]; last >= 0 && S.Step >= S.Steps)
            S.Steps = S.Step + (S.Step - last);
        S.LastStep[size_t(Phase)] = S.Step;
    }
    emit JobProgress(S.Index, Phase, S.JobPercent());
    if (&S != FShown)
        return;
    emit PhaseChanged(Phase);
    if (FSlotsInUse == 1)
        return;
    // Several jobs: the caption follows the work still going on, the bar the batch.
    if (Phase == phDone) {
        TLane *latest = nullptr;
        for (const auto &Other : FLanes)
            if (Other->Running && Other.get() != &S && (!latest || Other->Order > latest->Order))
                latest = Other.get();
        if (latest) {
            FShown = latest;
            emit PhaseChanged(latest->Phase);
        }
    }
    EmitBatchProgress(true);
}

void TConvRunner::LaneProgress(TLane &S, int Percent) {
    S.Percent = std::clamp(Percent, 0, 100);
    emit JobProgress(S.Index, S.Phase, S.JobPercent());
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
    for (const auto &S : FLanes) {
        if (S->Running) {
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
    return FAlbums.Busy() ||
           std::any_of(FLanes.begin(), FLanes.end(), [](const auto &L) { return L->Running; });
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
    while (int(FLanes.size()) < FSlotsInUse)
        NewLane();
    FQuestions.ClearMessages();
    // Decided before any job starts, so that jobs running at once cannot take each other's
    // names, and a source never becomes another job's output.
    for (const TMovedDestination &moved : SeparateDestinations(FJobs))
        Report(moved.Job, TReportQueue::TReport::Warning, FJobs.at(moved.Job)->SourcePath,
               MovedDestinationText(moved, FJobs));
    FAlbums.Start(FJobs, !FConfig.AlbumGainWanted() ? nullptr
                         : FConfig.ConvertType == 0 ? &AddMp3AlbumGain
                                                    : &AddWavAlbumGain);
    emit ProgressChanged(0);
    if (FConfig.ConvertType != 0)
        LoadLibrary(); // without it each decode job fails at once with the reason
    Dispatch();
}

void TConvRunner::Abort() {
    FAborted = true;
    FStop = true;
    for (const auto &L : FLanes) {
        if (L->Encoder)
            L->Encoder->Abort();
        if (L->Decoder)
            L->Decoder->Abort();
    }
}

bool TConvRunner::MayOverwrite(int JobIndex, TFileParam &Job, bool &Cancelled) {
    Cancelled = false;
    if (!FConfig.OverwritePrompt || !QFileInfo::exists(Job.DestPath))
        return true;
    if (FLastAnswer != mrYesToAll && FLastAnswer != mrNoToAll)
        FLastAnswer = AskAbout(FGate, FQuestions, JobIndex,
                               [&] { return FQuestions.ConfirmOverwrite(Job.DestPath); });
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

void TConvRunner::Fail(TLane &S, const QString &ErrorLine, const QString &Why) {
    S.J(FJobs).State = stError;
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

void TConvRunner::MarkDone(TLane &S, TTrackLoudness Track) {
    FWritten.insert(&S.J(FJobs));
    FAlbums.Converted(S.Index, S.J(FJobs).DestPath, std::move(Track));
    // A source is deleted only when its output is whole and nothing was said about the job:
    // a warning means the output is not all the source holds, or not where it was expected.
    S.J(FJobs).State =
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

// --- The batch --------------------------------------------------------------------------

void TConvRunner::UpdateFileIndex() {
    const auto running = std::count_if(FLanes.begin(), FLanes.end(),
                                       [](const auto &L) { return L->Running != nullptr; });
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
            TLane *lane = nullptr;
            for (int i = 0; i < FSlotsInUse && !lane; ++i)
                if (!FLanes[i]->Running)
                    lane = FLanes[i].get();
            if (!lane)
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
                FAlbums.Ended(index, FAborted);
                emit JobEnded(index, Job.State);
                continue;
            }
            TConvJob &job = JobFor(*lane, encoding);
            lane->Running = &job;
            lane->Index = index;
            lane->Order = ++FStartOrder;
            lane->Step = -1;
            lane->Steps = FConfig.FNormalizeVolume ? 3 : 1;
            lane->Percent = 0;
            lane->LastStep.fill(-1);
            UpdateFileIndex();
            TakeUp(*lane, index);
            job.Start(Job, index);
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

void TConvRunner::TakeUp(TLane &Lane, int Index) {
    FJobs.at(Index)->State = stProcessing;
    FShown = &Lane;
    if (FConfig.ConvertType == 0) {
        emit JobStarted(Index);
        ResetProgress();
    } else {
        // A decode job was announced before its overwrite question; skipped ones count not.
        ++FStartedCount;
        FLastStarted = Index;
    }
}

void TConvRunner::LaneEnded(TLane &Lane, TPartialFile Left) {
    const int index = Lane.Index;
    // Left by an abort: the answer decides whether it replaces the destination.
    if (Left)
        FInterrupted.emplace_back(FJobs.at(index), std::move(Left));
    Lane.Running = nullptr;
    Lane.Index = -1;
    UpdateFileIndex();
    FReports.Ended(index);
    FAlbums.Ended(index, FAborted);
    emit JobEnded(index, FJobs.at(index)->State);
    Dispatch();
}
