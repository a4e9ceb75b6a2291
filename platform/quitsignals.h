#pragma once

namespace tessaly {

// SIGINT and SIGTERM end the event loop normally (through the Qt event
// loop, never inside the signal handler).
void quitOnTerminationSignals();

} // namespace tessaly
