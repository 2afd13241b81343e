#pragma once

#include "inspect/WaveReader.h"
#include "sources/PcmSource.h"
#include "sources/SoundFile.h"

#include <QString>

#include <memory>

class QIODevice;

// Which reader a source file takes.
enum TSourceKind {
    skNone,      // neither: raw PCM to the encoder, or not audio at all
    skWave,      // our own WAV reader
    skSoundFile, // libsndfile
};

// A source file as the WAV reader and libsndfile saw it.
struct TSourceInfo {
    TSourceKind Kind = skNone;
    TWaveFileInfo Wave;   // what the WAV reader found (for every kind)
    TSoundFileInfo Sound; // what libsndfile found, for skSoundFile

    int Channels() const;
    int SampleRate() const;
    qint64 Frames() const;
};

// Decides how the file open in Device, named Name, is read: a RIFF/WAVE file stays with our
// reader, unless its header is sound but its sample format one the reader does not decode
// (A-law, ADPCM, ...) and libsndfile reads it. Other files go to libsndfile by their
// extension (IsSoundFileName, or .wav as a last try: RF64 and misnamed files). Never throws
// for the file's contents.
TSourceInfo ReadSourceInfo(QIODevice &Device, const QString &Name);
// The same by name; throws EFOpenError when the file cannot be opened.
TSourceInfo ReadSourceInfo(const QString &Path);

// Why a source cannot be encoded, or empty when it can. For WAV files the texts of the WAV
// reader and the encoder; for skNone, that it is neither WAV nor a format libsndfile reads.
QString SourceProblem(const TSourceInfo &Info);

// A reader of the frames Info describes, over Device (kept open by the caller), or nothing
// with the reason in Problem. Info must be skWave or skSoundFile.
std::unique_ptr<TPcmSource> OpenPcmSource(QIODevice &Device, const TSourceInfo &Info,
                                          QString &Problem);
