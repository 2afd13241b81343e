#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

using namespace testmedia;

namespace {

double Dbfs(double Db) {
    return std::pow(10.0, Db / 20);
}

} // namespace

TEST_F(CliTest, InfoLoudnessMeasuresEachPcmRecordInTextAndJson) {
    // A stereo 1 kHz sine at -23 dBFS per channel is -23 LUFS with a -23 dBTP true peak.
    WriteSineWav(path("ref.wav"), 2, 48000, 5, 1000, 0, Dbfs(-23));
    WriteFile(path("silent.wav"), WavHeader(2, 48000, 16, 48000 * 4) + QByteArray(48000 * 4, 0));
    Result r = Run({"info", "--loudness", path("ref.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Loudness:    -23.0 LUFS integrated, 0.0 LU range, -23.0 dBTP"))
        << r.out.toStdString();
    EXPECT_FALSE(Run({"info", path("ref.wav")}).out.contains("LUFS")) << "only when asked";

    r = Run({"info", "--json", "--loudness", path("ref.wav"), path("silent.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 2) << r.out.toStdString();
    const QJsonObject ref = records[0].toObject()["Loudness"].toObject();
    EXPECT_NEAR(ref["IntegratedLUFS"].toDouble(), -23.0, 0.1);
    EXPECT_NEAR(ref["RangeLU"].toDouble(), 0.0, 0.1);
    EXPECT_NEAR(ref["TruePeakDBTP"].toDouble(), -23.0, 0.1);
    const QJsonObject silent = records[1].toObject()["Loudness"].toObject();
    EXPECT_TRUE(silent["IntegratedLUFS"].isNull()) << "silence has no loudness";
    EXPECT_TRUE(silent["TruePeakDBTP"].isNull());
}

TEST_F(CliTest, LoudnessOptionNormalisesBothDirectionsToTheTarget) {
    WriteSineWav(path("quiet.wav"), 2, 44100, 4, 1000, 0, Dbfs(-35));
    Result r = Run({"encode", "--loudness", "-16", path("quiet.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const DecodedAudio mp3 = DecodeMpeg(path("quiet.MP3"));
    ASSERT_TRUE(mp3.ok);
    EXPECT_NEAR(Rms(mp3, 0), Dbfs(-16) / std::sqrt(2.0), 0.01)
        << "a stereo 1 kHz sine at -16 LUFS peaks at -16 dBFS in each channel";

    r = Run({"decode", "--loudness", "-23", "--true-peak", "-1.5", "-o", path("out"),
             path("quiet.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = Run({"info", "--json", "--loudness", path("out/quiet.WAV")});
    const QJsonObject decoded =
        QJsonDocument::fromJson(r.out.toUtf8()).array()[0].toObject()["Loudness"].toObject();
    EXPECT_NEAR(decoded["IntegratedLUFS"].toDouble(), -23.0, 0.5) << r.out.toStdString();
}

TEST_F(CliTest, LoudnessOptionsAreCheckedAndExcludeThePeakMode) {
    WriteSineWav(path("a.wav"), 2, 44100, 1, 1000);
    for (const QStringList &args :
         {QStringList{"--loudness", "-16", "--normalize", "90"}, QStringList{"--loudness", "-4"},
          QStringList{"--loudness", "-32"}, QStringList{"--loudness", "loud"},
          QStringList{"--true-peak", "-1"}, QStringList{"--loudness", "-16", "--true-peak", "0.5"},
          QStringList{"--loudness", "-16", "--true-peak", "-9.5"}}) {
        const Result r = Run(QStringList{"encode"} + args + QStringList{path("a.wav")});
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(path("a.MP3"))) << "a usage error converts nothing";
    // A silent file is converted as it is, with a warning that says why.
    WriteFile(path("s.wav"), WavHeader(2, 44100, 16, 44100 * 4) + QByteArray(44100 * 4, 0));
    const Result r = Run({"encode", "--loudness", "-16", path("s.wav")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("Not normalised: it is silent")) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("s.MP3")));
}
