#include "inspect/WaveInfoForm.h"
#include "support/TestMedia.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <flacfile.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <xiphcomment.h>

using testmedia::WavHeader;
using testmedia::WriteFile;

namespace {

QString Memo(const TWaveInfoForm &Form) {
    return Form.findChild<QPlainTextEdit *>("WaveInfoMemo")->toPlainText();
}
QString PathField(const TWaveInfoForm &Form) {
    return Form.findChild<QLineEdit *>("edFilePath")->text();
}

} // namespace

TEST(WaveInfoFormTest, ShowsThePathAndTheEightLinesOfAReadableItem) {
    QTemporaryDir Dir;
    TFileParam Item;
    Item.SourcePath = Dir.filePath("voice.wav");
    WriteFile(Item.SourcePath, WavHeader(2, 44100, 16, 176400 * 3) + QByteArray(176400 * 3, 0));
    ASSERT_TRUE(ReadWaveFileInfo(Item.SourcePath, Item.WaveData));
    Item.Duration = Item.WaveData.Duration;
    Item.Kind = fkWave;

    TWaveInfoForm Form;
    EXPECT_EQ(Form.windowTitle(), "WAV file info");
    EXPECT_EQ(Form.findChild<QGroupBox *>("grpWavFormat")->title(), "WAV Format");
    Form.ShowWaveInfo(Item);
    EXPECT_EQ(PathField(Form), Item.SourcePath);
    EXPECT_EQ(Memo(Form), "Format: PCM\nBits/Sample: 16\nFile size: 529244\nLength: 3\n"
                          "Channels: 2\nSamplerate: 44100\nBytes/Second: 176400\n"
                          "Bytes/Sample: 4");

    // Reused for the next item: nothing of the first stays.
    TFileParam Unread;
    Unread.SourcePath = Dir.filePath("broken.wav");
    Unread.Kind = fkUnreadable;
    Form.ShowWaveInfo(Unread);
    EXPECT_EQ(PathField(Form), Unread.SourcePath);
    EXPECT_EQ(Memo(Form), "Unknow");
}

TEST(WaveInfoFormTest, OkIsTheDefaultButtonAndCloses) {
    TWaveInfoForm Form;
    Form.show();
    auto *Ok = Form.findChild<QPushButton *>("btnOK");
    ASSERT_NE(Ok, nullptr);
    EXPECT_TRUE(Ok->isDefault());
    Ok->click();
    EXPECT_FALSE(Form.isVisible());
}

TEST(WaveInfoFormTest, AFlacItemShowsItsFormatAndTheTagsItHasNow) {
    QTemporaryDir Dir;
    TFileParam Item;
    Item.SourcePath = Dir.filePath("harbour.flac");
    testmedia::WriteSineSound(Item.SourcePath, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 32000, 2.0,
                              440);
    ASSERT_TRUE(ReadSoundFileInfo(Item.SourcePath, Item.SoundData));
    Item.Duration = 2;
    Item.Kind = fkAudio;
    TWaveInfoForm Form;
    Form.ShowWaveInfo(Item);
    const QString Size = QString::number(QFileInfo(Item.SourcePath).size());
    EXPECT_EQ(Memo(Form), "Format: FLAC 16-bit\nBits/Sample: 16\nFile size: " + Size +
                              "\nLength: 2\nChannels: 1\nSamplerate: 32000\nFrames: 64000");

    {
        TagLib::FLAC::File File(QFile::encodeName(Item.SourcePath).constData());
        File.xiphComment(true)->setTitle(TagLib::String("Harbour Ω", TagLib::String::UTF8));
        File.xiphComment(true)->addField("TRACKNUMBER", "3");
        File.xiphComment(true)->addField("TRACKTOTAL", "11");
        ASSERT_TRUE(File.save());
    }
    Form.ShowWaveInfo(Item);
    EXPECT_TRUE(Memo(Form).endsWith(
        QStringLiteral("Frames: 64000\n\nTags: Vorbis comment\nTitle: Harbour Ω\nTrack: 3/11")))
        << Memo(Form).toStdString();
}
