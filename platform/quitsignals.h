#pragma once

#include <functional>

namespace tessaly {

// SIGINT and SIGTERM end the event loop normally (through the Qt event
// loop, never inside the signal handler).
void quitOnTerminationSignals();

// While set, SIGINT and SIGTERM also call `hook` (on the event loop, before
// the loop is told to end). Set an empty function to remove it.
void setTerminationSignalHook(std::function<void()> hook);

} // namespace tessaly
