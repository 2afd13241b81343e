#include "cli/EncodeCommand.h"

#include "cli/Console.h"
#include "encoder/EncoderSettings.h"
#include "encoder/LameCoder.h"
#include "inspect/MP3WavComm.h"
#include "platform/FilePaths.h"
#include "settings/Config.h"

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

// Only files whose contents say WAV, or whose names say raw PCM, are encoded: anything
// else would be read as PCM and come out as noise.
bool IsRawPcmName(const QString &FileName) {
    const QString ext = UpperFileExt(FileName);
    return ext == QLatin1String(".PCM") || ext == QLatin1String(".RAW");
}

} // namespace

int RunEncode(const QStringList &Args) {
    QCommandLineParser parser;
    const QCommandLineOption outputDir({"o", "output-dir"}, {}, "DIR");
    const QCommandLineOption bitrate({"b", "bitrate"}, {}, "KBPS");
    const QCommandLineOption maxBitrate({"B", "max-bitrate"}, {}, "KBPS");
    const QCommandLineOption mode({"m", "mode"}, {}, "MODE");
    const QCommandLineOption quality({"q", "quality"}, {}, "QUALITY");
    const QCommandLineOption vbr(QStringList{"vbr"}, {}, "QUALITY");
    const QCommandLineOption overwrite(QStringList{"y", "overwrite"});
    parser.addOptions({outputDir, bitrate, maxBitrate, mode, quality, vbr, overwrite});
    if (!parser.parse(QStringList{QStringLiteral("encode")} + Args))
        return UsageError(parser.errorText());
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return UsageError(QStringLiteral("no input files"));

    TConfig config;
    try {
        config.Load();
    } catch (const Exception &e) {
        err() << "brindle-cli: " << e.message() << "; the settings after it keep their defaults\n";
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
    }

    QString folder;
    if (parser.isSet(outputDir) && !MakeOutputFolder(parser.value(outputDir), folder))
        return ExitFailed;

    const bool showProgress = StderrIsTerminal();
    int failed = 0;
    TLameCoder coder;
    for (int i = 0; i < files.size(); ++i) {
        const QString &source = files.at(i);
        const QString dest = folder.isEmpty()
                                 ? ChangeFileExt(source, QStringLiteral(".MP3"))
                                 : folder + ChangeFileExt(QFileInfo(source).fileName(), ".MP3");

        TWaveFileInfo wave;
        bool isWave = false;
        try {
            isWave = ReadWaveFileInfo(source, wave);
        } catch (const Exception &e) {
            Fail(source, e.message());
            ++failed;
            continue;
        }
        // A RIFF/WAVE file whose header cannot describe audio is refused with the reason,
        // whatever its name: encoded as raw PCM it would be noise.
        const bool looksLikeWave = wave.Header.IsRiffWave();
        if (!isWave && (looksLikeWave || !IsRawPcmName(source))) {
            Fail(source,
                 looksLikeWave ? QStringLiteral("not a usable WAV file: ") + WaveFileProblem(wave)
                 : IsWaveFile(source) ? QStringLiteral("not a valid WAV file")
                                      : QStringLiteral("not a WAV file (raw PCM is read from "
                                                       ".pcm and .raw files)"));
            ++failed;
            continue;
        }
        if (isWave) {
            if (const QString reason = UnsupportedWaveFormat(wave); !reason.isEmpty()) {
                Fail(source, reason);
                ++failed;
                continue;
            }
        }
        if (QFileInfo::exists(dest) && !parser.isSet(overwrite)) {
            Fail(source, QStringLiteral("skipped: '%1' exists (-y overwrites)").arg(dest));
            continue;
        }

        const uint32_t sampleRate = isWave ? wave.Header.SampleRate : RawPcmSampleRate;
        ApplyEncoderSettings(coder, config, sampleRate);
        const BE_ERR refusal = coder.InitStream();
        coder.CloseStream();
        if (refusal != BE_ERR_SUCCESSFUL) {
            Fail(source, QStringLiteral("the MP3 encoder does not support these settings for this "
                                        "file (%1 Hz; error %2)")
                             .arg(sampleRate)
                             .arg(refusal));
            ++failed;
            continue;
        }

        coder.SetInputFiles({source});
        coder.SetOutputFiles({dest});
        const QString name = QFileInfo(source).fileName();
        coder.OnProgress = [&](TLameCoder &, uint16_t percent) {
            if (showProgress)
                err() << "\r[" << i + 1 << '/' << files.size() << "] " << name << ' ' << percent
                      << '%' << Qt::flush;
        };
        try {
            coder.Encode();
            if (showProgress)
                err() << "\r\033[K" << Qt::flush;
        } catch (const ELameError &e) {
            if (showProgress)
                err() << "\r\033[K" << Qt::flush;
            // Input that cannot be encoded is refused above, so the output was created
            // when this is raised; part-written, it would pass for a whole one in a script.
            QFile::remove(dest);
            Fail(source, e.message());
            ++failed;
        } catch (const Exception &e) {
            // The source or the output could not be opened: nothing was written.
            if (showProgress)
                err() << "\r\033[K" << Qt::flush;
            Fail(source, e.message());
            ++failed;
        }
    }
    return failed == 0 ? ExitOk : ExitFailed;
}

} // namespace cli
