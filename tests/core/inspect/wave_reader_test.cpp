#include "encoder/LameCoder.h"
#include "inspect/MP3WavComm.h"
#include "inspect/WaveReader.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace testmedia;

namespace {

QByteArray List(const QByteArray &Text) {
    return WavChunk("LIST", "INFOISFT" + Text);
}

class WaveReaderTest : public ::testing::Test {
protected:
    TWaveFileInfo Read(const QByteArray &Bytes) {
        const QString path = dir.filePath("in.wav");
        WriteFile(path, Bytes);
        TWaveFileInfo info;
        ReadWaveFileInfo(path, info);
        return info;
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(WaveReaderTest, FindsTheAudioBetweenOtherChunksInAnyOrder) {
    const QByteArray audio(4000, '\x01');
    // What a common converter writes by default: LIST between fmt and data.
    TWaveFileInfo info = Read(RiffWave(WavFmtChunk(16, 1, 2, 44100, 16) + List("Lavf59.27.100") +
                                       WavChunk("data", audio) + List("trailing tag")));
    ASSERT_TRUE(info.Valid) << WaveFileProblem(info).toStdString();
    EXPECT_EQ(info.DataOffset, 12 + 24 + 8 + 22 + 8);
    EXPECT_EQ(info.DataLength, 4000);
    EXPECT_EQ(info.Header.DataSize, 4000u);
    EXPECT_EQ(info.Header.SampleRate, 44100u);
    EXPECT_FALSE(info.Truncated);

    // data before fmt, with an odd-sized chunk (padded to even) in front of both.
    info = Read(RiffWave(WavChunk("junk", "abc") + WavChunk("data", audio) +
                         WavFmtChunk(16, 1, 1, 22050, 16)));
    ASSERT_TRUE(info.Valid) << WaveFileProblem(info).toStdString();
    EXPECT_EQ(info.DataOffset, 12 + 12 + 8);
    EXPECT_EQ(info.Header.SampleRate, 22050u);
    EXPECT_EQ(info.Header.Channels, 1);
    EXPECT_EQ(QByteArray(info.Header.FmtId.data(), 4), "fmt ");
    EXPECT_EQ(QByteArray(info.Header.DataId.data(), 4), "data");
}

TEST_F(WaveReaderTest, PlayTimeComesFromTheDataNotTheFileSize) {
    // One second of data and a large chunk after it; the first 44 bytes are canonical.
    const TWaveFileInfo info = Read(RiffWave(WavFmtChunk(16, 1, 2, 44100, 16) +
                                             WavChunk("data", QByteArray(176400, '\0')) +
                                             WavChunk("LIST", QByteArray(400000, 'x'))));
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.Duration, 1);
    EXPECT_EQ(info.FileSize, 44 + 176400 + 8 + 400000);
}

TEST_F(WaveReaderTest, ReadsEveryFmtSizeAndTheExtensibleSubFormat) {
    struct Case {
        int fmtBytes;
        quint16 tag;
        int channels, bits;
        TWaveSampleFormat format;
    };
    for (const Case c :
         {Case{16, 1, 2, 8, {wskInteger, 8}}, Case{18, 3, 2, 32, {wskFloat, 32}},
          Case{40, 1, 2, 16, {wskInteger, 16}}, Case{40, 1, 1, 24, {wskInteger, 24}},
          Case{40, 1, 2, 32, {wskInteger, 32}}, Case{40, 3, 2, 64, {wskFloat, 64}}}) {
        SCOPED_TRACE(testing::Message()
                     << c.fmtBytes << "-byte fmt, tag " << c.tag << ", " << c.bits << " bits");
        const int frame = c.channels * c.bits / 8;
        const TWaveFileInfo info =
            Read(RiffWave(WavFmtChunk(c.fmtBytes, c.tag, c.channels, 48000, c.bits) +
                          WavChunk("fact", QByteArray(4, '\0')) +
                          WavChunk("data", QByteArray(frame * 100, '\0'))));
        ASSERT_TRUE(info.Valid) << WaveFileProblem(info).toStdString();
        EXPECT_EQ(info.Header.FormatTag, c.tag);
        EXPECT_EQ(info.Header.FmtSize, uint32_t(c.fmtBytes));
        EXPECT_EQ(info.Extensible, c.fmtBytes == 40);
        EXPECT_EQ(info.Header.Channels, c.channels);
        EXPECT_EQ(info.SampleFormat, c.format);
        EXPECT_EQ(info.DataOffset, 12 + 8 + c.fmtBytes + 12 + 8);
        EXPECT_EQ(info.Frames(), 100);
    }
}

TEST_F(WaveReaderTest, CutAndStreamedDataRunToTheEndOfTheFileInWholeFrames) {
    QByteArray file = RiffWave(WavFmtChunk(16, 1, 2, 44100, 16) + WavChunk("data", {}));
    const QByteArray header = file;
    // A cut download: the chunk claims a second, the file holds 1001 bytes of it.
    qToLittleEndian<quint32>(176400, file.data() + 40);
    TWaveFileInfo info = Read(file + QByteArray(1001, '\0'));
    ASSERT_TRUE(info.Valid);
    EXPECT_TRUE(info.Truncated);
    EXPECT_FALSE(info.Streamed);
    EXPECT_EQ(info.DataLength, 1000);
    EXPECT_EQ(info.Header.DataSize, 176400u);

    // A writer that could not go back: size 0xFFFFFFFF means "to the end".
    file = header;
    qToLittleEndian<quint32>(0xFFFFFFFF, file.data() + 40);
    info = Read(file + QByteArray(2002, '\0'));
    ASSERT_TRUE(info.Valid);
    EXPECT_TRUE(info.Streamed);
    EXPECT_FALSE(info.Truncated);
    EXPECT_EQ(info.DataLength, 2000);
}

TEST_F(WaveReaderTest, ImpossibleHeadersAreRefusedNamingTheField) {
    const QByteArray good = WavHeader(2, 44100, 16, 400) + QByteArray(400, '\0');
    auto patched = [&](int offset, quint32 value, int width) {
        QByteArray bytes = good;
        if (width == 4)
            qToLittleEndian<quint32>(value, bytes.data() + offset);
        else
            qToLittleEndian<quint16>(quint16(value), bytes.data() + offset);
        return bytes;
    };
    struct Case {
        QByteArray bytes;
        const char *field;
    };
    QByteArray noData = good;
    noData[37] = 'X'; // "dXta": a flipped byte in the chunk id
    for (const Case &c :
         {Case{patched(24, 335566370, 4), "SampleRate"}, Case{patched(24, 0, 4), "SampleRate"},
          Case{patched(28, 176000, 4), "BytesPerSecond"}, Case{patched(32, 6, 2), "BlockAlign"},
          Case{patched(22, 0, 2), "Channels"}, Case{noData, "no data chunk"},
          Case{good.left(30), "fmt chunk"}}) {
        const TWaveFileInfo info = Read(c.bytes);
        EXPECT_FALSE(info.Valid) << c.field;
        EXPECT_EQ(info.FileSize, 0);
        EXPECT_TRUE(WaveFileProblem(info).contains(QLatin1String(c.field)))
            << WaveFileProblem(info).toStdString();
    }
    // Compressed formats keep byte rates and blocks of their own.
    QByteArray adpcm = patched(20, 2, 2);
    qToLittleEndian<quint16>(2048, adpcm.data() + 32);
    EXPECT_TRUE(Read(adpcm).Valid);
}

TEST(WaveSampleConversion, IntegersMapToFullScaleAndBack) {
    const uint8_t u8[] = {0x00, 0x80, 0xFF};
    float f[3];
    int32_t i[3];
    DecodeWaveSamples(u8, 3, {wskInteger, 8}, f);
    DecodeWaveSamples(u8, 3, {wskInteger, 8}, i);
    EXPECT_EQ(std::vector<float>(f, f + 3), (std::vector<float>{-1.0f, 0.0f, 127.0f / 128}));
    EXPECT_EQ(std::vector<int32_t>(i, i + 3), (std::vector<int32_t>{INT32_MIN, 0, 127 << 24}));

    const uint8_t s24[] = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00};
    double d[3];
    DecodeWaveSamples(s24, 3, {wskInteger, 24}, d);
    EXPECT_EQ(std::vector<double>(d, d + 3),
              (std::vector<double>{-1.0, -1.0 / 8388608, 1.0 / 8388608}));
    DecodeWaveSamples(s24, 3, {wskInteger, 24}, i);
    EXPECT_EQ(std::vector<int32_t>(i, i + 3), (std::vector<int32_t>{INT32_MIN, -256, 256}));

    uint8_t back[9];
    EncodeWaveSamples(i, 3, {wskInteger, 24}, back);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(back), 9),
              QByteArray(reinterpret_cast<const char *>(s24), 9));
    EncodeWaveSamples(d, 3, {wskInteger, 24}, back);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(back), 9),
              QByteArray(reinterpret_cast<const char *>(s24), 9));
}

TEST(WaveSampleConversion, WritingRoundsTiesToEvenAndClamps) {
    const double in[] = {2.5 / 32768, 3.5 / 32768, 1.5, -1.5, std::nan("")};
    qint16 out[5];
    EncodeWaveSamples(in, 5, {wskInteger, 16}, reinterpret_cast<uint8_t *>(out));
    EXPECT_EQ(std::vector<qint16>(out, out + 5), (std::vector<qint16>{2, 4, 32767, -32768, 0}));

    // 16 bits from a left-justified value: 0x00018000 is 1.5 steps, 0x00028000 2.5 steps.
    const int32_t wide[] = {0x00018000, 0x00028000, INT32_MAX};
    EncodeWaveSamples(wide, 3, {wskInteger, 16}, reinterpret_cast<uint8_t *>(out));
    EXPECT_EQ(std::vector<qint16>(out, out + 3), (std::vector<qint16>{2, 2, 32767}));

    // Float keeps what it is given, beyond full scale too.
    float f[2];
    const float big[] = {1.5f, -0.25f};
    EncodeWaveSamples(big, 2, {wskFloat, 32}, reinterpret_cast<uint8_t *>(f));
    DecodeWaveSamples(reinterpret_cast<uint8_t *>(f), 2, {wskFloat, 32}, f);
    EXPECT_EQ(std::vector<float>(f, f + 2), (std::vector<float>{1.5f, -0.25f}));
    int32_t clipped[2];
    DecodeWaveSamples(reinterpret_cast<const uint8_t *>(big), 2, {wskFloat, 32}, clipped);
    EXPECT_EQ(clipped[0], INT32_MAX);
    EXPECT_EQ(clipped[1], -(1 << 29));
}

TEST_F(WaveReaderTest, SampleReaderYieldsTheDataChunkAndNothingElse) {
    const QByteArray data = ToneSamples(1, 24, 8000, 0.5, {{440, 0.5}, {1000, 0.25}});
    const QString path = dir.filePath("in.wav");
    WriteFile(path, RiffWave(WavFmtChunk(40, 1, 2, 8000, 24) + WavChunk("data", data) +
                             List("after the audio")));
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(path, info));

    TWaveSampleReader reader(path, info);
    EXPECT_EQ(reader.Frames(), 4000);
    EXPECT_EQ(reader.Channels(), 2);
    std::vector<double> block(2 * 1500);
    double peakLeft = 0, peakRight = 0;
    qint64 total = 0;
    for (qint64 got; (got = reader.Read(block.data(), 1500)) > 0; total += got) {
        for (qint64 f = 0; f < got; ++f) {
            peakLeft = std::max(peakLeft, std::abs(block[size_t(2 * f)]));
            peakRight = std::max(peakRight, std::abs(block[size_t(2 * f + 1)]));
        }
    }
    EXPECT_EQ(total, 4000);
    EXPECT_FALSE(reader.Failed());
    EXPECT_NEAR(peakLeft, 0.5, 1e-3);
    EXPECT_NEAR(peakRight, 0.25, 1e-3);

    // Raw bytes, after a seek, are the stored ones.
    ASSERT_TRUE(reader.Seek(3999));
    uint8_t last[6];
    EXPECT_EQ(reader.ReadBytes(last, 10), 1);
    EXPECT_EQ(QByteArray(reinterpret_cast<char *>(last), 6), data.right(6));

    // A file cut after it was inspected: the reader stops and says so.
    QFile file(path);
    ASSERT_TRUE(file.resize(info.DataOffset + 600));
    TWaveSampleReader cut(path, info);
    EXPECT_EQ(cut.Read(block.data(), 1500), 100);
    EXPECT_TRUE(cut.Failed());
}

namespace {

QByteArray Le32(quint32 Value) {
    QByteArray B(4, '\0');
    qToLittleEndian(Value, B.data());
    return B;
}

QByteArray Le64(quint64 Value) {
    QByteArray B(8, '\0');
    qToLittleEndian(Value, B.data());
    return B;
}

// A ds64 chunk: RIFF size, data size, sample count, then the table of other chunks' sizes.
QByteArray Ds64(quint64 DataSize, const std::vector<std::pair<const char *, quint64>> &Table = {},
                quint64 RiffSize = 0) {
    QByteArray Body =
        Le64(RiffSize) + Le64(DataSize) + Le64(DataSize / 4) + Le32(quint32(Table.size()));
    for (const auto &[Id, Size] : Table)
        Body += QByteArray(Id, 4) + Le64(Size);
    return WavChunk("ds64", Body);
}

// A 64-bit file as the common converter writes it: Id ("RF64", "BW64"), a RIFF size of
// 0xFFFFFFFF, the ds64 chunk, the rest as given, and a data chunk whose 32-bit size is
// DataField, followed by Audio and After.
QByteArray Wave64(const char *Id, const QByteArray &Ds64Chunk, const QByteArray &Before,
                  const QByteArray &Audio, quint32 DataField = 0xFFFFFFFF,
                  const QByteArray &After = {}) {
    return QByteArray(Id, 4) + Le32(0xFFFFFFFF) + "WAVE" + Ds64Chunk + Before + "data" +
           Le32(DataField) + Audio + After;
}

} // namespace

TEST_F(WaveReaderTest, SixtyFourBitFilesTakeTheDataSizeFromTheirDs64Chunk) {
    const QByteArray audio = ToneSamples(1, 16, 44100, 0.5, {{440, 0.5}, {660, 0.5}});
    const QByteArray fmt = WavFmtChunk(16, 1, 2, 44100, 16);
    const QByteArray trailing = List("after the audio");
    for (const char *id : {"RF64", "BW64"}) {
        const TWaveFileInfo info = Read(Wave64(id, Ds64(quint64(audio.size())), fmt + List("Lavf"),
                                               audio, 0xFFFFFFFF, trailing));
        ASSERT_TRUE(info.Valid) << id << ": " << WaveFileProblem(info).toStdString();
        EXPECT_TRUE(info.HasDs64);
        EXPECT_EQ(info.DataOffset, 12 + 36 + 24 + 20 + 8);
        EXPECT_EQ(info.DataLength, audio.size()) << "the chunk behind the data is no audio";
        EXPECT_EQ(info.ClaimedDataSize, audio.size());
        EXPECT_FALSE(info.Streamed);
        EXPECT_FALSE(info.Truncated);
        EXPECT_EQ(info.Duration, 0); // 88201 bytes at 176400 bytes/s
        // The header shows what the file holds: the 64-bit id and the 32-bit fields' marks.
        EXPECT_EQ(QByteArray(info.Header.RiffId.data(), 4), id);
        EXPECT_EQ(info.Header.RiffSize, 0xFFFFFFFFu);
        EXPECT_EQ(info.Header.DataSize, 0xFFFFFFFFu);
        EXPECT_EQ(info.Header.SampleRate, 44100u);
        EXPECT_EQ(info.Header.BlockAlign, 4);
        EXPECT_TRUE(info.Header.IsRiffWave());
        EXPECT_TRUE(info.Header.Is64Bit());
    }

    // A size that fits stays in the data chunk itself.
    TWaveFileInfo info = Read(Wave64("RF64", Ds64(0), fmt, audio, 4000, trailing));
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.DataLength, 4000);
    EXPECT_EQ(info.Header.DataSize, 4000u);

    // Another chunk too big for 32 bits has its size in the table.
    const QByteArray big = "big " + Le32(0xFFFFFFFF) + QByteArray(3000, 'b');
    info = Read(Wave64("RF64", Ds64(1000, {{"big ", 3000}}), fmt + big, audio));
    ASSERT_TRUE(info.Valid) << WaveFileProblem(info).toStdString();
    EXPECT_EQ(info.DataOffset, 12 + 48 + 24 + 3008 + 8);
    EXPECT_EQ(info.DataLength, 1000);

    // "RF64" needs "WAVE" as much as "RIFF" does; other ids are no WAV files.
    QByteArray other = Wave64("RF64", Ds64(1000), fmt, audio);
    other.replace(8, 4, "AVI ");
    EXPECT_FALSE(Read(other).Valid);
    EXPECT_FALSE(Read(Wave64("RF65", Ds64(1000), fmt, audio)).Header.IsRiffWave());
}

TEST_F(WaveReaderTest, SixtyFourBitSizesBeyondTheFileAreCutAndUnknownOnesRunToTheEnd) {
    const QByteArray fmt = WavFmtChunk(16, 1, 2, 48000, 24);
    // More than 4 GiB claimed, a few bytes there: a cut copy, read in whole frames.
    const quint64 claimed = (quint64(6) << 30) + 6;
    TWaveFileInfo info = Read(Wave64("RF64", Ds64(claimed), fmt, QByteArray(1003, '\0')));
    ASSERT_TRUE(info.Valid);
    EXPECT_TRUE(info.Truncated);
    EXPECT_EQ(info.ClaimedDataSize, qint64(claimed));
    EXPECT_EQ(info.DataLength, 1002);
    // Beyond what a file offset can hold.
    info = Read(Wave64("RF64", Ds64(~quint64(0)), fmt, QByteArray(60, '\0')));
    ASSERT_TRUE(info.Valid);
    EXPECT_TRUE(info.Truncated);
    EXPECT_EQ(info.DataLength, 60);

    // No ds64 chunk, or a data size its writer never filled in: the data runs to the end.
    for (const QByteArray &ds64 : {QByteArray(), Ds64(0)}) {
        info = Read(Wave64("RF64", ds64, fmt, QByteArray(606, '\0')));
        ASSERT_TRUE(info.Valid);
        EXPECT_EQ(info.HasDs64, !ds64.isEmpty());
        EXPECT_TRUE(info.Streamed);
        EXPECT_FALSE(info.Truncated);
        EXPECT_EQ(info.DataLength, 606);
    }
    // A ds64 chunk cut short of its data size is not read.
    info = Read(Wave64("RF64", WavChunk("ds64", Le64(0) + Le32(600)), fmt, QByteArray(606, '\0')));
    EXPECT_FALSE(info.HasDs64);
    EXPECT_TRUE(info.Streamed);

    // In a plain RIFF file a ds64 chunk means nothing.
    QByteArray plain = Wave64("RF64", Ds64(300), fmt, QByteArray(606, '\0'));
    plain.replace(0, 4, "RIFF");
    info = Read(plain);
    ASSERT_TRUE(info.Valid);
    EXPECT_FALSE(info.HasDs64);
    EXPECT_TRUE(info.Streamed);
    EXPECT_EQ(info.DataLength, 606);
}

// A real file over 4 GiB, sparse, so that it costs no disk space.
TEST_F(WaveReaderTest, SixtyFourBitFileOverFourGibibytesPlaysItsWholeLength) {
    const quint64 dataSize = (quint64(5) << 30) + 4; // whole 4-byte frames
    const QByteArray head = Wave64("RF64", Ds64(dataSize), WavFmtChunk(16, 1, 2, 44100, 16), {});
    const QString path = dir.filePath("big.wav");
    WriteFile(path, head);
    QFile file(path);
    if (!file.resize(qint64(head.size()) + qint64(dataSize) + 8))
        GTEST_SKIP() << "no room for a sparse file of 5 GiB here";
    TWaveFileInfo info;
    ASSERT_TRUE(ReadWaveFileInfo(path, info));
    EXPECT_FALSE(info.Truncated);
    EXPECT_FALSE(info.Streamed);
    EXPECT_EQ(info.DataLength, qint64(dataSize));
    EXPECT_EQ(info.FileSize, qint64(head.size()) + qint64(dataSize) + 8);
    EXPECT_EQ(info.Duration, 30434); // 5 GiB at 176400 bytes/s: 8 h 27 min
    TWaveSampleReader reader(path, info);
    EXPECT_EQ(reader.Frames(), qint64(dataSize / 4));
    ASSERT_TRUE(reader.Seek(reader.Frames() - 1));
    uint8_t last[4];
    EXPECT_EQ(reader.ReadBytes(last, 2), 1);
}

// The encoder reads WAV files through the reader: the same samples in a 64-bit file make
// the same MP3 file.
TEST_F(WaveReaderTest, SixtyFourBitFileEncodesLikeThePlainOne) {
    const QByteArray audio = ToneSamples(1, 16, 44100, 1.3, {{440, 0.5}, {1000, 0.25}});
    const QByteArray fmt = WavFmtChunk(16, 1, 2, 44100, 16);
    const QString plain = dir.filePath("plain.wav"), wide = dir.filePath("wide.wav");
    WriteFile(plain, RiffWave(fmt + WavChunk("data", audio)));
    WriteFile(wide, Wave64("RF64", Ds64(quint64(audio.size())), fmt + List("Lavf"), audio,
                           0xFFFFFFFF, List("after the audio")));
    for (const bool vbr : {false, true}) {
        TLameCoder coder;
        coder.SetEnableVBR(vbr);
        coder.SetMode(JSTEREO);
        coder.SetInputFiles({plain, wide});
        coder.Encode();
        const QByteArray fromPlain = ReadFile(coder.OutputFiles()[0]);
        EXPECT_GT(fromPlain.size(), 10000);
        EXPECT_EQ(ReadFile(coder.OutputFiles()[1]), fromPlain) << vbr;
    }
}
