#pragma once

// MPEG audio frame headers decoded from their bits, and the Xing VBR header; no file access.

#include "inspect/MpegInfo.h"

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

extern const std::array<QString, 4> MPEGVersionText;
extern const std::array<QString, 4> MPEGLayerText;
extern const std::array<QString, 4> MPEGModeText;

// The four bytes at B as one number, the first the most significant, as headers are stored.
inline uint32_t BigEndian32(const uint8_t *B) {
    return uint32_t(B[0]) << 24 | uint32_t(B[1]) << 16 | uint32_t(B[2]) << 8 | uint32_t(B[3]);
}

// The cheap part of header validity, on the raw bits: sync, and no reserved version, layer,
// bit-rate or sample-rate code. The search runs this on every byte offset.
inline bool MayBeHeader(uint32_t H) {
    return (H & 0xFFE00000u) == 0xFFE00000u && ((H >> 19) & 3) != 1 && ((H >> 17) & 3) != 0 &&
           ((H >> 12) & 15) != 0 && ((H >> 12) & 15) != 15 && ((H >> 10) & 3) != 3;
}

// A header whose bit-rate index is 0 ("free format"): the rest must be usable. Its frame
// length is not coded; it is the distance to the next header of the same stream.
inline bool MayBeFreeFormatHeader(uint32_t H) {
    return (H & 0xFFE00000u) == 0xFFE00000u && ((H >> 19) & 3) != 1 && ((H >> 17) & 3) != 0 &&
           ((H >> 12) & 15) == 0 && ((H >> 10) & 3) != 3;
}

// Decodes a frame header given as its four bytes in file order, big-endian. Clears and fills
// Version, Layer, SampleRate, BitRate, Mode, the four flags and FrameLength, and sets Duration
// from Info.Length and the bit rate. True when sync, version, layer, bit rate and sample rate
// are all usable.
bool DecodeFrameHeader(uint32_t H, TMPEGInfo &Info);
// Bytes of the frame whose header is H, padding included, as DecodeFrameHeader gives them;
// 0 when H is no valid header, a free-format one included (its length is not coded).
int FrameBytes(uint32_t H);
// The header's 4-bit bit-rate code; a VBR stream changes it from frame to frame.
inline int BitRateIndex(uint32_t H) {
    return int(H >> 12) & 15;
}
// Samples in one frame: 384 for Layer I, 576 for Layer III of MPEG 2 and 2.5, else 1152.
int SamplesPerFrame(int Version, int Layer);
// Distance in bytes from a frame header to the "Xing" id of a VBR header frame, by the
// frame's version and channel mode (the side information lies in between).
int XingOffset(int Version, int Mode);
// Play time in whole seconds of AudioBytes of constant-bit-rate audio (kbit/s); 0 when either
// is not positive.
uint32_t CbrDuration(qint64 AudioBytes, int BitRate);
// Play time in whole seconds of Frames frames at a positive SampleRate, rounded to the nearest
// second, halves to the even one.
uint32_t VbrDuration(uint32_t Frames, int Version, int Layer, int SampleRate);

// The fields of a Xing VBR header; only those whose flag bit is set (and that fit) are read.
struct TXingHeader {
    bool Present = false; // the bytes begin with "Xing"
    uint32_t Flags = 0;
    uint32_t Frames = 0;  // flag bit 0
    uint32_t Bytes = 0;   // flag bit 1
    uint32_t Quality = 0; // flag bit 3, after the 100-byte table of contents (bit 2)
};
// Bytes start at the "Xing" id; at most 120 of them are looked at.
TXingHeader ParseXingHeader(const uint8_t *Bytes, size_t Size);
// True when the bytes at the Xing offset begin with "Info": the header frame that encoders
// put in front of a constant-bit-rate stream.
bool IsInfoHeader(const uint8_t *Bytes, size_t Size);

// The other VBR header, of a fixed layout: the id "VBRI" 32 bytes after the first frame's
// four header bytes, then big-endian fields and a seek table. Read only when complete up to
// the table and of version 1, the only layout there is.
inline constexpr int VbriOffset = 36;
inline constexpr size_t VbriFixedSize = 26;
struct TVbriHeader {
    bool Present = false;
    uint16_t Version = 0;
    uint16_t Delay = 0; // encoder delay in samples
    uint16_t Quality = 0;
    uint32_t Bytes = 0;  // bytes of the stream
    uint32_t Frames = 0; // frames of the stream
    uint16_t TableEntries = 0;
    uint16_t TableScale = 0;
    uint16_t EntryBytes = 0; // 1 to 4
    uint16_t FramesPerEntry = 0;
};
// Bytes start at the "VBRI" id.
TVbriHeader ParseVbriHeader(const uint8_t *Bytes, size_t Size);
