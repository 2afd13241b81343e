#pragma once

#include <QSettings>
#include <QStringList>

// The names of the 27 stored settings, in load order ("_Private" for the field Private).
inline const QStringList SettingValueNames = {"ConvertType",
                                              "SpecifyOutputFolder",
                                              "OpenOutputFolder",
                                              "OutputFolder",
                                              "FavoriteBrowsFolder",
                                              "FNormalizeVolume",
                                              "NormalizeFactor",
                                              "OverwritePrompt",
                                              "ShowErrorMessage",
                                              "DeleteOriginalFile",
                                              "PlaySound",
                                              "PromptCheckOption",
                                              "ShowMPEGInfo",
                                              "LastOpenFolder",
                                              "SampleRate",
                                              "BitRate",
                                              "MaxBitRate",
                                              "Mode",
                                              "Quality",
                                              "VBRQuality",
                                              "VBR",
                                              "WriteVBRHeader",
                                              "Copyright",
                                              "CRC",
                                              "Original",
                                              "_Private",
                                              "WaveOutputOption"};

// The values stored after the table's, in the order they are written.
inline const QStringList AddedSettingNames = {
    "ConvertJobs",    "CopyTags",        "KeepFolderStructure", "NormalizeMode",
    "LoudnessTarget", "TruePeakCeiling", "WriteReplayGain",     "AlbumGainPerFolder"};

// Points every settings store of this process at a folder of the test's own, so that tests
// neither see nor change the user's settings.
inline void RedirectSettings(const QString &Folder) {
    for (auto Format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(Format, QSettings::UserScope, Folder + QStringLiteral("/user"));
        QSettings::setPath(Format, QSettings::SystemScope, Folder + QStringLiteral("/system"));
    }
}
