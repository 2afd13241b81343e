#include "sources/SourceInfo.h"

#include "encoder/LameCoder.h"
#include "inspect/MP3WavComm.h"
#include "platform/RegularFile.h"

#include <QFile>

namespace {

// A WAV file our reader can hand to the encoder as it is.
bool EncodableWave(const TWaveFileInfo &Wave) {
    return Wave.Valid && Wave.SampleFormat.IsReadable();
}

} // namespace

int TSourceInfo::Channels() const {
    return Kind == skSoundFile ? Sound.Channels : Wave.Header.Channels;
}

int TSourceInfo::SampleRate() const {
    return Kind == skSoundFile ? Sound.SampleRate : int(Wave.Header.SampleRate);
}

qint64 TSourceInfo::Frames() const {
    return Kind == skSoundFile ? Sound.Frames : Wave.Frames();
}

TSourceInfo ReadSourceInfo(QIODevice &Device, const QString &Name) {
    TSourceInfo info;
    Device.seek(0);
    ReadWaveFile(Device, info.Wave);
    const bool riffWave = info.Wave.Header.IsRiffWave();
    // A RIFF/WAVE header our reader finds impossible keeps its verdict, which names the
    // field: another reader would only guess where the audio is. More channels than the
    // encoder takes is a refusal too, not a format to try elsewhere.
    if (riffWave &&
        (!info.Wave.Valid || EncodableWave(info.Wave) || info.Wave.Header.Channels > 2)) {
        info.Kind = skWave;
        return info;
    }
    // What is left of RIFF/WAVE are sample formats our reader does not decode (A-law,
    // ADPCM, ...); they and the libsndfile names go to libsndfile.
    const bool wavName = riffWave || IsWaveFile(Name);
    if (wavName || IsSoundFileName(Name)) {
        ReadSoundFile(Device, info.Sound);
        // A WAV file libsndfile cannot encode either keeps the WAV reader's verdict.
        info.Kind = wavName && !UnsupportedSoundFile(info.Sound).isEmpty() ? skWave : skSoundFile;
    }
    return info;
}

TSourceInfo ReadSourceInfo(const QString &Path) {
    QFile file(Path);
    OpenRegularFileOrThrow(Path, file);
    return ReadSourceInfo(file, Path);
}

QString SourceProblem(const TSourceInfo &Info) {
    switch (Info.Kind) {
    case skWave:
        if (!Info.Wave.Valid)
            return QStringLiteral("Not a usable WAV file: %1").arg(WaveFileProblem(Info.Wave));
        if (const QString reason = UnsupportedWaveFormat(Info.Wave); !reason.isEmpty())
            return reason;
        if (Info.Wave.DataLength <= 0)
            return QStringLiteral("The file holds no audio");
        return {};
    case skSoundFile:
        return UnsupportedSoundFile(Info.Sound);
    case skNone:
        break;
    }
    return QStringLiteral("neither a WAV file nor an audio format that can be read");
}

std::unique_ptr<TPcmSource> OpenPcmSource(QIODevice &Device, const TSourceInfo &Info,
                                          QString &Problem) {
    Problem = SourceProblem(Info);
    if (!Problem.isEmpty())
        return {};
    if (Info.Kind == skWave)
        return std::make_unique<TWavePcmSource>(Device, Info.Wave);
    return OpenSoundFileSource(Device, &Info.Sound, Problem);
}
