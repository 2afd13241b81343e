#pragma once

// The encoder library interface: a small C API of stream handles and status codes over
// libmp3lame. One stream encodes one output file: beInitStream, beEncodeChunk as often as
// needed (or its 32-bit integer and float forms), beDeinitStream to flush, beGetInfoFrame for
// the Info header of a CBR stream or the VBR header when one was asked for, then beCloseStream.

#include <cstddef>
#include <cstdint>

extern "C" {

using BE_ERR = uint32_t;
using HBE_STREAM = uintptr_t;

// Status codes: 0 is success, anything else a refusal that callers pass on as a number.
inline constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
inline constexpr BE_ERR BE_ERR_INVALID_CONFIG = 1;   // record of unknown kind, version or size
inline constexpr BE_ERR BE_ERR_INVALID_SETTINGS = 2; // the engine refused the settings
inline constexpr BE_ERR BE_ERR_OUT_OF_MEMORY = 3;
inline constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
inline constexpr BE_ERR BE_ERR_TOO_MANY_SAMPLES = 5; // more than one call may take at once
inline constexpr BE_ERR BE_ERR_ENCODER_FAILED = 6;
inline constexpr BE_ERR BE_ERR_INVALID_ARGUMENT = 7; // a null pointer where one is required

inline constexpr uint32_t BE_CONFIG_LAME = 256;
inline constexpr uint32_t BE_CONFIG_STRUCT_VERSION = 1;

inline constexpr int32_t BE_MODE_STEREO = 0;
inline constexpr int32_t BE_MODE_JSTEREO = 1;
inline constexpr int32_t BE_MODE_DUALCHANNEL = 2;
inline constexpr int32_t BE_MODE_MONO = 3;

inline constexpr int32_t BE_QUALITY_NORMAL = 0;
inline constexpr int32_t BE_QUALITY_LOW = 1;
inline constexpr int32_t BE_QUALITY_HIGH = 2;
inline constexpr int32_t BE_QUALITY_VOICE = 3;

// Booleans of the record: true is passed as -1, any non-zero value counts as true.
using BE_BOOL = int32_t;
inline constexpr BE_BOOL BE_TRUE = -1;
inline constexpr BE_BOOL BE_FALSE = 0;

#pragma pack(push, 1)
struct BE_CONFIG {
    uint32_t dwConfig;        // BE_CONFIG_LAME
    uint32_t dwStructVersion; // BE_CONFIG_STRUCT_VERSION
    uint32_t dwStructSize;    // sizeof(BE_CONFIG)
    uint32_t dwSampleRate;    // input rate, Hz
    uint32_t dwReSampleRate;  // 0: the engine chooses the output rate
    int32_t nMode;            // BE_MODE_*
    uint32_t dwBitrate;       // CBR bitrate, or VBR minimum, kbit/s
    uint32_t dwMaxBitrate;    // VBR maximum, kbit/s
    int32_t nPreset;          // BE_QUALITY_*
    uint32_t dwMpegVersion;   // 1: MPEG-1
    uint32_t dwPsyModel;
    uint32_t dwEmphasis;
    BE_BOOL bPrivate;
    BE_BOOL bCRC;
    BE_BOOL bCopyright;
    BE_BOOL bOriginal;
    BE_BOOL bWriteVBRHeader;
    BE_BOOL bEnableVBR;
    int32_t nVBRQuality;     // 0 (best) .. 9
    BE_BOOL bFindReplayGain; // the engine's loudness analysis fills the Info frame's gain
    uint8_t btReserved[251];
};
#pragma pack(pop)
static_assert(sizeof(BE_CONFIG) == 331, "the configuration record is 331 packed bytes");
static_assert(offsetof(BE_CONFIG, nVBRQuality) == 72);

struct BE_VERSION {
    uint8_t byDLLMajorVersion; // version of this interface
    uint8_t byDLLMinorVersion;
    uint8_t byMajorVersion; // version of the engine
    uint8_t byMinorVersion;
    char zEngineVersion[32]; // the engine's own short version text
};

// Opens a stream. On success fills the number of 16-bit sample values wanted per chunk
// (all channels together), an output buffer size large enough for any one later call, and
// the stream handle.
BE_ERR beInitStream(const BE_CONFIG *pbeConfig, uint32_t *dwSamples, uint32_t *dwBufferSize,
                    HBE_STREAM *phbeStream);

// Encodes nSamples interleaved 16-bit values. pOutput must hold the buffer size given by
// beInitStream; *pdwOutput receives the bytes produced (possibly 0). A call may take at
// most 16 times the chunk size of beInitStream.
BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t *pSamples,
                     uint8_t *pOutput, uint32_t *pdwOutput);

// As beEncodeChunk, for samples of more than 16 bits: interleaved 32-bit integers scaled to
// the full 32-bit range (a 24-bit sample s is passed as s << 8), nSamples values.
BE_ERR beEncodeChunkInt32(HBE_STREAM hbeStream, uint32_t nSamples, const int32_t *pSamples,
                          uint8_t *pOutput, uint32_t *pdwOutput);

// As beEncodeChunk, for interleaved IEEE float samples with full scale at -1.0 and 1.0.
BE_ERR beEncodeChunkFloat(HBE_STREAM hbeStream, uint32_t nSamples, const float *pSamples,
                          uint8_t *pOutput, uint32_t *pdwOutput);

// Flushes the last frames into pOutput.
BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t *pOutput, uint32_t *pdwOutput);

// After beDeinitStream: the final VBR/Info header frame, which replaces the placeholder
// frame at the very start of the output. Every CBR stream has one (bWriteVBRHeader applies to
// VBR only); *pdwOutput is 0 for a VBR stream without a header.
// pOutput must hold BE_MAX_INFO_FRAME bytes.
inline constexpr uint32_t BE_MAX_INFO_FRAME = 2880;
BE_ERR beGetInfoFrame(HBE_STREAM hbeStream, uint8_t *pOutput, uint32_t *pdwOutput);

BE_ERR beCloseStream(HBE_STREAM hbeStream);

void beVersion(BE_VERSION *pbeVersion);
}
