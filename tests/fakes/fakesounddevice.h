#pragma once
// Records what the program asks of the sound device.

#include "platform/sounddevice.h"

#include <QStringList>

namespace tessaly {

class FakeSoundDevice : public SoundDevice {
public:
    void SetOptions(bool w, bool n, bool s) override { options = {w, n, s}; }
    void SetDeviceType(const QString& type) override { deviceType = type; }
    void Open() override { opened = true; }
    void Sound(const QString& fileName) override { played << fileName; }
    void Close() override { opened = false; }

    struct { bool wait = true, notify = true, shareable = true; } options;
    QString deviceType;
    bool opened = false;
    QStringList played;
};

} // namespace tessaly
