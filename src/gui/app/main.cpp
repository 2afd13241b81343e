#include "BrindleVersion.h"
#include "app/Icons.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "app/SingleInstance.h"
#include "platform/Exception.h"
#include "platform/PartialFiles.h"
#include "platform/UserDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

// An error that ends a user's command is shown to the user, and the program goes on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject *Receiver, QEvent *Event) override {
        try {
            return QApplication::notify(Receiver, Event);
        } catch (const Exception &Error) {
            ShowError(Error.message());
        } catch (const std::exception &Error) {
            ShowError(QString::fromLocal8Bit(Error.what()));
        }
        return false;
    }

private:
    static void ShowError(const QString &Message) {
        UserDialogs().MessageBox(activeWindow(), Message, QStringLiteral("Error"), TMsgIcon::Error,
                                 mbOK);
    }
};

} // namespace

int main(int argc, char **argv) {
    // Past a file-size limit a write then fails with EFBIG, which is reported and leaves no
    // partial output, instead of the signal ending the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    // Ctrl-C, kill and a closed terminal leave no hidden partial output behind.
    InstallPartialFileCleanup();
    TApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brindle"));
    QApplication::setApplicationVersion(QStringLiteral(BRINDLE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("brindle"));
    QApplication::setWindowIcon(AppIcon());

    QCommandLineParser Parser;
    Parser.setApplicationDescription(
        QStringLiteral("Converts WAV and other PCM files to MP3 and MPEG audio to WAV."));
    Parser.addHelpOption();
    Parser.addVersionOption();
    Parser.addPositionalArgument(
        QStringLiteral("paths"),
        QStringLiteral("Audio files, playlists and folders to list; with Brindle already "
                       "running they go to its window."),
        QStringLiteral("[FILE|FOLDER|PLAYLIST...]"));
    Parser.process(App);
    const QStringList Paths =
        TSingleInstance::AbsoluteArguments(Parser.positionalArguments(), QDir::currentPath());

    TSingleInstance Instance(TSingleInstance::DefaultName());
    switch (Instance.HandOver(Paths)) {
    case TSingleInstance::hoHanded:
        return 0;
    case TSingleInstance::hoNoAnswer:
        std::fprintf(stderr, "brindle: the running Brindle does not answer; try again.\n");
        return 1;
    case TSingleInstance::hoNoServer:
        break;
    }
    if (!Instance.Listen())
        std::fprintf(stderr, "brindle: later starts will open windows of their own: %s\n",
                     qPrintable(Instance.ErrorText()));

    TMainForm MainForm;
    CreateProgramWindows(MainForm);
    QObject::connect(&Instance, &TSingleInstance::ArgumentsReceived, &MainForm,
                     [&MainForm](const QStringList &Handed) {
                         MainForm.OpenPaths(Handed);
                         if (MainForm.isMinimized())
                             MainForm.showNormal();
                         MainForm.raise();
                         MainForm.activateWindow();
                     });
    MainForm.show();
    // After the first show, which empties the lists.
    if (!Paths.isEmpty())
        QTimer::singleShot(0, &MainForm, [&MainForm, Paths] { MainForm.OpenPaths(Paths); });
    return App.exec();
}
