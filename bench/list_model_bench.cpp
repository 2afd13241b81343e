// Listing 10,000 small WAV files through the file list model: the time from the start of an
// add to the last record in the model, read on a worker and handed over in batches, and the
// same paths read on the calling thread for comparison. Run it on an otherwise idle machine:
//   list_model_bench [FILES]

#include "app/FileListModel.h"
#include "inspect/MPGTools.h"
#include "support/TestMedia.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <cstdio>

using namespace testmedia;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir dir;
    // Half a second of 8-bit mono at 8000 Hz: 4044 bytes each.
    const QByteArray small = WavHeader(1, 8000, 8, 4000) + QByteArray(4000, char(0x80));
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        paths << dir.filePath(QStringLiteral("t%1.wav").arg(i));
        WriteFile(paths.back(), small);
    }

    for (int round = 0; round < 3; ++round) {
        TFileListModel model(lkWave);
        int batches = 0;
        bool finished = false;
        QEventLoop loop;
        QElapsedTimer t;
        t.start();
        TListAddWorker worker(
            lkWave, paths, model.ListedKeys(),
            [&](TAddBatch &batch) {
                ++batches;
                model.Append(std::move(batch.Records));
            },
            [&] {
                finished = true;
                loop.quit();
            });
        if (!finished)
            loop.exec();
        const qint64 worker_ms = t.elapsed();

        TFileListModel direct(lkWave);
        TMPEGAudio mpeg;
        t.restart();
        const TAddFilesResult result = direct.AddFiles(paths, mpeg);
        const qint64 direct_ms = t.elapsed();
        printf("round %d: %d files on the worker: %lld ms to the last record (%d rows, %d "
               "batches); on the spot: %lld ms (%d rows)\n",
               round + 1, files, worker_ms, model.Count(), batches, direct_ms, result.Added);
    }
    return 0;
}
