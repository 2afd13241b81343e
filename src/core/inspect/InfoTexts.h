#pragma once

#include "inspect/MP3WavComm.h"
#include "inspect/MPGTools.h"

#include <QStringList>
#include <cstdint>

// The read-only texts that describe a listed file's technical properties, built from what
// was stored when the file was added (the file is not read again).

// An MPEG list item as the tag editor and the MPEG info lines take it.
struct TMPEGFileInfo {
    bool Valid = false; // the item was read as MPEG audio
    TMPEGInfo Info;
};

// Frames in the file, estimated from the record: the audio bytes (the file without its
// ID3v1 tag) over the exact mean frame length of the bit rate; for a VBR file the bytes over
// the mean frame length the Xing header gave. 0 when the record has no usable header.
uint32_t MPEGFrameCount(const TMPEGInfo &Info);

// Nine lines (size, length, version and layer, bit rate and frames, sample rate and mode,
// CRCs, copyright, original, padding), preceded by "Unknow" when the item is not valid.
QStringList MPEGInfoLines(const TMPEGFileInfo &Pair);

// The name of a WAV format tag: "PCM" for 1, the common compressed and float formats by
// name, "tag N" for others.
QString WaveFormatName(uint16_t FormatTag);

// The eight lines of a readable WAV item; Duration is the item's play time in seconds. The
// format line names the header's format, so that a float or compressed file is not
// mistaken for PCM, followed by "(RF64)" or "(BW64)" for a file of the 64-bit forms.
QStringList WaveInfoLines(const TWaveFileInfo &Wave, int32_t Duration);
