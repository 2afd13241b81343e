#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <vector>

using namespace testmedia;

namespace {

// One second of 440 Hz left and 660 Hz right at half scale, through libsndfile's writer.
void WriteStereoTone(const QString &Path, int Format, int Rate, int Channels = 2) {
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = Channels;
    info.format = Format;
    SNDFILE *file = sf_open(QFile::encodeName(Path).constData(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<double> samples(size_t(Rate * Channels));
    for (int i = 0; i < Rate; ++i)
        for (int c = 0; c < Channels; ++c)
            samples[size_t(i * Channels + c)] =
                0.5 * std::sin(2 * std::numbers::pi * (c % 2 ? 660 : 440) * i / Rate);
    EXPECT_EQ(sf_writef_double(file, samples.data(), Rate), Rate);
    sf_close(file);
}

} // namespace

TEST_F(CliTest, EncodesEverySourceLibsndfileReadsAtItsExactLength) {
    WriteStereoTone(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100);
    WriteStereoTone(path("b.opus"), SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000);
    WriteStereoTone(path("c.AIFF"), SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 22050);
    WriteStereoTone(path("six.caf"), SF_FORMAT_CAF | SF_FORMAT_PCM_16, 44100, 6);
    const Result r = Run({"encode", "--normalize", "90", path("a.flac"), path("b.opus"),
                          path("c.AIFF"), path("six.caf")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, QStringLiteral("brindle-cli: %1: CAF files with more than two channels cannot "
                                    "be encoded (this one has 6); mix it down to stereo or mono "
                                    "first\n")
                         .arg(path("six.caf")));
    for (const auto &[name, rate] :
         {std::pair{"a.MP3", 44100}, {"b.MP3", 48000}, {"c.MP3", 22050}}) {
        const DecodedAudio out = DecodeMpeg(path(name));
        ASSERT_TRUE(out.ok) << name;
        EXPECT_EQ(out.sampleRate, rate);
        EXPECT_EQ(qint64(out.frames()), rate) << name;
        EXPECT_NEAR(DominantFrequency(out, 0), 440, 4.4) << name;
        EXPECT_NEAR(DominantFrequency(out, 1), 660, 6.6) << name;
        // Opus's decoder overshoots where the tone starts, and the peak is that of the
        // decoded wave: louder than the source, but not by the full factor.
        if (rate == 48000)
            EXPECT_TRUE(Rms(out, 0) > 0.4 && Rms(out, 0) < 0.9 * 0.707) << Rms(out, 0);
        else
            EXPECT_NEAR(Rms(out, 0), 0.9 * 0.707, 0.05) << name << ": normalised to 90%";
    }
    EXPECT_FALSE(QFile::exists(path("six.MP3")));
    // Nothing hidden is left behind by the normalised copies.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 7);
}

TEST_F(CliTest, InfoDescribesLibsndfileSourcesAsAudio) {
    WriteStereoTone(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100);
    WriteStereoTone(path("b.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 32000);
    WriteSineWav(path("tone.wav"), 1, 22050, 1.0, 440);
    const Result r = Run({"info", "--json", path("a.flac"), path("b.ogg"), path("tone.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 3) << r.out.toStdString();
    const QJsonObject flac = records[0].toObject();
    EXPECT_EQ(flac["Kind"].toString(), "audio");
    EXPECT_TRUE(flac["Valid"].toBool());
    EXPECT_EQ(flac["Format"].toString(), "FLAC");
    EXPECT_EQ(flac["SubFormat"].toString(), "24-bit");
    EXPECT_EQ(flac["FormatText"].toString(), "FLAC 24-bit");
    EXPECT_EQ(flac["SampleRate"].toInt(), 44100);
    EXPECT_EQ(flac["Channels"].toInt(), 2);
    EXPECT_EQ(flac["Frames"].toInteger(), 44100);
    EXPECT_DOUBLE_EQ(flac["Duration"].toDouble(), 1.0);
    EXPECT_EQ(flac["Bits"].toInt(), 24);
    EXPECT_FALSE(flac["IsFloat"].toBool());
    EXPECT_EQ(flac["FileSize"].toInteger(), QFile(path("a.flac")).size());
    const QJsonObject vorbis = records[1].toObject();
    EXPECT_EQ(vorbis["FormatText"].toString(), "Ogg Vorbis");
    EXPECT_TRUE(vorbis["IsFloat"].toBool());
    EXPECT_EQ(vorbis["Frames"].toInteger(), 32000);
    EXPECT_EQ(records[2].toObject()["Kind"].toString(), "wave") << "WAV stays with our reader";

    const Result text = Run({"info", path("a.flac")});
    EXPECT_EQ(text.out, QStringLiteral("%1\n"
                                       "  Format:      FLAC 24-bit\n"
                                       "  Channels:    2\n"
                                       "  Sample rate: 44100 Hz\n"
                                       "  Bits:        24\n"
                                       "  Frames:      44100\n"
                                       "  Size:        %2 bytes\n"
                                       "  Length:      00:00:01 (1.000 s)\n")
                            .arg(path("a.flac"))
                            .arg(QFile(path("a.flac")).size()));
}
