#include "cli/CliRunner.h"
#include "inspect/MP3WavComm.h"
#include "support/TestMedia.h"

#include <QElapsedTimer>

#include <cstring>

using namespace testmedia;

namespace {

// The samples of a canonical 16-bit WAV file, for the same measurements as decoded MP3.
DecodedAudio ReadWav(const QString &path) {
    DecodedAudio audio;
    TWaveFileInfo info;
    if (!ReadWaveFileInfo(path, info) || info.Header.BitsPerSample != 16)
        return audio;
    const QByteArray bytes = ReadFile(path).mid(TWaveHeader::Size);
    audio.ok = true;
    audio.channels = info.Header.Channels;
    audio.sampleRate = long(info.Header.SampleRate);
    audio.samples.resize(size_t(bytes.size() / 2));
    std::memcpy(audio.samples.data(), bytes.constData(), audio.samples.size() * 2);
    return audio;
}

} // namespace

TEST_F(CliTest, DecodesMp3FilesToWavKeepingRateChannelsLengthAndTone) {
    WriteSineWav(path("stereo.wav"), 2, 44100, 3.0, 440, 1000);
    WriteSineWav(path("mono.wav"), 1, 22050, 2.0, 600);
    ASSERT_EQ(Run({"encode", "-o", path("mp3"), path("stereo.wav")}).exitCode, 0);
    ASSERT_EQ(Run({"encode", "-m", "mono", "-o", path("mp3"), path("mono.wav")}).exitCode, 0);
    ASSERT_EQ(Run({"encode", "--vbr", "3", "-o", path("vbr"), path("stereo.wav")}).exitCode, 0);

    const Result r =
        Run({"decode", "-o", path("out"), path("mp3/stereo.MP3"), path("mp3/mono.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    DecodedAudio stereo = ReadWav(path("out/stereo.WAV"));
    ASSERT_TRUE(stereo.ok);
    EXPECT_EQ(stereo.channels, 2);
    EXPECT_EQ(stereo.sampleRate, 44100);
    EXPECT_NEAR(stereo.seconds(), 3.0, 0.1);
    EXPECT_NEAR(DominantFrequency(stereo, 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(stereo, 1), 1000, 10);
    const DecodedAudio mono = ReadWav(path("out/mono.WAV"));
    EXPECT_EQ(mono.channels, 1);
    EXPECT_EQ(mono.sampleRate, 22050);
    EXPECT_NEAR(mono.seconds(), 2.0, 0.1);
    EXPECT_NEAR(DominantFrequency(mono, 0), 600, 6);

    // Beside the source by default; a VBR file with its header decodes to the exact length.
    ASSERT_EQ(Run({"decode", path("vbr/stereo.MP3")}).exitCode, 0);
    const DecodedAudio vbr = ReadWav(path("vbr/stereo.WAV"));
    EXPECT_EQ(vbr.frames(), 3u * 44100) << "gapless: the encoder's delay and padding are trimmed";
}

TEST_F(CliTest, UndecodableFilesFailInBoundedTimeAndTheBatchGoesOn) {
    WriteSineWav(path("a.wav"), 2, 44100, 1.0, 440);
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    WriteFile(path("noise.mp3"), QByteArray(20000, '\x5a'));
    WriteFile(path("empty.mp3"), QByteArray());
    QElapsedTimer timer;
    timer.start();
    const Result r = Run({"decode", "-o", path("out"), path("noise.mp3"), path("missing.mp3"),
                          path("empty.mp3"), path("a.MP3")});
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.err.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3) << r.err.toStdString();
    EXPECT_TRUE(lines[0].contains("Conversion Error: " + path("noise.mp3")));
    EXPECT_TRUE(lines[1].contains("Conversion Error: " + path("missing.mp3")));
    EXPECT_TRUE(lines[2].contains("Conversion Error: " + path("empty.mp3")));
    EXPECT_FALSE(QFile::exists(path("out/noise.WAV"))) << "no part-written output is left";
    EXPECT_FALSE(QFile::exists(path("out/empty.WAV")));
    EXPECT_TRUE(ReadWav(path("out/a.WAV")).ok);
}

TEST_F(CliTest, DecodeSkipsExistingOutputsUnlessOverwriteIsGiven) {
    WriteSineWav(path("a.wav"), 1, 44100, 1.0, 440);
    ASSERT_EQ(Run({"encode", path("a.wav")}).exitCode, 0);
    WriteFile(path("a.WAV"), "keep me");
    Result r = Run({"decode", path("a.MP3")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("skipped"));
    EXPECT_EQ(ReadFile(path("a.WAV")), "keep me");
    r = Run({"decode", "-y", path("a.MP3")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NEAR(ReadWav(path("a.WAV")).seconds(), 1.0, 0.1);
}

TEST_F(CliTest, StreamThatChangesRateKeepsItsWavUpToThereAndSaysWhereAndWhy) {
    WriteSineWav(path("high.wav"), 2, 44100, 2.0, 440);
    WriteSineWav(path("low.wav"), 2, 22050, 1.0, 440);
    ASSERT_EQ(Run({"encode", "--vbr", "3", path("high.wav")}).exitCode, 0);
    ASSERT_EQ(Run({"encode", "-b", "64", path("low.wav")}).exitCode, 0);
    WriteFile(path("joined.mp3"), ReadFile(path("high.MP3")) + ReadFile(path("low.MP3")));
    const Result r = Run({"decode", "-o", path("out"), path("joined.mp3")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Warning: " + path("joined.mp3")));
    EXPECT_TRUE(r.err.contains("changes to 22050 Hz, 2 channel(s) after 00:02.000"))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Cannot write")) << "the output is not to blame";
    const DecodedAudio kept = ReadWav(path("out/joined.WAV"));
    ASSERT_TRUE(kept.ok);
    EXPECT_EQ(kept.sampleRate, 44100);
    EXPECT_EQ(kept.frames(), 2u * 44100);
}

TEST_F(CliTest, BytesThatAreNotMpegAudioAreNotDecoded) {
    WriteFile(path("music.mp3"), QByteArray("fLaC\0\0\0\x22", 8) + QByteArray(60000, '\xff'));
    const Result r = Run({"decode", path("music.mp3")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Conversion Error: " + path("music.mp3"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("not MPEG audio")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("music.WAV")));
}
