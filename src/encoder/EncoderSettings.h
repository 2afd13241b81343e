#pragma once

#include <cstdint>

class TLameCoder;
class TConfig;

// Hands the stored encoder settings to an encoder before a file is encoded. The sample
// rate is the file's own, not the stored one. Stored values out of range are brought to
// the nearest valid value rather than handed on.
void ApplyEncoderSettings(TLameCoder &Coder, const TConfig &Settings, uint32_t FileSampleRate);
