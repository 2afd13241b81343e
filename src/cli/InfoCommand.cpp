#include "cli/InfoCommand.h"

#include "cli/Console.h"
#include "inspect/MP3WavComm.h"
#include "platform/Exception.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {
namespace {

QJsonObject WaveJson(const QString &FileName, const TWaveFileInfo &Info) {
    const TWaveHeader &h = Info.Header;
    return QJsonObject{
        {"FileName", FileName},
        {"Valid", Info.Valid},
        {"FileSize", double(Info.FileSize)},
        {"Duration", Info.Duration},
        {"FormatTag", h.FormatTag},
        {"Channels", h.Channels},
        {"SampleRate", double(h.SampleRate)},
        {"BytesPerSecond", double(h.BytesPerSecond)},
        {"BlockAlign", h.BlockAlign},
        {"BitsPerSample", h.BitsPerSample},
    };
}

QString FormatName(uint16_t Tag) {
    switch (Tag) {
    case 1:
        return QStringLiteral("PCM");
    case 3:
        return QStringLiteral("IEEE float");
    case 0xFFFE:
        return QStringLiteral("extensible");
    default:
        return QStringLiteral("tag %1").arg(Tag);
    }
}

// The program's time text stops short of a day; longer recordings exist.
QString LengthText(int Seconds) {
    try {
        return SecondsToText(Seconds);
    } catch (const EConvertError &) {
        return QStringLiteral("%1 s").arg(Seconds);
    }
}

void PrintWave(const QString &FileName, const TWaveFileInfo &Info) {
    const TWaveHeader &h = Info.Header;
    out() << FileName << '\n'
          << "  Format:      " << FormatName(h.FormatTag) << '\n'
          << "  Channels:    " << h.Channels << '\n'
          << "  Sample rate: " << h.SampleRate << " Hz\n"
          << "  Bits:        " << h.BitsPerSample << '\n'
          << "  Byte rate:   " << h.BytesPerSecond << " bytes/s\n"
          << "  Block align: " << h.BlockAlign << '\n'
          << "  Size:        " << Info.FileSize << " bytes\n"
          << "  Length:      " << LengthText(Info.Duration) << '\n';
}

} // namespace

int RunInfo(const QStringList &Args) {
    QStringList files = Args;
    const bool json = files.removeAll(QStringLiteral("--json")) > 0;
    for (const QString &arg : files) {
        if (arg.startsWith(u'-')) {
            err() << "brindle-cli info: unknown option '" << arg << "'\n";
            return ExitUsage;
        }
    }
    if (files.isEmpty()) {
        err() << "brindle-cli info: no input files\n";
        return ExitUsage;
    }

    int failed = 0;
    QJsonArray records;
    for (const QString &file : files) {
        TWaveFileInfo info;
        try {
            ReadWaveFileInfo(file, info);
        } catch (const Exception &e) {
            Fail(file, e.message());
            ++failed;
            if (json)
                records.append(WaveJson(file, info));
            continue;
        }
        if (!info.Valid) {
            Fail(file, QStringLiteral("not a WAV file"));
            ++failed;
        }
        if (json)
            records.append(WaveJson(file, info));
        else if (info.Valid)
            PrintWave(file, info);
    }
    if (json)
        out() << QJsonDocument(records).toJson(QJsonDocument::Indented);
    out().flush();
    return failed == 0 ? ExitOk : ExitFailed;
}

} // namespace cli
