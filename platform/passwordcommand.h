#pragma once
// A password kept by a password manager: the user names a command, and its
// first output line is the password. The command is split into words like
// a shell would split them but run directly, never through a shell.

#include "platform/eventpump.h"

#include <QString>

namespace tessaly {

struct PasswordCommandResult {
    bool ok = false;
    QString password;
    QString problem; // why there is no password, in plain words
};

// Runs the command and waits in the event loop, at most `timeoutSeconds`.
// Output beyond the first line (and beyond 64 KiB) is ignored.
PasswordCommandResult RunPasswordCommand(EventPump& pump, const QString& commandLine, double timeoutSeconds,
                                         const bool* cancel);

} // namespace tessaly
