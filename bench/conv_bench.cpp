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
        records.push_back(std::move(record));
    }
    QList<TFileParam *> batch;
    for (const auto &record : records)
        batch << record.get();
    form.SetJobs(batch);

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
    // Interleaved rounds, so that a change in the machine's load hits both sides alike.
    const int rounds = 3;
    std::vector<double> windowSeconds, cliSeconds;
    int converted = 0;
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        timer.start();
        form.exec();
        windowSeconds.push_back(timer.nsecsElapsed() / 1e9);
        converted = 0;
        for (const auto &record : records)
            converted += record->State == stDone;
        if (!cli.isEmpty()) {
            QProcess process;
            timer.restart();
            process.start(cli, QStringList{"encode", "-y"} + sources);
            process.waitForFinished(-1);
            cliSeconds.push_back(timer.nsecsElapsed() / 1e9);
        }
        // The next round replaces the outputs without asking.
        for (const auto &record : records)
            record->State = stQueued;
    }
    probe.stop();
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    const double window = median(windowSeconds), script = median(cliSeconds);
    std::printf("%d files of 30 s, median of %d interleaved rounds: window %.2f s (%d converted), "
                "brindle-cli %.2f s, ratio %.3f\n",
                files, rounds, window, converted, script, script > 0 ? window / script : 0.0);
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double Q) {
        return delays.empty() ? 0.0 : delays[size_t(Q * double(delays.size() - 1))] / 1000.0;
    };
    std::printf("posted event during the batch: median %.2f ms, 99th percentile %.2f ms, "
                "worst %.2f ms over %zu probes\n",
                at(0.5), at(0.99), at(1.0), delays.size());
    return 0;
}
