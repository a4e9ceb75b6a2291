#pragma once
// Shared by the fuzz targets: the invariant check and the Qt application
// every target runs in. A target defines LLVMFuzzerTestOneInput; libFuzzer
// drives it in the fuzzing build, seedrunner.cpp replays the seed corpus in
// the normal build.

#include <QByteArray>
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

// The input as bytes.
inline QByteArray Bytes(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace tessaly::fuzz

// The start-up hook of a target that needs nothing but the application object.
#define TESSALY_FUZZ_APP_ONLY()                                  \
    extern "C" int LLVMFuzzerInitialize(int*, char***) {        \
        tessaly::fuzz::EnsureApp();                              \
        return 0;                                                \
    }
