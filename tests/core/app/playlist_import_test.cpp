#include "app/PlaylistImport.h"
#include "app/RawNames.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using testmedia::WriteFile;

namespace {

class PlaylistTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }
    // An empty file is enough: playlists only test that entries exist.
    QString touch(const QString &name) const {
        const QString p = path(name);
        QDir().mkpath(QFileInfo(p).absolutePath());
        WriteFile(p, QByteArray());
        return p;
    }

    QStringList expand(const QString &playlist, TListKind kind) const {
        QStringList paths;
        ExpandPlaylist(playlist, paths, kind);
        return paths;
    }

    QTemporaryDir dir;
};

} // namespace

// --- entry resolution, Windows and POSIX forms ---

TEST(PlaylistEntry, RootedEntryTakesTheDriveOfAWindowsPlaylist) {
    EXPECT_EQ(ResolvePlaylistEntry("\\Music\\a.mp3", "D:\\Lists\\party.m3u"), "D:\\Music\\a.mp3");
}

TEST(PlaylistEntry, NetworkEntryAlsoGetsTheDrivePrefix) {
    EXPECT_EQ(ResolvePlaylistEntry("\\\\server\\a.mp3", "D:\\Lists\\p.m3u"), "D:\\\\server\\a.mp3");
}

TEST(PlaylistEntry, DriveEntryIsUsedUnchanged) {
    EXPECT_EQ(ResolvePlaylistEntry("C:\\x\\a.mp3", "D:\\Lists\\p.m3u"), "C:\\x\\a.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("C:\\x\\a.mp3", "/home/u/p.m3u"), "C:\\x\\a.mp3");
}

TEST(PlaylistEntry, RelativeEntryFollowsThePlaylistFolder) {
    EXPECT_EQ(ResolvePlaylistEntry("song.mp3", "D:\\Lists\\p.m3u"), "D:\\Lists\\song.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("song.mp3", "/home/u/lists/p.m3u"), "/home/u/lists/song.mp3");
}

#ifndef Q_OS_WIN
TEST(PlaylistEntry, WindowsSeparatorsBecomeSlashesUnderAPosixFolder) {
    EXPECT_EQ(ResolvePlaylistEntry("sub\\song.mp3", "/home/u/p.m3u"), "/home/u/sub/song.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("\\Music\\a.mp3", "/home/u/p.m3u"), "/Music/a.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("/srv/a.mp3", "/home/u/p.m3u"), "/srv/a.mp3");
}
#endif

// --- parsing ---

TEST(PlaylistParse, M3USkipsEmptyAndDirectiveLinesAndKeepsSpaces) {
    const QByteArray text = "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,Song\r\nsong.mp3\r\n\r\n"
                            " lead.mp3\nlast.mp3";
    EXPECT_EQ(ParseM3U(text), (QStringList{"song.mp3", " lead.mp3", "last.mp3"}));
}

TEST(PlaylistParse, PLSReadsOnlyNumberOfEntriesKeysAndSkipsGaps) {
    const QByteArray text = "[other]\nFile1=wrong.mp3\n"
                            "[Playlist]\nNumberOfEntries=3\nFile1=a.mp3\nTitle1=A\n"
                            "File3 = c.mp3 \nFile4=d.mp3\nfile2=\n";
    EXPECT_EQ(ParsePLS(text), (QStringList{"a.mp3", "c.mp3"}));
}

TEST(PlaylistParse, PLSWithoutUsableCountHasNoEntries) {
    EXPECT_TRUE(ParsePLS("[playlist]\nFile1=a.mp3\n").isEmpty());
    EXPECT_TRUE(ParsePLS("[playlist]\nNumberOfEntries=many\nFile1=a.mp3\n").isEmpty());
    EXPECT_TRUE(ParsePLS("[playlist]\nNumberOfEntries=-2\nFile1=a.mp3\n").isEmpty());
}

// --- expansion on disk ---

// Kept: entries of the list's kind, missing ones too (the add reports them), among them a
// line whose leading space names another file. Dropped: other kinds and playlists (no
// nesting).
TEST_F(PlaylistTest, M3UKeepsEntriesOfTheListsKindInOrderMissingOnesToo) {
    const QString b = touch("b.mp3"), a = touch("sub/a.MP2");
    touch("c.wav");
    WriteFile(path("other.m3u"), "b.mp3\n");
    WriteFile(path("list.m3u"),
              "#EXTM3U\nb.mp3\nsub\\a.MP2\nc.wav\nmissing.mp3\nother.m3u\n b.mp3\n");
    EXPECT_EQ(expand(path("list.m3u"), lkMpeg),
              (QStringList{b, a, path("missing.mp3"), path(" b.mp3")}));
    EXPECT_EQ(expand(path("list.m3u"), lkWave), QStringList{path("c.wav")});
}

TEST_F(PlaylistTest, PLSWithAbsoluteAndRelativeEntries) {
    const QString a = touch("a.wav"), b = touch("music/b.WAV");
    WriteFile(path("list.pls"),
              QStringLiteral("[playlist]\r\nNumberOfEntries=2\r\nFile1=%1\r\nFile2=music/b.WAV\r\n")
                  .arg(a)
                  .toUtf8());
    EXPECT_EQ(expand(path("list.pls"), lkWave), (QStringList{a, b}));
}

TEST_F(PlaylistTest, MissingM3UIsAnErrorAndMissingPLSIsEmpty) {
    try {
        expand(path("gone.m3u"), lkWave);
        FAIL() << "no error";
    } catch (const EPlaylistError &e) {
        EXPECT_EQ(e.message(),
                  "Cannot open file " + path("gone.m3u") + " (No such file or directory)");
    }
    EXPECT_TRUE(expand(path("gone.pls"), lkWave).isEmpty());
}

TEST_F(PlaylistTest, FolderNamedLikeASongIsNotAFile) {
    QDir().mkpath(path("fake.wav"));
    WriteFile(path("list.m3u"), "fake.wav\n");
    EXPECT_TRUE(expand(path("list.m3u"), lkWave).isEmpty());
}

TEST_F(PlaylistTest, ChosenFilesExpandPlaylistsInPlaceAndKeepOtherFilesWhole) {
    const QString a = touch("a.wav"), b = touch("b.wav");
    WriteFile(path("list.M3U"), "b.wav\n");
    const QString odd = path("notes.txt");
    EXPECT_EQ(CollectChosenFiles({a, path("list.M3U"), odd}, lkWave), (QStringList{a, b, odd}));
}

TEST_F(PlaylistTest, DropsKeepOnlyTheListsExtensionsAndPlaylists) {
    const QString wav = touch("a.wav"), mp2 = touch("b.MP2"), b = touch("c.wav");
    WriteFile(path("list.pls"), "[playlist]\nNumberOfEntries=1\nFile1=c.wav\n");
    const QList<QUrl> urls{QUrl::fromLocalFile(wav), QUrl::fromLocalFile(mp2),
                           QUrl::fromLocalFile(path("list.pls")),
                           QUrl("https://example.org/x.wav")};
    EXPECT_EQ(CollectDroppedFiles(urls, lkWave), (QStringList{wav, b}));
    EXPECT_EQ(CollectDroppedFiles(urls, lkMpeg), (QStringList{mp2}));
}

TEST_F(PlaylistTest, LongDroppedNamesArriveWhole) {
    const QString name = QString(100, u'n') + ".wav";
    const QString wav = touch(name);
    EXPECT_EQ(CollectDroppedFiles({QUrl::fromLocalFile(wav)}, lkWave), QStringList{wav});
}

TEST_F(PlaylistTest, UnreadableM3UStopsTheWholeDrop) {
    const QString wav = touch("a.wav");
    EXPECT_THROW(CollectDroppedFiles(
                     {QUrl::fromLocalFile(wav), QUrl::fromLocalFile(path("gone.m3u"))}, lkWave),
                 EPlaylistError);
}

TEST(PlaylistEntry, AColonIsPartOfALinuxNameAndOnlyALeadingDriveIsSpecial) {
    EXPECT_EQ(ExtractFileName("/music/Live: 1999.wav"), "Live: 1999.wav");
    EXPECT_EQ(ExtractFilePath("/music/Live: 1999.wav"), "/music/");
    EXPECT_EQ(ChangeFileExt("/music/Live: 1999.wav", ".MP3"), "/music/Live: 1999.MP3");
    EXPECT_EQ(ChangeFileExt("/music/a.b:c", ".MP3"), "/music/a.MP3");
    EXPECT_EQ(ExtractFileName("C:song.mp3"), "song.mp3");
    EXPECT_EQ(ExtractFilePath("C:\\Music\\a.mp3"), "C:\\Music\\");
    EXPECT_EQ(ResolvePlaylistEntry("a.mp3", "/music/Best of: 2020.m3u"), "/music/a.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("Disc: 1/a.mp3", "/music/list.m3u"), "/music/Disc: 1/a.mp3");
}

TEST(PlaylistEntry, DotDotPartsAreCleanedFromPosixEntries) {
    EXPECT_EQ(ResolvePlaylistEntry("../other/./a.mp3", "/music/lists/l.m3u"), "/music/other/a.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("..\\b.mp3", "/music/lists/l.m3u"), "/music/b.mp3");
    EXPECT_EQ(ResolvePlaylistEntry("/x/../y.mp3", "/music/l.m3u"), "/y.mp3");
}

TEST_F(PlaylistTest, EntriesOfAPlaylistWithAColonInItsNameAreListed) {
    const QString a = touch("Live: 1999.mp3");
    WriteFile(path("Best of: 2020.m3u"), "Live: 1999.mp3\n");
    EXPECT_EQ(expand(path("Best of: 2020.m3u"), lkMpeg), QStringList{a});
}

// --- encodings, .m3u8 and URLs ---

namespace {

// Text in UTF-16 with its byte order mark, as Windows tools save "Unicode" playlists.
QByteArray Utf16(const QString &Text, bool BigEndian) {
    QByteArray bytes = BigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : Text) {
        const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
        bytes.append(BigEndian ? high : low).append(BigEndian ? low : high);
    }
    return bytes;
}

} // namespace

TEST(PlaylistParse, Utf16WithAByteOrderMarkIsDecodedInBothFormats) {
    const QString m3u = QStringLiteral("#EXTM3U\r\nÉté 𝄞.mp3\r\n#x\r\nb.mp3\r\n");
    const QString pls = QStringLiteral("[playlist]\r\nNumberOfEntries=1\r\nFile1=Été 𝄞.mp3\r\n");
    for (const bool big : {false, true}) {
        EXPECT_EQ(ParseM3U(Utf16(m3u, big)), (QStringList{"Été 𝄞.mp3", "b.mp3"})) << big;
        EXPECT_EQ(ParsePLS(Utf16(pls, big)), QStringList{"Été 𝄞.mp3"}) << big;
    }
    // Without a mark the bytes are taken as UTF-8, as before.
    EXPECT_EQ(ParseM3U("\xC3\x89t\xC3\xA9.mp3\n"), QStringList{"Été.mp3"});
}

TEST(PlaylistParse, M3U8IsAPlaylistAndTheOthersStayAsTheyWere) {
    EXPECT_TRUE(IsPlaylistFile("/m/list.m3u8"));
    EXPECT_TRUE(IsPlaylistFile("/m/list.M3U8"));
    EXPECT_TRUE(IsPlaylistFile("/m/list.m3u"));
    EXPECT_TRUE(IsPlaylistFile("/m/list.PLS"));
    EXPECT_FALSE(IsPlaylistFile("/m/list.m3u9"));
    EXPECT_TRUE(SuitsListOrPlaylist("/m/list.m3u8", lkWave));
}

TEST(PlaylistParse, UrlEntriesAreToldFromPathsAndFileUrlsGiveLocalPaths) {
    EXPECT_TRUE(IsUrlEntry("http://radio.example/stream.mp3"));
    EXPECT_TRUE(IsUrlEntry("file:///m/a.mp3"));
    EXPECT_TRUE(IsUrlEntry("svn+ssh://h/a.mp3"));
    EXPECT_FALSE(IsUrlEntry("C://music/a.mp3")) << "a drive";
    EXPECT_FALSE(IsUrlEntry("/m/http://a.mp3"));
    EXPECT_FALSE(IsUrlEntry("Live: 1999.mp3"));
    EXPECT_FALSE(IsUrlEntry("1a://x.mp3"));

    EXPECT_EQ(LocalPathOfUrl("file:///m/My%20Song%3A%201.mp3"), "/m/My Song: 1.mp3");
    EXPECT_EQ(LocalPathOfUrl("file://localhost/m/%C3%89t%C3%A9.mp3"), "/m/Été.mp3");
    EXPECT_EQ(LocalPathOfUrl("FILE:///m/a.mp3"), "/m/a.mp3");
    EXPECT_EQ(LocalPathOfUrl("file:///C:/Music/a.mp3"), "C:/Music/a.mp3");
    // An escaped byte that is not UTF-8 stays a byte, never U+FFFD.
    EXPECT_EQ(LocalPathOfUrl("file:///m/bad%FFname.mp3"), DecodeRawName("/m/bad\xffname.mp3"));
    EXPECT_EQ(LocalPathOfUrl("file://server/share/a.mp3"), "");
    EXPECT_EQ(LocalPathOfUrl("http://radio.example/a.mp3"), "");
}

TEST_F(PlaylistTest, M3U8AndFileUrlsExpandAndOtherUrlsAreHandedOnToBeNamed) {
    const QString song = touch("Été: live/01 Song.mp3");
    const QString plain = touch("b.mp3");
    const QByteArray entries = "#EXTM3U\n" + QUrl::fromLocalFile(song).toEncoded() +
                               "\n"
                               "file://localhost" +
                               QUrl::fromLocalFile(plain).path(QUrl::FullyEncoded).toUtf8() +
                               "\n"
                               "http://radio.example/live.mp3\n"
                               "https://radio.example/stream\n"
                               "file://server/share/c.mp3\n";
    WriteFile(path("list.m3u8"), entries);
    const QStringList got = expand(path("list.m3u8"), lkMpeg);
    EXPECT_EQ(got, (QStringList{song, plain, "http://radio.example/live.mp3",
                                "https://radio.example/stream", "file://server/share/c.mp3"}));

    // The same in UTF-16 in a PLS file.
    const QString pls = QStringLiteral("[playlist]\nNumberOfEntries=2\nFile1=%1\nFile2=%2\n")
                            .arg(QUrl::fromLocalFile(song).toString(), "http://h/x.mp3");
    WriteFile(path("list.pls"), Utf16(pls, false));
    EXPECT_EQ(expand(path("list.pls"), lkMpeg), (QStringList{song, "http://h/x.mp3"}));
}

TEST_F(PlaylistTest, AMissingM3U8SaysWhy) {
    try {
        expand(path("gone.m3u8"), lkMpeg);
        FAIL() << "no error";
    } catch (const EPlaylistError &e) {
        EXPECT_EQ(e.message(),
                  "Cannot open file " + path("gone.m3u8") + " (No such file or directory)");
    }
}
