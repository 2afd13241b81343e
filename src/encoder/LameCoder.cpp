#include "encoder/LameCoder.h"

#include "inspect/MP3WavComm.h"
#include "platform/FilePaths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <bit>
#include <memory>

static_assert(std::endian::native == std::endian::little,
              "PCM files are little-endian and are handed to the encoder as they are read");

namespace {

BE_BOOL ToBeBool(bool Value) {
    return Value ? BE_TRUE : BE_FALSE;
}

// What the library's channel count is for a mode: the configuration record has no
// channel field, so mono mode means one input channel and every other mode two.
int EncoderChannels(TLameMode Mode) {
    return Mode == MONO ? 1 : 2;
}

// Matches a block of interleaved samples to the encoder's channel count: mono is spread
// over both channels, stereo is mixed down. Returns the number of values written to Out.
size_t MatchChannels(const int16_t *In, size_t Values, int InChannels, int OutChannels,
                     std::vector<int16_t> &Out) {
    if (InChannels == 1 && OutChannels == 2) {
        Out.resize(Values * 2);
        for (size_t i = 0; i < Values; ++i)
            Out[2 * i] = Out[2 * i + 1] = In[i];
        return Values * 2;
    }
    const size_t frames = Values / 2;
    Out.resize(frames);
    for (size_t i = 0; i < frames; ++i)
        Out[i] = int16_t((int(In[2 * i]) + int(In[2 * i + 1])) / 2);
    return frames;
}

bool SameFile(const QString &A, const QString &B) {
    const QFileInfo a(A), b(B);
    return a.exists() && b.exists() && a.canonicalFilePath() == b.canonicalFilePath();
}

} // namespace

QString UnsupportedWaveFormat(const TWaveHeader &Header) {
    // Anything but 16-bit PCM would be read as if it were, and come out as noise.
    if (Header.FormatTag == 1 && Header.BitsPerSample == 16 &&
        (Header.Channels == 1 || Header.Channels == 2) && Header.BlockAlign == Header.Channels * 2)
        return {};
    return QStringLiteral("Only 16-bit PCM mono or stereo WAV files can be encoded "
                          "(this one has format tag %1, %2 bits, %3 channels)")
        .arg(Header.FormatTag)
        .arg(Header.BitsPerSample)
        .arg(Header.Channels);
}

TLameCoder::TLameCoder(QObject *Owner) : QObject(Owner) {
    BE_VERSION version;
    beVersion(&version);
    FLameVersion = {version.byDLLMajorVersion, version.byDLLMinorVersion, version.byMajorVersion,
                    version.byMinorVersion};
}

TLameCoder::~TLameCoder() {
    CloseStream();
}

void TLameCoder::SetInputFiles(const QStringList &Value) {
    FInputFiles = Value;
    FOutputFiles.clear();
    for (const QString &input : FInputFiles)
        FOutputFiles << ChangeFileExt(input, FDefaultExt);
}

void TLameCoder::Assign(const TLameCoder &Source) {
    FSampleRate = Source.FSampleRate;
    FBitrate = Source.FBitrate;
    FMaxBitrate = Source.FMaxBitrate;
    FQuality = Source.FQuality;
    FPrivate = Source.FPrivate;
    FCRC = Source.FCRC;
    FMode = Source.FMode;
    FCopyright = Source.FCopyright;
    FOriginal = Source.FOriginal;
    FWriteVBRHeader = Source.FWriteVBRHeader;
    FEnableVBR = Source.FEnableVBR;
    FVBRQuality = Source.FVBRQuality;
}

BE_CONFIG TLameCoder::Config() const {
    BE_CONFIG config{};
    config.dwConfig = BE_CONFIG_LAME;
    config.dwStructVersion = BE_CONFIG_STRUCT_VERSION;
    config.dwStructSize = sizeof(BE_CONFIG);
    config.dwSampleRate = FSampleRate;
    config.dwReSampleRate = 0;
    config.nMode = FMode;
    config.dwBitrate = FBitrate;
    config.dwMaxBitrate = FMaxBitrate;
    config.nPreset = FQuality;
    config.dwMpegVersion = 1;
    config.dwPsyModel = 0;
    config.dwEmphasis = 0;
    config.bPrivate = ToBeBool(FPrivate);
    config.bCRC = ToBeBool(FCRC);
    config.bCopyright = ToBeBool(FCopyright);
    config.bOriginal = ToBeBool(FOriginal);
    config.bWriteVBRHeader = ToBeBool(FWriteVBRHeader);
    config.bEnableVBR = ToBeBool(FEnableVBR);
    config.nVBRQuality = FVBRQuality;
    return config;
}

BE_ERR TLameCoder::InitStream() {
    CloseStream();
    const BE_CONFIG config = Config();
    const BE_ERR result = beInitStream(&config, &FSamplesPerChunk, &FOutputBufferSize, &FStream);
    if (result == BE_ERR_SUCCESSFUL) {
        FStreamOpen = true;
        FOutputBuffer.assign(FOutputBufferSize, 0);
    }
    return result;
}

void TLameCoder::CloseStream() {
    FOutputBuffer = {};
    if (FStreamOpen)
        beCloseStream(FStream);
    FStreamOpen = false;
    FStream = 0;
}

void TLameCoder::Encode() {
    FAborted = false;
    if (OnBeginProcess)
        OnBeginProcess(*this);
    for (int i = 0; i < FInputFiles.size(); ++i) {
        EncodeFile(i);
        if (FAborted)
            return;
        if (OnEndFile)
            OnEndFile(*this, uint16_t(i), FOutputFiles.value(i));
    }
    if (OnEndProcess)
        OnEndProcess(*this);
}

void TLameCoder::WriteOutput(QFile &Output, uint32_t Bytes, const char *ShortWriteMessage) {
    if (Bytes > 0 &&
        Output.write(reinterpret_cast<const char *>(FOutputBuffer.data()), Bytes) != qint64(Bytes))
        throw ELameError(QString::fromLatin1(ShortWriteMessage));
}

void TLameCoder::ReleaseFile() {
    FInputBuffer = {};
    FChannelBuffer = {};
    CloseStream();
}

void TLameCoder::EncodeFile(int Index) {
    const QString inputName = FInputFiles.at(Index);
    const QString outputName = FOutputFiles.value(Index);
    const BE_ERR initResult = InitStream();
    if (OnBeginFile)
        OnBeginFile(*this, uint16_t(Index), inputName);

    // However the file ends, the input and then the output close as these go out of
    // scope, and only then are the buffers freed and the stream closed.
    struct Release {
        TLameCoder *coder;
        ~Release() { coder->ReleaseFile(); }
    } release{this};
    auto output = std::make_unique<QFile>(outputName);
    auto input = std::make_unique<QFile>(inputName);

    if (!input->open(QIODevice::ReadOnly))
        throw EFOpenError(inputName, input->errorString());
    // Creating the output truncates it, which must never happen to the source.
    if (SameFile(inputName, outputName))
        throw EFCreateError(outputName, QStringLiteral("It is the source file itself."));

    uint8_t headerBytes[TWaveHeader::Size] = {};
    input->read(reinterpret_cast<char *>(headerBytes), sizeof headerBytes);
    const TWaveHeader header = TWaveHeader::FromBytes(headerBytes);
    const int encoderChannels = EncoderChannels(FMode);
    int inputChannels = encoderChannels;
    qint64 chunkBytes = 0;
    qint64 dataLength = 0;
    if (header.WaveId == std::array{'W', 'A', 'V', 'E'}) {
        if (const QString reason = UnsupportedWaveFormat(header); !reason.isEmpty())
            throw ELameError(reason);
        inputChannels = header.Channels;
        chunkBytes = qint64(FSamplesPerChunk) * header.BlockAlign;
        dataLength = input->size() - TWaveHeader::Size;
    } else {
        chunkBytes = qint64(FSamplesPerChunk) * (FMode == MONO ? 1 : 2);
        dataLength = input->size();
        input->seek(0);
    }

    // Created only now, so that input it cannot encode leaves an existing output alone.
    if (!output->open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EFCreateError(outputName, output->errorString());

    FInputBuffer.resize(size_t(chunkBytes + 1) / 2);
    qint64 done = 0;
    while (done != dataLength) {
        // A refused stream has no chunk size; the first chunk reports the refusal.
        if (!FStreamOpen)
            throw ELameError(QStringLiteral("beEncodeChunk failed %1").arg(initResult));
        const qint64 n = done + chunkBytes < dataLength ? chunkBytes : dataLength - done;
        if (input->read(reinterpret_cast<char *>(FInputBuffer.data()), n) != n)
            throw ELameError(QStringLiteral("Read Error"));

        const int16_t *samples = FInputBuffer.data();
        size_t values = size_t(n / 2);
        if (inputChannels != encoderChannels) {
            values = MatchChannels(samples, values, inputChannels, encoderChannels, FChannelBuffer);
            samples = FChannelBuffer.data();
        }
        uint32_t produced = 0;
        const BE_ERR result =
            beEncodeChunk(FStream, uint32_t(values), samples, FOutputBuffer.data(), &produced);
        if (result != BE_ERR_SUCCESSFUL)
            throw ELameError(QStringLiteral("beEncodeChunk failed %1").arg(result));
        WriteOutput(*output, produced, "Write Error");

        done += n;
        if (OnProgress)
            OnProgress(*this, uint16_t(double(done) / double(dataLength) * 100.0));
        if (FAborted.load(std::memory_order_relaxed))
            return;
    }

    if (FStreamOpen) {
        uint32_t produced = 0;
        beDeinitStream(FStream, FOutputBuffer.data(), &produced);
        WriteOutput(*output, produced, "Write error");
        // The VBR/Info header is only known now; it replaces the placeholder frame that
        // opened the stream.
        if (FWriteVBRHeader) {
            uint32_t frameBytes = 0;
            if (beGetInfoFrame(FStream, FOutputBuffer.data(), &frameBytes) == BE_ERR_SUCCESSFUL &&
                frameBytes > 0) {
                if (!output->seek(0))
                    throw ELameError(QStringLiteral("Write error"));
                WriteOutput(*output, frameBytes, "Write error");
            }
        }
    }
    // Unbuffered data reaches the disk when the file closes; a full disk shows up here.
    if (!output->flush())
        throw ELameError(QStringLiteral("Write error"));
}
