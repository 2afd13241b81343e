#include "player/PlayerForm.h"

#include "app/FileLists.h"
#include "platform/UserDialogs.h"
#include "player/Slider.h"
#include "xaudio/XaudioPlayer.h"

#include <QAction>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

// The skins are compiled into the GUI library; a static library needs its resources named.
static void InitPlayerSkins() {
    Q_INIT_RESOURCE(player);
}

namespace {

constexpr int SeekRange = 400;
constexpr int StartDelayMs = 500;

const QColor DisplayText(0xc6, 0xce, 0xd5);
const QColor DisplayTextDim(0x8f, 0x9b, 0xa5);

QPixmap Skin(const char *Name) {
    return QPixmap(QStringLiteral(":/skins/%1.png").arg(QLatin1String(Name)));
}

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

// --- TClickImage -------------------------------------------------------------------------

TClickImage::TClickImage(const char *Name, const QString &Hint, QWidget *Parent) : QLabel(Parent) {
    setObjectName(QString::fromLatin1(Name));
    setToolTip(Hint);
    setCursor(Qt::PointingHandCursor);
}

void TClickImage::SetPictures(const QPixmap &Normal, const QPixmap &Pressed) {
    FNormal = Normal;
    FPressed = Pressed;
    setPixmap(FDown && !FPressed.isNull() ? FPressed : FNormal);
}

void TClickImage::mousePressEvent(QMouseEvent *Event) {
    if (Event->button() != Qt::LeftButton)
        return QLabel::mousePressEvent(Event);
    FDown = true;
    if (!FPressed.isNull())
        setPixmap(FPressed);
}

void TClickImage::mouseReleaseEvent(QMouseEvent *Event) {
    if (Event->button() != Qt::LeftButton || !FDown)
        return QLabel::mouseReleaseEvent(Event);
    FDown = false;
    setPixmap(FNormal);
    if (rect().contains(Event->position().toPoint()) && OnClick)
        OnClick();
}

// --- TStaticText -------------------------------------------------------------------------

void TStaticText::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.setFont(font());
    P.setPen(palette().color(QPalette::WindowText));
    const QRect Area = contentsRect();
    P.drawText(Area, int(alignment()),
               fontMetrics().elidedText(text(), Qt::ElideRight, Area.width()));
}

// --- TPlayerForm -------------------------------------------------------------------------

TPlayerForm::TPlayerForm(QWidget *Parent) : QDialog(Parent) {
    InitPlayerSkins();
    setObjectName(QStringLiteral("PlayerForm"));
    // A tool window without system buttons; its caption shows the player's state.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString());
    setFixedSize(483, 151);
    QPalette White = palette();
    White.setColor(QPalette::Window, Qt::white);
    setPalette(White);
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
    const auto Picture = [this](const char *Name, const char *SkinName, int X, int Y,
                                bool Visible = true) {
        auto *Label = new QLabel(this);
        Label->setObjectName(QString::fromLatin1(Name));
        const QPixmap Pixmap = Skin(SkinName);
        Label->setPixmap(Pixmap);
        Label->setGeometry(X, Y, Pixmap.width(), Pixmap.height());
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

    Image1 = Picture("Image1", "logo", 8, 8);
    Image2 = Picture("Image2", "display", 64, 8);

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

    const auto Button = [this](const char *Name, const QString &Hint, const char *SkinName, int X,
                               int Y, void (TPlayerForm::*Click)()) {
        auto *Image = new TClickImage(Name, Hint, this);
        const QPixmap Normal = Skin(SkinName);
        Image->SetPictures(Normal, Skin((SkinName + QByteArray("_down")).constData()));
        Image->setGeometry(X, Y, Normal.width(), Normal.height());
        Image->OnClick = [this, Click] { (this->*Click)(); };
        return Image;
    };
    ImagePlay =
        Button("ImagePlay", QStringLiteral("Play"), "play", 14, 112, &TPlayerForm::ImagePlayClick);
    ImagePause = Button("ImagePause", QStringLiteral("Pause"), "pause", 41, 112,
                        &TPlayerForm::ImagePauseClick);
    ImageStop =
        Button("ImageStop", QStringLiteral("Stop"), "stop", 68, 112, &TPlayerForm::ImageStopClick);
    ImagePrev = Button("ImagePrev", QStringLiteral("Previous"), "prev", 104, 112,
                       &TPlayerForm::ImagePrevClick);
    ImageNext =
        Button("ImageNext", QStringLiteral("Next"), "next", 320, 112, &TPlayerForm::ImageNextClick);
    ImageMute = Button("ImageMute", QStringLiteral("Sound On/Off"), "sound_on", 360, 112,
                       &TPlayerForm::ImageMuteClick);
    ImageClick = Button("ImageClick", QStringLiteral("Close"), "close", 458, 2,
                        &TPlayerForm::ImageClickClick);

    // The pictures the sliders and the mute switch take their looks from.
    TrackImage = Picture("TrackImage", "seek_track", 136, 116, false);
    ThumbNormalImage = Picture("ThumbNormalImage", "seek_thumb", 136, 116, false);
    ThumbHighlightedImage = Picture("ThumbHighlightedImage", "seek_thumb_hot", 136, 116, false);
    ThumbClickedImage = Picture("ThumbClickedImage", "seek_thumb_down", 136, 116, false);
    TrackImage2 = Picture("TrackImage2", "volume_track", 392, 116);
    ThumbNormalImage2 = Picture("ThumbNormalImage2", "volume_thumb", 392, 116, false);
    ThumbHighlightedImage2 = Picture("ThumbHighlightedImage2", "volume_thumb_hot", 392, 116, false);
    ThumbClickedImage2 = Picture("ThumbClickedImage2", "volume_thumb_down", 392, 116, false);
    ImageSoundOn = Picture("ImageSoundOn", "sound_on", 360, 112, false);
    ImageSoundOff = Picture("ImageSoundOff", "sound_off", 360, 112, false);

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
    P.OnNotifyInputTimecode = [this](TXaudioPlayer &, uint8_t H, uint8_t M, uint8_t S, uint8_t) {
        XaudioPlayerNotifyInputTimecode(H, M, S);
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
    const auto MakeSlider = [this](const char *Name, QLabel *Normal, QLabel *Highlighted,
                                   QLabel *Clicked, QLabel *Track, int Maximum) {
        auto *Slider = new TSlider(this);
        Slider->setObjectName(QString::fromLatin1(Name));
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
    FSeekSlider = MakeSlider("Slider", ThumbNormalImage, ThumbHighlightedImage, ThumbClickedImage,
                             TrackImage, SeekRange);
    FSeekSlider->OnChange = [this](TSlider &) { SliderChange(); };
    FSeekSlider->OnMouseDown = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        SliderMouseDown();
    };
    FSeekSlider->OnMouseUp = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        SliderMouseUp();
    };
    FVolumeSlider = MakeSlider("Slider2", ThumbNormalImage2, ThumbHighlightedImage2,
                               ThumbClickedImage2, TrackImage2, 100);
    FVolumeSlider->OnChange = [this](TSlider &) { Slider2Change(); };
    FVolumeSlider->OnMouseDown = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int,
                                        int) { Slider2MouseDown(); };
    FVolumeSlider->OnMouseUp = [this](TSlider &, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        Slider2MouseUp();
    };
    FDragging = false;
    FMuted = false;

    StartTime->stop();
    XaudioPlayer->Init();
    // The library reports its level only when asked or changed; without this the volume
    // thumb would sit at 0 while the sound plays at full level.
    XaudioPlayer->GetOutputVolume();
}

void TPlayerForm::showEvent(QShowEvent *Event) {
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
    QDialog::keyPressEvent(Event);
}

void TPlayerForm::FormKeyDown(int Key) {
    if (Key == 27)
        close();
}

void TPlayerForm::ImageClickClick() {
    close();
}

void TPlayerForm::done(int Result) {
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
    // The path as the user gave it: file names are case-sensitive here.
    XaudioPlayer->InputOpen(FCurrent.SourcePath);
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
    XaudioPlayer->InputOpen(FCurrent.SourcePath);
    return true;
}

void TPlayerForm::actPlayExecute() {
    OpenSelected();
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
    if (FMuted) {
        ImageMute->SetPictures(ImageSoundOff->pixmap(), Skin("sound_off_down"));
        XaudioPlayer->OutputMute();
    } else {
        ImageMute->SetPictures(ImageSoundOn->pixmap(), Skin("sound_on_down"));
        XaudioPlayer->OutputUnmute();
    }
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
    SongInfoText->setText(SongInfo(FCurrent));
}

void TPlayerForm::XaudioPlayerNotifyInputState(int32_t State) {
    if (State != XA_INPUT_STATE_OPEN)
        return;
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
    if (FDragging)
        return;
    const int64_t Position = Range == 0 ? 0 : int64_t(Offset) * SeekRange / int64_t(Range);
    FSeekSlider->SetPosition(int32_t(std::min<int64_t>(Position, SeekRange)));
}

void TPlayerForm::XaudioPlayerNotifyInputTimecode(uint8_t Hours, uint8_t Minutes, uint8_t Seconds) {
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
    DurationText->setText(QString::asprintf("%.2d:%.2d:%.2d", int(Duration / 3600),
                                            int(Duration % 3600 / 60), int(Duration % 60)));
}

void TPlayerForm::XaudioPlayerNotifyStreamParameters(uint32_t Frequency, int16_t Bitrate,
                                                     uint8_t NbChannels) {
    StreamParametersText->setText(StreamParameters(Frequency, Bitrate, NbChannels));
}

void TPlayerForm::XaudioPlayerNotifyError(const QString &Msg) {
    // A file that cannot be opened or decoded would otherwise just stay silent.
    SongInfoText->setText(Msg);
}
