#pragma once

#include "conversion/BatchTimes.h"
#include "conversion/ConvRunner.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QMap>

#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TConfig;
class TDirLabel;
class TDesktopProgress;
class TDispForm;

// The modal progress window of one conversion batch: shows the runner's job, phase and
// progress, asks the runner's questions (overwrite, refusal, abort) and closes itself after
// a normal end. Created once at program start; each modal showing is one batch of Jobs.
class TConvForm : public QDialog, private IConvQuestions {
    Q_OBJECT
public:
    explicit TConvForm(TConfig &Config, QWidget *Parent = nullptr);
    ~TConvForm() override;

    // The batch of the next showing; the records belong to the caller.
    void SetJobs(const QList<TFileParam *> &Jobs) { FRunner->SetJobs(Jobs); }
    TConvRunner &Runner() { return *FRunner; }
    // The error list the runner's failures go to (created after this window).
    void SetErrorList(TDispForm *ErrorList) { FErrorList = ErrorList; }

    // Handlers, named after their control and event.
    void FormShow();
    void StartTimerTimer();
    void CloseTimerTimer();
    void btnAbortClick();
    // Always lets the window close; before the end of a batch it stops the work and asks
    // whether converted outputs are deleted.
    void FormCloseQuery();
    void FormClose();

    // Escape and the close box act like the Abort button.
    void reject() override;

    // Where the batch's progress and its end are shown outside the window (the session
    // bus unless replaced).
    void SetDesktop(std::unique_ptr<TDesktopProgress> Desktop);
    // The time line's clock: seconds since the batch began (a test's own clock).
    void SetClock(std::function<double()> Clock) { FClock = std::move(Clock); }
    // The batch's times as the window counts them.
    const TBatchTimes &Times() const { return FTimes; }

protected:
    void showEvent(QShowEvent *Event) override;
    void closeEvent(QCloseEvent *Event) override;

private:
    // IConvQuestions
    int ConfirmOverwrite(const QString &Dest) override;
    bool ConfirmRefusal(const QString &Source) override;
    void ShowError(const QString &Text) override;
    void AddMessage(const QString &Text) override;
    void AddNote(const QString &Text) override;
    void ClearMessages() override;
    void Warn(const QString &Source, const QString &Why) override;

    void SetPhase(int Phase);
    void SetProgress(int Percent);
    void JobStarted(int Index);
    // The per-job rows, shown while several jobs run at once.
    void JobProgress(int Index, int Phase, int Percent);
    void JobEnded(int Index, int State);
    void RemoveRows();
    void ShowSeveral(bool Several);
    // The time line and the desktop's bar.
    void UpdateTimes();
    double Elapsed() const;
    // A close asked for once: question and stop, then the window closes when no work is
    // left running.
    void RequestClose();
    void CloseWhenIdle();

    TConfig &FConfig;
    TDispForm *FErrorList = nullptr;
    TConvRunner *FRunner;
    bool FCloseQueried = false;
    bool FCloseWaiting = false;
    TBatchTimes FTimes;
    QElapsedTimer FBatchClock;
    std::function<double()> FClock;
    std::unique_ptr<TDesktopProgress> FDesktop;

    // One row for each running job: its name, phase and bar.
    struct TJobRow {
        QWidget *Box;
        QLabel *Name;
        QLabel *Phase;
        QProgressBar *Bar;
    };
    QMap<int, TJobRow> FRows;

    QGroupBox *StateLabel;
    QProgressBar *ProgressBar;
    QLabel *lblSource;
    QLabel *lblDest;
    TDirLabel *dirlabelSource;
    TDirLabel *dirlabelDest;
    QLabel *lblTimes;
    QWidget *JobList; // the rows, under the batch's bar
    QPushButton *btnAbort;
    QTimer *TimesTimer;
    QTimer *StartTimer;
    QTimer *CloseTimer;
};
