#include "app/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QUrl>
#include <unistd.h>

namespace {

// Leads every message, so that a stray client of the same name is not taken for a start.
constexpr quint32 HandOverMagic = 0x42524e31; // "BRN1"
constexpr char Acknowledge = '\x06';
constexpr qint64 MessageLimit = 16 * 1024 * 1024; // more than any command line holds

} // namespace

TSingleInstance::TSingleInstance(QString Name, QObject *Parent)
    : QObject(Parent), FName(std::move(Name)) {}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::DefaultName() {
    const QString Base = QStringLiteral("brindle-%1").arg(::getuid());
    const QString Runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return Runtime.isEmpty() ? Base : QDir(Runtime).filePath(Base);
}

QStringList TSingleInstance::AbsoluteArguments(const QStringList &Arguments,
                                               const QString &WorkingFolder) {
    QStringList Result;
    const QDir Working(WorkingFolder);
    for (const QString &Argument : Arguments) {
        QString Path = Argument;
        if (Argument.startsWith(QStringLiteral("file:"))) {
            const QUrl Url(Argument);
            if (Url.isLocalFile())
                Path = Url.toLocalFile();
        }
        Result << (Path.isEmpty() ? Path : QDir::cleanPath(Working.absoluteFilePath(Path)));
    }
    return Result;
}

TSingleInstance::THandOver TSingleInstance::HandOver(const QStringList &Arguments,
                                                     int TimeoutMs) const {
    QLocalSocket Socket;
    Socket.connectToServer(FName);
    if (!Socket.waitForConnected(TimeoutMs))
        return hoNoServer;
    QByteArray Message;
    {
        QDataStream Out(&Message, QIODevice::WriteOnly);
        Out << HandOverMagic << Arguments;
    }
    Socket.write(Message);
    if (!Socket.waitForBytesWritten(TimeoutMs))
        return hoNoAnswer;
    // The reply says the paths arrived; without it this start could end before they did.
    if (!Socket.waitForReadyRead(TimeoutMs))
        return hoNoAnswer;
    char Reply = 0;
    return Socket.getChar(&Reply) && Reply == Acknowledge ? hoHanded : hoNoAnswer;
}

bool TSingleInstance::Listen() {
    if (FServer == nullptr) {
        FServer = new QLocalServer(this);
        FServer->setSocketOptions(QLocalServer::UserAccessOption);
        connect(FServer, &QLocalServer::newConnection, this, &TSingleInstance::TakeConnection);
    }
    if (FServer->isListening())
        return true;
    if (!FServer->listen(FName)) {
        // A socket left behind by a program that ended without cleaning up: nobody answered
        // on it just before, so it can go.
        if (FServer->serverError() != QAbstractSocket::AddressInUseError ||
            !QLocalServer::removeServer(FName) || !FServer->listen(FName)) {
            FError = FServer->errorString();
            return false;
        }
    }
    return true;
}

void TSingleInstance::TakeConnection() {
    while (QLocalSocket *Socket = FServer->nextPendingConnection()) {
        connect(Socket, &QLocalSocket::disconnected, Socket, &QObject::deleteLater);
        auto Read = [this, Socket] {
            if (Socket->bytesAvailable() > MessageLimit) {
                Socket->abort();
                return;
            }
            QDataStream In(Socket);
            In.startTransaction();
            quint32 Magic = 0;
            QStringList Arguments;
            In >> Magic >> Arguments;
            if (!In.commitTransaction())
                return; // the rest is still on its way
            if (Magic != HandOverMagic) {
                Socket->abort();
                return;
            }
            Socket->putChar(Acknowledge);
            Socket->flush();
            Socket->disconnectFromServer();
            emit ArgumentsReceived(Arguments);
        };
        connect(Socket, &QLocalSocket::readyRead, this, Read);
        if (Socket->bytesAvailable() > 0)
            Read();
    }
}
