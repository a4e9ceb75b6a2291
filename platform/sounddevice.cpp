#include "platform/sounddevice.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace tessaly {

namespace {

class WaveSoundDevice : public SoundDevice {
public:
    void SetOptions(bool, bool, bool) override {}
    // Qt Multimedia plays wave files whatever the device type is called.
    void SetDeviceType(const QString&) override {}
    void Open() override { open_ = true; }
    void Sound(const QString& fileName) override {
        // A missing sound file stays silent.
        if (!open_ || fileName.isEmpty() || !QFileInfo::exists(fileName))
            return;
        // The effect is made on first use, so a run that never sounds
        // never touches the audio system.
        if (!effect_)
            effect_ = std::make_unique<QSoundEffect>();
        effect_->setSource(QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath()));
        effect_->play();
    }
    void Close() override {
        effect_.reset();
        open_ = false;
    }

private:
    bool open_ = false;
    std::unique_ptr<QSoundEffect> effect_;
};

class SilentSoundDevice : public SoundDevice {
public:
    void SetOptions(bool, bool, bool) override {}
    void SetDeviceType(const QString&) override {}
    void Open() override {}
    void Sound(const QString&) override {}
    void Close() override {}
};

} // namespace

std::unique_ptr<SoundDevice> createWaveSoundDevice() { return std::make_unique<WaveSoundDevice>(); }

std::unique_ptr<SoundDevice> createSilentSoundDevice() { return std::make_unique<SilentSoundDevice>(); }

} // namespace tessaly
