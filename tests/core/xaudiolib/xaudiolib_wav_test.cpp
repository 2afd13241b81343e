// The decoding library's WAV writer and reader, its buffered MPEG file reader and its reader of
// other sound files, built from the library's sources: the writer's RIFF size limit is lowered
// to reach RF64 with small files, and files past 4 GiB are sparse, so nothing near 4 GiB is
// written to disk.

#include "Error.h"
#include "MpegDecoder.h"
#include "SndFileDecoder.h"
#include "WavDecoder.h"
#include "WavWriter.h"

#include "encoder/LameCoder.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cstring>
#include <fcntl.h>
#include <limits>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using xa::WavWriter;

uint32_t Le32(const QByteArray &b, qsizetype at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | uint8_t(b[at + i]);
    return v;
}

uint64_t Le64(const QByteArray &b, qsizetype at) {
    return uint64_t(Le32(b, at)) | uint64_t(Le32(b, at + 4)) << 32;
}

QByteArray Le(uint64_t value, int bytes) {
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char(value >> (8 * i)));
    return out;
}

std::vector<int16_t> Noise(size_t count, int seed) {
    std::vector<int16_t> samples(count);
    std::mt19937 random{uint32_t(seed)};
    for (int16_t &s : samples)
        s = int16_t(random());
    return samples;
}

QByteArray Bytes(const std::vector<int16_t> &samples) {
    QByteArray out;
    for (int16_t s : samples)
        out.append(Le(uint16_t(s), 2));
    return out;
}

// Everything a WavDecoder gives from path.
std::vector<int16_t> ReadAll(const std::string &path, xa::StreamInfo *info = nullptr) {
    xa::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    ::fstat(fd.get(), &st);
    xa::WavDecoder decoder(std::move(fd), path, st.st_size);
    if (info)
        *info = decoder.info();
    std::vector<int16_t> all;
    std::vector<int16_t> chunk(4096 * 2);
    while (!decoder.ended()) {
        const size_t frames = decoder.read(chunk.data(), 4096);
        all.insert(all.end(), chunk.begin(),
                   chunk.begin() + ptrdiff_t(frames * size_t(decoder.info().channels)));
        if (frames == 0)
            break;
    }
    return all;
}

class WavFileTest : public ::testing::Test {
protected:
    std::string path(const char *name) const { return dir.filePath(name).toStdString(); }
    QByteArray read(const char *name) const { return testmedia::ReadFile(dir.filePath(name)); }

    QTemporaryDir dir;
};

TEST_F(WavFileTest, FilesUnderTheLimitKeepThePlain44ByteHeader) {
    const std::vector<int16_t> samples = Noise(2 * 1000, 1);
    {
        WavWriter writer(path("plain.wav"));
        writer.configure(22050, 2);
        writer.expectFrames(1000);
        writer.write(samples.data(), 600);
        writer.write(samples.data() + 1200, 400);
        writer.close();
    }
    QByteArray expected = testmedia::WavHeader(2, 22050, 16, 4000);
    expected.append(Bytes(samples));
    EXPECT_TRUE(read("plain.wav") == expected);
}

TEST_F(WavFileTest, ALengthExpectedPastTheLimitMakesAnRf64FileWithDs64) {
    const std::vector<int16_t> samples = Noise(2 * 1000, 2);
    {
        WavWriter writer(path("big.wav"), 3000);
        writer.configure(8000, 2);
        writer.expectFrames(1000);
        writer.write(samples.data(), 1000);
        writer.close();
    }
    const QByteArray file = read("big.wav");
    ASSERT_EQ(file.size(), 80 + 4000);
    EXPECT_EQ(file.left(4), "RF64");
    EXPECT_EQ(Le32(file, 4), 0xFFFFFFFFu);
    EXPECT_EQ(file.mid(8, 8), "WAVEds64");
    EXPECT_EQ(Le32(file, 16), 28u);
    EXPECT_EQ(Le64(file, 20), 80u - 8 + 4000); // RIFF size
    EXPECT_EQ(Le64(file, 28), 4000u);          // data size
    EXPECT_EQ(Le64(file, 36), 1000u);          // frames
    EXPECT_EQ(Le32(file, 44), 0u);             // no table
    EXPECT_TRUE(file.mid(48, 24) == testmedia::WavHeader(2, 8000, 16, 0).mid(12, 24));
    EXPECT_EQ(file.mid(72, 4), "data");
    EXPECT_EQ(Le32(file, 76), 0xFFFFFFFFu);
    EXPECT_TRUE(file.mid(80) == Bytes(samples));
    EXPECT_EQ(ReadAll(path("big.wav")), samples);
}

TEST_F(WavFileTest, AFileThatEndsShortOfItsExpectedLengthStaysRiffWithAJunkChunk) {
    const std::vector<int16_t> samples = Noise(2 * 100, 3);
    {
        WavWriter writer(path("short.wav"), 3000);
        writer.configure(8000, 2);
        writer.expectFrames(1000);
        writer.write(samples.data(), 100);
        writer.close();
    }
    const QByteArray file = read("short.wav");
    ASSERT_EQ(file.size(), 80 + 400);
    EXPECT_EQ(file.left(4), "RIFF");
    EXPECT_EQ(Le32(file, 4), 80u - 8 + 400);
    EXPECT_EQ(file.mid(8, 8), "WAVEJUNK");
    EXPECT_EQ(Le32(file, 16), 28u);
    EXPECT_TRUE(file.mid(20, 28) == QByteArray(28, '\0'));
    EXPECT_EQ(file.mid(72, 4), "data");
    EXPECT_EQ(Le32(file, 76), 400u);
    EXPECT_EQ(ReadAll(path("short.wav")), samples);
}

TEST_F(WavFileTest, ALaterSmallerExpectationGivesThePlainHeaderBack) {
    // An input opened and replaced before any audio: the second one decides.
    const std::vector<int16_t> samples = Noise(2 * 10, 4);
    {
        WavWriter writer(path("again.wav"), 3000);
        writer.configure(8000, 2);
        writer.expectFrames(100000);
        writer.expectFrames(10);
        writer.write(samples.data(), 10);
        writer.close();
    }
    QByteArray expected = testmedia::WavHeader(2, 8000, 16, 40);
    expected.append(Bytes(samples));
    EXPECT_TRUE(read("again.wav") == expected);
}

TEST_F(WavFileTest, PassingTheLimitUnannouncedMovesTheAudioUpForDs64) {
    // More than the move's block, so the audio is moved in several pieces from the end.
    const size_t frames = 700 * 1000;
    const std::vector<int16_t> samples = Noise(frames, 5);
    {
        WavWriter writer(path("grown.wav"), 1000 * 1000);
        writer.configure(44100, 1);
        writer.expectFrames(1000); // wrong: far more follows
        for (size_t at = 0; at < frames; at += 4608)
            writer.write(samples.data() + at, std::min<size_t>(4608, frames - at));
        writer.close();
    }
    const QByteArray file = read("grown.wav");
    ASSERT_EQ(file.size(), qsizetype(80 + 2 * frames));
    EXPECT_EQ(file.left(4), "RF64");
    EXPECT_EQ(file.mid(8, 8), "WAVEds64");
    EXPECT_EQ(Le64(file, 28), 2 * frames);
    EXPECT_EQ(Le64(file, 36), frames);
    EXPECT_TRUE(file.mid(80) == Bytes(samples));
    xa::StreamInfo info;
    EXPECT_EQ(ReadAll(path("grown.wav"), &info), samples);
    EXPECT_EQ(info.rate, 44100);
    EXPECT_EQ(info.channels, 1);
}

TEST_F(WavFileTest, AudioPast4GiBIsWrittenAndReadBackAsRf64) {
    // 4.5 GiB of data, almost all of it a hole, between two stretches of real samples.
    const uint64_t holeFrames = (uint64_t(9) << 29) / 4;
    const std::vector<int16_t> head = Noise(2 * 500, 6);
    const std::vector<int16_t> tail = Noise(2 * 300, 7);
    {
        WavWriter writer(path("huge.wav"));
        writer.configure(48000, 2);
        writer.expectFrames(int64_t(500 + holeFrames + 300));
        writer.write(head.data(), 500);
        writer.skipFrames(holeFrames);
        writer.write(tail.data(), 300);
        writer.close();
    }
    const uint64_t frames = 500 + holeFrames + 300;
    struct stat st {};
    ASSERT_EQ(::stat(path("huge.wav").c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), 80 + 4 * frames);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, uint64_t(64) << 20) << "the hole took room";

    QFile file(dir.filePath("huge.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(80);
    EXPECT_EQ(header.left(4), "RF64");
    EXPECT_EQ(Le64(header, 20), 80 - 8 + 4 * frames);
    EXPECT_EQ(Le64(header, 28), 4 * frames);
    EXPECT_EQ(Le64(header, 36), frames);

    xa::UniqueFd fd(::open(path("huge.wav").c_str(), O_RDONLY | O_CLOEXEC));
    xa::WavDecoder decoder(std::move(fd), path("huge.wav"), st.st_size);
    EXPECT_EQ(decoder.info().totalFrames, int64_t(frames));
    std::vector<int16_t> got(2 * 500);
    ASSERT_EQ(decoder.read(got.data(), 500), 500u);
    EXPECT_EQ(got, head);
    ASSERT_EQ(decoder.seek(int64_t(frames - 300)), int64_t(frames - 300));
    got.assign(2 * 400, 1);
    ASSERT_EQ(decoder.read(got.data(), 400), 300u);
    got.resize(2 * 300);
    EXPECT_EQ(got, tail);
    EXPECT_TRUE(decoder.ended());
}

// An RF64 file as another writer makes it: a ds64 table entry and a chunk between ds64 and fmt.
QByteArray Rf64(uint64_t dataBytes, uint32_t dataField, bool withDs64 = true) {
    QByteArray chunks;
    if (withDs64)
        chunks += "ds64" + Le(40, 4) + Le(0, 8) + Le(dataBytes, 8) + Le(dataBytes / 2, 8) +
                  Le(1, 4) + "bext" + Le(0, 8);
    chunks += testmedia::WavChunk("LIST", "abc");
    chunks += testmedia::WavFmtChunk(16, 1, 1, 22050, 16);
    chunks += "data" + Le(dataField, 4);
    return "RF64" + Le(0xFFFFFFFF, 4) + "WAVE" + chunks;
}

TEST_F(WavFileTest, Rf64InputTakesItsDataSizeFromDs64) {
    const uint64_t dataBytes = (uint64_t(1) << 32) + 2000;
    const QByteArray header = Rf64(dataBytes, 0xFFFFFFFF);
    testmedia::WriteFile(dir.filePath("in.wav"), header);
    const std::vector<int16_t> last = Noise(1000, 8);
    {
        xa::UniqueFd fd(::open(path("in.wav").c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::ftruncate(fd.get(), off_t(header.size() + dataBytes)), 0);
        const QByteArray bytes = Bytes(last);
        ASSERT_EQ(::pwrite(fd.get(), bytes.data(), size_t(bytes.size()),
                           off_t(header.size() + dataBytes - 2000)),
                  2000);
    }
    xa::StreamInfo info;
    {
        xa::UniqueFd fd(::open(path("in.wav").c_str(), O_RDONLY | O_CLOEXEC));
        xa::WavDecoder decoder(std::move(fd), path("in.wav"), int64_t(header.size() + dataBytes));
        EXPECT_EQ(decoder.info().totalFrames, int64_t(dataBytes / 2));
        EXPECT_EQ(decoder.info().rate, 22050);
        decoder.seek(int64_t(dataBytes / 2 - 1000));
        std::vector<int16_t> got(1000);
        ASSERT_EQ(decoder.read(got.data(), 1000), 1000u);
        EXPECT_EQ(got, last);
    }

    // The 32-bit field counts when it is not all ones; without ds64 all ones is refused.
    const std::vector<int16_t> samples = Noise(100, 9);
    testmedia::WriteFile(dir.filePath("small.wav"), Rf64(dataBytes, 200) + Bytes(samples));
    EXPECT_EQ(ReadAll(path("small.wav")), samples);
    testmedia::WriteFile(dir.filePath("bad.wav"), Rf64(0, 0xFFFFFFFF, false) + Bytes(samples));
    try {
        ReadAll(path("bad.wav"));
        ADD_FAILURE() << "an RF64 file without ds64 was read";
    } catch (const xa::Error &error) {
        EXPECT_EQ(error.code(), XA_ERROR_UNSUPPORTED_INPUT);
        EXPECT_NE(std::string(error.what()).find("no ds64 chunk"), std::string::npos)
            << error.what();
    }
}

// Samples as little-endian bytes of the given width.
template <typename T> QByteArray Raw(const std::vector<T> &values) {
    QByteArray out;
    for (const T &v : values) {
        char bytes[sizeof v];
        std::memcpy(bytes, &v, sizeof v);
        out.append(bytes, sizeof v);
    }
    return out;
}

QByteArray Int24(const std::vector<int32_t> &values) {
    QByteArray out;
    for (int32_t v : values)
        out.append(Le(uint32_t(v), 3));
    return out;
}

TEST_F(WavFileTest, WiderAndFloatingPointSamplesComeOutRoundedTo16Bits) {
    using testmedia::RiffWave;
    using testmedia::WavChunk;
    using testmedia::WavFmtChunk;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char *name;
        QByteArray fmt;
        QByteArray data;
        std::vector<int16_t> expected;
    };
    const std::vector<float> floats = {0.5f,  -0.25f, 1.5f,        -1.5f,      1.0f,
                                       -1.0f, nan,    1 / 65536.f, 3 / 65536.f};
    const std::vector<int16_t> fromFloats = {16384, -8192, 32767, -32768, 32767, -32768, 0, 0, 2};
    const Case cases[] = {
        // Halves go to the even neighbour; the top of the range clips at 32767.
        {"int24.wav",
         WavFmtChunk(16, 1, 1, 8000, 24),
         Int24({0x7FFFFF, -0x800000, 128, 384, -128, 0x123456, -129, 383}),
         {32767, -32768, 0, 2, 0, 4660, -1, 1}},
        // The extensible form names its sample format in its sub-format.
        {"int32.wav",
         WavFmtChunk(40, 1, 1, 8000, 32),
         Raw<int32_t>({0x7FFFFFFF, INT32_MIN, 0x8000, 0x18000, 0x12345678}),
         {32767, -32768, 0, 2, 4660}},
        {"float32.wav", WavFmtChunk(18, 3, 1, 8000, 32), Raw<float>(floats), fromFloats},
        {"float64.wav", WavFmtChunk(40, 3, 1, 8000, 64),
         Raw<double>(std::vector<double>(floats.begin(), floats.end())), fromFloats},
        {"uint8.wav",
         WavFmtChunk(16, 1, 1, 8000, 8),
         QByteArray("\x00\x80\xff\x81", 4),
         {-32768, 0, 32512, 256}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testmedia::WriteFile(dir.filePath(c.name), RiffWave(c.fmt + WavChunk("data", c.data)));
        xa::StreamInfo info;
        EXPECT_EQ(ReadAll(path(c.name), &info), c.expected);
        EXPECT_EQ(info.totalFrames, int64_t(c.expected.size()));
        EXPECT_EQ(info.channels, 1);
    }

    // Stereo frames stay together, and seeking counts frames of the file's own width.
    const std::vector<int32_t> frames = {256, -256, 512, -512, 768, -768, 1024, -1024};
    testmedia::WriteFile(dir.filePath("stereo24.wav"),
                         RiffWave(WavFmtChunk(16, 1, 2, 44100, 24) +
                                  WavChunk("data", Int24(frames) + QByteArray(2, '\0'))));
    xa::UniqueFd fd(::open(path("stereo24.wav").c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    ::fstat(fd.get(), &st);
    xa::WavDecoder decoder(std::move(fd), path("stereo24.wav"), st.st_size);
    EXPECT_EQ(decoder.info().totalFrames, 4) << "a partial frame at the end is left out";
    EXPECT_EQ(decoder.info().bitrateKbps, 2117);
    EXPECT_EQ(decoder.seek(2), 2);
    std::vector<int16_t> got(8);
    ASSERT_EQ(decoder.read(got.data(), 4), 2u);
    got.resize(4);
    EXPECT_EQ(got, (std::vector<int16_t>{3, -3, 4, -4}));
}

TEST_F(WavFileTest, SampleWidthsWithoutAConversionAreRefusedByName) {
    using testmedia::RiffWave;
    using testmedia::WavChunk;
    using testmedia::WavFmtChunk;
    const struct {
        const char *name;
        quint16 tag;
        int bits;
        const char *why;
    } cases[] = {
        {"int20.wav", 1, 20, "20-bit integer samples are not supported"},
        {"float16.wav", 3, 16, "16-bit floating-point samples are not supported"},
        {"adpcm.wav", 2, 4, "WAV format 2 is not supported (PCM or floating point only)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testmedia::WriteFile(dir.filePath(c.name),
                             RiffWave(WavFmtChunk(16, c.tag, 1, 8000, c.bits) +
                                      WavChunk("data", QByteArray(64, 1))));
        try {
            ReadAll(path(c.name));
            ADD_FAILURE() << "read";
        } catch (const xa::Error &error) {
            EXPECT_EQ(error.code(), XA_ERROR_UNSUPPORTED_INPUT);
            EXPECT_NE(std::string(error.what()).find(c.why), std::string::npos) << error.what();
        }
    }
}

TEST_F(WavFileTest, TheMpegFileReaderGivesTheFileAsItIsAcrossItsBuffer) {
    // Reads of every size around the buffer's, after seeks from each end.
    std::vector<int16_t> content = Noise(150 * 1000, 10);
    testmedia::WriteFile(dir.filePath("data.bin"), Bytes(content));
    const QByteArray file = read("data.bin");
    xa::UniqueFd fd(::open(path("data.bin").c_str(), O_RDONLY | O_CLOEXEC));

    struct Probe {
        int64_t offset;
        int whence;
        size_t bytes;
    };
    const int64_t size = file.size();
    const Probe probes[] = {{0, SEEK_SET, 4},          {0, SEEK_CUR, 65536 - 4},
                            {0, SEEK_CUR, 10},         {-128, SEEK_END, 1000},
                            {65530, SEEK_SET, 70000},  {-70000, SEEK_CUR, 140000},
                            {size - 3, SEEK_SET, 100}, {5, SEEK_SET, 3}};
    xa::MpegFileReader reader(fd.get());
    int64_t position = 0;
    for (const Probe &probe : probes) {
        const int64_t base = probe.whence == SEEK_SET   ? 0
                             : probe.whence == SEEK_CUR ? position
                                                        : size;
        position = base + probe.offset;
        ASSERT_EQ(reader.seek(off_t(probe.offset), probe.whence), off_t(position));
        std::vector<char> got(probe.bytes);
        const int64_t expected = std::min<int64_t>(int64_t(probe.bytes), size - position);
        ASSERT_EQ(reader.read(reinterpret_cast<unsigned char *>(got.data()), probe.bytes),
                  ssize_t(expected));
        EXPECT_EQ(std::memcmp(got.data(), file.constData() + position, size_t(expected)), 0)
            << "at " << position;
        position += expected;
    }
    EXPECT_EQ(reader.seek(-1, SEEK_SET), off_t(-1));
}

// A FLAC file of noise written by libsndfile, open for reading.
xa::UniqueFd NoiseFlac(const std::string &path, const std::vector<int16_t> &samples, int channels) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_TRUE(file) << sf_strerror(nullptr);
    if (file) {
        sf_writef_short(file, samples.data(), sf_count_t(samples.size()) / channels);
        sf_close(file);
    }
    return xa::UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

int64_t SizeOf(const xa::UniqueFd &fd) {
    struct stat st {};
    ::fstat(fd.get(), &st);
    return st.st_size;
}

TEST_F(WavFileTest, TheSoundFileReaderLeavesMpegAudioAndTheDescriptorToTheMpegDecoder) {
    const QString wav = dir.filePath("tone.wav");
    testmedia::WriteSineWav(wav, 2, 44100, 1.0, 440);
    TLameCoder coder;
    coder.SetInputFiles({wav});
    coder.SetOutputFiles({dir.filePath("tone.mp3")});
    coder.Encode();
    xa::UniqueFd fd(::open(path("tone.mp3").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const int number = fd.get();
    EXPECT_THROW(xa::SndFileDecoder(fd, path("tone.mp3"), SizeOf(fd)), xa::NotASoundFile);
    EXPECT_EQ(fd.get(), number) << "a refused file keeps its descriptor with the caller";
    const int64_t size = SizeOf(fd);
    xa::MpegDecoder mpeg(std::move(fd), path("tone.mp3"), size);
    EXPECT_EQ(mpeg.info().rate, 44100);
}

TEST_F(WavFileTest, ASoundFileCutShortKeepsWhatItHasAndSaysWhereItEnds) {
    const std::vector<int16_t> samples = Noise(2 * 44100, 11);
    {
        xa::UniqueFd fd = NoiseFlac(path("whole.flac"), samples, 2);
        xa::SndFileDecoder decoder(fd, path("whole.flac"), SizeOf(fd));
        EXPECT_FALSE(fd) << "an open file takes the descriptor";
        ASSERT_EQ(decoder.info().totalFrames, 44100);
        // Reads stop at the length, and a seek back to the start reads it all again.
        std::vector<int16_t> got(2 * 50000);
        ASSERT_EQ(decoder.read(got.data(), 50000), 44100u);
        EXPECT_TRUE(decoder.ended());
        EXPECT_EQ(decoder.endNote(), "");
        EXPECT_EQ(decoder.read(got.data(), 50000), 0u);
        ASSERT_EQ(decoder.seek(1000), 1000);
        EXPECT_FALSE(decoder.ended());
        ASSERT_EQ(decoder.read(got.data(), 10), 10u);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 20, samples.begin() + 2000));
        EXPECT_EQ(decoder.seek(44100), 44100);
        EXPECT_EQ(decoder.read(got.data(), 10), 0u);
        EXPECT_TRUE(decoder.ended());
    }
    const QByteArray whole = read("whole.flac");
    testmedia::WriteFile(dir.filePath("cut.flac"), whole.left(whole.size() / 2));
    xa::UniqueFd fd(::open(path("cut.flac").c_str(), O_RDONLY | O_CLOEXEC));
    xa::SndFileDecoder decoder(fd, path("cut.flac"), SizeOf(fd));
    EXPECT_EQ(decoder.info().totalFrames, 44100) << "the length the header declares";
    std::vector<int16_t> all;
    std::vector<int16_t> chunk(2 * 4096);
    while (!decoder.ended()) {
        const size_t frames = decoder.read(chunk.data(), 4096);
        all.insert(all.end(), chunk.begin(), chunk.begin() + ptrdiff_t(2 * frames));
    }
    EXPECT_GT(all.size(), samples.size() / 4);
    EXPECT_LT(all.size(), samples.size());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), samples.begin()))
        << "what was there comes out as it was";
    EXPECT_NE(decoder.endNote().find("cut.flac\" cannot be decoded after 00:00."),
              std::string::npos)
        << decoder.endNote();
}

} // namespace
