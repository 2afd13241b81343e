#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace testmedia;

TEST_F(CliTest, InfoJsonDescribesEveryFileForScripts) {
    WriteSineWav(path("tone.wav"), 1, 22050, 2.0, 440);
    WriteFile(path("text.wav"), "RIFF....TEXT and more");
    const Result r = Run({"info", "--json", path("tone.wav"), path("text.wav")});
    EXPECT_EQ(r.exitCode, 1) << "an invalid file fails the run";
    QJsonParseError error;
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    ASSERT_EQ(records.size(), 2);

    const QJsonObject tone = records[0].toObject();
    EXPECT_EQ(tone["FileName"].toString(), path("tone.wav"));
    EXPECT_TRUE(tone["Valid"].toBool());
    EXPECT_EQ(tone["FileSize"].toInteger(), 44 + 2 * 22050 * 2);
    EXPECT_EQ(tone["Duration"].toInt(), 2);
    EXPECT_EQ(tone["FormatTag"].toInt(), 1);
    EXPECT_EQ(tone["Channels"].toInt(), 1);
    EXPECT_EQ(tone["SampleRate"].toInt(), 22050);
    EXPECT_EQ(tone["BytesPerSecond"].toInt(), 44100);
    EXPECT_EQ(tone["BlockAlign"].toInt(), 2);
    EXPECT_EQ(tone["BitsPerSample"].toInt(), 16);
    EXPECT_FALSE(records[1].toObject()["Valid"].toBool());
}

TEST_F(CliTest, InfoTextShowsFormatAndLength) {
    WriteSineWav(path("tone.wav"), 2, 44100, 3.5, 440);
    const Result r = Run({"info", path("tone.wav")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("44100 Hz"));
    EXPECT_TRUE(r.out.contains("00:00:03"));

    const Result missing = Run({"info", path("missing.wav")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("missing.wav"));
}

TEST_F(CliTest, InfoNamesImpossibleFieldsAndSaysWhenTheDataIsCut) {
    QByteArray rate = WavHeader(1, 8000, 16, 100) + QByteArray(100, '\0');
    rate[27] = '\x14'; // a flipped bit in the top byte: 335,552,320 Hz
    WriteFile(path("rate.wav"), rate);
    QByteArray cut = RiffWave(WavFmtChunk(18, 1, 2, 8000, 16) + WavChunk("data", {}));
    cut.chop(4);
    cut += QByteArray("\x00\x7d\x00\x00", 4) + QByteArray(1001, '\0'); // claims 32000 bytes
    WriteFile(path("cut.wav"), cut);

    Result r = Run({"info", "--json", path("rate.wav"), path("cut.wav")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("rate.wav") && r.err.contains("SampleRate")) << r.err.toStdString();
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 2) << r.out.toStdString();
    EXPECT_FALSE(records[0].toObject()["Valid"].toBool());
    EXPECT_TRUE(records[0].toObject()["Problem"].toString().contains("SampleRate"));
    const QJsonObject c = records[1].toObject();
    EXPECT_TRUE(c["Valid"].toBool());
    EXPECT_TRUE(c["Truncated"].toBool());
    EXPECT_EQ(c["DataOffset"].toInteger(), 46);
    EXPECT_EQ(c["DataLength"].toInteger(), 1000);

    r = Run({"info", path("cut.wav")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("Cut short")) << r.out.toStdString();
}
