#pragma once

#include <QtGlobal>

#if defined(NOVAPROBE_BUILD)
#define NOVAPROBE_EXPORT Q_DECL_EXPORT
#else
#define NOVAPROBE_EXPORT Q_DECL_IMPORT
#endif

namespace novaprobe {
// The library's version text.
NOVAPROBE_EXPORT const char* libraryVersion();
} // namespace novaprobe
