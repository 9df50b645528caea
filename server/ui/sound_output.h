#pragma once

#include "server/link/sound_player.h"

#include <QElapsedTimer>
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
    // Whether the sound file is there; looked up again once a second at
    // most, so a burst of alarms costs no file system calls.
    bool Present(const QString& name);

    QString lastName_;
    bool lastPresent_ = false;
    QElapsedTimer lastLookup_;

    std::unique_ptr<QSoundEffect> effect_;
    std::unique_ptr<QAudioOutput> audio_;
    std::unique_ptr<QMediaPlayer> player_;
};
