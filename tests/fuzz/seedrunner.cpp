// Replays fuzz inputs through a target without libFuzzer: every file named on
// the command line, and every file inside a named folder. Used by the test
// suite to keep each seed (and each crash once found) passing.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {
int runFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    const QByteArray bytes = f.readAll();
    std::printf("%s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                           static_cast<std::size_t>(bytes.size()));
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    // Every path is made absolute first: a target may change the working folder.
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QFileInfo arg(QString::fromLocal8Bit(argv[i]));
        if (arg.isDir()) {
            const QDir dir(arg.absoluteFilePath());
            for (const QString& n : dir.entryList(QDir::Files, QDir::Name))
                files << dir.absoluteFilePath(n);
        } else {
            files << arg.absoluteFilePath();
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "no inputs given\n");
        return 1;
    }
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    for (const QString& f : files)
        failures += runFile(f);
    return failures ? 1 : 0;
}
