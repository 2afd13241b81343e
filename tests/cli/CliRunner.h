#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Runs the built brindle-cli in a scratch folder with a settings store of its own, so that
// the user's settings neither leak into a test nor get changed by one.
class CliTest : public ::testing::Test {
public:
    struct Result {
        int exitCode = -1;
        QString out;
        QString err;
    };

protected:
    Result Run(const QStringList &args) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configHome());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(BRINDLE_CLI_PATH), args);
        EXPECT_TRUE(process.waitForFinished(120000)) << "brindle-cli did not finish";
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString configHome() const { return dir.filePath("config"); }
    QString settingsFile() const { return dir.filePath("config/Brindle Team/Brindle.conf"); }

    void WriteSettings(const QByteArray &body) {
        QDir().mkpath(QFileInfo(settingsFile()).path());
        QFile file(settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[1.27]\n" + body);
    }

    QTemporaryDir dir;
};
