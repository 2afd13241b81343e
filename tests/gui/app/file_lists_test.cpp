#include "app/FileLists.h"
#include "app/RawNames.h"
#include "encoder/LameCoder.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <gtest/gtest.h>

using namespace testmedia;

namespace {

class FileListsTest : public ::testing::Test {
protected:
    FileListsTest() {
        QLocale::setDefault(QLocale::c());
        window.resize(800, 400);
        lists = new TFileLists(
            wave, mp3, [this] { return convertType; }, &window);
        QObject::connect(lists, &TFileLists::SummaryChanged,
                         [this](const QString &s, const QString &t) {
                             selectedText = s;
                             totalText = t;
                         });
    }
    ~FileListsTest() override { QLocale::setDefault(QLocale::system()); }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString wav(const QString &name, double seconds = 2.0) const {
        WriteSineWav(path(name), 2, 44100, seconds, 440);
        return path(name);
    }
    QString encodeMp3(const QString &name) const {
        const QString source = wav(name + ".src.wav");
        TLameCoder coder;
        coder.SetInputFiles({source});
        coder.SetOutputFiles({path(name)});
        coder.Encode();
        return path(name);
    }
    QString junk(const QString &name) const {
        WriteFile(path(name), QByteArray(3000, 'x'));
        return path(name);
    }
    static QStringList row(const TFileListView *list, int r) {
        QStringList texts;
        for (int c = 0; c < list->columnCount(); ++c)
            texts << list->topLevelItem(r)->text(c);
        return texts;
    }
    static QStringList captions(const TFileListView *list) {
        QStringList texts;
        for (int c = 0; c < list->columnCount(); ++c)
            texts << list->headerItem()->text(c);
        return texts;
    }
    static QStringList column(const TFileListView *list, int c) {
        QStringList texts;
        for (int r = 0; r < list->RowCount(); ++r)
            texts << list->topLevelItem(r)->text(c);
        return texts;
    }

    QTemporaryDir dir;
    QWidget window;
    TFileListView *wave = new TFileListView(lkWave, &window);
    TFileListView *mp3 = new TFileListView(lkMpeg, &window);
    int convertType = 0;
    TFileLists *lists;
    QString selectedText, totalText;
};

} // namespace

// --- what the rows show ---

TEST_F(FileListsTest, ListsCarryTheirNamesColumnsAndHints) {
    EXPECT_EQ(window.findChild<TFileListView *>("lvWaveFiles"), wave);
    EXPECT_EQ(window.findChild<TFileListView *>("lvMP3Files"), mp3);
    EXPECT_EQ(captions(wave), (QStringList{"File Name", "Time", "Size", "Path", "State"}));
    EXPECT_EQ(captions(mp3), (QStringList{"File Name", "Title", "Artist", "Album", "Year", "Time",
                                          "Size", "Path", "State"}));
    EXPECT_EQ(window.findChild<QLabel *>("PanelHintDragWave")->text(), "Drag Wave files here");
    EXPECT_EQ(window.findChild<QLabel *>("DragHintPanel")->text(), "Drag MP3 files here");
    EXPECT_EQ(wave->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(wave->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(FileListsTest, WaveRowShowsTimeSizePathAndEmptyState) {
    const QString a = wav("a.wav", 2.0); // 352800 data bytes + header: 0.34 MB
    const TAddFilesResult result = lists->AddFiles({a});
    EXPECT_EQ(result.Added, 1);
    ASSERT_EQ(wave->RowCount(), 1);
    EXPECT_EQ(row(wave, 0), (QStringList{"a.wav", "00:02", "0.34MB", dir.path() + "/", ""}));
    const TFileParam *p = wave->Record(0);
    EXPECT_EQ(p->Kind, fkWave);
    EXPECT_EQ(p->SourcePath, a);
    EXPECT_EQ(p->Duration, 2);
    EXPECT_TRUE(p->WaveData.Valid);
    EXPECT_EQ(p->State, stQueued);
    EXPECT_FALSE(wave->topLevelItem(0)->icon(0).isNull());
    EXPECT_EQ(totalText, "Total 1 file(s), 2 seconds(00:00:02)");
}

TEST_F(FileListsTest, SizeFollowsTheUsersDecimalSeparator) {
    QLocale::setDefault(QLocale(QLocale::German));
    lists->AddFiles({wav("a.wav", 2.0)});
    ASSERT_EQ(wave->RowCount(), 1);
    EXPECT_EQ(wave->topLevelItem(0)->text(2), "0,34MB");
}

TEST_F(FileListsTest, LongWaveShowsHours) {
    // 8-bit mono at 1 Hz makes every byte of data a second of play time; the program counts
    // one byte more than the data holds.
    auto slowWav = [this](const QString &name, int seconds) {
        WriteFile(path(name),
                  WavHeader(1, 1, 8, quint32(seconds - 1)) + QByteArray(seconds - 1, 0));
        return path(name);
    };
    lists->AddFiles({slowWav("hour.wav", 3600), slowWav("under.wav", 3599)});
    EXPECT_EQ(column(wave, 1), (QStringList{"01:00:00", "59:59"}));
}

TEST_F(FileListsTest, UnreadableWaveRowHasEmptyTimeAndNoSeconds) {
    const QString bad = junk("bad.wav");
    lists->AddFiles({bad, wav("good.wav")});
    ASSERT_EQ(wave->RowCount(), 2);
    const QString why = "Unreadable: " + wave->Record(0)->Problem;
    EXPECT_EQ(row(wave, 0), (QStringList{"bad.wav", "", "0.00MB", dir.path() + "/", why}));
    EXPECT_EQ(wave->Record(0)->Kind, fkUnreadable);
    // The reason stands in the row's tooltip too, wherever the pointer rests on it.
    EXPECT_FALSE(wave->Record(0)->Problem.isEmpty());
    for (int c = 0; c < wave->columnCount(); ++c)
        EXPECT_EQ(wave->topLevelItem(0)->toolTip(c), why) << c;
    EXPECT_EQ(wave->topLevelItem(1)->toolTip(0), "");
    wave->SelectAllRows();
    EXPECT_EQ(selectedText, "selected 2 file(s), 2 seconds(00:00:02)");
    EXPECT_EQ(totalText, "Total 2 file(s), 2 seconds(00:00:02)");
}

TEST_F(FileListsTest, WaveWithoutSamplesIsListedAsAWaveFile) {
    // Only encoding refuses it; its header is valid and can be looked at.
    WriteFile(path("empty.wav"), WavHeader(2, 44100, 16, 0));
    lists->AddFiles({path("empty.wav")});
    ASSERT_EQ(wave->RowCount(), 1);
    EXPECT_EQ(wave->Record(0)->Kind, fkWave);
    EXPECT_EQ(wave->Record(0)->Duration, 0);
}

TEST_F(FileListsTest, Mp3RowsShowTagFallbacksAndUnreadableRowsShowDashes) {
    convertType = 1;
    const QString song = encodeMp3("song.mp3");
    lists->AddFiles({song, junk("broken.mp3")});
    ASSERT_EQ(mp3->RowCount(), 2);
    const TFileParam *p = mp3->Record(0);
    EXPECT_EQ(p->Kind, fkMpeg);
    EXPECT_GE(p->Duration, 2);
    EXPECT_LE(p->Duration, 3);
    EXPECT_EQ(p->MpegData.FileName, song);
    const QStringList cells = row(mp3, 0);
    EXPECT_EQ(cells.mid(0, 5),
              (QStringList{"song.mp3", "Unknown Title", "Unknown Artist", "", "    "}));
    EXPECT_EQ(cells[5], DurationColumnText(p->Duration));
    EXPECT_TRUE(cells[6].endsWith("MB"));
    EXPECT_EQ(cells.mid(7), (QStringList{dir.path() + "/", ""}));

    EXPECT_EQ(row(mp3, 1),
              (QStringList{"broken.mp3", "", "", "", "", "- -", "0.00MB", dir.path() + "/",
                           "Unreadable: " + mp3->Record(1)->Problem}));
    EXPECT_TRUE(mp3->Record(1)->Problem.startsWith("not MPEG audio"));
    EXPECT_EQ(mp3->Record(1)->Kind, fkUnreadable);
    EXPECT_EQ(wave->RowCount(), 0);
}

// A FLAC file named .mp3, holding bytes that pass for MPEG frames, is no MPEG item.
TEST_F(FileListsTest, OtherFormatNamedMp3IsUnreadable) {
    convertType = 1;
    QByteArray frame(417, '\0');
    frame.replace(0, 4, QByteArray("\xFF\xFB\x90\x00", 4));
    WriteFile(path("flac.mp3"), "fLaC" + frame.repeated(20));
    lists->AddFiles({path("flac.mp3")});
    ASSERT_EQ(mp3->RowCount(), 1);
    EXPECT_EQ(mp3->Record(0)->Kind, fkUnreadable);
    EXPECT_EQ(row(mp3, 0)[5], "- -");
}

TEST_F(FileListsTest, TaggedMp3ShowsItsTagAndRefreshFollowsTheRecord) {
    convertType = 1;
    const QString song = encodeMp3("song.mp3");
    TMPEGAudio tagger;
    tagger.SetFileName(song);
    tagger.SetTitle("Night Train");
    tagger.SetArtist("The Rails");
    tagger.SetAlbum("Tracks");
    tagger.SetYear("1999");
    ASSERT_EQ(tagger.WriteTag(), 0);

    lists->AddFiles({song});
    ASSERT_EQ(mp3->RowCount(), 1);
    EXPECT_EQ(row(mp3, 0).mid(1, 4), (QStringList{"Night Train", "The Rails", "Tracks", "1999"}));

    mp3->Record(0)->State = stDone;
    mp3->Record(0)->MpegData.Title = QStringLiteral("Day Train");
    mp3->RefreshStates();
    EXPECT_EQ(mp3->topLevelItem(0)->text(8), "Done");
    mp3->RefreshRow(0);
    EXPECT_EQ(mp3->topLevelItem(0)->text(1), "Day Train");
}

TEST_F(FileListsTest, FileChosenOutsideTheFilterIsReadAsTheListsFormat) {
    WriteSineWav(path("take.txt"), 1, 8000, 1.0, 440);
    lists->AddChosenFiles({path("take.txt")});
    ASSERT_EQ(wave->RowCount(), 1);
    EXPECT_EQ(wave->Record(0)->Kind, fkWave);
}

// --- duplicates and failures ---

TEST_F(FileListsTest, SameFileTwiceGivesOneRow) {
    const QString a = wav("a.wav");
    EXPECT_EQ(lists->AddFiles({a, a}).Added, 1);
    EXPECT_EQ(lists->AddFiles({a}).Added, 0);
    EXPECT_EQ(lists->AddFiles({dir.path() + "//./a.wav"}).Added, 0);
    EXPECT_EQ(wave->RowCount(), 1);
    EXPECT_EQ(wave->FindListedFile(a), 0);
    EXPECT_EQ(wave->FindListedFile(path("b.wav")), -1);
}

#ifndef Q_OS_WIN
TEST_F(FileListsTest, NamesDifferingInCaseAreTwoFilesOnLinux) {
    const QString lower = wav("a.wav"), upper = wav("A.WAV");
    EXPECT_EQ(lists->AddFiles({lower, upper}).Added, 2);
    EXPECT_EQ(wave->FindListedFile(upper), 1);
}
#endif

TEST_F(FileListsTest, FileThatCannotBeOpenedIsReportedNotListed) {
    QStringList errors;
    QObject::connect(lists, &TFileLists::FileReadError, [&](const QString &l) { errors << l; });
    const QString gone = path("gone.mp3");
    convertType = 1;
    const TAddFilesResult result = lists->AddFiles({gone, encodeMp3("ok.mp3")});
    EXPECT_EQ(result.Added, 1);
    EXPECT_EQ(result.ErrorLines,
              QStringList{"Error read file: " + gone + " (No such file or directory)"});
    EXPECT_EQ(errors, QStringList{"Error read file: " + gone + " (No such file or directory)"});
    EXPECT_EQ(mp3->RowCount(), 1);
}

TEST_F(FileListsTest, AddingReportsProgressForEveryPath) {
    QStringList events;
    QObject::connect(lists, &TFileLists::AddStarted,
                     [&](int total) { events << QStringLiteral("start %1").arg(total); });
    QObject::connect(lists, &TFileLists::AddProgress, [&](int position, int total) {
        events << QStringLiteral("%1/%2").arg(position).arg(total);
    });
    QObject::connect(lists, &TFileLists::AddFinished, [&] { events << "end"; });
    const QString a = wav("a.wav");
    lists->AddFiles({a, a, path("gone.wav")});
    EXPECT_EQ(events, (QStringList{"start 3", "1/3", "2/3", "3/3", "end"}));
}

// --- the active list, drops and playlists ---

TEST_F(FileListsTest, DroppedMp2GoesOnlyToTheMp3List) {
    WriteFile(path("clip.MP2"), QByteArray(100, 0));
    const QList<QUrl> urls{QUrl::fromLocalFile(path("clip.MP2"))};
    EXPECT_EQ(lists->DropFiles(urls).Added, 0);
    EXPECT_EQ(wave->RowCount(), 0);
    convertType = 1;
    EXPECT_EQ(lists->DropFiles(urls).Added, 1);
    EXPECT_EQ(mp3->RowCount(), 1);
}

TEST_F(FileListsTest, PlaylistDropAddsItsEntries) {
    wav("a.wav");
    QDir().mkpath(path("sub"));
    wav("sub/b.wav");
    WriteFile(path("set.m3u"), "#EXTM3U\r\na.wav\r\nsub\\b.wav\r\nmissing.wav\r\n");
    ASSERT_EQ(lists->DropFiles({QUrl::fromLocalFile(path("set.m3u"))}).Added, 2);
    ASSERT_EQ(wave->RowCount(), 2);
    EXPECT_EQ(column(wave, 0), (QStringList{"a.wav", "b.wav"}));
    EXPECT_EQ(wave->Record(1)->SourcePath, path("sub/b.wav"));
}

TEST_F(FileListsTest, PlaylistEntryThatIsNotUtf8IsReportedNotTakenForAnotherFile) {
    // The file the entry names, and the one that decoding the usual way would take for it.
    const QByteArray Bad = QFile::encodeName(dir.path()) + "/bad\xffname.wav";
    WriteSineWav(path("bad.tmp"), 1, 8000, 1.0, 440);
    ASSERT_EQ(::rename(QFile::encodeName(path("bad.tmp")).constData(), Bad.constData()), 0);
    wav(QStringLiteral("bad\uFFFDname.wav"));
    wav("a.wav");
    for (const char *List : {"set.m3u", "set.pls"}) {
        WriteFile(path(List), QByteArray(List).endsWith("m3u")
                                  ? QByteArray("bad\xffname.wav\na.wav\n")
                                  : QByteArray("[playlist]\nFile1=bad\xffname.wav\nFile2=a.wav\n"
                                               "NumberOfEntries=2\n"));
        QStringList Errors;
        const auto Connection = QObject::connect(lists, &TFileLists::FileReadError,
                                                 [&](const QString &Line) { Errors << Line; });
        EXPECT_EQ(lists->DropFiles({QUrl::fromLocalFile(path(List))}).Added, 1) << List;
        QObject::disconnect(Connection);
        EXPECT_EQ(Errors, QStringList{"Error read file: " + dir.path() + "/bad\\xffname.wav (" +
                                      RawNameReason() + ")"})
            << List;
        ASSERT_EQ(wave->RowCount(), 1) << List;
        EXPECT_EQ(wave->Record(0)->SourcePath, path("a.wav"));
        lists->ClearAll();
    }
}

TEST_F(FileListsTest, UnopenablePlaylistAddsNothing) {
    const QString a = wav("a.wav");
    EXPECT_THROW(lists->AddChosenFiles({a, path("gone.m3u")}), EPlaylistError);
    EXPECT_EQ(wave->RowCount(), 0);
}

TEST_F(FileListsTest, DragHintsShowOnlyOverEmptyListsAfterAdding) {
    window.show();
    EXPECT_TRUE(wave->DragHint()->isVisible());
    lists->AddFiles({wav("a.wav")});
    EXPECT_FALSE(wave->DragHint()->isVisible());
    EXPECT_TRUE(mp3->DragHint()->isVisible());
    lists->ClearAll();
    EXPECT_FALSE(wave->DragHint()->isVisible()); // clearing leaves it hidden
    const QLabel *hint = mp3->DragHint();
    EXPECT_EQ(hint->x(), (mp3->width() - hint->width()) / 2);
    EXPECT_EQ(hint->y(), (mp3->height() - hint->height()) / 2);
}

// --- selection, delete, clear ---

TEST_F(FileListsTest, SelectAllInvertAndSummaries) {
    lists->AddFiles({wav("a.wav", 1), wav("b.wav", 2), wav("c.wav", 3)});
    ASSERT_EQ(wave->RowCount(), 3);
    EXPECT_EQ(selectedText, "selected 0 file(s), 0 seconds(00:00:00)");
    EXPECT_EQ(totalText, "Total 3 file(s), 6 seconds(00:00:06)");

    wave->topLevelItem(1)->setSelected(true);
    EXPECT_EQ(selectedText, "selected 1 file(s), 2 seconds(00:00:02)");
    lists->InvertSelection();
    EXPECT_EQ(wave->SelectedRows(), (QList<int>{0, 2}));
    EXPECT_EQ(selectedText, "selected 2 file(s), 4 seconds(00:00:04)");
    lists->SelectAll();
    EXPECT_EQ(wave->SelectedRows(), (QList<int>{0, 1, 2}));
    EXPECT_EQ(selectedText, "selected 3 file(s), 6 seconds(00:00:06)");
    lists->InvertSelection();
    EXPECT_TRUE(wave->SelectedRows().isEmpty());
    EXPECT_EQ(selectedText, "selected 0 file(s), 0 seconds(00:00:00)");
}

TEST_F(FileListsTest, SummaryFollowsTheActiveList) {
    lists->AddFiles({wav("a.wav", 2)});
    convertType = 1;
    lists->CurrentListChanged();
    EXPECT_EQ(totalText, "Total 0 file(s), 0 seconds(00:00:00)");
    wave->selectAll(); // the inactive list does not write the panes
    EXPECT_EQ(selectedText, "selected 0 file(s), 0 seconds(00:00:00)");
    convertType = 0;
    lists->CurrentListChanged();
    EXPECT_EQ(selectedText, "selected 1 file(s), 2 seconds(00:00:02)");
}

TEST_F(FileListsTest, DeleteSelectedAndClearAll) {
    lists->AddFiles({wav("a.wav", 1), wav("b.wav", 2), wav("c.wav", 3)});
    ASSERT_EQ(wave->RowCount(), 3);
    wave->topLevelItem(0)->setSelected(true);
    wave->topLevelItem(2)->setSelected(true);
    lists->DeleteSelected();
    EXPECT_EQ(column(wave, 0), QStringList{"b.wav"});
    EXPECT_EQ(totalText, "Total 1 file(s), 2 seconds(00:00:02)");
    EXPECT_EQ(selectedText, "selected 0 file(s), 0 seconds(00:00:00)");
    lists->ClearAll();
    EXPECT_EQ(wave->RowCount(), 0);
    EXPECT_EQ(totalText, "Total 0 file(s), 0 seconds(00:00:00)");
    // A deleted file can be added again.
    EXPECT_EQ(lists->AddFiles({path("a.wav")}).Added, 1);
}

// --- sorting ---

TEST_F(FileListsTest, FirstClickSortsAscendingAndTheHeaderShowsTheOrder) {
    lists->AddFiles({wav("b.wav", 1), wav("C.wav", 3), wav("a.wav", 2)});
    ASSERT_EQ(wave->RowCount(), 3);
    QHeaderView *header = wave->header();
    EXPECT_EQ(header->sortIndicatorSection(), -1); // no arrow before the first sort
    wave->topLevelItem(1)->setSelected(true);      // C.wav
    header->sectionClicked(0);
    EXPECT_EQ(column(wave, 0), (QStringList{"a.wav", "b.wav", "C.wav"}));
    EXPECT_EQ(wave->SelectedRows(), QList<int>{2}); // the selection moves with its row
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    header->sectionClicked(0); // the same column again: the other way round
    EXPECT_EQ(column(wave, 0), (QStringList{"C.wav", "b.wav", "a.wav"}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

    header->sectionClicked(1); // another column starts ascending
    EXPECT_EQ(column(wave, 1), (QStringList{"00:01", "00:02", "00:03"}));
    EXPECT_EQ(header->sortIndicatorSection(), 1);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_FALSE(mp3->Sorted()); // each list has its own order
}

TEST_F(FileListsTest, SizesSortByTheirBytes) {
    WriteFile(path("big.wav"), WavHeader(2, 44100, 16, 0) + QByteArray(qint64(41.2 * 1048576), 0));
    WriteFile(path("mid.wav"), WavHeader(2, 44100, 16, 0) + QByteArray(qint64(8.41 * 1048576), 0));
    lists->AddFiles({path("big.wav"), path("mid.wav")});
    wave->header()->sectionClicked(2);
    EXPECT_EQ(column(wave, 2), (QStringList{"8.41MB", "41.20MB"}));
    wave->header()->sectionClicked(2);
    EXPECT_EQ(column(wave, 2), (QStringList{"41.20MB", "8.41MB"}));
}

TEST_F(FileListsTest, RowsAddedToASortedListTakeTheirPlacesInItsOrder) {
    lists->AddFiles({wav("b.wav"), wav("a.wav")});
    lists->AddFiles({wav("c.wav")});
    EXPECT_EQ(column(wave, 0), (QStringList{"b.wav", "a.wav", "c.wav"})) << "unsorted: appended";
    wave->ColumnClick(0);
    wave->ColumnClick(0);
    lists->AddFiles({wav("0.wav"), wav("bb.wav")});
    EXPECT_EQ(column(wave, 0), (QStringList{"c.wav", "bb.wav", "b.wav", "a.wav", "0.wav"}));
}

// --- one add at a time -----------------------------------------------------------------

TEST_F(FileListsTest, AddStartedWhileAnotherRunsIsRefusedAndRecordsMatchTheirFiles) {
    convertType = 1;
    const QString song = encodeMp3("song.mp3");
    const QString broken = junk("broken.mp3");
    const QString other = encodeMp3("other.mp3");
    bool refused = false;
    bool tried = false;
    const auto connection = QObject::connect(lists, &TFileLists::AddProgress, [&](int, int) {
        if (tried)
            return;
        tried = true;
        try {
            lists->AddFiles({other});
        } catch (const Exception &) {
            refused = true;
        }
    });
    lists->AddFiles({song, broken});
    QObject::disconnect(connection);
    EXPECT_TRUE(refused);
    ASSERT_EQ(mp3->RowCount(), 2);
    for (int r = 0; r < 2; ++r)
        EXPECT_EQ(mp3->Record(r)->MpegData.FileName, mp3->Record(r)->SourcePath);
    EXPECT_EQ(mp3->Record(0)->Kind, fkMpeg);
    EXPECT_EQ(mp3->Record(1)->Kind, fkUnreadable);
    // Once the first has finished, the second add goes through.
    EXPECT_EQ(lists->AddFiles({other}).Added, 1);
}

// --- adds read on a worker ---------------------------------------------------------------

namespace {

// Runs the event loop until the add has finished, 30 seconds at most.
bool WaitForAdd(TFileLists *lists) {
    QEventLoop loop;
    QObject::connect(lists, &TFileLists::AddFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (lists->Adding())
        loop.exec();
    return !lists->Adding();
}

} // namespace

TEST_F(FileListsTest, LargeAddRunsOnAWorkerAndListsEverythingInOrder) {
    lists->SetWorkerThreshold(3);
    // The window stays hidden: painting it from the event loop would start Qt's own painting
    // threads, whose hand-overs ThreadSanitizer cannot see. isHidden() tells the hints apart.
    const QString a = wav("a.wav", 1), b = wav("b.wav", 2), gone = path("gone.wav");
    const QString bad = junk("bad.wav");
    QStringList events, errors;
    QObject::connect(lists, &TFileLists::AddStarted,
                     [&](int total) { events << QStringLiteral("start %1").arg(total); });
    QObject::connect(lists, &TFileLists::AddProgress, [&](int position, int total) {
        events << QStringLiteral("%1/%2").arg(position).arg(total);
    });
    QObject::connect(lists, &TFileLists::FileReadError, [&](const QString &l) { errors << l; });
    QObject::connect(lists, &TFileLists::AddFinished, [&] { events << "end"; });

    const TAddFilesResult result = lists->AddFiles({a, gone, bad, a, b});
    EXPECT_TRUE(result.InBackground);
    EXPECT_TRUE(lists->Adding());
    EXPECT_EQ(wave->RowCount(), 0); // the rows come through the event loop
    EXPECT_TRUE(wave->DragHint()->isHidden());
    // A second add is refused while the first runs.
    EXPECT_THROW(lists->AddFiles({wav("c.wav")}), Exception);

    ASSERT_TRUE(WaitForAdd(lists));
    EXPECT_EQ(column(wave, 0), (QStringList{"a.wav", "bad.wav", "b.wav"}));
    EXPECT_EQ(row(wave, 2), (QStringList{"b.wav", "00:02", "0.34MB", dir.path() + "/", ""}));
    EXPECT_EQ(wave->Record(1)->Kind, fkUnreadable);
    EXPECT_EQ(errors, QStringList{"Error read file: " + gone + " (No such file or directory)"});
    ASSERT_GE(events.size(), 3);
    EXPECT_EQ(events.front(), "start 5");
    EXPECT_EQ(events.mid(events.size() - 2), (QStringList{"5/5", "end"}));
    EXPECT_EQ(totalText, "Total 3 file(s), 3 seconds(00:00:03)");
    EXPECT_TRUE(wave->DragHint()->isHidden());
    EXPECT_FALSE(mp3->DragHint()->isHidden());
    // Afterwards adds are taken again.
    EXPECT_EQ(lists->AddFiles({path("c.wav")}).Added, 1);
}

TEST_F(FileListsTest, ListChangedDuringABackgroundAddKeepsItsRowsAndGetsTheNewOnesAppended) {
    lists->AddFiles({wav("a.wav", 1), wav("b.wav", 2)});
    TFileParam *b = wave->Record(1);
    lists->SetWorkerThreshold(1);
    const QStringList fresh{wav("c.wav"), wav("d.wav"), path("a.wav")};
    wave->topLevelItem(0)->setSelected(true);

    lists->AddFiles(fresh);
    lists->DeleteSelected(); // a.wav goes; it was listed when the add started, so it stays out
    wave->ColumnClick(0);    // sorted while the add runs
    convertType = 1;         // the rows still go to the list that started the add
    lists->CurrentListChanged();
    ASSERT_TRUE(WaitForAdd(lists));

    EXPECT_EQ(column(wave, 0), (QStringList{"b.wav", "c.wav", "d.wav"}));
    EXPECT_EQ(wave->Record(0), b); // the record handed out before is still the row's
    EXPECT_EQ(mp3->RowCount(), 0);

    convertType = 0;
    lists->AddFiles({wav("e.wav"), wav("f.wav")});
    lists->ClearAll();
    ASSERT_TRUE(WaitForAdd(lists));
    EXPECT_EQ(column(wave, 0), (QStringList{"e.wav", "f.wav"}));
    lists->CurrentListChanged();
    EXPECT_EQ(totalText, "Total 2 file(s), 4 seconds(00:00:04)");
}

TEST_F(FileListsTest, AbortedAddKeepsWhatWasReadAndTakesNoMore) {
    QStringList paths;
    const QByteArray tiny = WavHeader(1, 8000, 8, 80) + QByteArray(80, char(0x80));
    for (int i = 0; i < 3000; ++i) {
        paths << path(QStringLiteral("t%1.wav").arg(i));
        WriteFile(paths.back(), tiny);
    }
    bool finished = false;
    QObject::connect(lists, &TFileLists::AddFinished, [&] { finished = true; });
    EXPECT_TRUE(lists->AddFiles(paths).InBackground);
    lists->AbortAdd();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(lists->Adding());
    const int rows = wave->RowCount();
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(wave->RowCount(), rows);
    EXPECT_LT(rows, 3000);
    lists->AbortAdd(); // nothing runs: nothing happens
}

TEST_F(FileListsTest, ListsGoingDuringABackgroundAddStopTheWorker) {
    QStringList paths;
    for (int i = 0; i < 400; ++i)
        paths << wav(QStringLiteral("t%1.wav").arg(i), 0.01);
    auto *other = new QWidget;
    auto *w = new TFileListView(lkWave, other);
    auto *m = new TFileListView(lkMpeg, other);
    // Owned apart from the views, as the main window's are: the views go first.
    auto owner = std::make_unique<QObject>();
    auto *l = new TFileLists(
        w, m, [] { return 0; }, owner.get());
    EXPECT_TRUE(l->AddFiles(paths).InBackground);
    delete other;
    EXPECT_FALSE(l->Adding());
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    owner.reset();
}
