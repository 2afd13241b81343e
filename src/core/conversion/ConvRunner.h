#pragma once

#include "app/FileParam.h"
#include "conversion/AlbumGain.h"
#include "conversion/QuestionGate.h"
#include "conversion/ReportQueue.h"
#include "conversion/SafeOutput.h"
#include "platform/Mailbox.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <set>
#include <utility>
#include <vector>

class TConfig;
class TConvJob;

// What a batch asks of whoever shows it. Every call comes on the thread that owns the
// runner, and the batch waits for the answer.
class IConvQuestions {
public:
    virtual ~IConvQuestions() = default;
    // The overwrite question for an existing destination: mrYes, mrYesToAll, mrNo (Skip),
    // mrNoToAll (Skip All) or mrCancel.
    virtual int ConfirmOverwrite(const QString &Dest) = 0;
    // The encoder refused its settings for Source; true goes on with the next job, false
    // ends the batch.
    virtual bool ConfirmRefusal(const QString &Source) = 0;
    // A message box with an error icon.
    virtual void ShowError(const QString &Text) = 0;
    // The error list: a counted line, an uncounted line that explains the one before it,
    // and emptying it at the start of a batch.
    virtual void AddMessage(const QString &Text) = 0;
    virtual void AddNote(const QString &Text) = 0;
    virtual void ClearMessages() = 0;
    // A job that succeeded with less than the whole source: a decoded stream that changed
    // its format or became undecodable part-way, whose WAV file ends there.
    virtual void Warn(const QString &Source, const QString &Why) = 0;
    // The job at JobIndex is the one the calls that follow are about; with several jobs
    // running, the calls of one job come together.
    virtual void SetSubject(int JobIndex) { (void)JobIndex; }
    // An existing destination was left alone, as the overwrite answer said.
    virtual void Skipped(const QString &Dest) { (void)Dest; }
};

// Phases of a job, each with the caption the window shows.
enum TConvPhase { phScanPeak = 1, phNormalize = 2, phEncode = 3, phDecode = 4, phDone = 5 };
QString PhaseCaption(int Phase);

// Runs one conversion batch in either direction, the window's engine: the jobs, their
// states and the counters, the overwrite decision, normalisation, abort and the deletion of
// aborted outputs. Up to TConfig::ConvertJobCount() jobs run at once, each a job object
// with what it owns (its encoder or decoding player, worker thread, files); jobs are taken
// up in list order, and every question is asked on the runner's thread one at a time.
// Encoding, peak scans and normalisation run on a job's worker thread, which checks an
// abort flag after every chunk; the decoding library works on its own threads and reports
// through the job's player. Outputs are written beside their destination and renamed into
// place once complete, so a failure never destroys an earlier file.
class TConvRunner : public QObject {
    Q_OBJECT
public:
    TConvRunner(TConfig &Config, IConvQuestions &Questions, QObject *Parent = nullptr);
    ~TConvRunner() override;

    // The batch, in list order; the records belong to the caller.
    void SetJobs(const QList<TFileParam *> &Jobs) { FJobs = Jobs; }
    const QList<TFileParam *> &Jobs() const { return FJobs; }

    // Resets the runner's fields and converts Jobs in the ConvertType direction.
    void Start();
    // Asks all running work to stop after its current chunk (the Abort button, a close).
    void Abort();
    // After an abort, the answer to the question whether converted outputs are deleted:
    // Yes turns done and processing jobs into stAbortedRemoved, No turns processing jobs
    // into stAborted. The outputs go once every interrupted job's output is closed.
    void AnswerAbort(bool DeleteConverted);
    // True while a job is under way, or a folder's album gain is being written.
    bool Busy() const;

    // Loads the decoding library and creates the players of decode jobs unless that was
    // done; false, with the reason in LibraryError, when it cannot be loaded. Encoding
    // never needs it; a decode batch loads it at its start.
    bool LoadLibrary();
    const QString &LibraryError() const { return FLibraryError; }

    // The jobs under way, in the order they were taken up, with their progress.
    struct TRunningJob {
        int Index;
        int Percent; // of the job as a whole, all its phases
    };
    QList<TRunningJob> RunningJobs() const;
    // How many jobs this batch runs at once.
    int JobSlots() const { return FSlotsInUse; }

    // The batch, readable during and after it. FileIndex: while encoding, the jobs ended
    // or skipped; while decoding, the next job to take up. LastStarted: the decode job
    // taken up last. StartedCount counts skipped jobs too when encoding.
    int Total() const { return FTotal; }
    int FileIndex() const { return FFileIndex; }
    int LastStarted() const { return FLastStarted; }
    bool Aborted() const { return FAborted; }
    bool Finished() const { return FFinished; }
    int StartedCount() const { return FStartedCount; }
    int ConvertedCount() const { return FConvertedCount; }
    // The jobs that ended in stError, counted where they failed (whatever told the user).
    int FailedCount() const;
    // The window closed itself after a normal end or a Cancel: the batch counts as
    // finished, and not as aborted.
    void Conclude();

    // Seconds without any word from the decoding library after which a decode is given up.
    void SetDecodeStallSeconds(int Seconds) { FDecodeStallSeconds = Seconds; }

signals:
    void PhaseChanged(int Phase);
    // The job's progress when one job runs at a time; the batch's when several do.
    void ProgressChanged(int Percent);
    // The job at Index was taken up: labels and caption "File %d of %d".
    void JobStarted(int Index);
    // Every running job's own progress, whatever the number of jobs at once: its current
    // phase and the share of the whole job done (all its phases), 0..100.
    void JobProgress(int Index, int Phase, int Percent);
    // A caption of the player's state while decoding ("STOPPED", "Decoding", "EOF").
    void StateCaption(const QString &Caption);
    // The job at Index has ended in State (done, failed, skipped as stQueued, or still
    // stProcessing when an abort stopped it, until the abort is answered).
    void JobEnded(int Index, int State);
    // The batch ran to its end or was cancelled: the window closes itself.
    void BatchEnded();
    // Cancel in the refusal box: the window is asked to close, as by Abort.
    void CloseRequested();
    // No work is running any more (after an abort, once the last output is closed).
    void Idle();

private:
    class THost;  // what the jobs see of the batch
    struct TLane; // a place for one running job, and its progress

    TLane &NewLane();
    // The lane's job for this batch's direction, made when first needed.
    TConvJob &JobFor(TLane &Lane, bool Encoding);
    TLane &LaneOf(const TConvJob &Job);
    void SetPhase(TLane &Lane, int Phase);
    // A progress report of the lane's current phase.
    void LaneProgress(TLane &Lane, int Percent);
    // The batch's progress, when it moved on or Always.
    void EmitBatchProgress(bool Always);
    // Overwrite decision for Job: true to convert it; Cancelled set when the user ended the
    // batch.
    bool MayOverwrite(int JobIndex, TFileParam &Job, bool &Cancelled);
    // The lane's job failed: its line in the error list and the reason under it.
    void Fail(TLane &Lane, const QString &ErrorLine, const QString &Why);
    // A line of the error list about the job at JobIndex, handed on in list order.
    void Report(int JobIndex, TReportQueue::TReport::TKind Kind, const QString &Text,
                const QString &Why = QString());
    void DeliverReport(int JobIndex, const TReportQueue::TReport &Report);

    // Takes up jobs in list order while a lane is free; ends the batch when all are done.
    void Dispatch();
    // Marks the job at Index under way in Lane, as the batch's direction does it.
    void TakeUp(TLane &Lane, int Index);
    // The lane's job has ended: Left, an output an abort interrupted, waits for the answer.
    void LaneEnded(TLane &Lane, TPartialFile Left);
    void UpdateFileIndex();
    // Progress 0 at a job's start: the job's bar, or the batch's with several jobs.
    void ResetProgress();
    // The lane's output is in place: written by this batch, done or done-and-delete-the-
    // source, and counted.
    void MarkDone(TLane &Lane, TTrackLoudness Track);

    void WorkEnded();
    // An interrupted output after the abort answer No.
    void KeepInterrupted(TFileParam &Job, TPartialFile &Partial);
    void DeleteAbortedOutputs();

    QList<TFileParam *> FJobs;
    int FTotal = 0;
    int FFileIndex = 0;
    int FLastStarted = -1;
    int FLastAnswer = 0; // of the overwrite question, for Yes to All and Skip All
    bool FAborted = false;
    bool FFinished = false;
    bool FDeleteOnClose = false; // the abort was answered Yes
    int FStartedCount = 0;
    int FConvertedCount = 0;
    int FDecodeStallSeconds = 30;

    TConfig &FConfig;
    IConvQuestions &FQuestions;
    // What the workers hand to the runner's thread: progress, phases, their end.
    TMailbox FMailbox;
    std::unique_ptr<THost> FHost;
    std::vector<std::unique_ptr<TLane>> FLanes;
    int FSlotsInUse = 1;
    QString FLibraryError;
    std::atomic<bool> FStop{false};
    bool FAbortAnswered = false;
    bool FEnded = false;
    bool FCancelled = false;

    // Dispatch is not re-entered (a question's event loop, a job that ends at once).
    bool FDispatching = false;
    bool FDispatchAgain = false;
    int FNext = 0;
    TQuestionGate FGate{*this};
    TLane *FShown = nullptr; // the job whose phases the window shows
    int FBatchPercent = 0;
    uint64_t FStartOrder = 0;

    TReportQueue FReports{
        [this](int Job, const TReportQueue::TReport &Report) { DeliverReport(Job, Report); }};

    // Jobs whose destination this batch wrote (only those are deleted after an abort).
    std::set<TFileParam *> FWritten;
    // Outputs of jobs interrupted by an abort, beside their destinations.
    std::vector<std::pair<TFileParam *, TPartialFile>> FInterrupted;

    TAlbumPasses FAlbums{FMailbox, FStop,
                         [this](int Job, const QString &Subject, const QString &Why) {
                             Report(Job, TReportQueue::TReport::Warning, Subject, Why);
                         },
                         [this] { Dispatch(); }};
};
