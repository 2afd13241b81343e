#pragma once

#include "app/FileLists.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolBar;
class TAboutForm;
class TConfigForm;
class TConversionStart;
class TConvForm;
class TConfirmOvwrtForm;
class TDispForm;
class TID3TagForm;
class TPlayerForm;
class TWaveInfoForm;

// The windows created at start after the main window, in their order; the main window
// shows them from its commands.
struct TProgramWindows {
    TConvForm *ConvForm = nullptr;
    TDispForm *DispForm = nullptr;
    TConfirmOvwrtForm *ConfirmOvwrtForm = nullptr;
    TPlayerForm *PlayerForm = nullptr;
    TID3TagForm *ID3TagForm = nullptr;
    TWaveInfoForm *WaveInfoForm = nullptr;
    TConfigForm *ConfigForm = nullptr;
    TAboutForm *AboutForm = nullptr;
};

// The program's main window: creates and loads the settings, owns the two file lists and
// offers every command through its toolbar, main menu and the lists' popup menu. Closing
// it saves the settings and ends the program.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *Parent = nullptr);
    ~TMainForm() override;

    void SetWindows(const TProgramWindows &Windows) { FWindows = Windows; }
    const TProgramWindows &Windows() const { return FWindows; }
    TFileLists &Lists() { return *FLists; }
    TFileListView *CurrentList() const { return FLists->CurrentList(); }
    // The start and finish of conversions (tests replace its sound and folder opening).
    TConversionStart &Conversion() { return *FConversion; }

    // Handlers, named after their control and event.
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormResize();
    void PageControl1Change();
    // Sets which entries of the popup menu are visible for CurrentList.
    void FilePopupMenuPopup();
    void stCorpPanelDblClick();
    void lvWaveFilesDblClick();
    void lvMP3FilesDblClick();
    void CenterDragHint();

    void AddActionExecute();
    // Asks for a folder and adds the audio files below it to the lists of their kinds.
    void AddFolderActionExecute();
    // Stops a running add; what was listed stays.
    void CancelAddActionExecute();
    void DeleteActionExecute();
    void ClearActionExecute();
    void ExitActionExecute();
    void SelectAllActionExecute();
    void InvertSelectActionExecute();
    void ConvMP3ActionExecute();
    void LaunchActionExecute();
    void PlayActionExecute();
    void ViewFileInfoActionExecute();
    void ID3TagEditActionExecute();
    void ConfigActionExecute();
    void HelpActionExecute();
    void VisiteActionExecute();
    void CheckNewVersionActionExecute();
    void AboutActionExecute();

    // Adds the program's arguments or those a later start handed over: folders are walked,
    // playlists go to CurrentList as the open dialog takes them, other files to the list of
    // their kind (CurrentList when they have none, so that the add reports them).
    void OpenPaths(const QStringList &Paths);

    // The open dialog's filter for a list.
    static QString AddDialogFilter(TListKind Kind);

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;
    void dragEnterEvent(QDragEnterEvent *Event) override;
    void dropEvent(QDropEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    QAction *MakeAction(const char *Name, const QString &Caption, const QString &Hint,
                        const QKeySequence &Shortcut, void (TMainForm::*Handler)());
    // A menu entry of its own that runs Target, for entries whose caption or visibility
    // differs from the action's.
    QAction *MakeEntry(QMenu *Menu, const char *Name, const QString &Caption, QAction *Target);
    void CreateActions();
    void CreateToolBar();
    void CreateMenus();
    void CreatePopupMenu();
    void CreateStatusBar();
    void CreatePages();
    void LoadConfig();
    // The window's place and size, and the lists' column widths and sort orders, as the
    // user left them (the layout group of the settings).
    void RestoreLayout();
    void SaveLayout() const;
    QString LayoutKey(const TFileListView *List) const;
    // Adds or drops files through Add, reporting playlist errors; unread files are reported
    // when the add finishes.
    void AddWithReport(const std::function<TAddFilesResult()> &Add);
    void ReportUnreadFiles(const QStringList &Lines);
    void ShowFilePopupMenu(const QPoint &Pos);

    TProgramWindows FWindows;
    bool FFirstShown = false;
    bool FClosed = false;
    TFileLists *FLists = nullptr;
    QStringList FUnreadFiles;  // lines of the running add, shown when it finishes
    QElapsedTimer FAddPainted; // when the add progress bar was last painted
    std::unique_ptr<TConversionStart> FConversion;

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheetWave = nullptr;
    QWidget *TabSheetMP3 = nullptr;
    TFileListView *lvWaveFiles = nullptr;
    TFileListView *lvMP3Files = nullptr;
    QToolBar *ToolBar1 = nullptr;
    QProgressBar *prgsbarAddFile = nullptr;
    QPushButton *btnCancelAdd = nullptr;
    QLabel *stspanelSelect = nullptr;
    QLabel *stspanelTotal = nullptr;
    QLabel *stCorpPanel = nullptr;
    QMenu *FilePopupMenu = nullptr;
    QAction *mnuID3TagEdit = nullptr;

    QAction *AddAction = nullptr;
    QAction *AddFolderAction = nullptr;
    QAction *CancelAddAction = nullptr;
    QAction *DeleteAction = nullptr;
    QAction *ClearAction = nullptr;
    QAction *ExitAction = nullptr;
    QAction *SelectAllAction = nullptr;
    QAction *InvertSelectAction = nullptr;
    QAction *ConvMP3Action = nullptr;
    QAction *LaunchAction = nullptr;
    QAction *PlayAction = nullptr;
    QAction *ViewFileInfoAction = nullptr;
    QAction *ID3TagEditAction = nullptr;
    QAction *ConfigAction = nullptr;
    QAction *HelpAction = nullptr;
    QAction *VisiteAction = nullptr;
    QAction *CheckNewVersionAction = nullptr;
    QAction *AboutAction = nullptr;

    // Popup menu entries, in menu order.
    QAction *pmConvert = nullptr;
    QAction *pmPlay = nullptr;
    QAction *pmSelectAll = nullptr;
    QAction *pmInvertSelect = nullptr;
    QAction *pmAdd = nullptr;
    QAction *pmAddFolder = nullptr;
    QAction *pmDelete = nullptr;
    QAction *pmClear = nullptr;
    QAction *pmLaunch = nullptr;
    QAction *pmViewFileInfo = nullptr;
};
