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
#include <QThread>
#include <QTimer>

#include <cmath>

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

TConvRunner::TConvRunner(TConfig &Config, IConvQuestions &Questions, QObject *Parent)
    : QObject(Parent), FConfig(Config), FQuestions(Questions),
      FCoder(std::make_unique<TLameCoder>()), FPlayer(std::make_unique<TXaudioPlayer>()),
      FStall(new QTimer(this)) {
    FCoder->SetDefaultExt(QStringLiteral(".mp3"));
    FCoder->OnProgress = [this](TLameCoder &, uint16_t Percent) {
        // Called on the worker: the signal is queued to the runner's thread. An abort that
        // came just before Encode reset the coder's flag is passed on here.
        if (FStop)
            FCoder->Abort();
        if (int(Percent) != FLastPercent) {
            FLastPercent = Percent;
            emit ProgressChanged(Percent);
        }
    };

    FPlayer->SetPriority(XA_PRIORITY_NORMAL);
    FPlayer->OnNotifyInputState = [this](TXaudioPlayer &, int32_t State) {
        FStall->start();
        if (State == XA_INPUT_STATE_OPEN && FDecoding && FDecodeFailure.isEmpty() && !FClosing)
            FPlayer->Play();
    };
    FPlayer->OnNotifyPlayerState = [this](TXaudioPlayer &, int32_t State) {
        FStall->start();
        if (State == XA_PLAYER_STATE_STOPPED || State == XA_PLAYER_STATE_PAUSED) {
            emit StateCaption(QStringLiteral("STOPPED"));
        } else if (State == XA_PLAYER_STATE_PLAYING) {
            emit StateCaption(QStringLiteral("Decoding"));
        } else if (State == XA_PLAYER_STATE_EOS) {
            emit StateCaption(QStringLiteral("EOF"));
            CloseDecodeOutput();
        }
    };
    FPlayer->OnNotifyInputPosition = [this](TXaudioPlayer &, uint32_t Offset, uint32_t Range) {
        FStall->start();
        if (Range != 0 && FDecoding)
            emit ProgressChanged(int(std::nearbyint(double(Offset) / Range * 100)));
    };
    FPlayer->OnNotifyOutputState = [this](TXaudioPlayer &, int32_t State) {
        // Only the close this job asked for ends it.
        if (State == XA_OUTPUT_STATE_CLOSED && FDecoding && FClosing)
            DecodeOutputClosed();
    };
    // The stream ends early (it changes format, or cannot be decoded from some point on):
    // the WAV file keeps what came before, and the user learns where and why.
    FPlayer->OnNotifyProgress = [this](TXaudioPlayer &, uint8_t Source, uint8_t Code, int16_t,
                                       const QString &Message) {
        FStall->start();
        if (FDecoding && Source == XA_SOURCE_INPUT &&
            (Code == XA_PROGRESS_STREAM_FORMAT_CHANGED || Code == XA_PROGRESS_STREAM_UNDECODABLE))
            FDecodeWarning = Message;
    };
    FPlayer->OnNotifyError = [this](TXaudioPlayer &, uint8_t, int16_t, const QString &Message) {
        DecodeFail(Message.isEmpty() ? QStringLiteral("the file cannot be decoded") : Message);
    };

    FStall->setSingleShot(true);
    connect(FStall, &QTimer::timeout, this, [this] {
        if (!FDecoding)
            return;
        if (FDecodeFailure.isEmpty() && !FClosing) {
            DecodeFail(QStringLiteral("no progress for %1 s").arg(DecodeStallSeconds));
        } else {
            // Asked to close, the library never answered: the job ends here.
            FClosing = true;
            DecodeOutputClosed();
        }
    });
}

TConvRunner::~TConvRunner() {
    FStop = true;
    FCoder->Abort();
    if (FWorker) {
        FWorker->wait();
        delete FWorker;
    }
    if (!FPartial.isEmpty())
        QFile::remove(FPartial);
}

bool TConvRunner::LoadLibrary() {
    try {
        FPlayer->Init();
        FLibraryError.clear();
        return true;
    } catch (const Exception &Error) {
        // Shown by the window; decode jobs then fail one by one with the reason.
        FLibraryError = Error.message();
        return false;
    }
}

void TConvRunner::SetPhase(int Phase) {
    FLastPercent = -1;
    emit PhaseChanged(Phase);
}

bool TConvRunner::Busy() const {
    return FWorker != nullptr || FDecoding;
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
    FStop = false;
    FWritten.clear();
    FPartial.clear();
    FQuestions.ClearMessages();
    emit ProgressChanged(0);
    if (FConfig.ConvertType == 0) {
        RunEncodeBatch();
    } else {
        LoadLibrary(); // without it each decode job fails at once with the reason
        NextDecodes();
    }
}

void TConvRunner::Abort() {
    Aborted = true;
    FStop = true;
    FCoder->Abort();
    if (FDecoding) {
        try {
            FPlayer->Stop();
            FPlayer->InputClose();
        } catch (const Exception &) {
            // Without a library there is nothing to stop.
        }
        CloseDecodeOutput();
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

bool TConvRunner::MayOverwrite(TFileParam &Job, bool &Cancelled) {
    Cancelled = false;
    if (!FConfig.OverwritePrompt || !QFileInfo::exists(Job.DestPath))
        return true;
    if (LastAnswer != mrYesToAll && LastAnswer != mrNoToAll)
        LastAnswer = FQuestions.ConfirmOverwrite(Job.DestPath);
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

bool TConvRunner::CheckSameFile(TFileParam &Job, const QString &ErrorLine) {
    if (!IsSameFile(Job.SourcePath, Job.DestPath))
        return true;
    Job.State = stError;
    FQuestions.AddMessage(ErrorLine);
    FQuestions.AddNote(
        QStringLiteral("  '%1' is the source file itself; it is left as it is.").arg(Job.DestPath));
    return false;
}

void TConvRunner::RunWorker(std::function<void()> Work, std::function<void()> Then) {
    FWorker = QThread::create(std::move(Work));
    connect(FWorker, &QThread::finished, this, [this, Then = std::move(Then)] {
        FWorker->deleteLater();
        FWorker = nullptr;
        Then();
    });
    FWorker->start();
}

// --- Encoding ---------------------------------------------------------------------------

void TConvRunner::RunEncodeBatch() {
    while (!Aborted && FileIndex < Total) {
        TFileParam &Job = *Jobs.at(FileIndex);
        ++StartedCount;
        bool cancelled = false;
        if (!MayOverwrite(Job, cancelled)) {
            if (cancelled) {
                emit BatchEnded();
                return;
            }
            ++FileIndex;
            continue;
        }
        StartEncodeJob(Job);
        return; // goes on when the job's work has ended
    }
    if (!Aborted)
        emit BatchEnded();
    else
        WorkEnded();
}

void TConvRunner::StartEncodeJob(TFileParam &Job) {
    Job.State = stProcessing;
    emit JobStarted(FileIndex);
    emit ProgressChanged(0);
    TempName.clear();
    if (!CheckSameFile(Job, EncodeErrorLine(Job))) {
        EndEncodeJob();
        return;
    }
    if (!FConfig.FNormalizeVolume) {
        NormalizeDone(Job, QString(), false);
        return;
    }

    SetPhase(phScanPeak);
    const QString source = Job.SourcePath;
    const TWaveFileInfo wave = Job.WaveData;
    const QString folder = QFileInfo(Job.DestPath).absolutePath();
    const int target = FConfig.NormalizeFactor;
    auto temp = std::make_shared<QString>();
    auto failed = std::make_shared<bool>(false);
    RunWorker(
        [this, source, wave, folder, target, temp, failed] {
            const auto progress = [this](int Percent) { emit ProgressChanged(Percent); };
            try {
                double peak = 0;
                if (!ScanPeak(source, wave, peak, FStop, progress) || FStop)
                    return;
                QMetaObject::invokeMethod(this, [this] { SetPhase(phNormalize); });
                const double level = PeakLevel(peak);
                if (level <= 0)
                    return; // nothing above zero: left as it is
                if (!NormalizeWave(source, wave, target / level, folder, *temp, FStop, progress))
                    *failed = true;
            } catch (const Exception &) {
                *failed = true;
            }
        },
        [this, &Job, temp, failed] { NormalizeDone(Job, *temp, *failed); });
}

void TConvRunner::NormalizeDone(TFileParam &Job, const QString &Temp, bool Failed) {
    TempName = Temp;
    if (Failed) {
        if (!TempName.isEmpty())
            QFile::remove(TempName);
        TempName.clear();
        FQuestions.ShowError(QStringLiteral("Normalize wave file fail."));
    }
    if (Aborted) {
        EndEncodeJob();
        return;
    }

    SetPhase(phEncode);
    QString partialError;
    FPartial = CreatePartialOutput(Job.DestPath, partialError);
    FPartialJob = &Job;
    if (FPartial.isEmpty()) {
        Job.State = stError;
        FQuestions.AddMessage(EncodeErrorLine(Job));
        FQuestions.AddNote(QStringLiteral("  ") + partialError);
        EndEncodeJob();
        return;
    }
    FCoder->SetInputFiles({TempName.isEmpty() ? Job.SourcePath : TempName});
    FCoder->SetOutputFiles({FPartial});
    BE_ERR refusal = BE_ERR_SUCCESSFUL;
    try {
        ApplyEncoderSettings(*FCoder, FConfig, Job.WaveData.Header.SampleRate);
        refusal = FCoder->InitStream();
        FCoder->CloseStream();
    } catch (const std::exception &) {
        // Not a refusal of the settings: the file is not encoded, and the batch goes on.
        FQuestions.ShowError(
            QStringLiteral("Has error occurred when initialize encoder parameter!"));
        Job.State = stError;
        QFile::remove(FPartial);
        FPartial.clear();
        EndEncodeJob();
        return;
    }
    if (refusal != BE_ERR_SUCCESSFUL) {
        Job.State = stError;
        QFile::remove(FPartial);
        FPartial.clear();
        if (!FQuestions.ConfirmRefusal(Job.SourcePath)) {
            Aborted = true;
            FStop = true;
            emit CloseRequested();
        }
        EndEncodeJob();
        return;
    }

    auto result = std::make_shared<TEncodeResult>();
    RunWorker(
        [this, result] {
            try {
                if (!FStop)
                    FCoder->Encode();
            } catch (const Exception &Error) {
                result->Error = Error.message();
            }
        },
        [this, &Job, result] { EncodeDone(Job, *result); });
}

void TConvRunner::EncodeDone(TFileParam &Job, const TEncodeResult &Result) {
    if (!Result.Error.isEmpty()) {
        Job.State = stError;
        FQuestions.AddMessage(EncodeErrorLine(Job));
        FQuestions.AddNote(QStringLiteral("  ") + WithDestination(Result.Error, FPartial, Job));
        QFile::remove(FPartial);
        FPartial.clear();
    } else if (!Aborted) {
        QString why;
        if (ReplaceFile(FPartial, Job.DestPath, why)) {
            FPartial.clear();
            FWritten.insert(&Job);
            Job.State = FConfig.DeleteOriginalFile ? stDoneRemoveSource : stDone;
            ++ConvertedCount;
        } else {
            Job.State = stError;
            FQuestions.AddMessage(EncodeErrorLine(Job));
            FQuestions.AddNote(QStringLiteral("  ") + why);
            QFile::remove(FPartial);
            FPartial.clear();
        }
    }
    // Stopped by an abort, the job stays stProcessing with its partial output until the
    // abort question has been answered.
    EndEncodeJob();
}

void TConvRunner::EndEncodeJob() {
    if (!TempName.isEmpty()) {
        QFile::remove(TempName);
        TempName.clear();
    }
    SetPhase(phDone);
    ++FileIndex;
    RunEncodeBatch();
}

// --- Decoding ---------------------------------------------------------------------------

int TConvRunner::StartNextDecode() {
    while (FileIndex < Total) {
        TFileParam &Job = *Jobs.at(FileIndex);
        emit JobStarted(FileIndex);
        emit ProgressChanged(0);
        bool cancelled = false;
        if (MayOverwrite(Job, cancelled))
            break;
        if (cancelled)
            return 0;
        ++FileIndex;
    }
    if (FileIndex >= Total)
        return 0;

    TFileParam &Job = *Jobs.at(FileIndex);
    ++StartedCount;
    Job.State = stProcessing;
    SetPhase(phDecode);
    int result = 1;
    const auto failToStart = [&](const QString &Why) {
        Job.State = stError;
        FQuestions.AddMessage(DecodeErrorLine(Job));
        FQuestions.AddNote(QStringLiteral("  ") + Why);
        result = 3;
    };
    QString why;
    if (!CheckSameFile(Job, DecodeErrorLine(Job))) {
        result = 3;
    } else if (why = RegularFileProblem(Job.SourcePath); !why.isEmpty()) {
        failToStart(why);
    } else if (FPartial = CreatePartialOutput(Job.DestPath, why), FPartialJob = &Job;
               FPartial.isEmpty()) {
        failToStart(why);
    } else {
        try {
            FDecodeFailure.clear();
            FDecodeWarning.clear();
            FClosing = false;
            FSourceStamp = FileStampOf(Job.SourcePath);
            const int32_t output = FPlayer->OutputOpen(QStringLiteral("wav:") + FPartial);
            if (output != 0) {
                QFile::remove(FPartial);
                FPartial.clear();
                failToStart(FPlayer->ErrorString(output));
            } else {
                // From here on the job ends when the output is closed, failed or not.
                FDecoding = true;
                FStall->start(DecodeStallSeconds * 1000);
                const int32_t input = FPlayer->InputOpen(Job.SourcePath);
                if (input != 0)
                    DecodeFail(FPlayer->ErrorString(input));
            }
        } catch (const Exception &Error) {
            QFile::remove(FPartial);
            FPartial.clear();
            failToStart(Error.message());
        }
    }
    LastStarted = FileIndex;
    ++FileIndex;
    return result;
}

void TConvRunner::CloseDecodeOutput() {
    if (!FDecoding || FClosing)
        return;
    FClosing = true;
    try {
        FPlayer->OutputClose();
    } catch (const Exception &) {
        DecodeOutputClosed();
    }
}

void TConvRunner::DecodeFail(const QString &Why) {
    if (!FDecoding || !FDecodeFailure.isEmpty())
        return;
    FDecodeFailure = Why;
    try {
        FPlayer->Stop();
    } catch (const Exception &) {
    }
    CloseDecodeOutput();
}

void TConvRunner::DecodeOutputClosed() {
    FDecoding = false;
    FClosing = false;
    FStall->stop();
    if (Aborted || Finished || LastStarted < 0 || LastStarted >= Total) {
        WorkEnded();
        return;
    }
    TFileParam &Job = *Jobs.at(LastStarted);
    // A source that changed while it was read gave only part of its audio.
    if (FDecodeFailure.isEmpty() && FileStampOf(Job.SourcePath) != FSourceStamp)
        FDecodeFailure = QStringLiteral("the file changed while it was decoded");
    if (!FDecodeFailure.isEmpty()) {
        const QString failure = WithDestination(FDecodeFailure, FPartial, Job);
        QFile::remove(FPartial);
        FPartial.clear();
        Job.State = stError;
        FQuestions.AddMessage(DecodeErrorLine(Job));
        FQuestions.AddNote(QStringLiteral("  ") + failure);
        FDecodeFailure.clear();
        NextDecodes();
        return;
    }
    CurrentDest = Job.DestPath;
    if (!FConfig.FNormalizeVolume) {
        FinishDecodeJob(Job);
        return;
    }

    SetPhase(phScanPeak);
    const QString decoded = FPartial;
    const QString folder = QFileInfo(Job.DestPath).absolutePath();
    const int target = FConfig.NormalizeFactor;
    auto temp = std::make_shared<QString>();
    auto ok = std::make_shared<bool>(false);
    RunWorker(
        [this, decoded, folder, target, temp, ok] {
            const auto progress = [this](int Percent) { emit ProgressChanged(Percent); };
            try {
                TWaveFileInfo info;
                if (!ReadWaveFileInfo(decoded, info))
                    return;
                double peak = 0;
                if (!ScanPeak(decoded, info, peak, FStop, progress) || FStop)
                    return;
                QMetaObject::invokeMethod(this, [this] { SetPhase(phNormalize); });
                const double level = PeakLevel(peak);
                if (level <= 0)
                    return;
                *ok = NormalizeWave(decoded, info, target / level, folder, *temp, FStop, progress);
            } catch (const Exception &) {
                *ok = false;
            }
        },
        [this, &Job, temp, ok] {
            TempName = *temp;
            if (Aborted) {
                // The decoded file stays as it was; the abort answer decides about it.
                if (!TempName.isEmpty())
                    QFile::remove(TempName);
                TempName.clear();
                WorkEnded();
                return;
            }
            if (*ok && !TempName.isEmpty()) {
                QString why;
                if (ReplaceFile(TempName, FPartial, why)) {
                    TempName.clear();
                } else {
                    // The unscaled decoded file is kept.
                    FQuestions.ShowError(QStringLiteral("Normalize wave file fail."));
                }
            }
            if (!TempName.isEmpty())
                QFile::remove(TempName);
            TempName.clear();
            FinishDecodeJob(Job);
        });
}

void TConvRunner::FinishDecodeJob(TFileParam &Job) {
    QString why;
    if (ReplaceFile(FPartial, Job.DestPath, why)) {
        FPartial.clear();
        FWritten.insert(&Job);
        SetPhase(phDone);
        Job.State = FConfig.DeleteOriginalFile ? stDoneRemoveSource : stDone;
        ++ConvertedCount;
        if (!FDecodeWarning.isEmpty())
            FQuestions.Warn(Job.SourcePath, FDecodeWarning);
    } else {
        QFile::remove(FPartial);
        FPartial.clear();
        Job.State = stError;
        FQuestions.AddMessage(DecodeErrorLine(Job));
        FQuestions.AddNote(QStringLiteral("  ") + why);
    }
    NextDecodes();
}

void TConvRunner::NextDecodes() {
    int result;
    do
        result = StartNextDecode();
    while (result == 3);
    if (result == 0) {
        if (!Aborted)
            Finished = true;
        emit BatchEnded();
    }
}

// --- Abort ------------------------------------------------------------------------------

void TConvRunner::WorkEnded() {
    if (Busy())
        return;
    if (Aborted && !FAbortAnswered)
        return; // the answer decides about the interrupted output
    if (!FPartial.isEmpty() && FPartialJob) {
        TFileParam &Job = *FPartialJob;
        QString why;
        // Answered No: the partial output stays under the destination's name.
        if (Job.State == stAborted && ReplaceFile(FPartial, Job.DestPath, why))
            FWritten.insert(&Job);
        else
            QFile::remove(FPartial);
        FPartial.clear();
    }
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
