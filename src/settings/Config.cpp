#include "settings/Config.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>

namespace {

// The key's last level: the program's version.
const QString Section = QStringLiteral("1.27");

} // namespace

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
    const TRegSetEx &R = FRegSetEx;
    ConvertType = R.ReadInteger(Section, QStringLiteral("ConvertType"), ConvertType);
    SpecifyOutputFolder =
        R.ReadBool(Section, QStringLiteral("SpecifyOutputFolder"), SpecifyOutputFolder);
    OpenOutputFolder = R.ReadBool(Section, QStringLiteral("OpenOutputFolder"), OpenOutputFolder);
    OutputFolder = R.ReadString(Section, QStringLiteral("OutputFolder"), OutputFolder);
    FavoriteBrowsFolder =
        R.ReadString(Section, QStringLiteral("FavoriteBrowsFolder"), FavoriteBrowsFolder);
    FNormalizeVolume = R.ReadBool(Section, QStringLiteral("FNormalizeVolume"), FNormalizeVolume);
    NormalizeFactor = R.ReadInteger(Section, QStringLiteral("NormalizeFactor"), NormalizeFactor);
    OverwritePrompt = R.ReadBool(Section, QStringLiteral("OverwritePrompt"), OverwritePrompt);
    ShowErrorMessage = R.ReadBool(Section, QStringLiteral("ShowErrorMessage"), ShowErrorMessage);
    DeleteOriginalFile =
        R.ReadBool(Section, QStringLiteral("DeleteOriginalFile"), DeleteOriginalFile);
    PlaySound = R.ReadBool(Section, QStringLiteral("PlaySound"), PlaySound);
    PromptCheckOption = R.ReadBool(Section, QStringLiteral("PromptCheckOption"), PromptCheckOption);
    ShowMPEGInfo = R.ReadBool(Section, QStringLiteral("ShowMPEGInfo"), ShowMPEGInfo);
    LastOpenFolder = R.ReadString(Section, QStringLiteral("LastOpenFolder"), LastOpenFolder);
    SampleRate = R.ReadInteger(Section, QStringLiteral("SampleRate"), SampleRate);
    BitRate = R.ReadInteger(Section, QStringLiteral("BitRate"), BitRate);
    MaxBitRate = R.ReadInteger(Section, QStringLiteral("MaxBitRate"), MaxBitRate);
    Mode = R.ReadInteger(Section, QStringLiteral("Mode"), Mode);
    Quality = R.ReadInteger(Section, QStringLiteral("Quality"), Quality);
    VBRQuality = R.ReadInteger(Section, QStringLiteral("VBRQuality"), VBRQuality);
    VBR = R.ReadBool(Section, QStringLiteral("VBR"), VBR);
    WriteVBRHeader = R.ReadBool(Section, QStringLiteral("WriteVBRHeader"), WriteVBRHeader);
    Copyright = R.ReadBool(Section, QStringLiteral("Copyright"), Copyright);
    CRC = R.ReadBool(Section, QStringLiteral("CRC"), CRC);
    Original = R.ReadBool(Section, QStringLiteral("Original"), Original);
    Private = R.ReadBool(Section, QStringLiteral("_Private"), Private);
    WaveOutputOption = R.ReadInteger(Section, QStringLiteral("WaveOutputOption"), WaveOutputOption);
    return true;
}

bool TConfig::Save() {
    TRegSetEx &R = FRegSetEx;
    R.WriteInteger(Section, QStringLiteral("ConvertType"), ConvertType);
    R.WriteBool(Section, QStringLiteral("SpecifyOutputFolder"), SpecifyOutputFolder);
    R.WriteBool(Section, QStringLiteral("OpenOutputFolder"), OpenOutputFolder);
    R.WriteString(Section, QStringLiteral("OutputFolder"), OutputFolder);
    R.WriteString(Section, QStringLiteral("FavoriteBrowsFolder"), FavoriteBrowsFolder);
    R.WriteBool(Section, QStringLiteral("FNormalizeVolume"), FNormalizeVolume);
    R.WriteInteger(Section, QStringLiteral("NormalizeFactor"), NormalizeFactor);
    R.WriteBool(Section, QStringLiteral("OverwritePrompt"), OverwritePrompt);
    R.WriteBool(Section, QStringLiteral("ShowErrorMessage"), ShowErrorMessage);
    R.WriteBool(Section, QStringLiteral("DeleteOriginalFile"), DeleteOriginalFile);
    R.WriteBool(Section, QStringLiteral("PlaySound"), PlaySound);
    R.WriteBool(Section, QStringLiteral("PromptCheckOption"), PromptCheckOption);
    R.WriteBool(Section, QStringLiteral("ShowMPEGInfo"), ShowMPEGInfo);
    R.WriteInteger(Section, QStringLiteral("SampleRate"), SampleRate);
    R.WriteInteger(Section, QStringLiteral("BitRate"), BitRate);
    R.WriteInteger(Section, QStringLiteral("MaxBitRate"), MaxBitRate);
    R.WriteInteger(Section, QStringLiteral("Mode"), Mode);
    R.WriteInteger(Section, QStringLiteral("Quality"), Quality);
    R.WriteInteger(Section, QStringLiteral("VBRQuality"), VBRQuality);
    R.WriteBool(Section, QStringLiteral("VBR"), VBR);
    R.WriteBool(Section, QStringLiteral("WriteVBRHeader"), WriteVBRHeader);
    R.WriteBool(Section, QStringLiteral("Copyright"), Copyright);
    R.WriteBool(Section, QStringLiteral("CRC"), CRC);
    R.WriteBool(Section, QStringLiteral("Original"), Original);
    R.WriteBool(Section, QStringLiteral("_Private"), Private);
    R.WriteInteger(Section, QStringLiteral("WaveOutputOption"), WaveOutputOption);
    // Out of load order: the last folder opened is always the last value saved.
    R.WriteString(Section, QStringLiteral("LastOpenFolder"), LastOpenFolder);
    return true;
}

void TConfig::Assign(const TConfig &Source) {
    static_cast<TConfigValues &>(*this) = Source;
}

int BitrateFromIndex(int Index) {
    return BitrateTable[std::clamp<int>(Index, 0, int(BitrateTable.size()) - 1)];
}
