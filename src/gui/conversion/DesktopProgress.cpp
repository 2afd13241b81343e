#include "conversion/DesktopProgress.h"

#include <QDBusMessage>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace {

// A connection that is never connected: the calls then do nothing.
QDBusConnection EnvironmentBus() {
    // Asking for the session bus without an address lets the bus library start one of its
    // own, which would outlive the program.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return QDBusConnection(QStringLiteral("brindle-no-bus"));
    return QDBusConnection::sessionBus();
}

QString DesktopFileName() {
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("brindle") : name;
}

} // namespace

TDesktopProgress::TDesktopProgress() : TDesktopProgress(EnvironmentBus(), DesktopFileName()) {}

TDesktopProgress::TDesktopProgress(const QDBusConnection &Bus, const QString &DesktopFile)
    : FBus(Bus), FDesktopFile(DesktopFile) {}

void TDesktopProgress::SetProgress(double Fraction) {
    const int hundredths = int(std::lround(std::clamp(Fraction, 0.0, 1.0) * 100));
    if (hundredths == FShownHundredths)
        return;
    FShownHundredths = hundredths;
    SendProgress(hundredths / 100.0, true);
}

void TDesktopProgress::HideProgress() {
    if (FShownHundredths < 0)
        return;
    FShownHundredths = -1;
    SendProgress(0, false);
}

void TDesktopProgress::SendProgress(double Fraction, bool Visible) {
    if (!FBus.isConnected())
        return;
    // The launcher entry listens for this signal from any object of any program and finds
    // the entry by the desktop file's name.
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/brindle/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), Fraction);
    properties.insert(QStringLiteral("progress-visible"), Visible);
    signal << QStringLiteral("application://%1.desktop").arg(FDesktopFile) << properties;
    FBus.send(signal);
}

void TDesktopProgress::Notify(const QString &Summary, const QString &Body) {
    if (!FBus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), FDesktopFile);
    call << QStringLiteral("Brindle") << uint(0) << QStringLiteral("brindle") << Summary << Body
         << QStringList() << hints << int(-1);
    // Not waited for: without a notification service the error reply is dropped.
    FBus.send(call);
}

QString BatchEndText(int Converted, int Failed) {
    const QString converted = Converted == 1 ? QStringLiteral("1 file converted")
                                             : QStringLiteral("%1 files converted").arg(Converted);
    return QStringLiteral("%1, %2 failed.").arg(converted).arg(Failed);
}
