#pragma once

// A session bus of the test's own, with a stand-in notification service and a listener for
// launcher-entry signals, so that what the program tells the desktop can be checked without
// touching the user's desktop.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <functional>

// Processes events until Done is true or Ms have passed; returns Done().
inline bool WaitUntil(const std::function<bool()> &Done, int Ms = 5000) {
    QDeadlineTimer deadline(Ms);
    while (!Done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !FDir.isValid())
            return;
        // A bus that starts no services of its own: only what the test puts on it answers.
        QFile config(FDir.filePath(QStringLiteral("bus.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("<busconfig><type>session</type>"
                                    "<listen>unix:dir=%1</listen>"
                                    "<policy context=\"default\"><allow send_destination=\"*\"/>"
                                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                                    "</busconfig>")
                         .arg(FDir.path())
                         .toUtf8());
        config.close();
        FDaemon.start(daemon, {QStringLiteral("--config-file=") + config.fileName(),
                               QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!FDaemon.waitForStarted(5000) || !FDaemon.waitForReadyRead(5000))
            return;
        Address = QString::fromUtf8(FDaemon.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString &name : FNames)
            QDBusConnection::disconnectFromBus(name);
        if (FDaemon.state() != QProcess::NotRunning) {
            FDaemon.kill();
            FDaemon.waitForFinished(5000);
        }
    }

    bool Running() const { return !Address.isEmpty(); }
    // A new connection to the bus under Name.
    QDBusConnection Connect(const QString &Name) {
        FNames << Name;
        return QDBusConnection::connectToBus(Address, Name);
    }

    QString Address;

private:
    QTemporaryDir FDir;
    QProcess FDaemon;
    QStringList FNames;
};

// Stands in for the desktop's notification service and records every notification.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TNote {
        QString App, Icon, Summary, Body;
        QVariantMap Hints;
    };
    QList<TNote> Notes;

    bool Serve(QDBusConnection &Bus) {
        return Bus.registerService(QStringLiteral("org.freedesktop.Notifications")) &&
               Bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                  QDBusConnection::ExportAllSlots);
    }

public slots:
    uint Notify(const QString &App, uint ReplacesId, const QString &Icon, const QString &Summary,
                const QString &Body, const QStringList &Actions, const QVariantMap &Hints,
                int Timeout) {
        (void)ReplacesId;
        (void)Actions;
        (void)Timeout;
        Notes.append({App, Icon, Summary, Body, Hints});
        return uint(Notes.size());
    }
};

// Records the launcher-entry updates sent on a bus, as a dock or taskbar would hear them.
class LauncherListener : public QObject {
    Q_OBJECT
public:
    struct TUpdate {
        QString Uri;
        double Progress = -1;
        bool Visible = false;
    };
    QList<TUpdate> Updates;

    bool Listen(QDBusConnection &Bus) {
        if (!Bus.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                         QStringLiteral("Update"), this, SLOT(Heard(QString, QVariantMap))))
            return false;
        // The match rule goes to the bus without waiting; a call answered after it means the
        // bus has it before any test sends a signal.
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        return Bus.call(ping).type() == QDBusMessage::ReplyMessage;
    }

public slots:
    void Heard(const QString &Uri, const QVariantMap &Properties) {
        Updates.append({Uri, Properties.value(QStringLiteral("progress"), -1).toDouble(),
                        Properties.value(QStringLiteral("progress-visible")).toBool()});
    }
};
