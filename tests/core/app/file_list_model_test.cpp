#include "app/FileListModel.h"
#include "app/PlaylistImport.h"
#include "app/RawNames.h"
#include "encoder/LameCoder.h"
#include "inspect/MPGTools.h"
#include "support/TaggedMp3.h"
#include "support/TestMedia.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

using namespace testmedia;

namespace {

class FileListModelTest : public ::testing::Test {
protected:
    FileListModelTest() { QLocale::setDefault(QLocale::c()); }
    ~FileListModelTest() override { QLocale::setDefault(QLocale::system()); }

    QString path(const QString &name) const { return dir.filePath(name); }
    QString wav(const QString &name, double seconds = 1.0) const {
        WriteSineWav(path(name), 1, 8000, seconds, 440);
        return path(name);
    }
    // 8-bit mono at 8000 Hz: a second of play time in 8000 bytes, quick to write in bulk.
    QString tinyWav(const QString &name) const {
        WriteFile(path(name), WavHeader(1, 8000, 8, 8000) + QByteArray(8000, char(0x80)));
        return path(name);
    }
    QString junk(const QString &name) const {
        WriteFile(path(name), QByteArray(3000, 'x'));
        return path(name);
    }
    QString mp3(const QString &name) const {
        const QString source = path(name + ".src.wav");
        WriteSineWav(source, 2, 44100, 2.0, 440);
        TLameCoder coder;
        coder.SetInputFiles({source});
        coder.SetOutputFiles({path(name)});
        coder.Encode();
        return path(name);
    }
    static QStringList sources(const TFileListModel &model) {
        QStringList paths;
        for (int row = 0; row < model.Count(); ++row)
            paths << model.Record(row)->SourcePath;
        return paths;
    }
    static QStringList column(const TFileListModel &model, int c) {
        QStringList texts;
        for (int row = 0; row < model.Count(); ++row)
            texts << model.Cells(row)[c];
        return texts;
    }

    QTemporaryDir dir;
    TMPEGAudio mpeg;
};

// Runs the event loop until Done() or 30 seconds have passed.
bool WaitFor(const std::function<bool()> &Done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (Done())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!Done())
        loop.exec();
    return Done();
}

} // namespace

// --- the inspection of one path ---

TEST_F(FileListModelTest, WaveListReadsWaveFilesAndKeepsTheSizeOfOthers) {
    const std::optional<TFileParam> good = InspectListFile(wav("a.wav", 2.0), lkWave, mpeg);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->Kind, fkWave);
    EXPECT_EQ(good->FileName, "a.wav");
    EXPECT_EQ(good->SourcePath, path("a.wav"));
    EXPECT_EQ(good->State, stQueued);
    EXPECT_EQ(good->Duration, 2);
    EXPECT_TRUE(good->WaveData.Valid);

    const std::optional<TFileParam> bad = InspectListFile(junk("bad.wav"), lkWave, mpeg);
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->Kind, fkUnreadable);
    EXPECT_EQ(bad->WaveData.FileSize, 3000);
    EXPECT_EQ(bad->Duration, 0);
    const QStringList cells = ListRowTexts(*bad, lkWave);
    EXPECT_EQ(cells.mid(0, 4), (QStringList{"bad.wav", "", "0.00MB", dir.path() + "/"}));
    // The State column says why the file is not listed as audio.
    EXPECT_FALSE(bad->Problem.isEmpty());
    EXPECT_EQ(cells[4], "Unreadable: " + bad->Problem);
}

TEST_F(FileListModelTest, WaveListTakesEveryPcmSourceLibsndfileReads) {
    WriteSineSound(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 48000, 2.5, 440);
    WriteSineSound(path("b.OGG"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, 1.2, 440);
    const std::optional<TFileParam> flac = InspectListFile(path("a.flac"), lkWave, mpeg);
    ASSERT_TRUE(flac);
    EXPECT_EQ(flac->Kind, fkAudio);
    EXPECT_TRUE(flac->IsReadable());
    EXPECT_EQ(flac->Duration, 2);
    EXPECT_EQ(flac->SourceSampleRate(), 48000u);
    EXPECT_EQ(flac->SoundData.FormatText, "FLAC 24-bit");
    const QStringList cells = ListRowTexts(*flac, lkWave);
    EXPECT_EQ(cells[1], "00:02");
    EXPECT_EQ(cells[2], SizeColumnText(QFileInfo(path("a.flac")).size()));
    EXPECT_EQ(SoundInfoLines(flac->SoundData, flac->Duration),
              (QStringList{"Format: FLAC 24-bit", "Bits/Sample: 24",
                           QStringLiteral("File size: %1").arg(QFileInfo(path("a.flac")).size()),
                           "Length: 2", "Channels: 2", "Samplerate: 48000", "Frames: 120000"}));

    const std::optional<TFileParam> ogg = InspectListFile(path("b.OGG"), lkWave, mpeg);
    ASSERT_TRUE(ogg);
    EXPECT_EQ(ogg->Kind, fkAudio);
    EXPECT_EQ(ogg->Duration, 1);
    EXPECT_FALSE(SoundInfoLines(ogg->SoundData, 1).join('\n').contains("Bits/Sample"))
        << "a lossy format has no depth of its own";

    // A FLAC file that libsndfile cannot read lists as unreadable, with its size.
    WriteFile(path("broken.flac"), QByteArray("fLaC") + QByteArray(2000, '\x11'));
    const std::optional<TFileParam> broken = InspectListFile(path("broken.flac"), lkWave, mpeg);
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->Kind, fkUnreadable);
    EXPECT_EQ(ListRowTexts(*broken, lkWave)[2], "0.00MB");
    EXPECT_EQ(broken->WaveData.FileSize, 2004);
}

TEST_F(FileListModelTest, ListsTakeTheExtensionsOfTheirDirection) {
    for (const char *name : {"a.wav", "a.FLAC", "a.aiff", "a.aif", "a.ogg", "a.opus", "a.w64",
                             "a.caf", "a.rf64", "a.AIFC"}) {
        EXPECT_TRUE(SuitsList(name, lkWave)) << name;
        EXPECT_FALSE(SuitsList(name, lkMpeg)) << name;
    }
    for (const char *name : {"a.mp3", "a.txt", "a.flac.bak", "flac"})
        EXPECT_FALSE(SuitsList(name, lkWave)) << name;
    EXPECT_TRUE(SuitsListOrPlaylist("a.m3u", lkWave));
}

TEST_F(FileListModelTest, MpegListReadsMpegFilesAndMarksOthersUnreadable) {
    const QString song = mp3("song.mp3");
    const std::optional<TFileParam> good = InspectListFile(song, lkMpeg, mpeg);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->Kind, fkMpeg);
    EXPECT_EQ(good->MpegData.FileName, song);
    EXPECT_GE(good->Duration, 2);
    EXPECT_LE(good->Duration, 3);
    const QStringList cells = ListRowTexts(*good, lkMpeg);
    EXPECT_EQ(cells.mid(0, 3), (QStringList{"song.mp3", "Unknown Title", "Unknown Artist"}));
    EXPECT_EQ(cells[5], DurationColumnText(good->Duration));

    // A WAV file is no MPEG item, and the inspector holds nothing of the file before it.
    const std::optional<TFileParam> other = InspectListFile(wav("a.wav"), lkMpeg, mpeg);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->Kind, fkUnreadable);
    EXPECT_EQ(other->MpegData.FileName, path("a.wav"));
    EXPECT_EQ(ListRowTexts(*other, lkMpeg).mid(1, 5), (QStringList{"", "", "", "", "- -"}));
    EXPECT_TRUE(other->Problem.startsWith("not MPEG audio: WAV file"))
        << qPrintable(other->Problem);
    EXPECT_EQ(ListRowTexts(*other, lkMpeg)[8], "Unreadable: " + other->Problem);
}

TEST_F(FileListModelTest, UnreadableRowsKeepTheirReasonAfterABatchRefreshesTheStates) {
    TFileListModel model(lkMpeg);
    model.AddFiles({wav("a.wav")}, mpeg);
    ASSERT_EQ(model.Count(), 1);
    model.Record(0)->State = stError; // whatever a state says, the file was never read
    model.RefreshStates();
    EXPECT_TRUE(model.Cells(0)[8].startsWith("Unreadable: not MPEG audio: WAV file"));
    model.Record(0)->Problem.clear();
    model.RefreshStates();
    EXPECT_EQ(model.Cells(0)[8], "Unreadable");
}

TEST_F(FileListModelTest, FilesThatCannotBeReadGiveNoRecord) {
    EXPECT_FALSE(InspectListFile(path("gone.wav"), lkWave, mpeg));
    EXPECT_FALSE(InspectListFile(path("gone.mp3"), lkMpeg, mpeg));
    QDir().mkpath(path("folder.wav"));
    EXPECT_FALSE(InspectListFile(path("folder.wav"), lkWave, mpeg));
    // A pipe without a writer would stall an open that waits.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.mp3")).constData(), 0600), 0);
    EXPECT_FALSE(InspectListFile(path("pipe.mp3"), lkMpeg, mpeg));
    // A name with a byte that is not text is refused, even though a file with the name it
    // would be read as exists.
    wav(QStringLiteral("bad\uFFFDname.wav"));
    const QString raw = DecodeRawName(QFile::encodeName(dir.path()) + "/bad\xffname.wav");
    QString why;
    EXPECT_FALSE(InspectListFile(raw, lkWave, mpeg, QString(), &why));
    EXPECT_EQ(why, RawNameReason());
    EXPECT_EQ(ReadErrorLine(raw), "Error read file: " + dir.path() + "/bad\\xffname.wav");
    EXPECT_EQ(ReadErrorLine(raw, why),
              "Error read file: " + dir.path() + "/bad\\xffname.wav (" + RawNameReason() + ")");
}

// --- adding ---

TEST_F(FileListModelTest, AddSkipsListedFilesAndReportsUnreadOnes) {
    TFileListModel model(lkWave);
    const QString a = wav("a.wav"), b = wav("b.wav");
    const QString gone = path("gone.wav");
    TAddFilesResult result = model.AddFiles({a, gone, a, dir.path() + "//./b.wav", b, gone}, mpeg);
    EXPECT_EQ(result.Added, 2);
    EXPECT_FALSE(result.InBackground);
    // An unread path is not listed, so it is tried, and reported, each time.
    EXPECT_EQ(result.ErrorLines,
              (QStringList{"Error read file: " + gone + " (No such file or directory)",
                           "Error read file: " + gone + " (No such file or directory)"}));
    EXPECT_EQ(sources(model), (QStringList{a, dir.path() + "//./b.wav"}));
    EXPECT_EQ(model.FindListedFile(b), 1);
    EXPECT_EQ(model.FindListedFile(path("c.wav")), -1);

    result = model.AddFiles({b, a, wav("A.WAV")}, mpeg); // Linux names differ in case
    EXPECT_EQ(result.Added, 1);
    EXPECT_EQ(model.Count(), 3);
}

TEST_F(FileListModelTest, ErrorLinesSayWhyAFileWasNotRead) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.mp3")).constData(), 0600), 0);
    TFileListModel model(lkMpeg);
    const TAddFilesResult result =
        model.AddFiles({path("pipe.mp3"), "http://radio.example/live.mp3"}, mpeg);
    EXPECT_EQ(result.ErrorLines,
              (QStringList{"Error read file: " + path("pipe.mp3") +
                               " (It is a named pipe (FIFO), not a regular file)",
                           "Error read file: http://radio.example/live.mp3 (not a local file)"}));
}

TEST_F(FileListModelTest, ReadListFilesReportsProgressBeforeEachPath) {
    const QString a = wav("a.wav");
    QStringList events;
    TAddBatch batch =
        ReadListFiles({a, a, path("gone.wav")}, lkWave, {}, mpeg, [&](int position, int total) {
            events << QStringLiteral("%1/%2").arg(position).arg(total);
        });
    EXPECT_EQ(events, (QStringList{"1/3", "2/3", "3/3"}));
    EXPECT_EQ(batch.Position, 3);
    EXPECT_EQ(batch.Records.size(), 1u);
    EXPECT_EQ(batch.ErrorLines.size(), 1);
}

TEST_F(FileListModelTest, EveryRowKeepsTheFolderItWasAddedThrough) {
    QDir().mkpath(path("Music/Album"));
    const QString loose = wav("Music/Album/loose.wav");
    const QString walked = wav("Music/Album/walked.wav");
    const QString missing = path("Music/Album/gone.wav");
    // Added by itself, even by a relative or untidy name: its own folder, clean and absolute.
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(path("Music")));
    const std::optional<TFileParam> relative =
        InspectListFile("Album/../Album/loose.wav", lkWave, mpeg);
    QDir::setCurrent(saved);
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->BaseFolder, QDir::cleanPath(path("Music/Album")));
    TFileListModel model(lkWave);
    EXPECT_EQ(model.AddFiles(QStringList{path("Music/./Album/loose.wav")}, mpeg).Added, 1);
    // Found by walking a folder: the walked folder, and a listed file keeps its first base.
    const std::vector<TWalkedFile> files{{walked, path("Music"), lkWave},
                                         {missing, path("Music"), lkWave},
                                         {loose, path("Music"), lkWave}};
    const TAddFilesResult result = model.AddFiles(files, mpeg);
    EXPECT_EQ(result.Added, 1);
    EXPECT_EQ(result.ErrorLines,
              QStringList("Error read file: " + missing + " (No such file or directory)"));
    ASSERT_EQ(model.Count(), 2);
    EXPECT_EQ(model.Record(0)->BaseFolder, QDir::cleanPath(path("Music/Album")));
    EXPECT_EQ(model.Record(1)->SourcePath, walked);
    EXPECT_EQ(model.Record(1)->BaseFolder, path("Music"));
}

TEST_F(FileListModelTest, WorkerKeepsTheBaseOfEachWalkedFile) {
    QDir().mkpath(path("Top/Sub"));
    const std::vector<TWalkedFile> files{{wav("Top/a.wav"), path("Top"), lkWave},
                                         {wav("Top/Sub/b.wav"), path("Top"), lkWave},
                                         {wav("c.wav"), path("Elsewhere"), lkWave}};
    TFileListModel model(lkWave);
    bool finished = false;
    TListAddWorker worker(
        lkWave, files, {}, [&](TAddBatch &batch) { model.Append(std::move(batch.Records)); },
        [&] { finished = true; });
    EXPECT_EQ(worker.Total(), 3);
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    ASSERT_EQ(model.Count(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(model.Record(row)->SourcePath, files[size_t(row)].Path);
        EXPECT_EQ(model.Record(row)->BaseFolder, files[size_t(row)].Base);
    }
}

// --- rows: sorting, removal, refresh, summary ---

TEST_F(FileListModelTest, FirstSortIsAscendingAndSortingTheSameColumnAgainTurnsItRound) {
    TFileListModel model(lkWave);
    model.AddFiles({wav("b.wav"), wav("C.wav"), wav("a.wav")}, mpeg);
    const TFileParam *c = model.Record(1);

    EXPECT_FALSE(model.Sorted());
    EXPECT_EQ(model.Sort(0), (std::vector<int>{2, 0, 1})); // ascending, case folded
    EXPECT_EQ(column(model, 0), (QStringList{"a.wav", "b.wav", "C.wav"}));
    EXPECT_TRUE(model.Sorted());
    EXPECT_TRUE(model.SortAscending());
    EXPECT_EQ(model.Record(2), c); // rows move, records stay where they are

    model.Sort(0);
    EXPECT_EQ(column(model, 0), (QStringList{"C.wav", "b.wav", "a.wav"}));
    EXPECT_FALSE(model.SortAscending());

    model.Sort(3); // another column starts ascending again
    EXPECT_EQ(model.SortColumn(), 3);
    EXPECT_TRUE(model.SortAscending());
    // Equal texts (one folder) keep their order.
    EXPECT_EQ(column(model, 0), (QStringList{"C.wav", "b.wav", "a.wav"}));

    EXPECT_TRUE(model.Sort(5).empty()); // no such column: nothing changes
    EXPECT_EQ(model.SortColumn(), 3);
    EXPECT_TRUE(model.SortAscending());
}

TEST_F(FileListModelTest, SizesAndTimesSortByTheirNumbersNotTheirTexts) {
    TFileListModel model(lkWave);
    // As texts "41.20MB" < "8.41MB" and "100:00:00"-style hours would also misorder.
    const qint64 big = qint64(41.2 * 1048576), mid = qint64(8.41 * 1048576);
    WriteFile(path("big.wav"), WavHeader(1, 8000, 8, uint32_t(big)) + QByteArray(big, 0));
    WriteFile(path("mid.wav"), WavHeader(1, 8000, 8, uint32_t(mid)) + QByteArray(mid, 0));
    WriteFile(path("bad.wav"), QByteArray("not a wave file at all"));
    model.AddFiles({path("big.wav"), path("mid.wav"), path("bad.wav")}, mpeg);
    ASSERT_EQ(model.Count(), 3);

    model.Sort(2, true);
    EXPECT_EQ(column(model, 2), (QStringList{"0.00MB", "8.41MB", "41.20MB"}));
    model.Sort(2, false);
    EXPECT_EQ(column(model, 2), (QStringList{"41.20MB", "8.41MB", "0.00MB"}));

    // 41.2 MB of 8000 bytes a second is 01:30:00, 8.41 MB 18:22; the unreadable file,
    // without a time, comes first.
    model.Sort(1, true);
    EXPECT_EQ(column(model, 0), (QStringList{"bad.wav", "mid.wav", "big.wav"}));
    EXPECT_EQ(column(model, 1).mid(1), (QStringList{"18:22", "01:30:00"})); // not by text
}

TEST_F(FileListModelTest, TimesWithinTheSameSecondSortByTheirExactLength) {
    TFileListModel model(lkWave);
    WriteSineWav(path("long.wav"), 1, 8000, 1.9, 440);
    WriteSineWav(path("short.wav"), 1, 8000, 1.2, 440);
    model.AddFiles({path("long.wav"), path("short.wav")}, mpeg);
    ASSERT_EQ(column(model, 1), (QStringList{"00:01", "00:01"}));
    model.Sort(1, true);
    EXPECT_EQ(column(model, 0), (QStringList{"short.wav", "long.wav"}));
}

TEST_F(FileListModelTest, RemovalKeepsTheOtherRecordsInPlace) {
    TFileListModel model(lkWave);
    model.AddFiles({wav("a.wav"), wav("b.wav"), wav("c.wav"), wav("d.wav")}, mpeg);
    TFileParam *b = model.Record(1), *d = model.Record(3);
    model.RemoveRows({true, false, true}); // a shorter mask leaves the rest alone
    ASSERT_EQ(model.Count(), 2);
    EXPECT_EQ(model.Record(0), b);
    EXPECT_EQ(model.Record(1), d);
    model.RemoveRow(5);
    model.RemoveRow(0);
    EXPECT_EQ(model.Records(), QList<TFileParam *>{d});
    EXPECT_EQ(model.Record(1), nullptr);
    EXPECT_EQ(model.Record(-1), nullptr);
    model.Clear();
    EXPECT_EQ(model.Count(), 0);
    // A removed file can be added again.
    EXPECT_EQ(model.AddFiles({path("a.wav")}, mpeg).Added, 1);
}

TEST_F(FileListModelTest, CellsFollowTheRecordOnlyWhenRefreshed) {
    TFileListModel model(lkWave);
    model.AddFiles({wav("a.wav", 2)}, mpeg);
    TFileParam *p = model.Record(0);
    p->State = stDone;
    p->Duration = 5;
    model.RefreshStates();
    EXPECT_EQ(model.Cells(0)[4], "Done");
    EXPECT_EQ(model.Cells(0)[1], "00:02");
    model.RefreshRow(0);
    EXPECT_EQ(model.Cells(0)[1], "00:05");
}

TEST_F(FileListModelTest, MpegRowsShowTheId3v2TagWhereTheFileHasOne) {
    using namespace testmedia;
    WriteEncodedMp3(path("both.mp3"));
    Id3v2TagFields both;
    both.title = QStringLiteral("Nocturne Ω");
    both.artist = "Player";
    both.album = "Night";
    both.year = 2021;
    both.picture = QByteArray(4000, 'p');
    both.withId3v1 = true;
    both.v1Title = "Old title";
    both.v1Artist = "Old artist";
    TagWithTagLib(path("both.mp3"), both);
    WriteEncodedMp3(path("v2.mp3"));
    Id3v2TagFields onlyV2;
    onlyV2.title = "Second";
    TagWithTagLib(path("v2.mp3"), onlyV2);

    const std::optional<TFileParam> a = InspectListFile(path("both.mp3"), lkMpeg, mpeg);
    ASSERT_TRUE(a && a->Kind == fkMpeg);
    EXPECT_EQ(ListRowTexts(*a, lkMpeg).mid(1, 4),
              (QStringList{QStringLiteral("Nocturne Ω"), "Player", "Night", "2021"}));
    EXPECT_EQ(a->MpegData.Title.Text(), "Old title") << "the ID3v1 fields stay as read";
    EXPECT_FALSE(a->Tags.FrontCover) << "no covers kept in the list";

    // Only an ID3v2 tag with a title: what it lacks shows as for an untagged file.
    const std::optional<TFileParam> b = InspectListFile(path("v2.mp3"), lkMpeg, mpeg);
    ASSERT_TRUE(b);
    EXPECT_EQ(ListRowTexts(*b, lkMpeg).mid(1, 4),
              (QStringList{"Second", "Unknown Artist", "", ""}));

    // After an edit the row shows the file's new ID3v2 values.
    TFileListModel model(lkMpeg);
    model.AddFiles({path("v2.mp3")}, mpeg);
    onlyV2.title = "Edited";
    onlyV2.artist = "Someone";
    TagWithTagLib(path("v2.mp3"), onlyV2);
    model.ReloadTag(0, mpeg);
    EXPECT_EQ(model.Cells(0).mid(1, 2), (QStringList{"Edited", "Someone"}));
}

TEST_F(FileListModelTest, ReloadTagShowsTheNewTagOrEmptiesTheTagCells) {
    TFileListModel model(lkMpeg);
    const QString song = mp3("song.mp3");
    model.AddFiles({song}, mpeg);
    const QStringList before = model.Cells(0);
    TMPEGAudio tagger;
    tagger.SetFileName(song);
    tagger.SetTitle("Night Train");
    tagger.SetArtist("The Rails");
    tagger.SetAlbum("Tracks");
    tagger.SetYear("1999");
    ASSERT_EQ(tagger.WriteTag(), 0);
    model.ReloadTag(0, mpeg);
    EXPECT_EQ(model.Cells(0).mid(1, 4),
              (QStringList{"Night Train", "The Rails", "Tracks", "1999"}));
    EXPECT_EQ(model.Record(0)->MpegData.Title.Text(), "Night Train");
    EXPECT_EQ(model.Cells(0).mid(5), before.mid(5));

    WriteFile(song, QByteArray(3000, 'x'));
    model.ReloadTag(0, mpeg);
    EXPECT_EQ(model.Cells(0).mid(1, 4), QStringList(4));
    EXPECT_EQ(model.Record(0)->MpegData.Title.Text(), "Night Train"); // the record keeps it
}

TEST_F(FileListModelTest, SummaryCountsEveryRowAndTheSecondsOfReadableOnes) {
    TFileListModel model(lkWave);
    model.AddFiles({wav("a.wav", 1), junk("bad.wav"), wav("c.wav", 3)}, mpeg);
    TListSummary summary = model.Summary({false, true, true});
    EXPECT_EQ(summary.SelectedText(), "selected 2 file(s), 3 seconds(00:00:03)");
    EXPECT_EQ(summary.TotalText(), "Total 3 file(s), 4 seconds(00:00:04)");
    summary = model.Summary({});
    EXPECT_EQ(summary.Selected, 0);
    EXPECT_EQ(summary.Rows, 3);
}

TEST_F(FileListModelTest, TotalsAddTheExactLengthsBeforeCuttingToWholeSeconds) {
    // Half a second each: whole seconds would add up to nothing.
    QStringList paths;
    for (int i = 0; i < 40; ++i) {
        WriteFile(path(QStringLiteral("half%1.wav").arg(i)),
                  WavHeader(1, 8000, 8, 4000) + QByteArray(4000, char(0x80)));
        paths << path(QStringLiteral("half%1.wav").arg(i));
    }
    TFileListModel model(lkWave);
    model.AddFiles(paths, mpeg);
    ASSERT_EQ(model.Count(), 40);
    EXPECT_EQ(model.Record(0)->Duration, 0);
    EXPECT_EQ(model.Record(0)->DurationUs, 500000);
    std::vector<bool> selected(40, false);
    selected[0] = selected[1] = selected[2] = true;
    const TListSummary summary = model.Summary(selected);
    EXPECT_EQ(summary.TotalText(), "Total 40 file(s), 20 seconds(00:00:20)");
    EXPECT_EQ(summary.SelectedText(), "selected 3 file(s), 1 seconds(00:00:01)");
}

TEST_F(FileListModelTest, MpegAndOtherSourcesKnowTheirExactLength) {
    const std::optional<TFileParam> song = InspectListFile(mp3("song.mp3"), lkMpeg, mpeg);
    ASSERT_TRUE(song);
    // Two seconds of audio, and the encoder's padding of less than a tenth of a second.
    EXPECT_GE(song->DurationUs, 2000000);
    EXPECT_LT(song->DurationUs, 2100000);
    EXPECT_EQ(song->DurationUs / 1000000, qint64(song->Duration));

    WriteSineSound(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 48000, 1.25, 440);
    const std::optional<TFileParam> flac = InspectListFile(path("a.flac"), lkWave, mpeg);
    ASSERT_TRUE(flac);
    EXPECT_EQ(flac->DurationUs, 1250000);
}

// --- the worker ---

TEST_F(FileListModelTest, WorkerDeliversWhatAnAddOnTheSpotReadsInOrder) {
    QStringList paths;
    const QString listed = tinyWav("listed.wav");
    for (int i = 0; i < 600; ++i) {
        if (i % 50 == 7)
            paths << path(QStringLiteral("gone%1.wav").arg(i));
        else if (i % 50 == 8)
            paths << junk(QStringLiteral("junk%1.wav").arg(i));
        else if (i % 50 == 9)
            paths << paths.front(); // a duplicate within the add
        else
            paths << tinyWav(QStringLiteral("t%1.wav").arg(i));
    }
    paths.insert(300, listed);
    const QSet<QString> listedKeys{FilePathKey(listed)};
    const TAddBatch expected = ReadListFiles(paths, lkWave, listedKeys, mpeg);

    TFileListModel model(lkWave);
    QStringList errors;
    std::vector<int> positions;
    bool finished = false, batchAfterFinish = false, offThread = false;
    TListAddWorker worker(
        lkWave, paths, listedKeys,
        [&](TAddBatch &batch) {
            offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            batchAfterFinish |= finished;
            positions.push_back(batch.Position);
            errors << batch.ErrorLines;
            model.Append(std::move(batch.Records));
        },
        [&] { finished = true; });
    EXPECT_EQ(worker.Total(), paths.size());
    ASSERT_TRUE(WaitFor([&] { return finished; }));

    EXPECT_FALSE(offThread);
    EXPECT_FALSE(batchAfterFinish);
    ASSERT_EQ(model.Count(), int(expected.Records.size()));
    EXPECT_EQ(model.Count(), 600 - 12 - 12); // no missing files, no duplicates
    for (int row = 0; row < model.Count(); ++row) {
        const TFileParam &want = *expected.Records[size_t(row)];
        EXPECT_EQ(model.Record(row)->SourcePath, want.SourcePath);
        EXPECT_EQ(model.Record(row)->Kind, want.Kind);
        EXPECT_EQ(model.Record(row)->Duration, want.Duration);
    }
    EXPECT_EQ(errors, expected.ErrorLines);
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), paths.size());
}

TEST_F(FileListModelTest, AbortedWorkerDeliversAPrefixAndFinishes) {
    QStringList paths;
    for (int i = 0; i < 2000; ++i)
        paths << tinyWav(QStringLiteral("t%1.wav").arg(i));
    QStringList got;
    int lastPosition = -1;
    bool finished = false;
    TListAddWorker worker(
        lkWave, paths, {},
        [&](TAddBatch &batch) {
            for (const auto &record : batch.Records)
                got << record->SourcePath;
            lastPosition = batch.Position;
        },
        [&] { finished = true; });
    worker.Abort();
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    EXPECT_LT(lastPosition, paths.size());
    EXPECT_EQ(got, paths.mid(0, got.size()));
    EXPECT_EQ(got.size(), lastPosition);
}

TEST_F(FileListModelTest, DestroyedWorkerStopsAndHandsNothingOver) {
    QStringList paths;
    for (int i = 0; i < 300; ++i)
        paths << tinyWav(QStringLiteral("t%1.wav").arg(i));
    int calls = 0;
    {
        TListAddWorker worker(
            lkWave, paths, {}, [&](TAddBatch &) { ++calls; }, [&] { ++calls; });
        QThread::msleep(2 * TListAddWorker::BatchIntervalMs);
    }
    // What it had posted is dropped with it.
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(calls, 0);
}

TEST_F(FileListModelTest, HandlerMayDestroyTheWorker) {
    QStringList paths;
    for (int i = 0; i < 300; ++i)
        paths << tinyWav(QStringLiteral("t%1.wav").arg(i));
    std::unique_ptr<TListAddWorker> worker;
    worker = std::make_unique<TListAddWorker>(
        lkWave, paths, QSet<QString>{},
        [&, keep = QString("kept by the handler")](TAddBatch &) {
            worker.reset();
            // The handler's own state is still there after its worker has gone.
            EXPECT_EQ(keep, "kept by the handler");
        },
        [&] { worker.reset(); });
    ASSERT_TRUE(WaitFor([&] { return worker == nullptr; }));
}
