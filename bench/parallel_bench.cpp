// A batch through the conversion window (offscreen), one file at a time against several at
// once, in both directions: the WAV files given are encoded, then their MP3 files decoded.
// Rounds are interleaved so that a change in the machine's load hits both sides alike.
//   QT_QPA_PLATFORM=offscreen parallel_bench JOBS ROUNDS FILE.wav...

#include "app/FileParam.h"
#include "conversion/ConvForm.h"
#include "conversion/ConvRunner.h"
#include "inspect/MP3WavComm.h"
#include "platform/FilePaths.h"
#include "settings/Config.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

std::vector<std::unique_ptr<TFileParam>> Records(const QStringList &Sources, bool Encoding) {
    std::vector<std::unique_ptr<TFileParam>> records;
    for (const QString &wav : Sources) {
        auto record = std::make_unique<TFileParam>();
        record->SourcePath = Encoding ? wav : ChangeFileExt(wav, QStringLiteral(".MP3"));
        record->FileName = QFileInfo(record->SourcePath).fileName();
        record->DestPath = Encoding ? ChangeFileExt(wav, QStringLiteral(".MP3"))
                                    : ChangeFileExt(wav, QStringLiteral(".out.WAV"));
        if (Encoding)
            ReadWaveFileInfo(wav, record->WaveData);
        record->Kind = Encoding ? fkWave : fkMpeg;
        records.push_back(std::move(record));
    }
    return records;
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0.0 : V[V.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: parallel_bench JOBS ROUNDS FILE.wav...\n");
        return 2;
    }
    const int jobs = args[1].toInt();
    const int rounds = args[2].toInt();
    const QStringList sources = args.mid(3);

    TConfig config;
    config.OverwritePrompt = false;
    config.FNormalizeVolume = false;
    config.SpecifyOutputFolder = false;
    config.PlaySound = false;
    TConvForm form(config);
    // The batch itself, from its first job to its end, without the window's opening and
    // closing delays (200 ms each).
    QElapsedTimer batchClock;
    double batchSeconds = 0;
    QObject::connect(&form.Runner(), &TConvRunner::JobStarted, [&](int Index) {
        if (Index == 0)
            batchClock.start();
    });
    QObject::connect(&form.Runner(), &TConvRunner::BatchEnded,
                     [&] { batchSeconds = batchClock.nsecsElapsed() / 1e9; });
    for (const bool encoding : {true, false}) {
        config.ConvertType = encoding ? 0 : 1;
        auto records = Records(sources, encoding);
        std::vector<double> serial, parallel, serialBatch, parallelBatch;
        int done = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const int n : {1, jobs}) {
                QList<TFileParam *> batch;
                for (const auto &record : records) {
                    record->State = stQueued;
                    batch << record.get();
                }
                form.SetJobs(batch);
                config.ConvertJobs = n;
                QElapsedTimer timer;
                timer.start();
                form.exec();
                (n == 1 ? serial : parallel).push_back(timer.nsecsElapsed() / 1e9);
                (n == 1 ? serialBatch : parallelBatch).push_back(batchSeconds);
                done = int(std::count_if(records.begin(), records.end(),
                                         [](const auto &R) { return R->State == stDone; }));
            }
        }
        const double one = Median(serial), many = Median(parallel);
        const double oneBatch = Median(serialBatch), manyBatch = Median(parallelBatch);
        std::printf("window %s, %lld files, median of %d interleaved rounds: 1 at a time %.2f s, "
                    "%d at once %.2f s (%d converted), ratio %.3f; first job to end %.2f s "
                    "against %.2f s, ratio %.3f\n",
                    encoding ? "encode" : "decode", static_cast<long long>(sources.size()), rounds,
                    one, jobs, many, done, one > 0 ? many / one : 0.0, oneBatch, manyBatch,
                    oneBatch > 0 ? manyBatch / oneBatch : 0.0);
    }
    return 0;
}
