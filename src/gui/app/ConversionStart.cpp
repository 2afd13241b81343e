#include "app/ConversionStart.h"

#include "app/FileLists.h"
#include "conversion/ConvForm.h"
#include "conversion/DispForm.h"
#include "platform/SoundPlayer.h"
#include "platform/UserDialogs.h"
#include "settings/Config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool TConversionStart::PrepareOutputFolder() {
    const QString &folder = FConfig.OutputFolder;
    if (QFileInfo(folder).isDir())
        return true;
    if (UserDialogs().MessageBox(
            &FWindow,
            QStringLiteral("The output folder '%1' not existing, Do you want create it?")
                .arg(folder),
            QStringLiteral("Confirmation"), TMsgIcon::Question, mbOK | mbCancel) != mrOk)
        return false;
    // One level only: a missing parent means the setting is wrong, not that a tree is wanted.
    if (QDir().mkdir(folder))
        return true;
    UserDialogs().MessageBox(&FWindow,
                             QStringLiteral("The output folder '%1' can't be create, plase check "
                                            "Configuration - > General Options! ")
                                 .arg(folder),
                             QStringLiteral("Error"), TMsgIcon::Error, mbOK);
    return false;
}

void TConversionStart::StartConversion(TFileListView &List, TConvForm &ConvForm,
                                       TDispForm *ErrorList) {
    QList<int> rows = List.SelectedRows();
    if (rows.isEmpty()) {
        for (int row = 0; row < List.RowCount(); ++row)
            rows << row;
    }
    QList<TFileParam *> jobs;
    // Unreadable rows are not converted, but not left out without a word either.
    QStringList skipped;
    for (int row : rows) {
        TFileParam *record = List.Record(row);
        if (record == nullptr)
            continue;
        if (record->Kind == fkUnreadable) {
            skipped << QStringLiteral("Source file '%1' skipped. %2")
                           .arg(record->SourcePath, RowStateText(*record));
            continue;
        }
        record->State = stQueued;
        record->ListIndex = row;
        jobs.append(record);
    }
    if (jobs.isEmpty()) {
        ReportSkipped(skipped, ErrorList);
        return;
    }

    const QString ext = List.Kind() == lkWave ? QStringLiteral(".MP3") : QStringLiteral(".WAV");
    if (FConfig.SpecifyOutputFolder && !PrepareOutputFolder())
        return;
    // The output folder was asked about above; the sub-folders that mirror added folders are
    // made by each job as it starts, without a question each.
    const bool keep = FConfig.SpecifyOutputFolder && FConfig.KeepFolderStructure;
    for (TFileParam *job : jobs) {
        job->DestPath =
            ConversionDestPath(*job, FConfig.SpecifyOutputFolder, FConfig.OutputFolder, ext, keep);
        job->DestRoot = keep ? FConfig.OutputFolder : QString();
    }

    ConvForm.SetJobs(jobs);
    {
        const TFocusReturn Return(&FWindow);
        ConvForm.exec();
    }

    const TConvRunner &runner = ConvForm.Runner();
    if (runner.StartedCount() == 0) {
        ReportSkipped(skipped, ErrorList);
        return;
    }
    // The batch emptied the error list when it started: these lines follow its own.
    if (ErrorList != nullptr)
        for (const QString &line : skipped)
            ErrorList->AddMessage(line);
    const int jobCount = int(jobs.size());
    ConvForm.SetJobs({}); // the records of deleted rows go with them
    // An aborted batch deletes no source, whatever was converted before the abort.
    if (FConfig.DeleteOriginalFile && !runner.Aborted())
        DeleteConvertedSources(List, jobCount);
    List.RefreshStates();
    if (FConfig.PlaySound && runner.Finished() && !runner.Aborted() && runner.ConvertedCount() > 0)
        PlaySoundAsync(QStringLiteral("done.snd"));
    if (FConfig.ShowErrorMessage && ErrorList != nullptr && ErrorList->ErrorCount() > 0) {
        const TFocusReturn Return(&FWindow);
        ErrorList->exec();
        ErrorList->ClearMessages();
    }
    // Only a batch that was not aborted and converted something has a folder worth showing.
    if (FConfig.SpecifyOutputFolder && FConfig.OpenOutputFolder && !runner.Aborted() &&
        runner.ConvertedCount() > 0 && OpenFolder)
        OpenFolder(FConfig.OutputFolder);
}

void TConversionStart::ReportSkipped(const QStringList &Lines, TDispForm *ErrorList) {
    if (Lines.isEmpty() || ErrorList == nullptr)
        return;
    ErrorList->ClearMessages();
    for (const QString &line : Lines)
        ErrorList->AddMessage(line);
    if (FConfig.ShowErrorMessage) {
        const TFocusReturn Return(&FWindow);
        ErrorList->exec();
        ErrorList->ClearMessages();
    }
}

void TConversionStart::DeleteConvertedSources(TFileListView &List, int Count) {
    for (int i = 0; i < Count; ++i) {
        int row = 0;
        while (row < List.RowCount() &&
               (List.Record(row) == nullptr || List.Record(row)->State != stDoneRemoveSource))
            ++row;
        if (row == List.RowCount())
            break;
        // Only a source whose output is there: the output is the user's audio now.
        const TFileParam &record = *List.Record(row);
        if (QFileInfo(record.DestPath).isFile() && QFile::remove(record.SourcePath))
            List.DeleteRow(row);
        else
            List.Record(row)->State = stRemoveFailed;
    }
}
