#include "app/FileParam.h"

#include <QLocale>

#include <gtest/gtest.h>

TEST(FileParam, StateColumnTexts) {
    EXPECT_EQ(StateColumnText(stError), "Error");
    EXPECT_EQ(StateColumnText(stQueued), "");
    EXPECT_EQ(StateColumnText(stProcessing), "Processing");
    EXPECT_EQ(StateColumnText(stDone), "Done");
    EXPECT_EQ(StateColumnText(stAborted), "Abort");
    EXPECT_EQ(StateColumnText(stAbortedRemoved), "Abort");
    EXPECT_EQ(StateColumnText(stDoneRemoveSource), "");
    EXPECT_EQ(StateColumnText(stRemoveFailed), "Delete Abort");
    EXPECT_EQ(StateColumnText(8), "");
    EXPECT_EQ(StateColumnText(-1), "");
}

TEST(FileParam, PathPartsAcceptBothSeparators) {
    EXPECT_EQ(ExtractFileName("/home/u/a.wav"), "a.wav");
    EXPECT_EQ(ExtractFilePath("/home/u/a.wav"), "/home/u/");
    EXPECT_EQ(ExtractFileName("C:\\Music\\a.wav"), "a.wav");
    EXPECT_EQ(ExtractFilePath("C:\\Music\\a.wav"), "C:\\Music\\");
    EXPECT_EQ(ExtractFilePath("a.wav"), "");
}

TEST(FileParam, PathsCompareAsALinuxFileSystemDoes) {
    EXPECT_TRUE(SameFilePath("/m/a.mp3", "/m/a.mp3"));
    EXPECT_TRUE(SameFilePath("/m//a.mp3", "/m/./a.mp3"));
#ifndef Q_OS_WIN
    EXPECT_FALSE(SameFilePath("/m/A.MP3", "/m/a.mp3"));
#endif
}

TEST(FileParam, TimeColumnSwitchesToHoursAtOneHour) {
    EXPECT_EQ(DurationColumnText(0), "00:00");
    EXPECT_EQ(DurationColumnText(3599), "59:59");
    EXPECT_EQ(DurationColumnText(3600), "01:00:00");
    EXPECT_EQ(DurationColumnText(90000), "25:00:00");
}

TEST(FileParam, SizeColumnInMegabytesWithTheLocalesSeparator) {
    const qint64 bytes = qint64(3.47 * 1024 * 1024);
    EXPECT_EQ(SizeColumnText(bytes, QLocale::c()), "3.47MB");
    EXPECT_EQ(SizeColumnText(bytes, QLocale(QLocale::German)), "3,47MB");
    EXPECT_EQ(SizeColumnText(qint64(1234.5 * 1024 * 1024), QLocale::c()), "1234.50MB");
    EXPECT_EQ(SizeColumnText(0, QLocale::c()), "0.00MB");
}

TEST(FileParam, SortComparisonFoldsOnlyAsciiLetters) {
    EXPECT_EQ(CompareListTexts("abc", "ABC"), 0);
    EXPECT_LT(CompareListTexts("apple", "Banana"), 0);
    EXPECT_LT(CompareListTexts("12.10MB", "3.47MB"), 0); // text, not number
    EXPECT_LT(CompareListTexts("ab", "abc"), 0);
    EXPECT_GT(CompareListTexts(QString::fromUtf8("é"), "E"), 0);
    EXPECT_GT(CompareListTexts("_", "z"), 0); // letters fold to upper case, below '_'
}

TEST(FileParam, SummaryCountsUnreadableRowsAsFilesWithoutSeconds) {
    TFileParam wave, mpeg, bad;
    wave.Kind = fkWave;
    wave.Duration = 3600;
    mpeg.Kind = fkMpeg;
    mpeg.Duration = 86400;
    bad.Duration = 50;
    TListSummary s;
    s.AddRow(&wave, true);
    s.AddRow(&mpeg, false);
    s.AddRow(&bad, true);
    s.AddRow(nullptr, false);
    EXPECT_EQ(s.SelectedText(), "selected 2 file(s), 3600 seconds(01:00:00)");
    EXPECT_EQ(s.TotalText(), "Total 4 file(s), 90000 seconds(25:00:00)");
}

TEST(FileParam, EmptySummaryAndInitialCaptions) {
    const TListSummary s;
    EXPECT_EQ(s.SelectedText(), "selected 0 file(s), 0 seconds(00:00:00)");
    EXPECT_EQ(s.TotalText(), "Total 0 file(s), 0 seconds(00:00:00)");
    EXPECT_EQ(InitialSelectedText, "Selected 0 file(s), 0 seconds(00:00:00)");
    EXPECT_EQ(InitialTotalText, "Total 0 file(s), 0 secends(00:00:00) ");
}

// --- destinations ---

namespace {

TFileParam Source(const QString &Path, const QString &Base) {
    TFileParam p;
    p.SourcePath = Path;
    p.FileName = ExtractFileName(Path);
    p.BaseFolder = Base;
    return p;
}

} // namespace

TEST(FileParam, DestinationMirrorsTheFoldersBelowTheBaseWhenKept) {
    const TFileParam deep = Source("/music/in/Album A/CD 1/01 Song.wav", "/music/in");
    EXPECT_EQ(ConversionDestPath(deep, true, "/out", ".MP3", true),
              "/out/Album A/CD 1/01 Song.MP3");
    EXPECT_EQ(ConversionDestPath(deep, true, "/out/", ".MP3", true),
              "/out/Album A/CD 1/01 Song.MP3");
    // Off, or without an output folder: as before.
    EXPECT_EQ(ConversionDestPath(deep, true, "/out", ".MP3", false), "/out/01 Song.MP3");
    EXPECT_EQ(ConversionDestPath(deep, true, "/out", ".MP3"), "/out/01 Song.MP3");
    EXPECT_EQ(ConversionDestPath(deep, false, "/out", ".MP3", true),
              "/music/in/Album A/CD 1/01 Song.MP3");
    // Files in the added folder itself, added by themselves, or without a base stay flat.
    EXPECT_EQ(
        ConversionDestPath(Source("/music/in/top.wav", "/music/in"), true, "/out", ".MP3", true),
        "/out/top.MP3");
    EXPECT_EQ(ConversionDestPath(Source("/music/in/a.wav", ""), true, "/out", ".MP3", true),
              "/out/a.MP3");
    // A base that is only a prefix of the name is not the file's folder.
    EXPECT_EQ(
        ConversionDestPath(Source("/music/input/x/a.wav", "/music/in"), true, "/out", ".MP3", true),
        "/out/a.MP3");
}

TEST(FileParam, SourceFolderBelowBaseIsCleanAndRelative) {
    EXPECT_EQ(SourceFolderBelowBase("/m/in/a/b/c.wav", "/m/in"), "a/b");
    EXPECT_EQ(SourceFolderBelowBase("/m/in/./a//c.wav", "/m/in/"), "a");
    EXPECT_EQ(SourceFolderBelowBase("/m/in/Live: 1999/c.wav", "/m/in"), "Live: 1999");
    EXPECT_EQ(SourceFolderBelowBase("/top/c.wav", "/"), "top");
    EXPECT_EQ(SourceFolderBelowBase("/m/in/c.wav", "/m/in"), "");
    EXPECT_EQ(SourceFolderBelowBase("/m/other/c.wav", "/m/in"), "");
    EXPECT_EQ(SourceFolderBelowBase("/m/in/a/c.wav", ""), "");
}
