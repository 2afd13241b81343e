#pragma once

#include "inspect/Id3v1.h"
#include "inspect/MpegFrameSearch.h"
#include "inspect/MpegHeader.h"
#include "inspect/MpegInfo.h"
#include "platform/Exception.h"

#include <QString>
#include <QTime>
#include <QtGlobal>
#include <array>
#include <cstdint>

// MPEG audio inspection of one file at a time: the record of its first frame, play time and
// ID3v1 tag, and the change of that tag. The headers included above hold the parts.

// A read or write failure after a file was opened for a tag change.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// Inspects one MPEG audio file at a time: finds the first real frame, decodes its header,
// works out the play time, reads the ID3v1 tag, and writes or removes that tag.
class TMPEGAudio {
public:
    TMPEGAudio();

    void ResetData();
    QString FileName() const { return FInfo.FileName; }
    // Stores the name and, with AutoLoad, loads the file at once.
    void SetFileName(const QString &Value);
    bool AutoLoad = true;
    // Fills the record from the file named by FileName. Never throws; a file that cannot be
    // understood leaves an invalid record.
    void LoadData();

    bool IsValid() const;
    bool HasTag() const;
    QString DisplayTitle() const;
    QString DisplayArtist() const;
    // Duration as a time of day; invalid (null) for a day or more, which a time cannot hold.
    QTime DurationTime() const;
    const TMPEGInfo &Data() const { return FInfo; }
    // The play time in microseconds, not cut to whole seconds as Duration is; 0 when unknown.
    qint64 DurationMicroseconds() const { return FDurationUs; }
    // Offset of the first header of the accepted run of frames, or -1 when none was accepted.
    qint64 HeaderPosition() const { return FHeaderPosition; }
    // Why the last load found no MPEG audio, as kind and as text for the user ("not MPEG
    // audio: FLAC file"); None and empty when it found some.
    TMpegProblem ProblemKind() const { return FProblem; }
    QString Problem() const;

    void SetTitle(const QString &Value) { FInfo.Title = Value; }
    void SetArtist(const QString &Value) { FInfo.Artist = Value; }
    void SetAlbum(const QString &Value) { FInfo.Album = Value; }
    void SetComment(const QString &Value) { FInfo.Comment = Value; }
    void SetYear(const QString &Value) { FInfo.Year = Value; }
    void SetGenre(uint8_t Value) { FInfo.Genre = Value; }
    void SetTrack(uint8_t Value) { FInfo.Track = Value; }

    // Writes the record's tag fields over any tag at the end of the file, then reloads.
    // 0 = written, -1 = no such file, else the errno of opening the file (nothing changed).
    // Throws EInOutError when reading or writing fails after opening, once the file is
    // closed, put back as it was and reloaded.
    int WriteTag();
    // Cuts the tag off the end of the file, if there is one, then reloads. Results as WriteTag.
    int RemoveTag();

    TShortString<30> DefaultArtist;
    TShortString<30> DefaultTitle;

private:
    // A frame count that a VBR header or the frames themselves gave.
    struct TVbrCount {
        uint32_t Frames = 0; // 0: the first frame's bit rate stands for the file
        bool ReadError = false;
    };
    // For a file without a Xing header: the frame count of a VBRI header, or, when the
    // frames' bit rates differ, the frames counted up to AudioEnd.
    TVbrCount CountVbrFrames(TBufferedReader &Reader, qint64 AudioEnd);
    // BitRate -1, and Duration and the mean FrameLength of Frames frames.
    void SetVbrFrames(uint32_t Frames);
    int ChangeTag(const std::array<uint8_t, ID3v1Size> *NewTag);
    void SetProblem(TMpegProblem Problem);

    TMPEGInfo FInfo;
    qint64 FHeaderPosition = -1;
    qint64 FDurationUs = 0;
    TMpegProblem FProblem = TMpegProblem::None;
    QString FOtherFormat; // what the first bytes showed the file to be
};
