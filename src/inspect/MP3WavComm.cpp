#include "inspect/MP3WavComm.h"

#include "platform/Exception.h"
#include "platform/FilePaths.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <initializer_list>
#include <limits>

namespace {

std::array<char, 4> FourCC(const uint8_t *bytes) {
    return {char(bytes[0]), char(bytes[1]), char(bytes[2]), char(bytes[3])};
}

bool IsFourCC(const std::array<char, 4> &Id, const char (&Text)[5]) {
    return std::equal(Id.begin(), Id.end(), Text);
}

bool HasExtension(const QString &FileName, std::initializer_list<const char *> Extensions) {
    const QString Extension = UpperFileExt(FileName);
    return !Extension.isEmpty() && std::any_of(Extensions.begin(), Extensions.end(), [&](auto E) {
        return Extension == QLatin1String(E);
    });
}

} // namespace

TWaveHeader TWaveHeader::FromBytes(const uint8_t *bytes) {
    TWaveHeader H;
    H.RiffId = FourCC(bytes + 0);
    H.RiffSize = qFromLittleEndian<quint32>(bytes + 4);
    H.WaveId = FourCC(bytes + 8);
    H.FmtId = FourCC(bytes + 12);
    H.FmtSize = qFromLittleEndian<quint32>(bytes + 16);
    H.FormatTag = qFromLittleEndian<quint16>(bytes + 20);
    H.Channels = qFromLittleEndian<quint16>(bytes + 22);
    H.SampleRate = qFromLittleEndian<quint32>(bytes + 24);
    H.BytesPerSecond = qFromLittleEndian<quint32>(bytes + 28);
    H.BlockAlign = qFromLittleEndian<quint16>(bytes + 32);
    H.BitsPerSample = qFromLittleEndian<quint16>(bytes + 34);
    H.DataId = FourCC(bytes + 36);
    H.DataSize = qFromLittleEndian<quint32>(bytes + 40);
    return H;
}

bool TWaveHeader::IsRiffWave() const {
    return IsFourCC(RiffId, "RIFF") && IsFourCC(WaveId, "WAVE");
}

bool ReadWaveFileInfo(const QString &FileName, TWaveFileInfo &Info) {
    Info = TWaveFileInfo();
    QFile File(FileName); // no share modes on Linux: a plain read-only open
    if (!File.open(QIODevice::ReadOnly))
        throw EFOpenError(FileName, File.errorString());

    std::array<uint8_t, TWaveHeader::Size> Bytes{};
    qint64 Count = 0;
    while (Count < TWaveHeader::Size) {
        const qint64 Got =
            File.read(reinterpret_cast<char *>(Bytes.data()) + Count, TWaveHeader::Size - Count);
        if (Got <= 0)
            break; // end of file, or a read error: what was read so far is the header
        Count += Got;
    }
    Info.Header = TWaveHeader::FromBytes(Bytes.data());
    if (!Info.Header.IsRiffWave() || Info.Header.BytesPerSecond == 0)
        return false;

    Info.Valid = true;
    Info.FileSize = File.size();
    Info.DataOffset = TWaveHeader::Size;
    Info.DataLength = std::max<qint64>(0, Info.FileSize - TWaveHeader::Size);
    // Counted from byte 43, as the program always has. A file cut off before that has no
    // data: play time 0.
    // The quotient is capped so that a tiny byte rate in a huge file cannot wrap around.
    if (Info.FileSize > 43) {
        const qint64 Seconds = (Info.FileSize - 43) / qint64(Info.Header.BytesPerSecond);
        Info.Duration = int32_t(std::min<qint64>(Seconds, std::numeric_limits<int32_t>::max()));
    }
    return true;
}

bool IsMPEGAudioFile(const QString &FileName) {
    return HasExtension(FileName, {".MP3", ".MP2", ".MP1"});
}

bool IsMPEGAudioOrPlaylist(const QString &FileName) {
    return HasExtension(FileName, {".MP3", ".MP2", ".MP1", ".M3U", ".PLS"});
}

bool IsWaveFile(const QString &FileName) {
    return HasExtension(FileName, {".WAV"});
}

bool IsWaveOrPlaylist(const QString &FileName) {
    return HasExtension(FileName, {".WAV", ".M3U", ".PLS"});
}

QTime SecondsToTime(int Seconds) {
    if (Seconds < 0 || Seconds >= 86400)
        throw EConvertError(QStringLiteral("Invalid argument to time encode"));
    const int Hours = Seconds / 3600;
    const int Minutes = (Seconds - Hours * 3600) / 60;
    return QTime(Hours, Minutes, Seconds % 60);
}

QString SecondsToText(int Seconds) {
    const QTime Time = SecondsToTime(Seconds);
    return QString::asprintf("%.2d:%.2d:%.2d", Time.hour(), Time.minute(), Time.second());
}

QString YesNoText(bool Flag) {
    return Flag ? QStringLiteral("Yes") : QStringLiteral("No");
}

QString WithTrailingSeparator(const QString &Path) {
    if (Path.isEmpty() || Path.endsWith(QLatin1Char('/')) || Path.endsWith(QLatin1Char('\\')))
        return Path;
    return Path + QDir::separator();
}
