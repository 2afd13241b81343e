#include "encoder/LameCoder.h"

#include "inspect/MP3WavComm.h"
#include "inspect/WaveReader.h"
#include "platform/FilePaths.h"
#include "platform/PartialFiles.h"
#include "platform/RegularFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
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

int16_t Mix(int16_t A, int16_t B) {
    return int16_t((int(A) + int(B)) / 2);
}
int32_t Mix(int32_t A, int32_t B) {
    return int32_t((int64_t(A) + B) / 2);
}
float Mix(float A, float B) {
    return (A + B) * 0.5f;
}

// Matches a block of interleaved samples to the encoder's channel count: mono is spread
// over both channels, stereo is mixed down. Returns the number of values written to Out.
template <typename T>
size_t MatchChannels(const T *In, size_t Values, int InChannels, int OutChannels,
                     std::vector<T> &Out) {
    if (InChannels == 1 && OutChannels == 2) {
        Out.resize(Values * 2);
        for (size_t i = 0; i < Values; ++i)
            Out[2 * i] = Out[2 * i + 1] = In[i];
        return Values * 2;
    }
    const size_t frames = Values / 2;
    Out.resize(frames);
    for (size_t i = 0; i < frames; ++i)
        Out[i] = Mix(In[2 * i], In[2 * i + 1]);
    return frames;
}

BE_ERR EncodeSamples(HBE_STREAM Stream, uint32_t Values, const int16_t *Samples, uint8_t *Output,
                     uint32_t *Produced) {
    return beEncodeChunk(Stream, Values, Samples, Output, Produced);
}
BE_ERR EncodeSamples(HBE_STREAM Stream, uint32_t Values, const int32_t *Samples, uint8_t *Output,
                     uint32_t *Produced) {
    return beEncodeChunkInt32(Stream, Values, Samples, Output, Produced);
}
BE_ERR EncodeSamples(HBE_STREAM Stream, uint32_t Values, const float *Samples, uint8_t *Output,
                     uint32_t *Produced) {
    return beEncodeChunkFloat(Stream, Values, Samples, Output, Produced);
}

// Raw PCM as the WAV reader would describe it: 16-bit samples from the first byte, with as
// many channels as the encoder takes.
TWaveFileInfo RawPcmInfo(qint64 FileSize, int Channels) {
    TWaveFileInfo info;
    info.Valid = info.HasFormat = info.HasData = true;
    info.FileSize = FileSize;
    info.Header.FormatTag = WAVE_FORMAT_PCM;
    info.Header.Channels = uint16_t(Channels);
    info.Header.BlockAlign = uint16_t(2 * Channels);
    info.Header.BitsPerSample = 16;
    info.SampleFormat = {wskInteger, 16};
    info.DataLength = FileSize - FileSize % info.Header.BlockAlign;
    return info;
}

bool SameFile(const QString &A, const QString &B) {
    const QFileInfo a(A), b(B);
    return a.exists() && b.exists() && a.canonicalFilePath() == b.canonicalFilePath();
}

} // namespace

QString UnsupportedWaveFormat(const TWaveFileInfo &Info) {
    const TWaveHeader &h = Info.Header;
    if (h.Channels > 2)
        return QStringLiteral("WAV files with more than two channels cannot be encoded (this one "
                              "has %1); mix it down to stereo or mono first")
            .arg(h.Channels);
    if (Info.SampleFormat.IsReadable())
        return {};
    return QStringLiteral("Only WAV files of 8, 16, 24 or 32-bit PCM or 32 or 64-bit IEEE float "
                          "can be encoded (this one has format tag %1, %2 bits)")
        .arg(h.FormatTag)
        .arg(h.BitsPerSample);
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

void TLameCoder::SetInputFiles(const QStringList &Value, const std::vector<TSourceInfo> &Infos) {
    FInputFiles = Value;
    FInputInfos = Infos;
    FOutputFiles.clear();
    FOutputHandles.clear();
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
    FFindReplayGain = Source.FFindReplayGain;
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
    config.bFindReplayGain = ToBeBool(FFindReplayGain);
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

namespace {

// A full disk or a file-size limit (EFBIG) must say which file and why.
// Qt does not always keep the system's reason, so errno (cleared before the write) is
// preferred.
ELameError WriteError(const QFile &Output) {
    const QString reason =
        errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : Output.errorString();
    return ELameError(
        QStringLiteral("Write error: cannot write \"%1\". %2").arg(Output.fileName(), reason));
}

} // namespace

void TLameCoder::WriteOutput(QFile &Output, uint32_t Bytes) {
    errno = 0;
    if (Bytes > 0 &&
        Output.write(reinterpret_cast<const char *>(FOutputBuffer.data()), Bytes) != qint64(Bytes))
        throw WriteError(Output);
}

void TLameCoder::ReleaseFile() {
    FInput16 = {};
    FInput32 = {};
    FInputFloat = {};
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
    auto output = std::make_unique<TDescriptorFile>(outputName);
    auto input = std::make_unique<QFile>(inputName);

    OpenRegularFileOrThrow(inputName, *input);
    // Creating the output truncates it, which must never happen to the source.
    if (SameFile(inputName, outputName))
        throw EFCreateError(outputName, QStringLiteral("It is the source file itself."));

    // What the caller read and checked is taken as it is; otherwise the contents decide:
    // "WAVE" where a RIFF header has it makes a WAV file (or one libsndfile reads, when our
    // reader refuses it), a libsndfile or WAV extension a file for those readers, and anything
    // else raw PCM.
    TSourceInfo source =
        Index < int(FInputInfos.size()) ? FInputInfos[size_t(Index)] : TSourceInfo{};
    if (source.Kind == skNone) {
        char riff[12] = {};
        input->read(riff, sizeof riff);
        if (std::memcmp(riff + 8, "WAVE", 4) == 0 || IsSoundFileName(inputName) ||
            IsWaveFile(inputName))
            source = ReadSourceInfo(*input, inputName);
    }
    qint64 chunkFrames = FSamplesPerChunk;
    std::unique_ptr<TPcmSource> reader;
    QString problem;
    switch (source.Kind) {
    case skWave:
        if (!source.Wave.Valid)
            throw ELameError(
                QStringLiteral("Not a usable WAV file: %1").arg(WaveFileProblem(source.Wave)));
        if (const QString reason = UnsupportedWaveFormat(source.Wave); !reason.isEmpty())
            throw ELameError(reason);
        // Without one whole frame the encoder would still write a stream of headers only,
        // which nothing can play.
        if (source.Wave.DataLength <= 0)
            throw ELameError(QStringLiteral("The file holds no audio"));
        reader = std::make_unique<TWavePcmSource>(*input, source.Wave);
        break;
    case skSoundFile:
        reader = OpenSoundFileSource(*input, &source.Sound, problem);
        if (!reader)
            throw ELameError(problem);
        break;
    case skNone: {
        const TWaveFileInfo raw = RawPcmInfo(input->size(), EncoderChannels(FMode));
        if (raw.DataLength <= 0)
            throw ELameError(QStringLiteral("The file holds no audio"));
        chunkFrames = qint64(FSamplesPerChunk) * (FMode == MONO ? 1 : 2) / raw.Header.BlockAlign;
        reader = std::make_unique<TWavePcmSource>(*input, raw);
        break;
    }
    }

    // Created only now, so that input it cannot encode leaves an existing output alone.
    // A file the caller holds open is written through its descriptor, never reopened by name.
    const int handle = Index < int(FOutputHandles.size()) ? FOutputHandles[size_t(Index)] : -1;
    if (handle >= 0) {
        if (!output->OpenForWriting(handle))
            throw EFCreateError(outputName, QString::fromLocal8Bit(std::strerror(errno)));
    } else if (!output->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw EFCreateError(outputName, output->errorString());
    }

    const TPcmSampleType type = reader->SampleType();
    const qint64 totalFrames = reader->Frames();
    while (reader->Remaining() > 0) {
        // A refused stream has no chunk size; the first chunk reports the refusal.
        if (!FStreamOpen)
            throw ELameError(QStringLiteral("beEncodeChunk failed %1").arg(initResult));
        const qint64 frames = std::min(chunkFrames, reader->Remaining());
        uint32_t produced = 0;
        if (type == pstInt16)
            produced = EncodeBlock(*reader, frames, FInput16);
        else if (type == pstInt32)
            produced = EncodeBlock(*reader, frames, FInput32);
        else
            produced = EncodeBlock(*reader, frames, FInputFloat);
        WriteOutput(*output, produced);

        if (OnProgress)
            OnProgress(*this, uint16_t(double(reader->Position()) / double(totalFrames) * 100.0));
        if (FAborted.load(std::memory_order_relaxed))
            return;
    }

    if (FStreamOpen) {
        uint32_t produced = 0;
        beDeinitStream(FStream, FOutputBuffer.data(), &produced);
        WriteOutput(*output, produced);
        // The VBR/Info header is only known now; it replaces the placeholder frame that
        // opened the stream. CBR files always carry one: it records the encoder's delay and
        // padding, so that decoders give back exactly the source's samples.
        if (FWriteVBRHeader || !FEnableVBR) {
            uint32_t frameBytes = 0;
            if (beGetInfoFrame(FStream, FOutputBuffer.data(), &frameBytes) == BE_ERR_SUCCESSFUL &&
                frameBytes > 0) {
                errno = 0;
                if (!output->seek(0))
                    throw WriteError(*output);
                WriteOutput(*output, frameBytes);
            }
        }
    }
    // Unbuffered data reaches the disk when the file closes; a full disk shows up here.
    errno = 0;
    if (!output->flush())
        throw WriteError(*output);
}

template <typename T>
uint32_t TLameCoder::EncodeBlock(TPcmSource &Source, qint64 Frames, TSampleBuffers<T> &Buffers) {
    const int InputChannels = Source.Channels();
    Buffers.Input.resize(size_t(Frames * InputChannels));
    if (Source.Read(Buffers.Input.data(), Frames) != Frames)
        throw ELameError(QStringLiteral("Read Error"));
    const T *samples = Buffers.Input.data();
    size_t values = Buffers.Input.size();
    const int encoderChannels = EncoderChannels(FMode);
    if (InputChannels != encoderChannels) {
        values = MatchChannels(samples, values, InputChannels, encoderChannels, Buffers.Matched);
        samples = Buffers.Matched.data();
    }
    uint32_t produced = 0;
    const BE_ERR result =
        EncodeSamples(FStream, uint32_t(values), samples, FOutputBuffer.data(), &produced);
    if (result != BE_ERR_SUCCESSFUL)
        throw ELameError(QStringLiteral("beEncodeChunk failed %1").arg(result));
    return produced;
}
