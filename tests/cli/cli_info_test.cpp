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
