#pragma once

#include <QtGlobal>

#if defined(WEBWIRE_BUILD)
#define WEBWIRE_EXPORT Q_DECL_EXPORT
#else
#define WEBWIRE_EXPORT Q_DECL_IMPORT
#endif

namespace webwire {
// The library's version text.
WEBWIRE_EXPORT const char* libraryVersion();
} // namespace webwire
