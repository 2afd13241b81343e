#include "cli/Batch.h"

#include "cli/Console.h"
#include "conversion/ConvRunner.h"
#include "platform/FilePaths.h"
#include "platform/ModalResults.h"
#include "settings/Config.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>

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
        Fail(Source(), QStringLiteral("skipped: '%1' exists (-y overwrites)").arg(Dest));
    }

    bool ConfirmRefusal(const QString &Path) override {
        ClearProgress();
        const TFileParam *job = Job();
        Fail(Path, QStringLiteral("the MP3 encoder does not support these settings for this "
                                  "file (%1 Hz)")
                       .arg(job ? job->SourceSampleRate() : 0));
        return true;
    }

    void ShowError(const QString &Text) override {
        ClearProgress();
        Fail(Source(), Text);
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
        Fail(what, Text.trimmed());
        FPending.clear();
    }

    void ClearMessages() override {}

    // Not a failure: the output is kept.
    void Warn(const QString &Path, const QString &Why) override {
        Flush();
        ClearProgress();
        Fail(QStringLiteral("Warning: ") + Path, Why);
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
        FPending.clear();
    }

    void ClearProgress() {
        if (FProgressShown)
            err() << "\r\033[K" << Qt::flush;
        FProgressShown = false;
    }

private:
    // The job the runner's calls are about.
    const TFileParam *Job() const {
        const int index = FSubject >= 0 ? FSubject : FCurrent;
        return index >= 0 && index < FJobs.size() ? FJobs.at(index) : nullptr;
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
};

} // namespace

QString DestinationOf(const QString &Source, const QString &Folder, const QString &Ext) {
    return Folder.isEmpty() ? ChangeFileExt(Source, Ext)
                            : Folder + ChangeFileExt(QFileInfo(Source).fileName(), Ext);
}

TFileParam &TCliJobs::Add(const QString &Source, const QString &Folder, const QString &Ext) {
    auto job = std::make_unique<TFileParam>();
    job->SourcePath = Source;
    job->FileName = QFileInfo(Source).fileName();
    job->DestPath = DestinationOf(Source, Folder, Ext);
    FJobs.append(job.get());
    FRecords.push_back(std::move(job));
    return *FJobs.back();
}

QString ApplyBatchOptions(const QCommandLineParser &Parser, const QCommandLineOption &Normalize,
                          const QCommandLineOption &Jobs, const QCommandLineOption &NoTags,
                          TConfig &Config) {
    // Tags follow the stored setting, as in the program, unless this run says no.
    if (Parser.isSet(NoTags))
        Config.CopyTags = false;
    // A script's output does not change with the program's stored options.
    Config.FNormalizeVolume = false;
    if (Parser.isSet(Normalize)) {
        bool ok = false;
        const int percent = Parser.value(Normalize).toInt(&ok);
        if (!ok || percent < 1 || percent > 100)
            return QStringLiteral("normalize takes a peak level of 1 to 100 (percent)");
        Config.FNormalizeVolume = true;
        Config.NormalizeFactor = percent;
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

int RunBatch(TConfig &Config, const QList<TFileParam *> &Jobs, bool Overwrite) {
    // The question is always asked, and answered by -y; sources are never deleted here.
    Config.OverwritePrompt = true;
    Config.DeleteOriginalFile = false;
    TScriptQuestions questions(Jobs, Overwrite, Config.ConvertType == 1);
    TConvRunner runner(Config, questions);
    questions.SetRunner(&runner);
    runner.SetJobs(Jobs);
    QEventLoop loop;
    QObject::connect(&runner, &TConvRunner::JobStarted,
                     [&](int Index) { questions.SetCurrent(Index); });
    QObject::connect(&runner, &TConvRunner::ProgressChanged,
                     [&](int Percent) { questions.Progress(Percent); });
    QObject::connect(&runner, &TConvRunner::BatchEnded, &loop, &QEventLoop::quit,
                     Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        &runner, [&] { runner.Start(); }, Qt::QueuedConnection);
    loop.exec();
    questions.Flush();
    questions.ClearProgress();
    // Counted where each job failed, whichever message told of it.
    return runner.FailedCount();
}

} // namespace cli
