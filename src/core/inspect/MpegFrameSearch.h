#pragma once

// The search of a file for its first run of MPEG audio frames, past tags and other formats,
// and the walks over the frames of a run that was found.

#include "inspect/MpegInfo.h"

#include <QString>
#include <QtGlobal>

class TBufferedReader;

// Why a load found no MPEG audio.
enum class TMpegProblem {
    None,             // found some, or nothing loaded yet
    Missing,          // no such file
    Unreadable,       // cannot be opened, or not a plain file
    TooShort,         // 5 bytes or fewer
    OtherFormat,      // its first bytes mark another kind of file (FLAC, Ogg, an executable...)
    NoFrameNearStart, // no run of frames where real MPEG audio would long have shown one
    NoFrameRun,       // no run of frames anywhere
    ReadError,        // reading failed
};

// How far past its start (behind a leading ID3v2 tag) a file may be searched for its first
// frame. Real files have at most a little junk there; past this it is some other data, and a
// huge file of it would hold the search for minutes.
inline constexpr qint64 MaxLeadingBytes = qint64(4) << 20;

// What the search found.
struct TFrameRun {
    TMpegProblem Problem = TMpegProblem::None; // None when a run was accepted
    QString OtherFormat;                       // with OtherFormat: what the first bytes showed
    qint64 HeaderPosition = -1; // the first header of the accepted run, -1 when none was
    qint64 AudioEnd = 0;        // where the audio ends, before the tags at the end of the file
};

// Searches the file that Reader reads, Length bytes long, for a run of frames of one stream,
// from behind a leading ID3v2 tag up to MaxLeadingBytes further. Info holds the facts of the
// file (name, date, length); on return it holds the header of the run's second frame when a
// run was accepted, and otherwise what was left of the last candidate looked at.
TFrameRun FindFrameRun(TBufferedReader &Reader, qint64 Length, TMPEGInfo &Info);

// Whether the frames of a stream keep one bit rate.
enum class TBitRateCheck { Constant, Variable, ReadError };

// How many frames the bit-rate check follows from the first one, and from each of the places
// a quarter, a half and three quarters into the audio where it picks up the stream again:
// encoders give the digital silence at the start of a track the lowest bit rate throughout,
// for seconds, and quiet passages too.
inline constexpr int BitRateCheckFrames = 64;
inline constexpr int BitRateCheckLaterFrames = 32;

// Looks at the frames of the stream whose first header lies at At (a coded bit rate, not
// free format) before End, in the places above. Variable when one of them has another bit
// rate than the first.
TBitRateCheck CheckBitRates(TBufferedReader &Reader, qint64 At, qint64 End);

// Counts the frames of the stream whose first header lies at At up to End, each one by its
// header: a frame cut off by End is not counted. Where the chain of frames breaks (a
// damaged stretch), the count goes on from the next header of the stream that another one
// follows. Every step moves forward, so the count ends at End whatever the bytes hold.
// -1 on a read error.
qint64 CountFrames(TBufferedReader &Reader, qint64 At, qint64 End);
