#include "inspect/MP3WavComm.h"

#include "platform/Exception.h"
#include "platform/FilePaths.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <initializer_list>

namespace {

bool HasExtension(const QString &FileName, std::initializer_list<const char *> Extensions) {
    const QString Extension = UpperFileExt(FileName);
    return !Extension.isEmpty() && std::any_of(Extensions.begin(), Extensions.end(), [&](auto E) {
        return Extension == QLatin1String(E);
    });
}

} // namespace

bool ReadWaveFileInfo(const QString &FileName, TWaveFileInfo &Info) {
    Info = TWaveFileInfo();
    QFile File;
    OpenRegularFileOrThrow(FileName, File);
    ReadWaveFile(File, Info);
    return Info.Valid;
}

bool IsMPEGAudioFile(const QString &FileName) {
    return HasExtension(FileName, {".MP3", ".MP2", ".MP1"});
}

bool IsMPEGAudioOrPlaylist(const QString &FileName) {
    return HasExtension(FileName, {".MP3", ".MP2", ".MP1", ".M3U", ".M3U8", ".PLS"});
}

bool IsWaveFile(const QString &FileName) {
    return HasExtension(FileName, {".WAV"});
}

bool IsWaveOrPlaylist(const QString &FileName) {
    return HasExtension(FileName, {".WAV", ".M3U", ".M3U8", ".PLS"});
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
