#include "encoder/EncoderSettings.h"

#include "encoder/LameCoder.h"
#include "settings/Config.h"

#include <algorithm>

void ApplyEncoderSettings(TLameCoder &Coder, const TConfigValues &Settings,
                          uint32_t FileSampleRate) {
    Coder.SetSampleRate(FileSampleRate);
    Coder.SetBitrate(uint32_t(BitrateFromIndex(Settings.BitRate)));
    Coder.SetMaxBitrate(uint32_t(BitrateFromIndex(Settings.MaxBitRate)));
    Coder.SetMode(TLameMode(std::clamp(Settings.Mode, int(STEREO), int(MONO))));
    Coder.SetQuality(
        MPEG_QUALITY(std::clamp(Settings.Quality, int(NORMAL_QUALITY), int(VOICE_QUALITY))));
    Coder.SetVBRQuality(std::clamp(Settings.VBRQuality, 0, 9));
    Coder.SetEnableVBR(Settings.VBR);
    // After EnableVBR, which sets the header flag too: the stored choice wins.
    Coder.SetWriteVBRHeader(Settings.WriteVBRHeader);
    Coder.SetCopyright(Settings.Copyright);
    Coder.SetCRC(Settings.CRC);
    Coder.SetOriginal(Settings.Original);
    Coder.SetPrivate(Settings.Private);
}
