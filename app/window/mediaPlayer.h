// SPDX-License-Identifier: Apache-2.0
#pragma once
// The music player control of the main window (an invisible widget): open a file name or
// an http address, chosen by its extension, and play it without waiting for the end.
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "base/Exception.h"

class QAudioOutput;
class QMediaPlayer;

class EMCIDeviceError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EMCIDeviceError"; }
};

class TMediaPlayer : public QWidget {
public:
    explicit TMediaPlayer(QWidget* parent = nullptr);
    ~TMediaPlayer() override;

    // An ANSI path or an http(s) address.
    std::string FileName;

    // Opens FileName. A name without a known audio extension cannot be opened: raises
    // EMCIDeviceError and leaves the player closed.
    void Open();
    void Close();
    bool IsOpen() const { return open_; }
    // Starts playback and returns at once.
    void Play();

    // A failure found while playing (unreachable address, undecodable data); it arrives
    // later, from the event loop. Unassigned, such failures are ignored.
    std::function<void(const std::string& message)> OnError;

private:
    std::unique_ptr<QAudioOutput> output_;
    std::unique_ptr<QMediaPlayer> player_;
    bool open_ = false;
};
