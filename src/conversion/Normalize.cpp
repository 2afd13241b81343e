#include "conversion/Normalize.h"

#include "conversion/SafeOutput.h"
#include "platform/Exception.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

int BytesPerSample(const TPcmLayout &Layout) { return (Layout.BitsPerSample + 7) / 8; }

// A sample as a signed integer of its own width (8-bit samples are stored offset by 128).
int32_t ReadSample(const uint8_t *p, int Bytes) {
    switch (Bytes) {
    case 1:
        return int32_t(p[0]) - 128;
    case 2:
        return int16_t(uint16_t(p[0] | p[1] << 8));
    case 3:
        return int32_t(uint32_t(p[0] << 8 | p[1] << 16 | p[2] << 24)) >> 8;
    default:
        return int32_t(uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24));
    }
}

void WriteSample(uint8_t *p, int Bytes, int32_t v) {
    const auto u = uint32_t(v);
    switch (Bytes) {
    case 1:
        p[0] = uint8_t(v + 128);
        break;
    case 2:
        p[0] = uint8_t(u);
        p[1] = uint8_t(u >> 8);
        break;
    case 3:
        p[0] = uint8_t(u);
        p[1] = uint8_t(u >> 8);
        p[2] = uint8_t(u >> 16);
        break;
    default:
        p[0] = uint8_t(u);
        p[1] = uint8_t(u >> 8);
        p[2] = uint8_t(u >> 16);
        p[3] = uint8_t(u >> 24);
        break;
    }
}

float ReadFloat(const uint8_t *p) {
    const uint32_t u = uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

void WriteFloat(uint8_t *p, float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    WriteSample(p, 4, int32_t(u));
}

// 100 - remaining / length x 100, to the nearest integer with ties to even.
int Percent(qint64 Remaining, qint64 Length) {
    return int(std::nearbyint(100.0 - double(Remaining) / double(Length) * 100.0));
}

void OpenSource(QFile &File, const TPcmLayout &Layout) {
    if (!File.open(QIODevice::ReadOnly) || !File.seek(Layout.DataOffset))
        throw EFOpenError(File.fileName(), File.errorString());
}

void WriteAll(QFile &File, const char *Data, qint64 Size) {
    if (File.write(Data, Size) != Size)
        throw Exception(
            QStringLiteral("Cannot write \"%1\". %2").arg(File.fileName(), File.errorString()));
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

} // namespace

bool ScanPeak(const QString &Path, const TPcmLayout &Layout, double &Peak,
              const std::atomic<bool> &Abort, const TPercentEvent &Progress) {
    Peak = 0;
    QFile file(Path);
    OpenSource(file, Layout);
    if (Layout.DataLength <= 0)
        return false;
    const int bytes = BytesPerSample(Layout);
    // Integer samples are compared in their own width and scaled once at the end.
    const double toUnits = Layout.Float ? 32768.0 : std::ldexp(1.0, 16 - Layout.BitsPerSample);
    std::vector<uint8_t> buffer(size_t(NormalizeChunkSamples) * bytes);
    int32_t peak = 0;
    float floatPeak = 0;
    qint64 remaining = Layout.DataLength;
    while (remaining > 0) {
        const qint64 want = std::min<qint64>(remaining, qint64(buffer.size()));
        const qint64 got = file.read(reinterpret_cast<char *>(buffer.data()), want);
        if (got <= 0)
            break; // the file shrank: the peak covers what was there
        const uint8_t *end = buffer.data() + got / bytes * bytes;
        if (Layout.Float) {
            for (const uint8_t *p = buffer.data(); p < end; p += bytes)
                floatPeak = std::max(floatPeak, ReadFloat(p));
        } else {
            for (const uint8_t *p = buffer.data(); p < end; p += bytes)
                peak = std::max(peak, ReadSample(p, bytes));
        }
        remaining -= got;
        if (Progress)
            Progress(Percent(remaining, Layout.DataLength));
        if (Abort.load(std::memory_order_relaxed))
            break;
    }
    Peak = Layout.Float ? double(floatPeak) * toUnits : double(peak) * toUnits;
    return true;
}

double PeakLevel(double Peak) {
    return double((static_cast<long double>(Peak) - 1) / 327.66L);
}

bool NormalizeWave(const QString &Path, const TPcmLayout &Layout, double Factor,
                   const QString &TempFolder, QString &TempName, const std::atomic<bool> &Abort,
                   const TPercentEvent &Progress) {
    // A name no file of the user's can have, in the folder where the result is wanted, so
    // that it can be renamed into place.
    QString why;
    TempName = CreateUniqueFile(TempFolder, QStringLiteral(".tmp"), why);
    if (TempName.isEmpty())
        throw EFCreateError(TempFolder, why);
    QFile temp(TempName);
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EFCreateError(TempName, temp.errorString());

    QFile source(Path);
    if (!source.open(QIODevice::ReadOnly))
        throw EFOpenError(Path, source.errorString());
    if (Layout.DataLength <= 0)
        return false;

    const int bytes = BytesPerSample(Layout);
    std::vector<char> copyBuffer(64 * 1024);
    CopyBytes(source, temp, Layout.DataOffset, copyBuffer);

    const int32_t maxValue = Layout.Float ? 0 : int32_t((int64_t(1) << (Layout.BitsPerSample - 1)) - 1);
    const int32_t minValue = -maxValue - 1;
    std::vector<uint8_t> buffer(size_t(NormalizeChunkSamples) * bytes);
    qint64 remaining = Layout.DataLength;
    while (remaining > 0) {
        const qint64 want = std::min<qint64>(remaining, qint64(buffer.size()));
        const qint64 got = source.read(reinterpret_cast<char *>(buffer.data()), want);
        if (got <= 0)
            throw EFOpenError(Path, source.errorString());
        uint8_t *end = buffer.data() + got / bytes * bytes;
        if (Layout.Float) {
            for (uint8_t *p = buffer.data(); p < end; p += bytes)
                WriteFloat(p, std::clamp(float(double(ReadFloat(p)) * Factor), -1.0f, 1.0f));
        } else {
            for (uint8_t *p = buffer.data(); p < end; p += bytes) {
                const double v = std::clamp(double(ReadSample(p, bytes)) * Factor,
                                            double(minValue), double(maxValue));
                WriteSample(p, bytes, int32_t(std::nearbyint(v)));
            }
        }
        WriteAll(temp, reinterpret_cast<const char *>(buffer.data()), got);
        remaining -= got;
        if (Progress)
            Progress(Percent(remaining, Layout.DataLength));
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
