#pragma once

#include "sources/PcmSource.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

class QIODevice;

// PCM sources other than the WAV files our own reader takes: FLAC, AIFF/AIFC, Ogg Vorbis and
// Opus, W64, CAF, RF64 and the WAV shapes our reader refuses, all read through libsndfile.

// What libsndfile found in a file. Everything but Valid, Problem and FileSize is set only
// when Valid.
struct TSoundFileInfo {
    bool Valid = false;
    QString Problem;    // why the file cannot be read, when not Valid
    QString Format;     // the container: "FLAC", "AIFF", "AIFC", "Ogg", "W64", "CAF", ...
    QString SubFormat;  // the samples: "16-bit", "24-bit", "32-bit float", "Vorbis", ...
    QString FormatText; // both for people: "FLAC 24-bit", "Ogg Vorbis"
    int SampleRate = 0;
    int Channels = 0;
    qint64 Frames = 0;
    double Duration = 0; // seconds
    qint64 FileSize = 0;
    // Samples that are floating point as stored, or come out of a lossy decoder as such.
    bool IsFloat = false;
    // Bits per stored sample of integer and float formats; 0 for companded, ADPCM and lossy
    // formats, which have no depth of their own.
    int Bits = 0;
    // How the samples reach the encoder without losing anything.
    TPcmSampleType SampleType = pstInt16;
};

// The extensions of the sources libsndfile opens for us (any letter case): .flac .aif .aiff
// .aifc .ogg .oga .opus .w64 .caf .rf64. WAV is not among them: it is tried only where our
// own reader refuses a file.
bool IsSoundFileName(const QString &FileName);

// Describes the file open in Device (any position). Info.FileSize is the device's size.
// Never throws; a file libsndfile cannot read, or MPEG audio (decoded elsewhere, never
// taken as a PCM source), leaves Info not Valid with its Problem.
void ReadSoundFile(QIODevice &Device, TSoundFileInfo &Info);
// The same for a file by name; throws EFOpenError when it cannot be opened.
bool ReadSoundFileInfo(const QString &FileName, TSoundFileInfo &Info);

// The info window's lines for a readable sound file, in the order and wording of the WAV
// lines where they apply; Duration is the listed play time in seconds. A lossy format has
// no bits per sample and no line for them.
QStringList SoundInfoLines(const TSoundFileInfo &Info, int32_t Duration);

// Why a readable sound file cannot be encoded, or empty when it can: the encoder takes mono
// and stereo at 1 Hz to 768 kHz with at least one frame.
QString UnsupportedSoundFile(const TSoundFileInfo &Info);

// Reads the audio of the file open in Device (kept open by the caller for the source's
// lifetime) through libsndfile. When Expected is given, the file must still be what it
// describes. Returns nothing when the file cannot be read, with the reason in Problem.
std::unique_ptr<TPcmSource> OpenSoundFileSource(QIODevice &Device, const TSoundFileInfo *Expected,
                                                QString &Problem);

// Whether this libsndfile decodes MPEG audio (it may be built without it).
bool SoundFileDecodesMpeg();

// Reads the decoded audio of the MPEG file open in Device through libsndfile, as float, to
// check what an encoder wrote; never a source to encode. SampleRate takes the file's rate.
// Returns nothing when the file is not MPEG audio libsndfile reads, with the reason in
// Problem.
std::unique_ptr<TPcmSource> OpenDecodedMpeg(QIODevice &Device, int &SampleRate, QString &Problem);
