#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One window per user: a second start hands its arguments to the running program through a
// local socket and ends, and the running one adds them. Tests make several in one process,
// each under a name of its own.
class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum THandOver {
        hoHanded,   // the running program took the arguments
        hoNoServer, // nobody listens: this is the first instance
        hoNoAnswer  // a program listens but did not confirm in time
    };

    explicit TSingleInstance(QString Name, QObject *Parent = nullptr);
    ~TSingleInstance() override;

    // The name for the user running this program: a socket in the user's runtime folder,
    // which only the user can reach, when there is one.
    static QString DefaultName();
    // Arguments as paths the running program can open from its own working folder: relative
    // ones made absolute against WorkingFolder, file URLs turned into paths.
    static QStringList AbsoluteArguments(const QStringList &Arguments,
                                         const QString &WorkingFolder);

    // Blocks for at most TimeoutMs, without an event loop, so the first instance may run on
    // this thread only when it is not waiting here.
    THandOver HandOver(const QStringList &Arguments, int TimeoutMs = 5000) const;
    // Starts listening for later starts; false (with the reason in ErrorText) when it
    // cannot, and the program then runs on alone.
    bool Listen();
    QString ErrorText() const { return FError; }
    const QString &Name() const { return FName; }

signals:
    // Another start handed these over; also sent for an empty list (a bare second start),
    // so that the window comes to the front.
    void ArgumentsReceived(const QStringList &Arguments);

private:
    void TakeConnection();

    QString FName;
    QString FError;
    QLocalServer *FServer = nullptr;
};
