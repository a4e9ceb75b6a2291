#pragma once
// The desktop's shell services: open a document or web address with the
// program the desktop chooses for it, and start a program.

#include <QString>

namespace tessaly {

class Shell {
public:
    // A program file that exists but cannot be run.
    static constexpr int kCannotStart = 70;
    virtual ~Shell() = default;
    // Opens a web address ("http://...", "file://...") or a local file with
    // the desktop's program for it. False when nothing could take it.
    virtual bool Open(const QString& target) = 0;
    // Starts the program at `path` on its own; it lives on after this
    // program ends. Throws TessalyError: err::FileNotFound when there is no
    // such file, another number with the system's reason otherwise.
    virtual void StartProgram(const QString& path) = 0;
};

// The real shell: QDesktopServices in a program with a display, xdg-open
// without one; QProcess for programs.
class DesktopShell : public Shell {
public:
    bool Open(const QString& target) override;
    void StartProgram(const QString& path) override;
};

} // namespace tessaly
