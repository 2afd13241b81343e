#include "app/FileLists.h"

#include "app/RawNames.h"

#include "inspect/MPGTools.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelection>
#include <QPainter>
#include <QPainterPath>
#include <QSet>
#include <array>
#include <vector>

namespace {

struct TColumnSpec {
    const char *Caption;
    int Width;
    bool Right;
};

const std::vector<TColumnSpec> WaveColumns{{"File Name", 180, false},
                                           {"Time", 55, true},
                                           {"Size", 55, true},
                                           {"Path", 180, false},
                                           {"State", 60, false}};
const std::vector<TColumnSpec> MpegColumns{
    {"File Name", 160, false}, {"Title", 100, false}, {"Artist", 75, false},
    {"Album", 85, false},      {"Year", 55, false},   {"Time", 55, true},
    {"Size", 55, true},        {"Path", 180, false},  {"State", 80, false}};

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

int32_t ClampDuration(qint64 Seconds) {
    return int32_t(std::clamp<qint64>(Seconds, 0, std::numeric_limits<int32_t>::max()));
}

} // namespace

// A row and the record it owns.
class TFileListView::TItem : public QTreeWidgetItem {
public:
    TFileParam Param;

    bool operator<(const QTreeWidgetItem &Other) const override {
        const auto *view = static_cast<const TFileListView *>(treeWidget());
        return view->Compare(*this, static_cast<const TItem &>(Other)) < 0;
    }
};

TFileListView::TFileListView(TListKind Kind, QWidget *Parent) : QTreeWidget(Parent), FKind(Kind) {
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
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &TFileListView::ColumnClick);
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
}

TFileListView::~TFileListView() = default;

TFileListView::TItem *TFileListView::Item(int Row) const {
    return static_cast<TItem *>(topLevelItem(Row));
}

TFileParam *TFileListView::Record(int Row) {
    TItem *item = Item(Row);
    return item ? &item->Param : nullptr;
}

const TFileParam *TFileListView::Record(int Row) const {
    const TItem *item = Item(Row);
    return item ? &item->Param : nullptr;
}

QList<TFileParam *> TFileListView::Records() {
    QList<TFileParam *> records;
    records.reserve(RowCount());
    for (int row = 0; row < RowCount(); ++row)
        records << Record(row);
    return records;
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
    for (int row = 0; row < RowCount(); ++row) {
        if (SameFilePath(Item(row)->Param.SourcePath, Path))
            return row;
    }
    return -1;
}

TAddFilesResult TFileListView::AddFiles(const QStringList &Paths, TMPEGAudio &Mpeg) {
    TAddFilesResult result;
    QSet<QString> listed;
    listed.reserve(RowCount() + Paths.size());
    for (int row = 0; row < RowCount(); ++row)
        listed.insert(FilePathKey(Item(row)->Param.SourcePath));

    std::vector<std::unique_ptr<TItem>> added;
    const int total = int(Paths.size());
    for (int i = 0; i < total; ++i) {
        emit AddProgress(i + 1, total);
        const QString &path = Paths[i];
        const QString key = FilePathKey(path);
        if (listed.contains(key))
            continue;
        try {
            auto item = std::make_unique<TItem>();
            TFileParam &p = item->Param;
            p.FileName = ExtractFileName(path);
            p.SourcePath = path;
            p.State = stQueued;
            // A name with bytes no QString holds (from a playlist) opens no file: the
            // nearest name may be another one's.
            if (HasRawBytes(path))
                throw EFOpenError(EscapedName(path), RawNameReason());
            // A file that cannot be opened is reported rather than listed: the MPEG
            // inspector would otherwise show it as an unreadable row of 0 bytes.
            if (const QString why = RegularFileProblem(path); !why.isEmpty())
                throw EFOpenError(path, why);
            if (FKind == lkMpeg) {
                Mpeg.ResetData();
                Mpeg.SetFileName(path);
                p.MpegData = Mpeg.Data();
                p.Duration = ClampDuration(p.MpegData.Duration);
                p.Kind = Mpeg.IsValid() ? fkMpeg : fkUnreadable;
            } else {
                if (ReadWaveFileInfo(path, p.WaveData)) {
                    p.Duration = p.WaveData.Duration;
                    p.Kind = fkWave;
                } else {
                    p.Kind = fkUnreadable;
                    p.WaveData.FileSize = QFileInfo(path).size(); // for the Size column
                }
            }
            FillRow(*item);
            added.push_back(std::move(item));
            listed.insert(key);
            ++result.Added;
        } catch (const std::exception &) {
            result.ErrorLines << QStringLiteral("Error read file: ") + EscapedName(path);
        }
    }
    // One insertion for the whole batch: appending row by row redraws the list each time.
    QList<QTreeWidgetItem *> rows;
    rows.reserve(qsizetype(added.size()));
    for (auto &item : added)
        rows << item.release();
    addTopLevelItems(rows);
    if (!rows.isEmpty())
        emit SummaryChanged();
    return result;
}

void TFileListView::FillRow(TItem &Item) {
    const TFileParam &p = Item.Param;
    const bool readable = p.IsReadable();
    QStringList texts{p.FileName};
    if (FKind == lkMpeg) {
        const TMPEGInfo &m = p.MpegData;
        if (readable) {
            const bool tagged = m.Header == QStringLiteral("TAG");
            texts << (tagged ? m.Title.Text() : QStringLiteral("Unknown Title"))
                  << (tagged ? m.Artist.Text() : QStringLiteral("Unknown Artist")) << m.Album.Text()
                  << TagYearText(m.Year) << DurationColumnText(p.Duration);
        } else {
            texts << QString() << QString() << QString() << QString() << QStringLiteral("- -");
        }
        texts << SizeColumnText(m.Length);
    } else {
        texts << (readable ? DurationColumnText(p.Duration) : QString())
              << SizeColumnText(p.WaveData.FileSize);
    }
    texts << ExtractFilePath(p.SourcePath) << StateColumnText(p.State);

    const auto &columns = ColumnsOf(FKind);
    for (int c = 0; c < int(texts.size()); ++c) {
        Item.setText(c, texts[c]);
        if (columns[c].Right)
            Item.setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    Item.setIcon(0, RowIcon(!readable ? riUnreadable : FKind == lkMpeg ? riMpeg : riWave));
}

void TFileListView::RefreshRow(int Row) {
    if (TItem *item = Item(Row))
        FillRow(*item);
}

void TFileListView::ReloadTag(int Row, TMPEGAudio &Mpeg) {
    TItem *item = Item(Row);
    if (item == nullptr)
        return;
    Mpeg.ResetData();
    Mpeg.SetFileName(item->Param.SourcePath);
    QStringList cells(4);
    if (Mpeg.IsValid()) {
        item->Param.MpegData = Mpeg.Data();
        cells = {Mpeg.DisplayTitle(), Mpeg.DisplayArtist(), Mpeg.Data().Album,
                 TagYearText(Mpeg.Data().Year)};
    }
    // Time, Size and the duration stay as they were read when the file was added.
    for (int c = 0; c < 4; ++c)
        item->setText(1 + c, cells[c]);
}

void TFileListView::RefreshStates() {
    const int stateColumn = columnCount() - 1;
    for (int row = 0; row < RowCount(); ++row)
        Item(row)->setText(stateColumn, StateColumnText(Item(row)->Param.State));
}

void TFileListView::DeleteSelected() {
    const std::vector<bool> mask = SelectionMask();
    if (std::find(mask.begin(), mask.end(), true) == mask.end())
        return;
    // Taking all rows out at once and putting the kept ones back is linear; removing rows
    // one by one makes the view renumber the rest each time.
    ++FQuiet;
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
    delete takeTopLevelItem(Row);
    emit SummaryChanged();
}

void TFileListView::ClearAll() {
    ++FQuiet;
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

int TFileListView::Compare(const TItem &A, const TItem &B) const {
    const int result = CompareListTexts(A.text(FSortColumn), B.text(FSortColumn));
    return FSortFlag ? result : -result;
}

void TFileListView::ColumnClick(int Column) {
    if (Column < 0 || Column >= columnCount())
        return;
    FSortColumn = Column;
    // Compare() already applies the direction, so the model sorts "ascending" by it; its
    // sort is stable, and the selection moves with the rows.
    sortItems(Column, Qt::AscendingOrder);
    FSortFlag = !FSortFlag;
}

TListSummary TFileListView::Summary() const {
    TListSummary summary;
    const std::vector<bool> mask = SelectionMask();
    for (int row = 0; row < RowCount(); ++row)
        summary.AddRow(&Item(row)->Param, mask[size_t(row)]);
    return summary;
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
    CenterDragHint();
}

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
    }
}

TFileLists::~TFileLists() = default;

TFileListView *TFileLists::CurrentList() const {
    return CurrentKind() == lkWave ? FWave : FMP3;
}

TListKind TFileLists::CurrentKind() const {
    return ListKindOfConvertType(FConvertType());
}

TAddFilesResult TFileLists::AddFiles(const QStringList &Paths) {
    // Only one add at a time: both lists share one MPEG inspector.
    if (FAdding)
        throw Exception(QStringLiteral("Files are still being added; add these when the first "
                                       "ones are listed."));
    FAdding = true;
    struct Done {
        bool &Flag;
        ~Done() { Flag = false; }
    } done{FAdding};
    FWave->SetDragHintVisible(false);
    FMP3->SetDragHintVisible(false);
    emit AddStarted(int(Paths.size()));
    const TAddFilesResult result = CurrentList()->AddFiles(Paths, *FMpeg);
    emit AddFinished();
    FWave->SetDragHintVisible(FWave->RowCount() == 0);
    FMP3->SetDragHintVisible(FMP3->RowCount() == 0);
    for (const QString &line : result.ErrorLines)
        emit FileReadError(line);
    UpdateStatusBar();
    return result;
}

TAddFilesResult TFileLists::AddChosenFiles(const QStringList &Files) {
    return AddFiles(CollectChosenFiles(Files, CurrentKind()));
}

TAddFilesResult TFileLists::DropFiles(const QList<QUrl> &Urls) {
    return AddFiles(CollectDroppedFiles(Urls, CurrentKind()));
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
