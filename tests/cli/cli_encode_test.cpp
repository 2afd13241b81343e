#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testmedia;

TEST_F(CliTest, EncodesBesideTheSourceWithTheStoredDefaults) {
    WriteSineWav(path("song.wav"), 2, 44100, 3.0, 440, 880);
    const Result r = Run({"encode", path("song.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const DecodedAudio out = DecodeMpeg(path("song.MP3"));
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    EXPECT_EQ(out.channels, 2);
    EXPECT_NEAR(out.seconds(), 3.0, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(out, 1), 880, 8.8);
    // 128 kbit/s is the stored default.
    EXPECT_NEAR(QFileInfo(path("song.MP3")).size(), 3.0 * 128000 / 8, 3000);
    EXPECT_FALSE(QFile::exists(settingsFile())) << "a run must not save settings";
}

TEST_F(CliTest, StoredSettingsApplyAndOptionsOverrideThemForOneRun) {
    WriteSettings("BitRate=0\nMode=3\n");
    WriteSineWav(path("a.wav"), 2, 44100, 4.0, 440);
    Result r = Run({"encode", "-o", path("out"), path("a.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    DecodedAudio out = DecodeMpeg(path("out/a.MP3"));
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.channels, 1);
    EXPECT_NEAR(QFileInfo(path("out/a.MP3")).size(), 4.0 * 32000 / 8, 2000);

    r = Run({"encode", "-y", "-o", path("out"), "-b", "320", "-m", "joint", "-q", "high",
             path("a.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    out = DecodeMpeg(path("out/a.MP3"));
    EXPECT_EQ(out.channels, 2);
    EXPECT_NEAR(QFileInfo(path("out/a.MP3")).size(), 4.0 * 320000 / 8, 6000);

    QFile settings(settingsFile());
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    EXPECT_EQ(settings.readAll(), "[1.27]\nBitRate=0\nMode=3\n");
}

TEST_F(CliTest, VbrOptionWritesAVbrFileWithItsHeader) {
    WriteSineWav(path("a.wav"), 1, 44100, 3.0, 600);
    const Result r = Run({"encode", "--vbr", "2", path("a.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(ReadFile(path("a.MP3")).left(64).contains("Xing"));
    const DecodedAudio out = DecodeMpeg(path("a.MP3"));
    EXPECT_NEAR(out.seconds(), 3.0, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 0), 600, 6);
}

TEST_F(CliTest, ExistingOutputIsSkippedUnlessOverwriteIsGiven) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    WriteFile(path("a.MP3"), "keep me");
    Result r = Run({"encode", path("a.wav")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("a.wav")) << r.err.toStdString();
    EXPECT_EQ(ReadFile(path("a.MP3")), "keep me");

    r = Run({"encode", "--overwrite", path("a.wav")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(DecodeMpeg(path("a.MP3")).ok);
}

TEST_F(CliTest, FailedFilesAreNamedAndTheBatchGoesOn) {
    WriteSineWav(path("good.wav"), 2, 44100, 1.0, 440);
    WriteFile(path("notes.txt"), "not audio at all");
    WriteFile(path("six.wav"), WavHeader(6, 44100, 16, 8004) + QByteArray(8004, '\x7f'));
    WriteFile(path("six.MP3"), "older output");
    const Result r = Run({"encode", "-y", path("missing.wav"), path("notes.txt"), path("six.wav"),
                          path("good.wav")});
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3) << r.err.toStdString();
    EXPECT_TRUE(lines[0].contains("missing.wav"));
    EXPECT_TRUE(lines[1].contains("notes.txt"));
    EXPECT_TRUE(lines[2].contains("six.wav") && lines[2].contains("more than two channels"));
    EXPECT_FALSE(QFile::exists(path("notes.MP3")));
    EXPECT_EQ(ReadFile(path("six.MP3")), "older output")
        << "input it cannot encode touches nothing";
    EXPECT_TRUE(DecodeMpeg(path("good.MP3")).ok);
}

TEST_F(CliTest, WavWithoutSamplesIsRefusedAndTheBatchGoesOn) {
    // A data chunk of 0 bytes, and one of 3 bytes where a frame takes 4: no audio in either.
    WriteFile(path("empty.wav"), WavHeader(2, 44100, 16, 0));
    WriteFile(path("part.wav"), WavHeader(2, 44100, 16, 3) + QByteArray(3, '\x11'));
    WriteSineWav(path("good.wav"), 1, 22050, 0.5, 440);
    const Result r = Run({"encode", path("empty.wav"), path("part.wav"), path("good.wav")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("brindle-cli: %1: The file holds no audio\n"
                                    "brindle-cli: %2: The file holds no audio\n")
                         .arg(path("empty.wav"), path("part.wav")));
    EXPECT_FALSE(QFile::exists(path("empty.MP3")));
    EXPECT_FALSE(QFile::exists(path("part.MP3")));
    EXPECT_TRUE(DecodeMpeg(path("good.MP3")).ok);
    // Still a valid header to look at.
    EXPECT_EQ(Run({"info", path("empty.wav")}).exitCode, 0);
}

TEST_F(CliTest, ImpossibleHeadersAreRefusedWithTheFieldWhateverTheName) {
    QByteArray flipped = WavHeader(2, 44100, 16, 8000) + QByteArray(8000, '\0');
    flipped[26] = '\x01'; // 44100 Hz becomes 109636 Hz: the byte rate no longer agrees
    WriteFile(path("flip.wav"), flipped);
    WriteFile(path("flip.pcm"), flipped);
    const Result r = Run({"encode", path("flip.wav"), path("flip.pcm")});
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << r.err.toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(line.contains("BytesPerSecond")) << line.toStdString();
    EXPECT_FALSE(QFile::exists(path("flip.MP3")));
}

TEST_F(CliTest, RawPcmIsTakenFromPcmFiles) {
    WriteSinePcm(path("take.pcm"), 2, 44100, 2.0, 500);
    const Result r = Run({"encode", path("take.pcm")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const DecodedAudio out = DecodeMpeg(path("take.MP3"));
    EXPECT_NEAR(out.seconds(), 2.0, 0.1);
    EXPECT_NEAR(DominantFrequency(out, 0), 500, 5);
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndWriteNothing) {
    WriteSineWav(path("a.wav"), 2, 44100, 0.5, 440);
    for (const QStringList &args :
         {QStringList{"encode", "-b", "100", path("a.wav")},
          QStringList{"encode", "-m", "quad", path("a.wav")},
          QStringList{"encode", "--vbr", "10", path("a.wav")}, QStringList{"encode"},
          QStringList{"encode", "--frobnicate", path("a.wav")}, QStringList{"transmogrify"},
          QStringList{}}) {
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
}

TEST_F(CliTest, SeveralFilesAtOnceGiveTheOutputsAndMessagesOfOneAfterTheOther) {
    QStringList sources;
    for (int i = 0; i < 5; ++i) {
        const QString name = path(QStringLiteral("%1.wav").arg(i));
        if (i == 2)
            WriteFile(name, QByteArray("RIFF....WAVEjunk"));
        else
            WriteSineWav(name, 2, 44100, 4.0 - i * 0.7, 300 + 100 * i);
        sources << name;
    }
    for (const char *folder : {"one", "many"}) {
        QDir().mkpath(path(folder));
        WriteFile(path(QStringLiteral("%1/3.MP3").arg(folder)), "older");
    }
    const Result one = Run(QStringList{"encode", "-j", "1", "-o", path("one")} + sources);
    const Result many = Run(QStringList{"encode", "-j", "3", "-o", path("many")} + sources);
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(many.exitCode, one.exitCode);
    QString expected = one.err;
    expected.replace(path("one"), path("many"));
    EXPECT_EQ(many.err, expected) << "one line per file, in list order";
    EXPECT_EQ(one.err.count('\n'), 2) << one.err.toStdString();
    for (int i : {0, 1, 4}) {
        const QString name = QStringLiteral("/%1.MP3").arg(i);
        EXPECT_TRUE(ReadFile(path("one") + name) == ReadFile(path("many") + name))
            << name.toStdString();
    }
    EXPECT_EQ(ReadFile(path("many/3.MP3")), "older");

    const Result decoded =
        Run(QStringList{"decode", "-j", "4", "-o", path("wav"), path("one/0.MP3"),
                        path("one/1.MP3"), path("one/4.MP3")});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err.toStdString();
    EXPECT_EQ(Run({"encode", "-j", "0", sources[0]}).exitCode, 2);
    EXPECT_EQ(Run({"decode", "--jobs", "many", sources[0]}).exitCode, 2);
}

TEST_F(CliTest, SameNamedSourcesOfTwoFoldersGetOutputsOfTheirOwn) {
    QDir(dir.path()).mkpath("dA");
    QDir(dir.path()).mkpath("dB");
    WriteSineWav(path("dA/x.wav"), 1, 44100, 0.5, 440);
    WriteSineWav(path("dB/x.wav"), 1, 44100, 0.5, 880);
    const Result r =
        Run({"encode", "-j", "2", "-o", path("out"), path("dA/x.wav"), path("dB/x.wav")});
    EXPECT_EQ(r.exitCode, 0) << "a renamed output is no failure";
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/x.MP3")), 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(DecodeMpeg(path("out/x (2).MP3")), 0), 880, 8.8);
    EXPECT_TRUE(r.err.contains("Warning: " + path("dB/x.wav"))) << r.err.toStdString();
}

namespace {

bool HasCrc(const CliTest::Result &Info) {
    const QJsonArray records = QJsonDocument::fromJson(Info.out.toUtf8()).array();
    return !records.isEmpty() && records[0].toObject()["ErrorProt"].toBool();
}

} // namespace

// The stored bitrate is the window's constant one; --vbr alone must not take it as its
// minimum, nor the stored CRC, which an encoder's own VBR would not add.
TEST_F(CliTest, VbrAloneUsesTheWholeBitrateRangeAndNoCrc) {
    WriteSettings("BitRate=10\nCRC=true\n");
    WriteSineWav(path("a.wav"), 2, 44100, 3.0, 440, 0, 0.3);
    ASSERT_EQ(Run({"encode", "--vbr", "2", "-o", path("alone"), path("a.wav")}).exitCode, 0);
    ASSERT_EQ(
        Run({"encode", "--vbr", "2", "-b", "32", "-B", "320", "-o", path("range"), path("a.wav")})
            .exitCode,
        0);
    const QByteArray alone = ReadFile(path("alone/a.MP3"));
    ASSERT_FALSE(alone.isEmpty());
    EXPECT_EQ(alone, ReadFile(path("range/a.MP3")));
    EXPECT_FALSE(HasCrc(Run({"info", "--json", path("alone/a.MP3")})));

    // -b narrows the range from below: a pure tone then takes more room.
    ASSERT_EQ(Run({"encode", "--vbr", "2", "-b", "192", "-o", path("min"), path("a.wav")}).exitCode,
              0);
    EXPECT_GT(QFileInfo(path("min/a.MP3")).size(), alone.size() * 5 / 4);

    // A CRC when asked for; and without VBR the stored settings apply as in the program.
    ASSERT_EQ(Run({"encode", "--vbr", "2", "--crc", "-o", path("crc"), path("a.wav")}).exitCode, 0);
    EXPECT_TRUE(HasCrc(Run({"info", "--json", path("crc/a.MP3")})));
    ASSERT_EQ(Run({"encode", "-o", path("cbr"), path("a.wav")}).exitCode, 0);
    EXPECT_TRUE(HasCrc(Run({"info", "--json", path("cbr/a.MP3")})));
    EXPECT_NEAR(QFileInfo(path("cbr/a.MP3")).size(), 3.0 * 192000 / 8, 3000);
}
