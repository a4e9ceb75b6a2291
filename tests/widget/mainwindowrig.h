#pragma once
// The main window bound to a started program without a startup profile, on
// the virtual clock, for the widget tests of the windows it opens.

#include "app/mainprogram.h"
#include "tests/fakes/programrig.h"
#include "ui/main/frmmain.h"

namespace tessaly {

struct MainWindowRig {
    FrmMain w;
    ProgramRig rig{QDateTime(QDate(2026, 12, 7), QTime(9, 0))};
    MainProgram* program = nullptr;

    MainWindowRig() {
        rig.noStartupProfile();
        program = &rig.create({}, &w);
        w.Bind(*program);
        program->Startup(QString());
    }
};

} // namespace tessaly
