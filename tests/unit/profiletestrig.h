#pragma once
// A main program without windows over a temporary program directory, for
// the profile tests.

#include "app/headlessmainview.h"
#include "app/mainprogram.h"
#include "platform/settingsstore.h"
#include "tests/fakes/fakesounddevice.h"
#include "tests/fakes/scriptedprompter.h"
#include "tests/fakes/programrig.h"
#include "tests/fakes/virtualeventpump.h"

#include <QFile>
#include <QTemporaryDir>
#include <memory>

namespace tessaly {

struct ProfileRig : ProgramRig {
    bool dialUp = true;

    ProfileRig() {
        create();
        program->SetDialUpAvailable([this] { return dialUp; });
    }
    MainProgram& p() { return *program; }
    LiveSettings& s() { return program->Settings(); }

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path(name);
    }
    static QByteArray read(const QString& file) {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
};

// Lines joined and ended with CR LF.
inline QByteArray crlf(std::initializer_list<const char*> lines) {
    QByteArray out;
    for (const char* l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

} // namespace tessaly
