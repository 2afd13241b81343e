#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace testmedia;

namespace {

class CliFaultTest : public CliTest {
protected:
    void MakeFifo(const QString &name) {
        ASSERT_EQ(::mkfifo(QFile::encodeName(path(name)).constData(), 0600), 0);
    }

    // Runs and expects a failure line naming the file and what it is; nothing is written.
    void ExpectRefused(const QStringList &args, const QString &name, const QString &kind) {
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(name)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("It is %1, not a regular file").arg(kind)))
            << args.join(' ').toStdString() << ": " << r.err.toStdString();
    }

    // As Run, with files of the program limited to Bytes and SIGXFSZ at its default action,
    // as after `ulimit -f` in a shell.
    Result RunLimited(const QStringList &args, rlim_t bytes) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configHome());
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setChildProcessModifier([bytes] {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        process.start(QStringLiteral(BRINDLE_CLI_PATH), args);
        EXPECT_TRUE(process.waitForFinished(120000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QStringList Leftovers() const {
        return QDir(dir.path()).entryList({".brindle-*"}, QDir::Files | QDir::Hidden);
    }

    const QString fifo = QStringLiteral("a named pipe (FIFO)");
    const QString device = QStringLiteral("a character device");
};

} // namespace

TEST_F(CliFaultTest, PipesAndDevicesAreRefusedByEveryCommandWithoutBlocking) {
    for (const char *name : {"p.mp3", "p.wav", "p.raw"})
        MakeFifo(name);
    for (const char *name : {"zero.mp3", "zero.wav", "zero.raw"})
        ASSERT_TRUE(QFile::link("/dev/zero", path(name)));

    for (const QString &stem : {QStringLiteral("p"), QStringLiteral("zero")}) {
        const QString kind = stem == u"p" ? fifo : device;
        ExpectRefused({"info", path(stem + ".mp3")}, stem + ".mp3", kind);
        ExpectRefused({"info", "--json", path(stem + ".wav")}, stem + ".wav", kind);
        ExpectRefused({"encode", path(stem + ".wav")}, stem + ".wav", kind);
        ExpectRefused({"encode", path(stem + ".raw")}, stem + ".raw", kind);
        ExpectRefused({"decode", path(stem + ".mp3")}, stem + ".mp3", kind);
        ExpectRefused({"tag", path(stem + ".mp3"), "--title", "x"}, stem + ".mp3", kind);
    }
    for (const char *out : {"p.MP3", "zero.MP3", "p.WAV", "zero.WAV"})
        EXPECT_FALSE(QFileInfo(path(out)).isFile()) << out;
}

TEST_F(CliFaultTest, SettingsFileThatIsAPipeIsReportedAndTheDefaultsApply) {
    QDir().mkpath(QFileInfo(settingsFile()).path());
    ASSERT_EQ(::mkfifo(QFile::encodeName(settingsFile()).constData(), 0600), 0);
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    const Result r = Run({"encode", path("a.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("is a named pipe (FIFO), not a regular file"))
        << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(path("a.MP3")).isFile());
}

TEST_F(CliFaultTest, OneBadSettingTakesItsDefaultAndTheOthersApply) {
    WriteSettings("NormalizeFactor=9O\nBitRate=0\nMode=3\n");
    WriteSineWav(path("a.wav"), 2, 44100, 2.0, 440);
    const Result r = Run({"encode", path("a.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Invalid data type for 'NormalizeFactor'")) << r.err.toStdString();
    // Bitrate index 0 and mono, both stored after the bad value.
    const DecodedAudio out = DecodeMpeg(path("a.MP3"));
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.channels, 1);
    EXPECT_NEAR(QFileInfo(path("a.MP3")).size(), 2.0 * 32000 / 8, 1500);
}

TEST_F(CliFaultTest, FileSizeLimitFailsTheFileNamingItAndKeepsTheEarlierOutput) {
    WriteSineWav(path("a.wav"), 2, 44100, 20.0, 440);
    // A first, complete output of each direction, then the same runs past the limit.
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    ASSERT_EQ(Run({"decode", path("a.MP3")}).exitCode, 0);
    QFile mp3(path("a.MP3")), wav(path("a.WAV"));
    ASSERT_TRUE(mp3.open(QIODevice::ReadOnly) && wav.open(QIODevice::ReadOnly));
    const QByteArray mp3Before = mp3.readAll(), wavBefore = wav.readAll();
    mp3.close();
    wav.close();

    Result r = RunLimited({"encode", "-y", path("a.wav")}, 64 * 1024);
    EXPECT_EQ(r.exitCode, 1) << "killed by SIGXFSZ?";
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("Write error: cannot write \"%1\". File too large").arg(path("a.MP3"))))
        << r.err.toStdString();
    r = RunLimited({"decode", "-y", path("a.MP3")}, 64 * 1024);
    EXPECT_EQ(r.exitCode, 1) << "killed by SIGXFSZ?";
    EXPECT_TRUE(r.err.contains(path("a.WAV")) && r.err.contains("File too large"))
        << r.err.toStdString();

    EXPECT_TRUE(Leftovers().isEmpty()) << Leftovers().join(' ').toStdString();
    ASSERT_TRUE(mp3.open(QIODevice::ReadOnly) && wav.open(QIODevice::ReadOnly));
    EXPECT_EQ(mp3.readAll(), mp3Before);
    EXPECT_EQ(wav.readAll(), wavBefore);
}

TEST_F(CliFaultTest, UpsideDownVbrRangeIsAUsageErrorNamingBothBitrates) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    const Result r = Run({"encode", "-b", "320", "-B", "32", "--vbr", "4", path("a.wav")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("the VBR minimum bitrate (-b 320) is above the maximum (-B 32)"))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
    // The same bitrates without VBR: the maximum plays no part.
    EXPECT_EQ(Run({"encode", "-b", "320", "-B", "32", path("a.wav")}).exitCode, 0);
}

TEST_F(CliFaultTest, InfoTakesFileNamesThatBeginWithADashAfterTheDoubleDash) {
    WriteSineWav(path("-x.wav"), 1, 8000, 1.0, 440);
    Result r = Run({"info", "-x.wav"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("put -- before")) << r.err.toStdString();
    r = Run({"info", "--json", "--", "-x.wav", "--json"});
    EXPECT_EQ(r.exitCode, 1) << "the second --json is a file that does not exist";
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 2) << r.out.toStdString();
    EXPECT_EQ(records[0].toObject()["Kind"].toString(), "wave");
    EXPECT_EQ(records[0].toObject()["FileName"].toString(), "-x.wav");
    EXPECT_EQ(records[1].toObject()["Kind"].toString(), "unreadable");
}

TEST_F(CliFaultTest, UnreadableRecordHoldsNothingReadFromTheBytes) {
    // A RIFF/WAVE header of 2 channels at 0 Hz, and bytes that are neither WAV nor MPEG.
    QByteArray bad = WavHeader(2, 8000, 16, 100) + QByteArray(100, '\0');
    bad[24] = bad[25] = bad[26] = bad[27] = '\0';
    WriteFile(path("bad.wav"), bad);
    WriteFile(path("noise.bin"), QByteArray(4000, '\x5a'));
    const Result r = Run({"info", "--json", path("bad.wav"), path("noise.bin"), path("gone")});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 3) << r.out.toStdString();
    for (const QJsonValue &value : records) {
        const QJsonObject record = value.toObject();
        EXPECT_EQ(record.keys(), (QStringList{"FileName", "Kind", "Problem", "Valid"}))
            << r.out.toStdString();
        EXPECT_EQ(record["Kind"].toString(), "unreadable");
        EXPECT_FALSE(record["Problem"].toString().isEmpty());
    }
    EXPECT_TRUE(records[0].toObject()["Problem"].toString().contains("SampleRate"));
    EXPECT_TRUE(records[2].toObject()["Problem"].toString().contains("No such file"));
}

TEST_F(CliFaultTest, ANormalisationThatFailsFailsTheFile) {
    WriteSineWav(path("a.wav"), 2, 44100, 10, 440, 0, 0.25);
    // Room for the MP3 but not for a scaled copy of the source.
    const Result r =
        RunLimited({"encode", "--normalize", "90", "-o", path("out"), path("a.wav")}, 512 * 1024);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(QFile::exists(path("out/a.MP3")));
    EXPECT_TRUE(r.err.contains("Normalize wave file fail.")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("File too large")) << r.err.toStdString();
    EXPECT_TRUE(Leftovers().isEmpty());

    // Two files at once say it in the same words, one line each.
    WriteSineWav(path("b.wav"), 2, 44100, 10, 440, 0, 0.25);
    const Result two = RunLimited(
        {"encode", "-j", "2", "--normalize", "90", "-o", path("out"), path("a.wav"), path("b.wav")},
        512 * 1024);
    EXPECT_EQ(two.exitCode, 1);
    const QStringList lines = two.err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << two.err.toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(lines[i].startsWith("brindle-cli: " + path(i == 0 ? "a.wav" : "b.wav") +
                                        ": Normalize wave file fail. "))
            << lines[i].toStdString();
}
