#pragma once

#include "settings/RegSetEx.h"

#include <QString>
#include <array>
#include <cstdint>

// The stored values of TConfig, in load order (Save writes them in this order except
// that LastOpenFolder is saved last). A plain value block, so that copying it copies every
// setting at once.
struct TConfigValues {
    int32_t ConvertType = 0; // 0 = WAV to MP3, 1 = MP3 to WAV
    bool SpecifyOutputFolder = true;
    bool OpenOutputFolder = true;
    QString OutputFolder = DefaultMusicFolder();
    QString FavoriteBrowsFolder = DefaultMusicFolder();
    bool FNormalizeVolume = false;
    int32_t NormalizeFactor = 98;
    bool OverwritePrompt = true;
    bool ShowErrorMessage = true;
    bool DeleteOriginalFile = false;
    bool PlaySound = true;
    bool PromptCheckOption = false;
    bool ShowMPEGInfo = false;
    QString LastOpenFolder;
    // The encoder group.
    int32_t SampleRate = 1;  // index into 48000, 44100, 32000, 22050 Hz
    int32_t BitRate = 8;     // index into BitrateTable
    int32_t MaxBitRate = 13; // index into BitrateTable
    int32_t Mode = 0;
    int32_t Quality = 0;
    int32_t VBRQuality = 4;
    bool VBR = false;
    bool WriteVBRHeader = false;
    bool Copyright = false;
    bool CRC = true;
    bool Original = false;
    bool Private = false; // stored as "_Private"
    int32_t WaveOutputOption = 0;

    bool operator==(const TConfigValues &) const = default;

    // The platform music folder, or the home folder when there is none.
    static QString DefaultMusicFolder();
};

// All user options of the converter and their store, "SOFTWARE\Brindle Team\Brindle\1.27"
// (on Linux ~/.config/Brindle Team/Brindle.conf, group [1.27]).
class TConfig : public TConfigValues {
public:
    // Defaults only; reads nothing.
    TConfig();

    // Reads every value, each with the field's current value as the default. An
    // ERegistryError stops the load at that value and propagates: the values before it
    // keep what was read, the rest keep their current values.
    bool Load();
    // Writes every value, LastOpenFolder last.
    bool Save();
    void Assign(const TConfig &Source);

    TRegSetEx &RegSetEx() { return FRegSetEx; }
    const TRegSetEx &RegSetEx() const { return FRegSetEx; }

private:
    TRegSetEx FRegSetEx;
};

// Bitrates in kbit/s of the stored indices BitRate and MaxBitRate.
inline constexpr std::array<int, 14> BitrateTable{32,  40,  48,  56,  64,  80,  96,
                                                  112, 128, 160, 192, 224, 256, 320};

// The bitrate of a stored index. Load takes indices as stored, so one outside 0..13 is
// clamped to the nearest valid entry rather than indexing outside the table.
int BitrateFromIndex(int Index);
