// What every job of a conversion batch does the same way: taking up a file, its end, its
// worker thread and normalisation on it.
#include "conversion/ConvJob.h"

#include "conversion/Normalize.h"
#include "conversion/SafeOutput.h"
#include "encoder/LameCoder.h"
#include "platform/Exception.h"
#include "platform/Mailbox.h"
#include "settings/Config.h"
#include "tags/TagSet.h"

#include <QFileInfo>

#include <cmath>
#include <memory>

TConvJob::TConvJob(IJobHost &Host) : FHost(Host), FMailbox(Host.Mailbox()), FStop(Host.Stop()) {}

TConvJob::~TConvJob() {
    // Derived jobs join in their destructors already; this is for a job that never ran one.
    JoinWorker();
}

void TConvJob::JoinWorker() {
    if (FWorker.joinable())
        FWorker.join();
}

void TConvJob::Start(TFileParam &Job, int Index) {
    FJob = &Job;
    FIndex = Index;
    Partial.Remove();
    Temp.Remove();
    Run();
}

void TConvJob::End() {
    if (!FJob)
        return;
    Temp.Remove();
    Ending();
    FJob = nullptr;
    FIndex = -1;
    // A partial output left here was interrupted by an abort: the batch keeps it until the
    // abort has been answered. The batch may give this job its next file at once.
    FHost.Ended(*this, std::move(Partial));
}

bool TConvJob::CheckSameFile(const QString &ErrorLine) {
    if (!IsSameFile(J().SourcePath, J().DestPath))
        return true;
    FHost.Fail(
        *this, ErrorLine,
        QStringLiteral("'%1' is the source file itself; it is left as it is.").arg(J().DestPath));
    return false;
}

bool TConvJob::MakeDestFolder(const QString &ErrorLine) {
    QString why;
    if (J().DestRoot.isEmpty() ||
        MakeFoldersBelow(J().DestRoot, QFileInfo(J().DestPath).absolutePath(), why))
        return true;
    FHost.Fail(*this, ErrorLine, why);
    return false;
}

void TConvJob::RunWorker(std::function<void()> Work, std::function<void()> Then) {
    // The worker's last act is to post its end, so everything it did is handed over with it.
    FWorker = std::thread([this, Work = std::move(Work), Then = std::move(Then)]() mutable {
        Work();
        FMailbox.Post([this, Then = std::move(Then)] {
            FWorker.join();
            FHost.Gate().WhenNoQuestion(Then);
        });
    });
}

void TConvJob::Normalize(const QString &Path, int AsChannels,
                         std::function<void(const TNormalizeResult &)> Then) {
    FHost.SetPhase(*this, phScanPeak);
    const QString folder = QFileInfo(J().DestPath).absolutePath();
    const TConfig &config = FHost.Config();
    const bool loudness = config.NormalizeMode == 1;
    const int target = loudness ? config.LoudnessTarget : config.NormalizeFactor;
    const double ceiling = config.TruePeakCeiling / 10.0;
    auto result = std::make_shared<TNormalizeResult>();
    RunWorker(
        [this, Path, AsChannels, folder, loudness, target, ceiling, result] {
            auto onScaling = [this] {
                FMailbox.Post([this] { FHost.SetPhase(*this, phNormalize); });
            };
            auto progress = [this](int Percent) {
                FMailbox.Post([this, Percent] { FHost.Progress(*this, Percent); });
            };
            *result = loudness ? NormalizeToLoudness(Path, target, ceiling, folder, FStop,
                                                     onScaling, progress, AsChannels)
                               : NormalizeToPeak(Path, target, folder, FStop, onScaling, progress);
        },
        [this, result, Then = std::move(Then)] {
            Temp = std::move(result->Temp);
            // A file left unscaled is converted as it is, but not silently.
            if (!result->Note.isEmpty() && !FHost.Aborted())
                FHost.Warn(*this, result->Note);
            Then(*result);
        });
}

void TConvJob::NormalizeFailed(const QString &Why) {
    const QString detail = joblines::NormalizeFailureDetail(J(), Why);
    if (FHost.JobSlots() > 1) {
        FHost.Fail(*this, joblines::NormalizeFailureLine(), detail);
        return;
    }
    J().State = stError;
    Ask([&] { FHost.Questions().ShowError(joblines::NormalizeFailureLine() + u'\n' + detail); });
}

std::optional<TReplayGain> ReplayGainOf(double IntegratedLufs, double TruePeakDb) {
    if (!std::isfinite(IntegratedLufs))
        return std::nullopt;
    // The peak is the true peak (oversampled), so it is never below the sample peak.
    const double peak = std::isfinite(TruePeakDb) ? std::pow(10.0, TruePeakDb / 20.0) : 0.0;
    return TReplayGain{ReplayGainReference - IntegratedLufs, peak};
}

int EncodedChannels(const TConfig &Config) {
    return Config.Mode == MONO ? 1 : 2;
}

TTagCarry CarryTags(const QString &Source, const QString &Output, TTagWriter Write, bool Copy,
                    const TGainMeasure &Measure, const std::atomic<bool> &Stop) {
    TTagCarry carry;
    TTagSet tags;
    if (Copy) {
        TTagReadResult read = ReadTags(Source);
        if (!read.Problem.isEmpty())
            carry.Warning = QStringLiteral("The tags were not copied: ") + read.Problem;
        else
            tags = std::move(read.Tags);
    }
    if (!Measure.Path.isEmpty()) {
        const QString lead = QStringLiteral("The ReplayGain tags were not written: ");
        try {
            TLoudness loudness;
            TLoudnessBlocks *blocks = Measure.ForAlbum ? &carry.Track.Blocks : nullptr;
            if (MeasureLoudness(Measure.Path, false, loudness, Stop, {}, blocks,
                                Measure.AsChannels)) {
                tags.ReplayGain = ReplayGainOf(loudness.Integrated, loudness.TruePeak);
                carry.Track.Measured = Measure.ForAlbum;
                if (std::isfinite(loudness.TruePeak))
                    carry.Track.Peak = std::pow(10.0, loudness.TruePeak / 20.0);
            } else if (!Stop)
                carry.GainWarning = lead + QStringLiteral("the audio cannot be measured");
        } catch (const Exception &Error) {
            carry.GainWarning = lead + Error.message().replace(Measure.Path, Source);
        }
    }
    if (Stop)
        return carry;
    if ((!tags.IsEmpty() || tags.ReplayGain) && !Write(Output, tags, carry.Failure) &&
        carry.Failure.isEmpty())
        carry.Failure = QStringLiteral("unknown error");
    return carry;
}
