// Speed of the file lists: adding 1,000 WAV and 1,000 MP3 files (per file, side by side with
// `brindle-cli info` on the same files), and select all / invert / sort / delete on 10,000
// rows. Run it on an otherwise idle machine:
//   list_bench [PATH_TO_BRINDLE_CLI]

#include "app/FileLists.h"
#include "encoder/LameCoder.h"
#include "support/TestMedia.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
using namespace testmedia;
int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    WriteSineWav(dir.filePath("src.wav"), 2, 44100, 3.0, 440);
    TLameCoder coder;
    coder.SetInputFiles({dir.filePath("src.wav")});
    coder.SetOutputFiles({dir.filePath("src.mp3")});
    coder.Encode();
    QStringList wavs, mp3s, tiny;
    for (int i = 0; i < 1000; ++i) {
        wavs << dir.filePath(QString("w%1.wav").arg(i));
        QFile::copy(dir.filePath("src.wav"), wavs.back());
        mp3s << dir.filePath(QString("m%1.mp3").arg(i));
        QFile::copy(dir.filePath("src.mp3"), mp3s.back());
    }
    QByteArray small = WavHeader(1, 8000, 16, 16000) + QByteArray(16000, 0);
    for (int i = 0; i < 10000; ++i) {
        tiny << dir.filePath(QString("t%1.wav").arg(i));
        WriteFile(tiny.back(), small);
    }
    int convertType = 0;
    QWidget w;
    w.resize(900, 500);
    auto *wave = new TFileListView(lkWave, &w);
    auto *mp3 = new TFileListView(lkMpeg, &w);
    TFileLists lists(wave, mp3, [&] { return convertType; });
    int summaries = 0;
    QObject::connect(&lists, &TFileLists::SummaryChanged, [&] { ++summaries; });
    w.show();
    // Adds this large run on the worker; the time is to the last row.
    auto add = [&](const QStringList &paths) {
        const int before = lists.CurrentList()->RowCount();
        TAddFilesResult result = lists.AddFiles(paths);
        if (result.InBackground) {
            QEventLoop loop;
            const auto done =
                QObject::connect(&lists, &TFileLists::AddFinished, &loop, &QEventLoop::quit);
            if (lists.Adding())
                loop.exec();
            QObject::disconnect(done);
            result.Added = lists.CurrentList()->RowCount() - before;
        }
        return result;
    };
    QElapsedTimer t;
    t.start();
    auto r = add(wavs);
    printf("add 1000 WAV: %lld ms (added %d)\n", t.elapsed(), r.Added);
    convertType = 1;
    t.restart();
    r = add(mp3s);
    printf("add 1000 MP3: %lld ms (added %d)\n", t.elapsed(), r.Added);
    t.restart();
    r = add(mp3s);
    printf("re-add 1000 MP3 duplicates: %lld ms (added %d)\n", t.elapsed(), r.Added);
    if (argc > 1) {
        for (const QStringList *files : {&wavs, &mp3s}) {
            QProcess cli;
            cli.setStandardOutputFile(QProcess::nullDevice());
            t.restart();
            cli.start(QString::fromLocal8Bit(argv[1]), QStringList{"info", "--json"} + *files);
            cli.waitForFinished(-1);
            printf("brindle-cli info on the same 1000 %s: %lld ms\n",
                   files == &wavs ? "WAV" : "MP3", t.elapsed());
        }
    }
    convertType = 0;
    lists.ClearAll();
    t.restart();
    r = add(tiny);
    printf("add 10000 tiny WAV: %lld ms (added %d)\n", t.elapsed(), r.Added);
    {
        // The same files as a folder tree of 100 albums, added as Add Folder does; a 10 ms
        // timer measures how long the window's event loop was kept from input meanwhile.
        QDir root(dir.filePath("tree"));
        for (int i = 0; i < 10000; ++i) {
            const QString album = QString("artist%1/album%2").arg(i / 1000).arg(i / 100 % 10);
            root.mkpath(album);
            QFile::link(tiny[i], root.filePath(album + QString("/%1 track.wav").arg(i % 100)));
        }
        lists.ClearAll();
        QElapsedTimer gap;
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longest = std::max(longest, gap.restart()); });
        QEventLoop loop;
        const auto done =
            QObject::connect(&lists, &TFileLists::AddFinished, &loop, &QEventLoop::quit);
        t.restart();
        gap.start();
        tick.start(10);
        lists.AddFolders({root.path()});
        if (lists.Adding())
            loop.exec();
        tick.stop();
        QObject::disconnect(done);
        printf(
            "add folder tree of 10000 WAV: %lld ms (listed %d), longest event-loop gap %lld ms\n",
            t.elapsed(), lists.WaveList()->RowCount(), longest);
    }
    summaries = 0;
    t.restart();
    lists.SelectAll();
    printf("select all 10000: %lld ms, summaries %d, %s\n", t.elapsed(), summaries,
           qPrintable(lists.SelectedText()));
    t.restart();
    lists.InvertSelection();
    printf("invert 10000 (all->none): %lld ms, %s\n", t.elapsed(),
           qPrintable(lists.SelectedText()));
    for (int i = 0; i < 10000; i += 2)
        wave->topLevelItem(i)->setSelected(true);
    summaries = 0;
    t.restart();
    lists.InvertSelection();
    printf("invert 10000 (alternating): %lld ms, summaries %d, %s\n", t.elapsed(), summaries,
           qPrintable(lists.SelectedText()));
    t.restart();
    lists.SelectAll();
    printf("select all from alternating: %lld ms, %s\n", t.elapsed(),
           qPrintable(lists.SelectedText()));
    for (int step : {4, 8}) {
        wave->clearSelection();
        for (int i = 0; i < 10000; i += step)
            wave->topLevelItem(i)->setSelected(true);
        t.restart();
        lists.InvertSelection();
        qint64 inv = t.elapsed();
        t.restart();
        lists.SelectAll();
        printf("every %d: invert %lld ms, then select all %lld ms\n", step, inv, t.elapsed());
    }
    t.restart();
    wave->ColumnClick(0);
    printf("sort 10000 by name: %lld ms\n", t.elapsed());
    t.restart();
    lists.DeleteSelected();
    printf("delete 10000 selected: %lld ms rows %d\n", t.elapsed(), wave->RowCount());
    return 0;
}
