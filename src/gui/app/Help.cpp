#include "app/Help.h"

#include "platform/UserDialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>

namespace {

QString &HelpFileOverride() {
    static QString Path;
    return Path;
}

} // namespace

QString HelpFile() {
    if (!HelpFileOverride().isEmpty())
        return QFileInfo(HelpFileOverride()).isFile() ? HelpFileOverride() : QString();
    const QString AppDir = QCoreApplication::applicationDirPath();
    const QStringList Candidates{
        AppDir + QStringLiteral("/help/index.html"),
        AppDir + QStringLiteral("/../share/brindle/help/index.html"),
#ifdef BRINDLE_SOURCE_HELP_DIR
        QStringLiteral(BRINDLE_SOURCE_HELP_DIR "/index.html"),
#endif
    };
    for (const QString &Candidate : Candidates) {
        if (QFileInfo(Candidate).isFile())
            return QFileInfo(Candidate).canonicalFilePath();
    }
    return {};
}

void SetHelpFile(const QString &Path) {
    HelpFileOverride() = Path;
}

QUrl HelpUrl(int Context) {
    const QString File = HelpFile();
    if (File.isEmpty())
        return {};
    QUrl Url = QUrl::fromLocalFile(QFileInfo(File).absoluteFilePath());
    if (Context != 0)
        Url.setFragment(QStringLiteral("context-%1").arg(Context));
    return Url;
}

bool OpenHelp(QWidget *Parent, int Context) {
    const QUrl Url = HelpUrl(Context);
    if (Url.isEmpty()) {
        UserDialogs().MessageBox(Parent, QStringLiteral("The help file was not found."),
                                 QStringLiteral("Error"), TMsgIcon::Error, mbOK);
        return false;
    }
    if (!QDesktopServices::openUrl(Url)) {
        UserDialogs().MessageBox(
            Parent,
            QStringLiteral("The help file '%1' could not be opened.").arg(Url.toLocalFile()),
            QStringLiteral("Error"), TMsgIcon::Error, mbOK);
        return false;
    }
    return true;
}
