#include "conversion/Normalize.h"

#include "conversion/AlbumGain.h"

#include "conversion/SafeOutput.h"
#include "platform/Exception.h"
#include "platform/PartialFiles.h"
#include "platform/RegularFile.h"
#include "sources/SourceInfo.h"

#include <QFile>
#include <QtEndian>
#include <ebur128.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

// 100 - remaining / length x 100, to the nearest integer with ties to even.
int Percent(qint64 Remaining, qint64 Length) {
    return int(std::nearbyint(100.0 - double(Remaining) / double(Length) * 100.0));
}

void OpenAt(QFile &File, qint64 Offset) {
    OpenRegularFileOrThrow(File.fileName(), File);
    if (!File.seek(Offset))
        throw EFOpenError(File.fileName(), File.errorString());
}

void WriteAll(QFile &File, const char *Data, qint64 Size) {
    // A short write is followed by one that fails, which gives the system's reason.
    while (Size > 0) {
        errno = 0;
        const qint64 written = File.write(Data, Size);
        if (written <= 0) {
            const QString reason =
                errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : File.errorString();
            throw Exception(QStringLiteral("Cannot write \"%1\". %2").arg(File.fileName(), reason));
        }
        Data += written;
        Size -= written;
    }
}

// Copies Size bytes from In to Out.
void CopyBytes(QFile &In, QFile &Out, qint64 Size, std::vector<char> &Buffer) {
    while (Size > 0) {
        const qint64 got = In.read(Buffer.data(), std::min<qint64>(Size, qint64(Buffer.size())));
        if (got <= 0)
            throw EFOpenError(In.fileName(), In.errorString());
        WriteAll(Out, Buffer.data(), got);
        Size -= got;
    }
}

bool Usable(const TWaveFileInfo &Info) {
    return Info.DataLength > 0 && Info.SampleFormat.IsReadable();
}

} // namespace

bool ScanPeak(const QString &Path, const TWaveFileInfo &Info, double &Peak,
              const std::atomic<bool> &Abort, const TPercentEvent &Progress) {
    Peak = 0;
    QFile file(Path);
    OpenAt(file, Info.DataOffset);
    if (!Usable(Info))
        return false;
    const TWaveSampleFormat format = Info.SampleFormat;
    const int bytes = format.Bytes();
    const bool isFloat = format.Kind == wskFloat;
    std::vector<uint8_t> buffer(size_t(NormalizeChunkSamples) * size_t(bytes));
    // Integers compare left-justified to 32 bits, exactly; floats as they are. The negative
    // full scale has no positive twin: it counts as the largest positive value, so a
    // full-scale 16-bit file peaks at 32767 whichever way it swings.
    constexpr int64_t integerFullScale = int64_t(32767) << 16;
    std::vector<int32_t> integers(isFloat ? 0 : NormalizeChunkSamples);
    std::vector<double> reals(isFloat ? NormalizeChunkSamples : 0);
    int32_t positivePeak = 0;
    int32_t negativePeak = 0;
    double realPeak = 0;
    qint64 remaining = Info.DataLength;
    while (remaining > 0) {
        const qint64 want = std::min<qint64>(remaining, qint64(buffer.size()));
        const qint64 got = file.read(reinterpret_cast<char *>(buffer.data()), want);
        if (got <= 0)
            break; // the file shrank: the peak covers what was there
        const size_t count = size_t(got / bytes);
        if (isFloat) {
            DecodeWaveSamples(buffer.data(), count, format, reals.data());
            for (size_t i = 0; i < count; ++i)
                realPeak = std::max(realPeak, std::abs(reals[i]));
        } else {
            DecodeWaveSamples(buffer.data(), count, format, integers.data());
            for (size_t i = 0; i < count; ++i) {
                positivePeak = std::max(positivePeak, integers[i]);
                negativePeak = std::min(negativePeak, integers[i]);
            }
        }
        remaining -= got;
        if (Progress)
            Progress(Percent(remaining, Info.DataLength));
        if (Abort.load(std::memory_order_relaxed))
            break;
    }
    const int64_t integerPeak =
        std::max<int64_t>(positivePeak, std::min(-int64_t(negativePeak), integerFullScale));
    Peak = isFloat ? realPeak * 32768.0 : double(integerPeak) / 65536.0;
    return true;
}

bool ScanPeak(TPcmSource &Source, double &Peak, const std::atomic<bool> &Abort,
              const TPercentEvent &Progress) {
    Peak = 0;
    const qint64 total = Source.Frames();
    if (total <= 0)
        return false;
    const int channels = Source.Channels();
    const qint64 chunkFrames = std::max(1, NormalizeChunkSamples / channels);
    const bool isFloat = Source.SampleType() == pstFloat;
    // As for WAV files: integers compared left-justified, the negative full scale counted as
    // the positive one.
    constexpr int64_t integerFullScale = int64_t(32767) << 16;
    std::vector<int32_t> integers(isFloat ? 0 : size_t(chunkFrames * channels));
    std::vector<double> reals(isFloat ? size_t(chunkFrames * channels) : 0);
    int32_t positivePeak = 0;
    int32_t negativePeak = 0;
    double realPeak = 0;
    while (Source.Remaining() > 0) {
        const qint64 want = std::min(chunkFrames, Source.Remaining());
        const qint64 got =
            isFloat ? Source.Read(reals.data(), want) : Source.Read(integers.data(), want);
        if (got <= 0)
            break; // the file shrank: the peak covers what was there
        const size_t count = size_t(got * channels);
        if (isFloat) {
            for (size_t i = 0; i < count; ++i)
                realPeak = std::max(realPeak, std::abs(reals[i]));
        } else {
            for (size_t i = 0; i < count; ++i) {
                positivePeak = std::max(positivePeak, integers[i]);
                negativePeak = std::min(negativePeak, integers[i]);
            }
        }
        if (Progress)
            Progress(Percent(Source.Remaining(), total));
        if (Abort.load(std::memory_order_relaxed))
            break;
    }
    const int64_t integerPeak =
        std::max<int64_t>(positivePeak, std::min(-int64_t(negativePeak), integerFullScale));
    Peak = isFloat ? realPeak * 32768.0 : double(integerPeak) / 65536.0;
    return true;
}

double PeakLevel(double Peak) {
    return double((static_cast<long double>(Peak) - 1) / 327.66L);
}

bool NormalizeWave(const QString &Path, const TWaveFileInfo &Info, double Factor,
                   const QString &TempFolder, TPartialFile &Temp, const std::atomic<bool> &Abort,
                   const TPercentEvent &Progress) {
    // A name no file of the user's can have, in the folder where the result is wanted, so
    // that it can be renamed into place; written only through its descriptor.
    QString why;
    Temp = CreateUniqueFile(TempFolder, QStringLiteral(".tmp"), why);
    if (!Temp)
        throw EFCreateError(TempFolder, why);
    TDescriptorFile temp(Temp.Path());
    if (!temp.OpenForWriting(Temp.Handle()))
        throw EFCreateError(Temp.Path(), QString::fromLocal8Bit(std::strerror(errno)));

    QFile source(Path);
    OpenAt(source, 0);
    if (!Usable(Info))
        return false;

    std::vector<char> copyBuffer(64 * 1024);
    CopyBytes(source, temp, Info.DataOffset, copyBuffer);

    const TWaveSampleFormat format = Info.SampleFormat;
    const int bytes = format.Bytes();
    // Full scale is 1.0 in both directions for floats; integers are clamped to their own
    // range when they are stored.
    const bool isFloat = format.Kind == wskFloat;
    std::vector<uint8_t> buffer(size_t(NormalizeChunkSamples) * size_t(bytes));
    std::vector<double> values(NormalizeChunkSamples);
    qint64 remaining = Info.DataLength;
    while (remaining > 0) {
        const qint64 want = std::min<qint64>(remaining, qint64(buffer.size()));
        const qint64 got = source.read(reinterpret_cast<char *>(buffer.data()), want);
        if (got <= 0)
            throw EFOpenError(Path, source.errorString());
        const size_t count = size_t(got / bytes);
        DecodeWaveSamples(buffer.data(), count, format, values.data());
        for (size_t i = 0; i < count; ++i) {
            values[i] *= Factor;
            if (isFloat)
                values[i] = std::clamp(values[i], -1.0, 1.0);
        }
        EncodeWaveSamples(values.data(), count, format, buffer.data());
        WriteAll(temp, reinterpret_cast<const char *>(buffer.data()), got);
        remaining -= got;
        if (Progress)
            Progress(Percent(remaining, Info.DataLength));
        if (Abort.load(std::memory_order_relaxed))
            return true;
    }
    // Chunks after the data (LIST, id3) stay as they were.
    CopyBytes(source, temp, source.size() - source.pos(), copyBuffer);
    if (!temp.flush())
        throw Exception(
            QStringLiteral("Cannot write \"%1\". %2").arg(temp.fileName(), temp.errorString()));
    return true;
}

TWaveSampleFormat WaveCopyFormat(const TSoundFileInfo &Info) {
    if (Info.IsFloat)
        return {wskFloat, Info.Bits == 64 ? 64 : 32};
    if (Info.Bits <= 0)
        return {wskInteger, 16};
    return {wskInteger, std::min(32, (Info.Bits + 7) / 8 * 8)};
}

namespace {

QByteArray CanonicalWaveHeader(const TWaveSampleFormat &Format, int Channels, int SampleRate,
                               quint32 DataBytes) {
    QByteArray header(TWaveHeader::Size, '\0');
    auto *h = reinterpret_cast<uchar *>(header.data());
    const quint16 blockAlign = quint16(Channels * Format.Bytes());
    std::memcpy(h, "RIFF", 4);
    qToLittleEndian<quint32>(36 + DataBytes, h + 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    qToLittleEndian<quint32>(16, h + 16);
    qToLittleEndian<quint16>(Format.Kind == wskFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM,
                             h + 20);
    qToLittleEndian<quint16>(quint16(Channels), h + 22);
    qToLittleEndian<quint32>(quint32(SampleRate), h + 24);
    qToLittleEndian<quint32>(quint32(SampleRate) * blockAlign, h + 28);
    qToLittleEndian<quint16>(blockAlign, h + 32);
    qToLittleEndian<quint16>(quint16(Format.Bits), h + 34);
    std::memcpy(h + 36, "data", 4);
    qToLittleEndian<quint32>(DataBytes, h + 40);
    return header;
}

} // namespace

bool NormalizeSoundFile(const QString &Path, const TSoundFileInfo &Info, double Factor,
                        const QString &TempFolder, TPartialFile &Temp,
                        const std::atomic<bool> &Abort, const TPercentEvent &Progress) {
    const TWaveSampleFormat format = WaveCopyFormat(Info);
    const int channels = Info.Channels;
    const qint64 dataBytes = Info.Frames * channels * format.Bytes();
    if (!Info.Valid || Info.Frames <= 0 || channels <= 0)
        return false;
    if (dataBytes > qint64(0xFFFFFFFF) - 36)
        throw Exception(QStringLiteral("\"%1\" is too long for a normalised WAV copy (%2 bytes of "
                                       "audio; a WAV file holds at most 4 GiB)")
                            .arg(Path)
                            .arg(dataBytes));

    QString why;
    Temp = CreateUniqueFile(TempFolder, QStringLiteral(".tmp"), why);
    if (!Temp)
        throw EFCreateError(TempFolder, why);
    TDescriptorFile temp(Temp.Path());
    if (!temp.OpenForWriting(Temp.Handle()))
        throw EFCreateError(Temp.Path(), QString::fromLocal8Bit(std::strerror(errno)));

    QFile source(Path);
    OpenAt(source, 0);
    QString problem;
    const std::unique_ptr<TPcmSource> reader = OpenSoundFileSource(source, &Info, problem);
    if (!reader)
        throw EFOpenError(Path, problem);

    const QByteArray header =
        CanonicalWaveHeader(format, channels, Info.SampleRate, quint32(dataBytes));
    WriteAll(temp, header.constData(), header.size());
    const qint64 chunkFrames = std::max(1, NormalizeChunkSamples / channels);
    const bool isFloat = format.Kind == wskFloat;
    std::vector<double> values(size_t(chunkFrames * channels));
    std::vector<uint8_t> buffer(values.size() * size_t(format.Bytes()));
    while (reader->Remaining() > 0) {
        const qint64 want = std::min(chunkFrames, reader->Remaining());
        if (reader->Read(values.data(), want) != want)
            throw EFOpenError(Path, QStringLiteral("The file ends before its last sample."));
        const size_t count = size_t(want * channels);
        for (size_t i = 0; i < count; ++i) {
            values[i] *= Factor;
            if (isFloat)
                values[i] = std::clamp(values[i], -1.0, 1.0);
        }
        EncodeWaveSamples(values.data(), count, format, buffer.data());
        WriteAll(temp, reinterpret_cast<const char *>(buffer.data()),
                 qint64(count) * format.Bytes());
        if (Progress)
            Progress(Percent(reader->Remaining(), Info.Frames));
        if (Abort.load(std::memory_order_relaxed))
            return true;
    }
    if (!temp.flush())
        throw Exception(
            QStringLiteral("Cannot write \"%1\". %2").arg(temp.fileName(), temp.errorString()));
    return true;
}

namespace {

// A normalisation that failed: its reason (where the hidden copy's name means nothing to the
// user), and no copy left behind.
void Fail(TNormalizeResult &Result, const Exception &Error, const QString &TempFolder) {
    Result.Error = Error.message();
    if (Result.Temp) {
        Result.Error.replace(Result.Temp.Path(),
                             QStringLiteral("the normalised copy in %1").arg(TempFolder));
        Result.Temp.Remove();
    }
}

// Whether Source can be scaled; its problem in Result when not.
bool Scalable(const TSourceInfo &Source, TNormalizeResult &Result) {
    if (Source.Kind != skNone && (Source.Kind != skWave || Source.Wave.Valid))
        return true;
    Result.Error = SourceProblem(Source);
    return false;
}

} // namespace

TNormalizeResult NormalizeToPeak(const QString &Path, int Target, const QString &TempFolder,
                                 const std::atomic<bool> &Abort,
                                 const std::function<void()> &OnScaling,
                                 const TPercentEvent &Progress) {
    TNormalizeResult result;
    try {
        // Sources other than WAV are read through libsndfile and copied into a WAV file.
        if (const TSourceInfo source = ReadSourceInfo(Path); source.Kind == skSoundFile) {
            double peak = 0;
            {
                QFile file(Path);
                OpenAt(file, 0);
                QString problem;
                const std::unique_ptr<TPcmSource> reader =
                    OpenSoundFileSource(file, &source.Sound, problem);
                if (!reader) {
                    result.Error = problem;
                    return result;
                }
                if (!ScanPeak(*reader, peak, Abort, Progress) || Abort)
                    return result;
            }
            if (OnScaling)
                OnScaling();
            const double level = PeakLevel(peak);
            if (peak <= SilencePeak || level <= 0)
                return result;
            if (!NormalizeSoundFile(Path, source.Sound, Target / level, TempFolder, result.Temp,
                                    Abort, Progress) ||
                Abort)
                result.Temp.Remove();
            return result;
        }
        TWaveFileInfo info;
        if (!ReadWaveFileInfo(Path, info)) {
            result.Error = WaveFileProblem(info);
            return result;
        }
        double peak = 0;
        // No samples, or stopped: nothing to scale.
        if (!ScanPeak(Path, info, peak, Abort, Progress) || Abort)
            return result;
        if (OnScaling)
            OnScaling();
        // Samples within two 16-bit steps of zero are digital silence and its dither:
        // scaling them to the target would turn them into full-scale noise.
        const double level = PeakLevel(peak);
        if (peak <= SilencePeak || level <= 0)
            return result;
        if (!NormalizeWave(Path, info, Target / level, TempFolder, result.Temp, Abort, Progress) ||
            Abort)
            result.Temp.Remove();
    } catch (const Exception &Error) {
        Fail(result, Error, TempFolder);
    }
    return result;
}

namespace {

struct TEbur128Free {
    void operator()(ebur128_state *State) const { ebur128_destroy(&State); }
};

double Decibels(double Linear) {
    return Linear > 0 ? 20.0 * std::log10(Linear) : -std::numeric_limits<double>::infinity();
}

// Scaled copies of either kind of source, as the peak normalisation writes them.
bool WriteScaledCopy(const QString &Path, const TSourceInfo &Source, double Factor,
                     const QString &TempFolder, TPartialFile &Temp, const std::atomic<bool> &Abort,
                     const TPercentEvent &Progress) {
    if (Source.Kind == skSoundFile)
        return NormalizeSoundFile(Path, Source.Sound, Factor, TempFolder, Temp, Abort, Progress);
    return NormalizeWave(Path, Source.Wave, Factor, TempFolder, Temp, Abort, Progress);
}

// Feeds Count frames to State. With Blocks, in pieces that end where a gating block ends
// (every 100 ms from the fourth on), so that the momentary loudness read there is that block's.
bool AddFrames(ebur128_state &State, const double *Frames, qint64 Count, int Channels, qint64 &Fed,
               qint64 Hop, TLoudnessBlocks *Blocks) {
    if (!Blocks) {
        Fed += Count;
        return ebur128_add_frames_double(&State, Frames, size_t(Count)) == EBUR128_SUCCESS;
    }
    for (qint64 done = 0; done < Count;) {
        const qint64 piece = std::min(Count - done, Hop - Fed % Hop);
        if (ebur128_add_frames_double(&State, Frames + done * Channels, size_t(piece)) !=
            EBUR128_SUCCESS)
            return false;
        done += piece;
        Fed += piece;
        double block = 0;
        if (Fed % Hop == 0 && Fed >= 4 * Hop &&
            ebur128_loudness_momentary(&State, &block) == EBUR128_SUCCESS)
            Blocks->Add(block);
    }
    return true;
}

} // namespace

bool MeasureLoudness(TPcmSource &Source, int SampleRate, bool WithRange, TLoudness &Result,
                     const std::atomic<bool> &Abort, const QString &Path,
                     const TPercentEvent &Progress, TLoudnessBlocks *Blocks, int AsChannels) {
    Result = TLoudness{};
    const int channels = Source.Channels();
    if (channels <= 0 || SampleRate <= 0)
        return false;
    int mode = EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK;
    if (WithRange)
        mode |= EBUR128_MODE_LRA;
    const bool downmix = channels == 2 && AsChannels == 1;
    const std::unique_ptr<ebur128_state, TEbur128Free> state(ebur128_init(
        unsigned(downmix ? 1 : channels), static_cast<unsigned long>(SampleRate), mode));
    if (!state)
        return false;
    if (channels == 1 && AsChannels == 2 &&
        ebur128_set_channel(state.get(), 0, EBUR128_DUAL_MONO) != EBUR128_SUCCESS)
        return false;
    const qint64 total = Source.Frames();
    const qint64 hop = (SampleRate + 5) / 10; // the measurement's 100 ms, as it rounds it
    const qint64 chunkFrames = std::max(1, NormalizeChunkSamples / channels);
    std::vector<double> frames(size_t(chunkFrames * channels));
    while (Source.Remaining() > 0) {
        const qint64 want = std::min(chunkFrames, Source.Remaining());
        if (Source.Read(frames.data(), want) != want)
            throw EFOpenError(Path, QStringLiteral("The file ends before its last sample."));
        if (downmix)
            for (qint64 i = 0; i < want; ++i)
                frames[size_t(i)] = (frames[size_t(2 * i)] + frames[size_t(2 * i + 1)]) / 2;
        if (!AddFrames(*state, frames.data(), want, downmix ? 1 : channels, Result.Frames, hop,
                       Blocks))
            return false;
        if (Progress)
            Progress(Percent(Source.Remaining(), total));
        if (Abort.load(std::memory_order_relaxed))
            return false;
    }
    double value = 0;
    Result.Integrated = ebur128_loudness_global(state.get(), &value) == EBUR128_SUCCESS
                            ? value
                            : -std::numeric_limits<double>::infinity();
    if (WithRange)
        Result.Range = ebur128_loudness_range(state.get(), &value) == EBUR128_SUCCESS ? value : 0;
    double peak = 0;
    for (int c = 0; c < (downmix ? 1 : channels); ++c)
        if (ebur128_true_peak(state.get(), unsigned(c), &value) == EBUR128_SUCCESS)
            peak = std::max(peak, value);
    Result.TruePeak = Decibels(peak);
    return true;
}

bool MeasureLoudness(const QString &Path, bool WithRange, TLoudness &Result,
                     const std::atomic<bool> &Abort, const TPercentEvent &Progress,
                     TLoudnessBlocks *Blocks, int AsChannels) {
    Result = TLoudness{};
    const TSourceInfo source = ReadSourceInfo(Path);
    if (source.Kind == skNone)
        throw EFOpenError(Path, SourceProblem(source));
    QFile file(Path);
    OpenAt(file, 0);
    QString problem;
    const std::unique_ptr<TPcmSource> reader = OpenPcmSource(file, source, problem);
    if (!reader)
        throw EFOpenError(Path, problem);
    return MeasureLoudness(*reader, source.SampleRate(), WithRange, Result, Abort, Path, Progress,
                           Blocks, AsChannels);
}

double LoudnessGain(const TLoudness &Measured, double TargetLufs, double CeilingDbtp) {
    const double gain = TargetLufs - Measured.Integrated;
    if (std::isfinite(Measured.TruePeak))
        return std::min(gain, CeilingDbtp - Measured.TruePeak);
    return gain;
}

TNormalizeResult NormalizeToLoudness(const QString &Path, double TargetLufs, double CeilingDbtp,
                                     const QString &TempFolder, const std::atomic<bool> &Abort,
                                     const std::function<void()> &OnScaling,
                                     const TPercentEvent &Progress, int AsChannels) {
    TNormalizeResult result;
    try {
        const TSourceInfo source = ReadSourceInfo(Path);
        if (!Scalable(source, result))
            return result;
        TLoudness loudness;
        {
            QFile file(Path);
            OpenAt(file, 0);
            QString problem;
            const std::unique_ptr<TPcmSource> reader = OpenPcmSource(file, source, problem);
            if (!reader) {
                result.Error = problem;
                return result;
            }
            if (!MeasureLoudness(*reader, source.SampleRate(), false, loudness, Abort, Path,
                                 Progress, nullptr, AsChannels)) {
                if (!Abort)
                    result.Error = QStringLiteral("Its loudness cannot be measured (%1 channels "
                                                  "at %2 Hz).")
                                       .arg(source.Channels())
                                       .arg(source.SampleRate());
                return result;
            }
        }
        if (OnScaling)
            OnScaling();
        if (loudness.Frames * 1000 < qint64(LoudnessBlockMs) * source.SampleRate()) {
            result.Note = QStringLiteral("Not normalised: shorter than %1 ms, too short to "
                                         "measure its loudness.")
                              .arg(LoudnessBlockMs);
            return result;
        }
        if (!std::isfinite(loudness.Integrated)) {
            result.Note = QStringLiteral("Not normalised: it is silent.");
            return result;
        }
        result.GainDb = LoudnessGain(loudness, TargetLufs, CeilingDbtp);
        const double factor = std::pow(10.0, result.GainDb / 20);
        if (!WriteScaledCopy(Path, source, factor, TempFolder, result.Temp, Abort, Progress) ||
            Abort)
            result.Temp.Remove();
    } catch (const Exception &Error) {
        Fail(result, Error, TempFolder);
    }
    return result;
}

TNormalizeResult ScaleByGain(const QString &Path, double GainDb, const QString &TempFolder,
                             const std::atomic<bool> &Abort, const TPercentEvent &Progress) {
    TNormalizeResult result;
    result.GainDb = GainDb;
    try {
        const TSourceInfo source = ReadSourceInfo(Path);
        if (!Scalable(source, result))
            return result;
        // Never nothing without a reason: the caller would encode the source unscaled.
        if (!WriteScaledCopy(Path, source, std::pow(10.0, GainDb / 20), TempFolder, result.Temp,
                             Abort, Progress)) {
            result.Temp.Remove();
            if (!Abort)
                result.Error = QStringLiteral("The file holds no audio.");
        } else if (Abort) {
            result.Temp.Remove();
        }
    } catch (const Exception &Error) {
        Fail(result, Error, TempFolder);
    }
    return result;
}

TDecodedPeak MeasureDecodedPeak(const QString &Path, const std::atomic<bool> &Abort,
                                const TPercentEvent &Progress) {
    TDecodedPeak result;
    try {
        QFile file(Path);
        OpenAt(file, 0);
        int rate = 0;
        const std::unique_ptr<TPcmSource> reader = OpenDecodedMpeg(file, rate, result.Problem);
        if (!reader)
            return result;
        TLoudness loudness;
        if (!MeasureLoudness(*reader, rate, false, loudness, Abort, Path, Progress)) {
            if (!Abort)
                result.Problem = QStringLiteral("its true peak cannot be measured (%1 channels at "
                                                "%2 Hz)")
                                     .arg(reader->Channels())
                                     .arg(rate);
            return result;
        }
        result.Checked = true;
        result.TruePeak = loudness.TruePeak;
    } catch (const Exception &Error) {
        result.Problem = Error.message();
    }
    return result;
}

double LoweredGain(double GainDb, double TruePeak, double CeilingDbtp) {
    return GainDb - (TruePeak - CeilingDbtp) - OvershootMargin;
}
