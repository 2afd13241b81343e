#pragma once

#include <QString>
#include <QTime>
#include <QtGlobal>
#include <array>
#include <cstdint>

// Shared helpers of the inspection code: the WAV header reader, the file kinds by
// extension, play-time texts and small text helpers.

// The 44-byte canonical RIFF/WAVE header, decoded little-endian from raw bytes.
struct TWaveHeader {
    std::array<char, 4> RiffId{};
    uint32_t RiffSize = 0;
    std::array<char, 4> WaveId{};
    std::array<char, 4> FmtId{};
    uint32_t FmtSize = 0;
    uint16_t FormatTag = 0;
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;
    uint32_t BytesPerSecond = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    std::array<char, 4> DataId{};
    uint32_t DataSize = 0;

    static constexpr int Size = 44;

    // Decodes exactly Size bytes.
    static TWaveHeader FromBytes(const uint8_t *bytes);
    // "RIFF" at offset 0 and "WAVE" at offset 8.
    bool IsRiffWave() const;

    bool operator==(const TWaveHeader &) const = default;
};

// What the WAV header reader found. FileSize and Duration are set only when Valid; the
// header holds the bytes that were read in any case.
struct TWaveFileInfo {
    bool Valid = false;
    qint64 FileSize = 0; // 64-bit: WAV files over 2 GiB are legal
    int32_t Duration = 0;
    TWaveHeader Header;
    qint64 DataOffset = 0;
    qint64 DataLength = 0;
    bool IsFloat = false;
};

// True when the file starts with a RIFF/WAVE header whose byte rate is not 0; Info is
// cleared first and filled as far as the file allows. Throws EFOpenError when the file
// cannot be opened.
bool ReadWaveFileInfo(const QString &FileName, TWaveFileInfo &Info);

bool IsMPEGAudioFile(const QString &FileName);       // .MP3, .MP2, .MP1
bool IsMPEGAudioOrPlaylist(const QString &FileName); // those, .M3U, .PLS
bool IsWaveFile(const QString &FileName);            // .WAV
bool IsWaveOrPlaylist(const QString &FileName);      // .WAV, .M3U, .PLS

// Time of day of a number of seconds; throws EConvertError("Invalid argument to time
// encode") for a negative number or 86400 and more.
QTime SecondsToTime(int Seconds);
// "hh:mm:ss" of SecondsToTime, with its failures.
QString SecondsToText(int Seconds);
QString YesNoText(bool Flag);
// The path with the platform separator appended, unless it is empty or already ends in
// '/' or '\'.
QString WithTrailingSeparator(const QString &Path);
