#include "sources/SoundFile.h"

#include "inspect/WaveReader.h"
#include "platform/Exception.h"
#include "platform/FilePaths.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QIODevice>
#include <QStringList>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// libsndfile reads through the device the caller opened, so a file is opened once and
// by the same checks as every other source.
QIODevice *DeviceOf(void *User) {
    return static_cast<QIODevice *>(User);
}
sf_count_t IoLength(void *User) {
    return DeviceOf(User)->size();
}
sf_count_t IoSeek(sf_count_t Offset, int Whence, void *User) {
    QIODevice *device = DeviceOf(User);
    const qint64 base = Whence == SEEK_CUR   ? device->pos()
                        : Whence == SEEK_END ? device->size()
                                             : 0;
    if (base + Offset < 0 || !device->seek(base + Offset))
        return -1;
    return device->pos();
}
sf_count_t IoRead(void *Buffer, sf_count_t Count, void *User) {
    const qint64 got = DeviceOf(User)->read(static_cast<char *>(Buffer), Count);
    return got < 0 ? 0 : got;
}
sf_count_t IoWrite(const void *, sf_count_t, void *) {
    return 0;
}
sf_count_t IoTell(void *User) {
    return DeviceOf(User)->pos();
}
SF_VIRTUAL_IO ReadOnlyIo{IoLength, IoSeek, IoRead, IoWrite, IoTell};

struct SoundFileCloser {
    void operator()(SNDFILE *File) const { sf_close(File); }
};
using TSoundFileHandle = std::unique_ptr<SNDFILE, SoundFileCloser>;

TSoundFileHandle OpenForReading(QIODevice &Device, SF_INFO &Info, QString &Problem) {
    Info = {};
    if (!Device.seek(0)) {
        Problem = Device.errorString();
        return {};
    }
    TSoundFileHandle file(sf_open_virtual(&ReadOnlyIo, SFM_READ, &Info, &Device));
    if (!file) {
        QString reason = QString::fromLocal8Bit(sf_strerror(nullptr)).trimmed();
        if (reason.endsWith(u'.'))
            reason.chop(1);
        Problem = QStringLiteral("not an audio file that can be read (%1)").arg(reason);
    }
    return file;
}

struct TSubFormat {
    int Code;
    const char *Name;
    int Bits;
    TPcmSampleType Type;
};

// Samples of 16 bits or fewer (companded and ADPCM ones decode to that) arrive exactly as
// 16-bit values, deeper integers as 32-bit ones, and floating point and lossy formats as
// float: nothing is rounded on the way to the encoder.
constexpr TSubFormat SubFormats[] = {
    {SF_FORMAT_PCM_S8, "8-bit", 8, pstInt16},
    {SF_FORMAT_PCM_U8, "8-bit", 8, pstInt16},
    {SF_FORMAT_PCM_16, "16-bit", 16, pstInt16},
    {SF_FORMAT_PCM_24, "24-bit", 24, pstInt32},
    {SF_FORMAT_PCM_32, "32-bit", 32, pstInt32},
    {SF_FORMAT_FLOAT, "32-bit float", 32, pstFloat},
    {SF_FORMAT_DOUBLE, "64-bit float", 64, pstFloat},
    {SF_FORMAT_ULAW, "\u00b5-law", 0, pstInt16},
    {SF_FORMAT_ALAW, "A-law", 0, pstInt16},
    {SF_FORMAT_IMA_ADPCM, "IMA ADPCM", 0, pstInt16},
    {SF_FORMAT_MS_ADPCM, "MS ADPCM", 0, pstInt16},
    {SF_FORMAT_GSM610, "GSM 6.10", 0, pstInt16},
    {SF_FORMAT_DWVW_12, "12-bit DWVW", 12, pstInt16},
    {SF_FORMAT_DWVW_16, "16-bit DWVW", 16, pstInt16},
    {SF_FORMAT_DWVW_24, "24-bit DWVW", 24, pstInt32},
    {SF_FORMAT_DPCM_8, "8-bit DPCM", 8, pstInt16},
    {SF_FORMAT_DPCM_16, "16-bit DPCM", 16, pstInt16},
    {SF_FORMAT_ALAC_16, "16-bit ALAC", 16, pstInt16},
    {SF_FORMAT_ALAC_20, "20-bit ALAC", 20, pstInt32},
    {SF_FORMAT_ALAC_24, "24-bit ALAC", 24, pstInt32},
    {SF_FORMAT_ALAC_32, "32-bit ALAC", 32, pstInt32},
    {SF_FORMAT_VORBIS, "Vorbis", 0, pstFloat},
    {SF_FORMAT_OPUS, "Opus", 0, pstFloat},
    {SF_FORMAT_MPEG_LAYER_I, "MPEG Layer I", 0, pstFloat},
    {SF_FORMAT_MPEG_LAYER_II, "MPEG Layer II", 0, pstFloat},
    {SF_FORMAT_MPEG_LAYER_III, "MPEG Layer III", 0, pstFloat},
};

// libsndfile's own name of a format, without the maker it adds in brackets.
QString LibraryFormatName(int Format, int Command) {
    SF_FORMAT_INFO info{};
    info.format = Format;
    if (sf_command(nullptr, Command, &info, sizeof info) != 0 || !info.name)
        return QStringLiteral("format 0x%1").arg(Format, 0, 16);
    const QString name = QString::fromLatin1(info.name);
    const qsizetype bracket = name.indexOf(QLatin1String(" ("));
    return bracket > 0 ? name.left(bracket) : name;
}

QString ContainerName(int Major, bool Aifc) {
    switch (Major) {
    case SF_FORMAT_AIFF:
        return Aifc ? QStringLiteral("AIFC") : QStringLiteral("AIFF");
    case SF_FORMAT_FLAC:
        return QStringLiteral("FLAC");
    case SF_FORMAT_OGG:
        return QStringLiteral("Ogg");
    case SF_FORMAT_W64:
        return QStringLiteral("W64");
    case SF_FORMAT_CAF:
        return QStringLiteral("CAF");
    case SF_FORMAT_RF64:
        return QStringLiteral("RF64");
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        return QStringLiteral("WAV");
    default:
        return LibraryFormatName(Major, SFC_GET_FORMAT_INFO);
    }
}

void Describe(const SF_INFO &Sf, bool Aifc, TSoundFileInfo &Info) {
    const int major = Sf.format & SF_FORMAT_TYPEMASK;
    const int sub = Sf.format & SF_FORMAT_SUBMASK;
    // MP3 files read by libsndfile belong to the other list, which decodes them.
    if (major == SF_FORMAT_MPEG) {
        Info.Problem = QStringLiteral("MPEG audio is decoded to WAV, not encoded");
        return;
    }
    Info.Valid = true;
    Info.Format = ContainerName(major, Aifc);
    const auto *known = std::find_if(std::begin(SubFormats), std::end(SubFormats),
                                     [sub](const TSubFormat &F) { return F.Code == sub; });
    if (known != std::end(SubFormats)) {
        Info.SubFormat = QString::fromUtf8(known->Name);
        Info.Bits = known->Bits;
        Info.SampleType = known->Type;
    } else {
        Info.SubFormat = LibraryFormatName(sub, SFC_GET_FORMAT_INFO);
        Info.SampleType = pstInt32;
    }
    Info.IsFloat = Info.SampleType == pstFloat;
    Info.FormatText = Info.Format + u' ' + Info.SubFormat;
    Info.SampleRate = Sf.samplerate;
    Info.Channels = Sf.channels;
    Info.Frames = Sf.frames;
    Info.Duration = Sf.samplerate > 0 ? double(Sf.frames) / Sf.samplerate : 0;
}

// AIFF and AIFC share one libsndfile format; the form type tells them apart.
bool IsAifc(QIODevice &Device) {
    char head[12] = {};
    return Device.seek(0) && Device.read(head, sizeof head) == sizeof head &&
           std::memcmp(head, "FORM", 4) == 0 && std::memcmp(head + 8, "AIFC", 4) == 0;
}

template <typename T> T ToInteger(float Value) {
    constexpr double scale = double(std::numeric_limits<T>::max()) + 1.0;
    const double scaled = std::nearbyint(double(Value) * scale);
    return T(std::clamp(scaled, double(std::numeric_limits<T>::min()),
                        double(std::numeric_limits<T>::max())));
}

class TSoundFileSource : public TPcmSource {
public:
    TSoundFileSource(TSoundFileHandle File, const TSoundFileInfo &Info)
        : FFile(std::move(File)), FChannels(Info.Channels), FFrames(Info.Frames),
          FType(Info.SampleType) {}

    int Channels() const override { return FChannels; }
    qint64 Frames() const override { return FFrames; }
    qint64 Position() const override { return FPosition; }
    TPcmSampleType SampleType() const override { return FType; }

    qint64 Read(int16_t *Out, qint64 MaxFrames) override {
        if (FType == pstFloat)
            return ReadFloatAs(Out, MaxFrames);
        return Count(sf_readf_short(FFile.get(), Out, Limit(MaxFrames)));
    }
    qint64 Read(int32_t *Out, qint64 MaxFrames) override {
        if (FType == pstFloat)
            return ReadFloatAs(Out, MaxFrames);
        return Count(sf_readf_int(FFile.get(), Out, Limit(MaxFrames)));
    }
    qint64 Read(float *Out, qint64 MaxFrames) override {
        return Count(sf_readf_float(FFile.get(), Out, Limit(MaxFrames)));
    }
    qint64 Read(double *Out, qint64 MaxFrames) override {
        return Count(sf_readf_double(FFile.get(), Out, Limit(MaxFrames)));
    }

private:
    sf_count_t Limit(qint64 MaxFrames) const {
        return std::max<qint64>(0, std::min(MaxFrames, Remaining()));
    }
    qint64 Count(sf_count_t Got) {
        const qint64 frames = std::max<sf_count_t>(Got, 0);
        FPosition += frames;
        return frames;
    }
    // libsndfile's own float-to-integer reading scales by the file's peak, not by full scale.
    template <typename T> qint64 ReadFloatAs(T *Out, qint64 MaxFrames) {
        FFloats.resize(size_t(Limit(MaxFrames) * FChannels));
        const qint64 got = Read(FFloats.data(), MaxFrames);
        for (size_t i = 0; i < size_t(got * FChannels); ++i)
            Out[i] = ToInteger<T>(FFloats[i]);
        return got;
    }

    TSoundFileHandle FFile;
    int FChannels;
    qint64 FFrames;
    TPcmSampleType FType;
    qint64 FPosition = 0;
    std::vector<float> FFloats;
};

} // namespace

bool IsSoundFileName(const QString &FileName) {
    static const QStringList extensions{".FLAC", ".AIF",  ".AIFF", ".AIFC", ".OGG",
                                        ".OGA",  ".OPUS", ".W64",  ".CAF",  ".RF64"};
    return extensions.contains(UpperFileExt(FileName));
}

void ReadSoundFile(QIODevice &Device, TSoundFileInfo &Info) {
    Info = {};
    Info.FileSize = Device.size();
    const bool aifc = IsAifc(Device);
    SF_INFO sf{};
    if (TSoundFileHandle file = OpenForReading(Device, sf, Info.Problem))
        Describe(sf, aifc, Info);
}

bool ReadSoundFileInfo(const QString &FileName, TSoundFileInfo &Info) {
    QFile file(FileName);
    OpenRegularFileOrThrow(FileName, file);
    ReadSoundFile(file, Info);
    return Info.Valid;
}

QString UnsupportedSoundFile(const TSoundFileInfo &Info) {
    if (!Info.Valid)
        return Info.Problem;
    if (Info.Channels > 2)
        return QStringLiteral("%1 files with more than two channels cannot be encoded (this one "
                              "has %2); mix it down to stereo or mono first")
            .arg(Info.Format)
            .arg(Info.Channels);
    if (Info.Channels < 1)
        return QStringLiteral("the file has no channels");
    if (Info.SampleRate < 1 || uint32_t(Info.SampleRate) > MaxWaveSampleRate)
        return QStringLiteral("the sample rate of %1 Hz is outside 1 to %2 Hz")
            .arg(Info.SampleRate)
            .arg(MaxWaveSampleRate);
    if (Info.Frames <= 0 || Info.Frames == SF_COUNT_MAX)
        return QStringLiteral("The file holds no audio");
    return {};
}

std::unique_ptr<TPcmSource> OpenSoundFileSource(QIODevice &Device, const TSoundFileInfo *Expected,
                                                QString &Problem) {
    const bool aifc = IsAifc(Device);
    SF_INFO sf{};
    TSoundFileHandle file = OpenForReading(Device, sf, Problem);
    if (!file)
        return {};
    TSoundFileInfo info;
    info.FileSize = Device.size();
    Describe(sf, aifc, info);
    if (Problem = UnsupportedSoundFile(info); !Problem.isEmpty())
        return {};
    if (Expected &&
        (Expected->FormatText != info.FormatText || Expected->Channels != info.Channels ||
         Expected->SampleRate != info.SampleRate || Expected->Frames != info.Frames)) {
        Problem = QStringLiteral("the file changed since it was read");
        return {};
    }
    return std::make_unique<TSoundFileSource>(std::move(file), info);
}

bool SoundFileDecodesMpeg() {
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 &&
            (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG)
            return true;
    }
    return false;
}

std::unique_ptr<TPcmSource> OpenDecodedMpeg(QIODevice &Device, int &SampleRate, QString &Problem) {
    SampleRate = 0;
    SF_INFO sf{};
    TSoundFileHandle file = OpenForReading(Device, sf, Problem);
    if (!file)
        return {};
    if ((sf.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG) {
        Problem = QStringLiteral("not MPEG audio");
        return {};
    }
    if (sf.channels <= 0 || sf.samplerate <= 0 || sf.frames <= 0 || sf.frames == SF_COUNT_MAX) {
        Problem = QStringLiteral("no audio of known length");
        return {};
    }
    TSoundFileInfo info;
    info.Valid = true;
    info.Channels = sf.channels;
    info.SampleRate = sf.samplerate;
    info.Frames = sf.frames;
    info.SampleType = pstFloat;
    SampleRate = sf.samplerate;
    return std::make_unique<TSoundFileSource>(std::move(file), info);
}

QStringList SoundInfoLines(const TSoundFileInfo &Info, int32_t Duration) {
    QStringList lines{QStringLiteral("Format: %1").arg(Info.FormatText)};
    if (Info.Bits > 0)
        lines << QStringLiteral("Bits/Sample: %1").arg(Info.Bits);
    lines << QStringLiteral("File size: %1").arg(Info.FileSize)
          << QStringLiteral("Length: %1").arg(Duration)
          << QStringLiteral("Channels: %1").arg(Info.Channels)
          << QStringLiteral("Samplerate: %1").arg(Info.SampleRate)
          << QStringLiteral("Frames: %1").arg(Info.Frames);
    return lines;
}
