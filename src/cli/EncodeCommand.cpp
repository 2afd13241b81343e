#include "cli/EncodeCommand.h"

#include "app/RawNames.h"
#include "cli/Batch.h"
#include "cli/Console.h"
#include "cli/FileList.h"
#include "encoder/LameCoder.h"
#include "inspect/MP3WavComm.h"
#include "platform/FilePaths.h"
#include "settings/Config.h"
#include "sources/SourceInfo.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace cli {
namespace {

constexpr uint32_t RawPcmSampleRate = 44100;

std::optional<int> BitrateIndex(const QString &Text) {
    bool ok = false;
    const int kbps = Text.toInt(&ok);
    const auto it = std::find(BitrateTable.begin(), BitrateTable.end(), kbps);
    if (!ok || it == BitrateTable.end())
        return std::nullopt;
    return int(it - BitrateTable.begin());
}

std::optional<int> IndexOf(const QString &Text, std::initializer_list<const char *> Names) {
    int i = 0;
    for (const char *name : Names) {
        if (Text == QLatin1String(name))
            return i;
        ++i;
    }
    return std::nullopt;
}

int UsageError(const QString &Message) {
    err() << "brindle-cli encode: " << Message << "\nTry 'brindle-cli --help'.\n";
    return ExitUsage;
}

// Only files whose contents say WAV or another audio format, or whose names say raw PCM, are
// encoded: anything else would be read as PCM and come out as noise.
bool IsRawPcmName(const QString &FileName) {
    const QString ext = UpperFileExt(FileName);
    return ext == QLatin1String(".PCM") || ext == QLatin1String(".RAW");
}

} // namespace

int RunEncode(const QStringList &Args) {
    QCommandLineParser parser;
    const TBatchOptions batch;
    const QCommandLineOption bitrate({"b", "bitrate"}, {}, "KBPS");
    const QCommandLineOption maxBitrate({"B", "max-bitrate"}, {}, "KBPS");
    const QCommandLineOption mode({"m", "mode"}, {}, "MODE");
    const QCommandLineOption quality({"q", "quality"}, {}, "QUALITY");
    const QCommandLineOption vbr(QStringList{"vbr"}, {}, "QUALITY");
    const QCommandLineOption crc(QStringList{"crc"});
    parser.addOptions({bitrate, maxBitrate, mode, quality, vbr, crc});
    parser.addOptions(batch.All());
    if (!parser.parse(QStringList{QStringLiteral("encode")} + Args))
        return UsageError(parser.errorText());
    QStringList files = parser.positionalArguments();
    if (files.isEmpty() && !parser.isSet(batch.FilesFrom))
        return UsageError(QStringLiteral("no input files"));
    if (!ReadFileLists(parser.values(batch.FilesFrom), parser.isSet(batch.Nul), files))
        return ExitFailed;
    TJsonLines lines(parser.isSet(batch.Json));

    TConfig config;
    try {
        config.Load();
    } catch (const Exception &e) {
        // Only the values named keep their defaults.
        err() << "brindle-cli: " << e.message() << '\n';
    }

    // Options change the settings for this run only; nothing is saved.
    if (parser.isSet(bitrate)) {
        const auto index = BitrateIndex(parser.value(bitrate));
        if (!index)
            return UsageError(QStringLiteral("bitrate must be one of 32 40 48 56 64 80 96 112 128 "
                                             "160 192 224 256 320"));
        config.BitRate = *index;
    }
    if (parser.isSet(maxBitrate)) {
        const auto index = BitrateIndex(parser.value(maxBitrate));
        if (!index)
            return UsageError(QStringLiteral("maximum bitrate must be one of 32 40 48 56 64 80 96 "
                                             "112 128 160 192 224 256 320"));
        config.MaxBitRate = *index;
    }
    if (parser.isSet(mode)) {
        const auto index = IndexOf(parser.value(mode), {"stereo", "joint", "dual", "mono"});
        if (!index)
            return UsageError(QStringLiteral("mode must be stereo, joint, dual or mono"));
        config.Mode = *index;
    }
    if (parser.isSet(quality)) {
        const auto index = IndexOf(parser.value(quality), {"normal", "low", "high", "voice"});
        if (!index)
            return UsageError(QStringLiteral("quality must be normal, low, high or voice"));
        config.Quality = *index;
    }
    if (parser.isSet(vbr)) {
        bool ok = false;
        const int vbrQuality = parser.value(vbr).toInt(&ok);
        if (!ok || vbrQuality < 0 || vbrQuality > 9)
            return UsageError(QStringLiteral("VBR quality must be 0 to 9"));
        config.VBR = true;
        config.WriteVBRHeader = true;
        config.VBRQuality = vbrQuality;
        // The stored bitrate is the window's constant one: as a VBR minimum it would make
        // every quiet frame as large as a loud one. An end not given is the table's end, and
        // the frames carry no CRC unless asked.
        if (!parser.isSet(bitrate))
            config.BitRate = 0;
        if (!parser.isSet(maxBitrate))
            config.MaxBitRate = int(BitrateTable.size()) - 1;
        config.CRC = false;
    }
    if (parser.isSet(crc))
        config.CRC = true;

    // A VBR range upside down would be refused file by file; it is the command that is wrong.
    if (config.VBR && (parser.isSet(bitrate) || parser.isSet(maxBitrate)) &&
        config.BitRate > config.MaxBitRate)
        return UsageError(QStringLiteral("the VBR minimum bitrate (-b %1) is above the maximum "
                                         "(-B %2)")
                              .arg(BitrateFromIndex(config.BitRate))
                              .arg(BitrateFromIndex(config.MaxBitRate)));

    // Normalisation only when asked for here, and the job count.
    if (const QString error = batch.Apply(parser, config); !error.isEmpty())
        return UsageError(error);

    if (parser.isSet(batch.OutputDir) && HasRawBytes(parser.value(batch.OutputDir))) {
        Fail(EscapedName(parser.value(batch.OutputDir)), RawNameReason());
        return ExitFailed;
    }
    QString folder;
    if (parser.isSet(batch.OutputDir) && !MakeOutputFolder(parser.value(batch.OutputDir), folder))
        return ExitFailed;

    // Inputs that are not audio the encoder takes are refused here, as the program's list
    // never takes them in; the rest go through the conversion engine.
    int failed = 0;
    TCliJobs jobs;
    for (const TSourceFile &file :
         BatchSources(files, parser.isSet(batch.Recursive), lkWave, lines, failed)) {
        const QString &source = file.Path;
        TSourceInfo info;
        try {
            info = ReadSourceInfo(source);
        } catch (const Exception &e) {
            lines.Refused(source, e.message());
            ++failed;
            continue;
        }
        TWaveFileInfo wave = info.Wave;
        // A RIFF/WAVE file whose header cannot describe audio is refused with the reason,
        // whatever its name: encoded as raw PCM it would be noise.
        const bool looksLikeWave = wave.Header.IsRiffWave();
        if (info.Kind == skNone && !IsRawPcmName(source)) {
            lines.Refused(source,
                          QStringLiteral("not a WAV file or another audio file that can be read "
                                         "(raw PCM is read from .pcm and .raw files)"));
            ++failed;
            continue;
        }
        if (info.Kind == skWave && !wave.Valid) {
            lines.Refused(source, looksLikeWave ? QStringLiteral("not a usable WAV file: ") +
                                                      WaveFileProblem(wave)
                                                : QStringLiteral("not a valid WAV file"));
            ++failed;
            continue;
        }
        if (info.Kind != skNone) {
            if (const QString reason = SourceProblem(info); !reason.isEmpty()) {
                lines.Refused(source, reason);
                ++failed;
                continue;
            }
        }
        if (info.Kind == skNone)
            wave.Header.SampleRate = RawPcmSampleRate;
        TFileParam *job = jobs.Add(source, file.Relative, folder, QStringLiteral(".MP3"), lines);
        if (!job) {
            ++failed;
            continue;
        }
        job->WaveData = wave;
        job->SoundData = info.Sound;
        // A WAV file whose samples only libsndfile decodes is still a WAV file.
        job->Kind = info.Kind == skSoundFile && !wave.Valid ? fkAudio : fkWave;
    }
    config.ConvertType = 0;
    failed += RunBatch(config, jobs.Jobs(), parser.isSet(batch.Overwrite), lines);
    return failed == 0 ? ExitOk : ExitFailed;
}

} // namespace cli
