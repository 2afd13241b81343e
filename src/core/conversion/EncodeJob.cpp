// The encode job of the conversion runner: the header read again, normalisation, the
// encoder's settings and its run on the slot's worker.
#include "conversion/ConvSlot.h"

#include "conversion/Normalize.h"
#include "encoder/EncoderSettings.h"
#include "platform/Exception.h"
#include "platform/RegularFile.h"
#include "settings/Config.h"

#include <QFileInfo>

using namespace joblines;

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
