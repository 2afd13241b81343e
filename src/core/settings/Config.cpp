#include "settings/Config.h"

#include <QDir>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>
#include <algorithm>

namespace {

// The key's last level: the program's version.
const QString Section = QStringLiteral("1.27");
// The windows' layout, beside the options.
const QString LayoutSection = QStringLiteral("Layout");

using V = TConfigValues;

constexpr TSetting Integer(const char *Name, int32_t V::*Field, int32_t Default) {
    return {Name, TIntegerSetting{Field, Default}};
}

constexpr TSetting Switch(const char *Name, bool V::*Field, bool Default) {
    return {Name, TSwitchSetting{Field, Default}};
}

constexpr TSetting Text(const char *Name, QString V::*Field, QString (*Default)(),
                        bool SavedLast = false) {
    return {Name, TTextSetting{Field, Default}, SavedLast};
}

QString NoText() {
    return QString();
}

constexpr bool SaveLast = true;

const QString ConvertJobsName = QStringLiteral("ConvertJobs");
const QString CopyTagsName = QStringLiteral("CopyTags");
const QString KeepFolderStructureName = QStringLiteral("KeepFolderStructure");
const QString WriteReplayGainName = QStringLiteral("WriteReplayGain");

// The loudness settings: name, field, default and range.
struct TRangedSetting {
    const char *Name;
    int32_t TConfig::*Field;
    int32_t Default;
    int32_t Min;
    int32_t Max;
};

const TRangedSetting RangedSettings[] = {
    {"NormalizeMode", &TConfig::NormalizeMode, 0, 0, 1},
    {"LoudnessTarget", &TConfig::LoudnessTarget, -16, TConfig::MinLoudnessTarget,
     TConfig::MaxLoudnessTarget},
    {"TruePeakCeiling", &TConfig::TruePeakCeiling, -10, TConfig::MinTruePeakCeiling,
     TConfig::MaxTruePeakCeiling},
};

constexpr TSetting Settings[] = {
    Integer("ConvertType", &V::ConvertType, 0),
    Switch("SpecifyOutputFolder", &V::SpecifyOutputFolder, true),
    Switch("OpenOutputFolder", &V::OpenOutputFolder, true),
    Text("OutputFolder", &V::OutputFolder, &V::DefaultMusicFolder),
    Text("FavoriteBrowsFolder", &V::FavoriteBrowsFolder, &V::DefaultMusicFolder),
    Switch("FNormalizeVolume", &V::FNormalizeVolume, false),
    Integer("NormalizeFactor", &V::NormalizeFactor, 98),
    Switch("OverwritePrompt", &V::OverwritePrompt, true),
    Switch("ShowErrorMessage", &V::ShowErrorMessage, true),
    Switch("DeleteOriginalFile", &V::DeleteOriginalFile, false),
    Switch("PlaySound", &V::PlaySound, true),
    Switch("PromptCheckOption", &V::PromptCheckOption, false),
    Switch("ShowMPEGInfo", &V::ShowMPEGInfo, false),
    // The last folder opened is always the last value saved.
    Text("LastOpenFolder", &V::LastOpenFolder, &NoText, SaveLast),
    Integer("SampleRate", &V::SampleRate, 1),
    Integer("BitRate", &V::BitRate, 8),
    Integer("MaxBitRate", &V::MaxBitRate, 13),
    Integer("Mode", &V::Mode, 0),
    Integer("Quality", &V::Quality, 0),
    Integer("VBRQuality", &V::VBRQuality, 4),
    Switch("VBR", &V::VBR, false),
    Switch("WriteVBRHeader", &V::WriteVBRHeader, false),
    Switch("Copyright", &V::Copyright, false),
    Switch("CRC", &V::CRC, true),
    Switch("Original", &V::Original, false),
    Switch("_Private", &V::Private, false),
    Integer("WaveOutputOption", &V::WaveOutputOption, 0),
};
static_assert(std::size(Settings) == 27);

int32_t Read(const TRegSetEx &R, const QString &Name, int32_t Default) {
    return R.ReadInteger(Section, Name, Default);
}

bool Read(const TRegSetEx &R, const QString &Name, bool Default) {
    return R.ReadBool(Section, Name, Default);
}

QString Read(const TRegSetEx &R, const QString &Name, const QString &Default) {
    return R.ReadString(Section, Name, Default);
}

void Write(TRegSetEx &R, const QString &Name, int32_t Value) {
    R.WriteInteger(Section, Name, Value);
}

void Write(TRegSetEx &R, const QString &Name, bool Value) {
    R.WriteBool(Section, Name, Value);
}

void Write(TRegSetEx &R, const QString &Name, const QString &Value) {
    R.WriteString(Section, Name, Value);
}

template <typename T> T DefaultOf(T Default) {
    return Default;
}

QString DefaultOf(QString (*Default)()) {
    return Default();
}

// Runs Action(setting, its member pointer, its default) on every setting in load order.
template <typename TAction> void ForEachSetting(TAction &&Action) {
    for (const TSetting &S : Settings)
        std::visit([&](const auto &Value) { Action(S, Value.Field, Value.Default); }, S.Value);
}

} // namespace

std::span<const TSetting> ConfigSettings() {
    return Settings;
}

TConfigValues::TConfigValues() {
    ForEachSetting(
        [this](const TSetting &, auto Field, auto Default) { this->*Field = DefaultOf(Default); });
}

QString TConfigValues::DefaultMusicFolder() {
    const QString Music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return Music.isEmpty() ? QDir::homePath() : Music;
}

TConfig::TConfig() {
    FRegSetEx.SetRootKind(1);
    FRegSetEx.SetCompanyName(QStringLiteral("Brindle Team"));
    FRegSetEx.SetProductName(QStringLiteral("Brindle"));
    FRegSetEx.SetUseCompanyKey(true);
    FRegSetEx.SetCreateKeys(true);
}

bool TConfig::Load() {
    FRegSetEx.CheckStore();
    // Saved on exit, the defaults would replace the settings the file still holds.
    if (const QString Why = FRegSetEx.ReadProblem(); !Why.isEmpty())
        throw ERegistryError(
            QStringLiteral("The settings file '%1' cannot be read: %2. The default settings are "
                           "used, and the file is not replaced.")
                .arg(FRegSetEx.FileName(), Why));
    // One bad value must not cost the others: saved on exit, they would all be lost.
    QStringList Problems;
    FRegSetEx.BeginUpdate();
    ForEachSetting([this, &Problems](const TSetting &S, auto Field, auto Default) {
        try {
            this->*Field = Read(FRegSetEx, QLatin1StringView(S.Name), this->*Field);
        } catch (const ERegistryError &Error) {
            this->*Field = DefaultOf(Default);
            Problems.append(Error.message());
        }
    });
    try {
        ConvertJobs = Read(FRegSetEx, ConvertJobsName, ConvertJobs);
    } catch (const ERegistryError &Error) {
        ConvertJobs = 0;
        Problems.append(Error.message());
    }
    try {
        CopyTags = Read(FRegSetEx, CopyTagsName, CopyTags);
    } catch (const ERegistryError &Error) {
        CopyTags = true;
        Problems.append(Error.message());
    }
    try {
        KeepFolderStructure = Read(FRegSetEx, KeepFolderStructureName, KeepFolderStructure);
    } catch (const ERegistryError &Error) {
        KeepFolderStructure = true;
        Problems.append(Error.message());
    }
    try {
        WriteReplayGain = Read(FRegSetEx, WriteReplayGainName, WriteReplayGain);
    } catch (const ERegistryError &Error) {
        WriteReplayGain = false;
        Problems.append(Error.message());
    }
    for (const TRangedSetting &S : RangedSettings) {
        const QString Name = QLatin1StringView(S.Name);
        try {
            const int32_t Value = Read(FRegSetEx, Name, this->*S.Field);
            if (Value < S.Min || Value > S.Max)
                throw ERegistryError(QStringLiteral("Value %1 for '%2' is out of range (%3..%4)")
                                         .arg(Value)
                                         .arg(Name)
                                         .arg(S.Min)
                                         .arg(S.Max));
            this->*S.Field = Value;
        } catch (const ERegistryError &Error) {
            this->*S.Field = S.Default;
            Problems.append(Error.message());
        }
    }
    Layout.Clear();
    for (const QString &Name : FRegSetEx.ValueNames(LayoutSection)) {
        try {
            Layout.SetValue(Name, FRegSetEx.ReadString(LayoutSection, Name, QString()));
        } catch (const ERegistryError &) {
            // A window just keeps its own size for a value that is not its layout.
        }
    }
    FRegSetEx.EndUpdate();
    if (!Problems.isEmpty())
        throw ERegistryError(Problems.join(u'\n'));
    return true;
}

bool TConfig::Save() {
    FRegSetEx.CheckStore();
    // Settings that could not be loaded are not lost by writing ours over them.
    if (const QString Why = FRegSetEx.ReadProblem(); !Why.isEmpty())
        throw ERegistryError(QStringLiteral("The settings could not be saved to '%1': the file "
                                            "cannot be read (%2) and is kept as it is")
                                 .arg(FRegSetEx.FileName(), Why));
    // The whole file is written in one go: a store that fails leaves the old file as it was.
    FRegSetEx.BeginUpdate();
    for (const bool Last : {false, true}) {
        ForEachSetting([this, Last](const TSetting &S, auto Field, auto) {
            if (S.SavedLast == Last)
                Write(FRegSetEx, QLatin1StringView(S.Name), this->*Field);
        });
        if (!Last) {
            Write(FRegSetEx, ConvertJobsName, ConvertJobs);
            Write(FRegSetEx, CopyTagsName, CopyTags);
            Write(FRegSetEx, KeepFolderStructureName, KeepFolderStructure);
            for (const TRangedSetting &S : RangedSettings)
                Write(FRegSetEx, QLatin1StringView(S.Name), this->*S.Field);
            Write(FRegSetEx, WriteReplayGainName, WriteReplayGain);
            for (auto Value = Layout.Values().cbegin(); Value != Layout.Values().cend(); ++Value)
                FRegSetEx.WriteString(LayoutSection, Value.key(), Value.value());
        }
    }
    FRegSetEx.EndUpdate();
    return true;
}

void TConfig::Assign(const TConfig &Source) {
    ForEachSetting(
        [this, &Source](const TSetting &, auto Field, auto) { this->*Field = Source.*Field; });
    ConvertJobs = Source.ConvertJobs;
    CopyTags = Source.CopyTags;
    KeepFolderStructure = Source.KeepFolderStructure;
    NormalizeMode = Source.NormalizeMode;
    LoudnessTarget = Source.LoudnessTarget;
    TruePeakCeiling = Source.TruePeakCeiling;
    WriteReplayGain = Source.WriteReplayGain;
}

int TConfig::ConvertJobCount() const {
    const int Jobs = ConvertJobs > 0 ? ConvertJobs : QThread::idealThreadCount();
    return std::clamp(Jobs, 1, MaxConvertJobs);
}

int BitrateFromIndex(int Index) {
    return BitrateTable[std::clamp<int>(Index, 0, int(BitrateTable.size()) - 1)];
}
