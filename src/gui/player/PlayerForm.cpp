#include "player/PlayerForm.h"

#include "app/FileLists.h"
#include "platform/UserDialogs.h"
#include "platform/WindowLayout.h"
#include "player/Slider.h"
#include "xaudio/XaudioPlayer.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int SeekRange = 400;
constexpr int StartDelayMs = 500;
constexpr int SeekStepMs = 5000;
constexpr int VolumeStep = 5;

const QColor DisplayText(0xc6, 0xce, 0xd5);
const QColor DisplayTextDim(0x8f, 0x9b, 0xa5);

QFont DisplayFont(const char *Family, int PixelSize) {
    QFont Font{QString::fromLatin1(Family)};
    Font.setPixelSize(PixelSize);
    Font.setBold(true);
    Font.setStyleHint(QFont::SansSerif);
    return Font;
}

// Characters of code 32 and below are what counts as blank in a tag field.
QString TrimBlank(const QString &Text) {
    qsizetype First = 0;
    qsizetype Last = Text.size();
    while (First < Last && Text.at(First).unicode() <= 32)
        ++First;
    while (Last > First && Text.at(Last - 1).unicode() <= 32)
        --Last;
    return Text.mid(First, Last - First);
}

} // namespace

// --- TPlayerForm -------------------------------------------------------------------------

TPlayerForm::TPlayerForm(QWidget *Parent) : QDialog(Parent) {
    setObjectName(QStringLiteral("PlayerForm"));
    // A tool window without system buttons; its caption shows the player's state.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString());
    setFixedSize(483, 151);
    setAutoFillBackground(true);

    XaudioPlayer = new TXaudioPlayer(this);
    XaudioPlayer->setObjectName(QStringLiteral("XaudioPlayer"));
    XaudioPlayer->XaudioPath = QStringLiteral("xaudio.dll");
    XaudioPlayer->SetPriority(XA_PRIORITY_HIGH);
    StartTime = new QTimer(this);
    StartTime->setObjectName(QStringLiteral("StartTime"));
    StartTime->setSingleShot(true);
    StartTime->setInterval(StartDelayMs);
    connect(StartTime, &QTimer::timeout, this, &TPlayerForm::StartTimeTimer);

    CreateControls();
    ApplySkin();
    // The desktop's palette may change while the program runs; the window is told through
    // the application.
    qApp->installEventFilter(this);
    ConnectPlayer();
    // Created at program start, before the event loop runs: a library that cannot be
    // loaded is reported here as the program's error handler would, and the window is
    // still made; every later command tries the library again.
    try {
        FormCreate();
    } catch (const Exception &Error) {
        UserDialogs().MessageBox(nullptr, Error.message(), QStringLiteral("Error"), TMsgIcon::Error,
                                 mbOK);
    }
}

TPlayerForm::~TPlayerForm() {
    FormDestroy();
}

void TPlayerForm::SetCurrentList(std::function<TFileListView *()> CurrentList) {
    FCurrentList = std::move(CurrentList);
}

void TPlayerForm::CreateControls() {
    // The pictures come with the skins (ApplySkin).
    const auto Picture = [this](const char *Name, const QRect &Geometry, bool Visible = true) {
        auto *Label = new QLabel(this);
        Label->setObjectName(QString::fromLatin1(Name));
        Label->setGeometry(Geometry);
        Label->setVisible(Visible);
        return Label;
    };
    const auto Text = [this](auto *Label, const char *Name, const QRect &Geometry,
                             const QFont &Font, const QColor &Colour, Qt::Alignment Align) {
        Label->setObjectName(QString::fromLatin1(Name));
        Label->setFont(Font);
        QPalette Ink = Label->palette();
        Ink.setColor(QPalette::WindowText, Colour);
        Label->setPalette(Ink);
        Label->setAlignment(Align);
        Label->setGeometry(Geometry);
        return Label;
    };

    Image1 = Picture("Image1", QRect(8, 8, 54, 54));
    Image2 = Picture("Image2", QRect(64, 8, 391, 93));

    SongInfoText =
        Text(new TStaticText(this), "SongInfoText", QRect(87, 24, 345, 19),
             DisplayFont("DejaVu Sans", 13), DisplayText, Qt::AlignLeft | Qt::AlignVCenter);
    const QFont Digits = DisplayFont("DejaVu Sans Mono", 14);
    TimecodeText = Text(new QLabel(QStringLiteral("00:00:00"), this), "TimecodeText",
                        QRect(86, 48, 68, 21), Digits, DisplayText, Qt::AlignCenter);
    Label1 = Text(new QLabel(QStringLiteral("/"), this), "Label1", QRect(160, 48, 8, 21), Digits,
                  DisplayTextDim, Qt::AlignLeft | Qt::AlignVCenter);
    DurationText = Text(new QLabel(QStringLiteral("00:00:00"), this), "DurationText",
                        QRect(170, 48, 68, 21), Digits, DisplayTextDim, Qt::AlignCenter);
    StreamParametersText = Text(new TStaticText(this), "StreamParametersText",
                                QRect(88, 66, 183, 19), DisplayFont("DejaVu Sans Condensed", 10),
                                DisplayTextDim, Qt::AlignLeft | Qt::AlignVCenter);

    const auto Button = [this](const char *Name, const QString &Caption, const QRect &Geometry,
                               void (TPlayerForm::*Click)()) {
        auto *Image = new TSkinButton(Name, Caption, this);
        Image->setGeometry(Geometry);
        connect(Image, &QAbstractButton::clicked, this, [this, Click] { (this->*Click)(); });
        return Image;
    };
    ImagePlay = Button("ImagePlay", QStringLiteral("Play"), QRect(14, 112, 22, 23),
                       &TPlayerForm::ImagePlayClick);
    ImagePause = Button("ImagePause", QStringLiteral("Pause"), QRect(41, 112, 22, 23),
                        &TPlayerForm::ImagePauseClick);
    ImageStop = Button("ImageStop", QStringLiteral("Stop"), QRect(68, 112, 22, 23),
                       &TPlayerForm::ImageStopClick);
    ImagePrev = Button("ImagePrev", QStringLiteral("Previous"), QRect(104, 112, 22, 22),
                       &TPlayerForm::ImagePrevClick);
    ImageNext = Button("ImageNext", QStringLiteral("Next"), QRect(320, 112, 22, 22),
                       &TPlayerForm::ImageNextClick);
    ImageMute = Button("ImageMute", QStringLiteral("Mute"), QRect(360, 112, 23, 23),
                       &TPlayerForm::ImageMuteClick);
    // A switch: assistive technology reads "Mute" as on or off.
    ImageMute->setCheckable(true);
    ImageClick = Button("ImageClick", QStringLiteral("Close"), QRect(458, 2, 19, 19),
                        &TPlayerForm::ImageClickClick);

    // The pictures the sliders and the mute switch take their looks from.
    const QRect Seek(136, 116, 176, 15);
    const QRect SeekThumb(136, 116, 14, 15);
    TrackImage = Picture("TrackImage", Seek, false);
    ThumbNormalImage = Picture("ThumbNormalImage", SeekThumb, false);
    ThumbHighlightedImage = Picture("ThumbHighlightedImage", SeekThumb, false);
    ThumbClickedImage = Picture("ThumbClickedImage", SeekThumb, false);
    const QRect Volume(392, 116, 70, 15);
    const QRect VolumeThumb(392, 116, 14, 15);
    TrackImage2 = Picture("TrackImage2", Volume);
    ThumbNormalImage2 = Picture("ThumbNormalImage2", VolumeThumb, false);
    ThumbHighlightedImage2 = Picture("ThumbHighlightedImage2", VolumeThumb, false);
    ThumbClickedImage2 = Picture("ThumbClickedImage2", VolumeThumb, false);
    ImageSoundOn = Picture("ImageSoundOn", QRect(360, 112, 23, 23), false);
    ImageSoundOff = Picture("ImageSoundOff", QRect(360, 112, 23, 23), false);

    const auto Action = [this](const char *Name, const QString &Caption,
                               void (TPlayerForm::*Execute)()) {
        auto *A = new QAction(Caption, this);
        A->setObjectName(QString::fromLatin1(Name));
        connect(A, &QAction::triggered, this, Execute);
        addAction(A);
        return A;
    };
    actPlay = Action("actPlay", QStringLiteral("Play"), &TPlayerForm::actPlayExecute);
    actPause = Action("actPause", QStringLiteral("Pause"), &TPlayerForm::actPauseExecute);
    actStop = Action("actStop", QStringLiteral("Stop"), &TPlayerForm::actStopExecute);
    actPrev = Action("actPrev", QStringLiteral("Previous"), &TPlayerForm::actPrevExecute);
    actNext = Action("actNext", QStringLiteral("Next"), &TPlayerForm::actNextExecute);
}

void TPlayerForm::ConnectPlayer() {
    TXaudioPlayer &P = *XaudioPlayer;
    P.OnNotifyPlayerState = [this](TXaudioPlayer &, int32_t State) {
        XaudioPlayerNotifyPlayerState(State);
    };
    P.OnNotifyInputState = [this](TXaudioPlayer &, int32_t State) {
        XaudioPlayerNotifyInputState(State);
    };
    P.OnNotifyInputPosition = [this](TXaudioPlayer &, uint32_t Offset, uint32_t Range) {
        XaudioPlayerNotifyInputPosition(Offset, Range);
    };
    P.OnNotifyInputTimecode = [this](TXaudioPlayer &, uint8_t H, uint8_t M, uint8_t S, uint8_t F) {
        XaudioPlayerNotifyInputTimecode(H, M, S, F);
    };
    P.OnNotifyOutputVolume = [this](TXaudioPlayer &, uint8_t Master, uint8_t, uint8_t) {
        XaudioPlayerNotifyOutputVolume(Master);
    };
    P.OnNotifyOutputMasterLevel = [this](TXaudioPlayer &, uint8_t Master) {
        XaudioPlayerNotifyOutputMasterLevel(Master);
    };
    P.OnNotifyStreamDuration = [this](TXaudioPlayer &, uint32_t Duration) {
        XaudioPlayerNotifyStreamDuration(Duration);
    };
    P.OnNotifyStreamParameters = [this](TXaudioPlayer &, uint32_t Frequency, int16_t Bitrate,
                                        uint8_t NbChannels) {
        XaudioPlayerNotifyStreamParameters(Frequency, Bitrate, NbChannels);
    };
    P.OnNotifyError = [this](TXaudioPlayer &, uint8_t, int16_t, const QString &Msg) {
        XaudioPlayerNotifyError(Msg);
    };
}

void TPlayerForm::FormCreate() {
    // The sliders come first, so that they exist even when the library cannot be loaded now
    // and is loaded by a later command.
    const auto MakeSlider = [this](const char *Name, const QString &Caption, QLabel *Normal,
                                   QLabel *Highlighted, QLabel *Clicked, QLabel *Track,
                                   int Maximum) {
        auto *Slider = new TSlider(this);
        Slider->setObjectName(QString::fromLatin1(Name));
        Slider->setAccessibleName(Caption);
        Slider->setToolTip(Caption);
        Slider->SetFocusTone(FTone);
        Slider->SetThumbNormal(Normal->pixmap().toImage());
        Slider->SetThumbHighlighted(Highlighted->pixmap().toImage());
        Slider->SetThumbClicked(Clicked->pixmap().toImage());
        Slider->SetTrack(Track->pixmap().toImage());
        Slider->SetMinimum(0);
        Slider->SetMaximum(Maximum);
        Slider->setGeometry(Track->geometry());
        Slider->show();
        return Slider;
    };
    FSeekSlider = MakeSlider("Slider", QStringLiteral("Position"), ThumbNormalImage,
                             ThumbHighlightedImage, ThumbClickedImage, TrackImage, SeekRange);
    FSeekSlider->OnChange = [this](TSlider &) { SliderChange(); };
    FSeekSlider->OnMouseDown = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        SliderMouseDown();
    };
    FSeekSlider->OnMouseUp = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        SliderMouseUp();
    };
    FVolumeSlider = MakeSlider("Slider2", QStringLiteral("Volume"), ThumbNormalImage2,
                               ThumbHighlightedImage2, ThumbClickedImage2, TrackImage2, 100);
    FVolumeSlider->OnChange = [this](TSlider &) { Slider2Change(); };
    FVolumeSlider->OnMouseDown = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int,
                                        int) { Slider2MouseDown(); };
    FVolumeSlider->OnMouseUp = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        Slider2MouseUp();
    };
    FDragging = false;
    FMuted = false;
    // Tab follows the controls from left to right.
    const QList<QWidget *> Chain = {ImagePlay, ImagePause, ImageStop,     ImagePrev, FSeekSlider,
                                    ImageNext, ImageMute,  FVolumeSlider, ImageClick};
    for (qsizetype I = 1; I < Chain.size(); ++I)
        setTabOrder(Chain[I - 1], Chain[I]);

    StartTime->stop();
    XaudioPlayer->Init();
    // The library reports its level only when asked or changed; without this the volume
    // thumb would sit at 0 while the sound plays at full level.
    XaudioPlayer->GetOutputVolume();
    // Keyboard seeking steps from the elapsed time, which this keeps within a tenth of a
    // second; the display still shows whole seconds.
    XaudioPlayer->SetInputTimecodeGranularity(100);
}

void TPlayerForm::ApplySkin() {
    const TSkinTone Tone = ToneOf(QGuiApplication::palette());
    const qreal Ratio = devicePixelRatioF();
    if (Tone == FTone && Ratio == FRatio)
        return;
    FTone = Tone;
    FRatio = Ratio;
    FSkins = RenderPlayerSkins(Tone, Ratio);
    const auto Skin = [this](const char *Name) { return FSkins.at(QLatin1String(Name)); };

    QPalette Window = palette();
    Window.setColor(QPalette::Window, SkinWindowColour(Tone));
    Window.setColor(QPalette::WindowText,
                    Tone == TSkinTone::Dark ? QColor(0xd5, 0xda, 0xde) : QColor(0x3a, 0x40, 0x47));
    setPalette(Window);

    Image1->setPixmap(Skin("logo"));
    Image2->setPixmap(Skin("display"));
    TrackImage->setPixmap(Skin("seek_track"));
    ThumbNormalImage->setPixmap(Skin("seek_thumb"));
    ThumbHighlightedImage->setPixmap(Skin("seek_thumb_hot"));
    ThumbClickedImage->setPixmap(Skin("seek_thumb_down"));
    TrackImage2->setPixmap(Skin("volume_track"));
    ThumbNormalImage2->setPixmap(Skin("volume_thumb"));
    ThumbHighlightedImage2->setPixmap(Skin("volume_thumb_hot"));
    ThumbClickedImage2->setPixmap(Skin("volume_thumb_down"));
    ImageSoundOn->setPixmap(Skin("sound_on"));
    ImageSoundOff->setPixmap(Skin("sound_off"));

    const std::pair<TSkinButton *, const char *> Buttons[] = {
        {ImagePlay, "play"}, {ImagePause, "pause"}, {ImageStop, "stop"},
        {ImagePrev, "prev"}, {ImageNext, "next"},   {ImageClick, "close"}};
    for (const auto &[Button, Name] : Buttons) {
        Button->SetPictures(Skin(Name), Skin((QByteArray(Name) + "_down").constData()));
        Button->SetFocusTone(Tone);
    }
    ImageMute->SetFocusTone(Tone);
    ShowMuteState();

    const auto Reskin = [](TSlider *Slider, QLabel *Normal, QLabel *Highlighted, QLabel *Clicked,
                           QLabel *Track, TSkinTone Tone) {
        if (Slider == nullptr)
            return;
        Slider->SetThumbNormal(Normal->pixmap().toImage());
        Slider->SetThumbHighlighted(Highlighted->pixmap().toImage());
        Slider->SetThumbClicked(Clicked->pixmap().toImage());
        Slider->SetTrack(Track->pixmap().toImage());
        Slider->SetFocusTone(Tone);
        Slider->update();
    };
    Reskin(FSeekSlider, ThumbNormalImage, ThumbHighlightedImage, ThumbClickedImage, TrackImage,
           Tone);
    Reskin(FVolumeSlider, ThumbNormalImage2, ThumbHighlightedImage2, ThumbClickedImage2,
           TrackImage2, Tone);
}

void TPlayerForm::ShowMuteState() {
    const auto Skin = [this](const char *Name) { return FSkins.at(QLatin1String(Name)); };
    if (FMuted)
        ImageMute->SetPictures(ImageSoundOff->pixmap(), Skin("sound_off_down"));
    else
        ImageMute->SetPictures(ImageSoundOn->pixmap(), Skin("sound_on_down"));
    ImageMute->setChecked(FMuted);
}

void TPlayerForm::changeEvent(QEvent *Event) {
    QDialog::changeEvent(Event);
    if (Event->type() == QEvent::ApplicationPaletteChange || Event->type() == QEvent::PaletteChange)
        ApplySkin();
}

bool TPlayerForm::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == qApp && Event->type() == QEvent::ApplicationPaletteChange)
        ApplySkin();
    return QDialog::eventFilter(Watched, Event);
}

bool TPlayerForm::event(QEvent *Event) {
    const bool Result = QDialog::event(Event);
    // Moved to a screen of another pixel ratio.
    if (Event->type() == QEvent::ScreenChangeInternal)
        ApplySkin();
    return Result;
}

void TPlayerForm::showEvent(QShowEvent *Event) {
    // Where the window is shown decides the pixel ratio, and the palette may have changed
    // while it was hidden.
    ApplySkin();
    QDialog::showEvent(Event);
    FormShow();
}

void TPlayerForm::FormShow() {
    StartTime->start();
}

void TPlayerForm::StartTimeTimer() {
    StartTime->stop();
    OpenSelected();
}

void TPlayerForm::keyPressEvent(QKeyEvent *Event) {
    if (Event->key() == Qt::Key_Escape) {
        FormKeyDown(27);
        return;
    }
    if ((Event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QDialog::keyPressEvent(Event);
        return;
    }
    // A focused volume slider takes all four arrows, as sliders do.
    const bool OnVolume = FVolumeSlider != nullptr && FVolumeSlider->hasFocus();
    switch (Event->key()) {
    case Qt::Key_Space:
        if (!Event->isAutoRepeat())
            PlayPauseKey();
        break;
    case Qt::Key_Left:
        OnVolume ? StepVolume(-1) : SeekBy(-SeekStepMs);
        break;
    case Qt::Key_Right:
        OnVolume ? StepVolume(1) : SeekBy(SeekStepMs);
        break;
    case Qt::Key_Up:
        StepVolume(1);
        break;
    case Qt::Key_Down:
        StepVolume(-1);
        break;
    case Qt::Key_M:
        ImageMuteClick();
        break;
    case Qt::Key_N:
        actNextExecute();
        break;
    case Qt::Key_P:
        actPrevExecute();
        break;
    default:
        QDialog::keyPressEvent(Event);
    }
}

void TPlayerForm::FormKeyDown(int Key) {
    if (Key == 27)
        close();
}

void TPlayerForm::ImageClickClick() {
    close();
}

void TPlayerForm::setVisible(bool Visible) {
    // Where the user left it last; the first time, centred on the main window.
    if (Visible && !isVisible())
        TWindowLayout::Restore(this, QStringLiteral("PlayerForm"));
    QDialog::setVisible(Visible);
}

void TPlayerForm::done(int Result) {
    if (isVisible())
        TWindowLayout::Save(this, QStringLiteral("PlayerForm"));
    // The window closes even when the library fails (it may never have loaded); the
    // failure still reaches the program's error handler.
    try {
        FormClose();
    } catch (...) {
        QDialog::done(Result);
        throw;
    }
    QDialog::done(Result);
}

void TPlayerForm::FormClose() {
    // A close before the start delay ran out must not start playing behind a closed window.
    StartTime->stop();
    XaudioPlayer->Stop();
    XaudioPlayer->InputClose();
    XaudioPlayer->OutputClose();
}

void TPlayerForm::FormDestroy() {
    // Destruction must not throw; a library that never loaded has nothing to close.
    try {
        XaudioPlayer->Stop();
        XaudioPlayer->InputClose();
        XaudioPlayer->OutputClose();
    } catch (const Exception &) {
    }
}

// --- Commands ----------------------------------------------------------------------------

void TPlayerForm::OpenSelected() {
    TFileListView *List = FCurrentList ? FCurrentList() : nullptr;
    if (List == nullptr || List->RowCount() == 0)
        return;
    const QList<int> Selected = List->SelectedRows();
    int Row = 0;
    if (!Selected.isEmpty()) {
        Row = Selected.first();
    } else {
        // The row at the top of the visible part of the list, which after scrolling is not
        // the first one.
        const QModelIndex Top = List->indexAt(QPoint(0, 0));
        if (Top.isValid())
            Row = Top.row();
    }
    const TFileParam *Record = List->Record(Row);
    if (Record == nullptr)
        return;
    FCurrent = *Record;
    XaudioPlayer->Stop();
    OpenInput(FCurrent.SourcePath);
}

void TPlayerForm::OpenInput(const QString &Path) {
    ClearDisplay();
    FAwaitingInput = true;
    // The path as the user gave it: file names are case-sensitive here.
    XaudioPlayer->InputOpen(Path);
}

void TPlayerForm::ClearDisplay() {
    SongInfoText->SetText(QString());
    SongInfoText->setAccessibleDescription(QString());
    TimecodeText->setText(QStringLiteral("00:00:00"));
    DurationText->setText(QStringLiteral("00:00:00"));
    StreamParametersText->SetText(QString());
    FDurationSeconds = 0;
    FElapsedMs = 0;
    if (!FDragging)
        FSeekSlider->SetPosition(0);
}

int TPlayerForm::FindCurrent(TFileListView &List) const {
    for (int Row = 0; Row < List.RowCount(); ++Row) {
        const TFileParam *Record = List.Record(Row);
        if (Record != nullptr && SameFilePath(Record->SourcePath, FCurrent.SourcePath))
            return Row;
    }
    return -1;
}

bool TPlayerForm::OpenRow(TFileListView &List, int Row) {
    if (Row < 0 || Row >= List.RowCount())
        return false;
    const TFileParam *Record = List.Record(Row);
    if (Record == nullptr)
        return false;
    FCurrent = *Record;
    OpenInput(FCurrent.SourcePath);
    return true;
}

void TPlayerForm::actPlayExecute() {
    // Play on a paused file goes on from where it paused.
    if (FPlayState == 2)
        XaudioPlayer->Play();
    else
        OpenSelected();
}

void TPlayerForm::PlayPauseKey() {
    if (FPlayState == 1 || FPlayState == 2)
        actPauseExecute();
    else
        actPlayExecute();
}

void TPlayerForm::SeekBy(int Ms) {
    if (FDurationSeconds == 0)
        return;
    const int64_t Duration = int64_t(FDurationSeconds) * 1000;
    const int64_t Target = std::clamp<int64_t>(FElapsedMs + Ms, 0, Duration);
    // Milliseconds of the whole as offset and range: the range fits while the stream is
    // shorter than 24 days.
    if (Duration > INT32_MAX)
        return;
    XaudioPlayer->InputSeek(int32_t(Target), int32_t(Duration));
    // A second key press before the library answers steps on from here.
    FElapsedMs = Target;
    if (!FDragging)
        FSeekSlider->SetPosition(int32_t(Target * SeekRange / Duration));
}

void TPlayerForm::StepVolume(int Steps) {
    if (FVolumeSlider != nullptr)
        FVolumeSlider->SetPositionAsked(FVolumeSlider->Position() + Steps * VolumeStep);
}

void TPlayerForm::actPauseExecute() {
    if (FPlayState == 2)
        XaudioPlayer->Play();
    else if (FPlayState == 1)
        XaudioPlayer->Pause();
}

void TPlayerForm::actStopExecute() {
    XaudioPlayer->Stop();
}

void TPlayerForm::actPrevExecute() {
    TFileListView *List = FCurrentList ? FCurrentList() : nullptr;
    if (List == nullptr)
        return;
    const int Row = FindCurrent(*List);
    if (Row > 0)
        OpenRow(*List, Row - 1);
}

void TPlayerForm::actNextExecute() {
    TFileListView *List = FCurrentList ? FCurrentList() : nullptr;
    if (List == nullptr)
        return;
    const int Row = FindCurrent(*List);
    if (Row >= 0)
        OpenRow(*List, Row + 1);
}

void TPlayerForm::ImageMuteClick() {
    FMuted = !FMuted;
    ShowMuteState();
    if (FMuted)
        XaudioPlayer->OutputMute();
    else
        XaudioPlayer->OutputUnmute();
}

void TPlayerForm::SliderChange() {
    XaudioPlayer->InputSeek(FSeekSlider->Position(), FSeekSlider->Maximum());
}

void TPlayerForm::SliderMouseDown() {
    FDragging = true;
}

void TPlayerForm::SliderMouseUp() {
    FDragging = false;
}

void TPlayerForm::Slider2Change() {
    if (!FDragging)
        XaudioPlayer->SetOutputVolume(-1, -1, FVolumeSlider->Position());
}

void TPlayerForm::Slider2MouseDown() {
    FDragging = true;
}

void TPlayerForm::Slider2MouseUp() {
    FDragging = false;
}

// --- What the library reports ------------------------------------------------------------

QString TPlayerForm::SongInfo(const TFileParam &Record) {
    if (Record.Kind != fkMpeg)
        return Record.FileName;
    const QString &Title = Record.MpegData.Title;
    const QString &Artist = Record.MpegData.Artist;
    if (TrimBlank(Title).isEmpty())
        return Record.FileName;
    if (TrimBlank(Artist).isEmpty())
        return Title;
    return QStringLiteral("%1 - %2").arg(Title, Artist);
}

QString TPlayerForm::StreamParameters(uint32_t Frequency, int16_t Bitrate, uint8_t NbChannels) {
    static const char *const Modes[] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono"};
    const QString Mode = NbChannels < 4 ? QString::fromLatin1(Modes[NbChannels]) : QString();
    return QStringLiteral("%1 Hz, %2, %3 Kbps").arg(Frequency).arg(Mode).arg(Bitrate);
}

void TPlayerForm::ShowSongInfo() {
    SongInfoText->SetText(SongInfo(FCurrent));
}

void TPlayerForm::XaudioPlayerNotifyInputState(int32_t State) {
    if (State != XA_INPUT_STATE_OPEN)
        return;
    FAwaitingInput = false;
    ShowSongInfo();
    XaudioPlayer->Play();
}

void TPlayerForm::XaudioPlayerNotifyPlayerState(int32_t State) {
    switch (State) {
    case XA_PLAYER_STATE_STOPPED:
        setWindowTitle(QStringLiteral("Stopped"));
        XaudioPlayer->InputSeek(0, 1);
        FPlayState = 3;
        break;
    case XA_PLAYER_STATE_PLAYING:
        setWindowTitle(QStringLiteral("Playing..."));
        FPlayState = 1;
        break;
    case XA_PLAYER_STATE_PAUSED:
        setWindowTitle(QStringLiteral("Paused"));
        FPlayState = 2;
        break;
    case XA_PLAYER_STATE_EOS: {
        setWindowTitle(QStringLiteral("Eof"));
        TFileListView *List = FCurrentList ? FCurrentList() : nullptr;
        const int Row = List != nullptr ? FindCurrent(*List) : -1;
        if (Row >= 0 && OpenRow(*List, Row + 1)) {
            FPlayState = 1;
        } else {
            XaudioPlayer->InputSeek(0, 1);
            FPlayState = 0;
        }
        break;
    }
    default:
        break;
    }
}

void TPlayerForm::XaudioPlayerNotifyInputPosition(uint32_t Offset, uint32_t Range) {
    if (FDragging || FAwaitingInput)
        return;
    const int64_t Position = Range == 0 ? 0 : int64_t(Offset) * SeekRange / int64_t(Range);
    FSeekSlider->SetPosition(int32_t(std::min<int64_t>(Position, SeekRange)));
}

void TPlayerForm::XaudioPlayerNotifyInputTimecode(uint8_t Hours, uint8_t Minutes, uint8_t Seconds,
                                                  uint8_t Fractions) {
    if (FAwaitingInput)
        return;
    FElapsedMs = ((int64_t(Hours) * 60 + Minutes) * 60 + Seconds) * 1000 + Fractions * 10;
    const auto Two = [](uint8_t Value) {
        return QStringLiteral("%1").arg(Value, 2, 10, QChar('0'));
    };
    TimecodeText->setText(Two(Hours) + ':' + Two(Minutes) + ':' + Two(Seconds));
}

void TPlayerForm::XaudioPlayerNotifyOutputVolume(uint8_t MasterLevel) {
    FVolumeSlider->SetPosition(MasterLevel);
}

void TPlayerForm::XaudioPlayerNotifyOutputMasterLevel(uint8_t MasterLevel) {
    FVolumeSlider->SetPosition(MasterLevel);
}

void TPlayerForm::XaudioPlayerNotifyStreamDuration(uint32_t Duration) {
    if (FAwaitingInput)
        return;
    FDurationSeconds = Duration;
    DurationText->setText(QString::asprintf("%.2d:%.2d:%.2d", int(Duration / 3600),
                                            int(Duration % 3600 / 60), int(Duration % 60)));
}

void TPlayerForm::XaudioPlayerNotifyStreamParameters(uint32_t Frequency, int16_t Bitrate,
                                                     uint8_t NbChannels) {
    if (FAwaitingInput)
        return;
    StreamParametersText->SetText(StreamParameters(Frequency, Bitrate, NbChannels));
}

void TPlayerForm::XaudioPlayerNotifyError(const QString &Msg) {
    // A file that cannot be opened or decoded would otherwise just stay silent. The line is
    // short: the message names the file by its name there, and the whole message is the
    // tooltip (and what assistive technology reads).
    FAwaitingInput = false;
    QString Shown = Msg;
    if (!FCurrent.SourcePath.isEmpty() && !FCurrent.FileName.isEmpty())
        Shown.replace(FCurrent.SourcePath, FCurrent.FileName);
    SongInfoText->SetText(Shown);
    SongInfoText->setToolTip(Msg);
    SongInfoText->setAccessibleDescription(Msg);
}
