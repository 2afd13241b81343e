#pragma once

#include "app/FileParam.h"
#include "player/SkinControls.h"
#include "player/Skins.h"

#include <QDialog>
#include <QPixmap>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>

class QAction;
class TFileListView;
class TSlider;
class TXaudioPlayer;

// The small skinned player: plays the files of the main window's active list through its
// own decoding-library player, from the selected file (or the top visible one) on, moving to
// the next file at the end of each. It shows the song, elapsed and total time and the
// stream's parameters on an LCD panel, and offers play, pause, stop, previous, next, a seek
// slider, a volume slider and a mute switch, by mouse and by keyboard. Closing it stops and
// closes everything; the current file, the mute state and the sliders survive until it is
// shown again. Its skins follow the desktop: dark on a dark palette, sharp at any scale.
class TPlayerForm : public QDialog {
    Q_OBJECT
public:
    explicit TPlayerForm(QWidget *Parent = nullptr);
    ~TPlayerForm() override;

    // The main window's list of the active direction, asked each time a file is looked for.
    void SetCurrentList(std::function<TFileListView *()> CurrentList);

    TXaudioPlayer &Player() { return *XaudioPlayer; }
    uint8_t PlayState() const { return FPlayState; }
    bool Muted() const { return FMuted; }
    bool Dragging() const { return FDragging; }
    const TFileParam &Current() const { return FCurrent; }
    TSlider *SeekSlider() const { return FSeekSlider; }
    TSlider *VolumeSlider() const { return FVolumeSlider; }
    TSkinTone SkinTone() const { return FTone; }
    qreal SkinRatio() const { return FRatio; }

    // Handlers, named after their control and event.
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    void FormKeyDown(int Key);
    void StartTimeTimer();
    void actPlayExecute();
    void actPauseExecute();
    void actStopExecute();
    void actPrevExecute();
    void actNextExecute();
    void ImagePlayClick() { actPlayExecute(); }
    void ImagePauseClick() { actPauseExecute(); }
    void ImageStopClick() { actStopExecute(); }
    void ImagePrevClick() { actPrevExecute(); }
    void ImageNextClick() { actNextExecute(); }
    void ImageMuteClick();
    // Space: pause while playing, resume while paused, else play.
    void PlayPauseKey();
    // Left and Right: by Ms from the elapsed time, within the stream.
    void SeekBy(int Ms);
    // Up and Down: the volume by Steps of the slider.
    void StepVolume(int Steps);
    void ImageClickClick();
    void SliderChange();
    void SliderMouseDown();
    void SliderMouseUp();
    void Slider2Change();
    void Slider2MouseDown();
    void Slider2MouseUp();
    void XaudioPlayerNotifyPlayerState(int32_t State);
    void XaudioPlayerNotifyInputState(int32_t State);
    void XaudioPlayerNotifyInputPosition(uint32_t Offset, uint32_t Range);
    void XaudioPlayerNotifyInputTimecode(uint8_t Hours, uint8_t Minutes, uint8_t Seconds,
                                         uint8_t Fractions = 0);
    void XaudioPlayerNotifyOutputVolume(uint8_t MasterLevel);
    void XaudioPlayerNotifyOutputMasterLevel(uint8_t MasterLevel);
    void XaudioPlayerNotifyStreamDuration(uint32_t Duration);
    void XaudioPlayerNotifyStreamParameters(uint32_t Frequency, int16_t Bitrate,
                                            uint8_t NbChannels);
    void XaudioPlayerNotifyError(const QString &Msg);

    // Every close (the close picture, Escape, the window system) ends here; the window's
    // place is kept for the next showing, in this run and the next.
    void done(int Result) override;
    void setVisible(bool Visible) override;

    // What the song line shows for a record: its title (and artist) when it is an MPEG file
    // with a title in its tag, else its file name.
    static QString SongInfo(const TFileParam &Record);
    // The stream-parameters line, e.g. "44100 Hz, Joint Stereo, 128 Kbps".
    static QString StreamParameters(uint32_t Frequency, int16_t Bitrate, uint8_t NbChannels);

protected:
    void showEvent(QShowEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    void changeEvent(QEvent *Event) override;
    bool event(QEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    // Draws the skins for the application palette's tone and the window's pixel ratio, when
    // either differs from what is shown.
    void ApplySkin();
    void ShowMuteState();
    // Before a file is opened: nothing of the previous file stays on the display.
    void ClearDisplay();
    void OpenInput(const QString &Path);
    void CreateControls();
    void ConnectPlayer();
    // Opens the selected file of the list (or the top visible one).
    void OpenSelected();
    // Row of the current file in the list, or -1.
    int FindCurrent(TFileListView &List) const;
    // Makes Row's file the current one and opens it; false when the row has no record.
    bool OpenRow(TFileListView &List, int Row);
    void ShowSongInfo();

    std::function<TFileListView *()> FCurrentList;
    TXaudioPlayer *XaudioPlayer = nullptr;
    QTimer *StartTime = nullptr;

    uint8_t FPlayState = 0; // 0 finished, 1 playing or opening, 2 paused, 3 stopped
    bool FMuted = false;
    bool FDragging = false; // a mouse button is down on either slider
    TSlider *FSeekSlider = nullptr;
    TSlider *FVolumeSlider = nullptr;
    TFileParam FCurrent;
    // Between an open and the library's answer, reports still under way about the previous
    // file are not shown.
    bool FAwaitingInput = false;
    uint32_t FDurationSeconds = 0;
    int64_t FElapsedMs = 0;
    TSkinTone FTone = TSkinTone::Light;
    qreal FRatio = 0; // none drawn yet
    std::map<QString, QPixmap> FSkins;

    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;
    TStaticText *SongInfoText = nullptr;
    QLabel *TimecodeText = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *DurationText = nullptr;
    TStaticText *StreamParametersText = nullptr;
    TSkinButton *ImagePlay = nullptr;
    TSkinButton *ImagePause = nullptr;
    TSkinButton *ImageStop = nullptr;
    TSkinButton *ImagePrev = nullptr;
    TSkinButton *ImageNext = nullptr;
    TSkinButton *ImageMute = nullptr;
    TSkinButton *ImageClick = nullptr;
    QLabel *TrackImage = nullptr;
    QLabel *ThumbNormalImage = nullptr;
    QLabel *ThumbHighlightedImage = nullptr;
    QLabel *ThumbClickedImage = nullptr;
    QLabel *TrackImage2 = nullptr;
    QLabel *ThumbNormalImage2 = nullptr;
    QLabel *ThumbHighlightedImage2 = nullptr;
    QLabel *ThumbClickedImage2 = nullptr;
    QLabel *ImageSoundOn = nullptr;
    QLabel *ImageSoundOff = nullptr;
    QAction *actPlay = nullptr;
    QAction *actPause = nullptr;
    QAction *actStop = nullptr;
    QAction *actPrev = nullptr;
    QAction *actNext = nullptr;
};
