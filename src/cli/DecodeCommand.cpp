#include "cli/DecodeCommand.h"

#include "cli/Console.h"
#include "inspect/MP3WavComm.h"
#include "platform/FilePaths.h"
#include "xaudio/XaudioPlayer.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cmath>

namespace cli {
namespace {

// A decode that has gone this long without any word from the library is given up, so a
// stuck input can never hang a script.
constexpr int StallMilliseconds = 30000;

// Decodes files one after another the way the conversion window does: open the WAV output
// and the input, play when the input is ready, close the output at the end of the stream,
// and start the next file when the output is closed. The library works on its own threads
// and reports through events, so the batch is a chain of events inside one event loop.
class DecodeBatch {
public:
    DecodeBatch(const QStringList &Files, const QString &Folder, bool Overwrite)
        : FFiles(Files), FFolder(Folder), FOverwrite(Overwrite), FProgress(StderrIsTerminal()) {
        FPlayer.SetPriority(XA_PRIORITY_NORMAL);
        FPlayer.OnNotifyInputState = [this](TXaudioPlayer &, int32_t State) {
            Heard();
            if (State == XA_INPUT_STATE_OPEN && FFailure.isEmpty())
                FPlayer.Play();
        };
        FPlayer.OnNotifyPlayerState = [this](TXaudioPlayer &, int32_t State) {
            Heard();
            if (State == XA_PLAYER_STATE_EOS)
                CloseOutput();
        };
        FPlayer.OnNotifyInputPosition = [this](TXaudioPlayer &, uint32_t Offset, uint32_t Range) {
            Heard();
            if (FProgress && Range != 0)
                err() << "\r[" << FIndex + 1 << '/' << FFiles.size() << "] "
                      << QFileInfo(FFiles.at(FIndex)).fileName() << ' '
                      << int(std::nearbyint(100.0 * Offset / Range)) << '%' << Qt::flush;
        };
        FPlayer.OnNotifyOutputState = [this](TXaudioPlayer &, int32_t State) {
            // Only the close this job asked for ends it: a late notice of an earlier job's
            // output must not end the next one.
            if (State == XA_OUTPUT_STATE_CLOSED && FClosing)
                FinishJob();
        };
        FPlayer.OnNotifyError = [this](TXaudioPlayer &, uint8_t, int16_t, const QString &Msg) {
            Fail(Msg);
        };
        // The stream ends early (it changes format, or cannot be decoded from some point on):
        // the WAV file keeps what came before, and the user learns where and why.
        FPlayer.OnNotifyProgress = [this](TXaudioPlayer &, uint8_t Source, uint8_t Code, int16_t,
                                          const QString &Msg) {
            Heard();
            if (Source != XA_SOURCE_INPUT || (Code != XA_PROGRESS_STREAM_FORMAT_CHANGED &&
                                              Code != XA_PROGRESS_STREAM_UNDECODABLE))
                return;
            if (FProgress)
                err() << "\r\033[K" << Qt::flush;
            err() << "brindle-cli: Warning: " << FFiles.at(FIndex) << ": " << Msg << Qt::endl;
        };
        FStall.setSingleShot(true);
        FStall.setInterval(StallMilliseconds);
        QObject::connect(&FStall, &QTimer::timeout, [this] {
            // Asked to stop, the library still owes the output-closed notice; if that does
            // not come either, the job ends here.
            if (FFailure.isEmpty())
                Fail(QStringLiteral("no progress for %1 s").arg(StallMilliseconds / 1000));
            else
                FinishJob();
        });
    }

    int Run() {
        QTimer::singleShot(0, [this] { StartNext(); });
        FLoop.exec();
        return FFailed;
    }

private:
    void Heard() { FStall.start(); }

    QString DestinationOf(const QString &Source) const {
        const QString name = ChangeFileExt(QFileInfo(Source).fileName(), QStringLiteral(".WAV"));
        return FFolder.isEmpty() ? ChangeFileExt(Source, QStringLiteral(".WAV")) : FFolder + name;
    }

    void Report(const QString &Source, const QString &Why) {
        if (FProgress)
            err() << "\r\033[K" << Qt::flush;
        err() << "brindle-cli: Conversion Error: " << Source << ": " << Why << Qt::endl;
        ++FFailed;
    }

    void StartNext() {
        while (++FIndex < FFiles.size()) {
            if (StartJob())
                return;
        }
        FLoop.quit();
    }

    // True when the job is under way; false when it was skipped or could not start.
    bool StartJob() {
        const QString &source = FFiles.at(FIndex);
        FDest = DestinationOf(source);
        FFailure.clear();
        if (!QFileInfo(source).isFile()) {
            Report(source, QStringLiteral("no such file"));
            return false;
        }
        if (QFileInfo(FDest).canonicalFilePath() == QFileInfo(source).canonicalFilePath()) {
            Report(source, QStringLiteral("the output would replace the source"));
            return false;
        }
        if (QFileInfo::exists(FDest) && !FOverwrite) {
            err() << "brindle-cli: " << source << ": skipped: '" << FDest
                  << "' exists (-y overwrites)" << Qt::endl;
            return false;
        }
        FClosing = false;
        try {
            const int32_t output = FPlayer.OutputOpen(QStringLiteral("wav:") + FDest);
            if (output != 0) {
                Report(source, FPlayer.ErrorString(output));
                return false;
            }
            // From here on the job ends when the output is closed, failed or not.
            const int32_t input = FPlayer.InputOpen(source);
            if (input != 0)
                Fail(FPlayer.ErrorString(input));
        } catch (const Exception &e) {
            Report(source, e.message());
            return false;
        }
        FStall.start();
        return true;
    }

    void CloseOutput() {
        FClosing = true;
        FPlayer.OutputClose();
    }

    void Fail(const QString &Why) {
        if (!FFailure.isEmpty() || FIndex >= FFiles.size())
            return;
        FFailure = Why.isEmpty() ? QStringLiteral("cannot be decoded") : Why;
        FPlayer.Stop();
        CloseOutput();
        FStall.start();
    }

    void FinishJob() {
        if (FIndex < 0 || FIndex >= FFiles.size())
            return;
        FStall.stop();
        if (FFailure.isEmpty()) {
            if (FProgress)
                err() << "\r\033[K" << Qt::flush;
        } else {
            // Part of a stream would pass for the whole of it in a script.
            QFile::remove(FDest);
            Report(FFiles.at(FIndex), FFailure);
        }
        FFailure.clear();
        FClosing = false;
        StartNext();
    }

    TXaudioPlayer FPlayer;
    QEventLoop FLoop;
    QTimer FStall;
    const QStringList FFiles;
    const QString FFolder;
    const bool FOverwrite;
    const bool FProgress;
    int FIndex = -1;
    QString FDest;
    QString FFailure;
    bool FClosing = false;
    int FFailed = 0;
};

int UsageError(const QString &Message) {
    err() << "brindle-cli decode: " << Message << "\nTry 'brindle-cli --help'.\n";
    return ExitUsage;
}

} // namespace

int RunDecode(const QStringList &Args) {
    QCommandLineParser parser;
    const QCommandLineOption outputDir({"o", "output-dir"}, {}, "DIR");
    const QCommandLineOption overwrite(QStringList{"y", "overwrite"});
    parser.addOptions({outputDir, overwrite});
    if (!parser.parse(QStringList{QStringLiteral("decode")} + Args))
        return UsageError(parser.errorText());
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return UsageError(QStringLiteral("no input files"));

    QString folder;
    if (parser.isSet(outputDir) && !MakeOutputFolder(parser.value(outputDir), folder))
        return ExitFailed;
    DecodeBatch batch(files, folder, parser.isSet(overwrite));
    return batch.Run() == 0 ? ExitOk : ExitFailed;
}

} // namespace cli
