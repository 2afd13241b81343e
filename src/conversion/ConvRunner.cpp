#include "conversion/ConvRunner.h"

#include "conversion/Normalize.h"
#include "conversion/SafeOutput.h"
#include "encoder/EncoderSettings.h"
#include "encoder/LameCoder.h"
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

// A write error names the hidden partial file; the user knows the destination.
QString WithDestination(QString Text, const QString &Partial, const TFileParam &Job) {
    return Partial.isEmpty() ? Text : Text.replace(Partial, Job.DestPath);
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
    QString Partial;
    QString Temp;
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
            DecodeFail(S, QStringLiteral("no progress for %1 s").arg(DecodeStallSeconds));
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
        if (!S->Partial.isEmpty())
            QFile::remove(S->Partial);
        if (!S->Temp.isEmpty())
            QFile::remove(S->Temp);
    }
    for (const auto &[job, partial] : FInterrupted)
        QFile::remove(partial);
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
    if (Total <= 0)
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
    const int percent = int((int64_t(FNext - running) * 100 + sum) / Total);
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
    Total = int(Jobs.size());
    FileIndex = 0;
    LastStarted = -1;
    LastAnswer = 0;
    CurrentDest.clear();
    TempName.clear();
    Aborted = false;
    Finished = false;
    DeleteOnClose = false;
    StartedCount = 0;
    ConvertedCount = 0;
    FAbortAnswered = false;
    FEnded = false;
    FCancelled = false;
    FStop = false;
    FNext = 0;
    FBatchPercent = 0;
    FShown = nullptr;
    FWritten.clear();
    FInterrupted.clear();
    FReports.clear();
    FEndedJobs.assign(size_t(Total), false);
    FReleased = 0;
    FSlotsInUse = std::clamp(FConfig.ConvertJobCount(), 1, std::max(Total, 1));
    while (int(FSlots.size()) < FSlotsInUse)
        NewSlot();
    FQuestions.ClearMessages();
    emit ProgressChanged(0);
    if (FConfig.ConvertType != 0)
        LoadLibrary(); // without it each decode job fails at once with the reason
    Dispatch();
}

void TConvRunner::Abort() {
    Aborted = true;
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
    DeleteOnClose = DeleteConverted;
    for (TFileParam *Job : Jobs) {
        if (DeleteConverted && (Job->State == stProcessing || Job->State == stDone))
            Job->State = stAbortedRemoved;
        else if (!DeleteConverted && Job->State == stProcessing)
            Job->State = stAborted;
    }
    FAbortAnswered = true;
    if (!Busy())
        WorkEnded();
}

template <typename TQuestion> auto TConvRunner::Ask(int JobIndex, TQuestion &&Question) {
    // The question's own event loop lets other jobs go on; what they would ask or decide
    // when they end waits until this answer is in.
    ++FAsking;
    struct TAnswered {
        TConvRunner *Runner;
        ~TAnswered() {
            if (--Runner->FAsking == 0 && !Runner->FDeferred.empty())
                QMetaObject::invokeMethod(
                    Runner, [R = Runner] { R->RunDeferred(); }, Qt::QueuedConnection);
        }
    } answered{this};
    if (JobIndex >= 0)
        FQuestions.SetSubject(JobIndex);
    return Question();
}

void TConvRunner::WhenNoQuestion(std::function<void()> Then) {
    if (FAsking > 0)
        FDeferred.push_back(std::move(Then));
    else
        Then();
}

void TConvRunner::RunDeferred() {
    while (FAsking == 0 && !FDeferred.empty()) {
        auto next = std::move(FDeferred.front());
        FDeferred.erase(FDeferred.begin());
        next();
    }
}

bool TConvRunner::MayOverwrite(int JobIndex, TFileParam &Job, bool &Cancelled) {
    Cancelled = false;
    if (!FConfig.OverwritePrompt || !QFileInfo::exists(Job.DestPath))
        return true;
    if (LastAnswer != mrYesToAll && LastAnswer != mrNoToAll)
        LastAnswer = Ask(JobIndex, [&] { return FQuestions.ConfirmOverwrite(Job.DestPath); });
    switch (LastAnswer) {
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
    Report(S.Index, TReport::Message, ErrorLine);
    Report(
        S.Index, TReport::Note,
        QStringLiteral("  '%1' is the source file itself; it is left as it is.").arg(Job.DestPath));
    return false;
}

void TConvRunner::Fail(TSlot &S, const QString &ErrorLine, const QString &Why) {
    S.J().State = stError;
    Report(S.Index, TReport::Message, ErrorLine);
    Report(S.Index, TReport::Note, QStringLiteral("  ") + Why);
}

void TConvRunner::Report(int JobIndex, TReport::TKind Kind, const QString &Text,
                         const QString &Why) {
    FReports[JobIndex].push_back({Kind, Text, Why});
}

void TConvRunner::JobEnded(int JobIndex) {
    if (JobIndex >= 0 && JobIndex < int(FEndedJobs.size()))
        FEndedJobs[JobIndex] = true;
    ReleaseReports(false);
}

void TConvRunner::ReleaseReports(bool All) {
    // In list order, as if the jobs had run one after the other.
    while (FReleased < Total && (All || FEndedJobs[FReleased])) {
        const int index = FReleased++;
        const auto reports = FReports.find(index);
        if (reports == FReports.end())
            continue;
        FQuestions.SetSubject(index);
        for (const TReport &R : reports->second) {
            switch (R.Kind) {
            case TReport::Message:
                FQuestions.AddMessage(R.Text);
                break;
            case TReport::Note:
                FQuestions.AddNote(R.Text);
                break;
            case TReport::Warning:
                FQuestions.Warn(R.Text, R.Why);
                break;
            case TReport::Skip:
                FQuestions.Skipped(R.Text);
                break;
            }
        }
        FReports.erase(reports);
    }
}

void TConvRunner::RunWorker(TSlot &S, std::function<void()> Work, std::function<void()> Then) {
    // The worker's last act is to post its end, so everything it did is handed over with it.
    S.Worker = std::thread([this, &S, Work = std::move(Work), Then = std::move(Then)]() mutable {
        Work();
        FMailbox.Post([this, &S, Then = std::move(Then)] {
            S.Worker.join();
            WhenNoQuestion(Then);
        });
    });
}

// --- The batch --------------------------------------------------------------------------

void TConvRunner::UpdateFileIndex() {
    const auto running = std::count_if(FSlots.begin(), FSlots.end(),
                                       [](const auto &S) { return S->Job != nullptr; });
    FileIndex = FConfig.ConvertType == 0 ? FNext - int(running) : FNext;
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
        while (!Aborted && !FCancelled && FNext < Total) {
            TSlot *slot = nullptr;
            for (int i = 0; i < FSlotsInUse && !slot; ++i)
                if (!FSlots[i]->Job)
                    slot = FSlots[i].get();
            if (!slot)
                break;
            const int index = FNext;
            TFileParam &Job = *Jobs.at(index);
            if (encoding) {
                ++StartedCount;
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
                Report(index, TReport::Skip, Job.DestPath);
                UpdateFileIndex();
                JobEnded(index);
                continue;
            }
            slot->Job = &Job;
            slot->Index = index;
            slot->Order = ++FStartOrder;
            slot->Step = -1;
            slot->Steps = FConfig.FNormalizeVolume ? 3 : 1;
            slot->Percent = 0;
            slot->Partial.clear();
            slot->Temp.clear();
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
    ReleaseReports(true);
    if (Aborted) {
        WorkEnded();
        return;
    }
    FEnded = true;
    if (!encoding)
        Finished = true;
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
    if (!S.Partial.isEmpty())
        FInterrupted.emplace_back(S.Job, S.Partial);
    if (!S.Temp.isEmpty())
        QFile::remove(S.Temp);
    if (TempName == S.Temp)
        TempName.clear();
    const int index = S.Index;
    S.Partial.clear();
    S.Temp.clear();
    S.Job = nullptr;
    S.Index = -1;
    S.Decoding = false;
    S.Closing = false;
    S.Stall->stop();
    UpdateFileIndex();
    JobEnded(index);
    Dispatch();
}

// --- Encoding ---------------------------------------------------------------------------

void TConvRunner::StartEncodeJob(TSlot &S) {
    TFileParam &Job = S.J();
    Job.State = stProcessing;
    FShown = &S;
    emit JobStarted(S.Index);
    ResetProgress();
    TempName.clear();
    if (!CheckSameFile(S, EncodeErrorLine(Job))) {
        EndEncodeJob(S);
        return;
    }
    if (!FConfig.FNormalizeVolume) {
        NormalizeDone(S, QString(), false);
        return;
    }

    SetPhase(S, phScanPeak);
    const QString source = Job.SourcePath;
    const TWaveFileInfo wave = Job.WaveData;
    const QString folder = QFileInfo(Job.DestPath).absolutePath();
    const int target = FConfig.NormalizeFactor;
    auto temp = std::make_shared<QString>();
    auto failed = std::make_shared<bool>(false);
    RunWorker(
        S,
        [this, &S, source, wave, folder, target, temp, failed] {
            const auto progress = WorkerProgress(S);
            try {
                double peak = 0;
                if (!ScanPeak(source, wave, peak, FStop, progress) || FStop)
                    return;
                FMailbox.Post([this, &S] { SetPhase(S, phNormalize); });
                const double level = PeakLevel(peak);
                if (level <= 0)
                    return; // nothing above zero: left as it is
                if (!NormalizeWave(source, wave, target / level, folder, *temp, FStop, progress))
                    *failed = true;
            } catch (const Exception &) {
                *failed = true;
            }
        },
        [this, &S, temp, failed] { NormalizeDone(S, *temp, *failed); });
}

void TConvRunner::NormalizeDone(TSlot &S, const QString &Temp, bool Failed) {
    TFileParam &Job = S.J();
    S.Temp = Temp;
    TempName = Temp;
    if (Failed) {
        if (!S.Temp.isEmpty())
            QFile::remove(S.Temp);
        S.Temp.clear();
        TempName.clear();
        Ask(S.Index, [this] { FQuestions.ShowError(QStringLiteral("Normalize wave file fail.")); });
    }
    if (Aborted) {
        EndEncodeJob(S);
        return;
    }

    SetPhase(S, phEncode);
    QString partialError;
    S.Partial = CreatePartialOutput(Job.DestPath, partialError);
    if (S.Partial.isEmpty()) {
        Fail(S, EncodeErrorLine(Job), partialError);
        EndEncodeJob(S);
        return;
    }
    TLameCoder &coder = *S.Coder;
    coder.SetInputFiles({S.Temp.isEmpty() ? Job.SourcePath : S.Temp});
    coder.SetOutputFiles({S.Partial});
    BE_ERR refusal = BE_ERR_SUCCESSFUL;
    try {
        ApplyEncoderSettings(coder, FConfig, Job.WaveData.Header.SampleRate);
        refusal = coder.InitStream();
        coder.CloseStream();
    } catch (const std::exception &) {
        // Not a refusal of the settings: the file is not encoded, and the batch goes on.
        Job.State = stError;
        QFile::remove(S.Partial);
        S.Partial.clear();
        Ask(S.Index, [this] {
            FQuestions.ShowError(
                QStringLiteral("Has error occurred when initialize encoder parameter!"));
        });
        EndEncodeJob(S);
        return;
    }
    if (refusal != BE_ERR_SUCCESSFUL) {
        Job.State = stError;
        QFile::remove(S.Partial);
        S.Partial.clear();
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
        Fail(S, EncodeErrorLine(Job), WithDestination(Result.Error, S.Partial, Job));
        QFile::remove(S.Partial);
        S.Partial.clear();
    } else if (!Aborted) {
        QString why;
        if (ReplaceFile(S.Partial, Job.DestPath, why)) {
            S.Partial.clear();
            FWritten.insert(&Job);
            Job.State = FConfig.DeleteOriginalFile ? stDoneRemoveSource : stDone;
            ++ConvertedCount;
        } else {
            Fail(S, EncodeErrorLine(Job), why);
            QFile::remove(S.Partial);
            S.Partial.clear();
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
    ++StartedCount;
    Job.State = stProcessing;
    FShown = &S;
    LastStarted = S.Index;
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
    S.Partial = CreatePartialOutput(Job.DestPath, why);
    if (S.Partial.isEmpty()) {
        DecodeFailToStart(S, why);
        return;
    }
    TXaudioPlayer &player = *S.Player;
    try {
        S.DecodeFailure.clear();
        S.DecodeWarning.clear();
        S.Closing = false;
        S.SourceStamp = FileStampOf(Job.SourcePath);
        const int32_t output = player.OutputOpen(QStringLiteral("wav:") + S.Partial);
        if (output != 0) {
            DecodeFailToStart(S, player.ErrorString(output));
            return;
        }
        // From here on the job ends when the output is closed, failed or not.
        S.Decoding = true;
        S.Stall->start(DecodeStallSeconds * 1000);
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
    if (!S.Partial.isEmpty())
        QFile::remove(S.Partial);
    S.Partial.clear();
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
    WhenNoQuestion([this, &S] { DecodeJobClosed(S); });
}

void TConvRunner::DecodeJobClosed(TSlot &S) {
    if (Aborted || Finished) {
        EndJob(S);
        return;
    }
    TFileParam &Job = S.J();
    // A source that changed while it was read gave only part of its audio.
    if (S.DecodeFailure.isEmpty() && FileStampOf(Job.SourcePath) != S.SourceStamp)
        S.DecodeFailure = QStringLiteral("the file changed while it was decoded");
    if (!S.DecodeFailure.isEmpty()) {
        const QString failure = WithDestination(S.DecodeFailure, S.Partial, Job);
        QFile::remove(S.Partial);
        S.Partial.clear();
        S.DecodeFailure.clear();
        Fail(S, DecodeErrorLine(Job), failure);
        EndJob(S);
        return;
    }
    CurrentDest = Job.DestPath;
    if (!FConfig.FNormalizeVolume) {
        FinishDecodeJob(S);
        return;
    }

    SetPhase(S, phScanPeak);
    const QString decoded = S.Partial;
    const QString folder = QFileInfo(Job.DestPath).absolutePath();
    const int target = FConfig.NormalizeFactor;
    auto temp = std::make_shared<QString>();
    auto ok = std::make_shared<bool>(false);
    RunWorker(
        S,
        [this, &S, decoded, folder, target, temp, ok] {
            const auto progress = WorkerProgress(S);
            try {
                TWaveFileInfo info;
                if (!ReadWaveFileInfo(decoded, info))
                    return;
                double peak = 0;
                if (!ScanPeak(decoded, info, peak, FStop, progress) || FStop)
                    return;
                FMailbox.Post([this, &S] { SetPhase(S, phNormalize); });
                const double level = PeakLevel(peak);
                if (level <= 0)
                    return;
                *ok = NormalizeWave(decoded, info, target / level, folder, *temp, FStop, progress);
            } catch (const Exception &) {
                *ok = false;
            }
        },
        [this, &S, temp, ok] {
            S.Temp = *temp;
            TempName = S.Temp;
            if (Aborted) {
                // The decoded file stays as it was; the abort answer decides about it.
                EndJob(S);
                return;
            }
            if (*ok && !S.Temp.isEmpty()) {
                QString why;
                if (ReplaceFile(S.Temp, S.Partial, why)) {
                    S.Temp.clear();
                    TempName.clear();
                } else {
                    // The unscaled decoded file is kept.
                    Ask(S.Index, [this] {
                        FQuestions.ShowError(QStringLiteral("Normalize wave file fail."));
                    });
                }
            }
            FinishDecodeJob(S);
        });
}

void TConvRunner::FinishDecodeJob(TSlot &S) {
    TFileParam &Job = S.J();
    QString why;
    if (ReplaceFile(S.Partial, Job.DestPath, why)) {
        S.Partial.clear();
        FWritten.insert(&Job);
        SetPhase(S, phDone);
        Job.State = FConfig.DeleteOriginalFile ? stDoneRemoveSource : stDone;
        ++ConvertedCount;
        if (!S.DecodeWarning.isEmpty()) {
            Report(S.Index, TReport::Warning, Job.SourcePath, S.DecodeWarning);
        }
    } else {
        QFile::remove(S.Partial);
        S.Partial.clear();
        Fail(S, DecodeErrorLine(Job), why);
    }
    EndJob(S);
}

// --- Abort ------------------------------------------------------------------------------

void TConvRunner::WorkEnded() {
    if (Busy())
        return;
    if (Aborted && !FAbortAnswered)
        return; // the answer decides about the interrupted outputs
    ReleaseReports(true);
    for (const auto &[job, partial] : FInterrupted) {
        QString why;
        // Answered No: the partial output stays under the destination's name.
        if (job->State == stAborted && ReplaceFile(partial, job->DestPath, why))
            FWritten.insert(job);
        else
            QFile::remove(partial);
    }
    FInterrupted.clear();
    DeleteAbortedOutputs();
    emit Idle();
}

void TConvRunner::DeleteAbortedOutputs() {
    if (!DeleteOnClose)
        return;
    for (TFileParam *Job : Jobs) {
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
    DeleteOnClose = false;
}
