#pragma once
// Opening a file or document with the desktop's default handler. Nothing
// passes through a shell: the path goes to the handler as one argument.

#include <QString>

namespace tessaly {

class DesktopShell {
public:
    virtual ~DesktopShell() = default;
    // Opens the local file `path`; false when it does not exist or no handler
    // could be started.
    virtual bool OpenDocument(const QString& path) = 0;
};

// QDesktopServices in a program with a GUI, `xdg-open` started directly
// (no shell) in a program without one.
class SystemDesktopShell : public DesktopShell {
public:
    bool OpenDocument(const QString& path) override;
};

} // namespace tessaly
