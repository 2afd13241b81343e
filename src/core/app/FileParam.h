#pragma once

#include "inspect/MP3WavComm.h"
#include "inspect/MPGTools.h"
#include "platform/FilePaths.h"
#include "sources/SoundFile.h"
#include "tags/TagSet.h"

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>

// The record behind every row of the two file lists and the job record of a conversion
// batch, with the list logic that needs no widgets: cell texts, duplicate test, sort order
// and the status-bar summary.

// Conversion state of one item; the values are the ones the batch runner stores.
enum TConvState : int32_t {
    stError = 0,
    stQueued = 1,
    stProcessing = 2,
    stDone = 3,
    stAborted = 4,
    stAbortedRemoved = 5,
    stDoneRemoveSource = 6,
    stRemoveFailed = 7
};

// Text of each state in the State column, indexed by the state.
extern const std::array<QString, 8> StateText;
// The State column text; empty for a value outside the table.
QString StateColumnText(int32_t State);

// fkAudio: a PCM source other than WAV (FLAC, AIFF, Ogg, ...), read through libsndfile.
enum TFileKind : uint8_t { fkMpeg = 0, fkWave = 1, fkAudio = 2, fkUnreadable = 5 };

// Which direction a list serves: the WAV list (ConvertType 0) or the MPEG list.
enum TListKind { lkWave = 0, lkMpeg = 1 };

inline TListKind ListKindOfConvertType(int ConvertType) {
    return ConvertType == 0 ? lkWave : lkMpeg;
}

struct TFileParam {
    int32_t ListIndex = 0;
    QString FileName;   // name without folder, the row caption
    QString SourcePath; // as supplied by the dialog, a drop or a playlist
    // The folder the file was added through, cleaned and absolute: the added folder for a
    // file found by walking one, else the file's own folder. An output folder that keeps the
    // folder structure mirrors the path below it.
    QString BaseFolder;
    QString DestPath;
    // When set, the missing folders of DestPath below this folder are made as the job starts
    // (an output folder that keeps the added folders' structure). The folder itself must
    // exist: one that vanished, as an unplugged card does, is not made again elsewhere.
    QString DestRoot;
    int32_t Duration = 0; // whole seconds
    // The exact play time in microseconds, for sums that whole seconds would cut short; 0
    // when it is not known (Duration then stands for it).
    qint64 DurationUs = 0;
    TMPEGInfo MpegData;
    TWaveFileInfo WaveData;
    TSoundFileInfo SoundData; // for fkAudio
    // Of MPEG rows: the tags beyond ID3v1 as TagLib read them, without the picture (a list of
    // thousands of rows keeps no covers).
    TTagSet Tags;
    TFileKind Kind = fkUnreadable;
    int32_t State = stQueued;
    // Why an fkUnreadable file is not read as its list's format ("not MPEG audio: FLAC file").
    QString Problem;

    bool IsReadable() const { return Kind == fkMpeg || Kind == fkWave || Kind == fkAudio; }
    // The source's rate as listed: what the encoder is set up for.
    uint32_t SourceSampleRate() const {
        return Kind == fkAudio ? uint32_t(SoundData.SampleRate) : WaveData.Header.SampleRate;
    }
};

// True when both paths name the same file as the file system sees it: on Linux names are
// case-sensitive, so "A.MP3" and "a.mp3" are two files; "//" and "./" steps do not count.
bool SameFilePath(const QString &A, const QString &B);
// The key under which SameFilePath treats paths as equal.
QString FilePathKey(const QString &Path);

// The Time column: "nn:ss" under an hour, else "hh:nn:ss"; a day or more keeps counting
// hours ("25:00:00") rather than refusing a long recording.
QString DurationColumnText(int64_t Seconds);
// The Size column: bytes / 1024 / 1024 with two decimals in the locale's form, then "MB".
QString SizeColumnText(qint64 Bytes, const QLocale &Locale = QLocale());

// The play time of a record in microseconds: DurationUs, or Duration when that is unknown.
qint64 PlayMicroseconds(const TFileParam &Record);

// The State column of a row: "Unreadable: <why>" for a file its list cannot read, else the
// text of its State.
QString RowStateText(const TFileParam &Record);

// Sort comparison of two cell texts: letters A..Z fold to one case, everything else by
// character code. Negative, 0 or positive.
int CompareListTexts(const QString &A, const QString &B);

// The numbers of the two status-bar panes.
struct TListSummary {
    int Rows = 0;
    int Selected = 0;
    // Whole seconds of the exact sums below: many short files add up to their real length.
    qint64 TotalSeconds = 0;
    qint64 SelectedSeconds = 0;
    qint64 TotalMicroseconds = 0;
    qint64 SelectedMicroseconds = 0;

    // Counts a row: readable rows add their exact play time, others count only as files.
    void AddRow(const TFileParam *Record, bool IsSelected);

    QString SelectedText() const;
    QString TotalText() const;
};

// The panes' captions before the first update.
extern const QString InitialSelectedText;
extern const QString InitialTotalText;

// The folder of SourcePath relative to BaseFolder ("Album/CD 1"), or "" when the file lies
// in BaseFolder itself, not below it, or has no base.
QString SourceFolderBelowBase(const QString &SourcePath, const QString &BaseFolder);

// The output path of a conversion: the output folder (with a trailing separator added) when
// one is specified, else the source's own folder, then the file name with its extension
// replaced by Ext (appended when the name has none). With an output folder and
// KeepFolderStructure, the source's folder below its BaseFolder is put between the two
// ("out/Album/CD 1/song.MP3"); a file added by itself goes straight into the output folder.
QString ConversionDestPath(const TFileParam &Record, bool SpecifyOutputFolder,
                           const QString &OutputFolder, const QString &Ext,
                           bool KeepFolderStructure = false);
