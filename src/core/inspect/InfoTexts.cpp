#include "inspect/InfoTexts.h"

#include <cmath>

uint32_t MPEGFrameCount(const TMPEGInfo &Info) {
    if (Info.SampleRate <= 0 || Info.Layer == 0 || Info.Length <= 0)
        return 0;
    if (Info.BitRate > 0) {
        const qint64 audioBytes =
            Info.Length - (Info.Header == QStringLiteral("TAG") ? ID3v1Size : 0);
        // Frames carry SamplesPerFrame / 8 × bit rate / sample rate bytes on average; the
        // frame length of the record is the first frame's, padding included.
        const double meanFrameBytes =
            SamplesPerFrame(Info.Version, Info.Layer) * 125.0 * Info.BitRate / Info.SampleRate;
        return uint32_t(std::llround(double(std::max<qint64>(audioBytes, 0)) / meanFrameBytes));
    }
    return Info.FrameLength > 0 ? uint32_t(Info.Length / Info.FrameLength) : 0;
}

QStringList MPEGInfoLines(const TMPEGFileInfo &Pair) {
    const TMPEGInfo &i = Pair.Info;
    const QString rate = i.BitRate == -1 ? QStringLiteral("VBR")
                                         : QString::number(i.BitRate) + QStringLiteral("kbit");
    QStringList lines;
    if (!Pair.Valid)
        lines << QStringLiteral("Unknow");
    lines << QStringLiteral("Size: %1 bytes").arg(i.Length)
          << QStringLiteral("Length: %1 seconds").arg(i.Duration)
          << QStringLiteral("MPEG: %1 layer %2")
                 .arg(MPEGVersionText[i.Version & 3], MPEGLayerText[i.Layer & 3])
          << QStringLiteral("%1, %2 frames").arg(rate).arg(MPEGFrameCount(i))
          << QStringLiteral("Sample rate: %1Hz, %2").arg(i.SampleRate).arg(MPEGModeText[i.Mode & 3])
          << QStringLiteral("CRCs: %1").arg(YesNoText(i.ErrorProt))
          << QStringLiteral("Copyrighted: %1").arg(YesNoText(i.Copyright))
          << QStringLiteral("Original: %1").arg(YesNoText(i.Original))
          << QStringLiteral("Padding: %1").arg(i.Padding ? 1 : 0);
    return lines;
}

QString WaveFormatName(uint16_t FormatTag) {
    switch (FormatTag) {
    case 1:
        return QStringLiteral("PCM");
    case 2:
        return QStringLiteral("Microsoft ADPCM");
    case 3:
        return QStringLiteral("IEEE float");
    case 6:
        return QStringLiteral("A-law");
    case 7:
        return QStringLiteral("\u00b5-law");
    case 0x11:
        return QStringLiteral("IMA ADPCM");
    case 0x55:
        return QStringLiteral("MPEG Layer III");
    case 0xFFFE:
        return QStringLiteral("extensible");
    default:
        return QStringLiteral("tag %1").arg(FormatTag);
    }
}

QStringList WaveInfoLines(const TWaveFileInfo &Wave, int32_t Duration) {
    const TWaveHeader &h = Wave.Header;
    // A 64-bit file says so, by its id; the line of any other stays as it was.
    const QString container =
        h.Is64Bit() ? QStringLiteral(" (%1)").arg(QLatin1String(h.RiffId.data(), 4)) : QString();
    return {QStringLiteral("Format: %1%2").arg(WaveFormatName(h.FormatTag), container),
            QStringLiteral("Bits/Sample: %1").arg(h.BitsPerSample),
            QStringLiteral("File size: %1").arg(Wave.FileSize),
            QStringLiteral("Length: %1").arg(Duration),
            QStringLiteral("Channels: %1").arg(h.Channels),
            QStringLiteral("Samplerate: %1").arg(h.SampleRate),
            QStringLiteral("Bytes/Second: %1").arg(h.BytesPerSecond),
            QStringLiteral("Bytes/Sample: %1").arg(h.BlockAlign)};
}
