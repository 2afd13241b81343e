#pragma once

#include "platform/SoundPlayer.h"

#include <QStringList>

// A sound player for tests: records the names it is asked to play and plays nothing. It
// installs itself for its lifetime, so a test only declares one:
//
//     RecordingSoundPlayer Sounds;
//     ... drive the window ...
//     EXPECT_EQ(Sounds.Played, QStringList{"done.snd"});
class RecordingSoundPlayer : public ISoundPlayer {
public:
    RecordingSoundPlayer() { SetSoundPlayer(this); }
    ~RecordingSoundPlayer() override { SetSoundPlayer(nullptr); }
    RecordingSoundPlayer(const RecordingSoundPlayer &) = delete;
    RecordingSoundPlayer &operator=(const RecordingSoundPlayer &) = delete;

    void PlaySoundAsync(const QString &Name) override { Played << Name; }

    QStringList Played;
};
