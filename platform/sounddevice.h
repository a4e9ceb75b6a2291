#pragma once
// The wave-sound device: opened once with a device type, then asked to sound
// a file. The real one plays WAV files through Qt Multimedia.

#include <QString>
#include <memory>

namespace tessaly {

class SoundDevice {
public:
    virtual ~SoundDevice() = default;
    // The three true/false options of the device (wait, notify, shareable).
    virtual void SetOptions(bool wait, bool notify, bool shareable) = 0;
    virtual void SetDeviceType(const QString& type) = 0;
    virtual void Open() = 0;
    virtual void Sound(const QString& fileName) = 0;
    virtual void Close() = 0;
};

std::unique_ptr<SoundDevice> createWaveSoundDevice();
// A device that never plays: runs without windows open no audio system.
std::unique_ptr<SoundDevice> createSilentSoundDevice();

} // namespace tessaly
