#include "core/xaudiolib/XaudioBench.h"

using namespace xaudiotest;

TEST_F(XaudioTest, Mp3StereoBecomesACanonicalWavOfTheSameLengthAndTones) {
    const double seconds = 3.0;
    const std::string mp3 = Mp3("stereo.mp3", 2, 44100, seconds, 440, 1000, STEREO, true);
    TestPlayer p;
    Convert(p, mp3, path("stereo.wav"));

    const WavOut out = ReadCanonicalWav(dir.filePath("stereo.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.channels, 2);
    EXPECT_EQ(out.audio.sampleRate, 44100);
    // The Info header's delay and padding are trimmed, so the length is the source's.
    EXPECT_NEAR(double(out.audio.frames()), seconds * 44100, 1152);
    EXPECT_NEAR(DominantFrequency(out.audio, 0), 440, 4.4);
    EXPECT_NEAR(DominantFrequency(out.audio, 1), 1000, 10);

    const auto parameters = std::find_if(p.log().begin(), p.log().end(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS;
    });
    ASSERT_NE(parameters, p.log().end());
    EXPECT_EQ(parameters->msg.data.stream_parameters.frequency, 44100u);
    EXPECT_EQ(parameters->msg.data.stream_parameters.nb_channels, 0) << "stereo";
    EXPECT_GT(parameters->msg.data.stream_parameters.bitrate, 32);
}

TEST_F(XaudioTest, LowRateMonoMp3sKeepTheirRateChannelsAndTone) {
    struct Case {
        int rate;
        double freq;
        uint32_t bitrate;
    };
    for (const Case c : {Case{22050, 1000, 64}, Case{8000, 440, 32}}) {
        SCOPED_TRACE(c.rate);
        const QString name = QString::number(c.rate);
        const std::string mp3 =
            Mp3(name + ".mp3", 1, c.rate, 2.0, c.freq, 0, MONO, false, c.bitrate);
        TestPlayer p;
        Convert(p, mp3, path(name + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(name + ".wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.channels, 1);
        EXPECT_EQ(out.audio.sampleRate, c.rate);
        EXPECT_NEAR(out.audio.seconds(), 2.0, 0.3);
        EXPECT_NEAR(DominantFrequency(out.audio, 0), c.freq, c.freq * 0.01);
        const bool monoParameters = p.logged([&](const Note &n) {
            return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS &&
                   n.msg.data.stream_parameters.frequency == uint32_t(c.rate) &&
                   n.msg.data.stream_parameters.nb_channels == 3;
        });
        EXPECT_TRUE(monoParameters);
    }
}

// Layers I and II, hand-built: frames whose bit allocations are all zero decode as silence,
// 384 (layer I) or 1152 (layer II) samples each.
TEST_F(XaudioTest, MpegLayersOneAndTwoDecodeToo) {
    struct Case {
        const char *name;
        uint8_t layerByte, rateByte;
        int frameBytes, samplesPerFrame;
    };
    // MPEG-1, no CRC, 128 kbit/s, 48 kHz, single channel.
    for (const Case c :
         {Case{"l1.mp1", 0xFF, 0x44, 128, 384}, Case{"l2.mp2", 0xFD, 0x84, 384, 1152}}) {
        SCOPED_TRACE(c.name);
        QByteArray frame(c.frameBytes, 0);
        frame[0] = char(0xFF);
        frame[1] = char(c.layerByte);
        frame[2] = char(c.rateByte);
        frame[3] = char(0xC0);
        testmedia::WriteFile(dir.filePath(c.name), frame.repeated(40));
        TestPlayer p;
        Convert(p, path(c.name), path("out.wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.sampleRate, 48000);
        EXPECT_EQ(out.audio.channels, 1);
        EXPECT_EQ(out.audio.frames(), size_t(40 * c.samplesPerFrame));
        EXPECT_TRUE(p.logged([](const Note &n) {
            return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS &&
                   n.msg.data.stream_parameters.bitrate == 128 &&
                   n.msg.data.stream_parameters.nb_channels == 3;
        }));
    }
}

namespace {

// Frames of one MPEG header with random payload bytes: noise for every layer, and a
// decoder state that any difference in decoding shows at once.
QByteArray RandomFrames(uint32_t header, int frameBytes, int count, uint32_t seed) {
    QByteArray bytes;
    for (int f = 0; f < count; ++f) {
        QByteArray frame(frameBytes, 0);
        for (int i = 0; i < 4; ++i)
            frame[i] = char(header >> (24 - 8 * i));
        for (int i = 4; i < frameBytes; ++i)
            frame[i] = char((seed = seed * 1103515245 + 12345) >> 16);
        bytes += frame;
    }
    return bytes;
}

// The reference: libmpg123 decoding the file once from its start with its defaults, as the
// mpg123 command line does.
} // namespace

TEST_F(XaudioTest, SamplesAreThoseOfAFreshLibmpg123DecodeForEveryVersionAndLayer) {
    struct Case {
        QString name;
        std::string file;
    };
    std::vector<Case> cases = {
        {"mono", Mp3("mono.mp3", 1, 44100, 1.5, 440, 0, MONO, false, 64)},
        {"mpeg2", Mp3("mpeg2.mp3", 2, 22050, 1.5, 440, 700, STEREO, true, 64)},
        {"mpeg25", Mp3("mpeg25.mp3", 1, 11025, 1.5, 440, 0, MONO, false, 32)},
        {"stereo", Mp3("stereo.mp3", 2, 44100, 1.5, 440, 700, JSTEREO, true)},
    };
    // MPEG 1 Layer I 384 kbit/s 48 kHz stereo, MPEG 2 Layer I 256 kbit/s 24 kHz, MPEG 2
    // Layer II 160 kbit/s 24 kHz.
    for (const auto &[name, header, bytes] :
         {std::tuple{"l1.mp1", 0xFFFFC400u, 384}, std::tuple{"l1m2.mp1", 0xFFF7E4C0u, 512},
          std::tuple{"l2m2.mp2", 0xFFF5E400u, 960}}) {
        testmedia::WriteFile(dir.filePath(name), RandomFrames(header, bytes, 150, 99));
        cases.push_back({name, path(name)});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        TestPlayer p;
        Convert(p, c.file, path(c.name + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(c.name + ".wav"));
        const DecodedAudio reference = testmedia::DecodeMpeg(QString::fromStdString(c.file));
        ASSERT_EQ(out.problem, "");
        ASSERT_TRUE(reference.ok) << reference.error.toStdString();
        EXPECT_EQ(out.audio.channels, reference.channels);
        EXPECT_EQ(out.audio.sampleRate, reference.sampleRate);
        ASSERT_EQ(out.audio.samples.size(), reference.samples.size());
        EXPECT_TRUE(out.audio.samples == reference.samples);

        // Played again after a stop, the stream decodes the same.
        ASSERT_EQ(control_message_send_S(p.get(), XA_MSG_COMMAND_OUTPUT_OPEN,
                                         ("wav:" + path(c.name + "2.wav")).c_str()),
                  XA_SUCCESS);
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_STOP), XA_SUCCESS);
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_PLAY), XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_PLAYER_STATE, XA_PLAYER_STATE_EOS, 30s));
        ASSERT_EQ(control_message_send_N(p.get(), XA_MSG_COMMAND_OUTPUT_CLOSE), XA_SUCCESS);
        ASSERT_TRUE(p.waitFor(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED));
        EXPECT_TRUE(ReadCanonicalWav(dir.filePath(c.name + "2.wav")).audio.samples ==
                    reference.samples);
    }
}

// The Info header records the encoder's delay and padding; taking both off gives the
// source's length to the sample, in the output and in the length reported at open. 1.5 s
// is reported as 2 s, and as 1 s when the length falls short by even one sample.
TEST_F(XaudioTest, GaplessLengthIsTheSourcesToTheSample) {
    for (const auto &[name, channels, rate, mode] :
         {std::tuple{"stereo.mp3", 2, 44100, JSTEREO}, std::tuple{"mpeg2.mp3", 1, 22050, MONO}}) {
        SCOPED_TRACE(name);
        const std::string mp3 = Mp3(name, channels, rate, 1.5, 440, 700, mode, true);
        TestPlayer p;
        Convert(p, mp3, path(QString(name) + ".wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath(QString(name) + ".wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.frames(), size_t(rate * 3 / 2));
        const auto duration = std::find_if(p.log().begin(), p.log().end(), [](const Note &n) {
            return n.code == XA_MSG_NOTIFY_STREAM_DURATION;
        });
        ASSERT_NE(duration, p.log().end());
        EXPECT_EQ(duration->msg.data.duration.duration, 2u);
    }
}

TEST_F(XaudioTest, FileCutShortStillLosesTheEncoderDelayItsInfoHeaderRecords) {
    const std::string whole = Mp3("whole.mp3", 2, 44100, 3.0, 440, 700, STEREO, true);
    const QByteArray bytes = testmedia::ReadFile(QString::fromStdString(whole));
    testmedia::WriteFile(dir.filePath("cut.mp3"), bytes.left(bytes.size() / 2));
    TestPlayer p;
    Convert(p, path("cut.mp3"), path("cut.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("cut.wav"));
    const DecodedAudio reference = testmedia::DecodeMpeg(dir.filePath("cut.mp3"));
    ASSERT_TRUE(reference.ok) << reference.error.toStdString();
    ASSERT_EQ(out.audio.samples.size(), reference.samples.size());
    EXPECT_TRUE(out.audio.samples == reference.samples);
    // The length reported at open is the one decoded, not the one the header declares.
    const auto duration = std::find_if(p.log().begin(), p.log().end(), [](const Note &n) {
        return n.code == XA_MSG_NOTIFY_STREAM_DURATION;
    });
    ASSERT_NE(duration, p.log().end());
    EXPECT_EQ(duration->msg.data.duration.duration, uint32_t(std::lround(out.audio.seconds())));
}

TEST_F(XaudioTest, DamagedStretchIsSkippedAndDecodingGoesOn) {
    const std::string clean = Mp3("clean.mp3", 2, 44100, 5.0, 440, 700, STEREO, false);
    QByteArray bytes = testmedia::ReadFile(QString::fromStdString(clean));
    // 2 KB of noise in the middle, as a bad sector or a broken download leaves it.
    uint32_t seed = 4711;
    for (int i = bytes.size() / 2; i < bytes.size() / 2 + 2048; ++i)
        bytes[i] = char((seed = seed * 1103515245 + 12345) >> 16);
    testmedia::WriteFile(dir.filePath("damaged.mp3"), bytes);
    TestPlayer p;
    Convert(p, path("damaged.mp3"), path("damaged.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("damaged.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 44100);
    // 2 KB are an eighth of a second at 128 kbit/s; a frame on each side may go with them.
    EXPECT_GT(out.audio.seconds(), 5.0 - 0.125 - 0.06);
    EXPECT_NEAR(DominantFrequency(out.audio, 0), 440, 4.4);
    EXPECT_FALSE(p.logged([](const Note &n) { return n.code == XA_MSG_NOTIFY_ERROR; }));
}

TEST_F(XaudioTest, WavEndsWhereTheStreamChangesRateAndSaysWhere) {
    const std::string first = Mp3("first.mp3", 2, 44100, 2.0, 440, 700, STEREO, true);
    const std::string second = Mp3("second.mp3", 2, 22050, 2.0, 1000, 0, STEREO, false, 64);
    testmedia::WriteFile(dir.filePath("joined.mp3"),
                         testmedia::ReadFile(QString::fromStdString(first)) +
                             testmedia::ReadFile(QString::fromStdString(second)));
    TestPlayer p;
    Convert(p, path("joined.mp3"), path("joined.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("joined.wav"));
    const DecodedAudio reference = testmedia::DecodeMpeg(QString::fromStdString(first));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 44100);
    EXPECT_TRUE(out.audio.samples == reference.samples) << "the whole first stream, no more";

    const auto note = std::find_if(p.log().begin(), p.log().end(),
                                   [](const Note &n) { return n.code == XA_MSG_NOTIFY_PROGRESS; });
    ASSERT_NE(note, p.log().end());
    EXPECT_EQ(note->msg.data.progress.source, XA_SOURCE_INPUT);
    EXPECT_EQ(note->msg.data.progress.code, XA_PROGRESS_STREAM_FORMAT_CHANGED);
    EXPECT_EQ(note->msg.data.progress.value, 2);
    EXPECT_NE(note->text.find("joined.mp3\" changes to 22050 Hz, 2 channel(s) after 00:02.000"),
              std::string::npos)
        << note->text;
    EXPECT_FALSE(p.logged([](const Note &n) { return n.code == XA_MSG_NOTIFY_ERROR; }));
}

TEST_F(XaudioTest, PcmWavWithExtraChunksIsCopiedSampleForSample) {
    // fmt, an odd-sized chunk (padded to even), then data: the reader must walk the chunks.
    testmedia::WriteSinePcm(dir.filePath("pcm.raw"), 1, 22050, 0.5, 700);
    const QByteArray samples = testmedia::ReadFile(dir.filePath("pcm.raw"));
    QByteArray wav = testmedia::WavHeader(1, 22050, 16, uint32_t(samples.size()));
    const QByteArray list = QByteArray("LIST\x03\x00\x00\x00"
                                       "abc\x00",
                                       12);
    wav.insert(36, list);
    wav.append(samples);
    testmedia::WriteFile(dir.filePath("in.wav"), wav);

    TestPlayer p;
    Convert(p, path("in.wav"), path("out.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 22050);
    EXPECT_EQ(out.audio.channels, 1);
    EXPECT_TRUE(out.data == samples);
    EXPECT_TRUE(p.logged([](const Note &n) {
        return n.code == XA_MSG_NOTIFY_STREAM_PARAMETERS &&
               n.msg.data.stream_parameters.bitrate == 353 &&
               n.msg.data.stream_parameters.nb_channels == 3;
    }));
}

TEST_F(XaudioTest, PcmWavWithLongerFormatChunksIsCopiedSampleForSample) {
    // 18-byte fmt (cbSize 0) behind the data, and the 40-byte extensible form with a fact
    // chunk, as common converters write them.
    const QByteArray samples = testmedia::ToneSamples(1, 16, 22050, 0.5, {{700, 0.5}, {300, 0.25}});
    const QByteArray data = testmedia::WavChunk("data", samples);
    for (const QByteArray &wav :
         {testmedia::RiffWave(data + testmedia::WavFmtChunk(18, 1, 2, 22050, 16)),
          testmedia::RiffWave(testmedia::WavFmtChunk(40, 1, 2, 22050, 16) +
                              testmedia::WavChunk("fact", QByteArray(4, '\0')) + data)}) {
        testmedia::WriteFile(dir.filePath("in.wav"), wav);
        TestPlayer p;
        Convert(p, path("in.wav"), path("out.wav"));
        const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
        ASSERT_EQ(out.problem, "");
        EXPECT_EQ(out.audio.channels, 2);
        EXPECT_TRUE(out.data == samples);
    }
}

TEST_F(XaudioTest, Rf64WavInputIsRecognisedAndCopiedSampleForSample) {
    // Sizes in ds64, all ones in the 32-bit fields, and no module chosen: found by content.
    const QByteArray samples = testmedia::ToneSamples(1, 16, 22050, 0.5, {{700, 0.5}});
    QByteArray ds64("ds64\x1c\x00\x00\x00", 8);
    for (uint64_t value : {uint64_t(4 + 28 + 8 + 24 + 8 + samples.size()), uint64_t(samples.size()),
                           uint64_t(samples.size() / 2)})
        for (int i = 0; i < 8; ++i)
            ds64.append(char(value >> (8 * i)));
    ds64.append(QByteArray(4, '\0'));
    const QByteArray wav = "RF64" + QByteArray(4, '\xff') + "WAVE" + ds64 +
                           testmedia::WavFmtChunk(16, 1, 1, 22050, 16) + "data" +
                           QByteArray(4, '\xff') + samples;
    testmedia::WriteFile(dir.filePath("in.wav"), wav);

    TestPlayer p;
    Convert(p, path("in.wav"), path("out.wav"));
    const WavOut out = ReadCanonicalWav(dir.filePath("out.wav"));
    ASSERT_EQ(out.problem, "");
    EXPECT_EQ(out.audio.sampleRate, 22050);
    EXPECT_EQ(out.audio.channels, 1);
    EXPECT_TRUE(out.data == samples);
}
