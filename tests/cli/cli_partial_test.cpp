#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace testmedia;

namespace {

// brindle-cli runs interrupted part-way: what they leave, and what the next run cleans up.
class CliPartialTest : public CliTest {
protected:
    void SetUp() override {
        // Minutes of audio, so that the encoder is still busy when the signal comes.
        WriteSineWav(path("long.wav"), 2, 44100, 180, 440);
        WriteFile(path("long.MP3"), "the user's earlier output");
    }

    // Starts brindle-cli with Args in the scratch folder, its output thrown away.
    pid_t Start(const QStringList &Args) {
        std::vector<std::string> argv{"brindle-cli"};
        for (const QString &arg : Args)
            argv.push_back(arg.toStdString());
        std::vector<std::string> envp{"XDG_CONFIG_HOME=" + configHome().toStdString()};
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0)
                envp.emplace_back(*e);
        std::vector<char *> av, ev;
        for (std::string &a : argv)
            av.push_back(a.data());
        av.push_back(nullptr);
        for (std::string &e : envp)
            ev.push_back(e.data());
        ev.push_back(nullptr);
        const std::string folder = dir.path().toStdString();
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            if (::chdir(folder.c_str()) == 0)
                ::execve(BRINDLE_CLI_PATH, av.data(), ev.data());
            ::_exit(127);
        }
        return child;
    }

    QStringList HiddenNames() const {
        return QDir(dir.path()).entryList({".brindle-*"}, QDir::Files | QDir::Hidden);
    }
    std::string Hidden() const { return HiddenNames().join(' ').toStdString(); }

    // Waits until the run is writing its hidden output; false if it never does.
    bool WaitForPartialOutput(pid_t Child) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 60000) {
            for (const QString &name : HiddenNames())
                if (name.endsWith(".part") && QFileInfo(path(name)).size() > 0)
                    return true;
            if (::waitpid(Child, nullptr, WNOHANG) == Child)
                return false;
            QThread::msleep(5);
        }
        return false;
    }

    // Sends Signal and returns the wait status.
    int Interrupt(pid_t Child, int Signal) {
        ::kill(Child, Signal);
        int status = 0;
        ::waitpid(Child, &status, 0);
        return status;
    }
};

} // namespace

TEST_F(CliPartialTest, InterruptedEncodeLeavesNoHiddenFileAndTheEarlierOutput) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const pid_t child = Start({"encode", "-y", path("long.wav")});
        ASSERT_GT(child, 0);
        ASSERT_TRUE(WaitForPartialOutput(child)) << "the encode never got under way";
        const int status = Interrupt(child, signal);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal) << "ended as the signal would";
        EXPECT_EQ(Hidden(), "") << "signal " << signal;
        EXPECT_EQ(ReadFile(path("long.MP3")), "the user's earlier output");
    }
}

TEST_F(CliPartialTest, TheNextRunIntoTheFolderRemovesWhatAKilledRunLeft) {
    const pid_t child = Start({"encode", "-y", path("long.wav")});
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitForPartialOutput(child));
    // Nothing can clean up after SIGKILL.
    const int status = Interrupt(child, SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(HiddenNames().size(), 1) << Hidden();
    // Named almost like ours, a file of the user's stays.
    WriteFile(path(".brindle-0123456789abcdef.part.keep"), "the user's");

    WriteSineWav(path("short.wav"), 2, 44100, 0.5, 440);
    const Result r = Run({"encode", path("short.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(path("short.MP3")).size() > 0);
    EXPECT_EQ(Hidden(), ".brindle-0123456789abcdef.part.keep");
    EXPECT_EQ(ReadFile(path("long.MP3")), "the user's earlier output");
}
