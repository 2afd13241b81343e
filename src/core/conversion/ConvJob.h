#pragma once

// One job of a conversion batch as the batch sees it, and what a job may ask of its batch;
// private to the conversion engine.

#include "app/FileParam.h"
#include "conversion/AlbumGain.h"
#include "conversion/ConvRunner.h"
#include "conversion/QuestionGate.h"
#include "conversion/SafeOutput.h"
#include "tags/TagSet.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

class TConfig;
class TConvJob;
class TMailbox;
struct TNormalizeResult;

// The batch as its jobs see it. Every call comes on the runner's thread; only Mailbox() and
// Stop() are read by workers, through the references a job takes at its construction.
class IJobHost {
public:
    virtual ~IJobHost() = default;

    virtual const TConfig &Config() const = 0;
    // Questions go through the gate, one at a time (see AskAbout).
    virtual TQuestionGate &Gate() = 0;
    virtual IConvQuestions &Questions() = 0;
    // Hands work from a job's worker to the runner's thread.
    virtual TMailbox &Mailbox() = 0;
    // Set by an abort: workers stop after their current chunk.
    virtual const std::atomic<bool> &Stop() const = 0;
    virtual bool Aborted() const = 0;
    // The window closed itself: nothing more is decided about running jobs.
    virtual bool Finished() const = 0;
    virtual int DecodeStallSeconds() const = 0;
    // How many jobs the batch runs at once.
    virtual int JobSlots() const = 0;

    virtual void SetPhase(TConvJob &Job, int Phase) = 0;
    virtual void Progress(TConvJob &Job, int Percent) = 0;
    // The player's state, shown for the job whose phases the window shows.
    virtual void StateCaption(TConvJob &Job, const QString &Caption) = 0;
    // The job failed: ErrorLine in the error list, Why under it, and its state stError.
    virtual void Fail(TConvJob &Job, const QString &ErrorLine, const QString &Why) = 0;
    // A job that succeeded with less than its whole source.
    virtual void Warn(TConvJob &Job, const QString &Why) = 0;
    // The job's output is in place: done, and counted; Track is its measurement for an album.
    virtual void Done(TConvJob &Job, TTrackLoudness Track) = 0;
    // Aborts the batch and asks the window to close (Cancel in the refusal box).
    virtual void RequestClose() = 0;
    // The job has ended; Left is its output when an abort interrupted it, else empty.
    virtual void Ended(TConvJob &Job, TPartialFile Left) = 0;
};

// A question about the job at JobIndex (none when negative): work that ends meanwhile
// waits for the answer.
template <typename TQuestion>
auto AskAbout(TQuestionGate &Gate, IConvQuestions &Questions, int JobIndex, TQuestion &&Question);

// A job of the batch: takes up one file at a time and tells its host when it has ended,
// once. The objects are reused from job to job, so that what they own (an encoder, a
// decoding library's player) lives as long as the runner.
class TConvJob {
public:
    explicit TConvJob(IJobHost &Host);
    virtual ~TConvJob();
    TConvJob(const TConvJob &) = delete;
    TConvJob &operator=(const TConvJob &) = delete;

    // Converts Job, the batch's entry at Index; ends through IJobHost::Ended.
    void Start(TFileParam &Job, int Index);
    // The batch is aborted: stop as soon as possible; the end is reported as usual.
    virtual void Abort() = 0;
    bool Running() const { return FJob != nullptr; }
    int Index() const { return FIndex; }

protected:
    virtual void Run() = 0;
    // What the job leaves behind at its end, before the host hears of it.
    virtual void Ending() {}
    // Reports the end once; the output still partial goes with it.
    void End();

    TFileParam &J() const { return *FJob; }
    template <typename TQuestion> auto Ask(TQuestion &&Question);
    // Fails the job when its destination is its source; true when they differ.
    bool CheckSameFile(const QString &ErrorLine);
    // Makes the missing folders of the destination below the job's DestRoot; fails the job
    // and returns false when they cannot be made.
    bool MakeDestFolder(const QString &ErrorLine);
    // Runs Work on a fresh worker thread and Then on the runner's thread when it has
    // returned and no question is open.
    void RunWorker(std::function<void()> Work, std::function<void()> Then);
    // Brings the file at Path to the target peak or loudness on the worker, the loudness as
    // an output of AsChannels channels holds it (0: as Path has them); Then runs on the
    // runner's thread with the scaled copy in Temp, or the reason it failed.
    void Normalize(const QString &Path, int AsChannels,
                   std::function<void(const TNormalizeResult &)> Then);
    // Fails the job because its normalisation failed for Why: a box when it is the batch's
    // only running job, else a line in the error list, so that no other job waits on a box.
    void NormalizeFailed(const QString &Why);
    // For the destructors of derived jobs, once nothing of theirs is in use by the worker.
    void JoinWorker();

    IJobHost &FHost;
    // Taken at construction: the only parts of the host a worker touches.
    TMailbox &FMailbox;
    const std::atomic<bool> &FStop;

    // The output being written, beside its destination, and a normalised copy of the source.
    TPartialFile Partial;
    TPartialFile Temp;
    TFileStamp SourceStamp;

private:
    TFileParam *FJob = nullptr; // none: not running
    int FIndex = -1;
    std::thread FWorker;
};

// ReplayGain 2.0 brings every track to this loudness (LUFS).
inline constexpr double ReplayGainReference = -18.0;

// What carrying a source's tags into an output came to: a tag that cannot be read or audio
// that cannot be measured is only noted (Warning, GainWarning); a tag that cannot be written
// fails the output (Failure).
struct TTagCarry {
    QString Warning;
    QString GainWarning;
    QString Failure;
    TTrackLoudness Track; // with ForAlbum, what the measurement leaves for the album
};
using TTagWriter = bool (*)(const QString &Path, const TTagSet &Tags, QString &Why);
// The audio measured for ReplayGain values: none when Path is empty. AsChannels as for
// MeasureLoudness: the output's channels when they differ from Path's.
struct TGainMeasure {
    QString Path;
    int AsChannels = 0;
    bool ForAlbum = false; // keep what the album's measurement needs
};
// Reads Source's tags when Copy, measures the audio Measure names, and writes what there is
// with Write into Output, the partial output through its descriptor's name. Silent audio
// gets no ReplayGain values. Runs on a job's worker; Stop ends the measurement and writes
// nothing.
TTagCarry CarryTags(const QString &Source, const QString &Output, TTagWriter Write, bool Copy,
                    const TGainMeasure &Measure, const std::atomic<bool> &Stop);
// The channels of the MP3 the encoder makes with the stored channel mode, whatever the
// source has: mono only in mono mode.
int EncodedChannels(const TConfig &Config);
// The ReplayGain track values of a measurement: none for silence (no integrated loudness).
std::optional<TReplayGain> ReplayGainOf(double IntegratedLufs, double TruePeakDb);

// The lines a job puts in the error list.
namespace joblines {

inline QString EncodeErrorLine(const TFileParam &Job) {
    return QStringLiteral("Source file '%1' can't be open, convert error.").arg(Job.SourcePath);
}

inline QString DecodeErrorLine(const TFileParam &Job) {
    return QStringLiteral("Conversion Error: ") + Job.SourcePath;
}

// An error names the hidden partial file, by its name or its descriptor; the user knows
// the destination.
inline QString WithDestination(QString Text, const TPartialFile &Partial, const TFileParam &Job) {
    if (!Partial)
        return Text;
    return Text.replace(Partial.ReadPath(), Job.DestPath).replace(Partial.Path(), Job.DestPath);
}

inline QString TagWriteFailure(const QString &Why) {
    return QStringLiteral("The tags could not be written: ") + Why;
}

// A failed normalisation: this line, then the file and the reason.
inline QString NormalizeFailureLine() {
    return QStringLiteral("Normalize wave file fail.");
}

inline QString NormalizeFailureDetail(const TFileParam &Job, const QString &Why) {
    return QStringLiteral("%1: %2").arg(Job.SourcePath, Why);
}

} // namespace joblines

template <typename TQuestion>
auto AskAbout(TQuestionGate &Gate, IConvQuestions &Questions, int JobIndex, TQuestion &&Question) {
    return Gate.Ask([&] {
        if (JobIndex >= 0)
            Questions.SetSubject(JobIndex);
        return Question();
    });
}

template <typename TQuestion> auto TConvJob::Ask(TQuestion &&Question) {
    return AskAbout(FHost.Gate(), FHost.Questions(), FIndex, std::forward<TQuestion>(Question));
}
