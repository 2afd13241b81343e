#include "encoder/EncoderSettings.h"

#include "encoder/LameCoder.h"
#include "settings/Config.h"

#include <algorithm>

void ApplyEncoderSettings(TLameCoder &Coder, const TConfigValues &Settings,
                          uint32_t FileSampleRate) {
    const uint32_t bitrate = uint32_t(BitrateFromIndex(Settings.BitRate));
    const uint32_t maxBitrate = uint32_t(BitrateFromIndex(Settings.MaxBitRate));
    Coder.SetSampleRate(FileSampleRate);
    Coder.SetBitrate(bitrate);
    // The options window never shows a VBR maximum below the minimum: it moves the maximum up.
    Coder.SetMaxBitrate(Settings.VBR ? std::max(maxBitrate, bitrate) : maxBitrate);
    Coder.SetMode(TLameMode(std::clamp(Settings.Mode, int(STEREO), int(MONO))));
    // The options window greys the quality out without VBR, so it must not act then either
    // (voice would still cut constant-bitrate files at 12 kHz).
    Coder.SetQuality(Settings.VBR ? MPEG_QUALITY(std::clamp(Settings.Quality, int(NORMAL_QUALITY),
                                                            int(VOICE_QUALITY)))
                                  : NORMAL_QUALITY);
    Coder.SetVBRQuality(std::clamp(Settings.VBRQuality, 0, 9));
    Coder.SetEnableVBR(Settings.VBR);
    // After EnableVBR, which sets the header flag too: the stored choice wins.
    Coder.SetWriteVBRHeader(Settings.WriteVBRHeader);
    Coder.SetCopyright(Settings.Copyright);
    Coder.SetCRC(Settings.CRC);
    Coder.SetOriginal(Settings.Original);
    Coder.SetPrivate(Settings.Private);
}
