#include "app/MainForm.h"

#include "app/AboutForm.h"
#include "app/ConfigInstance.h"
#include "app/ConversionStart.h"
#include "app/FolderWalk.h"
#include "app/Help.h"
#include "app/Icons.h"
#include "app/WebPages.h"
#include "conversion/DispForm.h"
#include "inspect/WaveInfoForm.h"
#include "platform/UserDialogs.h"
#include "platform/WindowLayout.h"
#include "player/PlayerForm.h"
#include "settings/ConfigForm.h"
#include "settings/RegSetEx.h"
#include "tageditor/ID3TagForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

namespace {

const QString WaveTabCaption = QStringLiteral("  Wave -> MP3   ");
const QString MP3TabCaption = QStringLiteral("   MP3 -> Wave   ");
const QString CompanyText = QStringLiteral("Corvane Dozivuror");
const QString NoFilesSelected =
    QStringLiteral("No file(s) selected, please add audio files first.");

// Shows a modal window of the main window's; the main window has the keyboard again
// afterwards, so that its shortcuts work without a click.
int ExecFrom(QWidget *Owner, QDialog *Dialog) {
    const TFocusReturn Return(Owner);
    return Dialog->exec();
}

// Opens a local folder in the file manager, or the home folder when it does not exist.
void OpenFolderOrHome(const QString &Folder) {
    const QString Target =
        !Folder.isEmpty() && QFileInfo(Folder).isDir() ? Folder : QDir::homePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(Target));
}

} // namespace

TMainForm::TMainForm(QWidget *Parent) : QMainWindow(Parent) {
    setObjectName(QStringLiteral("MainForm"));
    FormCreate();
}

TMainForm::~TMainForm() {
    // The lists are destroyed before the object that summarises them; nothing they do while
    // going may reach it or the status bar.
    for (TFileListView *List : {lvWaveFiles, lvMP3Files})
        List->disconnect();
    FLists->disconnect(this);
}

void TMainForm::FormCreate() {
    resize(570, 440);
    setMinimumSize(410, 280);
    if (const QScreen *Screen = QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());
    setWindowIcon(QApplication::windowIcon());
    setAcceptDrops(true);
    FFirstShown = false;

    FConversion = std::make_unique<TConversionStart>(*this, Config());
    FConversion->OpenFolder = OpenFolderOrHome;
    CreateActions();
    CreatePages();
    CreateToolBar();
    CreateMenus();
    CreatePopupMenu();
    CreateStatusBar();
    LoadConfig();
    RestoreLayout();
}

void TMainForm::RestoreLayout() {
    // Where the user left the window; the centre of the screen the first time.
    TWindowLayout::Restore(this, QStringLiteral("MainForm"));
    for (TFileListView *List : {lvWaveFiles, lvMP3Files}) {
        const QString Key = LayoutKey(List);
        TWindowLayout::RestoreHeader(List->header(), Key);
        if (const auto Sort = TWindowLayout::StoredSort(Key, List->columnCount()))
            List->SortBy(Sort->first, Sort->second);
    }
}

void TMainForm::SaveLayout() const {
    TWindowLayout::Save(this, QStringLiteral("MainForm"));
    for (const TFileListView *List : {lvWaveFiles, lvMP3Files})
        TWindowLayout::SaveHeader(List->header(), LayoutKey(List));
}

QString TMainForm::LayoutKey(const TFileListView *List) const {
    return List == lvWaveFiles ? QStringLiteral("WaveList") : QStringLiteral("MP3List");
}

void TMainForm::LoadConfig() {
    TConfig &Settings = ResetConfig();
    try {
        Settings.Load();
    } catch (const ERegistryError &Error) {
        // Only the values named take their defaults; the program goes on.
        UserDialogs().MessageBox(this, Error.message(), QStringLiteral("Error"), TMsgIcon::Error,
                                 mbOK);
    }
}

QAction *TMainForm::MakeAction(const char *Name, const QString &Caption, const QString &Hint,
                               const QKeySequence &Shortcut, void (TMainForm::*Handler)()) {
    auto *Action = new QAction(Caption, this);
    Action->setObjectName(QString::fromLatin1(Name));
    if (!Hint.isEmpty()) {
        Action->setToolTip(Hint);
        Action->setStatusTip(Hint);
    }
    if (!Shortcut.isEmpty())
        Action->setShortcut(Shortcut);
    connect(Action, &QAction::triggered, this, Handler);
    addAction(Action); // shortcuts work wherever the focus is in the window
    return Action;
}

QAction *TMainForm::MakeEntry(QMenu *Menu, const char *Name, const QString &Caption,
                              QAction *Target) {
    auto *Entry = Menu->addAction(Caption);
    Entry->setObjectName(QString::fromLatin1(Name));
    Entry->setStatusTip(Target->statusTip());
    // Shown beside the entry; the action itself owns the window-wide shortcut.
    Entry->setShortcut(Target->shortcut());
    Entry->setShortcutContext(Qt::WidgetShortcut);
    connect(Entry, &QAction::triggered, Target, &QAction::trigger);
    return Entry;
}

void TMainForm::CreateActions() {
    AddAction = MakeAction("AddAction", QStringLiteral("&Add audio file(s)"),
                           QStringLiteral("Add audio file(s) to audio file list"),
                           QKeySequence(Qt::Key_Insert), &TMainForm::AddActionExecute);
    AddFolderAction =
        MakeAction("AddFolderAction", QStringLiteral("Add &Folder..."),
                   QStringLiteral("Add the audio files of a folder and its sub-folders"),
                   QKeySequence(Qt::SHIFT | Qt::Key_Insert), &TMainForm::AddFolderActionExecute);
    CancelAddAction = MakeAction("CancelAddAction", QStringLiteral("Cancel adding"),
                                 QStringLiteral("Stop adding files; the files listed stay"),
                                 QKeySequence(Qt::Key_Escape), &TMainForm::CancelAddActionExecute);
    CancelAddAction->setEnabled(false); // Esc means nothing else while no add runs
    DeleteAction = MakeAction("DeleteAction", QStringLiteral("&Delete selected audio file(s)"),
                              QStringLiteral("Delete the selected file(s) from audio file list"),
                              QKeySequence(Qt::Key_Delete), &TMainForm::DeleteActionExecute);
    ClearAction = MakeAction(
        "ClearAction", QStringLiteral("&Clear all files"), QStringLiteral("Clear all audio files"),
        QKeySequence(Qt::CTRL | Qt::Key_Delete), &TMainForm::ClearActionExecute);
    ExitAction =
        MakeAction("ExitAction", QStringLiteral("E&xit"), QStringLiteral("Exit this program."), {},
                   &TMainForm::ExitActionExecute);
    SelectAllAction = MakeAction(
        "SelectAllAction", QStringLiteral("Select all"), QStringLiteral("Selected all audio files"),
        QKeySequence(Qt::CTRL | Qt::Key_A), &TMainForm::SelectAllActionExecute);
    InvertSelectAction =
        MakeAction("InvertSelectAction", QStringLiteral("Invert selection"),
                   QStringLiteral("Invert selection"), QKeySequence(Qt::CTRL | Qt::Key_I),
                   &TMainForm::InvertSelectActionExecute);
    ConvMP3Action = MakeAction("ConvMP3Action", QStringLiteral("&Convert"),
                               QStringLiteral("Convert selected audio file(s)"),
                               QKeySequence(Qt::Key_F9), &TMainForm::ConvMP3ActionExecute);
    LaunchAction = MakeAction("LaunchAction", QStringLiteral("&Launch File Manager"),
                              QStringLiteral("Launch file manager for browse for drag/drop audio "
                                             "files"),
                              {}, &TMainForm::LaunchActionExecute);
    PlayAction = MakeAction("PlayAction", QStringLiteral("&Play"),
                            QStringLiteral("Playback selected audio file"), {},
                            &TMainForm::PlayActionExecute);
    ViewFileInfoAction = MakeAction(
        "ViewFileInfoAction", QStringLiteral("&View audio file information"),
        QStringLiteral("View audio file information"), {}, &TMainForm::ViewFileInfoActionExecute);
    ID3TagEditAction = MakeAction("ID3TagEditAction", QStringLiteral("ID3 Tag Editor"), {}, {},
                                  &TMainForm::ID3TagEditActionExecute);
    ConfigAction = MakeAction("ConfigAction", QStringLiteral("&Configure..               "),
                              QStringLiteral("Configure..."), QKeySequence(Qt::Key_F4),
                              &TMainForm::ConfigActionExecute);
    HelpAction = MakeAction("HelpAction", QStringLiteral("Online &Help"), {},
                            QKeySequence(Qt::Key_F1), &TMainForm::HelpActionExecute);
    VisiteAction = MakeAction("VisiteAction", QStringLiteral("&Corvane Home Page"), {}, {},
                              &TMainForm::VisiteActionExecute);
    CheckNewVersionAction = MakeAction(
        "CheckNewVersionAction", QStringLiteral("&Check New Version"),
        QStringLiteral("Check New Version"), {}, &TMainForm::CheckNewVersionActionExecute);
    AboutAction = MakeAction("AboutAction", QStringLiteral("&About..."), {}, {},
                             &TMainForm::AboutActionExecute);
}

void TMainForm::CreatePages() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setDocumentMode(false);
    PageControl1->setAccessibleName(QStringLiteral("Conversion direction"));

    TabSheetWave = new QWidget(PageControl1);
    TabSheetWave->setObjectName(QStringLiteral("TabSheetWave"));
    lvWaveFiles = new TFileListView(lkWave, TabSheetWave);
    auto *WaveLayout = new QVBoxLayout(TabSheetWave);
    WaveLayout->setContentsMargins(2, 2, 2, 2);
    WaveLayout->addWidget(lvWaveFiles);

    TabSheetMP3 = new QWidget(PageControl1);
    TabSheetMP3->setObjectName(QStringLiteral("TabSheetMP3"));
    lvMP3Files = new TFileListView(lkMpeg, TabSheetMP3);
    auto *MP3Layout = new QVBoxLayout(TabSheetMP3);
    MP3Layout->setContentsMargins(2, 2, 2, 2);
    MP3Layout->addWidget(lvMP3Files);

    PageControl1->addTab(TabSheetWave, WaveTabCaption);
    PageControl1->addTab(TabSheetMP3, MP3TabCaption);
    setCentralWidget(PageControl1);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TMainForm::PageControl1Change);

    FLists = new TFileLists(
        lvWaveFiles, lvMP3Files, [] { return Config().ConvertType; }, this);

    for (TFileListView *List : {lvWaveFiles, lvMP3Files}) {
        List->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(List, &QWidget::customContextMenuRequested, this, &TMainForm::ShowFilePopupMenu);
    }
    connect(lvWaveFiles, &QTreeWidget::itemDoubleClicked, this, &TMainForm::lvWaveFilesDblClick);
    connect(lvMP3Files, &QTreeWidget::itemDoubleClicked, this, &TMainForm::lvMP3FilesDblClick);
}

void TMainForm::CreateToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("Toolbar"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->toggleViewAction()->setVisible(false);

    QFont Bold = ToolBar1->font();
    Bold.setBold(true);
    auto Button = [&](const char *Name, const QString &Caption, TToolIcon Icon, QAction *Target) {
        auto *ToolButton = new QToolButton(ToolBar1);
        ToolButton->setObjectName(QString::fromLatin1(Name));
        ToolButton->setText(Caption);
        ToolButton->setIcon(ToolIcon(Icon));
        ToolButton->setToolTip(Target->toolTip());
        ToolButton->setStatusTip(Target->statusTip());
        ToolButton->setFont(Bold);
        ToolButton->setAutoRaise(true);
        ToolButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        ToolButton->setMinimumSize(52, 52);
        connect(ToolButton, &QToolButton::clicked, Target, &QAction::trigger);
        ToolBar1->addWidget(ToolButton);
    };
    Button("tbtnAdd", QStringLiteral("Add"), TToolIcon::Add, AddAction);
    Button("tbtnAddFolder", QStringLiteral("Folder"), TToolIcon::AddFolder, AddFolderAction);
    Button("tbtnDelete", QStringLiteral("Delete"), TToolIcon::Delete, DeleteAction);
    ToolBar1->addSeparator();
    Button("tbtnBrowse", QStringLiteral("Browse"), TToolIcon::Browse, LaunchAction);
    ToolBar1->addSeparator();
    Button("tbtnConvert", QStringLiteral("Convert"), TToolIcon::Convert, ConvMP3Action);
    Button("tbtnPlay", QStringLiteral("Play"), TToolIcon::Play, PlayAction);
    Button("tbtnInfo", QStringLiteral("Info"), TToolIcon::Info, ViewFileInfoAction);
    ToolBar1->addSeparator();
    Button("tbtnOptions", QStringLiteral("Options"), TToolIcon::Options, ConfigAction);
    ToolBar1->addSeparator();
}

void TMainForm::CreateMenus() {
    QMenu *File = menuBar()->addMenu(QStringLiteral("&File"));
    File->setObjectName(QStringLiteral("mnuFile"));
    File->addAction(AddAction);
    File->addAction(AddFolderAction);
    File->addAction(DeleteAction);
    File->addAction(ClearAction);
    File->addSeparator();
    File->addAction(ExitAction);

    QMenu *Action = menuBar()->addMenu(QStringLiteral("&Action"));
    Action->setObjectName(QStringLiteral("mnuAction"));
    Action->addAction(ConvMP3Action);
    Action->addAction(PlayAction);
    Action->addSeparator();
    Action->addAction(ViewFileInfoAction);
    mnuID3TagEdit = MakeEntry(Action, "mnuID3TagEdit", ID3TagEditAction->text(), ID3TagEditAction);
    Action->addSeparator();
    Action->addAction(SelectAllAction);
    Action->addAction(InvertSelectAction);
    Action->addSeparator();
    Action->addAction(LaunchAction);

    QMenu *Options = menuBar()->addMenu(QStringLiteral("&Options"));
    Options->setObjectName(QStringLiteral("mnuOptions"));
    Options->addAction(ConfigAction);

    QMenu *Help = menuBar()->addMenu(QStringLiteral("&Help"));
    Help->setObjectName(QStringLiteral("mnuHelp"));
    Help->addAction(HelpAction);
    Help->addSeparator();
    MakeEntry(Help, "mnuHomePage", QStringLiteral("&Home Page"), VisiteAction);
    Help->addAction(CheckNewVersionAction);
    Help->addSeparator();
    QMenu *Others = Help->addMenu(QStringLiteral("&Other Products"));
    Others->setObjectName(QStringLiteral("mnuOtherProducts"));
    for (const TOtherProduct &Product : OtherProducts) {
        QAction *Entry = Others->addAction(Product.Caption);
        const QUrl Url(Product.Url);
        connect(Entry, &QAction::triggered, this, [Url] { QDesktopServices::openUrl(Url); });
    }
    Help->addSeparator();
    Help->addAction(AboutAction);
}

void TMainForm::CreatePopupMenu() {
    FilePopupMenu = new QMenu(this);
    FilePopupMenu->setObjectName(QStringLiteral("FilePopupMenu"));
    pmConvert = MakeEntry(FilePopupMenu, "pmConvert", ConvMP3Action->text(), ConvMP3Action);
    pmPlay = MakeEntry(FilePopupMenu, "pmPlay", PlayAction->text(), PlayAction);
    FilePopupMenu->addSeparator();
    pmSelectAll = MakeEntry(FilePopupMenu, "pmSelectAll", SelectAllAction->text(), SelectAllAction);
    pmInvertSelect =
        MakeEntry(FilePopupMenu, "pmInvertSelect", InvertSelectAction->text(), InvertSelectAction);
    FilePopupMenu->addSeparator();
    pmAdd = MakeEntry(FilePopupMenu, "pmAdd", AddAction->text(), AddAction);
    pmAddFolder = MakeEntry(FilePopupMenu, "pmAddFolder", AddFolderAction->text(), AddFolderAction);
    pmDelete = MakeEntry(FilePopupMenu, "pmDelete", QStringLiteral("&Delete selected MP3 file(s)"),
                         DeleteAction);
    pmClear = MakeEntry(FilePopupMenu, "pmClear", ClearAction->text(), ClearAction);
    FilePopupMenu->addSeparator();
    pmLaunch = MakeEntry(FilePopupMenu, "pmLaunch", LaunchAction->text(), LaunchAction);
    FilePopupMenu->addSeparator();
    pmViewFileInfo =
        MakeEntry(FilePopupMenu, "pmViewFileInfo", ViewFileInfoAction->text(), ViewFileInfoAction);
    connect(FilePopupMenu, &QMenu::aboutToShow, this, &TMainForm::FilePopupMenuPopup);
}

void TMainForm::CreateStatusBar() {
    QStatusBar *Bar = statusBar();
    Bar->setObjectName(QStringLiteral("StatusBar1"));
    Bar->setSizeGripEnabled(true);

    prgsbarAddFile = new QProgressBar(Bar);
    prgsbarAddFile->setObjectName(QStringLiteral("prgsbarAddFile"));
    prgsbarAddFile->setMaximumWidth(160);
    prgsbarAddFile->setVisible(false);
    btnCancelAdd = new QPushButton(QStringLiteral("Cancel"), Bar);
    btnCancelAdd->setObjectName(QStringLiteral("btnCancelAdd"));
    btnCancelAdd->setToolTip(CancelAddAction->toolTip());
    btnCancelAdd->setVisible(false);
    connect(btnCancelAdd, &QPushButton::clicked, CancelAddAction, &QAction::trigger);

    stspanelSelect = new QLabel(InitialSelectedText, Bar);
    stspanelSelect->setObjectName(QStringLiteral("stspanelSelect"));
    stspanelTotal = new QLabel(InitialTotalText, Bar);
    stspanelTotal->setObjectName(QStringLiteral("stspanelTotal"));
    stCorpPanel = new QLabel(CompanyText, Bar);
    stCorpPanel->setObjectName(QStringLiteral("stCorpPanel"));
    stCorpPanel->setToolTip(HomePageUrl);
    stCorpPanel->installEventFilter(this);

    // The summaries are long for a window of 570 pixels; a smaller type keeps them whole,
    // and a pane that still has too little room shows its full text as a tooltip.
    QFont PaneFont = Bar->font();
    PaneFont.setPointSizeF(PaneFont.pointSizeF() * 0.85);
    for (QLabel *Pane : {stspanelSelect, stspanelTotal, stCorpPanel}) {
        Pane->setFont(PaneFont);
        Pane->setFrameShape(QFrame::StyledPanel);
        Pane->setFrameShadow(QFrame::Sunken);
        Pane->setContentsMargins(2, 0, 2, 0);
        Pane->setMinimumWidth(1);
    }
    stspanelSelect->setToolTip(stspanelSelect->text());
    stspanelTotal->setToolTip(stspanelTotal->text());
    Bar->addWidget(prgsbarAddFile);
    Bar->addWidget(btnCancelAdd);
    Bar->addWidget(stspanelSelect, 1);
    Bar->addWidget(stspanelTotal, 1);
    Bar->addPermanentWidget(stCorpPanel);

    connect(FLists, &TFileLists::SummaryChanged, this,
            [this](const QString &Selected, const QString &Total) {
                stspanelSelect->setText(Selected);
                stspanelSelect->setToolTip(Selected);
                stspanelTotal->setText(Total);
                stspanelTotal->setToolTip(Total);
            });
    connect(FLists, &TFileLists::AddStarted, this, [this](int Total) {
        stCorpPanel->setVisible(false);
        prgsbarAddFile->setRange(0, Total);
        prgsbarAddFile->setValue(1);
        prgsbarAddFile->setVisible(true);
        // Only an add that reads on a worker ever returns to the event loop, where the
        // button can be pressed.
        CancelAddAction->setEnabled(true);
    });
    connect(FLists, &TFileLists::AddProgress, this, [this](int Position, int Total) {
        // An add in steps changes its total, and shows a busy bar (0) while a folder is walked.
        if (prgsbarAddFile->maximum() != Total)
            prgsbarAddFile->setRange(0, Total);
        if (FLists->Adding() && !btnCancelAdd->isVisible())
            btnCancelAdd->setVisible(true);
        prgsbarAddFile->setValue(Position);
        // A short add reads its files before returning to the event loop; the bar alone is
        // painted now and then so that it still moves. A background add needs none of this.
        if (!FAddPainted.isValid() || FAddPainted.elapsed() >= 50) {
            prgsbarAddFile->repaint();
            FAddPainted.start();
        }
    });
    connect(FLists, &TFileLists::FileReadError, this,
            [this](const QString &Line) { FUnreadFiles << Line; });
    connect(FLists, &TFileLists::FirstRowsAdded, this, [this](TFileListView *List) {
        PageControl1->setCurrentWidget(List == lvWaveFiles ? TabSheetWave : TabSheetMP3);
    });
    connect(FLists, &TFileLists::AddFinished, this, [this] {
        CancelAddAction->setEnabled(false);
        btnCancelAdd->setVisible(false);
        prgsbarAddFile->setVisible(false);
        stCorpPanel->setVisible(true);
        FAddPainted.invalidate();
        ReportUnreadFiles(std::exchange(FUnreadFiles, {}));
    });
}

// --- Window events ---------------------------------------------------------------------

void TMainForm::showEvent(QShowEvent *Event) {
    QMainWindow::showEvent(Event);
    FormShow();
}

void TMainForm::FormShow() {
    if (FFirstShown)
        return;
    FFirstShown = true;
    setWindowTitle(QStringLiteral("Brindle"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Brindle"));

    {
        // Setting up the tabs is not a user's switch: ConvertType must keep its saved value.
        const QSignalBlocker Blocker(PageControl1);
        // Emptying lists that are empty would replace the panes' first captions.
        PageControl1->setCurrentIndex(0);
        if (lvWaveFiles->RowCount() > 0)
            lvWaveFiles->ClearAll();
        PageControl1->setCurrentIndex(1);
        if (lvMP3Files->RowCount() > 0)
            lvMP3Files->ClearAll();
        mnuID3TagEdit->setVisible(false);
        // Any other value selects no tab while the MP3 list is the current one; the second
        // tab, still active, is the closest a tab control can come to that.
        if (Config().ConvertType == 0 || Config().ConvertType == 1)
            PageControl1->setCurrentIndex(Config().ConvertType);
    }
    CenterDragHint();
}

void TMainForm::closeEvent(QCloseEvent *Event) {
    FormClose();
    QMainWindow::closeEvent(Event);
}

void TMainForm::FormClose() {
    if (FClosed)
        return;
    FClosed = true;
    SaveLayout();
    try {
        Config().Save();
    } catch (const ERegistryError &Error) {
        UserDialogs().MessageBox(this, Error.message(), QStringLiteral("Error"), TMsgIcon::Error,
                                 mbOK);
    }
    // An add still reading stops here; its rows go with the others, its report unshown.
    FUnreadFiles.clear();
    FLists->AbortAdd();
    lvWaveFiles->ClearAll();
    lvMP3Files->ClearAll();
}

void TMainForm::resizeEvent(QResizeEvent *Event) {
    QMainWindow::resizeEvent(Event);
    FormResize();
}

void TMainForm::FormResize() {
    CenterDragHint();
}

void TMainForm::CenterDragHint() {
    CurrentList()->CenterDragHint();
}

void TMainForm::PageControl1Change() {
    Config().ConvertType = PageControl1->currentWidget() == TabSheetWave ? 0 : 1;
    FLists->CurrentListChanged();
    CenterDragHint();
}

void TMainForm::dragEnterEvent(QDragEnterEvent *Event) {
    if (Event->mimeData()->hasUrls())
        Event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *Event) {
    const QList<QUrl> Urls = Event->mimeData()->urls();
    Event->acceptProposedAction();
    AddWithReport([&] { return FLists->DropFiles(Urls); });
}

bool TMainForm::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == stCorpPanel && Event->type() == QEvent::MouseButtonDblClick) {
        stCorpPanelDblClick();
        return true;
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TMainForm::stCorpPanelDblClick() {
    QDesktopServices::openUrl(QUrl(HomePageUrl));
}

void TMainForm::lvWaveFilesDblClick() {
    PlayActionExecute();
}

void TMainForm::lvMP3FilesDblClick() {
    PlayActionExecute();
}

// --- Popup menu ------------------------------------------------------------------------

void TMainForm::ShowFilePopupMenu(const QPoint &Pos) {
    auto *List = qobject_cast<QWidget *>(sender());
    FilePopupMenu->popup(List ? List->mapToGlobal(Pos) : QCursor::pos());
}

void TMainForm::FilePopupMenuPopup() {
    const TFileListView *List = CurrentList();
    const bool AnySelected = !List->SelectedRows().isEmpty();
    const bool AnyRows = List->RowCount() > 0;
    pmConvert->setVisible(AnySelected);
    pmPlay->setVisible(AnySelected);
    pmViewFileInfo->setVisible(AnySelected);
    pmAdd->setVisible(true);
    pmAddFolder->setVisible(true);
    pmSelectAll->setVisible(AnySelected || AnyRows);
    pmInvertSelect->setVisible(AnySelected || AnyRows);
    pmClear->setVisible(AnySelected || AnyRows);
    pmDelete->setVisible(AnySelected);
    pmLaunch->setVisible(true);
}

// --- Commands --------------------------------------------------------------------------

QString TMainForm::AddDialogFilter(TListKind Kind) {
    // The description as the program has always shown it, then the patterns for the dialog.
    if (Kind == lkMpeg)
        return QStringLiteral("MP3 & PlayList Files(*.MP3;*.MP2;*.MP1;*.M3U;*.PLS) "
                              "(*.MP3 *.MP2 *.MP1 *.M3U *.PLS)");
    // Every PCM source first, so that FLAC and the others are shown without a choice; the
    // program's own WAV filter stays as the second entry.
    return QStringLiteral("Audio & PlayList Files (*.wav *.flac *.aif *.aiff *.aifc *.ogg *.oga "
                          "*.opus *.w64 *.caf *.rf64 *.m3u *.pls);;"
                          "Wave PCM& PlayList Files (*.Wav;*.M3U;*.PLS) (*.Wav *.M3U *.PLS)");
}

void TMainForm::AddActionExecute() {
    TConfig &Settings = Config();
    const QStringList Files =
        UserDialogs().OpenFiles(this, QStringLiteral("Open"), Settings.LastOpenFolder,
                                AddDialogFilter(FLists->CurrentKind()));
    if (Files.isEmpty())
        return;
    AddWithReport([&] { return FLists->AddChosenFiles(Files); });
    Settings.LastOpenFolder = ExtractFilePath(Files.first());
}

void TMainForm::AddFolderActionExecute() {
    TConfig &Settings = Config();
    const QString Folder =
        UserDialogs().ChooseFolder(this, QStringLiteral("Add Folder"), Settings.LastOpenFolder);
    if (Folder.isEmpty())
        return;
    AddWithReport([&] {
        FLists->AddFolders({Folder});
        return TAddFilesResult{};
    });
    // The next open dialog and folder chooser start where this one ended.
    Settings.LastOpenFolder = Folder.endsWith(u'/') ? Folder : Folder + u'/';
}

void TMainForm::CancelAddActionExecute() {
    FLists->AbortAdd();
}

void TMainForm::OpenPaths(const QStringList &Paths) {
    // Steps in the order given, so that each list gets its files in that order.
    std::vector<TAddStep> Steps;
    QStringList Problems;
    const auto Append = [&](TListKind Kind, const QStringList &Files) {
        if (Files.isEmpty())
            return;
        if (Steps.empty() || !Steps.back().Folder.isEmpty() || Steps.back().Kind != Kind)
            Steps.push_back(TAddStep::Files(Kind, {}));
        Steps.back().Paths << Files;
    };
    for (const QString &Path : Paths) {
        if (Path.isEmpty())
            continue;
        if (QFileInfo(Path).isDir()) {
            Steps.push_back(TAddStep::Walk(Path));
        } else if (IsPlaylistFile(Path)) {
            QStringList Entries;
            try {
                ExpandPlaylist(Path, Entries, FLists->CurrentKind());
            } catch (const EPlaylistError &Error) {
                Problems << Error.message();
                continue;
            }
            Append(FLists->CurrentKind(), Entries);
        } else {
            Append(ListKindOfFile(Path).value_or(FLists->CurrentKind()), {Path});
        }
    }
    AddWithReport([&] {
        FLists->QueueAdd(std::move(Steps));
        return TAddFilesResult{};
    });
    // Only playlists that could not be opened are told at once: the rest still adds.
    if (!Problems.isEmpty())
        UserDialogs().MessageBox(this, Problems.join(u'\n'), QStringLiteral("Error"),
                                 TMsgIcon::Error, mbOK);
}

void TMainForm::AddWithReport(const std::function<TAddFilesResult()> &Add) {
    try {
        Add();
    } catch (const Exception &Error) {
        UserDialogs().MessageBox(this, Error.message(), QStringLiteral("Error"), TMsgIcon::Error,
                                 mbOK);
    }
}

void TMainForm::ReportUnreadFiles(const QStringList &Lines) {
    // Files that could not be read at all would otherwise vanish without a word: the error
    // list shows them now and is emptied again for the next batch.
    if (Lines.isEmpty() || FWindows.DispForm == nullptr)
        return;
    for (const QString &Line : Lines)
        FWindows.DispForm->AddMessage(Line);
    ExecFrom(this, FWindows.DispForm);
    FWindows.DispForm->ClearMessages();
}

void TMainForm::DeleteActionExecute() {
    FLists->DeleteSelected();
}

void TMainForm::ClearActionExecute() {
    FLists->ClearAll();
}

void TMainForm::ExitActionExecute() {
    close();
}

void TMainForm::SelectAllActionExecute() {
    FLists->SelectAll();
}

void TMainForm::InvertSelectActionExecute() {
    FLists->InvertSelection();
}

void TMainForm::ConvMP3ActionExecute() {
    if (CurrentList()->RowCount() == 0) {
        UserDialogs().MessageBox(this, NoFilesSelected, QStringLiteral("Information"),
                                 TMsgIcon::Exclamation, mbOK);
        return;
    }
    // Cancel in the options shown first cancels the conversion too.
    if (Config().PromptCheckOption && FWindows.ConfigForm != nullptr &&
        !ShowOptions(*FWindows.ConfigForm))
        return;
    if (FWindows.ConvForm != nullptr)
        FConversion->StartConversion(*CurrentList(), *FWindows.ConvForm, FWindows.DispForm);
}

void TMainForm::LaunchActionExecute() {
    OpenFolderOrHome(Config().FavoriteBrowsFolder);
}

void TMainForm::PlayActionExecute() {
    if (CurrentList()->RowCount() == 0) {
        UserDialogs().MessageBox(this,
                                 QStringLiteral("No file(s) added, please add audio file first."),
                                 QStringLiteral("Information"), TMsgIcon::Exclamation, mbOK);
        return;
    }
    if (FWindows.PlayerForm != nullptr)
        ExecFrom(this, FWindows.PlayerForm);
}

void TMainForm::ViewFileInfoActionExecute() {
    TFileListView *List = CurrentList();
    const QList<int> Selected = List->SelectedRows();
    if (Selected.isEmpty()) {
        UserDialogs().MessageBox(this, NoFilesSelected, QStringLiteral("Information"),
                                 TMsgIcon::Exclamation, mbOK);
        return;
    }
    const int Row = Selected.first();
    const TFileParam *Record = List->Record(Row);
    if (Record == nullptr || Record->Kind == fkUnreadable)
        return;
    if (List->Kind() == lkWave) {
        if (FWindows.WaveInfoForm != nullptr) {
            FWindows.WaveInfoForm->ShowWaveInfo(*Record);
            ExecFrom(this, FWindows.WaveInfoForm);
        }
        return;
    }
    if (FWindows.ID3TagForm == nullptr)
        return;
    FWindows.ID3TagForm->ShowFile({Record->Kind == fkMpeg, Record->MpegData});
    if (ExecFrom(this, FWindows.ID3TagForm) == QDialog::Accepted)
        FLists->ReloadTag(Row);
}

void TMainForm::ID3TagEditActionExecute() {
    if (FWindows.ID3TagForm == nullptr)
        return;
    FWindows.ID3TagForm->ShowFile({});
    ExecFrom(this, FWindows.ID3TagForm);
}

void TMainForm::ConfigActionExecute() {
    if (FWindows.ConfigForm == nullptr)
        return;
    TConfig Copy;
    Copy.Assign(Config());
    if (ExecFrom(this, FWindows.ConfigForm) != QDialog::Accepted)
        Config().Assign(Copy);
}

void TMainForm::HelpActionExecute() {
    OpenHelp(this, 0);
}

void TMainForm::VisiteActionExecute() {
    QDesktopServices::openUrl(QUrl(HomePageUrl));
}

void TMainForm::CheckNewVersionActionExecute() {
    QDesktopServices::openUrl(QUrl(HomePageUrl));
}

void TMainForm::AboutActionExecute() {
    if (FWindows.AboutForm != nullptr)
        ExecFrom(this, FWindows.AboutForm);
}
