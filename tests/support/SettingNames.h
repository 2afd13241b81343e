#pragma once

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
