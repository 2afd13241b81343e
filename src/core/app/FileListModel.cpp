#include "app/FileListModel.h"

#include "app/PlaylistImport.h"
#include "app/RawNames.h"

#include "inspect/MP3WavComm.h"
#include "inspect/MPGTools.h"
#include "platform/Mailbox.h"
#include "platform/RegularFile.h"
#include "sources/SourceInfo.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <limits>
#include <numeric>

namespace {

int32_t ClampDuration(qint64 Seconds) {
    return int32_t(std::clamp<qint64>(Seconds, 0, std::numeric_limits<int32_t>::max()));
}

// The tags other than ID3v1 (ours) of an MPEG file, for its Title to Year cells.
TTagSet RichTags(const QString &Path) {
    TTagSet tags = ReadTags(Path).Tags;
    tags.FrontCover.reset();
    if (std::all_of(tags.Kinds.cbegin(), tags.Kinds.cend(),
                    [](const QString &Kind) { return Kind == u"ID3v1"; }))
        return {};
    return tags;
}

void ReadMpegSource(const QString &Path, TMPEGAudio &Mpeg, TFileParam &P) {
    Mpeg.ResetData();
    Mpeg.SetFileName(Path);
    P.MpegData = Mpeg.Data();
    P.Duration = ClampDuration(P.MpegData.Duration);
    P.DurationUs = Mpeg.DurationMicroseconds();
    P.Kind = Mpeg.IsValid() ? fkMpeg : fkUnreadable;
    if (P.Kind == fkMpeg)
        P.Tags = RichTags(Path);
    else
        P.Problem = Mpeg.Problem();
}

// Count / Rate seconds in microseconds, without overflowing for any file size.
qint64 Microseconds(qint64 Count, qint64 Rate) {
    if (Count <= 0 || Rate <= 0)
        return 0;
    return Count / Rate * 1000000 + Count % Rate * 1000000 / Rate;
}

// Title, Artist, Album and Year of a readable MPEG row: an ID3v2 (or APEv2) tag's values
// where the file has one, ID3v1 filling what it lacks, as players show them; else the
// ID3v1 tag's, or the unknown captions of an untagged file.
QStringList MpegTagCells(const TFileParam &Record) {
    const TMPEGInfo &m = Record.MpegData;
    if (!Record.Tags.Kinds.isEmpty()) {
        const TTagSet &t = Record.Tags;
        return {t.Title.isEmpty() ? QStringLiteral("Unknown Title") : t.Title,
                t.Artist.isEmpty() ? QStringLiteral("Unknown Artist") : t.Artist, t.Album,
                t.Date.left(4)};
    }
    const bool tagged = m.Header == QStringLiteral("TAG");
    return {tagged ? m.Title.Text() : QStringLiteral("Unknown Title"),
            tagged ? m.Artist.Text() : QStringLiteral("Unknown Artist"), m.Album.Text(),
            TagYearText(m.Year)};
}

// The sources of the WAV list: WAV through our own reader, the other PCM formats through
// libsndfile.
void ReadWaveListSource(const QString &Path, TFileParam &P) {
    const TSourceInfo source = ReadSourceInfo(Path);
    P.WaveData = source.Wave;
    // Every WAV file our reader describes stays a WAV row, even one whose samples only
    // libsndfile decodes (A-law, ADPCM): its info is the WAV header's.
    if (source.Wave.Valid) {
        P.Duration = source.Wave.Duration;
        P.DurationUs = Microseconds(source.Wave.DataLength, source.Wave.Header.BytesPerSecond);
        P.Kind = fkWave;
    } else if (source.Kind == skSoundFile && source.Sound.Valid) {
        P.SoundData = source.Sound;
        P.Duration = int32_t(std::min<qint64>(source.Sound.Frames / source.Sound.SampleRate,
                                              std::numeric_limits<int32_t>::max()));
        P.DurationUs = Microseconds(source.Sound.Frames, source.Sound.SampleRate);
        P.Kind = fkAudio;
    } else {
        P.Kind = fkUnreadable;
        P.Problem = SourceProblem(source);
        P.WaveData.FileSize = QFileInfo(Path).size(); // for the Size column
    }
}

} // namespace

std::optional<TFileParam> InspectListFile(const QString &Path, TListKind Kind, TMPEGAudio &Mpeg,
                                          const QString &Base, QString *Why) {
    const auto refuse = [Why](const QString &Reason) -> std::optional<TFileParam> {
        if (Why)
            *Why = Reason;
        return std::nullopt;
    };
    // A name with bytes no QString holds (from a playlist) opens no file: the nearest name
    // may be another one's.
    if (HasRawBytes(Path))
        return refuse(RawNameReason());
    // A file that cannot be opened is reported rather than listed: the MPEG inspector would
    // otherwise show it as an unreadable row of 0 bytes.
    if (const QString problem = RegularFileProblem(Path); !problem.isEmpty())
        return refuse(IsUrlEntry(Path) ? NotLocalReason() : problem);
    try {
        TFileParam p;
        p.FileName = ExtractFileName(Path);
        p.SourcePath = Path;
        p.BaseFolder = Base.isEmpty() ? QDir::cleanPath(QFileInfo(Path).absolutePath()) : Base;
        p.State = stQueued;
        if (Kind == lkMpeg)
            ReadMpegSource(Path, Mpeg, p);
        else
            ReadWaveListSource(Path, p);
        return p;
    } catch (const std::exception &Error) {
        return refuse(QString::fromUtf8(Error.what()));
    }
}

QString ReadErrorLine(const QString &Path, const QString &Why) {
    const QString line = QStringLiteral("Error read file: ") + EscapedName(Path);
    return Why.isEmpty() ? line : line + QStringLiteral(" (") + Why + u')';
}

int ListColumnCount(TListKind Kind) {
    return Kind == lkWave ? 5 : 9;
}

qint64 ListedFileSize(const TFileParam &Record, TListKind Kind) {
    if (Kind == lkMpeg)
        return Record.MpegData.Length;
    return Record.Kind == fkAudio ? Record.SoundData.FileSize : Record.WaveData.FileSize;
}

std::optional<qint64> ListSortNumber(const TFileParam &Record, TListKind Kind, int Column) {
    const int time = Kind == lkWave ? 1 : 5;
    if (Column == time)
        return Record.IsReadable() ? PlayMicroseconds(Record) : -1;
    if (Column == time + 1)
        return ListedFileSize(Record, Kind);
    return std::nullopt;
}

QStringList ListRowTexts(const TFileParam &Record, TListKind Kind) {
    const bool readable = Record.IsReadable();
    QStringList texts{Record.FileName};
    if (Kind == lkMpeg) {
        const TMPEGInfo &m = Record.MpegData;
        if (readable) {
            texts << MpegTagCells(Record) << DurationColumnText(Record.Duration);
        } else {
            texts << QString() << QString() << QString() << QString() << QStringLiteral("- -");
        }
        texts << SizeColumnText(m.Length);
    } else {
        texts << (readable ? DurationColumnText(Record.Duration) : QString())
              << SizeColumnText(ListedFileSize(Record, Kind));
    }
    texts << ExtractFilePath(Record.SourcePath) << RowStateText(Record);
    return texts;
}

// --- adding ---

void TAddPass::Take(const QString &Path, const QString &Base, TMPEGAudio &Mpeg, TAddBatch &Batch) {
    const QString key = FilePathKey(Path);
    if (FListed.contains(key))
        return;
    QString why;
    std::optional<TFileParam> record = InspectListFile(Path, FKind, Mpeg, Base, &why);
    if (!record) {
        // Not listed, so a later copy of the path is read (and reported) again.
        Batch.ErrorLines << ReadErrorLine(Path, why);
        return;
    }
    Batch.Records.push_back(std::make_unique<TFileParam>(std::move(*record)));
    FListed.insert(key);
}

namespace {

// Bases is empty (every file's own folder) or parallel to Paths.
TAddBatch ReadPaths(const QStringList &Paths, const QStringList &Bases, TListKind Kind,
                    QSet<QString> ListedKeys, TMPEGAudio &Mpeg,
                    const std::function<void(int, int)> &Progress) {
    TAddBatch batch;
    TAddPass pass(Kind, std::move(ListedKeys));
    const int total = int(Paths.size());
    for (int i = 0; i < total; ++i) {
        if (Progress)
            Progress(i + 1, total);
        pass.Take(Paths[i], Bases.isEmpty() ? QString() : Bases[i], Mpeg, batch);
        batch.Position = i + 1;
    }
    return batch;
}

void SplitWalkedFiles(const std::vector<TWalkedFile> &Files, QStringList &Paths,
                      QStringList &Bases) {
    Paths.reserve(qsizetype(Files.size()));
    Bases.reserve(qsizetype(Files.size()));
    for (const TWalkedFile &file : Files) {
        Paths << file.Path;
        Bases << file.Base;
    }
}

} // namespace

TAddBatch ReadListFiles(const QStringList &Paths, TListKind Kind, QSet<QString> ListedKeys,
                        TMPEGAudio &Mpeg, const std::function<void(int, int)> &Progress) {
    return ReadPaths(Paths, {}, Kind, std::move(ListedKeys), Mpeg, Progress);
}

TAddBatch ReadListFiles(const std::vector<TWalkedFile> &Files, TListKind Kind,
                        QSet<QString> ListedKeys, TMPEGAudio &Mpeg,
                        const std::function<void(int, int)> &Progress) {
    QStringList paths, bases;
    SplitWalkedFiles(Files, paths, bases);
    return ReadPaths(paths, bases, Kind, std::move(ListedKeys), Mpeg, Progress);
}

// --- the model ---

TFileParam *TFileListModel::Record(int Row) {
    return Row >= 0 && Row < Count() ? FRows[size_t(Row)].Record.get() : nullptr;
}

const TFileParam *TFileListModel::Record(int Row) const {
    return Row >= 0 && Row < Count() ? FRows[size_t(Row)].Record.get() : nullptr;
}

QList<TFileParam *> TFileListModel::Records() {
    QList<TFileParam *> records;
    records.reserve(Count());
    for (const TRow &row : FRows)
        records << row.Record.get();
    return records;
}

int TFileListModel::FindListedFile(const QString &Path) const {
    for (int row = 0; row < Count(); ++row) {
        if (SameFilePath(FRows[size_t(row)].Record->SourcePath, Path))
            return row;
    }
    return -1;
}

QSet<QString> TFileListModel::ListedKeys() const {
    QSet<QString> keys;
    keys.reserve(Count());
    for (const TRow &row : FRows)
        keys.insert(FilePathKey(row.Record->SourcePath));
    return keys;
}

int TFileListModel::Append(std::vector<std::unique_ptr<TFileParam>> Records) {
    const int first = Count();
    FRows.reserve(FRows.size() + Records.size());
    for (auto &record : Records) {
        if (!record)
            continue;
        QStringList cells = ListRowTexts(*record, FKind);
        FRows.push_back({std::move(record), std::move(cells)});
    }
    return first;
}

static TAddFilesResult AppendBatch(TFileListModel &Model, TAddBatch batch) {
    TAddFilesResult result;
    result.Added = int(batch.Records.size());
    result.ErrorLines = std::move(batch.ErrorLines);
    Model.Append(std::move(batch.Records));
    return result;
}

TAddFilesResult TFileListModel::AddFiles(const QStringList &Paths, TMPEGAudio &Mpeg) {
    return AppendBatch(*this, ReadListFiles(Paths, FKind, ListedKeys(), Mpeg));
}

TAddFilesResult TFileListModel::AddFiles(const std::vector<TWalkedFile> &Files, TMPEGAudio &Mpeg) {
    return AppendBatch(*this, ReadListFiles(Files, FKind, ListedKeys(), Mpeg));
}

void TFileListModel::RemoveRows(const std::vector<bool> &Mask) {
    // Kept rows move down in one pass; erasing them one by one would be quadratic.
    size_t kept = 0;
    for (size_t row = 0; row < FRows.size(); ++row) {
        if (row < Mask.size() && Mask[row])
            continue;
        if (kept != row)
            FRows[kept] = std::move(FRows[row]);
        ++kept;
    }
    FRows.resize(kept);
}

void TFileListModel::RemoveRow(int Row) {
    if (Row >= 0 && Row < Count())
        FRows.erase(FRows.begin() + Row);
}

std::vector<int> TFileListModel::Sort(int Column) {
    // Another click on the sorted column turns the order round; a new column starts ascending.
    return Sort(Column, !(FSorted && Column == FSortColumn && FSortAscending));
}

std::vector<int> TFileListModel::Sort(int Column, bool Ascending) {
    if (Column < 0 || Column >= ListColumnCount(FKind))
        return {};
    FSortColumn = Column;
    FSortAscending = Ascending;
    FSorted = true;
    std::vector<int> order(FRows.size());
    std::iota(order.begin(), order.end(), 0);
    // Times and sizes by the numbers behind their texts ("8.41MB" before "41.20MB").
    std::vector<qint64> numbers;
    if (ListSortNumber(TFileParam(), FKind, Column)) {
        numbers.reserve(FRows.size());
        for (const TRow &row : FRows)
            numbers.push_back(*ListSortNumber(*row.Record, FKind, Column));
    }
    std::stable_sort(order.begin(), order.end(), [&](int A, int B) {
        int result;
        if (!numbers.empty()) {
            const qint64 a = numbers[size_t(A)], b = numbers[size_t(B)];
            result = a == b ? 0 : (a < b ? -1 : 1);
        } else {
            result =
                CompareListTexts(FRows[size_t(A)].Cells[Column], FRows[size_t(B)].Cells[Column]);
        }
        return (Ascending ? result : -result) < 0;
    });
    std::vector<TRow> sorted;
    sorted.reserve(FRows.size());
    for (int from : order)
        sorted.push_back(std::move(FRows[size_t(from)]));
    FRows = std::move(sorted);
    return order;
}

void TFileListModel::RefreshStates() {
    for (TRow &row : FRows)
        row.Cells.back() = RowStateText(*row.Record);
}

void TFileListModel::RefreshRow(int Row) {
    if (Row >= 0 && Row < Count())
        FRows[size_t(Row)].Cells = ListRowTexts(*FRows[size_t(Row)].Record, FKind);
}

void TFileListModel::ReloadTag(int Row, TMPEGAudio &Mpeg) {
    if (Row < 0 || Row >= Count())
        return;
    TRow &row = FRows[size_t(Row)];
    Mpeg.ResetData();
    Mpeg.SetFileName(row.Record->SourcePath);
    QStringList cells(4);
    if (Mpeg.IsValid()) {
        row.Record->MpegData = Mpeg.Data();
        row.Record->Tags = RichTags(row.Record->SourcePath);
        cells = row.Record->Tags.Kinds.isEmpty()
                    ? QStringList{Mpeg.DisplayTitle(), Mpeg.DisplayArtist(), Mpeg.Data().Album,
                                  TagYearText(Mpeg.Data().Year)}
                    : MpegTagCells(*row.Record);
    }
    for (int c = 0; c < 4; ++c)
        row.Cells[1 + c] = cells[c];
}

TListSummary TFileListModel::Summary(const std::vector<bool> &Selected) const {
    TListSummary summary;
    for (size_t row = 0; row < FRows.size(); ++row)
        summary.AddRow(FRows[row].Record.get(), row < Selected.size() && Selected[row]);
    return summary;
}

// --- the worker ---

TListAddWorker::TListAddWorker(TListKind Kind, QStringList Paths, QSet<QString> ListedKeys,
                               TBatchHandler OnBatch, TFinishHandler OnFinished)
    : FTotal(int(Paths.size())), FMailbox(std::make_unique<TMailbox>()),
      FOnBatch(std::make_shared<TBatchHandler>(std::move(OnBatch))),
      FOnFinished(std::make_shared<TFinishHandler>(std::move(OnFinished))) {
    FThread = std::thread(&TListAddWorker::Run, this, Kind, std::move(Paths), QStringList(),
                          std::move(ListedKeys));
}

TListAddWorker::TListAddWorker(TListKind Kind, const std::vector<TWalkedFile> &Files,
                               QSet<QString> ListedKeys, TBatchHandler OnBatch,
                               TFinishHandler OnFinished)
    : FTotal(int(Files.size())), FMailbox(std::make_unique<TMailbox>()),
      FOnBatch(std::make_shared<TBatchHandler>(std::move(OnBatch))),
      FOnFinished(std::make_shared<TFinishHandler>(std::move(OnFinished))) {
    QStringList paths, bases;
    SplitWalkedFiles(Files, paths, bases);
    FThread = std::thread(&TListAddWorker::Run, this, Kind, std::move(paths), std::move(bases),
                          std::move(ListedKeys));
}

TListAddWorker::~TListAddWorker() {
    Abort();
    if (FThread.joinable())
        FThread.join();
    // The mailbox goes next and drops what the worker posted but the owner has not run.
}

void TListAddWorker::Run(TListKind Kind, QStringList Paths, QStringList Bases,
                         QSet<QString> ListedKeys) {
    using Clock = std::chrono::steady_clock;
    const TMailbox::TSender mailbox = FMailbox->Sender();
    auto post = [&](TAddBatch &Batch) {
        auto batch = std::make_shared<TAddBatch>(std::move(Batch));
        Batch = TAddBatch();
        Batch.Position = batch->Position;
        mailbox.Post([handler = FOnBatch, batch] { (*handler)(*batch); });
    };
    TAddBatch batch;
    try {
        TMPEGAudio mpeg; // this worker's own: an inspector holds the state of one file
        TAddPass pass(Kind, std::move(ListedKeys));
        auto due = Clock::now() + std::chrono::milliseconds(BatchIntervalMs);
        for (int i = 0; i < int(Paths.size()); ++i) {
            if (FAbort.load(std::memory_order_relaxed))
                break;
            pass.Take(Paths[i], Bases.isEmpty() ? QString() : Bases[i], mpeg, batch);
            batch.Position = i + 1;
            if (batch.Records.size() >= BatchLimit || Clock::now() >= due) {
                post(batch);
                due = Clock::now() + std::chrono::milliseconds(BatchIntervalMs);
            }
        }
    } catch (const std::exception &) {
        // Out of memory, say: what was read so far is still handed over, and the add ends.
    }
    post(batch);
    mailbox.Post([handler = FOnFinished] { (*handler)(); });
}
