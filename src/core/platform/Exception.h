#pragma once

#include <QString>
#include <stdexcept>

// Base of the program's exceptions: each carries only a message, which the caller shows.
class Exception : public std::runtime_error {
public:
    explicit Exception(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A file that could not be opened for reading.
class EFOpenError : public Exception {
public:
    EFOpenError(const QString &path, const QString &reason)
        : Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason)) {}
};

// A file that could not be created or replaced.
class EFCreateError : public Exception {
public:
    EFCreateError(const QString &path, const QString &reason)
        : Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason)) {}
};

// A value that cannot be converted, such as a time of 24 hours or more.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
