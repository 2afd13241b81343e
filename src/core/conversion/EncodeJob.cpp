// The encode job of a conversion batch: the header read again, normalisation, the encoder's
// settings and its run on the job's worker.
#include "conversion/EncodeJob.h"

#include "conversion/Normalize.h"
#include "encoder/EncoderSettings.h"
#include "encoder/LameCoder.h"
#include "platform/Exception.h"
#include "platform/Mailbox.h"
#include "platform/RegularFile.h"
#include "settings/Config.h"
#include "tags/TagSet.h"

#include <QFileInfo>

using namespace joblines;

namespace {

// Where the true-peak check of a loudness-normalised output starts on the encoding's bar:
// decoding and measuring an MP3 takes about a third of the time encoding it takes.
constexpr int CheckPeakFrom = 75;

// Why the source as it is now cannot be encoded; the job's record takes what was read.
QString RereadProblem(TFileParam &Job, const TSourceInfo &Source) {
    switch (Source.Kind) {
    case skWave:
        Job.WaveData = Source.Wave;
        Job.Kind = fkWave;
        return Source.Wave.Valid ? QString() : WaveFileProblem(Source.Wave);
    case skSoundFile:
        // A WAV file whose samples only libsndfile decodes keeps its WAV info.
        Job.WaveData = Source.Wave;
        if (!Source.Wave.Valid)
            Job.Kind = fkAudio;
        Job.SoundData = Source.Sound;
        return Source.Sound.Valid ? UnsupportedSoundFile(Source.Sound) : Source.Sound.Problem;
    case skNone:
        break;
    }
    return SourceProblem(Source);
}

} // namespace

TEncodeJob::TEncodeJob(IJobHost &Host) : TConvJob(Host), FCoder(std::make_unique<TLameCoder>()) {
    FCoder->SetDefaultExt(QStringLiteral(".mp3"));
    FCoder->OnProgress = [this](TLameCoder &Coder, uint16_t Percent) {
        // Called on the worker. An abort that came just before Encode reset the coder's
        // flag is passed on here.
        if (FStop)
            Coder.Abort();
        // The true-peak check that follows takes the rest of the encoding's bar.
        const int shown = FCheckPeak ? Percent * CheckPeakFrom / 100 : Percent;
        if (shown != FLastPercent) {
            FLastPercent = shown;
            FMailbox.Post([this, shown] { FHost.Progress(*this, shown); });
        }
    };
}

TEncodeJob::~TEncodeJob() {
    FCoder->Abort();
    JoinWorker();
}

void TEncodeJob::Abort() {
    FCoder->Abort();
}

void TEncodeJob::Run() {
    TFileParam &Job = J();
    if (!CheckSameFile(EncodeErrorLine(Job))) {
        EndEncode();
        return;
    }
    // The header is read again now: the file may have been replaced since it was listed, and
    // what is encoded must be what was checked. A change while it is encoded fails the job.
    SourceStamp = FileStampOf(Job.SourcePath);
    QString problem = RegularFileProblem(Job.SourcePath);
    FSource = TSourceInfo();
    // Headerless PCM (brindle-cli takes it from .pcm and .raw files) has nothing to re-read.
    if (problem.isEmpty() && (Job.WaveData.Valid || Job.Kind == fkAudio)) {
        try {
            FSource = ReadSourceInfo(Job.SourcePath);
            problem = RereadProblem(Job, FSource);
        } catch (const Exception &Error) {
            problem = Error.message();
        }
    }
    if (!problem.isEmpty()) {
        FHost.Fail(*this, EncodeErrorLine(Job), problem);
        EndEncode();
        return;
    }
    // Before normalising: its scaled copy is made beside the output too.
    if (!MakeDestFolder(EncodeErrorLine(Job))) {
        EndEncode();
        return;
    }
    FCheckPeak = false;
    FEncodings = 0;
    if (!FHost.Config().FNormalizeVolume) {
        Encode();
        return;
    }
    Normalize(Job.SourcePath, EncodedChannels(FHost.Config()),
              [this](const TNormalizeResult &Result) {
                  FGainDb = Result.GainDb;
                  FCheckPeak = FHost.Config().NormalizeMode == 1 && Temp;
                  if (FHost.Aborted()) {
                      EndEncode();
                  } else if (!Result.Error.isEmpty()) {
                      // Not encoded unscaled: the user asked for a level, and would not learn
                      // otherwise that the output misses it.
                      NormalizeFailed(Result.Error);
                      EndEncode();
                  } else {
                      Encode();
                  }
              });
}

void TEncodeJob::Encode() {
    TFileParam &Job = J();
    FHost.SetPhase(*this, phEncode);
    FLastPercent = -1; // the coder's first report of this file is always passed on
    QString partialError;
    Partial = CreatePartialOutput(Job.DestPath, partialError);
    if (!Partial) {
        FHost.Fail(*this, EncodeErrorLine(Job), partialError);
        EndEncode();
        return;
    }
    TLameCoder &coder = *FCoder;
    // A normalised copy is read through its own descriptor, never again by its name; it is a
    // WAV file that the coder reads itself.
    if (Temp || FSource.Kind == skNone)
        coder.SetInputFiles({Temp ? Temp.ReadPath() : Job.SourcePath});
    else
        coder.SetInputFiles({Job.SourcePath}, {FSource});
    coder.SetOutputFiles({Partial.Path()});
    coder.SetOutputHandles({Partial.Handle()});
    BE_ERR refusal = BE_ERR_SUCCESSFUL;
    try {
        ApplyEncoderSettings(coder, FHost.Config(), Job.SourceSampleRate());
        coder.SetFindReplayGain(FHost.Config().WriteReplayGain);
        refusal = coder.InitStream();
        coder.CloseStream();
    } catch (const std::exception &) {
        // Not a refusal of the settings: the file is not encoded, and the batch goes on.
        Job.State = stError;
        Partial.Remove();
        Ask([this] {
            FHost.Questions().ShowError(
                QStringLiteral("Has error occurred when initialize encoder parameter!"));
        });
        EndEncode();
        return;
    }
    if (refusal != BE_ERR_SUCCESSFUL) {
        Job.State = stError;
        Partial.Remove();
        if (!Ask([&] { return FHost.Questions().ConfirmRefusal(Job.SourcePath); }))
            FHost.RequestClose();
        EndEncode();
        return;
    }

    auto result = std::make_shared<TResult>();
    // The tags go into the partial output, so that the file renamed into place is complete.
    const bool copyTags = FHost.Config().CopyTags;
    // ReplayGain describes what was encoded: the normalised copy when there is one.
    const QString measured = !FHost.Config().WriteReplayGain ? QString()
                             : Temp                          ? Temp.ReadPath()
                                                             : Job.SourcePath;
    const TGainMeasure measure{measured, EncodedChannels(FHost.Config()),
                               FHost.Config().AlbumGainWanted()};
    const double ceiling = FHost.Config().TruePeakCeiling / 10.0;
    ++FEncodings;
    RunWorker(
        [this, result, copyTags, measure, ceiling, source = Job.SourcePath,
         output = Partial.ReadPath()] {
            try {
                if (!FStop)
                    FCoder->Encode();
            } catch (const Exception &Error) {
                result->Error = Error.message();
            }
            if (FCheckPeak && result->Error.isEmpty() && !FStop)
                CheckPeak(output, ceiling, *result);
            if (result->Again)
                return; // tags go into the output that stays
            if ((copyTags || !measure.Path.isEmpty()) && result->Error.isEmpty() && !FStop)
                result->Tags = CarryTags(source, output, &WriteMp3Tags, copyTags, measure, FStop);
        },
        [this, result] { Encoded(*result); });
}

void TEncodeJob::CheckPeak(const QString &Output, double Ceiling, TResult &Result) {
    if (!SoundFileDecodesMpeg()) {
        Result.PeakWarning = QStringLiteral("The true peak of the MP3 file was not checked: "
                                            "libsndfile cannot decode MPEG audio here.");
        return;
    }
    // Part of making the output, so part of the encoding phase: a job's phases go forward
    // unless the output has to be made again.
    const TDecodedPeak peak = MeasureDecodedPeak(Output, FStop, [this](int Percent) {
        const int shown = CheckPeakFrom + Percent * (100 - CheckPeakFrom) / 100;
        FMailbox.Post([this, shown] { FHost.Progress(*this, shown); });
    });
    if (FStop)
        return;
    if (!peak.Checked) {
        Result.PeakWarning =
            QStringLiteral("The true peak of the MP3 file was not checked: ") + peak.Problem;
        return;
    }
    Result.TruePeak = peak.TruePeak;
    if (peak.TruePeak <= Ceiling + OvershootTolerance)
        return;
    if (FEncodings <= OvershootRetries)
        Result.Again = true;
    else
        Result.PeakWarning =
            QStringLiteral("The MP3 file's true peak is %1 dBTP, over the ceiling of %2 dBTP, "
                           "after %3 encodings, each at a lower gain.")
                .arg(peak.TruePeak, 0, 'f', 2)
                .arg(Ceiling, 0, 'f', 1)
                .arg(FEncodings);
}

void TEncodeJob::Encoded(const TResult &Result) {
    TFileParam &Job = J();
    if (Result.Again && Result.Error.isEmpty() && !FHost.Aborted()) {
        EncodeAgain(Result.TruePeak);
        return;
    }
    if (!Result.Error.isEmpty()) {
        QString error = WithDestination(Result.Error, Partial, Job);
        if (Temp)
            error.replace(Temp.ReadPath(), Job.SourcePath);
        FHost.Fail(*this, EncodeErrorLine(Job), error);
        Partial.Remove();
    } else if (!FHost.Aborted()) {
        QString why;
        if (FileStampOf(Job.SourcePath) != SourceStamp) {
            FHost.Fail(*this, EncodeErrorLine(Job),
                       QStringLiteral("the file changed while it was encoded"));
            Partial.Remove();
        } else if (!Result.Tags.Failure.isEmpty()) {
            FHost.Fail(*this, EncodeErrorLine(Job),
                       TagWriteFailure(WithDestination(Result.Tags.Failure, Partial, Job)));
            Partial.Remove();
        } else if (ReplaceFile(Partial, Job.DestPath, why)) {
            if (!Result.Tags.Warning.isEmpty())
                FHost.Warn(*this, Result.Tags.Warning);
            if (!Result.Tags.GainWarning.isEmpty())
                FHost.Warn(*this, Result.Tags.GainWarning);
            if (!Result.PeakWarning.isEmpty())
                FHost.Warn(*this, Result.PeakWarning);
            FHost.Done(*this, Result.Tags.Track);
        } else {
            FHost.Fail(*this, EncodeErrorLine(Job), why);
            Partial.Remove();
        }
    }
    // Stopped by an abort, the job stays stProcessing with its partial output until the
    // abort question has been answered.
    EndEncode();
}

void TEncodeJob::EncodeAgain(double TruePeak) {
    // The output over the ceiling is dropped before the source is scaled again, so the disk
    // never holds more than one of each.
    Partial.Remove();
    Temp.Remove();
    FGainDb = LoweredGain(FGainDb, TruePeak, FHost.Config().TruePeakCeiling / 10.0);
    FHost.SetPhase(*this, phNormalize);
    const QString folder = QFileInfo(J().DestPath).absolutePath();
    auto result = std::make_shared<TNormalizeResult>();
    RunWorker(
        [this, result, folder, gain = FGainDb, source = J().SourcePath] {
            *result = ScaleByGain(source, gain, folder, FStop, [this](int Percent) {
                FMailbox.Post([this, Percent] { FHost.Progress(*this, Percent); });
            });
        },
        [this, result] {
            Temp = std::move(result->Temp);
            if (FHost.Aborted()) {
                EndEncode();
            } else if (!result->Error.isEmpty()) {
                NormalizeFailed(result->Error);
                EndEncode();
            } else {
                Encode();
            }
        });
}

void TEncodeJob::EndEncode() {
    FHost.SetPhase(*this, phDone);
    End();
}
