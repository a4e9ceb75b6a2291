#include "webwire/webwire_global.h"

namespace webwire {
const char* libraryVersion() { return "1.1.0"; }
} // namespace webwire
