#include "app/FileLists.h"

#include "app/FolderWalk.h"
#include "inspect/MPGTools.h"
#include "platform/Exception.h"
#include "platform/Mailbox.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelection>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <array>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// How a column takes its share of the list's width: File Name and Path (and the tag texts of
// the MP3 list, whose nine columns must fit a small window too) share what the others leave,
// numbers are as wide as their texts, the rest keep the width they have.
enum TColumnRole { crKeep, crStretch, crFit };

struct TColumnSpec {
    const char *Caption;
    int Width;
    bool Right;
    TColumnRole Role = crKeep;
};

const std::vector<TColumnSpec> WaveColumns{{"File Name", 180, false, crStretch},
                                           {"Time", 55, true, crFit},
                                           {"Size", 55, true, crFit},
                                           {"Path", 180, false, crStretch},
                                           {"State", 60, false}};
const std::vector<TColumnSpec> MpegColumns{{"File Name", 160, false, crStretch},
                                           {"Title", 100, false, crStretch},
                                           {"Artist", 75, false, crStretch},
                                           {"Album", 85, false, crStretch},
                                           {"Year", 55, false, crFit},
                                           {"Time", 55, true, crFit},
                                           {"Size", 55, true, crFit},
                                           {"Path", 180, false, crStretch},
                                           {"State", 80, false}};

// Narrower than this a stretching column gives no more width away.
constexpr int MinStretchWidth = 48;

const std::vector<TColumnSpec> &ColumnsOf(TListKind Kind) {
    return Kind == lkWave ? WaveColumns : MpegColumns;
}

enum TRowImage { riUnreadable = 0, riWave = 1, riMpeg = 3 };

QIcon DrawIcon(const std::function<void(QPainter &)> &Paint) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    Paint(p);
    p.end();
    return QIcon(pixmap);
}

// The small row images, drawn once: a struck-out page, a waveform, a note.
const QIcon &RowIcon(TRowImage Image) {
    static const QIcon unreadable = DrawIcon([](QPainter &p) {
        p.setPen(QPen(Qt::darkGray, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 1.5, 9, 13));
        p.setPen(QPen(QColor(200, 0, 0), 2));
        p.drawLine(QPointF(5, 4), QPointF(11, 12));
        p.drawLine(QPointF(11, 4), QPointF(5, 12));
    });
    static const QIcon wave = DrawIcon([](QPainter &p) {
        p.setPen(QPen(QColor(0, 90, 190), 1.5));
        QPainterPath path(QPointF(1, 8));
        const double heights[] = {3, -5, 6, -4, 2, -6, 5, -2};
        for (int i = 0; i < 8; ++i)
            path.lineTo(2.5 + i * 1.6, 8 - heights[i]);
        path.lineTo(15, 8);
        p.drawPath(path);
    });
    static const QIcon mpeg = DrawIcon([](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 130, 60));
        p.drawEllipse(QRectF(1.5, 10, 5, 4));
        p.drawEllipse(QRectF(8.5, 9, 5, 4));
        p.drawRect(QRectF(5, 3, 1.5, 9));
        p.drawRect(QRectF(12, 2, 1.5, 9));
        p.drawRect(QRectF(5, 2, 8.5, 2.5));
    });
    switch (Image) {
    case riWave:
        return wave;
    case riMpeg:
        return mpeg;
    default:
        return unreadable;
    }
}

} // namespace

// A row; its record is the model's row of the same index.
class TFileListView::TItem : public QTreeWidgetItem {
public:
    // The row's place after the model's sort: the items follow the model's order exactly.
    int Rank = 0;

    bool operator<(const QTreeWidgetItem &Other) const override {
        return Rank < static_cast<const TItem &>(Other).Rank;
    }
};

TFileListView::TFileListView(TListKind Kind, QWidget *Parent)
    : QTreeWidget(Parent), FKind(Kind), FModel(Kind) {
    setObjectName(Kind == lkWave ? QStringLiteral("lvWaveFiles") : QStringLiteral("lvMP3Files"));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // keeps lists of thousands of rows quick
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false); // rows added later are appended, not sorted in

    // The selection stays visible while another control has the focus.
    QPalette pal = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    setPalette(pal);

    const auto &columns = ColumnsOf(Kind);
    setColumnCount(int(columns.size()));
    auto *head = new QTreeWidgetItem;
    for (int c = 0; c < int(columns.size()); ++c) {
        head->setText(c, QString::fromLatin1(columns[c].Caption));
        head->setTextAlignment(c, columns[c].Right ? Qt::AlignRight | Qt::AlignVCenter
                                                   : Qt::AlignLeft | Qt::AlignVCenter);
    }
    setHeaderItem(head);
    for (int c = 0; c < int(columns.size()); ++c)
        setColumnWidth(c, columns[c].Width);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    for (const TColumnSpec &column : columns)
        FStretchWeights.push_back(column.Width);
    // A width the user gives a sharing column (or the layout puts back) is its new share.
    connect(header(), &QHeaderView::sectionResized, this, [this](int Section, int, int Size) {
        if (FStretching == 0 && Section >= 0 && Section < int(FStretchWeights.size()) && Size > 0)
            FStretchWeights[size_t(Section)] = Size;
    });
    // Shown once the rows are sorted; no section carries it before.
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header(), &QHeaderView::sectionClicked, this, &TFileListView::ColumnClick);
    setAccessibleName(Kind == lkWave ? QStringLiteral("Wave files to convert to MP3")
                                     : QStringLiteral("MP3 files to convert to Wave"));
    connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (FQuiet == 0)
            emit SummaryChanged();
    });

    FDragHint = new QLabel(Kind == lkWave ? QStringLiteral("Drag Wave files here")
                                          : QStringLiteral("Drag MP3 files here"),
                           this);
    FDragHint->setObjectName(Kind == lkWave ? QStringLiteral("PanelHintDragWave")
                                            : QStringLiteral("DragHintPanel"));
    QFont font = FDragHint->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    FDragHint->setFont(font);
    FDragHint->setStyleSheet(QStringLiteral("color: red; background: transparent;"));
    FDragHint->setAlignment(Qt::AlignCenter);
    FDragHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    FDragHint->adjustSize();
    CenterDragHint();
    FitColumns();
}

TFileListView::~TFileListView() = default;

TFileListView::TItem *TFileListView::Item(int Row) const {
    return static_cast<TItem *>(topLevelItem(Row));
}

TFileParam *TFileListView::Record(int Row) {
    return FModel.Record(Row);
}

const TFileParam *TFileListView::Record(int Row) const {
    return FModel.Record(Row);
}

QList<TFileParam *> TFileListView::Records() {
    return FModel.Records();
}

std::vector<bool> TFileListView::SelectionMask() const {
    std::vector<bool> mask(size_t(RowCount()), false);
    // Reading the ranges once keeps this linear, however fragmented the selection is.
    for (const QItemSelectionRange &range : selectionModel()->selection()) {
        if (range.parent().isValid())
            continue;
        for (int row = std::max(range.top(), 0); row <= range.bottom() && row < RowCount(); ++row)
            mask[size_t(row)] = true;
    }
    return mask;
}

QList<int> TFileListView::SelectedRows() const {
    const std::vector<bool> mask = SelectionMask();
    QList<int> rows;
    for (int row = 0; row < int(mask.size()); ++row) {
        if (mask[size_t(row)])
            rows << row;
    }
    return rows;
}

bool TFileListView::IsRowSelected(int Row) const {
    const TItem *item = Item(Row);
    return item && item->isSelected();
}

int TFileListView::FindListedFile(const QString &Path) const {
    return FModel.FindListedFile(Path);
}

TAddFilesResult TFileListView::AddFiles(const QStringList &Paths, TMPEGAudio &Mpeg) {
    TAddBatch batch =
        ReadListFiles(Paths, FKind, FModel.ListedKeys(), Mpeg,
                      [this](int Position, int Total) { emit AddProgress(Position, Total); });
    TAddFilesResult result;
    result.Added = int(batch.Records.size());
    result.ErrorLines = std::move(batch.ErrorLines);
    AppendRecords(std::move(batch.Records));
    return result;
}

void TFileListView::AppendRecords(std::vector<std::unique_ptr<TFileParam>> Records) {
    if (Records.empty())
        return;
    const int first = FModel.Append(std::move(Records));
    // One insertion for the whole batch: appending row by row redraws the list each time.
    QList<QTreeWidgetItem *> rows;
    rows.reserve(FModel.Count() - first);
    for (int row = first; row < FModel.Count(); ++row) {
        auto *item = new TItem;
        FillItem(*item, row);
        rows << item;
    }
    addTopLevelItems(rows);
    FitColumns();
    emit SummaryChanged();
}

void TFileListView::FillItem(TItem &Item, int Row) {
    const QStringList &texts = FModel.Cells(Row);
    const auto &columns = ColumnsOf(FKind);
    for (int c = 0; c < int(texts.size()); ++c) {
        Item.setText(c, texts[c]);
        if (columns[c].Right)
            Item.setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    const TFileParam &record = *FModel.Record(Row);
    const bool readable = record.IsReadable();
    Item.setIcon(0, RowIcon(!readable ? riUnreadable : FKind == lkMpeg ? riMpeg : riWave));
    // The red cross alone does not say what is wrong with the file.
    const QString why = readable ? QString() : RowStateText(record);
    for (int c = 0; c < int(texts.size()); ++c)
        Item.setToolTip(c, why);
}

void TFileListView::RefreshRow(int Row) {
    if (TItem *item = Item(Row)) {
        FModel.RefreshRow(Row);
        FillItem(*item, Row);
    }
}

void TFileListView::ReloadTag(int Row, TMPEGAudio &Mpeg) {
    TItem *item = Item(Row);
    if (item == nullptr)
        return;
    FModel.ReloadTag(Row, Mpeg);
    for (int c = 1; c <= 4; ++c)
        item->setText(c, FModel.Cells(Row)[c]);
}

void TFileListView::RefreshStates() {
    FModel.RefreshStates();
    const int stateColumn = columnCount() - 1;
    for (int row = 0; row < RowCount(); ++row)
        Item(row)->setText(stateColumn, FModel.Cells(row)[stateColumn]);
}

void TFileListView::DeleteSelected() {
    const std::vector<bool> mask = SelectionMask();
    if (std::find(mask.begin(), mask.end(), true) == mask.end())
        return;
    // Taking all rows out at once and putting the kept ones back is linear; removing rows
    // one by one makes the view renumber the rest each time.
    ++FQuiet;
    FModel.RemoveRows(mask);
    QList<QTreeWidgetItem *> rows = invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem *> kept;
    kept.reserve(rows.size());
    for (qsizetype row = 0; row < rows.size(); ++row) {
        if (mask[size_t(row)])
            delete rows[row];
        else
            kept << rows[row];
    }
    addTopLevelItems(kept);
    --FQuiet;
    emit SummaryChanged();
}

void TFileListView::DeleteRow(int Row) {
    if (Row < 0 || Row >= RowCount())
        return;
    FModel.RemoveRow(Row);
    delete takeTopLevelItem(Row);
    emit SummaryChanged();
}

void TFileListView::ClearAll() {
    ++FQuiet;
    FModel.Clear();
    clear();
    --FQuiet;
    emit SummaryChanged();
}

void TFileListView::SelectAllRows() {
    if (RowCount() == 0)
        return;
    const std::vector<bool> mask = SelectionMask();
    if (std::find(mask.begin(), mask.end(), false) == mask.end())
        return;
    // From an empty selection the model skips comparing old and new ranges pairwise.
    ++FQuiet;
    selectionModel()->clearSelection();
    --FQuiet;
    selectAll();
}

void TFileListView::InvertSelection() {
    if (RowCount() == 0)
        return;
    // The selection model's Toggle compares every old range with every new one, which is
    // quadratic for a scattered selection; selecting the unselected runs anew is linear.
    const std::vector<bool> mask = SelectionMask();
    QItemSelection inverted;
    const int rows = RowCount(), lastColumn = columnCount() - 1;
    for (int row = 0; row < rows;) {
        if (mask[size_t(row)]) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < rows && !mask[size_t(row)])
            ++row;
        inverted.select(model()->index(first, 0), model()->index(row - 1, lastColumn));
    }
    ++FQuiet;
    selectionModel()->clearSelection();
    // The ranges span whole rows already; the Rows flag would merge them one by one.
    selectionModel()->select(inverted, QItemSelectionModel::Select);
    --FQuiet;
    emit SummaryChanged();
}

void TFileListView::ColumnClick(int Column) {
    if (Column < 0 || Column >= columnCount())
        return;
    ApplyOrder(FModel.Sort(Column));
}

void TFileListView::SortBy(int Column, Qt::SortOrder Order) {
    if (Column < 0 || Column >= columnCount())
        return;
    ApplyOrder(FModel.Sort(Column, Order == Qt::AscendingOrder));
}

void TFileListView::Resort() {
    if (Sorted())
        SortBy(SortColumn(), SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFileListView::ApplyOrder(const std::vector<int> &Order) {
    // The items take the model's new order through the view's own sort, so that the
    // selection and the current row move with their rows.
    for (int row = 0; row < int(Order.size()); ++row)
        Item(Order[size_t(row)])->Rank = row;
    sortItems(SortColumn(), Qt::AscendingOrder);
    header()->setSortIndicator(SortColumn(),
                               SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TFileListView::FitColumns() {
    const auto &columns = ColumnsOf(FKind);
    for (int c = 0; c < int(columns.size()); ++c) {
        if (columns[c].Role != crFit)
            continue;
        // The texts of the rows in view (the view looks at a bounded number of them) and the
        // caption with its sort arrow.
        const int contents = std::max(sizeHintForColumn(c), header()->sectionSizeHint(c));
        if (contents > 0)
            setColumnWidth(c, contents);
    }
    StretchColumns();
}

void TFileListView::StretchColumns() {
    const auto &columns = ColumnsOf(FKind);
    int fixed = 0;
    double weights = 0;
    std::vector<int> stretch;
    for (int c = 0; c < int(columns.size()); ++c) {
        if (columns[c].Role == crStretch) {
            stretch.push_back(c);
            weights += FStretchWeights[size_t(c)];
        } else {
            fixed += columnWidth(c);
        }
    }
    const int available = viewport()->width() - fixed;
    if (stretch.empty() || weights <= 0 || available <= 0)
        return;
    // Shares by the widths the user last gave the columns (or their first widths), so that
    // shrinking and growing the window again brings back the same proportions.
    ++FStretching;
    int left = available;
    for (size_t i = 0; i < stretch.size(); ++i) {
        const int c = stretch[i];
        const int share =
            i + 1 == stretch.size() ? left : int(available * FStretchWeights[size_t(c)] / weights);
        const int width = std::max(MinStretchWidth, share);
        left -= width;
        setColumnWidth(c, width);
    }
    --FStretching;
}

TListSummary TFileListView::Summary() const {
    return FModel.Summary(SelectionMask());
}

void TFileListView::SetDragHintVisible(bool Visible) {
    FDragHint->setVisible(Visible);
    if (Visible)
        CenterDragHint();
}

void TFileListView::CenterDragHint() {
    if (FDragHint->isHidden())
        return;
    FDragHint->move((width() - FDragHint->width()) / 2, (height() - FDragHint->height()) / 2);
    FDragHint->raise();
}

QRegion TFileListView::visualRegionForSelection(const QItemSelection &Selection) const {
    // The tree view locates every range's rows one by one, which is quadratic for a scattered
    // selection of thousands of rows; repainting the visible rows is cheaper.
    return Selection.isEmpty() ? QRegion() : QRegion(viewport()->rect());
}

void TFileListView::resizeEvent(QResizeEvent *Event) {
    QTreeWidget::resizeEvent(Event);
    StretchColumns();
    CenterDragHint();
}

// --- TFolderWalkJob ---

// Walks one folder on a thread of its own and hands the result to the thread that made it
// through a mailbox. OnDone runs once, unless the job is destroyed first, and may destroy it.
class TFolderWalkJob {
public:
    using TDoneHandler = std::function<void(TWalkResult &)>;

    TFolderWalkJob(const QString &Folder, TDoneHandler OnDone)
        : FMailbox(std::make_unique<TMailbox>()),
          FOnDone(std::make_shared<TDoneHandler>(std::move(OnDone))) {
        FThread = std::thread([this, Folder, Sender = FMailbox->Sender(), Handler = FOnDone] {
            auto Result = std::make_shared<TWalkResult>(WalkFolder(Folder, &FAbort));
            Sender.Post([Handler, Result] { (*Handler)(*Result); });
        });
    }
    // Stops the walk at its next entry and waits for it; its result is dropped.
    ~TFolderWalkJob() {
        FAbort.store(true, std::memory_order_relaxed);
        FThread.join();
    }
    TFolderWalkJob(const TFolderWalkJob &) = delete;
    TFolderWalkJob &operator=(const TFolderWalkJob &) = delete;

private:
    std::unique_ptr<TMailbox> FMailbox;
    std::shared_ptr<TDoneHandler> FOnDone;
    std::atomic<bool> FAbort{false};
    std::thread FThread;
};

// --- TFileLists ---

TFileLists::TFileLists(TFileListView *WaveList, TFileListView *MP3List,
                       std::function<int()> ConvertType, QObject *Parent)
    : QObject(Parent), FWave(WaveList), FMP3(MP3List), FConvertType(std::move(ConvertType)),
      FMpeg(std::make_unique<TMPEGAudio>()) {
    for (TFileListView *list : {FWave, FMP3}) {
        connect(list, &TFileListView::AddProgress, this, &TFileLists::AddProgress);
        connect(list, &TFileListView::SummaryChanged, this, [this, list] {
            if (list == CurrentList())
                UpdateStatusBar();
        });
        // The window takes its lists down before this object: the worker stops first, and
        // none of its batches reaches a list that is going.
        connect(list, &QObject::destroyed, this, [this] {
            StopSteps();
            FWorker.reset();
            FAddList = nullptr;
            FAdding = false;
        });
    }
}

TFileLists::~TFileLists() {
    // Joins the threads before the handlers that reach this object go.
    StopSteps();
    FWorker.reset();
}

TFileListView *TFileLists::CurrentList() const {
    return CurrentKind() == lkWave ? FWave : FMP3;
}

TListKind TFileLists::CurrentKind() const {
    return ListKindOfConvertType(FConvertType());
}

TAddFilesResult TFileLists::AddFiles(const QStringList &Paths) {
    // Only one add at a time: a second one would judge duplicates against rows still to come.
    if (FAdding)
        throw Exception(QStringLiteral("Files are still being added; add these when the first "
                                       "ones are listed."));
    TFileListView *list = CurrentList();
    if (Paths.size() > FWorkerThreshold) {
        QueueAdd({TAddStep::Files(list->Kind(), Paths)});
        // Rows go to the list that was current, which is shown already.
        FShowFirstList = false;
        TAddFilesResult result;
        result.InBackground = true;
        return result;
    }
    StartAdd(int(Paths.size()));
    TAddFilesResult result;
    try {
        result = list->AddFiles(Paths, *FMpeg);
    } catch (...) {
        FinishAdd();
        throw;
    }
    for (const QString &line : result.ErrorLines)
        emit FileReadError(line);
    FinishAdd();
    return result;
}

void TFileLists::StartAdd(int Total) {
    FAdding = true;
    FWave->SetDragHintVisible(false);
    FMP3->SetDragHintVisible(false);
    emit AddStarted(Total);
}

void TFileLists::TakeBatch(TAddBatch &Batch) {
    if (FAddList == nullptr)
        return;
    const int total = FWorker ? FWorker->Total() : 0;
    const bool first = FShowFirstList && !Batch.Records.empty();
    FAddList->AppendRecords(std::move(Batch.Records));
    if (first) {
        FShowFirstList = false;
        emit FirstRowsAdded(FAddList);
    }
    for (const QString &line : Batch.ErrorLines)
        emit FileReadError(line);
    emit AddProgress(Batch.Position, total);
}

void TFileLists::FinishAdd() {
    // Everything is put back before AddFinished, whose handler may show a window.
    StopSteps();
    FWorker.reset();
    FAddList = nullptr;
    FAdding = false;
    // A sorted list shows its order in the header; the new rows take their places in it.
    for (TFileListView *list : {FWave, FMP3})
        list->Resort();
    FWave->SetDragHintVisible(FWave->RowCount() == 0);
    FMP3->SetDragHintVisible(FMP3->RowCount() == 0);
    UpdateStatusBar();
    emit AddFinished();
}

void TFileLists::AbortAdd() {
    if (FWorker || FWalk || FQueued)
        FinishAdd();
}

void TFileLists::StopSteps() {
    FWalk.reset();
    FSteps.clear();
    FQueued = false;
    FStepStarted = false;
    FShowFirstList = false;
}

void TFileLists::QueueAdd(std::vector<TAddStep> Steps) {
    if (FAdding && !FQueued)
        throw Exception(QStringLiteral("Files are still being added; add these when the first "
                                       "ones are listed."));
    if (Steps.empty())
        return;
    const bool start = !FAdding;
    for (TAddStep &step : Steps)
        FSteps.push_back(std::move(step));
    if (!start)
        return;
    const TAddStep &first = FSteps.front();
    StartAdd(first.Folder.isEmpty() ? int(first.Paths.size()) : 0);
    FQueued = true;
    FShowFirstList = true;
    RunNextStep();
}

void TFileLists::AddFolders(const QStringList &Folders) {
    std::vector<TAddStep> steps;
    for (const QString &folder : Folders)
        steps.push_back(TAddStep::Walk(folder));
    QueueAdd(std::move(steps));
}

void TFileLists::RunNextStep() {
    while (!FSteps.empty()) {
        TAddStep step = std::move(FSteps.front());
        FSteps.pop_front();
        // The first step's size is the one the add started with.
        const bool announce = std::exchange(FStepStarted, true);
        if (!step.Folder.isEmpty()) {
            if (announce)
                emit AddProgress(0, 0); // the number of files is not known yet
            FWalk = std::make_unique<TFolderWalkJob>(
                step.Folder, [this](TWalkResult &Result) { TakeWalk(Result); });
            return;
        }
        if (step.Paths.isEmpty())
            continue;
        TFileListView *list = step.Kind == lkWave ? FWave : FMP3;
        if (announce)
            emit AddProgress(0, int(step.Paths.size()));
        FAddList = list;
        auto onBatch = [this](TAddBatch &Batch) { TakeBatch(Batch); };
        auto onFinished = [this] {
            FAddList = nullptr;
            RunNextStep();
        };
        if (step.Bases.isEmpty()) {
            FWorker = std::make_unique<TListAddWorker>(
                step.Kind, step.Paths, list->Model().ListedKeys(), onBatch, onFinished);
            return;
        }
        std::vector<TWalkedFile> files;
        files.reserve(size_t(step.Paths.size()));
        for (qsizetype i = 0; i < step.Paths.size(); ++i)
            files.push_back({step.Paths[i], step.Bases.value(i), step.Kind});
        FWorker = std::make_unique<TListAddWorker>(step.Kind, files, list->Model().ListedKeys(),
                                                   onBatch, onFinished);
        return;
    }
    FinishAdd();
}

void TFileLists::TakeWalk(TWalkResult &Result) {
    FWalk.reset();
    for (const QString &problem : Result.Problems)
        emit FileReadError(problem);
    // Each list gets its files in the walk's order; the kind met first goes first.
    TAddStep steps[2];
    for (TAddStep &step : steps)
        step.Kind = Result.Files.empty() || Result.Files.front().Kind == lkWave ? lkWave : lkMpeg;
    steps[1].Kind = steps[0].Kind == lkWave ? lkMpeg : lkWave;
    for (const TWalkedFile &file : Result.Files) {
        TAddStep &step = file.Kind == steps[0].Kind ? steps[0] : steps[1];
        step.Paths << file.Path;
        step.Bases << file.Base;
    }
    FSteps.push_front(std::move(steps[1]));
    FSteps.push_front(std::move(steps[0]));
    RunNextStep();
}

TAddFilesResult TFileLists::AddChosenFiles(const QStringList &Files) {
    return AddFiles(CollectChosenFiles(Files, CurrentKind()));
}

TAddFilesResult TFileLists::DropFiles(const QList<QUrl> &Urls) {
    const auto isFolder = [](const QUrl &url) {
        return url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir();
    };
    if (std::none_of(Urls.begin(), Urls.end(), isFolder))
        return AddFiles(CollectDroppedFiles(Urls, CurrentKind()));
    // Files and folders in the order dropped; every playlist is read before anything is
    // added, so that one that cannot be opened adds nothing.
    std::vector<TAddStep> steps;
    QList<QUrl> files;
    const auto takeFiles = [&] {
        if (!files.isEmpty())
            steps.push_back(
                TAddStep::Files(CurrentKind(), CollectDroppedFiles(files, CurrentKind())));
        files.clear();
    };
    for (const QUrl &url : Urls) {
        if (!isFolder(url)) {
            files << url;
            continue;
        }
        takeFiles();
        steps.push_back(TAddStep::Walk(url.toLocalFile()));
    }
    takeFiles();
    QueueAdd(std::move(steps));
    TAddFilesResult result;
    result.InBackground = true;
    return result;
}

void TFileLists::ReloadTag(int Row) {
    if (CurrentKind() == lkMpeg)
        CurrentList()->ReloadTag(Row, *FMpeg);
}

void TFileLists::DeleteSelected() {
    CurrentList()->DeleteSelected();
}

void TFileLists::ClearAll() {
    CurrentList()->ClearAll();
}

void TFileLists::SelectAll() {
    CurrentList()->SelectAllRows();
}

void TFileLists::InvertSelection() {
    CurrentList()->InvertSelection();
}

void TFileLists::CurrentListChanged() {
    CurrentList()->CenterDragHint();
    UpdateStatusBar();
}

void TFileLists::UpdateStatusBar() {
    const TListSummary summary = CurrentList()->Summary();
    FSelectedText = summary.SelectedText();
    FTotalText = summary.TotalText();
    emit SummaryChanged(FSelectedText, FTotalText);
}
