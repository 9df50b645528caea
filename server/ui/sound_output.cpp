#include "server/ui/sound_output.h"

#include <QApplication>
#include <QAudioOutput>
#include <QDir>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QSoundEffect>
#include <QUrl>

CSoundOutput::CSoundOutput(QObject* parent) : QObject(parent) {}

CSoundOutput::~CSoundOutput() = default;

void CSoundOutput::StopAll()
{
    if (effect_)
        effect_->stop();
    if (player_)
        player_->stop();
}

bool CSoundOutput::Present(const QString& name)
{
    constexpr qint64 kLookupMs = 1000;
    if (name != lastName_ || !lastLookup_.isValid() || lastLookup_.elapsed() >= kLookupMs) {
        // Relative to the working directory, so a file put in place while
        // the server runs is found.
        lastPresent_ = QFileInfo(name).isFile();
        lastName_ = name;
        lastLookup_.start();
    }
    return lastPresent_;
}

void CSoundOutput::Play(const QString& name)
{
    StopAll();
    if (!Present(name)) {
        QApplication::beep();
        return;
    }
    const QUrl url = QUrl::fromLocalFile(QFileInfo(name).absoluteFilePath());
    if (name.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)) {
        effect_ = std::make_unique<QSoundEffect>();
        connect(effect_.get(), &QSoundEffect::statusChanged, this, [effect = effect_.get()] {
            if (effect->status() == QSoundEffect::Error)
                QApplication::beep();
        });
        effect_->setSource(url);
        effect_->play();
        return;
    }
    if (!player_) {
        audio_ = std::make_unique<QAudioOutput>();
        player_ = std::make_unique<QMediaPlayer>();
        player_->setAudioOutput(audio_.get());
        connect(player_.get(), &QMediaPlayer::errorOccurred, this, [] { QApplication::beep(); });
    }
    player_->setSource(url);
    player_->play();
}
