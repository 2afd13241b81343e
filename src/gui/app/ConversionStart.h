#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;
class TConfig;
class TConvForm;
class TDispForm;
class TFileListView;

// The start and finish of a conversion from the main window: queues the rows of the active
// list, builds their output paths, runs the conversion window modally, then deletes
// converted sources, writes the State column, plays the completion sound, shows the error
// list and opens the output folder, each under its own settings.
class TConversionStart {
public:
    TConversionStart(QWidget &Window, TConfig &Config) : FWindow(Window), FConfig(Config) {}

    // Runs one batch of List's selected rows (all rows when none is selected).
    void StartConversion(TFileListView &List, TConvForm &ConvForm, TDispForm *ErrorList);
    // Deletes the sources of rows in stDoneRemoveSource: a deleted file's row goes, a file
    // that cannot be deleted keeps its row as stRemoveFailed. Tries at most Count rows.
    void DeleteConvertedSources(TFileListView &List, int Count);

    // How the finish opens the output folder (the main window's file-manager call).
    std::function<void(const QString &Folder)> OpenFolder;

private:
    // The destination folder exists, or was created after asking; false stops the batch.
    bool PrepareOutputFolder();
    // The lines of rows that were not converted because their files are unreadable, when no
    // batch ran to carry them: into the error list, shown as after a batch.
    void ReportSkipped(const QStringList &Lines, TDispForm *ErrorList);

    QWidget &FWindow;
    TConfig &FConfig;
};
