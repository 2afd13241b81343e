#include "conversion/SafeOutput.h"
#include "platform/PartialFiles.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// These tests fork; they have an executable of their own so that no other thread runs then.

using testmedia::ReadFile;
using testmedia::WriteFile;

namespace {

QStringList HiddenFiles(const QString &Folder) {
    return QDir(Folder).entryList({".brindle-*"}, QDir::Files | QDir::Hidden | QDir::System);
}

// True when a lock on Path is held by someone else (another open of the file).
bool LockedElsewhere(const QString &Path) {
    const int fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

void WriteAll(int Fd, const char *Text) {
    ASSERT_EQ(::write(Fd, Text, std::strlen(Text)), ssize_t(std::strlen(Text)));
}

// A child process that holds an exclusive lock on Path until Release().
class LockHolder {
public:
    explicit LockHolder(const QString &Path) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(FRelease) != 0)
            return;
        const QByteArray native = QFile::encodeName(Path);
        FChild = ::fork();
        if (FChild == 0) {
            const int fd = ::open(native.constData(), O_RDONLY);
            const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            char ignored;
            ::close(FRelease[1]);
            (void)!::read(FRelease[0], &ignored, 1); // until the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(FRelease[0]);
        char ok = '0';
        FLocked = ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
    }
    ~LockHolder() { Release(); }
    bool Locked() const { return FLocked; }
    void Release() {
        if (FChild <= 0)
            return;
        ::close(FRelease[1]);
        ::waitpid(FChild, nullptr, 0);
        FChild = -1;
    }

private:
    pid_t FChild = -1;
    int FRelease[2] = {-1, -1};
    bool FLocked = false;
};

} // namespace

TEST(PartialFileName, OnlyOurExactPatternMatches) {
    EXPECT_TRUE(IsPartialFileName(".brindle-0123456789abcdef.part"));
    EXPECT_TRUE(IsPartialFileName(".brindle-fedcba9876543210.tmp"));
    for (const char *other : {".brindle-0123456789abcde.part", ".brindle-0123456789abcdef0.part",
                              ".brindle-0123456789ABCDEF.part", ".brindle-0123456789abcdeg.part",
                              "brindle-0123456789abcdef.part", ".brindle-0123456789abcdef.part.bak",
                              ".brindle-0123456789abcdef.partial", ".brindle-0123456789abcdef",
                              ".brindle-.part", ".Brindle-0123456789abcdef.tmp", "song.tmp"})
        EXPECT_FALSE(IsPartialFileName(other)) << other;
}

TEST(PartialFile, IsCreatedLockedAndRegisteredAndRemovedWhenItGoes) {
    QTemporaryDir dir;
    const int registered = RegisteredPartialFileCount();
    QString why;
    QString path;
    {
        TPartialFile file = CreatePartialOutput(dir.filePath("song.MP3"), why);
        ASSERT_TRUE(file) << why.toStdString();
        path = file.Path();
        EXPECT_EQ(QFileInfo(path).absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        EXPECT_TRUE(IsPartialFileName(QFile::encodeName(QFileInfo(path).fileName())));
        EXPECT_TRUE(path.endsWith(".part"));
        EXPECT_TRUE(LockedElsewhere(path));
        EXPECT_EQ(RegisteredPartialFileCount(), registered + 1);
        // Moved, it is still one file, registered once.
        TPartialFile moved = std::move(file);
        EXPECT_FALSE(file);
        EXPECT_EQ(moved.Path(), path);
        EXPECT_EQ(RegisteredPartialFileCount(), registered + 1);
    }
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(RegisteredPartialFileCount(), registered);
}

TEST(PartialFile, ReplacingKeepsTheFileAtItsNewNameAndReleasesIt) {
    QTemporaryDir dir;
    const int registered = RegisteredPartialFileCount();
    const QString dest = dir.filePath("song.MP3");
    WriteFile(dest, "earlier");
    QString why;
    TPartialFile file = CreatePartialOutput(dest, why);
    ASSERT_TRUE(file);
    const QString hidden = file.Path();
    WriteAll(file.Handle(), "new");
    ASSERT_TRUE(ReplaceFile(file, dest, why)) << why.toStdString();
    EXPECT_FALSE(file);
    EXPECT_EQ(ReadFile(dest), "new");
    EXPECT_FALSE(QFileInfo::exists(hidden));
    EXPECT_FALSE(LockedElsewhere(dest)) << "the lock goes with the hidden name";
    EXPECT_EQ(RegisteredPartialFileCount(), registered);

    // A failed rename keeps the partial file for the caller to remove.
    TPartialFile second = CreatePartialOutput(dest, why);
    ASSERT_TRUE(second);
    EXPECT_FALSE(ReplaceFile(second, dir.filePath("no/such/folder/x"), why));
    EXPECT_TRUE(why.contains("no/such/folder/x")) << why.toStdString();
    EXPECT_TRUE(second);
    EXPECT_TRUE(QFileInfo::exists(second.Path()));
    second.Remove();
    EXPECT_EQ(HiddenFiles(dir.path()), QStringList());
    EXPECT_EQ(ReadFile(dest), "new");
}

TEST(PartialFile, IsReadBackThroughItsDescriptorWhateverBecameOfItsName) {
    QTemporaryDir dir;
    QString why;
    TPartialFile file = CreatePartialOutput(dir.filePath("song.MP3"), why);
    ASSERT_TRUE(file);
    WriteAll(file.Handle(), "ours");
    // Someone with write access to the folder puts another file under the hidden name.
    WriteFile(dir.filePath("planted"), "planted");
    ASSERT_EQ(::rename(QFile::encodeName(dir.filePath("planted")).constData(),
                       QFile::encodeName(file.Path()).constData()),
              0);
    EXPECT_NE(file.ReadPath(), file.Path());
    EXPECT_EQ(ReadFile(file.ReadPath()), "ours");
}

TEST(PartialFile, ANormalisedCopyTakesThePlaceOfThePartialOutput) {
    QTemporaryDir dir;
    const int registered = RegisteredPartialFileCount();
    QString why;
    TPartialFile output = CreatePartialOutput(dir.filePath("a.WAV"), why);
    TPartialFile copy = CreateUniqueFile(dir.path(), ".tmp", why);
    ASSERT_TRUE(output && copy);
    WriteAll(output.Handle(), "decoded");
    WriteAll(copy.Handle(), "scaled");
    const QString outputPath = output.Path();
    ASSERT_TRUE(ReplaceFile(copy, output, why)) << why.toStdString();
    EXPECT_FALSE(copy);
    EXPECT_EQ(output.Path(), outputPath);
    EXPECT_EQ(ReadFile(outputPath), "scaled");
    EXPECT_TRUE(LockedElsewhere(outputPath)) << "still ours, still locked";
    EXPECT_EQ(RegisteredPartialFileCount(), registered + 1);
    // Its descriptor is the file now at that name.
    ASSERT_EQ(::pwrite(output.Handle(), "S", 1, 0), 1);
    EXPECT_EQ(ReadFile(outputPath), "Scaled");
    EXPECT_EQ(HiddenFiles(dir.path()), QStringList{QFileInfo(outputPath).fileName()});
}

TEST(PartialFileSweep, RemovesOnlyUnlockedRegularFilesOfOurExactName) {
    QTemporaryDir dir;
    const QString stalePart = dir.filePath(".brindle-00000000deadbeef.part");
    const QString staleTmp = dir.filePath(".brindle-00000000deadbeef.tmp");
    const QString held = dir.filePath(".brindle-0000000000c0ffee.part");
    WriteFile(stalePart, "left by a killed run");
    WriteFile(staleTmp, "left by a killed run");
    WriteFile(held, "being written by another run");
    // Names like ours but not ours, and things that are not regular files.
    const QStringList keep = {".brindle-00000000deadbeef.part.bak", ".brindle-deadbeef.part",
                              ".brindle-00000000DEADBEEF.part", "song.tmp"};
    for (const QString &name : keep)
        WriteFile(dir.filePath(name), "the user's");
    WriteFile(dir.filePath("target.wav"), "the user's");
    const QString link = dir.filePath(".brindle-000000000000beef.part");
    ASSERT_EQ(::symlink("target.wav", QFile::encodeName(link).constData()), 0);
    const QString folder = dir.filePath(".brindle-00000000000f01de.tmp");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString fifo = dir.filePath(".brindle-0000000000f1f0f0.part");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    LockHolder holder(held);
    ASSERT_TRUE(holder.Locked());
    EXPECT_EQ(SweepStalePartialFiles(dir.path()), 2);
    EXPECT_FALSE(QFileInfo::exists(stalePart));
    EXPECT_FALSE(QFileInfo::exists(staleTmp));
    EXPECT_EQ(ReadFile(held), "being written by another run");
    for (const QString &name : keep)
        EXPECT_EQ(ReadFile(dir.filePath(name)), "the user's") << name.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadFile(dir.filePath("target.wav")), "the user's");
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(QFileInfo::exists(fifo));

    // Once its owner has gone, the file is stale too.
    holder.Release();
    EXPECT_EQ(SweepStalePartialFiles(dir.path()), 1);
    EXPECT_FALSE(QFileInfo::exists(held));
}

TEST(PartialFileSweep, RunsWhenAFolderGetsItsFirstPartialFileAndSparesOurOwn) {
    QTemporaryDir dir;
    const QString stale = dir.filePath(".brindle-0123456789abcdef.part");
    WriteFile(stale, "left by a killed run");
    QString why;
    TPartialFile first = CreatePartialOutput(dir.filePath("a.MP3"), why);
    ASSERT_TRUE(first);
    EXPECT_FALSE(QFileInfo::exists(stale));
    // A sweep of the same process leaves the files it is writing alone.
    TPartialFile second = CreateUniqueFile(dir.path(), ".tmp", why);
    ASSERT_TRUE(second);
    EXPECT_EQ(SweepStalePartialFiles(dir.path()), 0);
    EXPECT_TRUE(QFileInfo::exists(first.Path()));
    EXPECT_TRUE(QFileInfo::exists(second.Path()));
}

TEST(PartialFileRegistry, RefusesWhatDoesNotFitAndIgnoresUnknownSlots) {
    const int registered = RegisteredPartialFileCount();
    const std::string tooLong(PATH_MAX, 'a');
    EXPECT_EQ(RegisterPartialFile(tooLong.c_str()), -1);
    const int slot = RegisterPartialFile("/nonexistent/.brindle-0123456789abcdef.part");
    ASSERT_GE(slot, 0);
    EXPECT_EQ(RegisteredPartialFileCount(), registered + 1);
    UnregisterPartialFile(-1);
    UnregisterPartialFile(1 << 20);
    UnregisterPartialFile(slot);
    UnregisterPartialFile(slot); // a second time changes nothing
    EXPECT_EQ(RegisteredPartialFileCount(), registered);
    // A full table turns further files away instead of losing track of one.
    std::vector<int> taken;
    for (int next = 0; next >= 0;) {
        next = RegisterPartialFile("/nonexistent/x");
        if (next >= 0)
            taken.push_back(next);
        ASSERT_LT(taken.size(), 100000u);
    }
    EXPECT_GE(taken.size(), 64u);
    for (int each : taken)
        UnregisterPartialFile(each);
    EXPECT_EQ(RegisteredPartialFileCount(), registered);
}

class SignalCleanupTest : public ::testing::TestWithParam<int> {};

// The child writes a partial output and a normalised copy, finishes one output, then gets
// the signal: only the hidden files go, and it ends by that signal.
TEST_P(SignalCleanupTest, RemovesOurPartialFilesAndEndsByTheSignal) {
    const int signal = GetParam();
    QTemporaryDir dir;
    WriteFile(dir.filePath("song.MP3"), "the user's earlier output");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstallPartialFileCleanup();
        QString why;
        TPartialFile done = CreatePartialOutput(dir.filePath("done.MP3"), why);
        (void)!::write(done.Handle(), "complete", 8);
        if (!ReplaceFile(done, dir.filePath("done.MP3"), why))
            ::_exit(3);
        TPartialFile output = CreatePartialOutput(dir.filePath("song.MP3"), why);
        TPartialFile copy = CreateUniqueFile(dir.path(), ".tmp", why);
        if (!output || !copy || HiddenFiles(dir.path()).size() != 2)
            ::_exit(4);
        (void)!::write(output.Handle(), "half", 4);
        ::raise(signal);
        ::_exit(5); // the signal never returns here
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(HiddenFiles(dir.path()), QStringList());
    EXPECT_EQ(ReadFile(dir.filePath("song.MP3")), "the user's earlier output");
    EXPECT_EQ(ReadFile(dir.filePath("done.MP3")), "complete");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalCleanupTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int> &info) {
                             return std::string(info.param == SIGTERM  ? "SIGTERM"
                                                : info.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

TEST(SignalCleanup, ASignalIgnoredAtStartStaysIgnored) {
    QTemporaryDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As under nohup.
        std::signal(SIGHUP, SIG_IGN);
        InstallPartialFileCleanup();
        QString why;
        TPartialFile output = CreatePartialOutput(dir.filePath("song.MP3"), why);
        ::raise(SIGHUP);
        ::_exit(output && QFileInfo::exists(output.Path()) ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the file was still there after SIGHUP";
}
