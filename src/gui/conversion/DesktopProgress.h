#pragma once

#include <QDBusConnection>
#include <QString>

// What the desktop shows of a batch outside its window: the progress on the program's
// taskbar or launcher entry, where the desktop listens for it, and a notification at the
// end. Both go over the session bus; without a bus, or without a desktop service that
// listens, nothing happens and nothing is reported.
class TDesktopProgress {
public:
    // The session bus named in the environment, if any. No bus is started for it.
    TDesktopProgress();
    // Another bus (a private one in tests); DesktopFile is the entry's name without
    // ".desktop".
    TDesktopProgress(const QDBusConnection &Bus, const QString &DesktopFile);

    bool Connected() const { return FBus.isConnected(); }

    // The entry shows Fraction (0..1) of a bar. Steps under a hundredth are not sent.
    void SetProgress(double Fraction);
    // The entry's bar goes away.
    void HideProgress();
    // A notification with the program's name and icon.
    void Notify(const QString &Summary, const QString &Body);

private:
    void SendProgress(double Fraction, bool Visible);

    QDBusConnection FBus;
    QString FDesktopFile;
    int FShownHundredths = -1; // -1: no bar shown
};

// The notification's text for a batch that converted Converted files and failed Failed.
QString BatchEndText(int Converted, int Failed);
