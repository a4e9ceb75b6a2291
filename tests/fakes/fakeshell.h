#pragma once
// Records what the program asks the desktop to open or start.

#include "ground/tessalyerror.h"
#include "platform/shell.h"

#include <QStringList>
#include <optional>

namespace tessaly {

class FakeShell : public Shell {
public:
    bool Open(const QString& target) override {
        opened << target;
        return openSucceeds;
    }
    void StartProgram(const QString& path) override {
        if (startError)
            throw *startError;
        started << path;
    }

    bool openSucceeds = true;
    std::optional<TessalyError> startError;
    QStringList opened;
    QStringList started;
};

} // namespace tessaly
