// ReplayGain tags written by brindle-cli's encode and decode with --replaygain, read back by
// TagLib as TXXX frames.
#include "cli/CliRunner.h"
#include "core/tags/TagMedia.h"
#include "support/TestMedia.h"

#include <QRegularExpression>

#include <flacfile.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <wavfile.h>
#include <xiphcomment.h>

#include <sndfile.h>

#include <cmath>

using namespace testmedia;
using namespace tagmedia;

namespace {

// -23 dBFS in both channels of a 1 kHz sine measures -23 LUFS: a gain of +5 dB to -18 LUFS.
const double Amplitude = std::pow(10.0, -23.0 / 20.0);

QString UserText(TagLib::ID3v2::Tag *Tag, const char *Description) {
    if (!Tag)
        return {};
    auto *frame = TagLib::ID3v2::UserTextIdentificationFrame::find(Tag, Description);
    if (!frame || frame->fieldList().size() < 2)
        return {};
    return QString::fromUtf8(frame->fieldList()[1].toCString(true));
}

struct TGainTags {
    QString Gain, Peak;
};

TGainTags Mp3Gain(const QString &Path) {
    TagLib::MPEG::File file(QFile::encodeName(Path).constData());
    TagLib::ID3v2::Tag *tag = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
    return {UserText(tag, "REPLAYGAIN_TRACK_GAIN"), UserText(tag, "REPLAYGAIN_TRACK_PEAK")};
}

TGainTags WavGain(const QString &Path) {
    TagLib::RIFF::WAV::File file(QFile::encodeName(Path).constData());
    TagLib::ID3v2::Tag *tag = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
    return {UserText(tag, "REPLAYGAIN_TRACK_GAIN"), UserText(tag, "REPLAYGAIN_TRACK_PEAK")};
}

// The gain's value in dB after checking its form, "+5.00 dB"; NaN when malformed.
double GainDb(const QString &Text) {
    static const QRegularExpression Form(QStringLiteral("^[+-]\\d+\\.\\d\\d dB$"));
    return Form.match(Text).hasMatch() ? Text.chopped(3).toDouble() : std::nan("");
}

double PeakOf(const QString &Text) {
    static const QRegularExpression Form(QStringLiteral("^\\d\\.\\d{6}$"));
    return Form.match(Text).hasMatch() ? Text.toDouble() : std::nan("");
}

// The radio (track) gain field of the encoder's Info frame, as its two stored bytes: zero
// when the engine did not measure.
int InfoFrameTrackGain(const QByteArray &Mp3) {
    const qsizetype at = Mp3.indexOf("LAME");
    if (at < 0 || at + 17 > Mp3.size())
        return -1;
    return (uint8_t(Mp3[at + 15]) << 8) | uint8_t(Mp3[at + 16]);
}

class CliReplayGainTest : public CliTest {};

TEST_F(CliReplayGainTest, EncodeAndDecodeTagTheMeasuredGainAndPeakWithoutChangingTheAudio) {
    WriteSineWav(path("tone.wav"), 2, 44100, 4.0, 1000, 0, Amplitude);
    Result r = Run({"encode", "--replaygain", path("tone.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const TGainTags mp3 = Mp3Gain(path("tone.MP3"));
    EXPECT_NEAR(GainDb(mp3.Gain), 5.0, 0.5) << mp3.Gain.toStdString();
    // The true peak of the sine, a little above its sample peak at most.
    EXPECT_NEAR(PeakOf(mp3.Peak), Amplitude, 0.006) << mp3.Peak.toStdString();
    // The WAV had no tags: the tag holds only the gain, and no ID3v1 tag is added.
    EXPECT_NE(ReadFile(path("tone.MP3")).right(128).left(3), "TAG");
    {
        TagLib::MPEG::File file(QFile::encodeName(path("tone.MP3")).constData());
        ASSERT_TRUE(file.hasID3v2Tag());
        EXPECT_EQ(file.ID3v2Tag()->header()->majorVersion(), 4u);
        EXPECT_EQ(file.ID3v2Tag()->frameList().size(), 2u);
    }
    // The engine's own measurement fills the Info frame too: name code 1 (track) in the top
    // three bits.
    const int infoGain = InfoFrameTrackGain(ReadFile(path("tone.MP3")));
    EXPECT_EQ(infoGain >> 13, 1) << infoGain;

    QDir().mkpath(path("plain"));
    r = Run({"decode", "-o", path("plain"), path("tone.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = Run({"decode", "--replaygain", path("tone.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const TGainTags wav = WavGain(path("tone.WAV"));
    // Measured on the decoded audio: the same level, give or take the coding and decoding.
    EXPECT_NEAR(GainDb(wav.Gain), GainDb(mp3.Gain), 0.75) << wav.Gain.toStdString();
    EXPECT_NEAR(PeakOf(wav.Peak), Amplitude, 0.01) << wav.Peak.toStdString();
    EXPECT_TRUE(WavGain(path("plain/tone.WAV")).Gain.isEmpty()) << "none without --replaygain";
    // The samples are those decoded without it; the tag chunk comes after them.
    const QByteArray plain = ReadFile(path("plain/tone.WAV"));
    EXPECT_EQ(ReadFile(path("tone.WAV")).mid(8, plain.size() - 8), plain.mid(8));
}

TEST_F(CliReplayGainTest, OffUnlessAskedForHereEvenWhenTheStoredSettingIsOn) {
    WriteSettings("WriteReplayGain=1\n");
    WriteSineWav(path("tone.wav"), 2, 44100, 2.0, 1000, 0, Amplitude);
    const Result r = Run({"encode", path("tone.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    TagLib::MPEG::File file(QFile::encodeName(path("tone.MP3")).constData());
    EXPECT_FALSE(file.hasID3v2Tag());
    EXPECT_EQ(InfoFrameTrackGain(ReadFile(path("tone.MP3"))), 0) << "the engine did not measure";
}

TEST_F(CliReplayGainTest, ANormalisedFileIsMeasuredAfterItsScaling) {
    WriteSineWav(path("tone.wav"), 2, 44100, 3.0, 1000, 0, Amplitude);
    const Result r = Run({"encode", "--replaygain", "--loudness", "-16", path("tone.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Brought to -16 LUFS: 2 dB above the reference, not the source's +5 dB.
    const TGainTags mp3 = Mp3Gain(path("tone.MP3"));
    EXPECT_NEAR(GainDb(mp3.Gain), -2.0, 0.5) << mp3.Gain.toStdString();
    EXPECT_NEAR(PeakOf(mp3.Peak), Amplitude * std::pow(10.0, 7.0 / 20.0), 0.015)
        << mp3.Peak.toStdString();
}

TEST_F(CliReplayGainTest, SilenceGetsNoGainAndNoTag) {
    WriteSineWav(path("quiet.wav"), 2, 44100, 2.0, 1000, 0, 0.0);
    const Result r = Run({"encode", "--replaygain", path("quiet.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    TagLib::MPEG::File file(QFile::encodeName(path("quiet.MP3")).constData());
    EXPECT_FALSE(file.hasID3v2Tag());
}

TEST_F(CliReplayGainTest, WithoutCopiedTagsTheGainStillGoesBesideNothingElse) {
    WriteSineSound(path("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, 2.0, 1000);
    {
        TagLib::FLAC::File flac(QFile::encodeName(path("a.flac")).constData());
        flac.xiphComment(true)->addField("TITLE", "not copied");
        ASSERT_TRUE(flac.save());
    }
    const Result r = Run({"encode", "--no-tags", "--replaygain", path("a.flac")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const TGainTags mp3 = Mp3Gain(path("a.MP3"));
    EXPECT_FALSE(std::isnan(GainDb(mp3.Gain))) << mp3.Gain.toStdString();
    TagLib::MPEG::File file(QFile::encodeName(path("a.MP3")).constData());
    EXPECT_EQ(file.ID3v2Tag()->frameList().size(), 2u);
    EXPECT_TRUE(file.ID3v2Tag()->title().isEmpty());
}

} // namespace

TEST_F(CliReplayGainTest, AlbumGainTagsEveryFileOfAFolderWithTheSameAlbumValues) {
    QDir().mkpath(path("album"));
    WriteSineWav(path("album/1.wav"), 2, 44100, 3.0, 1000, 0, Amplitude);
    WriteSineWav(path("album/2.wav"), 2, 44100, 3.0, 440, 0, Amplitude / 8);
    Result r = Run({"encode", "--album-gain", "-r", path("album")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const auto albumOf = [](const QString &Path, bool Wav) {
        const auto read = [&](TagLib::ID3v2::Tag *Tag) {
            return std::pair{UserText(Tag, "REPLAYGAIN_ALBUM_GAIN"),
                             UserText(Tag, "REPLAYGAIN_TRACK_GAIN")};
        };
        if (Wav) {
            TagLib::RIFF::WAV::File file(QFile::encodeName(Path).constData());
            return read(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr);
        }
        TagLib::MPEG::File file(QFile::encodeName(Path).constData());
        return read(file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr);
    };
    const auto [album1, track1] = albumOf(path("album/1.MP3"), false);
    const auto [album2, track2] = albumOf(path("album/2.MP3"), false);
    EXPECT_FALSE(track1.isEmpty()) << "--album-gain brings the track values with it";
    EXPECT_EQ(album1, album2);
    // The loud track sets the album's loudness: near its own gain, far from the quiet one's.
    EXPECT_NEAR(GainDb(album1), GainDb(track1), 1.0) << album1.toStdString();
    EXPECT_GT(GainDb(track2) - GainDb(album1), 10);

    r = Run({"decode", "--album-gain", path("album/1.MP3"), path("album/2.MP3")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NEAR(GainDb(albumOf(path("album/1.WAV"), true).first), GainDb(album1), 0.5);
    EXPECT_EQ(albumOf(path("album/1.WAV"), true).first, albumOf(path("album/2.WAV"), true).first);
}
