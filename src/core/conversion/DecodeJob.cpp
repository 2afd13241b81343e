// The decode job of a conversion batch: a chain of the decoding library's notifications on
// the job's player, from opening the output and the input to the output closed.
#include "conversion/DecodeJob.h"

#include "conversion/Normalize.h"
#include "inspect/MPGTools.h"
#include "platform/RegularFile.h"
#include "settings/Config.h"
#include "tags/TagSet.h"
#include "xaudio/XaudioPlayer.h"

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

TDecodeJob::TDecodeJob(IJobHost &Host)
    : TConvJob(Host), FPlayer(std::make_unique<TXaudioPlayer>()) {
    FStall.setSingleShot(true);
    Wire();
}

TDecodeJob::~TDecodeJob() {
    JoinWorker();
}

void TDecodeJob::LoadLibrary() {
    FPlayer->Init();
}

void TDecodeJob::Wire() {
    TXaudioPlayer &P = *FPlayer;
    P.SetPriority(XA_PRIORITY_NORMAL);
    P.OnNotifyInputState = [this](TXaudioPlayer &Player, int32_t State) {
        FStall.start();
        if (State == XA_INPUT_STATE_OPEN && FDecoding && FFailure.isEmpty() && !FClosing)
            Player.Play();
    };
    P.OnNotifyPlayerState = [this](TXaudioPlayer &, int32_t State) {
        FStall.start();
        if (State == XA_PLAYER_STATE_STOPPED || State == XA_PLAYER_STATE_PAUSED) {
            FHost.StateCaption(*this, QStringLiteral("STOPPED"));
        } else if (State == XA_PLAYER_STATE_PLAYING) {
            FHost.StateCaption(*this, QStringLiteral("Decoding"));
        } else if (State == XA_PLAYER_STATE_EOS) {
            FHost.StateCaption(*this, QStringLiteral("EOF"));
            CloseOutput();
        }
    };
    P.OnNotifyInputPosition = [this](TXaudioPlayer &, uint32_t Offset, uint32_t Range) {
        FStall.start();
        if (Range != 0 && FDecoding)
            FHost.Progress(*this, int(std::nearbyint(double(Offset) / Range * 100)));
    };
    P.OnNotifyOutputState = [this](TXaudioPlayer &, int32_t State) {
        // Only the close this job asked for ends it.
        if (State == XA_OUTPUT_STATE_CLOSED && FDecoding && FClosing)
            OutputClosed();
    };
    // The stream ends early (it changes format, or cannot be decoded from some point on):
    // the WAV file keeps what came before, and the user learns where and why.
    P.OnNotifyProgress = [this](TXaudioPlayer &, uint8_t Source, uint8_t Code, int16_t,
                                const QString &Message) {
        FStall.start();
        if (FDecoding && Source == XA_SOURCE_INPUT &&
            (Code == XA_PROGRESS_STREAM_FORMAT_CHANGED || Code == XA_PROGRESS_STREAM_UNDECODABLE))
            FWarning = Message;
    };
    P.OnNotifyError = [this](TXaudioPlayer &, uint8_t, int16_t, const QString &Message) {
        Fail(Message.isEmpty() ? QStringLiteral("the file cannot be decoded") : Message);
    };

    QObject::connect(&FStall, &QTimer::timeout, [this] {
        if (!FDecoding)
            return;
        if (FFailure.isEmpty() && !FClosing) {
            Fail(QStringLiteral("no progress for %1 s").arg(FHost.DecodeStallSeconds()));
        } else {
            // Asked to close, the library never answered: the job ends here.
            FClosing = true;
            OutputClosed();
        }
    });
}

void TDecodeJob::Abort() {
    if (!FDecoding)
        return;
    try {
        FPlayer->Stop();
        FPlayer->InputClose();
    } catch (const Exception &) {
        // Without a library there is nothing to stop.
    }
    CloseOutput();
}

void TDecodeJob::Run() {
    TFileParam &Job = J();
    FHost.SetPhase(*this, phDecode);
    QString why;
    if (!CheckSameFile(DecodeErrorLine(Job))) {
        End();
        return;
    }
    if (why = RegularFileProblem(Job.SourcePath); !why.isEmpty()) {
        FailToStart(why);
        return;
    }
    // Only what the inspector takes for MPEG audio now is decoded: other bytes (a FLAC file
    // named .mp3, a file replaced since it was listed) would give a stretch of silence.
    if (why = MpegAudioProblem(Job.SourcePath); !why.isEmpty()) {
        FailToStart(why);
        return;
    }
    if (!MakeDestFolder(DecodeErrorLine(Job))) {
        End();
        return;
    }
    Partial = CreatePartialOutput(Job.DestPath, why);
    if (!Partial) {
        FailToStart(why);
        return;
    }
    TXaudioPlayer &player = *FPlayer;
    try {
        FFailure.clear();
        FWarning.clear();
        FClosing = false;
        SourceStamp = FileStampOf(Job.SourcePath);
        const int32_t output =
            player.OutputOpen(QStringLiteral(XA_OUTPUT_WAV_FD_PREFIX "%1").arg(Partial.Handle()));
        if (output != 0) {
            FailToStart(player.ErrorString(output));
            return;
        }
        // From here on the job ends when the output is closed, failed or not.
        FDecoding = true;
        FStall.start(FHost.DecodeStallSeconds() * 1000);
        const int32_t input = player.InputOpen(Job.SourcePath);
        if (input != 0)
            Fail(player.ErrorString(input));
    } catch (const Exception &Error) {
        if (!FDecoding)
            FailToStart(Error.message());
        else
            Fail(Error.message());
    }
}

void TDecodeJob::Ending() {
    FDecoding = false;
    FClosing = false;
    FStall.stop();
}

void TDecodeJob::FailToStart(const QString &Why) {
    Partial.Remove();
    FHost.Fail(*this, DecodeErrorLine(J()), Why);
    End();
}

void TDecodeJob::CloseOutput() {
    if (!FDecoding || FClosing)
        return;
    FClosing = true;
    try {
        FPlayer->OutputClose();
    } catch (const Exception &) {
        OutputClosed();
    }
}

void TDecodeJob::Fail(const QString &Why) {
    if (!FDecoding || !FFailure.isEmpty())
        return;
    FFailure = Why;
    try {
        FPlayer->Stop();
    } catch (const Exception &) {
    }
    CloseOutput();
}

void TDecodeJob::OutputClosed() {
    if (!FDecoding)
        return;
    FDecoding = false;
    FClosing = false;
    FStall.stop();
    FHost.Gate().WhenNoQuestion([this] { Closed(); });
}

void TDecodeJob::Closed() {
    if (FHost.Aborted() || FHost.Finished()) {
        End();
        return;
    }
    TFileParam &Job = J();
    // A source that changed while it was read gave only part of its audio.
    if (FFailure.isEmpty() && FileStampOf(Job.SourcePath) != SourceStamp)
        FFailure = QStringLiteral("the file changed while it was decoded");
    if (!FFailure.isEmpty()) {
        const QString failure = WithDestination(FFailure, Partial, Job);
        Partial.Remove();
        FFailure.clear();
        FHost.Fail(*this, DecodeErrorLine(Job), failure);
        End();
        return;
    }
    if (!FHost.Config().FNormalizeVolume) {
        Finish();
        return;
    }

    Normalize(Partial.ReadPath(), 0, [this](const TNormalizeResult &Result) {
        if (FHost.Aborted()) {
            // The decoded file stays as it was; the abort answer decides about it.
            End();
            return;
        }
        TFileParam &Job = J();
        QString why = Result.Error;
        if (why.isEmpty() && Temp)
            ReplaceFile(Temp, Partial, why);
        if (!why.isEmpty()) {
            // An unscaled file under the destination's name would pass for a normalised one.
            const QString reason = WithDestination(why, Partial, Job);
            Partial.Remove();
            NormalizeFailed(reason);
            End();
            return;
        }
        Finish();
    });
}

void TDecodeJob::Finish() {
    const bool copyTags = FHost.Config().CopyTags;
    const bool replayGain = FHost.Config().WriteReplayGain;
    if (!copyTags && !replayGain) {
        Place({});
        return;
    }
    // The tags go into the partial output, so that the file renamed into place is complete;
    // ReplayGain is measured on that output, the audio as decoded (and normalised).
    auto carry = std::make_shared<TTagCarry>();
    const bool album = FHost.Config().AlbumGainWanted();
    RunWorker(
        [this, carry, copyTags, replayGain, album, source = J().SourcePath,
         output = Partial.ReadPath()] {
            *carry = CarryTags(source, output, &WriteWavTags, copyTags,
                               {replayGain ? output : QString(), 0, album}, FStop);
        },
        [this, carry] {
            if (FHost.Aborted()) {
                End();
                return;
            }
            Place(*carry);
        });
}

void TDecodeJob::Place(const TTagCarry &Tags) {
    TFileParam &Job = J();
    QString why;
    if (!Tags.Failure.isEmpty()) {
        const QString failure = TagWriteFailure(WithDestination(Tags.Failure, Partial, Job));
        Partial.Remove();
        FHost.Fail(*this, DecodeErrorLine(Job), failure);
    } else if (ReplaceFile(Partial, Job.DestPath, why)) {
        FHost.SetPhase(*this, phDone);
        if (!FWarning.isEmpty())
            FHost.Warn(*this, FWarning);
        if (!Tags.Warning.isEmpty())
            FHost.Warn(*this, Tags.Warning);
        if (!Tags.GainWarning.isEmpty())
            FHost.Warn(*this, Tags.GainWarning);
        FHost.Done(*this, Tags.Track);
    } else {
        Partial.Remove();
        FHost.Fail(*this, DecodeErrorLine(Job), why);
    }
    End();
}
