#pragma once

// The two file lists of the main window, lvWaveFiles and lvMP3Files.
//
// For the main window:
//   auto *wave = new TFileListView(lkWave, wavePage);   // objectName "lvWaveFiles"
//   auto *mp3 = new TFileListView(lkMpeg, mp3Page);     // objectName "lvMP3Files"
//   auto *lists = new TFileLists(wave, mp3, [] { return Config.ConvertType; }, this);
// Each view carries its drag hint (PanelHintDragWave / DragHintPanel), kept centred.
// Commands, acting on CurrentList():
//   AddActionExecute      -> lists->AddChosenFiles(files from the open dialog)
//   drop on the window    -> lists->DropFiles(mimeData->urls())
//   DeleteActionExecute   -> lists->DeleteSelected()
//   ClearActionExecute    -> lists->ClearAll()
//   SelectAllActionExecute, InvertSelectActionExecute -> lists->SelectAll(), InvertSelection()
//   tab change            -> lists->CurrentListChanged() (summary and drag hint follow)
//   closing the window    -> lists->AbortAdd() before the lists are emptied
//   column clicks sort by themselves (lvWaveFilesColumnClick / lvMP3FilesColumnClick).
// AddChosenFiles and DropFiles throw EPlaylistError ("Cannot open file %s") when an M3U
// playlist cannot be opened; nothing is added then. Catch it and show its message.
// A few files are read before the add returns; more than WorkerThreshold() are read on a
// worker, and their rows arrive in batches while the event loop runs (the result says
// InBackground). Rows always go to the list that was current when the add started.
// Signals to connect:
//   AddStarted(total) / AddProgress(position, total) / AddFinished(): the add progress bar
//     (prgsbarAddFile in place of stCorpPanel, range total, value 1 at the start).
//     AddFinished comes last, after every row and error line of the add.
//   SummaryChanged(selectedText, totalText): the panes stspanelSelect and stspanelTotal;
//     before the first change they show InitialSelectedText and InitialTotalText.
//   FileReadError(line): "Error read file: <path>" for each file that could not be read;
//     hand it to the error list (TDispForm's AddMessage) and show that to the user.
// The conversion start and finish, the player, the info window and the tag editor reach
// the records with Record(), Records(), SelectedRows() and RefreshRow()/RefreshStates().
// A record keeps its address until its row is deleted, also while rows are added or sorted.
// Folders (AddFolders, folders in a drop) and the command line (QueueAdd) are added in
// steps off the UI thread: each folder is walked on a thread of its own, and its audio
// files go to the list of their kind, whatever list is current; FirstRowsAdded names the
// list that got the first rows of such an add. AbortAdd stops the whole add.

#include "app/FileListModel.h"
#include "app/FileParam.h"
#include "app/PlaylistImport.h"

#include <QLabel>
#include <QTreeWidget>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class TMPEGAudio;
class TFolderWalkJob;
struct TWalkResult;

// One step of a queued add: a folder to walk, or paths for the list of Kind.
struct TAddStep {
    QString Folder;          // when set, the folder is walked and the rest is ignored
    TListKind Kind = lkWave; // the list the paths go to
    QStringList Paths;
    QStringList Bases; // the folder each path was added through, or empty for none

    static TAddStep Walk(const QString &Folder) { return {Folder, lkWave, {}, {}}; }
    static TAddStep Files(TListKind Kind, const QStringList &Paths) {
        return {{}, Kind, Paths, {}};
    }
};

// One report-style file list: the rows of its TFileListModel, the columns of its direction,
// sorting on header clicks and its drag hint. Its items mirror the model row for row.
class TFileListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFileListView(TListKind Kind, QWidget *Parent = nullptr);
    ~TFileListView() override;

    TListKind Kind() const { return FKind; }
    int RowCount() const { return FModel.Count(); }
    const TFileListModel &Model() const { return FModel; }

    // The record of a row, or null for a row without one (or no such row).
    TFileParam *Record(int Row);
    const TFileParam *Record(int Row) const;
    // Every record in row order (rows without a record are left out).
    QList<TFileParam *> Records();
    // Selected row indices in row order.
    QList<int> SelectedRows() const;
    bool IsRowSelected(int Row) const;

    // Index of the first row whose record names the same file as Path, or -1.
    int FindListedFile(const QString &Path) const;

    // Reads each path not yet listed and appends its row; Mpeg reads the MPEG files and is
    // reused for all of them. Emits AddProgress before each path.
    TAddFilesResult AddFiles(const QStringList &Paths, TMPEGAudio &Mpeg);
    // Appends rows for records read elsewhere (a worker's batch), in one insertion.
    void AppendRecords(std::vector<std::unique_ptr<TFileParam>> Records);

    void DeleteSelected();
    // Removes one row with its record.
    void DeleteRow(int Row);
    void ClearAll();
    void SelectAllRows();
    // Flips every row's selection in one step.
    void InvertSelection();

    // Sorts by Column as a header click does: ascending, or the other way round when the
    // rows are sorted by Column already. The header shows the sort indicator.
    void ColumnClick(int Column);
    // Sorts by Column in Order (a sort put back from the layout).
    void SortBy(int Column, Qt::SortOrder Order);
    // Sorts a sorted list again, after rows were appended at its end.
    void Resort();
    bool Sorted() const { return FModel.Sorted(); }
    int SortColumn() const { return FModel.SortColumn(); }
    bool SortAscending() const { return FModel.SortAscending(); }

    // The number columns take the width of their texts; File Name and Path share the rest.
    void FitColumns();
    // File Name and Path take or give the difference between the columns and the view.
    void StretchColumns();

    // Rewrites the State column of every row from its record.
    void RefreshStates();
    // Rewrites every cell of a row from its record (after a tag change, for instance).
    void RefreshRow(int Row);
    // After a tag change of an MPEG row: reads the file again with Mpeg; when it is still
    // valid the record takes the new data and the Title, Artist, Album and Year cells show
    // the new tag, otherwise those four cells are emptied.
    void ReloadTag(int Row, TMPEGAudio &Mpeg);

    TListSummary Summary() const;

    QLabel *DragHint() const { return FDragHint; }
    void SetDragHintVisible(bool Visible);
    void CenterDragHint();

signals:
    void AddProgress(int Position, int Total);
    // Rows were added or removed, or the selection changed.
    void SummaryChanged();

protected:
    void resizeEvent(QResizeEvent *Event) override;
    QRegion visualRegionForSelection(const QItemSelection &Selection) const override;

private:
    class TItem;
    TItem *Item(int Row) const;
    std::vector<bool> SelectionMask() const;
    // Sets the item's texts and image from row Row of the model.
    void FillItem(TItem &Item, int Row);
    void ApplyOrder(const std::vector<int> &Order);

    TListKind FKind;
    TFileListModel FModel;
    QLabel *FDragHint = nullptr;
    int FQuiet = 0; // > 0 while a bulk change reports the summary once at its end
    std::vector<double> FStretchWeights; // per column: its share of the width when it shares
    int FStretching = 0;                 // > 0 while StretchColumns sets widths
};

// Both lists of the main window and the commands that act on the active one, CurrentList,
// chosen by ConvertType (0: lvWaveFiles, else lvMP3Files).
class TFileLists : public QObject {
    Q_OBJECT
public:
    TFileLists(TFileListView *WaveList, TFileListView *MP3List, std::function<int()> ConvertType,
               QObject *Parent = nullptr);
    ~TFileLists() override;

    TFileListView *WaveList() const { return FWave; }
    TFileListView *MP3List() const { return FMP3; }
    TFileListView *CurrentList() const;
    TListKind CurrentKind() const;

    // Appends Paths to CurrentList; returns what was added and the lines of unread files, or
    // InBackground when a worker reads them. Throws Exception while another add runs.
    TAddFilesResult AddFiles(const QStringList &Paths);
    bool Adding() const { return FAdding; }
    // Stops a background add: the rows read so far stay, AddFinished follows at once.
    void AbortAdd();
    // Adds of more paths than this go to a worker.
    int WorkerThreshold() const { return FWorkerThreshold; }
    void SetWorkerThreshold(int Paths) { FWorkerThreshold = Paths; }
    // The add command after the open dialog: playlists expanded, other files taken as they
    // are. Throws EPlaylistError.
    TAddFilesResult AddChosenFiles(const QStringList &Files);
    // A drop: files whose extension suits CurrentList, playlists expanded, and folders
    // walked. Throws EPlaylistError before anything is added.
    TAddFilesResult DropFiles(const QList<QUrl> &Urls);

    // Runs Steps in order after those of a queued add that is still running, or starts an
    // add with them; the rows arrive through the event loop. Throws Exception while an add
    // of a few files is being read on the spot.
    void QueueAdd(std::vector<TAddStep> Steps);
    // Walks each folder and adds its audio files to the lists of their kinds.
    void AddFolders(const QStringList &Folders);

    void DeleteSelected();
    void ClearAll();
    void SelectAll();
    void InvertSelection();
    // The tag of a row of the MP3 list changed: ReloadTag with the one MPEG inspector.
    void ReloadTag(int Row);

    // Call when the active tab changes: the summary and the drag hint follow.
    void CurrentListChanged();
    void UpdateStatusBar();
    QString SelectedText() const { return FSelectedText; }
    QString TotalText() const { return FTotalText; }

signals:
    void AddStarted(int Total);
    void AddProgress(int Position, int Total);
    void AddFinished();
    void SummaryChanged(const QString &SelectedText, const QString &TotalText);
    void FileReadError(const QString &Line);
    // The first rows of a queued add arrived in List.
    void FirstRowsAdded(TFileListView *List);

private:
    void StartAdd(int Total);
    void FinishAdd();
    void TakeBatch(TAddBatch &Batch);
    // Starts the next queued step, or finishes the add when none is left.
    void RunNextStep();
    void TakeWalk(TWalkResult &Result);
    void StopSteps();

    TFileListView *FWave;
    TFileListView *FMP3;
    std::function<int()> FConvertType;
    std::unique_ptr<TMPEGAudio> FMpeg; // one inspector reused for every MPEG file on this thread
    bool FAdding = false;
    int FWorkerThreshold = 200;
    TFileListView *FAddList = nullptr; // the list a background add fills
    std::unique_ptr<TListAddWorker> FWorker;
    std::unique_ptr<TFolderWalkJob> FWalk;
    std::deque<TAddStep> FSteps; // steps of the queued add not yet started
    bool FQueued = false;        // the running add takes more steps
    bool FStepStarted = false;   // a step of the queued add has started
    bool FShowFirstList = false; // FirstRowsAdded is still due
    QString FSelectedText = InitialSelectedText;
    QString FTotalText = InitialTotalText;
};
