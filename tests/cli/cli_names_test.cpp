#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

using namespace testmedia;

namespace {

// Names given as bytes, beside the names of the files a lossy conversion would take for them.
class CliNamesTest : public CliTest {
protected:
    // "bad", the byte 0xFF and "name" + Ext: not UTF-8.
    QByteArray BadName(const char *Ext) const {
        return QFile::encodeName(dir.path()) + "/bad\xffname" + Ext;
    }
    // The same with U+FFFD in place of the byte: what decoding the usual way makes of it.
    QString Lookalike(const char *Ext) const {
        return path(QStringLiteral("bad\uFFFDname") + QLatin1String(Ext));
    }
    static void WriteBytes(const QByteArray &Name, const QByteArray &Bytes) {
        const int Fd = ::open(Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(Fd, 0);
        ASSERT_EQ(::write(Fd, Bytes.constData(), size_t(Bytes.size())), Bytes.size());
        ::close(Fd);
    }
    static bool ExistsBytes(const QByteArray &Name) {
        struct stat Status {};
        return ::stat(Name.constData(), &Status) == 0;
    }
    // The line brindle-cli gives for a refused name, with the byte shown as \xff.
    QString RefusedLine(const char *Ext) const {
        return QStringLiteral("brindle-cli: %1/bad\\xffname%2: the name is not valid UTF-8; "
                              "rename it to use it\n")
            .arg(dir.path(), QLatin1String(Ext));
    }
    QByteArray Mp3() {
        WriteSineWav(path("tone.wav"), 1, 22050, 1.0, 440);
        EXPECT_EQ(Run({"encode", path("tone.wav")}).exitCode, 0);
        return ReadFile(path("tone.MP3"));
    }
};

} // namespace

TEST_F(CliNamesTest, EncodeRefusesANameThatIsNotUtf8AndConvertsTheOthers) {
    WriteSineWav(path("good.wav"), 1, 22050, 0.5, 440);
    const QByteArray Wav = ReadFile(path("good.wav"));
    WriteBytes(BadName(".wav"), Wav);
    WriteFile(Lookalike(".wav"), Wav);

    const Result R = RunBytes({"encode", BadName(".wav"), QFile::encodeName(path("good.wav"))});
    EXPECT_EQ(R.exitCode, 1);
    EXPECT_EQ(R.err, RefusedLine(".wav"));
    EXPECT_TRUE(QFile::exists(path("good.MP3")));
    EXPECT_FALSE(ExistsBytes(BadName(".MP3")));
    EXPECT_FALSE(QFile::exists(Lookalike(".MP3"))) << "the other file was encoded";
}

TEST_F(CliNamesTest, DecodeRefusesItAndTouchesNoOtherFile) {
    const QByteArray Mpeg = Mp3();
    WriteBytes(BadName(".mp3"), Mpeg);
    WriteFile(Lookalike(".mp3"), Mpeg);
    const Result R = RunBytes({"decode", BadName(".mp3"), QFile::encodeName(path("tone.MP3"))});
    EXPECT_EQ(R.exitCode, 1);
    EXPECT_EQ(R.err, RefusedLine(".mp3"));
    EXPECT_TRUE(QFile::exists(path("tone.WAV")));
    EXPECT_FALSE(ExistsBytes(BadName(".WAV")));
    EXPECT_FALSE(QFile::exists(Lookalike(".WAV")));
}

TEST_F(CliNamesTest, TagRefusesItAndLeavesTheLookalikeAsItWas) {
    const QByteArray Mpeg = Mp3();
    WriteBytes(BadName(".mp3"), Mpeg);
    WriteFile(Lookalike(".mp3"), Mpeg);
    for (const QList<QByteArray> &Args :
         {QList<QByteArray>{"tag", BadName(".mp3"), "--title", "Changed"},
          QList<QByteArray>{"tag", BadName(".mp3"), "--remove"}}) {
        const Result R = RunBytes(Args);
        EXPECT_EQ(R.exitCode, 1);
        EXPECT_EQ(R.err, RefusedLine(".mp3"));
    }
    EXPECT_EQ(ReadFile(Lookalike(".mp3")), Mpeg);
}

TEST_F(CliNamesTest, InfoNamesItUnreadableAndListsTheOthers) {
    WriteSineWav(path("good.wav"), 1, 22050, 0.5, 440);
    WriteFile(Lookalike(".wav"), ReadFile(path("good.wav")));
    const Result R =
        RunBytes({"info", "--json", BadName(".wav"), QFile::encodeName(path("good.wav"))});
    EXPECT_EQ(R.exitCode, 1);
    EXPECT_EQ(R.err, RefusedLine(".wav"));
    const QJsonArray Records = QJsonDocument::fromJson(R.out.toUtf8()).array();
    ASSERT_EQ(Records.size(), 2);
    const QJsonObject Refused = Records[0].toObject();
    EXPECT_EQ(Refused["FileName"].toString(), dir.path() + "/bad\\xffname.wav");
    EXPECT_EQ(Refused["Kind"].toString(), "unreadable");
    EXPECT_FALSE(Refused["Valid"].toBool(true));
    EXPECT_EQ(Records[1].toObject()["Kind"].toString(), "wave");
}

TEST_F(CliNamesTest, OutputFolderThatIsNotUtf8IsRefusedBeforeAnythingIsMade) {
    WriteSineWav(path("good.wav"), 1, 22050, 0.5, 440);
    const QByteArray Folder = QFile::encodeName(dir.path()) + "/out\xfe";
    for (const char *Command : {"encode", "decode"}) {
        const Result R = RunBytes({Command, "-o", Folder, QFile::encodeName(path("good.wav"))});
        EXPECT_EQ(R.exitCode, 1) << Command;
        EXPECT_EQ(R.err, QStringLiteral("brindle-cli: %1/out\\xfe: the name is not valid UTF-8; "
                                        "rename it to use it\n")
                             .arg(dir.path()))
            << Command;
    }
    EXPECT_FALSE(ExistsBytes(Folder));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("out\uFFFD"))));
    EXPECT_FALSE(QFile::exists(path("good.MP3")));
}

TEST_F(CliNamesTest, UnicodeNamesStillWork) {
    // Well-formed UTF-8, U+FFFD itself included, is taken as it is.
    WriteSineWav(Lookalike(".wav"), 1, 22050, 0.5, 440);
    WriteSineWav(path(QStringLiteral("Müsik ♪.wav")), 1, 22050, 0.5, 440);
    const Result R = RunBytes({"encode", QFile::encodeName(Lookalike(".wav")),
                               QFile::encodeName(path(QStringLiteral("Müsik ♪.wav")))});
    EXPECT_EQ(R.exitCode, 0) << R.err.toStdString();
    EXPECT_TRUE(QFile::exists(Lookalike(".MP3")));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("Müsik ♪.MP3"))));
}

// --- the settings file --------------------------------------------------------------------

TEST_F(CliNamesTest, UnreadableSettingsAreReportedAndTheDefaultsUsed) {
    WriteSettings("BitRate=10\nMode=3\n");
    ASSERT_TRUE(QFile::setPermissions(settingsFile(), QFileDevice::Permissions()));
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    const QByteArray Before = [&] {
        QFile::setPermissions(settingsFile(), QFileDevice::ReadOwner);
        const QByteArray Bytes = ReadFile(settingsFile());
        QFile::setPermissions(settingsFile(), QFileDevice::Permissions());
        return Bytes;
    }();

    const Result R = RunBytes({"encode", "a.wav"}, true);
    ASSERT_NE(R.exitCode, 126) << "could not run as another user";
    EXPECT_EQ(R.exitCode, 0) << R.err.toStdString();
    EXPECT_EQ(R.err, QStringLiteral("brindle-cli: The settings file '%1' cannot be read: "
                                    "Permission denied. The default settings are used, and the "
                                    "file is not replaced.\n")
                         .arg(settingsFile()));
    // The defaults: 128 kbit/s stereo, not the stored 192 kbit/s mono.
    const QJsonObject Info =
        QJsonDocument::fromJson(Run({"info", "--json", path("a.MP3")}).out.toUtf8())
            .array()
            .at(0)
            .toObject();
    EXPECT_EQ(Info["BitRate"].toInt(), 128);
    EXPECT_EQ(Info["Mode"].toInt(), 0);
    QFile::setPermissions(settingsFile(), QFileDevice::ReadOwner);
    EXPECT_EQ(ReadFile(settingsFile()), Before);
}
