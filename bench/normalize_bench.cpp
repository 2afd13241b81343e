// Peak scan and normalisation of one WAV file, the way the conversion engine runs them:
//   normalize_bench scan FILE            prints the peak
//   normalize_bench gain FILE PERCENT    writes the scaled copy beside FILE, then removes it
//   normalize_bench truepeak FILE.mp3    prints the true peak of the MP3 as it decodes
// bench/normalize.sh times the first two against sox; bench/loudness.sh times the third,
// the check a loudness-normalised encoding adds.

#include "conversion/Normalize.h"
#include "inspect/MP3WavComm.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    std::atomic<bool> abort{false};
    if (args[1] == QLatin1String("truepeak")) {
        const TDecodedPeak peak = MeasureDecodedPeak(args[2], abort);
        if (!peak.Checked) {
            std::fprintf(stderr, "%s\n", qPrintable(peak.Problem));
            return 1;
        }
        std::printf("true peak %.2f dBTP\n", peak.TruePeak);
        return 0;
    }
    TWaveFileInfo info;
    if (!ReadWaveFileInfo(args[2], info))
        return 1;
    double peak = 0;
    if (!ScanPeak(args[2], info, peak, abort))
        return 1;
    if (args[1] == QLatin1String("scan")) {
        std::printf("peak %.0f level %.2f\n", peak, PeakLevel(peak));
        return 0;
    }
    const double level = PeakLevel(peak);
    TPartialFile temp; // removed when it goes
    const bool ok = level > 0 && NormalizeWave(args[2], info, args.value(3).toDouble() / level,
                                               QFileInfo(args[2]).absolutePath(), temp, abort);
    return ok ? 0 : 1;
}
