#pragma once

#include "inspect/WaveReader.h"

#include <QString>
#include <QTime>

// Shared helpers of the inspection code: the WAV header reader, the file kinds by
// extension, play-time texts and small text helpers.

// True when the file is a WAV file whose header can describe real audio (ReadWaveFile on
// the opened file; WaveFileProblem says why not). Throws EFOpenError when the file cannot
// be opened.
bool ReadWaveFileInfo(const QString &FileName, TWaveFileInfo &Info);

bool IsMPEGAudioFile(const QString &FileName);       // .MP3, .MP2, .MP1
bool IsMPEGAudioOrPlaylist(const QString &FileName); // those, .M3U, .M3U8, .PLS
bool IsWaveFile(const QString &FileName);            // .WAV
bool IsWaveOrPlaylist(const QString &FileName);      // .WAV, .M3U, .M3U8, .PLS

// Time of day of a number of seconds; throws EConvertError("Invalid argument to time
// encode") for a negative number or 86400 and more.
QTime SecondsToTime(int Seconds);
// "hh:mm:ss" of SecondsToTime, with its failures.
QString SecondsToText(int Seconds);
QString YesNoText(bool Flag);
// The path with the platform separator appended, unless it is empty or already ends in
// '/' or '\'.
QString WithTrailingSeparator(const QString &Path);
