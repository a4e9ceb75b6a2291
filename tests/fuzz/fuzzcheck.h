#pragma once
// Shared by the fuzz targets: the invariant check and the Qt application
// every target runs in. A target defines LLVMFuzzerTestOneInput; libFuzzer
// drives it in the fuzzing build, seedrunner.cpp replays the seed corpus in
// the normal build.

#include <QCoreApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Stops the run when an invariant of the reader does not hold.
#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

namespace tessaly::fuzz {

// One application object for the whole run, on the offscreen platform.
inline void EnsureApp() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QCoreApplication app(argc, argv);
    }
}

} // namespace tessaly::fuzz
