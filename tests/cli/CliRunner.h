#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

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
    // Input, when given, is written to its standard input, which is then closed.
    Result Run(const QStringList &args, const QByteArray *Input = nullptr) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configHome());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(BRINDLE_CLI_PATH), args);
        if (Input) {
            process.write(*Input);
            process.closeWriteChannel();
        }
        EXPECT_TRUE(process.waitForFinished(120000)) << "brindle-cli did not finish";
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    // As Run, with the arguments as bytes: a name that is not UTF-8 has no QString. With
    // Unprivileged, a test run by root runs brindle-cli as the user "nobody" (65534), so that
    // file permissions hold for it; the scratch folder is opened to everyone for that.
    Result RunBytes(const QList<QByteArray> &args, bool Unprivileged = false) {
        QTemporaryDir capture;
        const QByteArray outFile = QFile::encodeName(capture.filePath("out"));
        const QByteArray errFile = QFile::encodeName(capture.filePath("err"));
        const QByteArray program = BRINDLE_CLI_PATH;
        const QByteArray workDir = QFile::encodeName(dir.path());
        const bool dropRoot = Unprivileged && ::geteuid() == 0;
        if (dropRoot)
            QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
        // Everything the child needs is made before the fork: after it, only calls that
        // allocate nothing.
        std::vector<char *> argv{const_cast<char *>(program.constData())};
        for (const QByteArray &arg : args)
            argv.push_back(const_cast<char *>(arg.constData()));
        argv.push_back(nullptr);
        const QByteArray configEnv = "XDG_CONFIG_HOME=" + QFile::encodeName(configHome());
        std::vector<char *> envp;
        for (char **e = environ; *e != nullptr; ++e)
            if (qstrncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
                envp.push_back(*e);
        envp.push_back(const_cast<char *>(configEnv.constData()));
        envp.push_back(nullptr);

        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
                ::chdir(workDir.constData()) != 0)
                ::_exit(125);
            if (dropRoot &&
                (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
            ::execve(program.constData(), argv.data(), envp.data());
            ::_exit(127);
        }
        Result result;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.exitCode = WEXITSTATUS(status);
        QFile out(capture.filePath("out")), err(capture.filePath("err"));
        if (out.open(QIODevice::ReadOnly))
            result.out = QString::fromUtf8(out.readAll());
        if (err.open(QIODevice::ReadOnly))
            result.err = QString::fromUtf8(err.readAll());
        return result;
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
