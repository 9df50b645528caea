#pragma once

#include <QString>

// Plays a sound file looked up by name ("alarm.wav", "event.mp3"),
// asynchronously; a new sound cuts off one still playing.
class CSoundPlayer
{
public:
    virtual ~CSoundPlayer() = default;
    virtual void Play(const QString& name) = 0;
};
