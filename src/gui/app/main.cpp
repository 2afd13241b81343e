#include "app/Icons.h"
#include "app/MainForm.h"
#include "app/ProgramWindows.h"
#include "platform/Exception.h"
#include "platform/PartialFiles.h"
#include "platform/UserDialogs.h"

#include <QApplication>
#include <csignal>

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

    TMainForm MainForm;
    CreateProgramWindows(MainForm);
    MainForm.show();
    return App.exec();
}
