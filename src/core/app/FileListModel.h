#pragma once

// The records of one file list in row order, and the adding of files to it: the inspection
// of each path, the duplicate test, the cell texts, sorting and the status-bar summary.
// Qt Core only; the list widget shows a TFileListModel and mirrors its rows.
//
// Adding many files runs on a worker (TListAddWorker) that hands the records to the thread
// that started it in batches; a few files are read on the spot (ReadListFiles).

#include "app/FileParam.h"
#include "app/FolderWalk.h"

#include <QSet>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class TMailbox;
class TMPEGAudio;

// Reads one path for a list of Kind into a fresh record: FileName, SourcePath, BaseFolder
// (Base, or the file's own folder when Base is empty), State stQueued, and what the list's
// reader found (Kind fkUnreadable when it is not of the list's format; an unreadable WAV-list
// row keeps the file's size for its Size column). Empty when the file cannot be read at all:
// a name with bytes no QString holds, a file that cannot be opened or is not a regular file,
// a URL that names no local file (from a playlist), or a failing read; then Why (when given)
// gets the reason. Mpeg is reset and reused. Never throws. Every source format a list takes
// is read here and nowhere else.
std::optional<TFileParam> InspectListFile(const QString &Path, TListKind Kind, TMPEGAudio &Mpeg,
                                          const QString &Base = QString(), QString *Why = nullptr);

// The line that reports a file InspectListFile could not read: "Error read file: <path>",
// bytes that are not text shown as \xNN, then the reason in parentheses when there is one.
QString ReadErrorLine(const QString &Path, const QString &Why = QString());

// Number of columns of a list of Kind, and the cell texts of a record in them.
int ListColumnCount(TListKind Kind);
QStringList ListRowTexts(const TFileParam &Record, TListKind Kind);
// The file size a row of Kind shows in its Size column, in bytes.
qint64 ListedFileSize(const TFileParam &Record, TListKind Kind);
// What Column sorts by when it shows a number as text: the exact play time in microseconds
// for Time (-1 for an unreadable file, which shows none), the bytes for Size; nothing for a
// column of texts.
std::optional<qint64> ListSortNumber(const TFileParam &Record, TListKind Kind, int Column);

// What one add did.
struct TAddFilesResult {
    int Added = 0;          // rows added with a record
    QStringList ErrorLines; // ReadErrorLine of each file not read
    // The add goes on on a worker: rows and error lines follow, AddFinished ends it.
    bool InBackground = false;
};

// Records and error lines of some paths of an add, in the order of the paths.
struct TAddBatch {
    std::vector<std::unique_ptr<TFileParam>> Records;
    QStringList ErrorLines;
    int Position = 0; // paths of the add handled up to the end of this batch
};

// The per-path step of an add. A path already listed (when the add started, or earlier in
// the same add, as the file system sees paths) is skipped without a word and not read.
class TAddPass {
public:
    TAddPass(TListKind Kind, QSet<QString> ListedKeys)
        : FKind(Kind), FListed(std::move(ListedKeys)) {}
    // Base: the record's BaseFolder, empty for the file's own folder.
    void Take(const QString &Path, const QString &Base, TMPEGAudio &Mpeg, TAddBatch &Batch);
    void Take(const QString &Path, TMPEGAudio &Mpeg, TAddBatch &Batch) {
        Take(Path, QString(), Mpeg, Batch);
    }

private:
    TListKind FKind;
    QSet<QString> FListed;
};

// Reads Paths on the calling thread. Progress(position, total) runs before each path.
TAddBatch ReadListFiles(const QStringList &Paths, TListKind Kind, QSet<QString> ListedKeys,
                        TMPEGAudio &Mpeg, const std::function<void(int, int)> &Progress = {});
// The same for files found by walking a folder: each record keeps its file's Base. The
// files' Kind is not looked at: the list's own Kind reads them.
TAddBatch ReadListFiles(const std::vector<TWalkedFile> &Files, TListKind Kind,
                        QSet<QString> ListedKeys, TMPEGAudio &Mpeg,
                        const std::function<void(int, int)> &Progress = {});

// The rows of one list. Records live on the heap and keep their address until their row is
// removed: sorting and appending move rows, never records, so a conversion may hold them.
class TFileListModel {
public:
    explicit TFileListModel(TListKind Kind) : FKind(Kind) {}

    TListKind Kind() const { return FKind; }
    int Count() const { return int(FRows.size()); }
    // Null for a row that does not exist.
    TFileParam *Record(int Row);
    const TFileParam *Record(int Row) const;
    QList<TFileParam *> Records();
    // The texts the row shows; sorting compares these, not the record.
    const QStringList &Cells(int Row) const { return FRows.at(size_t(Row)).Cells; }

    // Index of the first row whose record names the same file as Path, or -1.
    int FindListedFile(const QString &Path) const;
    // FilePathKey of every row, for the duplicate test of an add.
    QSet<QString> ListedKeys() const;

    // Appends the records as new rows in their order; returns the index of the first.
    int Append(std::vector<std::unique_ptr<TFileParam>> Records);
    // Reads Paths on the calling thread and appends what was read.
    TAddFilesResult AddFiles(const QStringList &Paths, TMPEGAudio &Mpeg);
    // The same for files found by walking a folder, each keeping its Base.
    TAddFilesResult AddFiles(const std::vector<TWalkedFile> &Files, TMPEGAudio &Mpeg);

    // Removes the rows whose Mask entry is true (Mask may be shorter than the list).
    void RemoveRows(const std::vector<bool> &Mask);
    void RemoveRow(int Row);
    void Clear() { FRows.clear(); }

    // Sorts stably by Column: Time and Size by their numbers (ListSortNumber), the others by
    // their texts with CompareListTexts. Returns the old index of each new row; empty (and
    // nothing changed) for a column the list does not have.
    std::vector<int> Sort(int Column, bool Ascending);
    // A header click: ascending, or the other way round when Column is already sorted so.
    std::vector<int> Sort(int Column);
    // Whether the rows were sorted, by which column and which way.
    bool Sorted() const { return FSorted; }
    int SortColumn() const { return FSortColumn; }
    bool SortAscending() const { return FSortAscending; }

    // Rewrites the State cell of every row from its record.
    void RefreshStates();
    // Rewrites every cell of a row from its record.
    void RefreshRow(int Row);
    // After a tag change of an MPEG row: reads the file again; when it is still valid the
    // record takes the new data and the Title, Artist, Album and Year cells the new tag,
    // otherwise those four cells are emptied. Time, Size and Duration stay as read at adding.
    void ReloadTag(int Row, TMPEGAudio &Mpeg);

    // Selected[row] marks the selected rows (it may be shorter than the list).
    TListSummary Summary(const std::vector<bool> &Selected) const;

private:
    struct TRow {
        std::unique_ptr<TFileParam> Record;
        QStringList Cells;
    };
    TListKind FKind;
    std::vector<TRow> FRows;
    int FSortColumn = 0;
    bool FSortAscending = true;
    bool FSorted = false;
};

// Reads paths for a list on a worker thread, with its own MPEG inspector, and hands the
// results to the thread that made it (which needs an event loop) in batches: one at least
// every BatchIntervalMs while reading goes on, and a last one when it ends. OnBatch gets
// every batch in path order, then OnFinished once, also after Abort (with what was read up
// to then); nothing after the worker is destroyed. Either handler may destroy the worker.
class TListAddWorker {
public:
    using TBatchHandler = std::function<void(TAddBatch &)>;
    using TFinishHandler = std::function<void()>;
    static constexpr int BatchIntervalMs = 40;
    static constexpr size_t BatchLimit = 2000; // records in one batch at most

    TListAddWorker(TListKind Kind, QStringList Paths, QSet<QString> ListedKeys,
                   TBatchHandler OnBatch, TFinishHandler OnFinished);
    // For files found by walking a folder: each record keeps its file's Base.
    TListAddWorker(TListKind Kind, const std::vector<TWalkedFile> &Files, QSet<QString> ListedKeys,
                   TBatchHandler OnBatch, TFinishHandler OnFinished);
    // Stops the worker after the path it is reading and waits for it; batches not yet
    // delivered are dropped.
    ~TListAddWorker();
    TListAddWorker(const TListAddWorker &) = delete;
    TListAddWorker &operator=(const TListAddWorker &) = delete;

    int Total() const { return FTotal; }
    // Asks the worker to stop after the path it is reading; from any thread.
    void Abort() { FAbort.store(true, std::memory_order_relaxed); }

private:
    // Bases is empty (every file's own folder) or parallel to Paths.
    void Run(TListKind Kind, QStringList Paths, QStringList Bases, QSet<QString> ListedKeys);

    int FTotal;
    std::unique_ptr<TMailbox> FMailbox;
    // Shared with the posted functions, so that a handler that destroys the worker is not
    // destroyed while it runs.
    std::shared_ptr<TBatchHandler> FOnBatch;
    std::shared_ptr<TFinishHandler> FOnFinished;
    std::atomic<bool> FAbort{false};
    std::thread FThread;
};
