// The decode job of the conversion runner: a chain of the decoding library's notifications
// on the slot's player, from opening the output and the input to the output closed.
#include "conversion/ConvSlot.h"

#include "conversion/Normalize.h"
#include "inspect/MPGTools.h"
#include "platform/RegularFile.h"
#include "settings/Config.h"

#include <cmath>

using namespace joblines;

namespace {

QString MpegAudioProblem(const QString &Path) {
    TMPEGAudio inspector;
    inspector.SetFileName(Path);
    if (inspector.IsValid())
        return QString();
    const QString problem = inspector.Problem();
    return problem.isEmpty() ? QStringLiteral("not MPEG audio") : problem;
}

} // namespace

void TConvRunner::WireDecoder(TSlot &S) {
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
}

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
