#pragma once

#include "app/FileParam.h"
#include "conversion/SafeOutput.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>

class QThread;
class QTimer;
class TConfig;
class TLameCoder;
class TXaudioPlayer;

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
};

// Phases of a job, each with the caption the window shows.
enum TConvPhase { phScanPeak = 1, phNormalize = 2, phEncode = 3, phDecode = 4, phDone = 5 };
QString PhaseCaption(int Phase);

// Runs one conversion batch in either direction, the window's engine: the jobs, their
// states and the counters, the overwrite decision, normalisation, abort and the deletion of
// aborted outputs. Encoding, peak scans and normalisation run on a worker thread that
// checks an abort flag after every chunk; the decoding library works on its own threads
// and reports through the player's notifications. Outputs are written beside their
// destination and renamed into place once complete, so a failure never destroys an
// earlier file.
class TConvRunner : public QObject {
    Q_OBJECT
public:
    TConvRunner(TConfig &Config, IConvQuestions &Questions, QObject *Parent = nullptr);
    ~TConvRunner() override;

    // The batch, in list order; the records belong to the caller.
    QList<TFileParam *> Jobs;

    // Resets the runner's fields and converts Jobs in the ConvertType direction.
    void Start();
    // Asks running work to stop after its current chunk (the Abort button, a close).
    void Abort();
    // After an abort, the answer to the question whether converted outputs are deleted:
    // Yes turns done and processing jobs into stAbortedRemoved, No turns processing jobs
    // into stAborted. The outputs go once the interrupted job's output is closed.
    void AnswerAbort(bool DeleteConverted);
    // True while a worker or a decode still owes its end.
    bool Busy() const;

    // Loads the decoding library and creates the player of decode jobs unless that was
    // done; false, with the reason in LibraryError, when it cannot be loaded. Encoding
    // never needs it; a decode batch loads it at its start.
    bool LoadLibrary();
    const QString &LibraryError() const { return FLibraryError; }

    // Runner fields, readable after the batch.
    int Total = 0;
    int FileIndex = 0;
    int LastStarted = -1;
    int LastAnswer = 0;
    QString CurrentDest;
    QString TempName;
    bool Aborted = false;
    bool Finished = false;
    bool DeleteOnClose = false;
    int StartedCount = 0;
    int ConvertedCount = 0;

    // Seconds without any word from the decoding library after which a decode is given up.
    int DecodeStallSeconds = 30;

signals:
    void PhaseChanged(int Phase);
    void ProgressChanged(int Percent);
    // The job at Index was taken up: labels and caption "File %d of %d".
    void JobStarted(int Index);
    // A caption of the player's state while decoding ("STOPPED", "Decoding", "EOF").
    void StateCaption(const QString &Caption);
    // The batch ran to its end or was cancelled: the window closes itself.
    void BatchEnded();
    // Cancel in the refusal box: the window is asked to close, as by Abort.
    void CloseRequested();
    // No work is running any more (after an abort, once the last output is closed).
    void Idle();

private:
    struct TEncodeResult;

    void SetPhase(int Phase);
    // Overwrite decision for the job at FileIndex: true to convert it; Cancelled set when
    // the user ended the batch.
    bool MayOverwrite(TFileParam &Job, bool &Cancelled);
    bool CheckSameFile(TFileParam &Job, const QString &ErrorLine);

    void RunEncodeBatch();
    void StartEncodeJob(TFileParam &Job);
    void NormalizeDone(TFileParam &Job, const QString &Temp, bool Failed);
    void EncodeDone(TFileParam &Job, const TEncodeResult &Result);
    void EndEncodeJob();

    // 0 no job started, 1 a job under way, 3 a job failed to start.
    int StartNextDecode();
    void DecodeFail(const QString &Why);
    void CloseDecodeOutput();
    void DecodeOutputClosed();
    void FinishDecodeJob(TFileParam &Job);
    // Starts jobs until one is under way; at the end of the list the batch has ended.
    void NextDecodes();

    void WorkEnded();
    void DeleteAbortedOutputs();
    // Runs Work on a fresh worker thread and Then on this thread when it has returned.
    void RunWorker(std::function<void()> Work, std::function<void()> Then);

    TConfig &FConfig;
    IConvQuestions &FQuestions;
    std::unique_ptr<TLameCoder> FCoder;
    std::unique_ptr<TXaudioPlayer> FPlayer;
    QString FLibraryError;
    QThread *FWorker = nullptr;
    std::atomic<bool> FStop{false};
    bool FAbortAnswered = false;
    std::atomic<int> FLastPercent{-1}; // written by the encoding worker too

    // Jobs whose destination this batch wrote (only those are deleted after an abort).
    std::set<TFileParam *> FWritten;
    // The output being written, beside its destination.
    QString FPartial;
    TFileParam *FPartialJob = nullptr;
    TFileStamp FSourceStamp;

    // Decode job in progress.
    bool FDecoding = false;
    bool FClosing = false;
    QString FDecodeFailure;
    QString FDecodeWarning;
    QTimer *FStall = nullptr;
};
