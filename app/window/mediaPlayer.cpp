// SPDX-License-Identifier: Apache-2.0
#include "app/window/mediaPlayer.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

#include "base/SysUtils.h"
#include "platform/Paths.h"

namespace {

bool KnownAudioExtension(const std::string& name) {
    const std::string path = name.substr(0, name.find_first_of("?#"));
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return false;
    const std::string ext = LowerCase(path.substr(dot + 1));
    for (const char* known : {"mp3", "wav", "ogg", "oga", "flac", "m4a", "aac", "mid", "midi", "wma", "opus"})
        if (ext == known) return true;
    return false;
}

QUrl SourceOf(const std::string& name) {
    const std::string lower = LowerCase(name.substr(0, 8));
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0)
        return QUrl(QString::fromStdString(name));
    return QUrl::fromLocalFile(QString::fromStdString(FsPath(name)));
}

}  // namespace

TMediaPlayer::TMediaPlayer(QWidget* parent) : QWidget(parent) { setVisible(false); }
TMediaPlayer::~TMediaPlayer() = default;

void TMediaPlayer::Open() {
    if (!KnownAudioExtension(FileName))
        throw EMCIDeviceError("Cannot open \"" + FileName + "\": there is no player for this kind of file");
    if (!player_) {
        output_ = std::make_unique<QAudioOutput>();
        player_ = std::make_unique<QMediaPlayer>();
        player_->setAudioOutput(output_.get());
        QObject::connect(player_.get(), &QMediaPlayer::errorOccurred, [this](QMediaPlayer::Error, const QString& text) {
            if (OnError) OnError("Cannot play \"" + FileName + "\": " + text.toStdString());
        });
    }
    const QUrl source = SourceOf(FileName);
    if (!source.isValid()) throw EMCIDeviceError("Cannot open \"" + FileName + "\": not a valid address");
    player_->setSource(source);
    open_ = true;
}

void TMediaPlayer::Close() {
    if (player_) {
        player_->stop();
        player_->setSource(QUrl());
    }
    open_ = false;
}

void TMediaPlayer::Play() {
    if (!open_) throw EMCIDeviceError("The media player is not open");
    player_->play();
}
