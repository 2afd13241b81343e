#include "cli/Batch.h"

#include "app/RawNames.h"

#include "cli/Console.h"
#include "conversion/ConvRunner.h"
#include "platform/FilePaths.h"
#include "platform/ModalResults.h"
#include "settings/Config.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <vector>

namespace cli {
namespace {

class TScriptQuestions : public IConvQuestions {
public:
    TScriptQuestions(const QList<TFileParam *> &Jobs, bool Overwrite, bool Decoding)
        : FJobs(Jobs), FOverwrite(Overwrite), FDecoding(Decoding), FProgress(StderrIsTerminal()) {}

    void SetRunner(const TConvRunner *Runner) { FRunner = Runner; }

    void SetCurrent(int Index) {
        Flush();
        FCurrent = Index;
    }

    void SetSubject(int JobIndex) override {
        if (JobIndex != FSubject)
            Flush();
        FSubject = JobIndex;
    }

    int ConfirmOverwrite(const QString &Dest) override {
        (void)Dest;
        return FOverwrite ? mrYes : mrNo;
    }

    void Skipped(const QString &Dest) override {
        Flush();
        ClearProgress();
        // Not an error of the file: --json says "skipped" for it.
        Fail(Source(), QStringLiteral("skipped: '%1' exists (-y overwrites)").arg(Dest));
    }

    bool ConfirmRefusal(const QString &Path) override {
        ClearProgress();
        const TFileParam *job = Job();
        Say(Path, QStringLiteral("the MP3 encoder does not support these settings for this "
                                 "file (%1 Hz)")
                      .arg(job ? job->SourceSampleRate() : 0));
        return true;
    }

    void ShowError(const QString &Text) override {
        ClearProgress();
        const QStringList lines = Text.split(u'\n');
        Say(Source(), Joined(lines.first(), lines.mid(1).join(u' ')));
    }

    // A failed file: its line waits for the reason that follows it.
    void AddMessage(const QString &Text) override {
        Flush();
        FPending = Text;
    }

    void AddNote(const QString &Text) override {
        if (FPending.isEmpty())
            return;
        ClearProgress();
        const QString what = FDecoding ? QStringLiteral("Conversion Error: ") + Source() : Source();
        // A reason that names the file itself belongs to its heading, which the line says.
        const QString why = Text.trimmed();
        Say(what, why.startsWith(Source() + QStringLiteral(": ")) ? Joined(FPending, why) : why);
        FPending.clear();
    }

    void ClearMessages() override {}

    // Not a failure: the output is kept.
    void Warn(const QString &Path, const QString &Why) override {
        Flush();
        ClearProgress();
        Fail(QStringLiteral("Warning: ") + Path, Why);
        if (const int index = Index(); index >= 0)
            FWarnings[size_t(index)] << Path + QStringLiteral(": ") + Why;
    }

    void Progress(int Percent) {
        if (!FProgress || FCurrent < 0 || FCurrent >= FJobs.size())
            return;
        const TFileParam &current = *FJobs.at(FCurrent);
        if (!FRunner || FRunner->JobSlots() == 1) {
            err() << "\r[" << FCurrent + 1 << '/' << FJobs.size() << "] " << current.FileName << ' '
                  << Percent << '%' << Qt::flush;
        } else {
            // The batch, then each running file; cut to the terminal's usual width.
            QString line =
                QStringLiteral("[%1/%2] %3%").arg(FCurrent + 1).arg(FJobs.size()).arg(Percent);
            for (const TConvRunner::TRunningJob &running : FRunner->RunningJobs())
                line += QStringLiteral("  %1 %2%")
                            .arg(FJobs.at(running.Index)->FileName)
                            .arg(running.Percent);
            err() << "\r" << line.left(79) << "\033[K" << Qt::flush;
        }
        FProgressShown = true;
    }

    void Flush() {
        if (FPending.isEmpty())
            return;
        ClearProgress();
        err() << "brindle-cli: " << FPending << Qt::endl;
        if (const int index = Index(); index >= 0)
            FErrors[size_t(index)] << FPending;
        FPending.clear();
    }

    void ClearProgress() {
        if (FProgressShown)
            err() << "\r\033[K" << Qt::flush;
        FProgressShown = false;
    }

    // The error and warning lines said of the job at Index so far.
    const QStringList &Errors(int Index) const { return FErrors.at(size_t(Index)); }
    const QStringList &Warnings(int Index) const { return FWarnings.at(size_t(Index)); }

private:
    // The job the runner's calls are about, or -1.
    int Index() const {
        const int index = FSubject >= 0 ? FSubject : FCurrent;
        return index >= 0 && index < FJobs.size() ? index : -1;
    }
    const TFileParam *Job() const { return Index() >= 0 ? FJobs.at(Index()) : nullptr; }
    // A heading and the line under it as one reason; the line's leading file name goes, as
    // the line already begins with it.
    QString Joined(const QString &Heading, QString Detail) const {
        const QString named = Source() + QStringLiteral(": ");
        if (!Source().isEmpty() && Detail.startsWith(named))
            Detail.remove(0, named.size());
        return Detail.isEmpty() ? Heading : Heading + u' ' + Detail;
    }

    // An error line, kept for the job's --json record too.
    void Say(const QString &What, const QString &Why) {
        Fail(What, Why);
        if (const int index = Index(); index >= 0)
            FErrors[size_t(index)] << What + QStringLiteral(": ") + Why;
    }

    QString Source() const { return Job() ? Job()->SourcePath : QString(); }

    const QList<TFileParam *> &FJobs;
    const bool FOverwrite;
    const bool FDecoding;
    const bool FProgress;
    const TConvRunner *FRunner = nullptr;
    int FCurrent = -1;
    int FSubject = -1;
    QString FPending;
    bool FProgressShown = false;
    std::vector<QStringList> FErrors = std::vector<QStringList>(size_t(FJobs.size()));
    std::vector<QStringList> FWarnings = std::vector<QStringList>(size_t(FJobs.size()));
};

// The name of a job's end for --json. A job the runner left queued was skipped: its output
// existed.
QString StateName(int32_t State) {
    switch (State) {
    case stDone:
    case stDoneRemoveSource:
        return QStringLiteral("done");
    case stError:
    case stRemoveFailed:
        return QStringLiteral("error");
    case stQueued:
        return QStringLiteral("skipped");
    default:
        return QStringLiteral("aborted");
    }
}

} // namespace

QString DestinationOf(const QString &Source, const QString &Relative, const QString &Folder,
                      const QString &Ext) {
    if (Folder.isEmpty())
        return ChangeFileExt(Source, Ext);
    const QString below = QFileInfo(Relative).path();
    return Folder + (Relative.isEmpty() || below == u"." ? QString() : below + u'/') +
           ChangeFileExt(QFileInfo(Source).fileName(), Ext);
}

TFileParam *TCliJobs::Add(const QString &Source, const QString &Relative, const QString &Folder,
                          const QString &Ext, TJsonLines &Lines) {
    auto job = std::make_unique<TFileParam>();
    job->SourcePath = Source;
    job->FileName = QFileInfo(Source).fileName();
    job->DestPath = DestinationOf(Source, Relative, Folder, Ext);
    // The folder that was walked, as the program's lists keep it.
    if (!Relative.isEmpty())
        job->BaseFolder = Source.left(Source.size() - Relative.size());
    // The tree below -o is made as it is filled; a folder that cannot be made fails only the
    // files meant for it.
    if (!Folder.isEmpty() && !Relative.isEmpty()) {
        const QString subFolder = QFileInfo(job->DestPath).path();
        if (!QDir().mkpath(subFolder)) {
            Lines.Refused(Source,
                          QStringLiteral("cannot create the output folder '%1'").arg(subFolder));
            return nullptr;
        }
    }
    FJobs.append(job.get());
    FRecords.push_back(std::move(job));
    return FJobs.back();
}

QList<QCommandLineOption> TBatchOptions::All() const {
    return {OutputDir,  Overwrite, Normalize, Loudness, TruePeak, Jobs,     NoTags,
            ReplayGain, AlbumGain, FilesFrom, Nul,      Json,     Recursive};
}

QString TBatchOptions::Apply(const QCommandLineParser &Parser, TConfig &Config) const {
    // Tags follow the stored setting, as in the program, unless this run says no.
    if (Parser.isSet(NoTags))
        Config.CopyTags = false;
    // Measuring costs a pass over the audio: only when this run asks for it.
    Config.AlbumGainPerFolder = Parser.isSet(AlbumGain);
    Config.WriteReplayGain = Parser.isSet(ReplayGain) || Config.AlbumGainPerFolder;
    // A script's output does not change with the program's stored options.
    Config.FNormalizeVolume = false;
    if (Parser.isSet(Normalize)) {
        bool ok = false;
        const int percent = Parser.value(Normalize).toInt(&ok);
        if (!ok || percent < 1 || percent > 100)
            return QStringLiteral("normalize takes a peak level of 1 to 100 (percent)");
        Config.FNormalizeVolume = true;
        Config.NormalizeMode = 0;
        Config.NormalizeFactor = percent;
    }
    if (Parser.isSet(Loudness)) {
        if (Parser.isSet(Normalize))
            return QStringLiteral("normalize and loudness are two ways to normalise: give one");
        bool ok = false;
        const int lufs = Parser.value(Loudness).toInt(&ok);
        if (!ok || lufs < TConfig::MinLoudnessTarget || lufs > TConfig::MaxLoudnessTarget)
            return QStringLiteral("loudness takes a target of -31 to -5 (LUFS)");
        Config.FNormalizeVolume = true;
        Config.NormalizeMode = 1;
        Config.LoudnessTarget = lufs;
        Config.TruePeakCeiling = -10;
    }
    if (Parser.isSet(TruePeak)) {
        if (!Parser.isSet(Loudness))
            return QStringLiteral("true-peak is the ceiling of --loudness: give both");
        bool ok = false;
        const double dbtp = Parser.value(TruePeak).toDouble(&ok);
        if (!ok || !(dbtp >= -9.0 && dbtp <= 0.0))
            return QStringLiteral("true-peak takes a ceiling of -9.0 to 0.0 (dBTP)");
        Config.TruePeakCeiling = int(std::lround(dbtp * 10));
    }
    // One file per core unless told; the outputs are the same either way.
    Config.ConvertJobs = 0;
    if (Parser.isSet(Jobs)) {
        bool ok = false;
        const int jobs = Parser.value(Jobs).toInt(&ok);
        if (!ok || jobs < 1 || jobs > TConfig::MaxConvertJobs)
            return QStringLiteral("jobs takes a number of files of 1 to 64");
        Config.ConvertJobs = jobs;
    }
    return QString();
}

void TJsonLines::Write(const QString &Source, const QString &Dest, const QString &State,
                       double Seconds, const QStringList &Errors, const QStringList &Warnings) {
    if (!FEnabled)
        return;
    const QJsonObject record{
        {"source", Source},   {"destination", Dest},         {"state", State},
        {"seconds", Seconds}, {"error", Errors.join(u'\n')}, {"warning", Warnings.join(u'\n')}};
    out() << QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)) << '\n'
          << Qt::flush;
}

void TJsonLines::Refused(const QString &Source, const QString &Why) {
    Fail(Source, Why);
    Write(Source, QString(), QStringLiteral("error"), 0, {Source + QStringLiteral(": ") + Why}, {});
}

std::vector<TSourceFile> BatchSources(const QStringList &Arguments, bool Recursive, TListKind Kind,
                                      TJsonLines &Lines, int &Failed) {
    const TProblemSink problem = [&](const QString &What, const QString &Why, bool Failure) {
        if (!Failure) {
            Fail(What, Why);
            return;
        }
        Lines.Refused(What, Why);
        ++Failed;
    };
    std::vector<TSourceFile> sources;
    for (const QString &arg : Arguments) {
        for (TSourceFile &file : ExpandArgument(arg, Recursive, Kind, problem)) {
            if (HasRawBytes(file.Path)) {
                Lines.Refused(EscapedName(file.Path), RawNameReason());
                ++Failed;
                continue;
            }
            sources.push_back(std::move(file));
        }
    }
    return sources;
}

int RunBatch(TConfig &Config, const QList<TFileParam *> &Jobs, bool Overwrite, TJsonLines &Lines) {
    // The question is always asked, and answered by -y; sources are never deleted here.
    Config.OverwritePrompt = true;
    Config.DeleteOriginalFile = false;
    TScriptQuestions questions(Jobs, Overwrite, Config.ConvertType == 1);
    TConvRunner runner(Config, questions);
    questions.SetRunner(&runner);
    runner.SetJobs(Jobs);
    QEventLoop loop;
    // Each job's wall time, from its start (or its overwrite question) to its end.
    std::vector<QElapsedTimer> clocks(size_t(Jobs.size()));
    std::vector<double> seconds(size_t(Jobs.size()), -1);
    // Records go out in list order, as the error lines do: a job's lines are all said once
    // it and every job before it have ended, and its record comes right after them.
    qsizetype written = 0;
    const auto writeRecord = [&](qsizetype Index) {
        const TFileParam &job = *Jobs.at(Index);
        const double wall = seconds[size_t(Index)];
        Lines.Write(job.SourcePath, job.DestPath,
                    wall < 0 ? QStringLiteral("aborted") : StateName(job.State),
                    wall < 0 ? 0 : wall, questions.Errors(int(Index)),
                    questions.Warnings(int(Index)));
    };
    QObject::connect(&runner, &TConvRunner::JobStarted, [&](int Index) {
        clocks[size_t(Index)].start();
        questions.SetCurrent(Index);
    });
    QObject::connect(&runner, &TConvRunner::JobEnded, [&](int Index, int) {
        const QElapsedTimer &clock = clocks[size_t(Index)];
        seconds[size_t(Index)] = clock.isValid() ? double(clock.elapsed()) / 1000 : 0;
        if (!Lines.Enabled())
            return;
        // A failed job's line may still wait for its reason; it is said by now.
        questions.Flush();
        while (written < Jobs.size() && seconds[size_t(written)] >= 0)
            writeRecord(written++);
    });
    QObject::connect(&runner, &TConvRunner::ProgressChanged,
                     [&](int Percent) { questions.Progress(Percent); });
    QObject::connect(&runner, &TConvRunner::BatchEnded, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &runner, [&] { runner.Start(); }, Qt::QueuedConnection);
    loop.exec();
    questions.Flush();
    questions.ClearProgress();
    // Jobs the batch never ended (it was stopped) have their records too.
    while (written < Jobs.size())
        writeRecord(written++);
    // Counted where each job failed, whichever message told of it.
    return runner.FailedCount();
}

} // namespace cli
