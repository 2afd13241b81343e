#include "conversion/ConvForm.h"

#include "conversion/DesktopProgress.h"
#include "conversion/DirLabel.h"
#include "conversion/DispForm.h"
#include "platform/UserDialogs.h"
#include "settings/Config.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString ProductName = QStringLiteral("Brindle");

QTimer *OneShot(QObject *Parent, const char *Name) {
    auto *timer = new QTimer(Parent);
    timer->setObjectName(QLatin1String(Name));
    timer->setSingleShot(true);
    timer->setInterval(200);
    return timer;
}

// A name longer than its row ends in an ellipsis rather than being cut mid-letter, which
// would pass for a shorter name. The text, which a screen reader reads, stays whole.
class TElidedLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const QRect room = contentsRect();
        style()->drawItemText(&painter, room, int(alignment()), palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideRight, room.width()),
                              foregroundRole());
    }
};

} // namespace

TConvForm::TConvForm(TConfig &Config, QWidget *Parent)
    : QDialog(Parent), FConfig(Config), FRunner(new TConvRunner(Config, *this, this)) {
    setObjectName(QStringLiteral("ConvForm"));
    setWindowTitle(ProductName);
    setModal(true);
    setMinimumWidth(460);

    StateLabel = new QGroupBox(QStringLiteral("Converting"), this);
    StateLabel->setObjectName(QStringLiteral("StateLabel"));
    ProgressBar = new QProgressBar(StateLabel);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setAccessibleName(QStringLiteral("Conversion progress"));

    lblTimes = new QLabel(StateLabel);
    lblTimes->setObjectName(QStringLiteral("lblTimes"));
    JobList = new QWidget(StateLabel);
    JobList->setObjectName(QStringLiteral("JobList"));
    auto *rows = new QVBoxLayout(JobList);
    rows->setContentsMargins(0, 0, 0, 0);
    JobList->hide();

    lblSource = new QLabel(QStringLiteral("Source:"), StateLabel);
    lblDest = new QLabel(QStringLiteral("Dest:"), StateLabel);
    dirlabelSource = new TDirLabel(StateLabel);
    dirlabelSource->setObjectName(QStringLiteral("dirlabelSource"));
    dirlabelDest = new TDirLabel(StateLabel);
    dirlabelDest->setObjectName(QStringLiteral("dirlabelDest"));
    for (TDirLabel *label : {dirlabelSource, dirlabelDest})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *grid = new QGridLayout(StateLabel);
    grid->addWidget(lblSource, 0, 0);
    grid->addWidget(dirlabelSource, 0, 1);
    grid->addWidget(lblDest, 1, 0);
    grid->addWidget(dirlabelDest, 1, 1);
    grid->addWidget(ProgressBar, 2, 0, 1, 2);
    grid->addWidget(lblTimes, 3, 0, 1, 2);
    grid->addWidget(JobList, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    btnAbort = new QPushButton(QStringLiteral("&Abort"), this);
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnAbort->setAutoDefault(false);
    connect(btnAbort, &QPushButton::clicked, this, &TConvForm::btnAbortClick);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnAbort);
    auto *main = new QVBoxLayout(this);
    main->addWidget(StateLabel);
    main->addLayout(buttons);

    StartTimer = OneShot(this, "StartTimer");
    connect(StartTimer, &QTimer::timeout, this, &TConvForm::StartTimerTimer);
    CloseTimer = OneShot(this, "CloseTimer");
    connect(CloseTimer, &QTimer::timeout, this, &TConvForm::CloseTimerTimer);
    TimesTimer = new QTimer(this);
    TimesTimer->setObjectName(QStringLiteral("TimesTimer"));
    TimesTimer->setInterval(1000);
    connect(TimesTimer, &QTimer::timeout, this, &TConvForm::UpdateTimes);

    connect(FRunner, &TConvRunner::PhaseChanged, this, &TConvForm::SetPhase);
    connect(FRunner, &TConvRunner::ProgressChanged, this, &TConvForm::SetProgress);
    connect(FRunner, &TConvRunner::JobStarted, this, &TConvForm::JobStarted);
    connect(FRunner, &TConvRunner::JobProgress, this, &TConvForm::JobProgress);
    connect(FRunner, &TConvRunner::JobEnded, this, &TConvForm::JobEnded);
    connect(FRunner, &TConvRunner::StateCaption, StateLabel, &QGroupBox::setTitle);
    connect(FRunner, &TConvRunner::BatchEnded, CloseTimer, qOverload<>(&QTimer::start));
    // Queued: the refusal box that asks for it is still on the stack.
    connect(FRunner, &TConvRunner::CloseRequested, this, &TConvForm::RequestClose,
            Qt::QueuedConnection);
    connect(FRunner, &TConvRunner::Idle, this, &TConvForm::CloseWhenIdle);

    FDesktop = std::make_unique<TDesktopProgress>();

    // The program goes on without the decoding library; decode jobs then fail one by one.
    // The window loads the decoding library when it is created, as the program always has.
    if (!FRunner->LoadLibrary())
        UserDialogs().MessageBox(this, FRunner->LibraryError(), QStringLiteral("Error"),
                                 TMsgIcon::Error, mbOK);
}

TConvForm::~TConvForm() = default;

void TConvForm::showEvent(QShowEvent *Event) {
    QDialog::showEvent(Event);
    FormShow();
}

void TConvForm::FormShow() {
    setWindowTitle(ProductName);
    StateLabel->setTitle(QStringLiteral("Converting"));
    ProgressBar->setValue(0);
    dirlabelSource->SetDirName(QString());
    dirlabelDest->SetDirName(QString());
    lblTimes->clear();
    RemoveRows();
    ShowSeveral(std::min(FConfig.ConvertJobCount(), int(FRunner->Jobs().size())) > 1);
    FCloseQueried = false;
    FCloseWaiting = false;
    StartTimer->start();
}

void TConvForm::StartTimerTimer() {
    StartTimer->stop();
    // A window closed before its batch began starts none.
    if (FCloseQueried || !isVisible())
        return;
    QList<double> seconds;
    for (const TFileParam *job : FRunner->Jobs())
        seconds << JobSeconds(*job);
    FTimes.Start(seconds);
    FBatchClock.start();
    UpdateTimes();
    TimesTimer->start();
    FRunner->Start();
}

void TConvForm::CloseTimerTimer() {
    FRunner->Conclude();
    CloseTimer->stop();
    // The user looked elsewhere while the batch ran: the desktop tells them it is over.
    if (!isActiveWindow())
        FDesktop->Notify(QStringLiteral("Conversion finished"),
                         BatchEndText(FRunner->ConvertedCount(), FRunner->FailedCount()));
    RequestClose();
}

void TConvForm::btnAbortClick() {
    FRunner->Abort();
    RequestClose();
}

void TConvForm::reject() {
    btnAbortClick();
}

void TConvForm::closeEvent(QCloseEvent *Event) {
    // The close box: handled as a close request, the window goes once the work has stopped.
    Event->ignore();
    RequestClose();
}

void TConvForm::FormCloseQuery() {
    if (FRunner->Finished())
        return;
    FRunner->Abort();
    if (FRunner->StartedCount() > 0) {
        const int answer = UserDialogs().MessageBox(
            this,
            QStringLiteral("\r\nConversion has aborted, Would you want delete all converted "
                           "audio file(s)?\r\n"),
            QStringLiteral("confirmation"), TMsgIcon::Question, mbYes | mbNo);
        FRunner->AnswerAbort(answer == mrYes);
    }
}

void TConvForm::FormClose() {
    StartTimer->stop();
    CloseTimer->stop();
    if (FRunner->Busy())
        FRunner->Abort();
}

void TConvForm::RequestClose() {
    if (FCloseQueried)
        return;
    FCloseQueried = true;
    FormCloseQuery();
    FormClose();
    FCloseWaiting = true;
    if (!FRunner->Busy())
        CloseWhenIdle();
}

void TConvForm::CloseWhenIdle() {
    if (!FCloseWaiting || FRunner->Busy())
        return;
    FCloseWaiting = false;
    TimesTimer->stop();
    FDesktop->HideProgress();
    QDialog::done(QDialog::Rejected);
}

void TConvForm::SetPhase(int Phase) {
    StateLabel->setTitle(PhaseCaption(Phase));
    ProgressBar->setValue(0);
}

void TConvForm::SetProgress(int Percent) {
    ProgressBar->setValue(Percent);
}

void TConvForm::JobStarted(int Index) {
    const TFileParam &job = *FRunner->Jobs().at(Index);
    dirlabelSource->SetDirName(job.SourcePath);
    dirlabelDest->SetDirName(job.DestPath);
    setWindowTitle(QStringLiteral("File %1 of %2").arg(Index + 1).arg(FRunner->Total()));
    ProgressBar->setValue(0);

    const bool several = FRunner->JobSlots() > 1;
    ShowSeveral(several);
    if (!several || FRows.contains(Index))
        return;

    auto *box = new QWidget(JobList);
    box->setObjectName(QStringLiteral("JobRow%1").arg(Index));
    auto *name = new TElidedLabel(job.FileName.isEmpty() ? job.SourcePath : job.FileName, box);
    name->setObjectName(QStringLiteral("JobName"));
    name->setToolTip(job.SourcePath);
    // Long names are shortened rather than widening the window.
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *phase = new QLabel(QStringLiteral("Converting"), box);
    phase->setObjectName(QStringLiteral("JobPhase"));
    phase->setMinimumWidth(phase->fontMetrics().horizontalAdvance(PhaseCaption(phScanPeak)) +
                           phase->fontMetrics().averageCharWidth());
    auto *bar = new QProgressBar(box);
    bar->setObjectName(QStringLiteral("JobBar"));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setFixedWidth(bar->fontMetrics().averageCharWidth() * 20);
    bar->setAccessibleName(QStringLiteral("Progress of %1").arg(name->text()));
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(name, 1);
    row->addWidget(phase);
    row->addWidget(bar);
    JobList->layout()->addWidget(box);
    FRows.insert(Index, {box, name, phase, bar});
}

void TConvForm::ShowSeveral(bool Several) {
    // One job at a time shows its paths; several show a row each instead.
    for (QWidget *w :
         {static_cast<QWidget *>(lblSource), static_cast<QWidget *>(lblDest),
          static_cast<QWidget *>(dirlabelSource), static_cast<QWidget *>(dirlabelDest)})
        w->setVisible(!Several);
    JobList->setVisible(Several);
}

void TConvForm::JobProgress(int Index, int Phase, int Percent) {
    FTimes.Progress(Index, Percent);
    const auto row = FRows.constFind(Index);
    if (row != FRows.constEnd()) {
        row->Phase->setText(PhaseCaption(Phase));
        row->Bar->setValue(Percent);
    }
    UpdateTimes();
}

void TConvForm::JobEnded(int Index, int State) {
    FTimes.Ended(Index, State == stDone || State == stDoneRemoveSource);
    const auto row = FRows.constFind(Index);
    if (row != FRows.constEnd()) {
        delete row->Box;
        FRows.remove(Index);
    }
    UpdateTimes();
}

void TConvForm::RemoveRows() {
    for (const TJobRow &row : std::as_const(FRows))
        delete row.Box;
    FRows.clear();
}

double TConvForm::Elapsed() const {
    if (FClock)
        return FClock();
    return FBatchClock.isValid() ? FBatchClock.elapsed() / 1000.0 : 0;
}

void TConvForm::UpdateTimes() {
    lblTimes->setText(FTimes.Line(Elapsed()));
    FDesktop->SetProgress(FTimes.Fraction());
}

void TConvForm::SetDesktop(std::unique_ptr<TDesktopProgress> Desktop) {
    FDesktop = std::move(Desktop);
}

int TConvForm::ConfirmOverwrite(const QString &Dest) {
    return UserDialogs().ConfirmOverwrite(this, Dest);
}

bool TConvForm::ConfirmRefusal(const QString &Source) {
    const int answer = UserDialogs().MessageBox(
        this,
        QStringLiteral("Can't encoding file '%1', ").arg(Source) + QStringLiteral("\n\r") +
            QStringLiteral("MP3 encoder parameter incorrect or currently setting ") +
            QStringLiteral("does not support this file, please re-configure MP3 encoder "
                           "parameter and try again!"),
        QStringLiteral("Error"), TMsgIcon::Error, mbOK | mbCancel);
    return answer != mrCancel;
}

void TConvForm::ShowError(const QString &Text) {
    UserDialogs().MessageBox(this, Text, QStringLiteral("Error"), TMsgIcon::Error, mbOK);
}

void TConvForm::AddMessage(const QString &Text) {
    if (FErrorList)
        FErrorList->AddMessage(Text);
}

void TConvForm::AddNote(const QString &Text) {
    if (FErrorList)
        FErrorList->AddNote(Text);
}

void TConvForm::Warn(const QString &Source, const QString &Why) {
    // Counted, so that the list is shown: the user must learn that the file is not whole.
    AddMessage(QStringLiteral("Conversion Warning: ") + Source);
    AddNote(QStringLiteral("  ") + Why);
}

void TConvForm::ClearMessages() {
    if (FErrorList)
        FErrorList->ClearMessages();
}
