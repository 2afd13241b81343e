#pragma once

#include "settings/Layout.h"
#include "settings/RegSetEx.h"

#include <QString>
#include <array>
#include <cstdint>
#include <span>
#include <variant>

// The stored values of TConfig, in load order (Save writes them in this order except
// that LastOpenFolder is saved last). A plain value block, so that copying it copies every
// setting at once; a snapshot can be handed to a worker. The defaults are those of
// ConfigSettings(), set by the constructor.
struct TConfigValues {
    TConfigValues();

    int32_t ConvertType{}; // 0 = WAV to MP3, 1 = MP3 to WAV
    bool SpecifyOutputFolder{};
    bool OpenOutputFolder{};
    QString OutputFolder;
    QString FavoriteBrowsFolder;
    bool FNormalizeVolume{};
    int32_t NormalizeFactor{};
    bool OverwritePrompt{};
    bool ShowErrorMessage{};
    bool DeleteOriginalFile{};
    bool PlaySound{};
    bool PromptCheckOption{};
    bool ShowMPEGInfo{};
    QString LastOpenFolder;
    // The encoder group.
    int32_t SampleRate{}; // index into 48000, 44100, 32000, 22050 Hz
    int32_t BitRate{};    // index into BitrateTable
    int32_t MaxBitRate{}; // index into BitrateTable
    int32_t Mode{};
    int32_t Quality{};
    int32_t VBRQuality{};
    bool VBR{};
    bool WriteVBRHeader{};
    bool Copyright{};
    bool CRC{};
    bool Original{};
    bool Private{}; // stored as "_Private"
    int32_t WaveOutputOption{};

    bool operator==(const TConfigValues &) const = default;

    // The platform music folder, or the home folder when there is none.
    static QString DefaultMusicFolder();
};

// One stored setting: the field that holds it, in memory as in the store, and its default.
// An integer is stored as a number, a switch as the number 0 or 1, a text as a string.
template <typename T, typename TDefault> struct TSettingField {
    T TConfigValues::*Field;
    TDefault Default;
};
using TIntegerSetting = TSettingField<int32_t, int32_t>;
using TSwitchSetting = TSettingField<bool, bool>;
// Text defaults are computed when applied: the music folder depends on the environment.
using TTextSetting = TSettingField<QString, QString (*)()>;

enum class TSettingType { Integer, Switch, Text };

struct TSetting {
    const char *Name; // the value name in the store
    std::variant<TIntegerSetting, TSwitchSetting, TTextSetting> Value;
    bool SavedLast = false; // written after every other value

    TSettingType Type() const { return TSettingType(Value.index()); }
};

// Every stored setting, once each, in load order. Load, Save, Assign and the defaults of
// TConfigValues walk this table.
std::span<const TSetting> ConfigSettings();

// All user options of the converter and their store, "SOFTWARE\Brindle Team\Brindle\1.27"
// (on Linux ~/.config/Brindle Team/Brindle.conf, group [1.27]).
class TConfig : public TConfigValues {
public:
    // Defaults only; reads nothing.
    TConfig();

    // Reads every value, each with the field's current value as the default. A value of
    // the wrong type takes its default and the others still load; then ERegistryError
    // carries one line per such value. A store file that is not a regular file, or cannot
    // be read, throws before anything is read: every field keeps its value.
    bool Load();
    // Writes every value (LastOpenFolder last) in one write of the store, which replaces
    // the file whole or not at all. Throws ERegistryError with the file and the reason when
    // the store cannot be written, cannot be read (or is not a regular file).
    bool Save();
    // Copies every stored setting of Source.
    void Assign(const TConfig &Source);

    // How many files a batch converts at once, stored as "ConvertJobs" after the table's
    // values (before LastOpenFolder, which stays the last one written). 0, the default,
    // means one per core; 1 converts file after file.
    int32_t ConvertJobs = 0;
    // Carry the source's tags into each output, stored as "CopyTags" after ConvertJobs.
    bool CopyTags = true;
    // With an output folder: files added through a folder go to the same sub-folders below
    // it as below the added folder. Stored as "KeepFolderStructure" after CopyTags.
    bool KeepFolderStructure = true;
    // With FNormalizeVolume: 0 brings each file to NormalizeFactor percent peak, 1 to the
    // integrated loudness LoudnessTarget (LUFS) with its true peak at most TruePeakCeiling
    // tenths of a dB (dBTP x 10). Stored under these names after KeepFolderStructure; a value
    // out of its range is reported and defaulted.
    int32_t NormalizeMode = 0;
    int32_t LoudnessTarget = -16;
    int32_t TruePeakCeiling = -10;
    static constexpr int MinLoudnessTarget = -31;
    static constexpr int MaxLoudnessTarget = -5;
    static constexpr int MinTruePeakCeiling = -90;
    static constexpr int MaxTruePeakCeiling = 0;
    // Measure each output's audio and tag it with its ReplayGain track gain and peak.
    // Stored as "WriteReplayGain" after TruePeakCeiling.
    bool WriteReplayGain = false;
    // The windows' sizes, positions, column widths and sort orders, in the group "Layout"
    // of the same store. Load replaces them with the stored ones (a value of another type
    // is left out without a word), Save writes them; Assign leaves them alone.
    TLayoutValues Layout;
    // ConvertJobs as a number of files: at least 1, at most MaxConvertJobs.
    int ConvertJobCount() const;
    static constexpr int MaxConvertJobs = 64;

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
