#pragma once

#include "server/link/sound_player.h"

#include <QObject>

#include <memory>

class QMediaPlayer;
class QAudioOutput;
class QSoundEffect;

// Plays "alarm.wav" with QSoundEffect and "event.mp3" with QMediaPlayer,
// looked up in the working directory. A new sound stops one still playing;
// a sound that cannot be played gives the default beep.
class CSoundOutput final : public QObject, public CSoundPlayer
{
    Q_OBJECT

public:
    explicit CSoundOutput(QObject* parent = nullptr);
    ~CSoundOutput() override;

    void Play(const QString& name) override;

private:
    void StopAll();

    std::unique_ptr<QSoundEffect> effect_;
    std::unique_ptr<QAudioOutput> audio_;
    std::unique_ptr<QMediaPlayer> player_;
};
