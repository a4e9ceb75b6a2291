#include "novaprobe/novaprobe_global.h"

namespace novaprobe {
const char* libraryVersion() { return "1.1.0"; }
} // namespace novaprobe
