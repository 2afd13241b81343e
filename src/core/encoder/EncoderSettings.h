#pragma once

#include <cstdint>

class TLameCoder;
struct TConfigValues;

// Hands the stored encoder settings to an encoder before a file is encoded: the one place
// that reads the encoder group. The sample rate is the file's own, not the stored one.
// Stored values out of range are brought to the nearest valid value rather than handed on.
// What the options window shows as not applying does not act here either: without VBR the
// MPEG quality is Normal and the maximum, VBR quality and header choice play no part; with
// VBR the maximum is at least the minimum.
// Settings may be Config itself or a copy of its values taken for a worker thread.
void ApplyEncoderSettings(TLameCoder &Coder, const TConfigValues &Settings,
                          uint32_t FileSampleRate);
