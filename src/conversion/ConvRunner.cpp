#include "conversion/ConvRunner.h"

#include "conversion/Destinations.h"
#include "conversion/Normalize.h"
#include "conversion/SafeOutput.h"
#include "encoder/EncoderSettings.h"
#include "encoder/LameCoder.h"
#include "inspect/MPGTools.h"
#include "platform/FilePaths.h"
#include "platform/RegularFile.h"
#include "platform/UserDialogs.h"
#include "settings/Config.h"
#include "xaudio/XaudioPlayer.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <thread>

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

QString EncodeErrorLine(const TFileParam &Job) {
    return QStringLiteral("Source file '%1' can't be open, convert error.").arg(Job.SourcePath);
}

QString DecodeErrorLine(const TFileParam &Job) {
    return QStringLiteral("Conversion Error: ") + Job.SourcePath;
}

// An error names the hidden partial file, by its name or its descriptor; the user knows
// the destination.
QString WithDestination(QString Text, const TPartialFile &Partial, const TFileParam &Job) {
    if (!Partial)
        return Text;
    return Text.replace(Partial.ReadPath(), Job.DestPath).replace(Partial.Path(), Job.DestPath);
}

QString MpegAudioProblem(const QString &Path) {
    TMPEGAudio inspector;
    inspector.SetFileName(Path);
    if (inspector.IsValid())
        return QString();
    const QString problem = inspector.Problem();
    return problem.isEmpty() ? QStringLiteral("not MPEG audio") : problem;
}

QString NormalizeFailure(const QString &Why) {
    return QStringLiteral("Normalize wave file fail. ") + Why;
}

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

struct TConvRunner::TEncodeResult {
    QString Error; // empty on success
};

// One job at a time, with everything that job owns while it runs.
struct TConvRunner::TSlot {
    TFileParam *Job = nullptr; // none: the slot is free
    int Index = -1;
    uint64_t Order = 0; // when it was taken up
    std::unique_ptr<TLameCoder> Coder;
    std::unique_ptr<TXaudioPlayer> Player;
    std::thread Worker;
    QTimer *Stall = nullptr;
    std::atomic<int> LastPercent{-1}; // written by the encoding worker too

    int Phase = 0;
    int Step = -1; // phases of the job taken so far, less one
    int Steps = 1;
    int Percent = 0;

    // The output being written, beside its destination, and a normalised copy of the source.
    TPartialFile Partial;
    TPartialFile Temp;
    TFileStamp SourceStamp;

    bool Decoding = false;
    bool Closing = false;
    QString DecodeFailure;
    QString DecodeWarning;

    TFileParam &J() const { return *Job; }
    int JobPercent() const {
        return std::min(100, (std::max(Step, 0) * 100 + Percent) / std::max(Steps, 1));
    }
};

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

    S.Stall = new QTimer(this);
    S.Stall->setSingleShot(true);
    S.Player = std::make_unique<TXaudioPlayer>();
    TXaudioPlayer &P = *S.Player;
    P.SetPriority(XA_PRIORITY_NORMAL);
    P.OnNotifyInputState = [this, &S](TXaudioPlayer &Player, int32_t State) {
        S.Stall->start();
        if (State == XA_INPUT_STATE_OPEN && S.Decoding && S.DecodeFailure.isEmpty() && !S.Closing)
            Player.Play();
    };
    P.OnNotifyPlayerState = [this, &S](TXaudioPlayer &, int32_t State) {
        S.Stall->start();
        const bool shown = &S == FShown;
        if (State == XA_PLAYER_STATE_STOPPED || State == XA_PLAYER_STATE_PAUSED) {
            if (shown)
                emit StateCaption(QStringLiteral("STOPPED"));
        } else if (State == XA_PLAYER_STATE_PLAYING) {
            if (shown)
                emit StateCaption(QStringLiteral("Decoding"));
        } else if (State == XA_PLAYER_STATE_EOS) {
            if (shown)
                emit StateCaption(QStringLiteral("EOF"));
            CloseDecodeOutput(S);
        }
    };
    P.OnNotifyInputPosition = [this, &S](TXaudioPlayer &, uint32_t Offset, uint32_t Range) {
        S.Stall->start();
        if (Range != 0 && S.Decoding)
            SlotProgress(S, int(std::nearbyint(double(Offset) / Range * 100)));
    };
    P.OnNotifyOutputState = [this, &S](TXaudioPlayer &, int32_t State) {
        // Only the close this job asked for ends it.
        if (State == XA_OUTPUT_STATE_CLOSED && S.Decoding && S.Closing)
            DecodeOutputClosed(S);
    };
    // The stream ends early (it changes format, or cannot be decoded from some point on):
    // the WAV file keeps what came before, and the user learns where and why.
    P.OnNotifyProgress = [&S](TXaudioPlayer &, uint8_t Source, uint8_t Code, int16_t,
                              const QString &Message) {
        S.Stall->start();
        if (S.Decoding && Source == XA_SOURCE_INPUT &&
            (Code == XA_PROGRESS_STREAM_FORMAT_CHANGED || Code == XA_PROGRESS_STREAM_UNDECODABLE))
            S.DecodeWarning = Message;
    };
    P.OnNotifyError = [this, &S](TXaudioPlayer &, uint8_t, int16_t, const QString &Message) {
        DecodeFail(S, Message.isEmpty() ? QStringLiteral("the file cannot be decoded") : Message);
    };

    connect(S.Stall, &QTimer::timeout, this, [this, &S] {
        if (!S.Decoding)
            return;
        if (S.DecodeFailure.isEmpty() && !S.Closing) {
            DecodeFail(S, QStringLiteral("no progress for %1 s").arg(FDecodeStallSeconds));
        } else {
            // Asked to close, the library never answered: the job ends here.
            S.Closing = true;
            DecodeOutputClosed(S);
        }
    });
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

template <typename TQuestion> auto TConvRunner::Ask(int JobIndex, TQuestion &&Question) {
    return FGate.Ask([&] {
        if (JobIndex >= 0)
            FQuestions.SetSubject(JobIndex);
        return Question();
    });
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
    Dispatch();
}

// --- Encoding ---------------------------------------------------------------------------

void TConvRunner::StartEncodeJob(TSlot &S) {
    TFileParam &Job = S.J();
    Job.State = stProcessing;
    FShown = &S;
    emit JobStarted(S.Index);
    ResetProgress();
    if (!CheckSameFile(S, EncodeErrorLine(Job))) {
        EndEncodeJob(S);
        return;
    }
    // The header is read again now: the file may have been replaced since it was listed, and
    // what is encoded must be what was checked. A change while it is encoded fails the job.
    S.SourceStamp = FileStampOf(Job.SourcePath);
    QString problem = RegularFileProblem(Job.SourcePath);
    // Headerless PCM (brindle-cli takes it from .pcm and .raw files) has nothing to re-read.
    if (problem.isEmpty() && Job.WaveData.Valid) {
        try {
            if (!ReadWaveFileInfo(Job.SourcePath, Job.WaveData))
                problem = WaveFileProblem(Job.WaveData);
        } catch (const Exception &Error) {
            problem = Error.message();
        }
    }
    if (!problem.isEmpty()) {
        Fail(S, EncodeErrorLine(Job), problem);
        EndEncodeJob(S);
        return;
    }
    if (!FConfig.FNormalizeVolume) {
        EncodeJob(S);
        return;
    }
    NormalizeJob(S, Job.SourcePath, [this, &S](const TNormalizeResult &Result) {
        if (FAborted) {
            EndEncodeJob(S);
        } else if (!Result.Error.isEmpty()) {
            // Not encoded unscaled: the user asked for a level, and would not learn otherwise
            // that the output misses it.
            Fail(S, EncodeErrorLine(S.J()), NormalizeFailure(Result.Error));
            EndEncodeJob(S);
        } else {
            EncodeJob(S);
        }
    });
}

void TConvRunner::NormalizeJob(TSlot &S, const QString &Path,
                               std::function<void(const TNormalizeResult &)> Then) {
    SetPhase(S, phScanPeak);
    const QString folder = QFileInfo(S.J().DestPath).absolutePath();
    const int target = FConfig.NormalizeFactor;
    auto result = std::make_shared<TNormalizeResult>();
    RunWorker(
        S,
        [this, &S, Path, folder, target, result] {
            *result = NormalizeToPeak(
                Path, target, folder, FStop,
                [this, &S] { FMailbox.Post([this, &S] { SetPhase(S, phNormalize); }); },
                WorkerProgress(S));
        },
        [this, &S, result, Then = std::move(Then)] {
            S.Temp = std::move(result->Temp);
            Then(*result);
        });
}

void TConvRunner::EncodeJob(TSlot &S) {
    TFileParam &Job = S.J();
    SetPhase(S, phEncode);
    QString partialError;
    S.Partial = CreatePartialOutput(Job.DestPath, partialError);
    if (!S.Partial) {
        Fail(S, EncodeErrorLine(Job), partialError);
        EndEncodeJob(S);
        return;
    }
    TLameCoder &coder = *S.Coder;
    // A normalised copy is read through its own descriptor, never again by its name.
    coder.SetInputFiles({S.Temp ? S.Temp.ReadPath() : Job.SourcePath});
    coder.SetOutputFiles({S.Partial.Path()});
    coder.SetOutputHandles({S.Partial.Handle()});
    BE_ERR refusal = BE_ERR_SUCCESSFUL;
    try {
        ApplyEncoderSettings(coder, FConfig, Job.WaveData.Header.SampleRate);
        refusal = coder.InitStream();
        coder.CloseStream();
    } catch (const std::exception &) {
        // Not a refusal of the settings: the file is not encoded, and the batch goes on.
        Job.State = stError;
        S.Partial.Remove();
        Ask(S.Index, [this] {
            FQuestions.ShowError(
                QStringLiteral("Has error occurred when initialize encoder parameter!"));
        });
        EndEncodeJob(S);
        return;
    }
    if (refusal != BE_ERR_SUCCESSFUL) {
        Job.State = stError;
        S.Partial.Remove();
        if (!Ask(S.Index, [&] { return FQuestions.ConfirmRefusal(Job.SourcePath); })) {
            Abort();
            emit CloseRequested();
        }
        EndEncodeJob(S);
        return;
    }

    auto result = std::make_shared<TEncodeResult>();
    RunWorker(
        S,
        [this, &S, result] {
            try {
                if (!FStop)
                    S.Coder->Encode();
            } catch (const Exception &Error) {
                result->Error = Error.message();
            }
        },
        [this, &S, result] { EncodeDone(S, *result); });
}

void TConvRunner::EncodeDone(TSlot &S, const TEncodeResult &Result) {
    TFileParam &Job = S.J();
    if (!Result.Error.isEmpty()) {
        QString error = WithDestination(Result.Error, S.Partial, Job);
        if (S.Temp)
            error.replace(S.Temp.ReadPath(), Job.SourcePath);
        Fail(S, EncodeErrorLine(Job), error);
        S.Partial.Remove();
    } else if (!FAborted) {
        QString why;
        if (FileStampOf(Job.SourcePath) != S.SourceStamp) {
            Fail(S, EncodeErrorLine(Job), QStringLiteral("the file changed while it was encoded"));
            S.Partial.Remove();
        } else if (ReplaceFile(S.Partial, Job.DestPath, why)) {
            FWritten.insert(&Job);
            MarkDone(S);
        } else {
            Fail(S, EncodeErrorLine(Job), why);
            S.Partial.Remove();
        }
    }
    // Stopped by an abort, the job stays stProcessing with its partial output until the
    // abort question has been answered.
    EndEncodeJob(S);
}

void TConvRunner::EndEncodeJob(TSlot &S) {
    SetPhase(S, phDone);
    EndJob(S);
}

// --- Decoding ---------------------------------------------------------------------------

void TConvRunner::StartDecodeJob(TSlot &S) {
    TFileParam &Job = S.J();
    ++FStartedCount;
    Job.State = stProcessing;
    FShown = &S;
    FLastStarted = S.Index;
    SetPhase(S, phDecode);
    QString why;
    if (!CheckSameFile(S, DecodeErrorLine(Job))) {
        EndJob(S);
        return;
    }
    if (why = RegularFileProblem(Job.SourcePath); !why.isEmpty()) {
        DecodeFailToStart(S, why);
        return;
    }
    // Only what the inspector takes for MPEG audio now is decoded: other bytes (a FLAC file
    // named .mp3, a file replaced since it was listed) would give a stretch of silence.
    if (why = MpegAudioProblem(Job.SourcePath); !why.isEmpty()) {
        DecodeFailToStart(S, why);
        return;
    }
    S.Partial = CreatePartialOutput(Job.DestPath, why);
    if (!S.Partial) {
        DecodeFailToStart(S, why);
        return;
    }
    TXaudioPlayer &player = *S.Player;
    try {
        S.DecodeFailure.clear();
        S.DecodeWarning.clear();
        S.Closing = false;
        S.SourceStamp = FileStampOf(Job.SourcePath);
        const int32_t output =
            player.OutputOpen(QStringLiteral(XA_OUTPUT_WAV_FD_PREFIX "%1").arg(S.Partial.Handle()));
        if (output != 0) {
            DecodeFailToStart(S, player.ErrorString(output));
            return;
        }
        // From here on the job ends when the output is closed, failed or not.
        S.Decoding = true;
        S.Stall->start(FDecodeStallSeconds * 1000);
        const int32_t input = player.InputOpen(Job.SourcePath);
        if (input != 0)
            DecodeFail(S, player.ErrorString(input));
    } catch (const Exception &Error) {
        if (!S.Decoding)
            DecodeFailToStart(S, Error.message());
        else
            DecodeFail(S, Error.message());
    }
}

void TConvRunner::DecodeFailToStart(TSlot &S, const QString &Why) {
    S.Partial.Remove();
    Fail(S, DecodeErrorLine(S.J()), Why);
    EndJob(S);
}

void TConvRunner::CloseDecodeOutput(TSlot &S) {
    if (!S.Decoding || S.Closing)
        return;
    S.Closing = true;
    try {
        S.Player->OutputClose();
    } catch (const Exception &) {
        DecodeOutputClosed(S);
    }
}

void TConvRunner::DecodeFail(TSlot &S, const QString &Why) {
    if (!S.Decoding || !S.DecodeFailure.isEmpty())
        return;
    S.DecodeFailure = Why;
    try {
        S.Player->Stop();
    } catch (const Exception &) {
    }
    CloseDecodeOutput(S);
}

void TConvRunner::DecodeOutputClosed(TSlot &S) {
    if (!S.Decoding)
        return;
    S.Decoding = false;
    S.Closing = false;
    S.Stall->stop();
    FGate.WhenNoQuestion([this, &S] { DecodeJobClosed(S); });
}

void TConvRunner::DecodeJobClosed(TSlot &S) {
    if (FAborted || FFinished) {
        EndJob(S);
        return;
    }
    TFileParam &Job = S.J();
    // A source that changed while it was read gave only part of its audio.
    if (S.DecodeFailure.isEmpty() && FileStampOf(Job.SourcePath) != S.SourceStamp)
        S.DecodeFailure = QStringLiteral("the file changed while it was decoded");
    if (!S.DecodeFailure.isEmpty()) {
        const QString failure = WithDestination(S.DecodeFailure, S.Partial, Job);
        S.Partial.Remove();
        S.DecodeFailure.clear();
        Fail(S, DecodeErrorLine(Job), failure);
        EndJob(S);
        return;
    }
    if (!FConfig.FNormalizeVolume) {
        FinishDecodeJob(S);
        return;
    }

    NormalizeJob(S, S.Partial.ReadPath(), [this, &S](const TNormalizeResult &Result) {
        if (FAborted) {
            // The decoded file stays as it was; the abort answer decides about it.
            EndJob(S);
            return;
        }
        TFileParam &Job = S.J();
        QString why = Result.Error;
        if (why.isEmpty() && S.Temp && ReplaceFile(S.Temp, S.Partial, why))
            if (!why.isEmpty()) {
                // An unscaled file under the destination's name would pass for a normalised one.
                Fail(S, DecodeErrorLine(Job),
                     NormalizeFailure(WithDestination(why, S.Partial, Job)));
                S.Partial.Remove();
                EndJob(S);
                return;
            }
        FinishDecodeJob(S);
    });
}

void TConvRunner::FinishDecodeJob(TSlot &S) {
    TFileParam &Job = S.J();
    QString why;
    if (ReplaceFile(S.Partial, Job.DestPath, why)) {
        FWritten.insert(&Job);
        SetPhase(S, phDone);
        if (!S.DecodeWarning.isEmpty())
            Report(S.Index, TReportQueue::TReport::Warning, Job.SourcePath, S.DecodeWarning);
        MarkDone(S);
    } else {
        S.Partial.Remove();
        Fail(S, DecodeErrorLine(Job), why);
    }
    EndJob(S);
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
