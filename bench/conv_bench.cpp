// A batch of 20 WAV files (30 s each, 44.1 kHz stereo) encoded through the conversion
// window (offscreen) and through `brindle-cli encode` on the same files, and how late a
// posted event runs in the window's thread while the batch encodes. Run it on an otherwise
// idle machine:
//   QT_QPA_PLATFORM=offscreen conv_bench PATH_TO_BRINDLE_CLI

#include "app/FileParam.h"
#include "conversion/ConvForm.h"
#include "settings/Config.h"
#include "support/TestMedia.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace testmedia;

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QString cli = app.arguments().value(1);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    const int files = 20;
    WriteSineWav(dir.filePath("src.wav"), 2, 44100, 30.0, 440, 660);
    QStringList sources;
    for (int i = 0; i < files; ++i) {
        sources << dir.filePath(QString("f%1.wav").arg(i));
        QFile::copy(dir.filePath("src.wav"), sources.back());
    }

    TConfig config;
    config.OverwritePrompt = false;
    config.FNormalizeVolume = false;
    config.SpecifyOutputFolder = false;
    TConvForm form(config);
    std::vector<std::unique_ptr<TFileParam>> records;
    for (const QString &source : sources) {
        auto record = std::make_unique<TFileParam>();
        record->SourcePath = source;
        record->FileName = QFileInfo(source).fileName();
        record->DestPath = QString(source).replace(".wav", ".MP3");
        ReadWaveFileInfo(source, record->WaveData);
        record->Kind = fkWave;
        form.Jobs() << record.get();
        records.push_back(std::move(record));
    }

    // Every 10 ms an event is posted to the window's thread; its delay is what a click or a
    // repaint would wait.
    std::vector<qint64> delays; // microseconds
    QElapsedTimer clock;
    clock.start();
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 posted = clock.nsecsElapsed();
        QMetaObject::invokeMethod(
            &form, [&, posted] { delays.push_back((clock.nsecsElapsed() - posted) / 1000); },
            Qt::QueuedConnection);
    });
    probe.start(10);
    QElapsedTimer timer;
    timer.start();
    form.exec();
    const double windowSeconds = timer.nsecsElapsed() / 1e9;
    probe.stop();
    int converted = 0;
    for (const auto &record : records)
        converted += record->State == stDone;

    double cliSeconds = 0;
    if (!cli.isEmpty()) {
        QProcess process;
        timer.restart();
        process.start(cli, QStringList{"encode", "-y"} + sources);
        process.waitForFinished(-1);
        cliSeconds = timer.nsecsElapsed() / 1e9;
    }
    std::printf("%d files of 30 s: window %.2f s (%d converted), brindle-cli %.2f s, ratio %.3f\n",
                files, windowSeconds, converted, cliSeconds,
                cliSeconds > 0 ? windowSeconds / cliSeconds : 0.0);
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double Q) {
        return delays.empty() ? 0.0 : delays[size_t(Q * double(delays.size() - 1))] / 1000.0;
    };
    std::printf("posted event during the batch: median %.2f ms, 99th percentile %.2f ms, "
                "worst %.2f ms over %zu probes\n",
                at(0.5), at(0.99), at(1.0), delays.size());
    return 0;
}
